#!/usr/bin/env bash
# Builds the DLL of a Windows preset a second time, in another folder and at another time, and
# compares it byte for byte with the preset's own build (build that first):
#
#   check-reproducible.sh [windows|windows-x64]    build/windows/QelCustInst.dll (the default)
#                                                  or build/windows-x64/QelCustInst-x64.dll
set -euo pipefail
cd "$(dirname "$0")/../.."

preset="${1:-windows}"
case "$preset" in
    windows) target=QelCustInst ;;
    windows-x64) target=QelCustInst-x64 ;;
    *) echo "usage: check-reproducible.sh [windows|windows-x64]" >&2; exit 2 ;;
esac
dll="build/$preset/$target.dll"
[[ -f "$dll" ]] || { echo "check-reproducible: $dll not found; build it with: cmake --preset $preset && cmake --build --preset $preset" >&2; exit 1; }
for tool in cmake sha256sum; do
    command -v "$tool" >/dev/null || { echo "check-reproducible: $tool is missing; run scripts/setup.sh" >&2; exit 1; }
done
# A folder of another depth and name than build/$preset, removed afterwards.
other="$(mktemp -d "${TMPDIR:-/tmp}/qel-reproducible.XXXXXX")"
trap 'rm -rf "$other"' EXIT
cmake --preset "$preset" -B "$other/elsewhere" >/dev/null
cmake --build "$other/elsewhere" -j"$(nproc)" --target "$target" >/dev/null
first="$(sha256sum <"$dll")"
second="$(sha256sum <"$other/elsewhere/$target.dll")"
printf '%-18s %s\n' "build/$preset:" "${first%% *}" "another folder:" "${second%% *}"
[[ "$first" == "$second" ]] || { echo "check-reproducible: the two builds of $target.dll differ" >&2; exit 1; }
echo "reproducible: ok ($target.dll)"
