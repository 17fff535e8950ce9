#!/usr/bin/env bash
# Prints the size of each custom-action DLL the builds made, what it is made of, and for a 32-bit
# one its ratio to PlainActions.dll, QelCustInst's two actions written in plain C with the same
# calls and linked the same way (built by the windows preset beside QelCustInst.dll):
#
#   - build/windows/QelCustInst.dll, and build/windows-x64/QelCustInst-x64.dll when it is there;
#   - the example's DLLs, build/host/tests/kit/example-windows{,-x64}/WarnOriginalDisk.dll, built
#     from the installed Windows kits by the kit tests (ctest --preset host -L kit), when there.
#
# Each DLL is linked again from its build's link command with a linker map, into a temporary
# folder; the sizes of the input sections that reach the file (debug sections and uninitialised
# data do not) are summed by where they come from. The rest of the file is its headers, import
# and relocation tables, resources and alignment. Fails when a DLL is over the goal, 320 KiB.
#
#   scripts/dll-size.sh
set -euo pipefail
cd "$(dirname "$0")/.."

goal=$((320 * 1024))
plain=build/windows/PlainActions.dll
example=build/host/tests/kit/example-windows
for tool in perl stat; do
    command -v "$tool" >/dev/null || { echo "dll-size: $tool is missing" >&2; exit 1; }
done
[[ -f build/windows/QelCustInst.dll && -f "$plain" ]] ||
    { echo "dll-size: no windows build; run: cmake --preset windows && cmake --build --preset windows" >&2; exit 1; }
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

# 1234567 as 1,234,567.
grouped() { sed ':a; s/\B[0-9]\{3\}\>/,&/; ta' <<<"$1"; }

# The link command of BUILD's target TARGET, as its words: the last line of link.txt, split as the
# shell would split it (no expansion, no substitution). Its outputs are moved into the temporary
# folder and a map is added. Refuses a command of another shape, which would write into the build.
relink() {
    local build="$1" target="$2" map="$3"
    local link="$build/CMakeFiles/$target.dir/link.txt"
    [[ -f "$link" ]] || { echo "dll-size: $link is missing" >&2; return 1; }
    local -a words=()
    mapfile -d '' -t words < <(tail -n 1 "$link" | perl -MText::ParseWords -ne 'chomp; print "$_\0" for shellwords($_)')
    local -a command=()
    local outputs=0 implibs=0 i
    for ((i = 0; i < ${#words[@]}; ++i)); do
        if [[ "${words[i]}" == -o && "${words[i + 1]:-}" == "$target.dll" ]]; then
            command+=(-o "$tmp/$target.dll" "-Wl,-Map=$map")
            ((++i, ++outputs))
        elif [[ "${words[i]}" == "-Wl,--out-implib,lib$target.dll.a" ]]; then
            command+=("-Wl,--out-implib,$tmp/lib$target.dll.a")
            ((++implibs))
        else
            command+=("${words[i]}")
        fi
    done
    ((outputs == 1 && implibs == 1)) || { echo "dll-size: the link command in $link has an unexpected shape" >&2; return 1; }
    (cd "$build" && "${command[@]}")
    # Only the image base may differ (the linker derives it from the output's path), not the size.
    [[ "$(stat -c %s "$tmp/$target.dll")" == "$(stat -c %s "$build/$target.dll")" ]] ||
        echo "dll-size: note: the relinked $target.dll's size differs from the build's"
}

# Sums a linker map's input sections by where they come from.
makeup() {
    perl -ne '
        # An input section is " .name 0xADDR 0xSIZE FILE", or its name alone with the rest on the next line.
        if (/^ (\.\S+)$/) { $pending = $1; next }
        if (/^ (\.\S+)\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$/ || ($pending && /^\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$/)) {
            my ($section, $size, $file) = defined $3 ? ($1, $2, $3) : ($pending, $1, $2);
            $pending = undef;
            next if $section =~ /^\.(debug|bss)/;
            my $from = $file =~ /libstdc\+\+/ ? "the C++ library (libstdc++)"
                     : $file =~ /libqel_framework/ ? "the QelCustInst framework"
                     : $file =~ /objects\.a\(/ ? "the DLL'"'"'s own code"
                     : $file =~ /lib(msi|kernel32|user32|advapi32)\.a/ ? "imports of the system DLLs"
                     : $file =~ /lib(mingw|msvcrt|gcc|moldname)|crt|^dll stuff$/ ? "the C runtime, libgcc and start-up code"
                     : "other input";
            $sum{$from} += hex $size;
            next;
        }
        $pending = undef;
        END { printf "  %9s  %s\n", ($sum{$_} =~ s/(?<=\d)(?=(\d{3})+$)/,/gr), $_ for sort { $sum{$b} <=> $sum{$a} } keys %sum }
    ' "$1"
}

plain_size="$(stat -c %s "$plain")"
over=0
# BUILD TARGET compared|64-bit: a 32-bit DLL is compared with PlainActions.dll.
measure() {
    local build="$1" target="$2" kind="$3"
    local size ratio=""
    size="$(stat -c %s "$build/$target.dll")"
    relink "$build" "$target" "$tmp/$target.map"
    local verdict="met"
    ((size <= goal)) || { verdict="NOT met"; over=1; }
    if [[ "$kind" == compared ]]; then
        ratio=", $(perl -e 'printf "%.1f", $ARGV[0] / $ARGV[1]' "$size" "$plain_size") times PlainActions.dll ($(grouped "$plain_size") bytes)"
    else
        ratio=" (64-bit)"
    fi
    printf '%s: %s bytes%s; goal at most %s bytes: %s\n' "$target.dll" "$(grouped "$size")" "$ratio" \
        "$(grouped "$goal")" "$verdict"
    makeup "$tmp/$target.map"
}

measure build/windows QelCustInst compared
if [[ -f build/windows-x64/QelCustInst-x64.dll ]]; then
    measure build/windows-x64 QelCustInst-x64 64-bit
fi
for suffix in "" -x64; do
    kind=compared
    [[ -z "$suffix" ]] || kind=64-bit
    if [[ -f "$example$suffix/WarnOriginalDisk.dll" ]]; then
        measure "$example$suffix" WarnOriginalDisk "$kind"
    else
        echo "WarnOriginalDisk.dll ($example$suffix): not built; the kit tests build it (ctest --preset host -L kit)"
    fi
done
((over == 0))
