#!/usr/bin/env bash
# Adds QelCustInst.dll and its two custom actions to an existing installation package, whatever
# tool built it:
#   - the Binary row QelCustInst holding the DLL;
#   - the CustomAction rows qelAreWeRunningFromCD and qelPromptForOriginalDisk (type 1, immediate);
#   - qelAreWeRunningFromCD in InstallExecuteSequence and InstallUISequence right after CostFinalize,
#     unless a sequence already holds it (a package without InstallUISequence gets none);
#   - the Error-table row 26002 that qelPromptForOriginalDisk shows, unless the package has one.
#
#   add-to-package.sh PACKAGE.msi [--prompt "text"] [--dll QelCustInst.dll]
#
#   --prompt  the text of row 26002 (default: the text in Error.idt beside this script)
#   --dll     the DLL to add (default: QelCustInst.dll beside this script, else the build's)
#
# The package is changed on a copy, which replaces it only when every step succeeded; on any
# refusal or failure the package is left as it was. Running it again on a patched package changes
# nothing.
set -euo pipefail

me=add-to-package
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
usage() { sed -n '10,13p' "$0" | sed 's/^# \{0,3\}//' >&2; exit 2; }
fail() { echo "$me: $*" >&2; exit 1; }

package="" prompt="" prompt_given=0 dll=""
while (($#)); do
    case "$1" in
        --prompt) (($# >= 2)) || usage; prompt="$2" prompt_given=1; shift 2 ;;
        --dll) (($# >= 2)) || usage; dll="$2"; shift 2 ;;
        -h | --help) usage ;;
        -*) usage ;;
        *) [[ -z "$package" ]] || usage; package="$1"; shift ;;
    esac
done
[[ -n "$package" ]] || usage
package="$(realpath -m "$package")"
[[ -z "$dll" ]] || dll="$(realpath -m "$dll")"

for tool in msibuild msiinfo cmp mktemp; do
    command -v "$tool" >/dev/null || fail "$tool is missing (msitools, diffutils, coreutils)"
done

if [[ -z "$dll" ]]; then
    dll="$here/QelCustInst.dll"
    [[ -f "$dll" ]] || dll="$here/../build/windows/QelCustInst.dll"
fi
[[ -f "$dll" && -r "$dll" ]] || fail "cannot read the DLL $dll"
[[ "$(head -c 2 "$dll")" == MZ ]] || fail "$dll is not a Windows DLL"

# The default prompt is the one the release's Error.idt carries.
if ((!prompt_given)); then
    prompt="$(tr -d '\r' <"$here/Error.idt" | sed -n 's/^26002\t//p')" || true
    [[ -n "$prompt" ]] || fail "no row 26002 in $here/Error.idt; give the text with --prompt"
fi
[[ -n "$prompt" ]] || fail "the --prompt text is empty"
[[ "$prompt" != *[[:cntrl:]]* ]] || fail "the --prompt text holds a tab, line break or other control character"
# msibuild's SQL has no escape for a quote inside a text.
[[ "$prompt" != *\'* ]] || fail "the --prompt text holds a ' (msitools cannot write it); use ’ instead"

[[ -e "$package" ]] || fail "$package does not exist"
[[ -f "$package" && -r "$package" ]] || fail "cannot read $package"
# A file without any write permission is read-only, also for root (whom -w never refuses).
if [[ ! -w "$package" || -z "$(find "$package" -maxdepth 0 -perm /222)" ]]; then
    fail "$package is read-only"
fi
msiinfo tables "$package" >/dev/null 2>&1 || fail "$package is not an installer database"

folder="$(cd "$(dirname "$package")" && pwd)"
tmp="$(mktemp -d "$folder/.$me.XXXXXX" 2>/dev/null)" || fail "cannot write in $folder"
trap 'rm -rf "$tmp"' EXIT
work="$tmp/package.msi"
cp "$package" "$work"
# msiinfo export writes a table's streams into a folder named after the table in the current
# folder: a scratch folder takes them.
mkdir "$tmp/scratch"
cd "$tmp/scratch"

has_table() { msiinfo tables "$work" | grep -cx "$1" >/dev/null; }
# The table's rows as tab-separated lines, without the three header lines.
rows() { msiinfo export "$work" "$1" | tr -d '\r' | tail -n +4; }
# Field N of the row whose first field is KEY (the row's first line).
field() { rows "$1" | awk -F'\t' -v key="$2" -v n="$3" '$1 == key { print $n; exit }'; }
has_row() { rows "$1" | awk -F'\t' -v key="$2" '$1 == key { found = 1 } END { exit !found }'; }
sql() { msibuild "$work" -q "$1" >/dev/null || fail "msibuild refused: $1"; }
actions=(qelAreWeRunningFromCD qelPromptForOriginalDisk)

# --- Refusals first: nothing is written before every check has passed. ---
binary_present=0
if has_table Binary && has_row Binary QelCustInst; then
    stream="$(field Binary QelCustInst 2)"
    msiinfo extract "$work" "$stream" >"$tmp/present.dll" 2>/dev/null || fail "cannot read the stream $stream"
    cmp -s "$tmp/present.dll" "$dll" || fail "$package already holds a different QelCustInst binary"
    binary_present=1
fi
declare -A action_present=()
for action in "${actions[@]}"; do
    if has_table CustomAction && has_row CustomAction "$action"; then
        row="$(rows CustomAction | awk -F'\t' -v key="$action" '$1 == key { print $2 "\t" $3 "\t" $4; exit }')"
        [[ "$row" == "1	QelCustInst	$action" ]] ||
            fail "$package already has a CustomAction row $action that is not QelCustInst's (${row//	/, })"
        action_present[$action]=1
    fi
done
if has_table Error && has_row Error 26002; then
    present="$(field Error 26002 2)"
    if ((prompt_given)) && [[ "$present" != "$prompt" ]]; then
        fail "$package already has an Error row 26002 with another text: $present"
    fi
fi
has_table InstallExecuteSequence || fail "$package has no InstallExecuteSequence"
declare -A after=()
for table in InstallExecuteSequence InstallUISequence; do
    has_table "$table" || continue
    has_row "$table" qelAreWeRunningFromCD && continue
    cost="$(field "$table" CostFinalize 3)"
    [[ "$cost" =~ ^[0-9]+$ ]] || fail "$package has no CostFinalize in $table"
    # The first free sequence number after CostFinalize.
    n=$((cost + 1))
    while rows "$table" | awk -F'\t' -v n="$n" '$3 == n { found = 1 } END { exit !found }'; do n=$((n + 1)); done
    ((n <= 32767)) || fail "no free sequence number after CostFinalize in $table"
    after[$table]=$n
done

# --- The changes, on the copy. ---
if ((!binary_present)); then
    # msibuild can add a stream only by importing a whole table, so the Binary table is exported
    # with its streams and imported again with the new row.
    mkdir -p "$tmp/import/Binary"
    idt="$tmp/import/Binary.idt"
    if has_table Binary; then
        msiinfo export "$work" Binary | tr -d '\r' | head -n 3 >"$idt"
        [[ "$(head -n 2 "$idt")" == $'Name\tData\ns72\tv0' ]] || fail "$package has a Binary table of unknown columns"
        while IFS=$'\t' read -r name stream; do
            # Names are identifiers; anything else would not survive the text form.
            [[ "$name" =~ ^[A-Za-z_][A-Za-z0-9_.]*$ && -n "$stream" ]] || fail "cannot copy the Binary row '$name'"
            msiinfo extract "$work" "$stream" >"$tmp/import/Binary/$stream" || fail "cannot read the stream $stream"
            printf '%s\t%s\n' "$name" "$stream" >>"$idt"
        done < <(rows Binary)
    else
        printf 'Name\tData\ns72\tv0\nBinary\tName\n' >"$idt"
    fi
    cp "$dll" "$tmp/import/Binary/QelCustInst.ibd"
    printf 'QelCustInst\tQelCustInst.ibd\n' >>"$idt"
    sed -i 's/$/\r/' "$idt"
    # msibuild finds the stream files by names relative to the current folder.
    (cd "$tmp/import" && msibuild "$work" -i Binary.idt >/dev/null) || fail "msibuild could not import the Binary table"
fi

if ! has_table CustomAction; then
    # shellcheck disable=SC2016 # backquotes are SQL quoting here
    sql 'CREATE TABLE `CustomAction` (`Action` CHAR(72) NOT NULL, `Type` SHORT NOT NULL, `Source` CHAR(72), `Target` CHAR(255), `ExtendedType` LONG PRIMARY KEY `Action`)'
fi
for action in "${actions[@]}"; do
    [[ -n "${action_present[$action]:-}" ]] ||
        sql "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('$action', 1, 'QelCustInst', '$action')"
done

for table in "${!after[@]}"; do
    sql "INSERT INTO \`$table\` (\`Action\`, \`Sequence\`) VALUES ('qelAreWeRunningFromCD', ${after[$table]})"
done

if ! has_table Error; then
    # shellcheck disable=SC2016 # backquotes are SQL quoting here
    sql 'CREATE TABLE `Error` (`Error` SHORT NOT NULL, `Message` LONGCHAR LOCALIZABLE PRIMARY KEY `Error`)'
fi
has_row Error 26002 || sql "INSERT INTO \`Error\` (\`Error\`, \`Message\`) VALUES (26002, '$prompt')"

# --- Check the copy, then put it in the package's place with the package's permissions. ---
msiinfo extract "$work" Binary.QelCustInst 2>/dev/null | cmp -s - "$dll" || fail "the DLL did not reach the Binary table"
for action in "${actions[@]}"; do has_row CustomAction "$action" || fail "the CustomAction row $action is missing"; done
for table in InstallExecuteSequence InstallUISequence; do
    ! has_table "$table" || has_row "$table" qelAreWeRunningFromCD || fail "qelAreWeRunningFromCD is not in $table"
done
has_row Error 26002 || fail "the Error row 26002 is missing"

chmod --reference="$package" "$work"
mv -f "$work" "$package"
echo "$me: $package now holds QelCustInst.dll ($(wc -c <"$dll") bytes) and its actions"
if msiinfo streams "$package" | grep -c 'DigitalSignature$' >/dev/null; then
    echo "$me: the package was signed; its signature no longer matches: sign it again"
fi
for table in "${!after[@]}"; do echo "  qelAreWeRunningFromCD in $table at ${after[$table]}"; done
