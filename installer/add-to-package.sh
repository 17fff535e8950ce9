#!/usr/bin/env bash
# Adds QelCustInst.dll and its two custom actions to an existing installation package, whatever
# tool built it:
#   - the Binary row QelCustInst holding the DLL;
#   - the CustomAction rows qelAreWeRunningFromCD and qelPromptForOriginalDisk (type 1, immediate);
#   - qelAreWeRunningFromCD in InstallExecuteSequence and InstallUISequence after CostFinalize,
#     unless a sequence already holds it (a package without InstallUISequence gets none);
#   - the Error-table row 26002 that qelPromptForOriginalDisk sends, unless the package has one;
#   - a new package code (the summary's revision number): a changed package is another package.
#
# The package is read first, and a package that already holds everything is not touched. Otherwise
# it is changed on a copy beside it, in one rewrite, and the copy replaces it (keeping its owner,
# group and mode) only when every step succeeded and the package is still the file that was
# copied; on any refusal, failure or signal the package is left as it was. Runs on the same package
# wait for each other; a run removes the copies that killed runs left behind.
#
# Usage:
#   add-to-package.sh PACKAGE.msi [--prompt "text"] [--after ACTION] [--dll QelCustInst.dll] [--wait SECONDS]
#   add-to-package.sh PACKAGE.msi --replace-dll [--dll QelCustInst.dll] [--wait SECONDS]
#   add-to-package.sh --help
#
#   --prompt       the text of row 26002 (default: the text in Error.idt beside this script);
#                  it must be one the package's code page can hold
#   --after        place qelAreWeRunningFromCD right after ACTION (which comes after CostFinalize)
#                  instead of right after CostFinalize; moves it there in a patched package
#   --dll          the DLL to add (default: QelCustInst.dll beside this script)
#   --replace-dll  put the DLL in place of the build of it a patched package holds, and change
#                  nothing else
#   --wait         how long to wait for another run on the same package (default: 600 seconds)
#   --             the next argument is the package, even if it starts with -
set -euo pipefail

me=add-to-package
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# The header's block after "# Usage:", up to the first line that is not a comment.
usage() { awk '/^# Usage:/ { on = 1; next } on && !/^#/ { exit } on { sub(/^# ?/, ""); print }' "${BASH_SOURCE[0]}"; }
usage_error() { echo "$me: $*" >&2; usage >&2; exit 2; }
fail() { echo "$me: $*" >&2; exit 1; }
warn() { echo "$me: warning: $*" >&2; }

# A signal stops the run at the next step (a tool that runs finishes first), leaving the package as
# it was; in a step that must not be cut short (between defer and resume) it waits for the step's
# end, and once the copy is being put in the package's place, the run completes instead. The
# message goes to the standard error the run began with, kept as fd 3: the signal may come while a
# tool's messages are silenced.
exec 3>&2
package="" tmp="" inside=0 lock_held=0 deferring=0 interrupted="" waiting=""
on_signal() {
    # A handler's bare return would answer the status of the command it interrupted.
    if ((deferring)); then interrupted="$1"; return 0; fi
    [[ -z "$waiting" ]] || kill "$waiting" 2>/dev/null || true
    echo "$me: stopped by SIG$1${package:+: $package is left as it was}" >&3
    exit $((128 + $2))
}
trap 'on_signal HUP 1' HUP
trap 'on_signal INT 2' INT
trap 'on_signal TERM 15' TERM
defer() { deferring=1; }
resume() {
    deferring=0
    [[ -z "$interrupted" ]] || on_signal "$interrupted" "$(kill -l "$interrupted")"
}

prompt="" prompt_given=0 dll="" after_action="" replace=0 wait_limit=600
while (($#)); do
    case "$1" in
        --prompt | --dll | --after | --wait)
            (($# >= 2)) || usage_error "$1 needs a value"
            case "$1" in
                --prompt) prompt="$2" prompt_given=1 ;;
                --dll) dll="$2" ;;
                --after) after_action="$2" ;;
                --wait) wait_limit="$2" ;;
            esac
            shift 2 ;;
        --replace-dll) replace=1; shift ;;
        -h | --help) usage; exit 0 ;;
        --)
            (($# == 2)) || usage_error "-- is followed by the package alone"
            [[ -z "$package" ]] || usage_error "one package at a time ($package and $2 given)"
            package="$2"; shift 2 ;;
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
[[ "$after_action" != qelAreWeRunningFromCD ]] || usage_error "--after names the action that it places: name the action it should follow"
[[ "$wait_limit" =~ ^[0-9]{1,6}$ ]] || usage_error "--wait $wait_limit is not a number of seconds"
wait_limit=$((10#$wait_limit))
package="$(realpath -m -- "$package")"
[[ -z "$dll" ]] || dll="$(realpath -m -- "$dll")"

for tool in msibuild msiinfo cmp mktemp od iconv flock df du cksum; do
    command -v "$tool" >/dev/null || fail "$tool is missing (msitools, diffutils, coreutils, libc-bin, util-linux)"
done
# msiinfo export writes a table's streams into a folder named after the table in the current
# folder. The tables read before the work have none in an installation package; should a package's
# have one, /proc takes no folder. Every path is absolute from here on.
cd /proc 2>/dev/null || cd /

if [[ -z "$dll" ]]; then
    dll="$here/QelCustInst.dll"
    [[ -f "$dll" ]] || fail "no QelCustInst.dll beside this script in $here: keep the release's files together, or give --dll"
fi
[[ -f "$dll" && -r "$dll" ]] || fail "cannot read the DLL $dll"

# msitools fail, and some crash, on a damaged package: their own words never reach the user.
quiet() { { "$@"; } 2>/dev/null; }

# The bytes at OFFSET, COUNT of them (fewer where the file ends), of FILE or of its stream STREAM,
# into the array named ARRAY, one number each.
# shellcheck disable=SC2034 # into is a reference to the caller's array
bytes_of() { # bytes_of ARRAY OFFSET COUNT FILE [STREAM]
    local -n into="$1"
    if (($# == 5)); then
        mapfile -t into < <({ quiet msiinfo extract "$4" "$5" || :; } | { od -An -v -tu1 -w1 -j "$2" -N "$3" 2>/dev/null || :; } | tr -d ' ')
    else
        mapfile -t into < <({ od -An -v -tu1 -w1 -j "$2" -N "$3" -- "$4" 2>/dev/null || :; } | tr -d ' ')
    fi
}
# value = the unsigned little-endian number of N bytes at OFFSET of the array ARRAY; fails past its end.
number_at() { # number_at ARRAY OFFSET N
    local -n of="$1"
    local i
    value=0
    (($2 >= 0 && $2 + $3 <= ${#of[@]})) || return 1
    for ((i = $3 - 1; i >= 0; i--)); do value=$((value * 256 + of[$2 + i])); done
}
# Why FILE (or its stream STREAM) is not a build of this DLL: a 32-bit DLL whose export table names
# both actions. Prints nothing when it is one.
dll_problem() { # dll_problem FILE [STREAM]
    local -a head=() pe_head=() table=()
    local value pe machine flags magic dirs ernva esize sections optsize at i va vsize raw ptr edata=""
    local count names name found=" " c octal
    # Every field is read before it is used: a file that ends early is named as such.
    local cut="it is truncated or damaged: it ends inside its headers"
    bytes_of head 0 64 "$@"
    ((${#head[@]} >= 2 && head[0] == 77 && head[1] == 90)) || { echo "not a Windows program file"; return; } # MZ
    number_at head 60 4 || { echo "$cut"; return; }
    pe=$value
    bytes_of pe_head "$pe" 4096 "$@"
    number_at pe_head 0 4 || { echo "$cut"; return; }
    ((value == 17744)) || { echo "no PE header"; return; } # "PE\0\0"
    number_at pe_head 4 2 || { echo "$cut"; return; }
    machine=$value
    ((machine == 332)) || { echo "not for 32-bit x86"; return; } # 0x14c
    number_at pe_head 22 2 || { echo "$cut"; return; }
    flags=$value
    ((flags & 0x2000)) || { echo "a program, not a DLL"; return; }
    number_at pe_head 24 2 || { echo "$cut"; return; }
    magic=$value
    ((magic == 267)) || { echo "not a 32-bit PE file"; return; } # 0x10b
    number_at pe_head $((24 + 92)) 4 || { echo "$cut"; return; }
    dirs=$value
    ((dirs >= 1)) || { echo "no export table"; return; }
    number_at pe_head $((24 + 96)) 4 || { echo "$cut"; return; }
    ernva=$value
    number_at pe_head $((24 + 100)) 4 || { echo "$cut"; return; }
    esize=$value
    ((ernva > 0 && esize >= 40 && esize <= 1048576)) || { echo "no export table"; return; }
    # The file offset of the export table, from the section that holds it.
    number_at pe_head 6 2 || { echo "$cut"; return; }
    sections=$value
    number_at pe_head 20 2 || { echo "$cut"; return; }
    optsize=$value
    at=$((24 + optsize))
    if ((at + 40 * sections > ${#pe_head[@]} && ${#pe_head[@]} == 4096)); then
        bytes_of pe_head "$pe" $((at + 40 * sections)) "$@"
    fi
    for ((i = 0; i < sections; i++)); do
        number_at pe_head $((at + 40 * i + 8)) 4 || { echo "$cut"; return; }
        vsize=$value
        number_at pe_head $((at + 40 * i + 12)) 4 || { echo "$cut"; return; }
        va=$value
        number_at pe_head $((at + 40 * i + 16)) 4 || { echo "$cut"; return; }
        raw=$value
        number_at pe_head $((at + 40 * i + 20)) 4 || { echo "$cut"; return; }
        ptr=$value
        ((vsize >= raw)) || vsize=$raw
        if ((ernva >= va && ernva + esize <= va + vsize)); then edata=$((ptr + ernva - va)); break; fi
    done
    [[ -n "$edata" ]] || { echo "its export table lies in no section"; return; }
    bytes_of table "$edata" "$esize" "$@"
    ((${#table[@]} == esize)) || { echo "it is truncated or damaged: it ends inside its export table"; return; }
    number_at table 24 4
    count=$value
    number_at table 32 4
    names=$((value - ernva))
    for ((i = 0; i < count && names >= 0 && names + 4 * i + 4 <= esize; i++)); do
        number_at table $((names + 4 * i)) 4
        local at_name=$((value - ernva))
        name=""
        while ((at_name >= 0 && at_name < esize && table[at_name] != 0 && ${#name} < 64)); do
            printf -v octal '%o' $((table[at_name]))
            printf -v c '%b' "\\0$octal"
            name+="$c" at_name=$((at_name + 1))
        done
        found+="$name "
    done
    for name in qelAreWeRunningFromCD qelPromptForOriginalDisk; do
        [[ "$found" == *" $name "* ]] || { echo "it does not export $name"; return; }
    done
}
problem="$(dll_problem "$dll")"
[[ -z "$problem" ]] || fail "$dll is not a 32-bit DLL exporting qelAreWeRunningFromCD and qelPromptForOriginalDisk: $problem"
dll_size="$(stat -c %s -- "$dll")"

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
prompt_name="the --prompt text"
if ((!replace && !prompt_given)); then
    [[ -f "$here/Error.idt" ]] ||
        fail "no Error.idt beside this script in $here: keep the release's files together, or give --prompt"
    prompt_name="the text of row 26002 in $here/Error.idt"
    prompt="$(tr -d '\r' <"$here/Error.idt" | sed -n 's/^26002\t//p')" || true
    [[ -n "$prompt" ]] || fail "no row 26002 in $here/Error.idt; give the text with --prompt"
fi
if ((!replace)); then
    [[ -n "$prompt" ]] || fail "$prompt_name is empty"
    iconv -f UTF-8 -t UTF-8 <<<"$prompt" >/dev/null 2>&1 || fail "$prompt_name is not UTF-8"
    [[ "$prompt" != *[[:cntrl:]]* ]] || fail "$prompt_name holds a tab, line break or other control character"
    # msibuild's SQL has no escape for a quote inside a text.
    [[ "$prompt" != *\'* ]] || fail "$prompt_name holds a ' (msitools cannot write it); use ’ instead"
fi

[[ -e "$package" ]] || fail "$package does not exist"
[[ -f "$package" && -r "$package" ]] || fail "cannot read $package"
# A file without any write permission is read-only, also for root (whom -w never refuses).
if [[ ! -w "$package" || -z "$(find "$package" -maxdepth 0 -perm /222)" ]]; then
    fail "$package is read-only"
fi
folder="$(dirname "$package")"
lock="$folder/.$me.${package##*/}.lock"
# A name too long to take the lock's prefix and suffix takes a number in its place.
if (($(printf '%s' "${lock##*/}" | wc -c) > 255)); then
    lock="$folder/.$me.$(printf '%s' "${package##*/}" | cksum | cut -d ' ' -f 1).lock"
fi

# The package as it is: device, inode, size and modification time. A run replaces only the file
# it copied.
identity() { stat -c '%d:%i:%s:%y' -- "$package" 2>/dev/null || echo gone; }
# The digest of FILE's content, "unreadable" when it cannot be read.
digest() { { cksum <"$1"; } 2>/dev/null || echo unreadable; }
read_identity="$(identity)"

unreadable_reason="$package is not a readable installer database"
unreadable() { fail "$unreadable_reason"; }
# What kind of installer file FILE is, from the class of its compound file's root storage.
storage_kind() {
    local -a head=() class=()
    local value sector_shift directory
    bytes_of head 0 52 "$1"
    [[ "${head[*]:0:8}" == "208 207 17 224 161 177 26 225" ]] || return 0 # not a compound file
    number_at head 30 2
    sector_shift=$value
    number_at head 48 4
    directory=$value
    ((sector_shift == 9 || sector_shift == 12)) || return 0
    # The root entry is the first of the first directory sector; its class is at 0x50.
    bytes_of class $(((directory + 1) * (1 << sector_shift) + 80)) 4 "$1"
    case "${class[*]}" in
        "132 16 12 0") echo database ;;
        "130 16 12 0") echo transform ;;
        "134 16 12 0") echo patch ;;
    esac
}

# --- What the package holds, read into memory: nothing is written before the work starts. ---
declare -A rows=()
tables="" streams=""
has_table() { [[ $'\n'"$tables"$'\n' == *$'\n'"$1"$'\n'* ]]; }
has_stream() { [[ $'\n'"$streams"$'\n' == *$'\n'"$1"$'\n'* ]]; }
rows_of() { [[ -z "${rows[$1]:-}" ]] || printf '%s\n' "${rows[$1]}"; }
# Field N of the row whose first field is KEY (the first such row).
field() { rows_of "$1" | awk -F'\t' -v key="$2" -v n="$3" '$1 == key && !done { print $n; done = 1 }'; }
has_row() { rows_of "$1" | awk -F'\t' -v key="$2" '$1 == key { found = 1 } END { exit !found }'; }
# Reads the tables the decisions need from SOURCE (the package, or its copy): their rows,
# tab-separated, without the three header lines.
read_tables() { # read_tables SOURCE
    local table text
    tables="$(quiet msiinfo tables "$1")" || unreadable
    streams="$(quiet msiinfo streams "$1")" || unreadable
    for table in CustomAction Error Directory InstallExecuteSequence InstallUISequence; do
        rows[$table]=""
        has_table "$table" || continue
        text="$(quiet msiinfo export "$1" "$table")" || unreadable
        text="${text//$'\r'/}"
        rows[$table]="$(printf '%s\n' "$text" | tail -n +4)"
    done
    # The code page: "CODEPAGE<tab>_ForceCodepage" (msiinfo ends it with a null byte).
    codepage=""
    if has_table _ForceCodepage; then
        text="$({ quiet msiinfo export "$1" _ForceCodepage || :; } | tr -d '\r\0')"
        codepage="$(printf '%s\n' "$text" | awk -F'\t' '$2 == "_ForceCodepage" { print $1 }')"
    fi
}
revision_of() { { quiet msiinfo suminfo "$1" || :; } | sed -n 's/^Revision number (UUID): //p'; }

case "$(storage_kind "$package")" in
    database) ;;
    transform) fail "$package is a transform (.mst), not an installation package: only an installation package (.msi) can be patched" ;;
    patch) fail "$package is a patch (.msp), not an installation package: only an installation package (.msi) can be patched" ;;
    *) unreadable ;;
esac
read_tables "$package"
has_table ModuleSignature &&
    fail "$package is a merge module (.msm), not an installation package: only an installation package (.msi) can be patched; patch the package it is merged into"

actions=(qelAreWeRunningFromCD qelPromptForOriginalDisk)
# What a run changes, decided from what SOURCE holds; every refusal comes here, before any work.
#   binary: 0 missing, 1 this DLL, 2 another build of it (--replace-dll replaces it)
#   place[TABLE]: the sequence number for a new row; move[TABLE]: a new number for ours
declare -A place=() move=() moved_from=()
decide() { # decide SOURCE
    local source="$1" problem action type binary_name target kind present table cost from start n current condition
    place=() move=() moved_from=() binary=0 new_rows=0
    if has_stream Binary.QelCustInst; then
        if cmp -s <(quiet msiinfo extract "$source" Binary.QelCustInst || :) "$dll"; then
            binary=1
        else
            problem="$(dll_problem "$source" Binary.QelCustInst)"
            if [[ -n "$problem" ]]; then
                ((replace)) && fail "$package holds a QelCustInst binary that is not a build of this DLL (a 32-bit DLL exporting qelAreWeRunningFromCD and qelPromptForOriginalDisk): $problem; --replace-dll replaces only a build of this DLL"
                fail "$package already holds a QelCustInst binary that is not a build of this DLL ($problem): a package's own binary of that name is left alone"
            fi
            ((replace)) || fail "$package already holds another build of QelCustInst.dll (--replace-dll puts this one in its place)"
            binary=2
        fi
    fi
    if ((replace)); then
        ((binary)) || fail "$package holds no QelCustInst binary to replace; add it without --replace-dll"
        return
    fi

    has_row Directory INSTALLDIR ||
        fail "$package has no directory INSTALLDIR: qelAreWeRunningFromCD reads the source path of INSTALLDIR, so the package must have one"
    for action in "${actions[@]}"; do
        if ! has_row CustomAction "$action"; then new_rows=1; continue; fi
        type="$(field CustomAction "$action" 2)" binary_name="$(field CustomAction "$action" 3)"
        target="$(field CustomAction "$action" 4)"
        [[ "$type" =~ ^[0-9]+$ && "$binary_name" == QelCustInst && "$target" == "$action" && $((type & 0x3F)) == 1 ]] ||
            fail "$package already has a CustomAction row $action that is not QelCustInst's ($type, $binary_name, $target)"
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
        new_rows=1
        # The package stores its texts in its code page; msitools write a neutral package (0) in 1252.
        [[ "$codepage" =~ ^[0-9]+$ ]] || codepage=0
        charset="CP$codepage"
        ((codepage != 0)) || charset=CP1252
        ((codepage != 65001)) || charset=UTF-8
        named="$codepage"
        ((codepage != 0)) || named="0 (neutral, written in 1252)"
        if ! iconv -f UTF-8 -t "$charset" <<<"$prompt" >/dev/null 2>&1; then
            iconv -f UTF-8 -t "$charset" </dev/null >/dev/null 2>&1 ||
                fail "the package's code page is $codepage, which this system cannot convert to"
            fail "the package's code page is $named, which cannot hold $prompt_name: its first character that it cannot hold is '$(first_not_in "$charset" "$prompt")'"
        fi
        if ((codepage == 0)) && [[ "$prompt" == *[![:ascii:]]* ]]; then
            warn "the package's code page is 0 (neutral): Windows reads its texts in the code page of the machine's system locale, so $prompt_name shows as written only where that is 1252"
        fi
    fi
    has_table InstallExecuteSequence || fail "$package has no InstallExecuteSequence"

    for table in InstallExecuteSequence InstallUISequence; do
        has_table "$table" || continue
        current="$(field "$table" qelAreWeRunningFromCD 3)"
        # Without --after, an action already scheduled stays where it is.
        [[ -z "$current" || -n "$after_action" ]] || continue
        cost="$(field "$table" CostFinalize 3)"
        [[ "$cost" =~ ^[0-9]+$ ]] || fail "$package has no CostFinalize in $table"
        from=CostFinalize start=$cost
        if [[ -n "$after_action" ]]; then
            start="$(field "$table" "$after_action" 3)"
            if [[ "$table" == InstallUISequence && -z "$start" ]]; then
                [[ -z "$current" ]] || continue
                echo "$me: $after_action is not in $table: there qelAreWeRunningFromCD goes after CostFinalize"
                start=$cost
            else
                [[ "$start" =~ ^[0-9]+$ ]] || fail "$package has no action $after_action in $table"
                ((start >= cost)) || fail "$after_action comes before CostFinalize in $table ($start, CostFinalize $cost): the directories are not resolved yet there"
                from=$after_action
            fi
        fi
        # The first number after it that no other action takes; the actions passed over are named.
        n=$((start + 1))
        while rows_of "$table" | awk -F'\t' -v n="$n" '$3 == n && $1 != "qelAreWeRunningFromCD" { found = 1 } END { exit !found }'; do
            n=$((n + 1))
        done
        ((n <= 32767)) || fail "no free sequence number after $from in $table"
        if [[ -n "$current" ]]; then
            # Already right after the action when no other action comes between them.
            if [[ "$current" =~ ^[0-9]+$ ]] && ((current > start && current <= n)); then continue; fi
            condition="$(field "$table" qelAreWeRunningFromCD 2)"
            [[ -z "$condition" ]] ||
                fail "$package has qelAreWeRunningFromCD in $table at $current under a condition of its own ($condition): it is not moved; place it after $after_action with the tool that built the package"
        fi
        between="$(rows_of "$table" | awk -F'\t' -v a="$start" -v b="$n" '$3 ~ /^[0-9]+$/ && $3 > a && $3 < b { print $3 "\t" $1 }' |
            sort -n | awk -F'\t' '{ printf "%s%s (%s)", sep, $2, $1; sep = ", " }')"
        if [[ -n "$between" ]]; then
            warn "in $table, qelAreWeRunningFromCD goes to $n, so $between, after $from ($start), run before it: an action that reads PROMPT_FOR_CD1 must come after $n (--after ACTION places it after another action)"
        fi
        if [[ -n "$current" ]]; then
            move[$table]=$n moved_from[$table]=$current
        else
            place[$table]=$n
        fi
    done
}
decide "$package"

# Ends the run when the package holds everything already.
stop_if_nothing_to_do() {
    ((binary == 1 && !new_rows && ${#place[@]} == 0 && ${#move[@]} == 0)) || return 0
    # Replacing looks at the DLL only; what else the package holds is not checked.
    if ((replace)); then
        echo "$me: $package already holds this QelCustInst.dll ($dll_size bytes): nothing replaced"
    else
        echo "$me: $package already holds QelCustInst.dll ($dll_size bytes) and its actions: nothing to add"
    fi
    exit 0
}
stop_if_nothing_to_do

# --- The work: first what could stop it half-way. ---
# The patched copy must get the package's owner and group, which only root can give away.
if ((EUID != 0)); then
    owner="$(stat -c '%u %g %U:%G' -- "$package")"
    read -r uid gid owner <<<"$owner"
    if ((uid != EUID)) || [[ " $(id -G) " != *" $gid "* ]]; then
        fail "cannot give the patched copy the owner and group of $package ($owner): run as its owner or as root"
    fi
fi
[[ -w "$folder" ]] || fail "cannot write in $folder"
free_space() { { df -B1 --output=avail -- "$folder" 2>/dev/null || :; } | tail -n 1 | tr -d ' '; }
free_inodes() { { df --output=iavail,itotal -- "$folder" 2>/dev/null || :; } | tail -n 1 | awk '$2 > 0 { print $1 }'; }
file_system() { { df --output=target -- "$folder" 2>/dev/null || :; } | tail -n 1; }
# At the most: the copy, msibuild's new file beside it, the Binary table's streams and the DLL twice.
package_size="$(stat -c %s -- "$package")"
binary_size=0
if ((!binary)); then
    while IFS= read -r stream; do
        [[ "$stream" == Binary.* ]] || continue
        binary_size=$((binary_size + $({ quiet msiinfo extract "$package" "$stream" || :; } | wc -c)))
    done <<<"$streams"
fi
need=$((2 * package_size + binary_size + 2 * dll_size + 1048576))
no_space() { fail "no space left on $(file_system) (needs $need bytes beside the package, $(free_space) free): $package is left as it was"; }
available="$(free_space)"
[[ "$available" =~ ^[0-9]+$ ]] || fail "cannot tell the free space in $folder"
((available >= need)) || no_space
# A step that wrote beside the package failed: for want of space, or for the reason given.
write_failed() { # write_failed REASON
    local available used=0
    available="$(free_space)"
    ((!inside)) || used="$({ du -sb -- .. 2>/dev/null || :; } | cut -f 1)"
    [[ "$available" =~ ^[0-9]+$ && "$used" =~ ^[0-9]+$ ]] || no_space
    ((available >= 65536 && available >= need - used)) || no_space
    [[ "$(free_inodes)" != 0 ]] || fail "no room for another file on $(file_system) (no free inodes): $package is left as it was"
    fail "$1"
}

cleanup() {
    # A signal no longer stops the run here: what it did stands, and what it made goes.
    trap '' HUP INT TERM
    # The lock file goes while it is still held, and only when it is still the one this run holds.
    if ((lock_held)) && [[ "$(stat -c '%d:%i' -- "$lock" 2>/dev/null)" == "$(stat -L -c '%d:%i' /dev/fd/9 2>/dev/null)" ]]; then
        rm -f -- "$lock" 2>/dev/null || true
    fi
    # The run's folder is emptied from inside, whatever its path names by now; the folder itself
    # goes when the path still names it.
    if ((inside)) && cd -P .. 2>/dev/null && [[ "$(stat -c '%d:%i' .)" == "$(stat -L -c '%d:%i' /dev/fd/8 2>/dev/null)" ]]; then
        find . -mindepth 1 -delete 2>/dev/null || true
        cd /
        [[ "$(stat -c '%d:%i' -- "$tmp" 2>/dev/null)" != "$(stat -L -c '%d:%i' /dev/fd/8 2>/dev/null)" ]] || rmdir -- "$tmp" 2>/dev/null || true
    fi
}
trap cleanup EXIT

# The run's folder beside the package, entered and locked while the run lives. The run works in it
# by relative names from the folder it made, which only its user can write: another user who can
# write beside the package may rename it or put another folder at its path, but never make the run
# write through a link of theirs. A later run removes the folders of runs that are no longer alive
# (killed, or cut off by a power failure), with the copies in them; a folder that is empty and less
# than a minute old may be a run's that has not locked it yet. (cd -P: a relative cd, never one
# by the path the shell remembers.)
for _ in 1 2 3; do
    # A signal waits until the folder is the run's, or gone.
    defer
    tmp="$(mktemp -d "$folder/.$me.XXXXXX" 2>/dev/null)" || write_failed "cannot write in $folder"
    if cd -- "$tmp" 2>/dev/null && { exec 8<.; } 2>/dev/null && flock -w 10 8 &&
        [[ "$(stat -c '%d:%i' -- "$tmp" 2>/dev/null)" == "$(stat -c '%d:%i' .)" && -O . && -z "$(ls -A)" ]] &&
        mkdir import 2>/dev/null && cd -P import; then
        inside=1
        resume
        break
    fi
    cd /proc 2>/dev/null || cd /
    exec 8<&-
    rmdir -- "$tmp" 2>/dev/null || true
    tmp=""
    resume
done
[[ -n "$tmp" ]] || write_failed "cannot keep a folder of this run in $folder"
for left in "$folder/.$me."??????; do
    [[ "$left" != "$tmp" && -d "$left" && ! -L "$left" ]] || continue
    # shellcheck disable=SC2016 # expanded by the inner shell
    flock -n "$left" sh -c '[ -n "$(ls -A "$1")" ] || [ -z "$(find "$1" -maxdepth 0 -mmin -1)" ] || exit 0
        rm -rf -- "$1"' - "$left" 2>/dev/null || true
done

# Runs on one package take turns through the lock file beside it. The lock path is never followed:
# a file that is there already (another user's, or left by a killed run) is locked through a link in
# this run's folder, or opened for reading, which locks as well as writing; it is a regular file and
# the one at the path when it is locked. The holder removes it before it lets go, so a run that
# waited on a removed file takes the new one.
same_file_at_lock() { [[ -f /dev/fd/9 && "$(stat -c '%d:%i' -- "$lock" 2>/dev/null)" == "$(stat -L -c '%d:%i' /dev/fd/9)" ]]; }
give_up() { fail "another run on $package has held $lock for $wait_limit seconds: gave up (--wait sets how long to wait)"; }
deadline=$((SECONDS + wait_limit))
while :; do
    [[ ! -L "$lock" ]] || fail "$lock is a symbolic link, not a lock file: a lock path is never followed; remove it"
    rm -f -- ../lock
    if [[ -e "$lock" ]]; then
        [[ -f "$lock" ]] || fail "$lock is not a regular file, so it cannot be a lock file: remove it"
        if ln -P -T -- "$lock" ../lock 2>/dev/null; then
            # What was linked is what was checked: a link put at the path meanwhile is never opened.
            [[ -f ../lock && ! -L ../lock ]] || continue
            exec 9<../lock
        elif ! { exec 9<"$lock"; } 2>/dev/null; then
            # Its holder removed it meanwhile.
            [[ -e "$lock" || -L "$lock" ]] || continue
            fail "cannot read the lock file $lock (of $(stat -c %U -- "$lock" 2>/dev/null || echo 'another user')), so runs cannot take turns on $package: make it readable, or remove it"
        fi
    else
        { : >../lock && chmod 644 ../lock; } 2>/dev/null || write_failed "cannot write in $folder"
        # Locked before it is put at the path, so that it is never there unheld by the run that
        # made it; a link cannot be made over anything at the path, the link of another run included.
        exec 9<../lock
        flock -n 9 || fail "cannot lock a file of this run in $folder"
        defer
        if ln -T -- ../lock "$lock" 2>/dev/null; then
            lock_held=1
            resume
            break
        fi
        resume
        exec 9<&-
        [[ -e "$lock" || -L "$lock" ]] || write_failed "cannot write in $folder"
        continue
    fi
    if same_file_at_lock; then
        left_s=$((deadline - SECONDS))
        ((left_s > 0)) || left_s=0
        # In the background, so that a signal stops the wait at once.
        flock -w "$left_s" 9 &
        waiting=$!
        if ! wait "$waiting"; then waiting=""; give_up; fi
        waiting=""
        if same_file_at_lock; then lock_held=1; break; fi
    fi
    exec 9<&-
    ((SECONDS < deadline)) || give_up
done

# The copy, and the package as it was copied: the same file afterwards, and the digest of its content.
work=../package.msi
copied_identity="$(identity)"
cp -- "$package" "$work" 2>/dev/null || write_failed "cannot copy $package to $folder"
copied_digest="$(digest "$work")"
[[ "$(identity)" == "$copied_identity" ]] ||
    fail "$package changed while it was copied (another program wrote it): nothing was replaced; run again"
# Another run, or another program, changed the package since it was read: decide again, from the copy.
if [[ "$copied_identity" != "$read_identity" ]]; then
    read_tables "$work"
    decide "$work"
    stop_if_nothing_to_do
fi
old_revision="$(revision_of "$work")"

# --- The changes, in one msibuild run on the copy. ---
# msibuild imports tables from files named relative to the current folder (the run's folder's
# import/), the Binary table with its streams in a folder named after it.
changes=()
sql() { changes+=(-q "$1"); }
if ((binary == 2)); then
    changes+=(-a Binary.QelCustInst "$dll")
elif ((!binary)); then
    # msibuild can add a stream to a table only by importing the whole table: the Binary table is
    # exported with its streams (names checked first: they become file names) and imported again
    # with the new row.
    while IFS= read -r stream; do
        [[ "$stream" != Binary.* || "${stream#Binary.}" =~ ^[A-Za-z_][A-Za-z0-9_.]*$ ]] ||
            fail "cannot copy the Binary row '${stream#Binary.}'"
    done <<<"$streams"
    if has_table Binary; then
        { quiet msiinfo export "$work" Binary >Binary.idt; } 2>/dev/null || write_failed "cannot read the Binary table of $package"
        [[ "$(tr -d '\r' <Binary.idt | head -n 2)" == $'Name\tData\ns72\tv0' ]] || fail "$package has a Binary table of unknown columns"
        while IFS= read -r stream; do
            [[ "$stream" != Binary.* ]] || cmp -s <(quiet msiinfo extract "$work" "$stream" || :) "Binary/$stream" ||
                write_failed "cannot copy the Binary row ${stream#Binary.}"
        done <<<"$streams"
    else
        { printf 'Name\tData\r\ns72\tv0\r\nBinary\tName\r\n' >Binary.idt; } 2>/dev/null || write_failed "cannot write in $tmp"
    fi
    if ! { mkdir -p Binary && cp -- "$dll" Binary/QelCustInst.ibd && printf 'QelCustInst\tQelCustInst.ibd\r\n' >>Binary.idt; } 2>/dev/null; then
        write_failed "cannot write in $tmp"
    fi
    changes+=(-i Binary.idt)
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
    for table in "${!move[@]}"; do
        sql "UPDATE \`$table\` SET \`Sequence\` = ${move[$table]} WHERE \`Action\` = 'qelAreWeRunningFromCD'"
    done
    if ! has_table Error; then
        # shellcheck disable=SC2016 # backquotes are SQL quoting here
        sql 'CREATE TABLE `Error` (`Error` SHORT NOT NULL, `Message` LONGCHAR LOCALIZABLE PRIMARY KEY `Error`)'
    fi
    has_row Error 26002 || sql "INSERT INTO \`Error\` (\`Error\`, \`Message\`) VALUES (26002, '$prompt')"
fi
# A new package code: a random (version 4) GUID.
hex="$(od -An -v -tx1 -N 16 /dev/urandom | tr -d ' \n')"
hex="${hex:0:12}4${hex:13:3}$(printf '%x' $(((16#${hex:16:1} & 3) | 8)))${hex:17:15}"
revision="{${hex:0:8}-${hex:8:4}-${hex:12:4}-${hex:16:4}-${hex:20:12}}"
revision="${revision^^}"
{ printf 'PropertyId\tValue\r\ni2\tl255\r\n_SummaryInformation\tPropertyId\r\n9\t%s\r\n' "$revision" >_SummaryInformation.idt; } 2>/dev/null ||
    write_failed "cannot write in $tmp"
changes+=(-i _SummaryInformation.idt)
quiet msibuild "$work" "${changes[@]}" >/dev/null || write_failed "msibuild could not change the copy of $package"

# --- Check the copy, read back: msibuild reports success even when a full disk cost it the file. ---
[[ -f "$work" ]] || write_failed "msibuild lost the copy of $package"
available="$(free_space)"
if [[ ! "$available" =~ ^[0-9]+$ ]] || ((available < 65536)); then no_space; fi
before_streams="$streams"
unreadable_reason="msibuild left a copy of $package that msitools cannot read"
read_tables "$work"
if ! cmp -s <(quiet msiinfo extract "$work" Binary.QelCustInst || :) "$dll"; then
    fail "the DLL did not reach the Binary table"
fi
while IFS= read -r stream; do
    [[ -z "$stream" ]] || has_stream "$stream" || fail "the stream $stream of $package did not reach the copy"
    if ((!binary)) && [[ "$stream" == Binary.* ]]; then
        cmp -s <(quiet msiinfo extract "$work" "$stream" || :) "Binary/$stream" || fail "the Binary row ${stream#Binary.} did not reach the copy whole"
    fi
done <<<"$before_streams"
[[ "$(revision_of "$work")" == "$revision" ]] || fail "the new package code did not reach the copy"
if ((!replace)); then
    for action in "${actions[@]}"; do has_row CustomAction "$action" || fail "the CustomAction row $action is missing"; done
    for table in "${!place[@]}" "${!move[@]}"; do
        [[ "$(field "$table" qelAreWeRunningFromCD 3)" == "${place[$table]:-${move[$table]:-}}" ]] ||
            fail "qelAreWeRunningFromCD is not in $table where it should be"
    done
    # msiinfo reads the text back from the package's code page.
    written="$(field Error 26002 2)"
    [[ "$written" == "$expected" ]] || fail "the Error row 26002 reads back as '$written', not as the text given"
fi

# --- Put the copy in the package's place with the package's owner, group and mode, if the
# package is still the file that was copied. ---
unchanged() { [[ "$(identity)" == "$copied_identity" && "$(digest "$package")" == "$copied_digest" ]]; }
changed() { fail "$package changed during the run (another program wrote, moved or removed it): it is left as that program left it, and nothing was replaced; run again to patch it"; }
unchanged || changed
chown --reference="$package" "$work" 2>/dev/null ||
    fail "cannot give the patched copy the owner and group of $package: run as its owner or as root"
chmod --reference="$package" "$work" 2>/dev/null || fail "cannot give the patched copy the mode of $package"
names="$({ stat -c %h -- "$package" 2>/dev/null || :; })"
defer
unchanged || changed
if ((names > 1)); then
    warn "$package has $((names - 1)) other name(s) (hard links): they keep the package as it was, and only $package gets the patched one"
fi
mv -fT -- "$work" "$package" 2>/dev/null || write_failed "cannot put the patched copy in the place of $package"
# The package is patched: a signal from here on waits for the run to report it.
if ((replace)); then
    echo "$me: $package now holds QelCustInst.dll ($dll_size bytes) in place of the one it had"
else
    echo "$me: $package now holds QelCustInst.dll ($dll_size bytes) and its actions"
fi
echo "  package code $revision (was ${old_revision:-none})"
for table in "${!place[@]}"; do echo "  qelAreWeRunningFromCD in $table at ${place[$table]}"; done
for table in "${!move[@]}"; do echo "  qelAreWeRunningFromCD in $table moved from ${moved_from[$table]} to ${move[$table]}"; done
if has_stream DigitalSignature; then
    echo "$me: the package was signed; its signature no longer matches: sign it again"
fi
