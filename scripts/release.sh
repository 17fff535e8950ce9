#!/usr/bin/env bash
# Makes the release from the windows, windows-x64 and host builds (build them first), in
# build/windows/release/, each file with its SHA-256 beside it (FILE.sha256, for sha256sum -c):
#
#   QelCustInst-VERSION.zip                           what a package author needs: both DLLs, the
#                                                     WiX include, the Error-table row, the tools
#   QelCustInst-kit-VERSION-windows-i686.tar.gz       the Windows kit for 32-bit Windows, and
#   QelCustInst-kit-VERSION-windows-x64.tar.gz        the one for 64-bit Windows: both unpack
#                                                     into QelCustInst-kit-VERSION-windows/
#   QelCustInst-kit-VERSION-host-SYSTEM-MACHINE.tar.gz  the host kit (debian12-x86_64 here), into
#                                                     QelCustInst-kit-VERSION-host/
#
# It checks that the ZIP holds every file a package author needs, that each DLL matches its SHA-256
# and is the build's, and that QelCustInst.dll is the 32-bit DLL and QelCustInst-x64.dll the 64-bit
# one. Each kit's archive is its build's `cmake --install`, packed so that the same files give the
# same bytes: names sorted, owner 0, modes without group or world write, every date that of the
# last commit (or SOURCE_DATE_EPOCH), gzip without name or date; it is packed twice from two
# installs to show it.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/windows
x64_build=build/windows-x64
[[ -f "$build/QelCustInst.dll" && -f "$build/CPackConfig.cmake" ]] ||
    { echo "release: no windows build; run: cmake --preset windows && cmake --build --preset windows" >&2; exit 1; }
[[ -f "$x64_build/cmake_install.cmake" ]] ||
    { echo "release: no windows-x64 build; run: cmake --preset windows-x64 && cmake --build --preset windows-x64" >&2; exit 1; }
host_build=build/host
[[ -f "$host_build/cmake_install.cmake" ]] ||
    { echo "release: no host build; run: cmake --preset host && cmake --build --preset host" >&2; exit 1; }
for tool in cmake cpack sha256sum x86_64-w64-mingw32-objdump tar gzip; do
    command -v "$tool" >/dev/null || { echo "release: $tool is missing; run scripts/setup.sh" >&2; exit 1; }
done

# A build that is not up to date would pack an old DLL or an old README section.
cmake --build "$build" -j"$(nproc)" >/dev/null
cmake --build "$x64_build" -j"$(nproc)" >/dev/null
cmake --build "$host_build" -j"$(nproc)" --target qel_framework qel_platform qel_testing >/dev/null
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

# The kits.
release="$build/release"
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
[[ "$version" =~ ^[0-9]+(\.[0-9]+)*$ ]] || { echo "release: no project version in $build/CMakeCache.txt" >&2; exit 1; }
# The system's name and version as the host kit's archive names it ("debian12"), read from
# os-release as text, never run.
os_field() { sed -n "s/^$1=//p" /etc/os-release 2>/dev/null | head -n 1 | tr -d "\"'"; }
system="$(os_field ID)$(os_field VERSION_ID)"
system="${system:-linux}"
[[ "$system" =~ ^[A-Za-z0-9._-]+$ ]] || { echo "release: /etc/os-release names an unusual system: $system" >&2; exit 1; }
epoch="${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 0)}"
[[ "$epoch" =~ ^[0-9]+$ ]] || { echo "release: SOURCE_DATE_EPOCH is not a number of seconds" >&2; exit 1; }
# pack BUILD ARCHIVE TOP: BUILD's kit installed as TOP/ and packed into ARCHIVE, twice.
pack() {
    local build="$1" archive="$2" top="$3" round
    for round in 1 2; do
        rm -rf "$release/stage-$round"
        cmake --install "$build" --prefix "$release/stage-$round/$top" >/dev/null
        tar --sort=name --format=gnu --mtime="@$epoch" --owner=0 --group=0 --numeric-owner \
            --mode='u+rwX,go+rX,go-w' -C "$release/stage-$round" -cf - "$top" | gzip -9n >"$release/$archive.$round"
    done
    cmp -s "$release/$archive.1" "$release/$archive.2" ||
        { echo "release: $archive is not the same twice from the same files" >&2; exit 1; }
    mv "$release/$archive.1" "$release/$archive"
    rm -rf "$release/$archive.2" "$release/stage-1" "$release/stage-2"
    (cd "$release" && sha256sum "$archive" >"$archive.sha256")
    local listing
    listing="$(tar -tzf "$release/$archive")"
    grep -qx "$top/lib/cmake/QelCustInst\(-x64\)\?/QelCustInstConfig.cmake" <<<"$listing" ||
        { echo "release: $archive holds no CMake package under $top/" >&2; exit 1; }
    ! grep -qvx "$top/.*" <<<"$listing" || { echo "release: $archive holds files outside $top/" >&2; exit 1; }
    printf '  %10s  %s\n' "$(stat -c %s "$release/$archive")" "$archive"
}
echo "release: the kits, in $release"
pack "$build" "QelCustInst-kit-$version-windows-i686.tar.gz" "QelCustInst-kit-$version-windows"
pack "$x64_build" "QelCustInst-kit-$version-windows-x64.tar.gz" "QelCustInst-kit-$version-windows"
pack "$host_build" "QelCustInst-kit-$version-host-$system-$(uname -m).tar.gz" "QelCustInst-kit-$version-host"
(cd "$release" && sha256sum -c --quiet QelCustInst-kit-*.sha256) || { echo "release: a kit does not match its SHA-256" >&2; exit 1; }
sed 's/^/  /' "$release"/QelCustInst-kit-*.sha256
