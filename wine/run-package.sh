#!/usr/bin/env bash
# Installs a package under Wine's Windows Installer from a drive of the given type, in a Wine prefix
# of this run's own, and prints what happened: the installer's exit code, whether the product is
# installed afterwards, the final value of each property asked for, each custom action's return
# value (or that it was only scheduled), the report of every action that failed with one
# ("report:") and the other lines the action logged ("info:"). It prints UTF-8.
#
# Usage:
#   run-package.sh --drive cdrom|fixed|removable|network [--property NAME]... [--file PATH]...
#                  [--ui qn|qb|qr|qf] [--program EXE [--program-arg ARG]...] [--uninstall] [--expect CODE]
#                  [--work DIR] [--log FILE] [--locale LOCALE] PACKAGE.msi [NAME=VALUE]...
#
#   --drive      the type of drive the package is installed from: cdrom (D:), fixed (C:),
#                removable (E:) or network (F:); the package lies at the drive's root
#                (C:\qel\ on the fixed drive)
#   --property   print this property's final value (repeatable), as the verbose log holds it: in
#                the ANSI code page of the locale, so that a character the code page lacks shows
#                as '?' or a look-alike (é as e under 1251); a locale whose code page is UTF-8
#                (hi_IN.UTF-8) keeps every one
#   --file       print the lines of this file of the prefix (a Windows path, C:\Product\app.ini)
#                after the installation, "file: PATH" and one "file| LINE" each, or "file: PATH
#                (none)" where there is none; with --uninstall also after the removal, as
#                "file after uninstall: PATH ..." (repeatable). A file with a byte order mark is read
#                as UTF-16 or UTF-8, one without as UTF-8 when it reads as such, and otherwise as
#                text in the ANSI code page of the locale
#   --ui         the installer's user interface, as msiexec's /q option (default qn: none). Wine
#                runs without a display here, so the installer cannot show its own dialogs: a
#                warning sent at qr or qf is refused (MsiProcessMessage answers -1). To answer
#                dialogs as a user would, install with --program.
#   --program    install with this Windows program instead of msiexec: it is run in the prefix as
#                EXE [ARG]... PACKAGE LOG [NAME=VALUE]... (Windows paths), must write a verbose log
#                to LOG and exit with the installation's result; its output is shown
#   --program-arg  an argument for the program, before the package (repeatable)
#   --uninstall  after an installation that answered 0, remove the product again (msiexec /x); a
#                removal that fails prints its exit code, its actions' reports and where its
#                verbose log was kept
#   --expect     the exit code that counts as success (default 0)
#   --work       keep the Wine prefix in the folder DIR (DIR/prefix, made on first use and reused
#                after: the first start takes 10 to 50 s); DIR is locked for the run, and a run that
#                finds it locked is refused. DIR must be your own: not a link, in no folder another
#                user could change. A product an earlier run left installed there is named as such.
#                Without --work the prefix is in a temporary folder (under TMPDIR) removed at the
#                end, or by a later run when this one was killed. Either path must be UTF-8 without
#                " % & | < > ^ ( ) ; , =, which Wine's cmd would misread.
#   --log        keep the verbose log of the installation as FILE (written afresh: a file or link
#                there is replaced)
#   --locale     the UTF-8 locale Wine starts in (default: the caller's, when it is a UTF-8 one,
#                else C.UTF-8). Its ANSI code page (1252 for C.UTF-8 and en_US, 1251 for ru_RU,
#                932 for ja_JP, UTF-8 for hi_IN) is the one the package's actions and the verbose
#                log see; the messages of Wine's programs, the log's included, and the user locale
#                (UserLanguageID) are US English's. A locale the system lacks is made with
#                localedef in the work folder (Debian's locales package holds their sources).
#   NAME=VALUE   public properties for the installation, after the package, in any script: they
#                reach the installer whole
#
# Before Wine starts, each custom action that calls a DLL from the Binary table is checked against
# the names that DLL exports: one whose entry point is missing refuses the package.
#
# Exit status: 0 when the installer answered CODE (and the removal asked for answered 0), 1 when it
# answered anything else or the run could not be made, 2 for a refused command line or package;
# 128 + its number when a signal ended the run (its Windows programs with it).
set -euo pipefail

me="run-package"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=wine/qel-wine.sh
source "$here/qel-wine.sh"
QW_NAME="$me"
refuse() { echo "$me: $*" >&2; exit 2; }
fail() { echo "$me: $*" >&2; exit 1; }
own_file() { [[ -f "$1" && ! -L "$1" && -O "$1" ]]; } # a file of this run's, not one put in its place
utf8() { iconv -f UTF-8 -t UTF-8 <<<"$1" >/dev/null 2>&1; } # whether the text is UTF-8 (the locale's character set)

drive="" ui=qn program="" uninstall=0 expect=0 work="" keep_log="" locale=""
properties=()
files=()
program_args=()
while (($#)); do
    case "$1" in
        --drive | --property | --file | --ui | --program | --program-arg | --expect | --work | --log | --locale)
            (($# >= 2)) || refuse "$1 needs a value (see --help)" ;;
    esac
    case "$1" in
        --drive) drive="$2"; shift 2 ;;
        --property) properties+=("$2"); shift 2 ;;
        --file) files+=("$2"); shift 2 ;;
        --ui) ui="$2"; shift 2 ;;
        --program) program="$2"; shift 2 ;;
        --program-arg) program_args+=("$2"); shift 2 ;;
        --uninstall) uninstall=1; shift ;;
        --expect) expect="$2"; shift 2 ;;
        --work) work="$2"; shift 2 ;;
        --log) keep_log="$2"; shift 2 ;;
        --locale) locale="$2"; shift 2 ;;
        -h | --help) qw_help ;;
        --) shift; break ;;
        -*) refuse "unknown option '$1' (see --help)" ;;
        *) break ;;
    esac
done
(($#)) || refuse "no package given (see --help)"
package="$1"
shift
settings=("$@")

# --- The command line and the package. ---
declare -A letter=([cdrom]=D [fixed]=C [removable]=E [network]=F)
name_pattern='^[A-Za-z_][A-Za-z0-9_.]*'
if [[ ! -e "$package" && "$package" =~ $name_pattern= ]]; then
    refuse "'$package' stands before the package: properties (NAME=VALUE) come after it, as in: run-package.sh --drive cdrom PACKAGE.msi $package"
fi
[[ -n "$drive" ]] || refuse "no drive type given: --drive cdrom|fixed|removable|network"
[[ -n "${letter[$drive]:-}" ]] || refuse "unknown drive type '$drive': give cdrom, fixed, removable or network"
[[ "$ui" =~ ^q[nbrf][+-]?$ ]] || refuse "unknown user interface '$ui': give qn, qb, qr or qf"
[[ "$expect" =~ ^-?[0-9]{1,10}$ ]] || refuse "--expect '$expect' is not an exit code"
if [[ -n "$locale" ]]; then
    qw_locale_name "$locale"
else
    # The caller's own, when Wine can be started in it.
    locale="${LC_ALL:-${LC_CTYPE:-${LANG:-}}}"
    if ! (qw_locale_name "$locale") 2>/dev/null || ! qw_usable_locale "$locale"; then locale=C.UTF-8; fi
fi
code_page="$(qw_code_page "$locale")"
# As a number: 0003 is 3.
if [[ "$expect" == -* ]]; then expect=$((-10#${expect#-})); else expect=$((10#$expect)); fi
for name in "${properties[@]}"; do
    [[ "$name" =~ $name_pattern$ ]] || refuse "--property '$name' is not a property name"
done
for file in "${files[@]}"; do
    [[ "$file" =~ ^[A-Za-z]:\\ && "$file" != *'\..'* ]] ||
        refuse "--file '$file' is not a Windows path from a drive's root (C:\\Folder\\file.txt) without '..'"
done
# The settings travel through Wine's cmd: nothing there may end a line or be expanded by cmd.
unsafe=$'*["%&|<>^\r\n]*'
for arg in "${program_args[@]}"; do
    # shellcheck disable=SC2053 # $unsafe is a pattern
    [[ "$arg" != $unsafe ]] || refuse "--program-arg '$arg' holds one of \" % & | < > ^ or a line break"
done
for setting in "${settings[@]}"; do
    [[ "$setting" != -* ]] || refuse "'$setting' stands after the package: options come before it"
    # shellcheck disable=SC2053 # $unsafe is a pattern
    [[ "$setting" =~ $name_pattern= && "$setting" != $unsafe ]] ||
        refuse "'$setting' is not NAME=VALUE with a value free of \" % & | < > ^ and line breaks"
done
[[ -e "$package" ]] || refuse "package $package not found"
[[ -f "$package" && -r "$package" ]] || refuse "package $package is not a readable file"
if [[ -n "$program" ]]; then
    [[ -f "$program" && -r "$program" ]] || refuse "program $program not found"
fi
if [[ -n "$keep_log" ]]; then
    [[ ! -L "$keep_log" ]] || refuse "--log $keep_log is a link: give the file itself"
    [[ ! -d "$keep_log" ]] || refuse "--log $keep_log is a folder: give a file"
    [[ -d "$(dirname -- "$keep_log")" ]] || refuse "--log $keep_log: there is no folder $(dirname -- "$keep_log")"
    why="$(qw_untrusted "$(dirname -- "$keep_log")")"
    [[ -z "$why" ]] || refuse "--log $keep_log cannot be written safely: $why"
fi
qw_need "$me" wine wineboot wineserver flock timeout realpath msiinfo od
msiinfo tables "$package" >/dev/null 2>&1 || refuse "$package is not an installer database"
package_name="${package##*/}"
# A name Windows or cmd could not take is replaced.
if ! utf8 "$package_name" || LC_ALL=C grep -q '[[:cntrl:]\\/:*?"<>|%&^]' <<<"$package_name"; then
    package_name=package.msi
fi

# --- Each action that calls a DLL of the Binary table (type 1, whatever its option bits), against
# the names that DLL exports: the installer would only say that the action failed. ---
# A Binary row's data is the stream "Binary.NAME". (Exporting the table would write its streams
# to files in the current folder.)
declare -A stream=() exports=()
while IFS= read -r name; do
    [[ "$name" != Binary.* ]] || stream[${name#Binary.}]="$name"
done < <(msiinfo streams "$package" 2>/dev/null | tr -d '\r')
faults=()
while IFS=$'\t' read -r action type source target _; do
    if [[ ! "$type" =~ ^-?[0-9]+$ ]] || (((type & 63) != 1)); then continue; fi
    if [[ -z "${stream[$source]+set}" ]]; then
        faults+=("the action $action calls '$target' in the Binary row '$source', which the package does not have")
        continue
    fi
    if [[ -z "${exports[$source]+set}" ]]; then
        exports[$source]="$(msiinfo extract "$package" "${stream[$source]}" 2>/dev/null | qw_exports)" ||
            exports[$source]=$'\n' # no DLL: no name matches
    fi
    if [[ "${exports[$source]}" == $'\n' ]]; then
        faults+=("the action $action calls '$target' in the Binary row '$source', which holds no Windows DLL")
    elif [[ -z "$target" ]] || ! grep -qxF -- "$target" <<<"${exports[$source]}"; then
        list="$(paste -sd, <<<"${exports[$source]}" | sed 's/,/, /g')"
        faults+=("the action $action calls '$target', which its DLL (Binary row '$source') does not export (it exports: ${list:-nothing})")
    fi
done < <(msiinfo export "$package" CustomAction 2>/dev/null | tr -d '\r' | tail -n +4)
if ((${#faults[@]})); then
    printf '%s\n' "${faults[@]/#/$me: }" >&2
    refuse "$package is refused: the installer would fail the action(s) above, whose entry points are missing"
fi

# --- The prefix: this run's own, in a work folder locked while it runs (qel-wine.sh). ---
temporary=""
leave() {
    qw_leave || true
    if [[ -n "$temporary" ]]; then rm -rf -- "$temporary"; fi
}
# Wine reads the paths it is given in the locale's character set, UTF-8, and Wine's cmd takes some
# characters of a path in the command it runs as its own (% expands, the others end or split the
# command): the work folder's path, with the links above it resolved, must be UTF-8 without them.
cmd_special='"%&|<>^();,='
cmd_unsafe() { # cmd_unsafe PATH: why Wine's cmd cannot name files under PATH, nothing when it can
    local path where=""
    for path in "$1" "$(realpath -m -- "$1")"; do
        [[ "$path" == "$1" ]] || where=" (it leads to $path)"
        if ! utf8 "$path"; then
            echo "is not a UTF-8 path$where, which Wine in the locale $locale could not read"
            return
        fi
        if [[ "$path" == *["$cmd_special"]* ]]; then
            echo "holds one of $(sed 's/./& /g; s/ $//' <<<"$cmd_special")$where, which Wine's cmd would misread"
            return
        fi
    done
}
temporaries="${TMPDIR:-/tmp}"
if [[ -z "$work" ]]; then
    why="$(cmd_unsafe "$temporaries")"
    [[ -z "$why" ]] || refuse "the temporary folder $temporaries $why: set TMPDIR or give --work DIR"
    why="$(qw_untrusted "$temporaries")"
    [[ -z "$why" ]] || refuse "the temporary folder $temporaries cannot be used: $why; set TMPDIR or give --work DIR"
    # The prefixes of runs that were killed (1 GB and more each).
    for old in "$temporaries"/qel-run-package.*; do
        if qw_abandoned "$old"; then
            [[ ! -d "$old/prefix" ]] || WINEPREFIX="$old/prefix" wineserver -k 2>/dev/null || true
            rm -rf -- "$old"
        fi
    done
    temporary="$(mktemp -d "$temporaries/qel-run-package.XXXXXX")"
    work="$temporary"
elif why="$(cmd_unsafe "$work")" && [[ -n "$why" ]]; then
    refuse "--work $work $why"
elif [[ -L "${work%/}" ]]; then
    refuse "--work $work is a link: give the folder itself"
elif [[ -d "$work" ]]; then
    why="$(qw_untrusted "$work" own)"
    [[ -z "$why" ]] || refuse "--work $work cannot be used: $why"
    [[ -e "$work/.lock" || -z "$(ls -A "$work")" ]] || refuse "$work is neither empty nor a work folder of an earlier run"
else
    above="$(dirname -- "$work")"
    while [[ ! -e "$above" ]]; do above="$(dirname -- "$above")"; done
    why="$(qw_untrusted "$above")"
    [[ -z "$why" ]] || refuse "--work $work cannot be made: $why"
fi
trap leave EXIT
# Another run holding the folder is not waited for: this run is refused at once.
QW_LOCK_WAIT=0 qw_enter "$me" "$work" msiinfo iconv
trap leave EXIT # in place of the one qw_enter set
qw_locale "$locale"
reused=0
[[ ! -f "$WINEPREFIX/.qel-ready" ]] || reused=1
qw_prefix
for kind in cdrom removable network; do qw_drive "${letter[$kind]}" "$kind" "$QW_WORK/drives/$kind"; done

# A package without a Property table, or without a ProductCode, leaves the answer open.
product="$( (msiinfo export "$package" Property 2>/dev/null || true) | tr -d '\r' | sed -n 's/^ProductCode\t//p')"
registered() { # whether the product is registered: a 32-bit package's in the 32-bit view, an x64 one's in the 64-bit view
    local view
    [[ -n "$product" ]] || return 2
    for view in 32 64; do
        wine reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product" "/reg:$view" >/dev/null 2>&1 &&
            return 0
    done
    return 1
}
before=0
if ((reused)) && registered; then before=1; fi

# --- The installation, through a batch file so that the whole exit code comes back. Wine's cmd
# reads a batch file in the OEM code page, but an environment variable whole, as Wine took it from
# the locale's UTF-8: the file holds nothing but ASCII, and the command comes in QEL_RUN_COMMAND. ---
run="$(qw_run_folder)"
run_win="$(qw_winpath "$run")"
msi_win="$(qw_place "$package" "${letter[$drive]}" "$package_name")"

# run_batch WHAT SECONDS COMMAND: runs the Windows COMMAND through the batch file WHAT.cmd in the
# run's folder, as Unix sees only the low byte of an exit code, and sets `answer` to its code; what
# it printed is in WHAT.out. Not in a subshell: a signal must reach the run's traps at once.
run_batch() {
    local what="$1" seconds="$2" command="$3" status=0
    answer=""
    # The redirection first: "echo 3>file" would be read as a redirection of handle 3.
    printf '@echo off\r\n%%QEL_RUN_COMMAND%%\r\n>"%%QEL_RUN_EXIT%%" echo %%ERRORLEVEL%%\r\n' >"$run/$what.cmd"
    QEL_RUN_COMMAND="$command" QEL_RUN_EXIT="$run_win\\$what.exit" \
        qw_timeout --output "$run/$what.out" "$seconds" wine cmd /c "$run_win\\$what.cmd" || status=$?
    if ((status == 124)); then
        sed 's/\r$//' "$run/$what.out" >&2
        fail "the $what did not end within $seconds s; its programs were ended"
    fi
    if own_file "$run/$what.exit"; then answer="$(tr -d '\r\n ' <"$run/$what.exit")"; fi
    # A program that crashed answers a negative code (-1073741819 for an access violation).
    [[ "$answer" =~ ^-?[0-9]+$ ]] || { sed 's/\r$//' "$run/$what.out" >&2; fail "the $what did not run in $WINEPREFIX"; }
}

quoted=()
for setting in "${settings[@]}"; do quoted+=("${setting%%=*}=\"${setting#*=}\""); done
if [[ -n "$program" ]]; then
    cp -- "$program" "$run/program.exe"
    command="$run_win\\program.exe"
    for arg in "${program_args[@]}"; do command+=" \"$arg\""; done
    command+=" \"$msi_win\" \"$run_win\\install.log\" ${quoted[*]}"
else
    command="msiexec /i \"$msi_win\" /$ui /l*v \"$run_win\\install.log\" ${quoted[*]}"
fi
run_batch installation 600 "$command"
code="$answer"
[[ -z "$program" ]] || sed 's/\r$//' "$run/installation.out"

# log_text WHAT: the verbose log WHAT.log of this run as UTF-8 text, in WHAT.log.txt; empty when
# there is none. Wine writes it in the ANSI code page of its locale (the installer would in UTF-16).
log_text() {
    if own_file "$run/$1.log"; then qw_text "$run/$1.log" "$code_page" >"$run/$1.log.txt"; else : >"$run/$1.log.txt"; fi
}
# fresh_copy FILE TARGET: FILE as a fresh file renamed into place, so that a file or link at
# TARGET is replaced, never written through.
fresh_copy() {
    local copy
    copy="$(mktemp "$(dirname -- "$2")/.${2##*/}.XXXXXX")" || fail "cannot write beside $2"
    if ! { cp -- "$1" "$copy" && chmod "$(printf '%o' $((8#666 & ~8#$(umask))))" "$copy" && mv -fT -- "$copy" "$2"; }; then
        rm -f -- "$copy"
        fail "could not write $2"
    fi
}
log_text install
if [[ -n "$keep_log" ]] && own_file "$run/install.log"; then fresh_copy "$run/install.log" "$keep_log"; fi

installed=unknown
if [[ -n "$product" ]]; then
    installed=no
    if registered; then installed=yes; fi
    ((before == 0)) || installed+=" (it was installed before this run, in this work folder)"
fi

how="msiexec /$ui"
[[ -z "$program" ]] || how="${program##*/}"
echo "package: $package from a $drive drive as $msi_win, by $how"
echo "exit code: $code"
echo "installed: $installed"
for name in "${properties[@]}"; do
    # The properties' final values are listed at the end of the log, the server's after the client's.
    value="$(grep -aF "Property(S): $name = " "$run/install.log.txt" | tail -n 1 || true)"
    if [[ -n "$value" ]]; then echo "property: $name = ${value#*" = "}"; else echo "property: $name (not set)"; fi
done

# The custom actions of the package that live in a DLL (types 1, 17, 65, ...), by name, entry and
# whether they run from the installation script (deferred, rollback and commit: option bit 1024).
mapfile -t actions < <(msiinfo export "$package" CustomAction | tr -d '\r' | tail -n +4 |
    awk -F '\t' '($2 % 8) == 1 { print $1 "\t" $4 "\t" (int($2 / 1024) % 2) }')
# actions WHAT LABEL: each DLL action's return value in the log WHAT.log.txt and the lines it left
# there, from the first that names it (by action or entry) to its end, without those of the actions
# it ran itself: those of the frame's report of a failure as "report:", its other lines as "info:";
# each line starts with LABEL. Wine logs a script action twice, with a start and an end each: where
# the installation schedules it, and where the script runs it (within InstallFinalize, InstallExecute
# or InstallExecuteAgain; a rollback after the installation ended); one that was only scheduled is
# shown as such. With LABEL, only the actions that ran are listed. Names are matched as text, never
# as a pattern.
actions() {
    local row rest
    for row in "${actions[@]}"; do
        rest="${row#*$'\t'}"
        QW_ACTION="${row%%$'\t'*}" QW_ENTRY="${rest%$'\t'*}" QW_SCRIPT="${rest##*$'\t'}" QW_LABEL="$2" awk '
            function starts(s, p) { return substr(s, 1, length(p)) == p }
            function named(s, n) { return n != "" && starts(s, n ": ") }
            # The text after the time in "Action start TIME: NAME." and "Action ended TIME: NAME. ..."
            function subject(s,   i) { i = index(s, ": "); return i ? substr(s, i + 2) : "" }
            # The first line of a report the frame sends for an action that failed.
            function frame(s,   i, n, rest) {
                for (i = 1; i <= 2; i++) {
                    n = i == 1 ? action : entry
                    if (!named(s, n)) continue
                    rest = substr(s, length(n) + 3)
                    if (starts(rest, "Error: ") || starts(rest, "the action failed, and its full report could not be made.") ||
                        starts(rest, "an unexpected exception ended the action")) return 1
                }
                return 0
            }
            # Whether the script runs now: within one of the actions that run it, or after every action ended.
            function executing(   d) {
                for (d = 1; d <= depth; d++)
                    if (stack[d] == "InstallFinalize" || stack[d] == "InstallExecute" || stack[d] == "InstallExecuteAgain") return 1
                return depth == 0
            }
            function say(kind, text) { lines[++count] = label kind ": " text }
            BEGIN { action = ENVIRON["QW_ACTION"]; entry = ENVIRON["QW_ENTRY"]; script = ENVIRON["QW_SCRIPT"] == 1; label = ENVIRON["QW_LABEL"] }
            starts($0, "Action start ") {
                name = subject($0)
                sub(/\.$/, "", name)
                if (name == action) {
                    running = !script || executing()
                    if (running) { started = 0; section = ""; blanks = 0 } else scheduled = 1
                    mine = depth + 1
                }
                stack[++depth] = name
                next
            }
            starts($0, "Action ended ") {
                rest = subject($0)
                for (d = depth; d >= 1; d--) if (starts(rest, stack[d] ". ")) break
                if (d < 1) next
                if (d == mine) {
                    rest = substr(rest, length(action) + 3)
                    if (running && starts(rest, "Return value ") && rest ~ /^Return value -?[0-9]+\.$/)
                        value = substr(rest, 14, length(rest) - 14)
                    mine = 0
                }
                depth = d - 1
                next
            }
            # Its own lines only: not those of an action it ran itself, nor its scheduling.
            !mine || depth != mine || !running { next }
            # The line an action it runs itself starts with: "Action TIME: NAME. ..."
            starts($0, "Action ") { next }
            !started && !named($0, action) && !named($0, entry) { next }
            { started = 1 }
            $0 == "" { blanks++; next }
            {
                # A report runs to the blank line that ends its message, its history after a blank line too.
                if (frame($0)) kind = "report"
                else if (section == "report" && (blanks == 0 || $0 == "HISTORY:" || starts($0, "\t"))) kind = "report"
                else kind = "info"
                if (kind == section) while (blanks > 0) { say(kind, ""); blanks-- }
                blanks = 0
                section = kind
                say(kind, $0)
            }
            END {
                if (label != "" && value == "") exit
                if (value != "") print label "action: " action " return value " value
                else if (scheduled) print label "action: " action " scheduled, never ran"
                else print label "action: " action " return value (never ran)"
                for (i = 1; i <= count; i++) print lines[i]
            }
        ' "$run/$1.log.txt"
    done
}
actions install ""

# show_files LABEL: the files asked for, read where the prefix keeps that drive's root; a link or
# a file of another user's is not read.
show_files() {
    local file letter path host
    for file in "${files[@]}"; do
        letter="${file:0:1}" path="${file:2}"
        host="$WINEPREFIX/dosdevices/${letter,,}:${path//\\//}"
        if own_file "$host"; then
            echo "$1: $file"
            qw_text "$host" "$code_page" | awk '{ print "file| " $0 }'
        elif [[ -e "$host" || -L "$host" ]]; then
            echo "$1: $file (not a plain file of this run's)"
        else
            echo "$1: $file (none)"
        fi
    done
}
show_files file

if ((uninstall)) && [[ "$code" == 0 ]]; then
    run_batch removal 300 "msiexec /x \"$msi_win\" /qn /l*v \"$run_win\\uninstall.log\""
    echo "uninstall exit status: $answer"
    show_files "file after uninstall"
    if [[ "$answer" != 0 ]]; then
        log_text uninstall
        actions uninstall "uninstall "
        if [[ -n "$temporary" ]]; then
            # The work folder goes at the end: the log is kept in the temporary folder.
            kept="$(mktemp --suffix=.log "$temporaries/run-package-uninstall.XXXXXX")"
            cp -- "$run/uninstall.log.txt" "$kept"
        else
            qw_keep "$run"
            kept="$run/uninstall.log.txt"
        fi
        echo "uninstall log: $kept"
        exit 1
    fi
fi
[[ "$code" == "$expect" ]] || { echo "$me: the installer answered $code, expected $expect" >&2; exit 1; }
