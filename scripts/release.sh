#!/usr/bin/env bash
# Makes the release ZIP from the windows build (build it first) and checks that it holds every file
# a package author needs and that the DLL matches its SHA-256:
#   build/windows/release/QelCustInst-VERSION.zip
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/windows
[[ -f "$build/QelCustInst.dll" && -f "$build/CPackConfig.cmake" ]] ||
    { echo "release: no windows build; run: cmake --preset windows && cmake --build --preset windows" >&2; exit 1; }
for tool in cmake cpack sha256sum; do
    command -v "$tool" >/dev/null || { echo "release: $tool is missing; run scripts/setup.sh" >&2; exit 1; }
done

# A build that is not up to date would pack an old DLL or an old README section.
cmake --build "$build" -j"$(nproc)" >/dev/null
rm -rf "$build/release"
(cd "$build" && cpack --config CPackConfig.cmake >/dev/null)
zips=("$build"/release/QelCustInst-*.zip)
[[ -f "${zips[0]}" ]] || { echo "release: cpack made no ZIP" >&2; exit 1; }
zip="${zips[0]}"

# Unpacked beside it, as a package author would.
unpacked="$build/release/unpacked"
mkdir -p "$unpacked"
(cd "$unpacked" && cmake -E tar xf "../${zip##*/}")
top="$(find "$unpacked" -mindepth 1 -maxdepth 1 -type d)"
missing=()
for file in QelCustInst.dll QelCustInst.dll.sha256 QelCustInst.wxi Error.idt add-to-package.sh sign.sh PACKAGE-AUTHORS.md; do
    [[ -s "$top/$file" ]] || missing+=("$file")
done
((${#missing[@]} == 0)) || { echo "release: ${zip##*/} lacks ${missing[*]}" >&2; exit 1; }
(cd "$top" && sha256sum --quiet -c QelCustInst.dll.sha256) || { echo "release: the DLL does not match its SHA-256" >&2; exit 1; }
cmp -s "$top/QelCustInst.dll" "$build/QelCustInst.dll" || { echo "release: the ZIP holds another DLL than the build" >&2; exit 1; }
grep -q '^## Using the DLL in a package' "$top/PACKAGE-AUTHORS.md" || { echo "release: PACKAGE-AUTHORS.md is not the README's section" >&2; exit 1; }
echo "release: $zip"
find "$top" -type f -printf '  %10s  %f\n' | sort -k 2
echo "  $(cat "$top/QelCustInst.dll.sha256")"
