#!/usr/bin/env bash
# Checks the boundary of QelCustInst.dll as the installer sees it:
#   - a 32-bit PE (PE32, i386), or with --x64 (QelCustInst-x64.dll) a 64-bit one (PE32+, x86-64);
#   - ordinal base 10 and exactly two exports, undecorated:
#     qelPromptForOriginalDisk at 10 and qelAreWeRunningFromCD at 11;
#   - imports from Windows system DLLs only (the C++ runtime must be linked in, since the
#     installer extracts the DLL from its Binary table with nothing beside it).
#
#   check-exports.sh [--x64] DLL
set -euo pipefail

format=pei-i386 pe=PE32 magic="010b[[:space:]]+\(PE32\)" objdump=i686-w64-mingw32-objdump
if [[ "${1-}" == --x64 ]]; then
    format=pei-x86-64 pe=PE32+ magic="020b[[:space:]]+\(PE32\+\)" objdump=x86_64-w64-mingw32-objdump
    shift
fi
(($# == 1)) || { echo "usage: check-exports.sh [--x64] DLL" >&2; exit 2; }
dll="$1"
# 77: skipped, for ctest; the test command always builds the DLL first.
[[ -f "$dll" ]] || {
    echo "check-exports: $dll not found; build it with: cmake --preset windows && cmake --build --preset windows" >&2
    exit 77
}
command -v "$objdump" >/dev/null || { echo "check-exports: $objdump missing; run scripts/setup.sh" >&2; exit 1; }

dump="$("$objdump" -p "$dll")" || { echo "check-exports: $objdump cannot read $dll" >&2; exit 1; }
faults=()

grep -c "file format $format\$" <<<"$dump" >/dev/null || faults+=("not a $format image")
grep -cE "^Magic[[:space:]]+$magic" <<<"$dump" >/dev/null || faults+=("not $pe")

# The export section as objdump interprets it: the base, the address table and the name table.
exports="$(sed -n '/^The Export Tables/,/^PE File Base Relocations\|^The Function Table\|^There is a debug directory/p' <<<"$dump")"
base="$(sed -n 's/^Ordinal Base[[:space:]]*\([0-9]*\)$/\1/p' <<<"$exports")"
# The first "Export Address Table" line gives the entry count, the second the table's address.
addresses="$(sed -n 's/^[[:space:]]*Export Address Table[[:space:]]*\([0-9a-fA-F]*\)$/\1/p' <<<"$exports" | head -n 1)"
[[ "$base" == 10 ]] || faults+=("ordinal base is '${base:-none}', expected 10")
[[ -n "$addresses" && $((16#$addresses)) == 2 ]] ||
    faults+=("export address table holds ${addresses:-no} entries, expected 2")

# Name-table lines read "[   1] name" (binutils 2.40) or "[   1] +base[  11]  150d name" (later);
# the bracketed index is relative to the ordinal base.
declare -A ordinal_of=()
names=()
while read -r index name; do
    ordinal=$((index + ${base:-0}))
    [[ "$name" =~ ^\+base\[\ *([0-9]+)\]\ +[0-9a-fA-F]+\ +(.*)$ ]] && ordinal=${BASH_REMATCH[1]} name=${BASH_REMATCH[2]}
    names+=("$name")
    ordinal_of[$name]=$ordinal
done < <(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p' <<<"$exports")

((${#names[@]} == 2)) || faults+=("${#names[@]} exported names, expected 2")
for name in "${names[@]}"; do
    [[ "$name" =~ ^[A-Za-z][A-Za-z0-9]*$ ]] || faults+=("decorated export name '$name'")
done
for expected in qelPromptForOriginalDisk:10 qelAreWeRunningFromCD:11; do
    name=${expected%:*} want=${expected#*:}
    got=${ordinal_of[$name]:-}
    if [[ -z "$got" ]]; then
        faults+=("$name is not exported by name")
    elif [[ "$got" != "$want" ]]; then
        faults+=("$name has ordinal $got, expected $want")
    fi
done

# Imports: Windows system DLLs only.
system_dlls=" kernel32.dll user32.dll msi.dll msvcrt.dll advapi32.dll ntdll.dll gdi32.dll shell32.dll \
ole32.dll oleaut32.dll version.dll "
mapfile -t imports < <(sed -n 's/^[[:space:]]*DLL Name: \(.*\)$/\1/p' <<<"$dump")
for import in "${imports[@]}"; do
    lower="${import,,}"
    case "$lower" in
        libstdc++* | libgcc* | libwinpthread*) faults+=("imports the MinGW runtime DLL $import") ;;
        *) [[ "$system_dlls" == *" $lower "* ]] || faults+=("imports $import, not a Windows system DLL") ;;
    esac
done

echo "${dll##*/}: $(sed -n 's/^Magic.*(\(.*\))$/\1/p' <<<"$dump"), ordinal base ${base:-?}"
echo "Exports:"
for name in "${names[@]}"; do printf '  %3s  %s\n' "${ordinal_of[$name]}" "$name"; done | sort -n
echo "Imports: ${imports[*]:-(none)}"

if ((${#faults[@]})); then
    printf 'FAIL: %s\n' "${faults[@]}"
    exit 1
fi
echo "ok"
