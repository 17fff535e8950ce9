#!/usr/bin/env bash
# Makes the release ZIP from the windows build and the windows-x64 build (build them first) and
# checks that it holds every file a package author needs, that each DLL matches its SHA-256 and is
# the build's, and that QelCustInst.dll is the 32-bit DLL and QelCustInst-x64.dll the 64-bit one:
#   build/windows/release/QelCustInst-VERSION.zip
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/windows
x64_build=build/windows-x64
[[ -f "$build/QelCustInst.dll" && -f "$build/CPackConfig.cmake" ]] ||
    { echo "release: no windows build; run: cmake --preset windows && cmake --build --preset windows" >&2; exit 1; }
[[ -f "$x64_build/cmake_install.cmake" ]] ||
    { echo "release: no windows-x64 build; run: cmake --preset windows-x64 && cmake --build --preset windows-x64" >&2; exit 1; }
for tool in cmake cpack sha256sum x86_64-w64-mingw32-objdump; do
    command -v "$tool" >/dev/null || { echo "release: $tool is missing; run scripts/setup.sh" >&2; exit 1; }
done

# A build that is not up to date would pack an old DLL or an old README section.
cmake --build "$build" -j"$(nproc)" >/dev/null
cmake --build "$x64_build" -j"$(nproc)" >/dev/null
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
for file in QelCustInst.dll QelCustInst.dll.sha256 QelCustInst-x64.dll QelCustInst-x64.dll.sha256 QelCustInst.wxi \
    Error.idt add-to-package.sh sign.sh PACKAGE-AUTHORS.md; do
    [[ -s "$top/$file" ]] || missing+=("$file")
done
((${#missing[@]} == 0)) || { echo "release: ${zip##*/} lacks ${missing[*]}" >&2; exit 1; }
# Each DLL: its SHA-256, the build's bytes, and the platform its name promises.
for entry in "QelCustInst.dll|$build|pei-i386" "QelCustInst-x64.dll|$x64_build|pei-x86-64"; do
    IFS='|' read -r dll from format <<<"$entry"
    (cd "$top" && sha256sum --quiet -c "$dll.sha256") || { echo "release: $dll does not match its SHA-256" >&2; exit 1; }
    cmp -s "$top/$dll" "$from/$dll" || { echo "release: the ZIP holds another $dll than $from" >&2; exit 1; }
    x86_64-w64-mingw32-objdump -f "$top/$dll" | grep -c "file format $format\$" >/dev/null ||
        { echo "release: $dll is not a $format image" >&2; exit 1; }
done
grep -q '^## Using the DLL in a package' "$top/PACKAGE-AUTHORS.md" || { echo "release: PACKAGE-AUTHORS.md is not the README's section" >&2; exit 1; }
echo "release: $zip"
find "$top" -type f -printf '  %10s  %f\n' | sort -k 2
cat "$top"/*.sha256 | sed 's/^/  /'
