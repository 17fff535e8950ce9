#!/usr/bin/env bash
# Prints the size of build/windows/QelCustInst.dll and what it is made of: relinks it with a
# linker map (into a temporary folder) and sums, by where they come from, the sizes of the input
# sections that reach the file (debug sections and uninitialised data do not).
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/windows
link="$build/CMakeFiles/QelCustInst.dir/link.txt"
[[ -f "$build/QelCustInst.dll" && -f "$link" ]] ||
    { echo "dll-size: no windows build; run: cmake --preset windows && cmake --build --preset windows" >&2; exit 1; }
command -v perl >/dev/null || { echo "dll-size: perl is missing" >&2; exit 1; }
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

# The link command is the last line of link.txt; only its outputs are sent elsewhere.
command="$(tail -n 1 "$link")"
command="${command/ -o QelCustInst.dll / -o $tmp/QelCustInst.dll -Wl,-Map=$tmp/map }"
command="${command/--out-implib,libQelCustInst.dll.a/--out-implib,$tmp/implib.a}"
# A link command of another shape would relink the build's own DLL: refuse it instead.
[[ "$command" == *" -o $tmp/QelCustInst.dll "* && "$command" == *"--out-implib,$tmp/implib.a"* ]] ||
    { echo "dll-size: the link command in $link has an unexpected shape" >&2; exit 1; }
(cd "$build" && eval "$command")
# Only the image base differs (the linker derives it from the output's path), not the size.
[[ "$(stat -c %s "$tmp/QelCustInst.dll")" == "$(stat -c %s "$build/QelCustInst.dll")" ]] ||
    echo "dll-size: note: the relinked DLL's size differs from the build's"

echo "QelCustInst.dll: $(stat -c %s "$build/QelCustInst.dll") bytes"
perl -ne '
    # An input section is " .name 0xADDR 0xSIZE FILE", or its name alone with the rest on the next line.
    if (/^ (\.\S+)$/) { $pending = $1; next }
    if (/^ (\.\S+)\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$/ || ($pending && /^\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$/)) {
        my ($section, $size, $file) = defined $3 ? ($1, $2, $3) : ($pending, $1, $2);
        $pending = undef;
        next if $section =~ /^\.(debug|bss)/;
        my $from = $file =~ /libstdc\+\+/ ? "the C++ library (libstdc++)"
                 : $file =~ /objects\.a|libqel_framework/ ? "QelCustInst (framework and actions)"
                 : "the C runtime, libgcc and start-up code";
        $sum{$from} += hex $size;
        next;
    }
    $pending = undef;
    END { printf "  %9d  %s\n", $sum{$_}, $_ for sort { $sum{$b} <=> $sum{$a} } keys %sum }
' "$tmp/map"
