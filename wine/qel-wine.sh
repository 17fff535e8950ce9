# shellcheck shell=bash
# qel-wine.sh: what a script needs to run Windows programs and installations under Wine in a
# prefix of its own. Sourced, not run; it defines functions and changes nothing by itself:
#
#   source path/to/qel-wine.sh
#   qw_enter my-run "$work" wixl msibuild   # tools, lock, environment; removes a killed run's folders
#   qw_prefix                               # the prefix, started once and reused
#   qw_drive d cdrom "$work/cd"             # D: is a CD-ROM drive holding the folder $work/cd
#   wine msiexec /i 'D:\Product.msi' /qn /l*v "$work/install.log"
#
# A work folder belongs to one run at a time: qw_enter holds its lock until the script ends, so two
# runs never share a prefix; a second run waits for the first (QW_LOCK_WAIT seconds, default 900).
# The work folder holds:
#   .lock          the lock
#   prefix/        the Wine prefix (WINEPREFIX); prefix/.qel-ready marks a complete first start
#   wineboot.log   what the first start printed
#   runs/          the folders of qw_run_folder, removed when their run ends unless kept; those
#                  of a run that was killed are removed by the next qw_enter
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
#   qw_need NAME TOOL...
#       Fails, naming NAME, unless every TOOL is a command.
#
#   qw_enter NAME WORK [TOOL...]
#       Checks Wine's tools and each TOOL, makes WORK, takes its lock for the rest of the script
#       (descriptor 9, inherited by the programs it starts), removes the folders that killed runs
#       left in WORK/runs, and exports WINEPREFIX=WORK/prefix with the settings that keep Wine
#       quiet, without a display and without its Mono and Gecko prompts. Sets QW_NAME, QW_WORK and
#       an EXIT trap that calls qw_leave (a caller with a trap of its own calls qw_leave from it).
#
#   qw_prefix
#       Makes the prefix ready: a prefix without the ready stamp (new, or left by a killed first
#       start) is removed and started afresh with `wineboot -i` (10 to 50 s); a ready one is reused.
#
#   qw_drive LETTER KIND FOLDER
#       Makes LETTER: (d to y) a drive of KIND (fixed, cdrom, removable or network; floppy is
#       removable) whose root is FOLDER (made if missing). The drive type is written to the
#       prefix's registry only when it changes; the Wine server is then stopped, as Wine reads
#       drive types when it starts. C: is the prefix's own fixed drive (WINEPREFIX/drive_c).
#
#   qw_error_row PACKAGE NUMBER TEXT
#       Gives the package's Error table (created if missing) the row NUMBER with TEXT; a row
#       already there with the same text is kept, one with another text is refused. TEXT is one
#       line without single quotes or tabs.
#
#   qw_place FILE LETTER [NAME]
#       Copies FILE, as NAME (default: its own name), to the root of drive LETTER (made by
#       qw_drive) and prints its Windows path, "D:\NAME". On C:, the prefix's own drive, whose
#       root holds Windows, it goes to C:\qel\NAME.
#
#   qw_run_folder
#       Prints the path of a new, empty folder under WORK/runs for this run's files.
#
#   qw_keep FOLDER
#       Keeps FOLDER (from qw_run_folder) when the run ends, for reading; it is removed by hand.
#
#   qw_winpath PATH
#       Prints PATH as Windows programs in the prefix see it (Z: is the Unix root).
#
#   qw_leave
#       Waits up to a minute for the prefix's Wine server to save and stop, and removes the
#       run's folders that are not kept; in a run that never got the work folder's lock, does
#       nothing. Keeps the exit status it was called with.

qw_fail() { # qw_fail MESSAGE [STATUS]
    echo "${QW_NAME:-qel-wine}: $1" >&2
    exit "${2:-1}"
}

qw_usage() {
    awk '/^# Usage:/ { on = 1; next } on && !/^#/ { exit } on { sub(/^# ?/, ""); print }' "$0" >&2
    exit 2
}

qw_need() {
    local name="$1" tool
    shift
    for tool in "$@"; do
        command -v "$tool" >/dev/null || { echo "$name: $tool is missing; install it first" >&2; exit 1; }
    done
}

qw_enter() {
    (($# >= 2)) || qw_fail "qw_enter needs a name and a work folder" 2
    QW_NAME="$1"
    local folder
    folder="$(realpath -m "$2")"
    shift 2
    qw_need "$QW_NAME" wine wineboot wineserver flock timeout realpath "$@"
    mkdir -p "$folder"
    exec 9>"$folder/.lock"
    flock -w "${QW_LOCK_WAIT:-900}" 9 || qw_fail "$folder is in use by another run"
    # Only the holder of the lock owns the folder: until here, a refused run (and its exit trap,
    # through qw_leave) leaves the other run's prefix and run folders alone.
    QW_WORK="$folder"
    qw_clear_runs
    export WINEPREFIX="$QW_WORK/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    unset DISPLAY WAYLAND_DISPLAY
    trap qw_leave EXIT
}

qw_entered() {
    [[ -n "${QW_WORK:-}" ]] || qw_fail "$1 before qw_enter" 2
}

qw_prefix() {
    qw_entered qw_prefix
    local stamp="$WINEPREFIX/.qel-ready" started="$EPOCHREALTIME"
    [[ ! -f "$stamp" ]] || return 0
    rm -rf "$WINEPREFIX"
    echo "$QW_NAME: first start of the prefix $WINEPREFIX"
    if ! wineboot -i >"$QW_WORK/wineboot.log" 2>&1 || ! wineserver -w; then
        cat "$QW_WORK/wineboot.log" >&2
        qw_fail "Wine could not start the prefix $WINEPREFIX (wineboot -i failed)"
    fi
    touch "$stamp"
    awk -v a="$started" -v b="$EPOCHREALTIME" -v n="$QW_NAME" 'BEGIN { printf "%s: prefix ready in %.1f s\n", n, b - a }'
}

qw_drive() {
    qw_entered qw_drive
    (($# == 3)) || qw_fail "qw_drive needs LETTER KIND FOLDER" 2
    local letter="${1,,}" kind="$2" folder="$3" type
    [[ "$letter" =~ ^[d-y]$ ]] || qw_fail "qw_drive: drive letter '$1' is not one of d to y" 2
    case "$kind" in
        fixed) type=hd ;;
        cdrom) type=cdrom ;;
        removable | floppy) type=floppy ;;
        network) type=network ;;
        *) qw_fail "qw_drive: unknown drive kind '$kind' (fixed, cdrom, removable, network)" 2 ;;
    esac
    [[ -f "$WINEPREFIX/.qel-ready" ]] || qw_fail "qw_drive before qw_prefix" 2
    mkdir -p "$folder"
    ln -sfn "$(realpath "$folder")" "$WINEPREFIX/dosdevices/$letter:"
    local known="$WINEPREFIX/.qel-drives/$letter"
    [[ "$(cat "$known" 2>/dev/null)" != "$type" ]] || return 0
    mkdir -p "${known%/*}"
    rm -f "$known"
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
    local file="$1" letter="${2,,}" name="${3:-${1##*/}}" folder windows
    [[ -f "$file" ]] || qw_fail "$file not found"
    if [[ "$letter" == c ]]; then
        folder="$WINEPREFIX/drive_c/qel" windows="C:\\qel\\"
    else
        folder="$(readlink "$WINEPREFIX/dosdevices/$letter:")" || qw_fail "qw_place: no drive $letter: (qw_drive first)" 2
        windows="${letter^^}:\\"
    fi
    mkdir -p "$folder"
    cp "$file" "$folder/$name"
    printf '%s%s\n' "$windows" "$name"
}

qw_run_folder() {
    qw_entered qw_run_folder
    mkdir -p "$QW_WORK/runs"
    mktemp -d "$QW_WORK/runs/run.XXXXXX"
}

qw_keep() {
    [[ -d "$1" ]] || qw_fail "qw_keep: no folder $1" 2
    touch "$1/.kept"
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
    if [[ -n "${WINEPREFIX:-}" && -d "$WINEPREFIX" ]]; then
        timeout 60 wineserver -w || echo "${QW_NAME:-qel-wine}: the Wine server of $WINEPREFIX is still running" >&2
    fi
    qw_clear_runs
    return "$status"
}

qw_clear_runs() { # removes the run folders in WORK/runs that are not kept
    local run
    for run in "${QW_WORK:?}"/runs/run.*; do
        [[ ! -d "$run" || -f "$run/.kept" ]] || rm -rf "$run"
    done
}
