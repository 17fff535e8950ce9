#!/usr/bin/env bash
# Builds QelCustInst.dll a second time, in another folder and at another time, and compares it
# byte for byte with build/windows/QelCustInst.dll (build that first with the windows preset).
set -euo pipefail
cd "$(dirname "$0")/../.."

dll=build/windows/QelCustInst.dll
[[ -f "$dll" ]] || { echo "check-reproducible: $dll not found; build it with: cmake --preset windows && cmake --build --preset windows" >&2; exit 1; }
for tool in cmake sha256sum; do
    command -v "$tool" >/dev/null || { echo "check-reproducible: $tool is missing; run scripts/setup.sh" >&2; exit 1; }
done
# A folder of another depth and name than build/windows, removed afterwards.
other="$(mktemp -d "${TMPDIR:-/tmp}/qel-reproducible.XXXXXX")"
trap 'rm -rf "$other"' EXIT
cmake --preset windows -B "$other/elsewhere" >/dev/null
cmake --build "$other/elsewhere" -j"$(nproc)" --target QelCustInst >/dev/null
first="$(sha256sum <"$dll")"
second="$(sha256sum <"$other/elsewhere/QelCustInst.dll")"
echo "build/windows:     ${first%% *}"
echo "another folder:    ${second%% *}"
[[ "$first" == "$second" ]] || { echo "check-reproducible: the two builds differ" >&2; exit 1; }
echo "reproducible: ok"
