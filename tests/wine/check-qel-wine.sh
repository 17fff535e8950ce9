#!/usr/bin/env bash
# Checks the parts of wine/qel-wine.sh that need no running Wine: the usage block, the Error-table
# row and its refusals, the lock on a work folder, the run folders of finished, kept and killed
# runs, the exit status through the helper's exit trap, the drive arguments it refuses, and files
# placed on drives.
#
# Usage:
#   check-qel-wine.sh WORKDIR
set -euo pipefail
helper="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/wine/qel-wine.sh"
# shellcheck source=wine/qel-wine.sh
source "$helper"
(($# == 1)) || qw_usage
qw_need check-qel-wine msibuild msiinfo flock
work="$(realpath -m "$1")"
rm -rf "$work"
mkdir -p "$work"

# A package of bare tables, without an Error table.
# shellcheck disable=SC2016 # backquotes are SQL quoting here
msibuild "$work/bare.msi" -q 'CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR PRIMARY KEY `Property`)'
prompt="Please insert the original installation disk."
# A script whose header has a usage block, for the usage case.
printf '%s\n' '#!/usr/bin/env bash' '# What the script does.' '#' '# Usage:' '#   tool.sh ARG' '#' \
    '#   ARG  the thing' 'set -euo pipefail' '# A later comment.' "source '$helper'" 'qw_usage' >"$work/tool.sh"

failures=0
n=0
# check NAME STATUS TEXT SNIPPET: SNIPPET, run by bash in a folder of its own with the helper
# sourced, must exit with STATUS and print TEXT (on either stream, unless TEXT is empty). The
# folder holds p.msi (a copy of the bare package) and, after the run, out.txt.
check() {
    local name="$1" status="$2" text="$3" snippet="$4" dir rc=0
    n=$((n + 1))
    dir="$work/case$n"
    mkdir -p "$dir"
    cp "$work/bare.msi" "$dir/p.msi"
    (cd "$dir" && bash -c "set -euo pipefail; source '$helper'; QW_NAME=case; $snippet" >out.txt 2>&1) || rc=$?
    if ((rc == status)) && { [[ -z "$text" ]] || grep -qF -- "$text" "$dir/out.txt"; }; then
        echo "ok   $name"
    else
        echo "FAIL $name: exit $rc (expected $status), output:"
        sed 's/^/       /' "$dir/out.txt"
        failures=$((failures + 1))
    fi
}

# --- Usage: the block after "# Usage:" up to the first line that is not a comment. ---
check "usage: the block, nothing after it" 2 "ARG  the thing" \
    "bash '$work/tool.sh' 2>&1 | tee usage.txt; grep -qx '  tool.sh ARG' usage.txt; ! grep -q 'later\|does' usage.txt; exit 2"

# --- The Error-table row: made with its table, kept when there, refused otherwise, the package
# byte for byte as it was after a refusal. ---
check "error row: table and row added" 0 "26002	$prompt" \
    "qw_error_row p.msi 26002 '$prompt'; msiinfo export p.msi Error"
check "error row: the same row again changes nothing" 0 "unchanged" \
    "qw_error_row p.msi 26002 '$prompt'; cp p.msi before.msi; qw_error_row p.msi 26002 '$prompt'; cmp p.msi before.msi; echo unchanged"
check "error row: text with SQL and regex characters" 0 "x ( ) [1] \$y .* & %" \
    "qw_error_row p.msi 2 'x ( ) [1] \$y .* & %'; qw_error_text p.msi 2"
refused() { # refused NAME STATUS MESSAGE ARGS: qw_error_row ARGS fails and leaves the package as it was
    check "error row refused: $1" "$2" "$3" \
        "qw_error_row p.msi 26002 '$prompt'; cp p.msi before.msi; rc=0; (qw_error_row $4) || rc=\$?; cmp p.msi before.msi; exit \$rc"
}
refused "another text in the row" 1 "has an Error row 26002 with another text: $prompt" "p.msi 26002 'Insert disk 1'"
refused "a single quote" 2 "without single quotes or tabs" "p.msi 26003 \"the author's disk\""
refused "a tab" 2 "without single quotes or tabs" "p.msi 26003 \$'a\\tb'"
refused "a line break" 2 "without single quotes or tabs" "p.msi 26003 \$'a\\nb'"
refused "an empty text" 2 "without single quotes or tabs" "p.msi 26003 ''"
refused "a number too large" 2 "is not 0 to 32767" "p.msi 40000 text"
refused "a number that is not one" 2 "is not 0 to 32767" "p.msi 26x text"
refused "a missing package" 1 "none.msi not found" "none.msi 26003 text"

# --- The work folder: one run at a time; run folders of finished, kept and killed runs. ---
check "lock: a second run is refused while the first holds the folder" 1 "is in use by another run" \
    "qw_enter first w; (QW_LOCK_WAIT=0 qw_enter second w)"
check "lock: a refused run, exit trap and all, leaves the holder's run folders alone" 1 "is in use by another run" \
    "qw_enter first w; live=\"\$(qw_run_folder)\"; rc=0; bash -c \"source '$helper'; trap qw_leave EXIT; QW_LOCK_WAIT=0 qw_enter second w\" || rc=\$?; [[ -d \$live ]] || exit 9; exit \$rc"
check "lock: released when the run ends" 0 "entered" \
    "(qw_enter first w); QW_LOCK_WAIT=0 qw_enter second w; echo entered"
check "runs: a finished run's folder goes, a kept one stays" 0 "kept stays" \
    "(qw_enter a w; qw_run_folder >gone; qw_keep \"\$(qw_run_folder | tee kept)\"); [[ ! -e \$(cat gone) && -d \$(cat kept) ]]; echo kept stays"
check "runs: a killed run's folder goes at the next entry, a kept one stays" 0 "cleared" \
    "mkdir -p w/runs/run.killed w/runs/run.kept; touch w/runs/run.kept/.kept; qw_enter a w; [[ ! -e w/runs/run.killed && -d w/runs/run.kept ]]; echo cleared"
check "exit: the run's own status passes the exit trap" 3 "" "qw_enter a w; exit 3"
check "exit: a failed command's status passes the exit trap" 1 "" "qw_enter a w; false; echo not reached"
check "enter: without a work folder" 2 "needs a name and a work folder" "qw_enter a"
check "enter: a missing tool" 1 "no-such-tool is missing" "qw_enter a w no-such-tool"

# --- Drives: the arguments refused before Wine is asked anything. ---
check "drive: C: is the prefix's own" 2 "drive letter 'c' is not one of d to y" "qw_enter a w; qw_drive c cdrom cd"
check "drive: an unknown kind" 2 "unknown drive kind 'dvd'" "qw_enter a w; qw_drive d dvd cd"
check "drive: before the prefix is ready" 2 "qw_drive before qw_prefix" "qw_enter a w; qw_drive d cdrom cd"
check "drive: before qw_enter" 2 "qw_drive before qw_enter" "qw_drive d cdrom cd"

# --- A file placed on a drive: its root, or C:\qel\ on the prefix's own drive. The drive is
# linked by hand, as qw_drive would, so that no Wine is started. ---
placed() { # placed NAME STATUS TEXT ARGS: qw_place ARGS in a prefix with D: linked to the folder cd
    check "place: $1" "$2" "$3" \
        "qw_enter a w; mkdir -p cd \"\$WINEPREFIX/dosdevices\"; ln -s \"\$PWD/cd\" \"\$WINEPREFIX/dosdevices/d:\"; qw_place $4"
}
placed "at the root of D:" 0 'D:\p.msi' "p.msi d; cmp p.msi cd/p.msi"
placed "under another name" 0 'D:\Setup.msi' "p.msi D Setup.msi; cmp p.msi cd/Setup.msi"
placed "in C:\qel\ on the prefix's drive" 0 'C:\qel\p.msi' "p.msi c; cmp p.msi \"\$WINEPREFIX/drive_c/qel/p.msi\""
placed "on a drive never linked" 2 "no drive e: (qw_drive first)" "p.msi e"
placed "a missing file" 1 "none.msi not found" "none.msi d"

echo "$n cases, $failures failed"
((failures == 0))
