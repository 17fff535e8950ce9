#!/usr/bin/env bash
# Adds QelCustInst.dll and its two custom actions to an existing installation package, whatever
# tool built it:
#   - the Binary row QelCustInst holding the DLL;
#   - the CustomAction rows qelAreWeRunningFromCD and qelPromptForOriginalDisk (type 1, immediate);
#   - qelAreWeRunningFromCD in InstallExecuteSequence and InstallUISequence after CostFinalize,
#     unless a sequence already holds it (a package without InstallUISequence gets none);
#   - the Error-table row 26002 that qelPromptForOriginalDisk sends, unless the package has one.
#
# The package is changed on a copy, which replaces it (keeping its owner, group and mode) only when
# every step succeeded; on any refusal or failure the package is left as it was. A package that
# already holds everything is not touched. Runs on the same package wait for each other.
#
# Usage:
#   add-to-package.sh PACKAGE.msi [--prompt "text"] [--after ACTION] [--dll QelCustInst.dll]
#   add-to-package.sh PACKAGE.msi --replace-dll [--dll QelCustInst.dll]
#
#   --prompt       the text of row 26002 (default: the text in Error.idt beside this script);
#                  it must be one the package's code page can hold
#   --after        place qelAreWeRunningFromCD right after ACTION (which comes after CostFinalize)
#                  instead of right after CostFinalize
#   --dll          the DLL to add (default: QelCustInst.dll beside this script)
#   --replace-dll  put the DLL in place of the one a patched package holds, and change nothing else
set -euo pipefail

me=add-to-package
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# The header's block after "# Usage:", up to the first line that is not a comment.
usage() { awk '/^# Usage:/ { on = 1; next } on && !/^#/ { exit } on { sub(/^# ?/, ""); print }' "${BASH_SOURCE[0]}" >&2; exit 2; }
usage_error() { echo "$me: $*" >&2; usage; }
fail() { echo "$me: $*" >&2; exit 1; }
warn() { echo "$me: warning: $*" >&2; }

package="" prompt="" prompt_given=0 dll="" after_action="" replace=0
while (($#)); do
    case "$1" in
        --prompt | --dll | --after)
            (($# >= 2)) || usage_error "$1 needs a value"
            case "$1" in
                --prompt) prompt="$2" prompt_given=1 ;;
                --dll) dll="$2" ;;
                --after) after_action="$2" ;;
            esac
            shift 2 ;;
        --replace-dll) replace=1; shift ;;
        -h | --help) usage ;;
        -*) usage_error "unknown option $1" ;;
        *) [[ -z "$package" ]] || usage_error "one package at a time ($package and $1 given)"; package="$1"; shift ;;
    esac
done
[[ -n "$package" ]] || usage_error "no package given"
if ((replace)); then
    if ((prompt_given)) || [[ -n "$after_action" ]]; then
        usage_error "--replace-dll changes only the DLL: no --prompt or --after with it"
    fi
fi
[[ -z "$after_action" || "$after_action" =~ ^[A-Za-z_][A-Za-z0-9_.]*$ ]] || usage_error "--after $after_action is not an action name"
package="$(realpath -m "$package")"
[[ -z "$dll" ]] || dll="$(realpath -m "$dll")"

for tool in msibuild msiinfo cmp mktemp od iconv flock; do
    command -v "$tool" >/dev/null || fail "$tool is missing (msitools, diffutils, coreutils, libc-bin, util-linux)"
done

if [[ -z "$dll" ]]; then
    dll="$here/QelCustInst.dll"
    [[ -f "$dll" ]] || fail "no QelCustInst.dll beside this script in $here: keep the release's files together, or give --dll"
fi
[[ -f "$dll" && -r "$dll" ]] || fail "cannot read the DLL $dll"

# The unsigned little-endian number of N bytes at OFFSET of FILE; fails past the end of the file.
le() {
    od -An -v -tu1 -j "$2" -N "$3" "$1" 2>/dev/null |
        awk -v n="$3" '{ for (i = 1; i <= NF; i++) b[c++] = $i }
            END { if (c < n) exit 1; v = 0; for (i = n - 1; i >= 0; i--) v = v * 256 + b[i]; print v }'
}
# Refuses FILE unless it is a 32-bit DLL whose export table names both actions.
check_dll() {
    local f="$1" pe sig machine flags opt magic dirs sections optsize table i va vsize raw ptr edata="" esize ernva
    local count names name
    local -a bytes=()
    bad() { fail "$f is not a 32-bit DLL exporting qelAreWeRunningFromCD and qelPromptForOriginalDisk: $*"; }
    # Every field is read before it is used: a file that ends early is named as such.
    local cut="it is truncated or damaged: it ends inside its headers"
    [[ "$(head -c 2 "$f")" == MZ ]] || bad "not a Windows program file"
    pe="$(le "$f" 60 4)" || bad "$cut"
    sig="$(le "$f" "$pe" 4)" || bad "$cut"
    ((sig == 17744)) || bad "no PE header" # "PE\0\0"
    machine="$(le "$f" $((pe + 4)) 2)" || bad "$cut"
    ((machine == 332)) || bad "not for 32-bit x86" # 0x14c
    flags="$(le "$f" $((pe + 22)) 2)" || bad "$cut"
    ((flags & 0x2000)) || bad "a program, not a DLL"
    opt=$((pe + 24))
    magic="$(le "$f" "$opt" 2)" || bad "$cut"
    ((magic == 267)) || bad "not a 32-bit PE file" # 0x10b
    dirs="$(le "$f" $((opt + 92)) 4)" || bad "$cut"
    ((dirs >= 1)) || bad "no export table"
    ernva="$(le "$f" $((opt + 96)) 4)" || bad "$cut"
    esize="$(le "$f" $((opt + 100)) 4)" || bad "$cut"
    ((ernva > 0 && esize >= 40 && esize <= 1048576)) || bad "no export table"
    # The file offset of the export table, from the section that holds it.
    sections="$(le "$f" $((pe + 6)) 2)" || bad "$cut"
    optsize="$(le "$f" $((pe + 20)) 2)" || bad "$cut"
    table=$((opt + optsize))
    for ((i = 0; i < sections; i++)); do
        vsize="$(le "$f" $((table + 40 * i + 8)) 4)" || bad "$cut"
        va="$(le "$f" $((table + 40 * i + 12)) 4)" || bad "$cut"
        raw="$(le "$f" $((table + 40 * i + 16)) 4)" || bad "$cut"
        ptr="$(le "$f" $((table + 40 * i + 20)) 4)" || bad "$cut"
        ((vsize >= raw)) || vsize=$raw
        if ((ernva >= va && ernva + esize <= va + vsize)); then edata=$((ptr + ernva - va)); break; fi
    done
    [[ -n "$edata" ]] || bad "its export table lies in no section"
    read -r -a bytes <<<"$(od -An -v -tu1 -j "$edata" -N "$esize" "$f" 2>/dev/null | tr '\n' ' ')"
    ((${#bytes[@]} == esize)) || bad "it is truncated or damaged: it ends inside its export table"
    at() { echo $((bytes[$1] + 256 * bytes[$1 + 1] + 65536 * bytes[$1 + 2] + 16777216 * bytes[$1 + 3])); }
    count="$(at 24)" names=$(($(at 32) - ernva))
    local found=" "
    for ((i = 0; i < count && names >= 0 && names + 4 * i + 3 < esize; i++)); do
        local at_name=$(($(at $((names + 4 * i))) - ernva)) c octal
        name=""
        while ((at_name >= 0 && at_name < esize && bytes[at_name] != 0 && ${#name} < 64)); do
            printf -v octal '%o' "${bytes[at_name]}"
            printf -v c '%b' "\\0$octal"
            name+="$c" at_name=$((at_name + 1))
        done
        found+="$name "
    done
    for name in qelAreWeRunningFromCD qelPromptForOriginalDisk; do
        [[ "$found" == *" $name "* ]] || bad "it does not export $name"
    done
}
check_dll "$dll"

# The first character of TEXT (UTF-8) that the character set CHARSET cannot hold.
first_not_in() {
    local LC_ALL=C charset="$1" text="$2" i j byte
    for ((i = 0; i < ${#text}; i = j)); do
        # A character is a lead byte and the continuation bytes (0x80 to 0xBF) after it.
        for ((j = i + 1; j < ${#text}; j++)); do
            printf -v byte '%d' "'${text:j:1}"
            ((byte < 0)) && byte=$((byte + 256))
            ((byte >= 128 && byte < 192)) || break
        done
        iconv -f UTF-8 -t "$charset" <<<"${text:i:j-i}" >/dev/null 2>&1 || { printf '%s' "${text:i:j-i}"; return; }
    done
}

# The default prompt is the one the release's Error.idt carries.
if ((!replace && !prompt_given)); then
    [[ -f "$here/Error.idt" ]] ||
        fail "no Error.idt beside this script in $here: keep the release's files together, or give --prompt"
    prompt="$(tr -d '\r' <"$here/Error.idt" | sed -n 's/^26002\t//p')" || true
    [[ -n "$prompt" ]] || fail "no row 26002 in $here/Error.idt; give the text with --prompt"
fi
if ((!replace)); then
    [[ -n "$prompt" ]] || fail "the --prompt text is empty"
    iconv -f UTF-8 -t UTF-8 <<<"$prompt" >/dev/null 2>&1 || fail "the --prompt text is not UTF-8"
    [[ "$prompt" != *[[:cntrl:]]* ]] || fail "the --prompt text holds a tab, line break or other control character"
    # msibuild's SQL has no escape for a quote inside a text.
    [[ "$prompt" != *\'* ]] || fail "the --prompt text holds a ' (msitools cannot write it); use ’ instead"
fi

[[ -e "$package" ]] || fail "$package does not exist"
[[ -f "$package" && -r "$package" ]] || fail "cannot read $package"
# A file without any write permission is read-only, also for root (whom -w never refuses).
if [[ ! -w "$package" || -z "$(find "$package" -maxdepth 0 -perm /222)" ]]; then
    fail "$package is read-only"
fi

folder="$(dirname "$package")"
tmp="$(mktemp -d "$folder/.$me.XXXXXX" 2>/dev/null)" || fail "cannot write in $folder"
lock="$folder/.$me.$(basename "$package").lock"
trap 'rm -rf "$tmp"' EXIT
# Runs on one package take turns: the lock file beside it, removed by its holder before the lock is
# released, so a run that waited on a removed file opens the new one.
while :; do
    exec 9>>"$lock" || fail "cannot write in $folder"
    flock -w 600 9 || fail "another run on $package has held $lock for ten minutes"
    [[ "$(stat -c %i "$lock" 2>/dev/null)" != "$(stat -L -c %i /dev/fd/9)" ]] || break
    exec 9>&-
done
trap 'rm -f "$lock"; rm -rf "$tmp"' EXIT

work="$tmp/package.msi"
cp "$package" "$work"
# msiinfo export writes a table's streams into a folder named after the table in the current
# folder: a scratch folder takes them.
mkdir "$tmp/scratch" "$tmp/tables"
cd "$tmp/scratch"

# msitools fail, and some crash, on a damaged package: their own output never reaches the user.
unreadable() { fail "$package is not a readable installer database"; }
{ msiinfo tables "$work" >"$tmp/tables/list"; } 2>/dev/null || unreadable
has_table() { grep -cx "$1" "$tmp/tables/list" >/dev/null; }
# Reads TABLE's rows again (tab-separated, without the three header lines) after a change.
load() {
    rm -f "$tmp/tables/$1"
    has_table "$1" || return 0
    { msiinfo export "$work" "$1" >"$tmp/tables/$1.idt"; } 2>/dev/null || unreadable
    tr -d '\r' <"$tmp/tables/$1.idt" | tail -n +4 >"$tmp/tables/$1"
}
rows() { [[ ! -f "$tmp/tables/$1" ]] || cat "$tmp/tables/$1"; }
# Field N of the row whose first field is KEY (the row's first line).
field() { rows "$1" | awk -F'\t' -v key="$2" -v n="$3" '$1 == key { print $n; exit }'; }
has_row() { rows "$1" | awk -F'\t' -v key="$2" '$1 == key { found = 1 } END { exit !found }'; }
changed=0
sql() {
    { msibuild "$work" -q "$1" >/dev/null 2>&1; } 2>/dev/null || fail "msibuild could not change the package ($1)"
    changed=1
}
stream_of() { { msiinfo extract "$work" "Binary.$1" >"$2"; } 2>/dev/null; }
actions=(qelAreWeRunningFromCD qelPromptForOriginalDisk)
for table in Binary CustomAction Error Directory InstallExecuteSequence InstallUISequence; do
    load "$table"
done

# --- Refusals first: nothing is written before every check has passed. ---
binary_present=0
if has_row Binary QelCustInst; then
    stream_of QelCustInst "$tmp/present.dll" || unreadable
    if cmp -s "$tmp/present.dll" "$dll"; then
        binary_present=1
    elif ((replace)); then
        binary_present=2
    else
        fail "$package already holds a different QelCustInst binary (--replace-dll puts this one in its place)"
    fi
fi

if ((replace)); then
    ((binary_present)) || fail "$package holds no QelCustInst binary to replace; add it without --replace-dll"
    if ((binary_present == 2)); then
        { msibuild "$work" -a Binary.QelCustInst "$dll" >/dev/null 2>&1; } 2>/dev/null || fail "msibuild could not replace the DLL"
        changed=1
    fi
else
    has_row Directory INSTALLDIR ||
        fail "$package has no directory INSTALLDIR: qelAreWeRunningFromCD reads the source path of INSTALLDIR, so the package must have one"
    for action in "${actions[@]}"; do
        has_row CustomAction "$action" || continue
        type="$(field CustomAction "$action" 2)" source="$(field CustomAction "$action" 3)"
        target="$(field CustomAction "$action" 4)"
        [[ "$type" =~ ^[0-9]+$ && "$source" == QelCustInst && "$target" == "$action" && $((type & 0x3F)) == 1 ]] ||
            fail "$package already has a CustomAction row $action that is not QelCustInst's ($type, $source, $target)"
        # The in-script bit makes an action deferred (with 0x100 rollback, with 0x200 commit): it
        # runs from the script, where it cannot set properties.
        if ((type & 0x400)); then
            kind=deferred
            ((type & 0x100)) && kind=rollback
            ((type & 0x200)) && kind=commit
            fail "$package has a CustomAction row $action of type $type, a $kind action: it would not be able to set PROMPT_FOR_CD1; it must run immediately"
        fi
    done
    expected="$prompt"
    if has_row Error 26002; then
        present="$(field Error 26002 2)"
        expected="$present"
        if ((prompt_given)) && [[ "$present" != "$prompt" ]]; then
            fail "$package already has an Error row 26002 with another text: $present"
        fi
    else
        # The package stores its texts in its code page; msitools write a neutral package (0) in 1252.
        codepage="$({ msiinfo export "$work" _ForceCodepage; } 2>/dev/null | tr -d '\r\0' |
            awk -F'\t' '$2 == "_ForceCodepage" { print $1 }')" || true
        [[ "$codepage" =~ ^[0-9]+$ ]] || codepage=0
        charset="CP$codepage"
        ((codepage != 0)) || charset=CP1252
        ((codepage != 65001)) || charset=UTF-8
        named="$codepage"
        ((codepage != 0)) || named="0 (neutral, written in 1252)"
        if ! iconv -f UTF-8 -t "$charset" <<<"$prompt" >/dev/null 2>&1; then
            iconv -f UTF-8 -t "$charset" </dev/null >/dev/null 2>&1 ||
                fail "the package's code page is $codepage, which this system cannot convert to"
            fail "the package's code page is $named, which cannot hold the --prompt text: its first character that it cannot hold is '$(first_not_in "$charset" "$prompt")'"
        fi
        if ((codepage == 0)) && [[ "$prompt" == *[![:ascii:]]* ]]; then
            warn "the package's code page is 0 (neutral): Windows reads its texts in the code page of the machine's system locale, so the --prompt text shows as written only where that is 1252"
        fi
    fi
    has_table InstallExecuteSequence || fail "$package has no InstallExecuteSequence"
fi

declare -A place=()
if ((!replace)); then
    for table in InstallExecuteSequence InstallUISequence; do
        has_table "$table" || continue
        has_row "$table" qelAreWeRunningFromCD && continue
        cost="$(field "$table" CostFinalize 3)"
        [[ "$cost" =~ ^[0-9]+$ ]] || fail "$package has no CostFinalize in $table"
        from=CostFinalize start=$cost
        if [[ -n "$after_action" ]]; then
            start="$(field "$table" "$after_action" 3)"
            if [[ "$table" == InstallUISequence && -z "$start" ]]; then
                echo "$me: $after_action is not in $table: there qelAreWeRunningFromCD goes after CostFinalize"
                start=$cost
            else
                [[ "$start" =~ ^[0-9]+$ ]] || fail "$package has no action $after_action in $table"
                ((start >= cost)) || fail "$after_action comes before CostFinalize in $table ($start, CostFinalize $cost): the directories are not resolved yet there"
                from=$after_action
            fi
        fi
        # The first free sequence number after it; the actions passed over are named.
        n=$((start + 1))
        while rows "$table" | awk -F'\t' -v n="$n" '$3 == n { found = 1 } END { exit !found }'; do n=$((n + 1)); done
        ((n <= 32767)) || fail "no free sequence number after $from in $table"
        between="$(rows "$table" | awk -F'\t' -v a="$start" -v b="$n" '$3 ~ /^[0-9]+$/ && $3 > a && $3 < b { print $3 "\t" $1 }' |
            sort -n | awk -F'\t' '{ printf "%s%s (%s)", sep, $2, $1; sep = ", " }')"
        if [[ -n "$between" ]]; then
            warn "in $table, qelAreWeRunningFromCD goes to $n, so $between, after $from ($start), run before it: an action that reads PROMPT_FOR_CD1 must come after $n (--after ACTION places it after another action)"
        fi
        place[$table]=$n
    done
fi

# --- The changes, on the copy. ---
if ((!binary_present)); then
    # msibuild can add a stream only by importing a whole table, so the Binary table is exported
    # with its streams and imported again with the new row.
    mkdir -p "$tmp/import/Binary"
    idt="$tmp/import/Binary.idt"
    if has_table Binary; then
        tr -d '\r' <"$tmp/tables/Binary.idt" | head -n 3 >"$idt"
        [[ "$(head -n 2 "$idt")" == $'Name\tData\ns72\tv0' ]] || fail "$package has a Binary table of unknown columns"
        while IFS=$'\t' read -r name _; do
            # Names are identifiers; anything else would not survive the text form.
            [[ "$name" =~ ^[A-Za-z_][A-Za-z0-9_.]*$ ]] || fail "cannot copy the Binary row '$name'"
            stream_of "$name" "$tmp/import/Binary/$name.ibd" || fail "cannot read the Binary row $name"
            printf '%s\t%s.ibd\n' "$name" "$name" >>"$idt"
        done < <(rows Binary)
    else
        printf 'Name\tData\ns72\tv0\nBinary\tName\n' >"$idt"
    fi
    cp "$dll" "$tmp/import/Binary/QelCustInst.ibd"
    printf 'QelCustInst\tQelCustInst.ibd\n' >>"$idt"
    sed -i 's/$/\r/' "$idt"
    # msibuild finds the stream files by names relative to the current folder.
    (cd "$tmp/import" && { msibuild "$work" -i Binary.idt >/dev/null 2>&1; } 2>/dev/null) ||
        fail "msibuild could not import the Binary table"
    changed=1
fi

if ((!replace)); then
    if ! has_table CustomAction; then
        # shellcheck disable=SC2016 # backquotes are SQL quoting here
        sql 'CREATE TABLE `CustomAction` (`Action` CHAR(72) NOT NULL, `Type` SHORT NOT NULL, `Source` CHAR(72), `Target` CHAR(255), `ExtendedType` LONG PRIMARY KEY `Action`)'
    fi
    for action in "${actions[@]}"; do
        has_row CustomAction "$action" ||
            sql "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('$action', 1, 'QelCustInst', '$action')"
    done
    for table in "${!place[@]}"; do
        sql "INSERT INTO \`$table\` (\`Action\`, \`Sequence\`) VALUES ('qelAreWeRunningFromCD', ${place[$table]})"
    done
    if ! has_table Error; then
        # shellcheck disable=SC2016 # backquotes are SQL quoting here
        sql 'CREATE TABLE `Error` (`Error` SHORT NOT NULL, `Message` LONGCHAR LOCALIZABLE PRIMARY KEY `Error`)'
    fi
    has_row Error 26002 || sql "INSERT INTO \`Error\` (\`Error\`, \`Message\`) VALUES (26002, '$prompt')"
fi

if ((!changed)); then
    # Replacing looks at the DLL only; what else the package holds is not checked.
    if ((replace)); then
        echo "$me: $package already holds this QelCustInst.dll ($(wc -c <"$dll") bytes): nothing replaced"
    else
        echo "$me: $package already holds QelCustInst.dll ($(wc -c <"$dll") bytes) and its actions: nothing to add"
    fi
    exit 0
fi

# --- Check the copy, read back, then put it in the package's place with the package's owner,
# group and mode. ---
{ msiinfo tables "$work" >"$tmp/tables/list"; } 2>/dev/null || fail "msibuild left a package msitools cannot read"
for table in CustomAction Error InstallExecuteSequence InstallUISequence; do load "$table"; done
if ! stream_of QelCustInst "$tmp/written.dll" || ! cmp -s "$tmp/written.dll" "$dll"; then
    fail "the DLL did not reach the Binary table"
fi
if ((!replace)); then
    for action in "${actions[@]}"; do has_row CustomAction "$action" || fail "the CustomAction row $action is missing"; done
    for table in InstallExecuteSequence InstallUISequence; do
        ! has_table "$table" || has_row "$table" qelAreWeRunningFromCD || fail "qelAreWeRunningFromCD is not in $table"
    done
    # msiinfo reads the text back from the package's code page.
    written="$(field Error 26002 2)"
    [[ "$written" == "$expected" ]] || fail "the Error row 26002 reads back as '$written', not as the text given"
fi

chown --reference="$package" "$work" 2>/dev/null ||
    fail "cannot give the patched copy the owner and group of $package: run as its owner or as root"
chmod --reference="$package" "$work"
mv -f "$work" "$package"
if ((replace)); then
    echo "$me: $package now holds QelCustInst.dll ($(wc -c <"$dll") bytes) in place of the one it had"
else
    echo "$me: $package now holds QelCustInst.dll ($(wc -c <"$dll") bytes) and its actions"
fi
if { msiinfo streams "$package"; } 2>/dev/null | grep -c 'DigitalSignature$' >/dev/null; then
    echo "$me: the package was signed; its signature no longer matches: sign it again"
fi
for table in "${!place[@]}"; do echo "  qelAreWeRunningFromCD in $table at ${place[$table]}"; done
