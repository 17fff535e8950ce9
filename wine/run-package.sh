#!/usr/bin/env bash
# Installs a package under Wine's Windows Installer from a drive of the given type, in a Wine prefix
# of this run's own, and prints what happened: the installer's exit code, whether the product is
# installed afterwards, the final value of each property asked for, each custom action's return
# value, and the report of every action that failed with one.
#
# Usage:
#   run-package.sh --drive cdrom|fixed|removable|network [--property NAME]... [--file PATH]...
#                  [--ui qn|qb|qr|qf] [--program EXE [--program-arg ARG]...] [--uninstall] [--expect CODE]
#                  [--work DIR] [--log FILE] PACKAGE.msi [NAME=VALUE]...
#
#   --drive      the type of drive the package is installed from: cdrom (D:), fixed (C:),
#                removable (E:) or network (F:); the package lies at the drive's root
#                (C:\qel\ on the fixed drive)
#   --property   print this property's final value (repeatable)
#   --file       print the lines of this file of the prefix (a Windows path, C:\Product\app.ini)
#                after the installation, "file: PATH" and one "file| LINE" each, or "file: PATH
#                (none)" where there is none; with --uninstall also after the removal, as
#                "file after uninstall: PATH ..." (repeatable)
#   --ui         the installer's user interface, as msiexec's /q option (default qn: none). Wine
#                runs without a display here, so the installer cannot show its own dialogs: a
#                warning sent at qr or qf is refused (MsiProcessMessage answers -1). To answer
#                dialogs as a user would, install with --program.
#   --program    install with this Windows program instead of msiexec: it is run in the prefix as
#                EXE [ARG]... PACKAGE LOG [NAME=VALUE]... (Windows paths), must write a verbose log
#                to LOG and exit with the installation's result; its output is shown
#   --program-arg  an argument for the program, before the package (repeatable)
#   --uninstall  after an installation that answered 0, remove the product again (msiexec /x)
#   --expect     the exit code that counts as success (default 0)
#   --work       keep the Wine prefix in the folder DIR (DIR/prefix, made on first use and reused
#                after: the first start takes 10 to 50 s); DIR is locked for the run, and a run that
#                finds it locked is refused. Without it the prefix is in a temporary folder removed
#                at the end.
#   --log        keep the verbose log of the installation as FILE
#   NAME=VALUE   public properties for the installation
#
# Exit status: 0 when the installer answered CODE, 1 when it answered anything else or the run
# could not be made, 2 for a refused command line or package.
set -euo pipefail

me="run-package"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=wine/qel-wine.sh
source "$here/qel-wine.sh"
usage() { qw_usage "$0"; }
refuse() { echo "$me: $*" >&2; exit 2; }
fail() { echo "$me: $*" >&2; exit 1; }

drive="" ui=qn program="" uninstall=0 expect=0 work="" keep_log=""
properties=()
files=()
program_args=()
while (($#)); do
    case "$1" in
        --drive) drive="${2-}"; shift 2 || usage ;;
        --property) properties+=("${2-}"); shift 2 || usage ;;
        --file) files+=("${2-}"); shift 2 || usage ;;
        --ui) ui="${2-}"; shift 2 || usage ;;
        --program) program="${2-}"; shift 2 || usage ;;
        --program-arg) program_args+=("${2-}"); shift 2 || usage ;;
        --uninstall) uninstall=1; shift ;;
        --expect) expect="${2-}"; shift 2 || usage ;;
        --work) work="${2-}"; shift 2 || usage ;;
        --log) keep_log="${2-}"; shift 2 || usage ;;
        -h | --help) usage ;;
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
[[ -n "$drive" ]] || refuse "no drive type given: --drive cdrom|fixed|removable|network"
[[ -n "${letter[$drive]:-}" ]] || refuse "unknown drive type '$drive': give cdrom, fixed, removable or network"
[[ "$ui" =~ ^q[nbrf][+-]?$ ]] || refuse "unknown user interface '$ui': give qn, qb, qr or qf"
[[ "$expect" =~ ^[0-9]+$ ]] || refuse "--expect '$expect' is not an exit code"
for name in "${properties[@]}"; do
    [[ "$name" =~ ^[A-Za-z_][A-Za-z0-9_.]*$ ]] || refuse "--property '$name' is not a property name"
done
for file in "${files[@]}"; do
    [[ "$file" =~ ^[A-Za-z]:\\ && "$file" != *'\..'* ]] ||
        refuse "--file '$file' is not a Windows path from a drive's root (C:\\Folder\\file.txt) without '..'"
done
# The settings travel through a batch file: nothing there may end a line or be expanded by cmd.
unsafe=$'*["%&|<>^\r\n]*'
for arg in "${program_args[@]}"; do
    # shellcheck disable=SC2053 # $unsafe is a pattern
    [[ "$arg" != $unsafe ]] || refuse "--program-arg '$arg' holds one of \" % & | < > ^ or a line break"
done
for setting in "${settings[@]}"; do
    # shellcheck disable=SC2053 # $unsafe is a pattern
    [[ "$setting" =~ ^[A-Za-z_][A-Za-z0-9_.]*= && "$setting" != $unsafe ]] ||
        refuse "'$setting' is not NAME=VALUE with a value free of \" % & | < > ^ and line breaks"
done
[[ -e "$package" ]] || refuse "package $package not found"
[[ -f "$package" && -r "$package" ]] || refuse "package $package is not a readable file"
if [[ -n "$program" ]]; then
    [[ -f "$program" ]] || refuse "program $program not found"
fi
qw_need "$me" wine wineboot wineserver flock timeout realpath msiinfo
msiinfo tables "$package" >/dev/null 2>&1 || refuse "$package is not an installer database"
package_name="${package##*/}"
[[ "$package_name" =~ ^[A-Za-z0-9_.-]+$ ]] || package_name=package.msi

# --- The prefix: this run's own, in a work folder locked while it runs (qel-wine.sh). ---
temporary=""
leave() {
    qw_leave || true
    if [[ -n "$temporary" ]]; then rm -rf "$temporary"; fi
}
# Wine's cmd reads the run's script, which names files in the work folder, in the prefix's code
# page rather than in UTF-8: the work folder's path must be plain ASCII.
ascii() { ! LC_ALL=C grep -q '[^ -~]' <<<"$1"; }
if [[ -z "$work" ]]; then
    ascii "${TMPDIR:-/tmp}" ||
        refuse "the temporary folder $TMPDIR is not a plain ASCII path, as Wine's cmd needs: set TMPDIR or give --work DIR"
    temporary="$(mktemp -d "${TMPDIR:-/tmp}/qel-run-package.XXXXXX")"
    work="$temporary"
elif ! ascii "$work"; then
    refuse "--work $work is not a plain ASCII path, as Wine's cmd needs"
elif [[ -d "$work" && ! -e "$work/.lock" && -n "$(ls -A "$work")" ]]; then
    refuse "$work is neither empty nor a work folder of an earlier run"
fi
trap leave EXIT
# Another run holding the folder is not waited for: this run is refused at once.
QW_LOCK_WAIT=0 qw_enter "$me" "$work" msiinfo
trap leave EXIT # in place of the one qw_enter set
qw_prefix
for kind in cdrom removable network; do qw_drive "${letter[$kind]}" "$kind" "$work/drives/$kind"; done

# --- The installation, through a batch file so that the whole exit code comes back. ---
run="$(qw_run_folder)"
msi_win="$(qw_place "$package" "${letter[$drive]}" "$package_name")"
run_win="$(qw_winpath "$run")"
log_win="$run_win\\install.log"
quoted=()
for setting in "${settings[@]}"; do quoted+=("${setting%%=*}=\"${setting#*=}\""); done
if [[ -n "$program" ]]; then
    cp "$program" "$run/program.exe"
    command="$run_win\\program.exe"
    for arg in "${program_args[@]}"; do command+=" \"$arg\""; done
    command+=" \"$msi_win\" \"$log_win\" ${quoted[*]}"
else
    command="msiexec /i \"$msi_win\" /$ui /l*v \"$log_win\" ${quoted[*]}"
fi
# The redirection first: "echo 3>file" would be read as a redirection of handle 3.
printf '@echo off\r\n%s\r\n>"%s\\exit.txt" echo %%ERRORLEVEL%%\r\n' "$command" "$run_win" >"$run/run.cmd"
timeout 600 wine cmd /c "$run_win\\run.cmd" >"$run/output.txt" 2>&1 || true
[[ -z "$program" ]] || sed 's/\r$//' "$run/output.txt"
code="$(tr -d '\r\n ' <"$run/exit.txt" 2>/dev/null || true)"
[[ "$code" =~ ^[0-9]+$ ]] || { cat "$run/output.txt" >&2; fail "the installer did not run in $WINEPREFIX"; }

log="$run/install.log.txt"
if [[ -f "$run/install.log" ]]; then
    tr -d '\0\r' <"$run/install.log" >"$log"
    [[ -z "$keep_log" ]] || cp "$run/install.log" "$keep_log"
else
    : >"$log"
fi
# A package without a Property table, or without a ProductCode, leaves the answer open.
product="$( (msiinfo export "$package" Property 2>/dev/null || true) | tr -d '\r' | sed -n 's/^ProductCode\t//p')"
installed=unknown
if [[ -n "$product" ]]; then
    installed=no
    # A 32-bit package's product is registered in the 32-bit view of the registry, an x64 one's in
    # the 64-bit view.
    for view in 32 64; do
        if wine reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product" "/reg:$view" >/dev/null 2>&1; then
            installed=yes
            break
        fi
    done
fi

how="msiexec /$ui"
[[ -z "$program" ]] || how="${program##*/}"
echo "package: $package from a $drive drive as $msi_win, by $how"
echo "exit code: $code"
echo "installed: $installed"
for name in "${properties[@]}"; do
    # The properties' final values are listed at the end of the log, the server's after the client's.
    value="$(grep -F "Property(S): $name = " "$log" | tail -n 1 || true)"
    if [[ -n "$value" ]]; then echo "property: $name = ${value#*" = "}"; else echo "property: $name (not set)"; fi
done
# The custom actions of the package that live in a DLL (types 1, 17, 65, ...), by name and entry.
mapfile -t actions < <(msiinfo export "$package" CustomAction | tr -d '\r' | tail -n +4 |
    awk -F '\t' '($2 % 8) == 1 { print $1 "\t" $4 }')
for row in "${actions[@]}"; do
    action="${row%%$'\t'*}" entry="${row#*$'\t'}"
    ret="$(sed -n "s/^Action ended [^:]*:[^:]*:[^:]*: $action\. Return value \([0-9-]*\)\.\$/\1/p" "$log" | tail -n 1)"
    echo "action: $action return value ${ret:-(never ran)}"
    # The report an ended action leaves: from the line naming it (by action or entry) to the end of
    # its action's part of the log, trailing blank lines dropped.
    awk -v action="$action" -v entry="$entry" '
        index($0, "Action start ") == 1 && $0 ~ (": " action "\\.$") { inside = 1; next }
        inside && index($0, "Action ended ") == 1 { inside = 0; reporting = 0; blanks = 0; next }
        inside && !reporting && (index($0, action ": ") == 1 || index($0, entry ": ") == 1) { reporting = 1 }
        reporting && $0 == "" { blanks++; next }
        reporting { while (blanks > 0) { print "report: "; blanks-- } print "report: " $0 }
    ' "$log"
done

# The files asked for, read where the prefix keeps that drive's root.
show_files() { # show_files LABEL
    local file letter path host
    for file in "${files[@]}"; do
        letter="${file:0:1}" path="${file:2}"
        host="$WINEPREFIX/dosdevices/${letter,,}:${path//\\//}"
        if [[ -f "$host" ]]; then
            echo "$1: $file"
            sed 's/\r$//; s/^/file| /' "$host"
        else
            echo "$1: $file (none)"
        fi
    done
}
show_files file

if ((uninstall)) && [[ "$code" == 0 ]]; then
    removed=0
    timeout 300 wine msiexec /x "$msi_win" /qn >/dev/null 2>&1 || removed=$?
    echo "uninstall exit status: $removed"
    show_files "file after uninstall"
    ((removed == 0)) || exit 1
fi
[[ "$code" == "$expect" ]] || { echo "$me: the installer answered $code, expected $expect" >&2; exit 1; }
