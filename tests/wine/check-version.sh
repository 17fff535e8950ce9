#!/usr/bin/env bash
# Reads the version resource back from QelCustInst.dll (windres decompiles a PE's resources) and
# compares it with the project's version.
#
#   check-version.sh DLL VERSION
set -euo pipefail

(($# == 2)) || { echo "usage: check-version.sh DLL VERSION" >&2; exit 2; }
dll="$1" version="$2"
windres=i686-w64-mingw32-windres
# 77: skipped, for ctest; the test command always builds the DLL first.
[[ -f "$dll" ]] || { echo "check-version: $dll not found; build it with: cmake --preset windows && cmake --build --preset windows" >&2; exit 77; }
command -v "$windres" >/dev/null || { echo "check-version: $windres missing; run scripts/setup.sh" >&2; exit 1; }
[[ "$version" =~ ^[0-9]+(\.[0-9]+){0,3}$ ]] || { echo "check-version: '$version' is not a version" >&2; exit 2; }

rc="$("$windres" -i "$dll" -O rc 2>&1)" || { echo "check-version: $windres cannot read $dll: $rc" >&2; exit 1; }
# shellcheck disable=SC2001 # every line loses its indent, which ${rc//...} cannot anchor
lines="$(sed 's/^[[:space:]]*//' <<<"$rc")"
IFS=. read -r -a parts <<<"$version"
while ((${#parts[@]} < 4)); do parts+=(0); done
numbers="${parts[0]}, ${parts[1]}, ${parts[2]}, ${parts[3]}"

faults=()
expect() { # what the decompiled resource must hold, as a fixed string on a line of its own
    grep -qxF -- "$1" <<<"$lines" || faults+=("no line '$1'")
}
expect "1 VERSIONINFO"
expect "FILEVERSION $numbers"
expect "PRODUCTVERSION $numbers"
expect 'BLOCK "040904E4"'
expect 'VALUE "Translation", 0x409, 1252'
for pair in FileVersion="$version" ProductVersion="$version" FileDescription=QelCustInst.dll \
    InternalName=QelCustInst.dll OriginalFilename=QelCustInst.dll ProductName=QelCustInst; do
    expect "VALUE \"${pair%%=*}\", \"${pair#*=}\""
done

if ((${#faults[@]})); then
    printf 'FAIL: %s\n' "${faults[@]}"
    echo "$rc"
    exit 1
fi
echo "${dll##*/}: version resource $version ($numbers), US English 1252: ok"
