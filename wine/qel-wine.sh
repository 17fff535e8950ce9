# shellcheck shell=bash
# qel-wine.sh: what a script needs to run Windows programs and installations under Wine in a
# prefix of its own. Sourced, not run; it defines functions (and QW_GID, the caller's group) and
# changes nothing by itself:
#
#   source path/to/qel-wine.sh
#   qw_enter my-run "$work" wixl msibuild   # tools, lock, environment; removes a killed run's folders
#   qw_prefix                               # the prefix, started once and reused
#   qw_drive d cdrom "$work/cd"             # D: is a CD-ROM drive holding the folder $work/cd
#   qw_timeout 600 wine msiexec /i 'D:\Product.msi' /qn /l*v "$work/install.log"
#
# A work folder belongs to one run at a time: qw_enter holds its lock until the script ends, so two
# runs never share a prefix; a second run waits for the first (QW_LOCK_WAIT seconds, default 900).
# The lock is a flock that the kernel lets go when the run ends, however it ends; a run that waits
# names the one it waits for, and a run that finds the lock of one that was killed ends the Windows
# programs it left behind. The programs a run starts never hold the lock.
# The work folder holds:
#   .lock          the lock
#   prefix/        the Wine prefix (WINEPREFIX); prefix/.qel-ready marks a complete first start
#   wineboot.log   what the first start printed
#   runs/          the folders of qw_run_folder, removed when their run ends unless kept; those
#                  of a run that was killed are removed by the next qw_enter
# Run as root where other users can write, a work folder must be the caller's own: the helper
# refuses a work folder, and every folder it makes or writes in, that is a link, that another
# user owns or that others can write, or that lies in a folder another user could rename or
# replace (a sticky folder such as /tmp may hold it). Files are written as fresh files of the
# caller's own, never through a link.
# The functions need bash 4 and set -euo pipefail in the caller; every failure prints a message
# starting with the name given to qw_enter (QW_NAME, which a caller of qw_need, qw_error_row and
# qw_winpath alone may set) and exits (status 1; 2 for a wrong argument).
#
# Functions:
#
#   qw_usage
#       Prints the running script's comment lines from the line after "# Usage:" to the first line
#       that is not a comment, without the "# ", to standard error; exits 2.
#
#   qw_help
#       The same, for help that was asked for: to standard output; exits 0.
#
#   qw_need NAME TOOL...
#       Fails, naming NAME, unless every TOOL is a command.
#
#   qw_enter NAME WORK [TOOL...]
#       Checks Wine's tools and each TOOL, makes WORK (qw_folder), takes its lock for the rest of
#       the script, ends the Windows programs a killed run left in its prefix, removes the folders
#       that killed runs left in WORK/runs, and exports WINEPREFIX=WORK/prefix with the settings
#       that keep Wine quiet, without a display and without its Mono and Gecko prompts. Sets
#       QW_NAME, QW_WORK (WORK with the links above it resolved), an EXIT trap that calls qw_leave
#       (a caller with a trap of its own calls qw_leave from it) and traps for INT, TERM and HUP
#       that end the run's programs (qw_stop) and exit with 128 + the signal's number.
#
#   qw_prefix
#       Makes the prefix ready: a prefix without the ready stamp (new, or left by a killed first
#       start) is removed and started afresh with `wineboot -i` (10 to 50 s); a ready one is reused.
#
#   qw_drive LETTER KIND FOLDER
#       Makes LETTER: (d to y) a drive of KIND (fixed, cdrom, removable or network; floppy is
#       removable) whose root is FOLDER (made by qw_folder if missing). The drive type is written
#       to the prefix's registry only when it changes; the Wine server is then stopped, as Wine
#       reads drive types when it starts. C: is the prefix's own fixed drive (WINEPREFIX/drive_c).
#
#   qw_error_row PACKAGE NUMBER TEXT
#       Gives the package's Error table (created if missing) the row NUMBER with TEXT; a row
#       already there with the same text is kept, one with another text is refused. TEXT is one
#       line without single quotes or tabs.
#
#   qw_place FILE LETTER [NAME]
#       Copies FILE, as NAME (default: its own name), to the root of drive LETTER (made by
#       qw_drive) and prints its Windows path, "D:\NAME". On C:, the prefix's own drive, whose
#       root holds Windows, it goes to C:\qel\NAME. The copy is a fresh file that replaces
#       whatever had that name.
#
#   qw_run_folder
#       Prints the path of a new, empty folder under WORK/runs for this run's files, which only
#       the caller can read.
#
#   qw_keep FOLDER
#       Keeps FOLDER (from qw_run_folder) when the run ends, for reading; it is removed by hand.
#
#   qw_locale_name LOCALE
#       Fails (status 2) unless LOCALE names a UTF-8 locale (ru_RU.UTF-8, ja_JP.utf8, C.UTF-8):
#       Wine reads the Unix paths and arguments it is given in the locale's character set, and
#       this keeps every one of them readable.
#
#   qw_locale LOCALE
#       Starts Wine's programs from here on in LOCALE (checked by qw_locale_name): its ANSI and OEM
#       code pages follow LOCALE, while the language of its programs' messages (the verbose log's
#       "Action start ...", "Return value ...") and the user locale are US English's. A locale
#       the system lacks, or en_US.UTF-8, is made with localedef in WORK/locales, kept with WORK.
#
#   qw_code_page LOCALE
#       Prints the ANSI code page Wine's programs take in LOCALE (1252, 1251, 932, ...; 65001,
#       UTF-8, for a language without one), which its A functions and its logs use.
#
#   qw_text FILE CODE-PAGE
#       Prints the text of FILE as UTF-8, its carriage returns and NULs dropped: UTF-16 after its
#       byte order mark, UTF-8 (with or without one), and otherwise text in CODE-PAGE.
#
#   qw_timeout [--output FILE] SECONDS COMMAND...
#       Runs COMMAND as timeout(1) does (status 124 when it ran out of time, after which the
#       prefix's programs are ended), but in the background, so that a signal to the script ends
#       it at once rather than when COMMAND ends. Its standard input is /dev/null; with --output,
#       both its outputs go to FILE (rather than redirecting qw_timeout, which would take the
#       messages of a signal's trap there too).
#
#   qw_stop
#       Ends the run's programs: the script's background commands and every Wine process of the
#       prefix.
#
#   qw_winpath PATH
#       Prints PATH as Windows programs in the prefix see it (Z: is the Unix root).
#
#   qw_leave
#       Waits up to a minute for the prefix's Wine server to save and stop, removes the run's
#       folders that are not kept and gives the lock up; in a run that never got the work
#       folder's lock, does nothing. Keeps the exit status it was called with.
#
#   qw_folder PATH
#       Makes the folder PATH, and those missing above it, and prints its path with the links
#       above it resolved. Fails when PATH is a link, when another user owns it or others can
#       write it, or when a folder above it is owned by another user than root or the caller,
#       or others can write it without its sticky bit.
#
#   qw_untrusted FOLDER [own]
#       Prints why someone other than the caller and root could change what the existing folder
#       FOLDER holds (another user owns it or a folder above it, or others can write one of them
#       and it is not sticky); prints nothing when no one could. With "own", FOLDER must also be
#       the caller's own and not writable by others, sticky or not.
#
#   qw_abandoned FOLDER
#       Succeeds when FOLDER is a work folder of the caller's that no run holds any more: its lock
#       is free and was left by a run that was killed, or has not changed for a minute.
#
#   qw_exports
#       Reads a Windows DLL (a PE image, 32 or 64-bit) on standard input and prints the names it
#       exports, one a line; fails, printing nothing, when the input is no PE image.

QW_GID="$(id -g)" # the caller's group, which may write the caller's folders

qw_fail() { # qw_fail MESSAGE [STATUS]
    echo "${QW_NAME:-qel-wine}: $1" >&2
    exit "${2:-1}"
}

qw_usage_text() { awk '/^# Usage:/ { on = 1; next } on && !/^#/ { exit } on { sub(/^# ?/, ""); print }' "$0"; }

qw_usage() {
    qw_usage_text >&2
    exit 2
}

qw_help() {
    qw_usage_text
    exit 0
}

qw_need() {
    local name="$1" tool
    shift
    for tool in "$@"; do
        command -v "$tool" >/dev/null || { echo "$name: $tool is missing; install it first" >&2; exit 1; }
    done
}

# --- Folders no one but the caller (and root) can change. ---

qw_untrusted() {
    local real="$1" own="${2:-}" at="" part uid gid mode user group perm mine
    local -a parts=() ats=()
    [[ -z "$own" || ! -L "$real" ]] || { echo "$real is a link"; return 0; }
    [[ -d "$real" ]] || { echo "$real is not a folder"; return 0; }
    real="$(realpath -e -- "$real")"
    IFS=/ read -r -a parts <<<"${real#/}"
    for part in "" "${parts[@]}"; do
        at="${at%/}/$part"
        ats+=("$at")
    done
    mine="${QW_GID:-$(id -g)}"
    # Each folder from the root down, in one call: owner, group, mode and their names.
    while read -r uid gid mode user group at; do
        perm=$((8#$mode))
        if [[ -n "$own" && "$at" == "$real" ]]; then
            ((uid == EUID)) || { echo "$at belongs to $user (uid $uid), not to you"; return 0; }
            ((perm & 8#002)) && { echo "$at can be written by every user"; return 0; }
        else
            if ((uid != 0 && uid != EUID)); then
                [[ "$at" == "$real" ]] || at+=", on the way to $real,"
                echo "$at belongs to $user (uid $uid)"
                return 0
            fi
            # In a sticky folder no one renames or replaces what another user owns.
            ((perm & 8#1000)) && continue
            ((perm & 8#002)) && { echo "$at can be written by every user"; return 0; }
        fi
        if ((perm & 8#020 && gid != 0 && gid != mine)); then
            echo "$at can be written by the group $group"
            return 0
        fi
    done < <(stat -c '%u %g %a %U %G %n' -- "${ats[@]}")
}

qw_folder() {
    local path="$1" dir rest="" part real why
    [[ -n "$path" ]] || qw_fail "qw_folder needs a path" 2
    [[ "$path" == /* ]] || path="$PWD/$path"
    while [[ "$path" == ?*/ ]]; do path="${path%/}"; done
    [[ ! -L "$path" ]] || qw_fail "$path is a link: give the folder it leads to, if it is yours"
    # The part that exists, its links resolved and checked before anything is made in it.
    dir="$path"
    while [[ ! -e "$dir" && ! -L "$dir" ]]; do
        rest="/${dir##*/}$rest"
        dir="${dir%/*}"
        dir="${dir:-/}"
    done
    [[ "$rest/" != */./* && "$rest/" != */../* ]] || qw_fail "$path: a folder to make is named . or .."
    [[ -d "$dir" ]] || qw_fail "$dir is not a folder"
    real="$(realpath -e -- "$dir")" || qw_fail "$dir cannot be resolved"
    if [[ -n "$rest" ]]; then
        why="$(qw_untrusted "$real")"
        [[ -z "$why" ]] || qw_fail "$path cannot be used: $why"
    fi
    while [[ -n "$rest" ]]; do
        part="${rest#/}"
        part="${part%%/*}"
        rest="${rest#/"$part"}"
        real="${real%/}/$part"
        # Never writable by others, whatever the caller's umask.
        (umask "$(printf '%04o' $((8#$(umask) | 8#022)))" && mkdir -- "$real" 2>/dev/null) || true
        [[ -d "$real" && ! -L "$real" ]] || qw_fail "could not make the folder $real"
    done
    why="$(qw_untrusted "$real" own)"
    [[ -z "$why" ]] || qw_fail "$real cannot be used as a folder of this run: $why"
    printf '%s\n' "$real"
}

# --- The lock: a flock on WORK/.lock, held by a process of the run's own. ---
# Bash cannot keep a descriptor from the programs it starts, so the run's shell never opens the
# lock: a holder process of its own does (flock(1), which takes the lock and then sleeps), and the
# kernel ends that holder as soon as the run's shell ends (its parent-death signal), killed or
# not, which lets the lock go. The file's content says only whether the run that held it last left
# as a run should ("" when it did): a run that finds it otherwise ends the programs that run left.

qw_lock_owner() { # qw_lock_owner LOCK: the run that holds LOCK, for a message
    local dev ino id pid="" ppid line
    read -r dev ino < <(stat -c '%d %i' -- "$1") || return 0
    id="$(printf '%02x:%02x:%s' $(((dev >> 8) & 0xfff)) $(((dev & 0xff) | ((dev >> 12) & 0xfff00))) "$ino")"
    while read -r line; do
        read -r -a fields <<<"${line#*:}"
        [[ "${fields[0]}" == FLOCK && "${fields[4]}" == "$id" ]] && pid="${fields[3]}" && break
    done </proc/locks
    [[ -n "$pid" ]] || { echo "a process that has just ended"; return 0; }
    # The holder's parent is the run's shell.
    ppid="$(awk '/^PPid:/ { print $2 }' /proc/"$pid"/status 2>/dev/null)" || true
    [[ -z "$ppid" || "$ppid" == 1 ]] || pid="$ppid"
    echo "process $pid of $(stat -c %U /proc/"$pid" 2>/dev/null || echo 'a user'), $(tr '\0' ' ' </proc/"$pid"/cmdline 2>/dev/null | cut -c1-80)"
}

qw_lock_file() { # qw_lock_file FOLDER: the lock's path, failing when it is not a plain file of the caller's
    local lock="$1/.lock"
    [[ ! -L "$lock" ]] || qw_fail "$lock is a link, not a lock"
    [[ ! -e "$lock" || (-f "$lock" && -O "$lock") ]] ||
        qw_fail "$lock is not a lock of yours: it belongs to $(stat -c %U -- "$lock")"
    printf '%s\n' "$lock"
}

qw_lock() { # qw_lock FOLDER WAIT: takes FOLDER's lock for the rest of the run, waiting up to WAIT seconds
    local folder="$1" wait="$2" lock answer="" line="" from to
    lock="$(qw_lock_file "$folder")" || exit 1
    # Made here, not through a link: the folder is the caller's alone (qw_folder).
    [[ -e "$lock" ]] || : >>"$lock"
    if ! flock -n "$lock" true && ((wait > 0)); then
        echo "${QW_NAME:-qel-wine}: $folder is in use by another run ($(qw_lock_owner "$lock")); waiting up to $wait s" >&2
    fi
    # The holder: flock(1) holds the lock while its command, which says "taken", sleeps; both end with
    # the process that started them. Out of the shell's jobs, so that no `wait` waits for it.
    coproc QW_HOLDER {
        exec setpriv --pdeathsig KILL -- flock -w "$wait" "$lock" \
            setpriv --pdeathsig KILL -- sh -c 'echo taken; exec sleep infinity' </dev/null 2>/dev/null
    }
    QW_LOCK_HOLDER="$QW_HOLDER_PID"
    disown "$QW_LOCK_HOLDER"
    from="${QW_HOLDER[0]}" to="${QW_HOLDER[1]}"
    read -r -u "$from" answer || true
    exec {from}<&- {to}>&-
    if [[ "$answer" != taken ]]; then
        kill "$QW_LOCK_HOLDER" 2>/dev/null || true
        QW_LOCK_HOLDER=""
        qw_fail "$folder is in use by another run ($(qw_lock_owner "$lock"))"
    fi
    # Only a run that held the lock writes in it: the last holder left without clearing it.
    read -r line <"$lock" || true
    QW_LOCK_STALE=0
    [[ -z "$line" ]] || QW_LOCK_STALE=1
    printf 'held by process %s\n' "$BASHPID" >"$lock"
}

qw_unlock() {
    local lock="$QW_WORK/.lock"
    [[ -n "${QW_LOCK_HOLDER:-}" ]] || return 0
    [[ ! -f "$lock" || -L "$lock" ]] || : >"$lock"
    kill "$QW_LOCK_HOLDER" 2>/dev/null || true
    QW_LOCK_HOLDER=""
}

qw_abandoned() {
    local folder="$1" lock="$1/.lock" line=""
    [[ -d "$folder" && ! -L "$folder" && -O "$folder" && ! -L "$lock" ]] || return 1
    if [[ -f "$lock" ]]; then
        flock -n "$lock" true || return 1 # a run holds it
        read -r line <"$lock" || true
    fi
    # A run that was killed left its mark; one made a moment ago may not have locked it yet, and one
    # that has left cleared it: a minute's grace.
    [[ -n "$line" || -z "$(find "$folder" "$lock" -maxdepth 0 -mmin -1 2>/dev/null)" ]]
}

qw_enter() {
    (($# >= 2)) || qw_fail "qw_enter needs a name and a work folder" 2
    QW_NAME="$1"
    local folder="$2"
    shift 2
    qw_need "$QW_NAME" wine wineboot wineserver flock setpriv timeout realpath stat "$@"
    folder="$(qw_folder "$folder")" || exit 1
    qw_lock "$folder" "${QW_LOCK_WAIT:-900}"
    # Only the holder of the lock owns the folder: until here, a refused run (and its exit trap,
    # through qw_leave) leaves the other run's prefix and run folders alone.
    QW_WORK="$folder"
    export WINEPREFIX="$QW_WORK/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    unset DISPLAY WAYLAND_DISPLAY
    trap qw_leave EXIT
    trap 'qw_interrupted INT 130' INT
    trap 'qw_interrupted TERM 143' TERM
    trap 'qw_interrupted HUP 129' HUP
    # A run that was killed may have left its Windows programs running in the prefix.
    if ((QW_LOCK_STALE)) && [[ -d "$WINEPREFIX" ]]; then
        wineserver -k 2>/dev/null || true
    fi
    qw_clear_runs
}

qw_entered() {
    [[ -n "${QW_WORK:-}" ]] || qw_fail "$1 before qw_enter" 2
}

qw_prefix() {
    qw_entered qw_prefix
    local stamp="$WINEPREFIX/.qel-ready" started="$EPOCHREALTIME"
    if [[ -f "$stamp" ]]; then
        qw_folder "$WINEPREFIX" >/dev/null || exit 1
        return 0
    fi
    [[ ! -L "$WINEPREFIX" ]] || qw_fail "$WINEPREFIX is a link"
    rm -rf -- "$WINEPREFIX"
    qw_folder "$WINEPREFIX" >/dev/null || exit 1
    rm -f -- "$QW_WORK/wineboot.log"
    echo "$QW_NAME: first start of the prefix $WINEPREFIX"
    if ! wineboot -i >"$QW_WORK/wineboot.log" 2>&1 || ! wineserver -w; then
        cat "$QW_WORK/wineboot.log" >&2
        qw_fail "Wine could not start the prefix $WINEPREFIX (wineboot -i failed)"
    fi
    touch "$stamp"
    LC_ALL=C awk -v a="$started" -v b="$EPOCHREALTIME" -v n="$QW_NAME" 'BEGIN { printf "%s: prefix ready in %.1f s\n", n, b - a }'
}

qw_drive() {
    qw_entered qw_drive
    (($# == 3)) || qw_fail "qw_drive needs LETTER KIND FOLDER" 2
    local letter="${1,,}" kind="$2" folder="$3" type known
    [[ "$letter" =~ ^[d-y]$ ]] || qw_fail "qw_drive: drive letter '$1' is not one of d to y" 2
    case "$kind" in
        fixed) type=hd ;;
        cdrom) type=cdrom ;;
        removable | floppy) type=floppy ;;
        network) type=network ;;
        *) qw_fail "qw_drive: unknown drive kind '$kind' (fixed, cdrom, removable, network)" 2 ;;
    esac
    [[ -f "$WINEPREFIX/.qel-ready" ]] || qw_fail "qw_drive before qw_prefix" 2
    folder="$(qw_folder "$folder")" || exit 1
    ln -sfn -- "$folder" "$WINEPREFIX/dosdevices/$letter:"
    known="$(qw_folder "$WINEPREFIX/.qel-drives")" || exit 1
    known+="/$letter"
    [[ "$(cat "$known" 2>/dev/null)" != "$type" ]] || return 0
    rm -f -- "$known"
    # Drive types live in the 64-bit view; without /reg:64 they land under Wow6432Node, unread.
    wine reg add 'HKLM\Software\Wine\Drives' /v "$letter:" /t REG_SZ /d "$type" /f /reg:64 >/dev/null ||
        qw_fail "could not set the type of drive $letter: in $WINEPREFIX"
    timeout 60 wineserver -w || qw_fail "the Wine server of $WINEPREFIX did not stop"
    echo "$type" >"$known"
}

qw_error_row() {
    (($# == 3)) || qw_fail "qw_error_row needs PACKAGE NUMBER TEXT" 2
    local package="$1" number="$2" text="$3" present
    qw_need "${QW_NAME:-qel-wine}" msibuild msiinfo
    [[ -f "$package" ]] || qw_fail "$package not found"
    if [[ ! "$number" =~ ^[0-9]{1,5}$ ]] || ((10#$number > 32767)); then
        qw_fail "Error-table number '$number' is not 0 to 32767" 2
    fi
    number=$((10#$number))
    # The text goes into SQL between single quotes and comes back in a tab-separated export.
    [[ -n "$text" && "$text" != *[\'$'\t\r\n']* ]] ||
        qw_fail "the Error-table text must be one line without single quotes or tabs" 2
    # grep -c, not -q, at the end of a pipe: under pipefail the early exit of -q can fail the writer.
    if ! msiinfo tables "$package" | grep -cx Error >/dev/null; then
        # shellcheck disable=SC2016 # backquotes are SQL quoting here
        msibuild "$package" -q 'CREATE TABLE `Error` (`Error` SHORT NOT NULL, `Message` LONGCHAR LOCALIZABLE PRIMARY KEY `Error`)' ||
            qw_fail "msibuild could not create the Error table in $package"
    fi
    present="$(qw_error_text "$package" "$number")"
    if [[ -z "$present" ]]; then
        msibuild "$package" -q "INSERT INTO \`Error\` (\`Error\`, \`Message\`) VALUES ($number, '$text')" ||
            qw_fail "msibuild could not add Error row $number to $package"
        present="$(qw_error_text "$package" "$number")"
    fi
    [[ "$present" == "$text" ]] || qw_fail "$package has an Error row $number with another text: $present"
}

qw_error_text() { # qw_error_text PACKAGE NUMBER: the text of that Error row, empty without it
    msiinfo export "$1" Error | tr -d '\r' | awk -F '\t' -v n="$2" 'NR > 3 && $1 == n { print $2 }'
}

qw_place() {
    qw_entered qw_place
    (($# == 2 || $# == 3)) || qw_fail "qw_place needs FILE LETTER [NAME]" 2
    local file="$1" letter="${2,,}" name="${3:-${1##*/}}" folder windows fresh
    [[ -f "$file" ]] || qw_fail "$file not found"
    [[ -n "$name" && "$name" != */* && "$name" != . && "$name" != .. ]] || qw_fail "qw_place: '$name' is not a file name" 2
    if [[ "$letter" == c ]]; then
        folder="$WINEPREFIX/drive_c/qel" windows="C:\\qel\\"
    else
        folder="$(readlink "$WINEPREFIX/dosdevices/$letter:")" || qw_fail "qw_place: no drive $letter: (qw_drive first)" 2
        windows="${letter^^}:\\"
    fi
    folder="$(qw_folder "$folder")" || exit 1
    # A fresh file renamed into place: whatever had the name, a link included, is replaced.
    fresh="$(mktemp "$folder/.qw-place.XXXXXX")" || qw_fail "could not write in $folder"
    if ! { cp -- "$file" "$fresh" && chmod 644 "$fresh" && mv -fT -- "$fresh" "$folder/$name"; }; then
        rm -f -- "$fresh"
        qw_fail "could not place $file as $folder/$name"
    fi
    printf '%s%s\n' "$windows" "$name"
}

# --- The locale Wine starts in. ---

qw_locale_name() {
    local name="$1"
    [[ "$name" =~ ^[A-Za-z]{1,8}(_[A-Za-z0-9]{2,3})?\.([A-Za-z0-9-]+)(@[A-Za-z0-9]+)?$ ]] ||
        qw_fail "'$name' is not a locale name such as ru_RU.UTF-8" 2
    [[ "${BASH_REMATCH[2],,}" == utf-8 || "${BASH_REMATCH[2],,}" == utf8 ]] ||
        qw_fail "the locale $name is not a UTF-8 one: Wine could not read every path and value in it; give ${name%%.*}.UTF-8" 2
}

qw_usable_locale() { # qw_usable_locale LOCALE: the C library can set LOCALE, a UTF-8 one
    [[ "$(LC_ALL="$1" locale charmap 2>&1)" == UTF-8 ]]
}

qw_locale() {
    qw_entered qw_locale
    local name="$1" made wanted missing=()
    qw_locale_name "$name"
    for wanted in "$name" en_US.UTF-8; do qw_usable_locale "$wanted" || missing+=("$wanted"); done
    if ((${#missing[@]})); then
        # Once LOCPATH is set the C library looks nowhere else: both locales are made there.
        made="$(qw_folder "$QW_WORK/locales")" || exit 1
        for wanted in "$name" en_US.UTF-8; do
            [[ ! -e "$made/$wanted" && "$wanted" != C.* ]] || continue
            [[ -f "/usr/share/i18n/locales/${wanted%%.*}" ]] ||
                qw_fail "the locale $wanted is neither installed nor can it be made: there is no /usr/share/i18n/locales/${wanted%%.*} (install Debian's locales package, or run scripts/setup.sh)" 2
            localedef -i "${wanted%%.*}" -f UTF-8 "$made/$wanted" >/dev/null 2>&1 ||
                qw_fail "localedef could not make the locale $wanted in $made"
        done
        # The C library's own folder after it, for the locales kept as folders there (C.utf8).
        export LOCPATH="$made:/usr/lib/locale"
        for wanted in "$name" en_US.UTF-8; do
            qw_usable_locale "$wanted" || qw_fail "the locale $wanted made in $made cannot be used"
        done
    fi
    # The locale of every category but the messages: Wine takes its code pages from LC_CTYPE, and
    # its programs' language and the user locale from LC_MESSAGES.
    unset LC_ALL LANGUAGE LC_CTYPE LC_NUMERIC LC_TIME LC_COLLATE LC_MONETARY LC_PAPER LC_NAME \
        LC_ADDRESS LC_TELEPHONE LC_MEASUREMENT LC_IDENTIFICATION
    export LANG="$name" LC_MESSAGES=en_US.UTF-8
}

qw_code_page() {
    local language="${1%%[_.@]*}" territory=""
    [[ "$1" != *_* ]] || territory="${1#*_}" territory="${territory%%[.@]*}"
    case "${language,,}" in
        cs | hu | pl | ro | hr | sk | sl | sq | bs) echo 1250 ;;
        ru | uk | be | bg | mk | kk | ky | tt | mn | ba | sah) echo 1251 ;;
        sr) if [[ "$1" == *@latin* ]]; then echo 1250; else echo 1251; fi ;;
        el) echo 1253 ;;
        tr | az | uz) echo 1254 ;;
        he) echo 1255 ;;
        ar | fa | ur | ps | ug) echo 1256 ;;
        et | lv | lt) echo 1257 ;;
        vi) echo 1258 ;;
        th) echo 874 ;;
        ja) echo 932 ;;
        ko) echo 949 ;;
        zh) case "${territory^^}" in TW | HK | MO) echo 950 ;; *) echo 936 ;; esac ;;
        hi | bn | ta | te | mr | gu | kn | ml | pa | or | as | ne | si | km | lo | am | hy | ka | bo | dv | sa | kok | mni | sat | brx | doi | mai | ks | sd)
            echo 65001 ;;
        *) echo 1252 ;;
    esac
}

qw_text() {
    local file="$1" page="$2" bom
    bom="$(head -c 3 -- "$file" | od -An -tx1 | tr -d ' \n')"
    case "$bom" in
        fffe*) tail -c +3 -- "$file" | iconv -c -f UTF-16LE -t UTF-8 ;;
        feff*) tail -c +3 -- "$file" | iconv -c -f UTF-16BE -t UTF-8 ;;
        efbbbf) tail -c +4 -- "$file" ;;
        *)
            # Text in a code page of Windows hardly ever reads as UTF-8: what does is taken as such.
            if [[ "$page" == 65001 ]] || iconv -f UTF-8 -t UTF-8 -- "$file" >/dev/null 2>&1; then
                cat -- "$file"
            else
                iconv -c -f "CP$page" -t UTF-8 -- "$file"
            fi
            ;;
    esac | tr -d '\0\r'
}

qw_run_folder() {
    qw_entered qw_run_folder
    local runs
    runs="$(qw_folder "$QW_WORK/runs")" || exit 1
    mktemp -d "$runs/run.XXXXXX"
}

qw_keep() {
    [[ -d "$1" && ! -L "$1" ]] || qw_fail "qw_keep: no folder $1" 2
    : >>"$1/.kept"
}

qw_timeout() {
    local output=/dev/stdout pid status=0
    if [[ "${1:-}" == --output ]]; then
        output="${2:?}"
        shift 2
    fi
    (($# >= 2)) || qw_fail "qw_timeout needs SECONDS COMMAND" 2
    if [[ "$output" == /dev/stdout ]]; then
        timeout "$@" </dev/null &
    else
        timeout "$@" </dev/null >"$output" 2>&1 &
    fi
    pid=$!
    wait "$pid" || status=$?
    if ((status == 124)) && [[ -n "${WINEPREFIX:-}" && -d "$WINEPREFIX" ]]; then
        wineserver -k 2>/dev/null || true
    fi
    return "$status"
}

qw_stop() {
    local pids
    pids="$(jobs -pr)"
    # shellcheck disable=SC2086 # one process id a word
    [[ -z "$pids" ]] || kill $pids 2>/dev/null || true
    if [[ -n "${WINEPREFIX:-}" && -d "$WINEPREFIX" ]]; then
        wineserver -k 2>/dev/null || true
    fi
}

qw_interrupted() { # qw_interrupted SIGNAL STATUS: the trap of a signal in an entered run
    trap - INT TERM HUP
    echo "${QW_NAME:-qel-wine}: stopped by SIG$1; ending the run's programs" >&2
    qw_stop
    exit "$2"
}

qw_winpath() {
    local path
    path="$(realpath -m "$1")"
    printf 'Z:%s\n' "${path//\//\\}"
}

qw_leave() {
    local status=$?
    # A run that never got the folder's lock has nothing of its own to stop or clear.
    [[ -n "${QW_WORK:-}" ]] || return "$status"
    # A signal from here on ends the run's programs, and the leaving goes on.
    trap qw_stop INT TERM HUP
    if [[ -n "${WINEPREFIX:-}" && -d "$WINEPREFIX" ]]; then
        qw_timeout 60 wineserver -w || echo "${QW_NAME:-qel-wine}: the Wine server of $WINEPREFIX is still running" >&2
    fi
    qw_clear_runs
    qw_unlock
    return "$status"
}

qw_clear_runs() { # removes the run folders in WORK/runs that are not kept
    local runs="${QW_WORK:?}/runs" run
    # Only a folder of the caller's own: never through a link to another run's folders.
    [[ -d "$runs" && ! -L "$runs" && -O "$runs" ]] || return 0
    for run in "$runs"/run.*; do
        [[ ! -d "$run" || -L "$run" || -f "$run/.kept" ]] || rm -rf -- "$run"
    done
}

qw_exports() {
    # The PE headers lie in the first 64 KiB; of the rest, only the export directory is kept.
    od -An -v -tu1 | awk '
        function u(at, n,   v, i) { v = 0; for (i = n - 1; i >= 0; i--) v = v * 256 + b[at + i]; return v }
        function offset(rva,   i) {
            for (i = 0; i < sections; i++)
                if (rva >= address[i] && rva < address[i] + extent[i]) return rva - address[i] + raw[i]
            return -1
        }
        function headers(   pe, optional, magic, directories, table, i) {
            parsed = 1
            if (b[0] != 77 || b[1] != 90) { bad = 1; return }
            pe = u(60, 4)
            if (pe + 24 > limit || u(pe, 4) != 17744) { bad = 1; return }   # "PE\0\0"
            sections = u(pe + 6, 2)
            optional = pe + 24
            magic = u(optional, 2)
            if (magic == 267) directories = optional + 96        # PE32
            else if (magic == 523) directories = optional + 112  # PE32+
            else { bad = 1; return }
            table = optional + u(pe + 20, 2)
            if (table + 40 * sections > limit) { bad = 1; return }
            for (i = 0; i < sections; i++) {
                extent[i] = u(table + 40 * i + 8, 4)
                if (u(table + 40 * i + 16, 4) > extent[i]) extent[i] = u(table + 40 * i + 16, 4)
                address[i] = u(table + 40 * i + 12, 4)
                raw[i] = u(table + 40 * i + 20, 4)
            }
            if (u(directories - 4, 4) < 1 || u(directories, 4) == 0) { none = 1; return }
            first = offset(u(directories, 4))
            last = first + u(directories + 4, 4)
            if (first < 0) bad = 1
        }
        BEGIN { limit = 65536; at = 0 }
        {
            for (i = 1; i <= NF; i++) {
                if (at < limit || (at >= first && at < last)) b[at] = $i
                if (++at == limit) headers()
            }
        }
        END {
            if (!parsed) headers()
            if (bad) exit 1
            if (none) exit 0
            count = u(first + 24, 4)
            names = offset(u(first + 32, 4))
            for (n = 0; n < count; n++) {
                at = offset(u(names + 4 * n, 4))
                if (!(at in b)) exit 1
                name = ""
                while ((at in b) && b[at] + 0 != 0) name = name sprintf("%c", b[at++] + 0)
                print name
            }
        }'
}
