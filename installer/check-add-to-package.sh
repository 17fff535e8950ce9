#!/usr/bin/env bash
# Checks add-to-package.sh on packages authored without QelCustInst (the demo package minus the
# include file and the sequence):
#   - what it adds, that a second run changes nothing and that other Binary rows keep their data;
#   - each refusal: a clear message, a non-zero exit and the package byte for byte as it was.
# With --wine, instead: patches such a package with DLL and installs it under Wine from a fixed
# and a CD-ROM drive (install-demo.sh, whose work folder, prefix included, is WINEWORK), which must
# give PROMPT_FOR_CD1 = 0 and 1.
#
#   check-add-to-package.sh [--wine WINEWORK] DLL WORKDIR
set -euo pipefail

wine=""
[[ "${1:-}" != --wine ]] || { wine="$(realpath -m "${2:?}")"; shift 2; }
(($# == 2)) || { echo "usage: check-add-to-package.sh [--wine WINEWORK] DLL WORKDIR" >&2; exit 2; }
dll="$(realpath -m "$1")"
work="$(realpath -m "$2")"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
add="$here/add-to-package.sh"
# 77: skipped, for ctest; the test command always builds the DLL first.
[[ -f "$dll" ]] || { echo "check-add-to-package: $dll not found; build it with: cmake --preset windows && cmake --build --preset windows" >&2; exit 77; }
for tool in wixl msibuild msiinfo; do
    command -v "$tool" >/dev/null || { echo "check-add-to-package: $tool is missing; run scripts/setup.sh" >&2; exit 1; }
done

rm -rf "$work/plain"
mkdir -p "$work/plain"
harness="$here/../tests/wine"
cp "$harness/demo/installed-readme.txt" "$work/plain/"
sed -e '/<?include QelCustInst.wxi?>/d' -e '/<InstallExecuteSequence>/,/<\/InstallExecuteSequence>/d' \
    "$harness/demo/QelDemo.wxs" >"$work/plain/QelPlain.wxs"
(cd "$work/plain" && wixl -o QelPlain.msi QelPlain.wxs)
plain="$work/plain/QelPlain.msi"
! msiinfo export "$plain" CustomAction | grep -c qel >/dev/null || { echo "check-add-to-package: the plain package has the actions" >&2; exit 1; }

if [[ -n "$wine" ]]; then
    cp "$plain" "$work/patched.msi"
    "$add" "$work/patched.msi" --dll "$dll"
    exec "$harness/install-demo.sh" --drives fixed,cdrom --package "$work/patched.msi" "$dll" "$wine"
fi

failures=0
check() { # check NAME CONDITION...: one line per case
    if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}
export_of() { (cd "$work" && msiinfo export "$1" "$2") | tr -d '\r'; } # in $work: it writes the streams there
sql() { msibuild "$1" -q "$2"; }

# --- What it adds, and a second run, on two packages: ---
# the plain one with another Binary row, and one of bare tables (no InstallUISequence, no Binary,
# CustomAction or Error table) given its own prompt.
mkdir -p "$work/other/Binary"
printf 'other data' >"$work/other/Binary/Other.ibd"
printf 'Name\tData\r\ns72\tv0\r\nBinary\tName\r\nOther\tOther.ibd\r\n' >"$work/other/Binary.idt"
cp "$plain" "$work/plain-other.msi"
(cd "$work/other" && msibuild "$work/plain-other.msi" -i Binary.idt)
rm -f "$work/bare.msi"
# shellcheck disable=SC2016 # backquotes are SQL quoting here
msibuild "$work/bare.msi" \
    -q 'CREATE TABLE `InstallExecuteSequence` (`Action` CHAR(72) NOT NULL, `Condition` CHAR(255), `Sequence` SHORT PRIMARY KEY `Action`)' \
    -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('CostFinalize', 1000)"
default_prompt="$(tr -d '\r' <"$here/Error.idt" | sed -n 's/^26002\t//p')"
for entry in "plain-other.msi|$default_prompt|InstallExecuteSequence InstallUISequence" \
    "bare.msi|Insert disk 1, please.|InstallExecuteSequence"; do
    IFS='|' read -r name prompt sequences <<<"$entry"
    pkg="$work/$name"
    args=(--dll "$dll")
    [[ "$prompt" == "$default_prompt" ]] || args+=(--prompt "$prompt")
    sequences_before="$(msiinfo tables "$pkg" | grep 'Sequence$' | sort)"
    rm -rf "$work/caller" && mkdir "$work/caller"
    check "$name: patched" bash -c 'cd "$1" && shift && "$@"' - "$work/caller" "$add" "$pkg" "${args[@]}"
    check "$name: nothing left in the caller's folder" test -z "$(ls -A "$work/caller")"
    check "$name: the DLL is in the Binary table" cmp -s <(msiinfo extract "$pkg" Binary.QelCustInst) "$dll"
    for action in qelAreWeRunningFromCD qelPromptForOriginalDisk; do
        check "$name: CustomAction $action" grep -qx "$action	1	QelCustInst	$action	" <(export_of "$pkg" CustomAction)
    done
    for table in $sequences; do
        check "$name: $table runs it right after CostFinalize" grep -qx "qelAreWeRunningFromCD		1001" <(export_of "$pkg" "$table")
    done
    check "$name: no sequence table made" test "$(msiinfo tables "$pkg" | grep 'Sequence$' | sort)" = "$sequences_before"
    check "$name: Error row 26002" grep -qxF "26002	$prompt" <(export_of "$pkg" Error)
    cp "$pkg" "$work/before.msi"
    check "$name: a second run succeeds" "$add" "$pkg" "${args[@]}"
    check "$name: a second run changes nothing" cmp -s "$pkg" "$work/before.msi"
done
check "another Binary row keeps its data" cmp -s <(msiinfo extract "$work/plain-other.msi" Binary.Other) "$work/other/Binary/Other.ibd"

# --- Refusals: name, how to spoil the package (run on it), arguments, the message expected. ---
spoil_binary() { "$add" "$1" --dll "$dll" >/dev/null && head -c 4096 "$dll" >"$work/other.dll" && msibuild "$1" -a Binary.QelCustInst "$work/other.dll"; }
spoil_action() { sql "$1" "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('qelPromptForOriginalDisk', 1, 'Other', 'qelPromptForOriginalDisk')"; }
spoil_error() { sql "$1" "INSERT INTO \`Error\` (\`Error\`, \`Message\`) VALUES (26002, 'Another text')"; }
spoil_sequence() { sql "$1" "DELETE FROM \`InstallExecuteSequence\` WHERE \`Action\` = 'CostFinalize'"; }
read_only() { chmod 444 "$1"; }
not_msi() { echo "not a database" >"$1"; }
missing() { rm -f "$1"; }
unchanged() { :; }
printf 'not a DLL' >"$work/short.dll"
cases=(
    "missing package|missing||does not exist"
    "not an installer database|not_msi||is not an installer database"
    "read-only package|read_only||is read-only"
    "another QelCustInst binary|spoil_binary||already holds a different QelCustInst binary"
    "conflicting CustomAction row|spoil_action||already has a CustomAction row qelPromptForOriginalDisk"
    "another row 26002 with --prompt|spoil_error|--prompt Insert disk 1|already has an Error row 26002"
    "no CostFinalize|spoil_sequence||has no CostFinalize in InstallExecuteSequence"
    "a quote in the prompt|unchanged|--prompt Insert the author's disk|holds a '"
    "a tab in the prompt|unchanged|--prompt Insert	disk|holds a tab"
    "an empty prompt|unchanged|--prompt|is empty"
    "a missing DLL|unchanged|--dll $work/none.dll|cannot read the DLL"
)
for entry in "${cases[@]}"; do
    IFS='|' read -r name spoil args message <<<"$entry"
    pkg="$work/refused.msi"
    rm -f "$pkg"
    cp "$plain" "$pkg"
    "$spoil" "$pkg"
    rm -f "$work/expected.msi"
    [[ ! -e "$pkg" ]] || cp -p "$pkg" "$work/expected.msi"
    extra=()
    if [[ "$args" == --prompt* ]]; then extra=(--prompt "${args#--prompt }"); [[ "$args" == --prompt ]] && extra=(--prompt ""); fi
    if [[ "$args" == --dll* ]]; then extra=(--dll "${args#--dll }"); else extra+=(--dll "$dll"); fi
    rc=0
    out="$("$add" "$pkg" "${extra[@]}" 2>&1)" || rc=$?
    ok=1
    ((rc != 0)) || ok=0
    [[ "$out" == *"$message"* ]] || ok=0
    if [[ -e "$work/expected.msi" ]]; then cmp -s "$pkg" "$work/expected.msi" || ok=0; else [[ ! -e "$pkg" ]] || ok=0; fi
    [[ -z "$(find "$work" -maxdepth 1 -name '.add-to-package.*')" ]] || ok=0
    check "refuses: $name (exit $rc: $out)" test "$ok" = 1
    chmod 644 "$pkg" 2>/dev/null || true
done
check "refuses a file that is not a DLL" test "$("$add" "$plain" --dll "$work/short.dll" 2>&1 >/dev/null; echo $?)" != 0

((failures == 0))
