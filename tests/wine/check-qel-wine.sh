#!/usr/bin/env bash
# Checks what wine/qel-wine.sh and wine/run-package.sh do without a running Wine: the usage block,
# the Error-table row, the work folder's lock and run folders, the exit status through the exit
# trap, drive arguments, files placed on drives; then the runner, with a stand-in for Wine that
# plays back a log and an exit code. Run as root, another user (nobody) also prepares folders and
# links where root works: no file of root's may change, no command of theirs or of a package run.
#
# Usage:
#   check-qel-wine.sh WORKDIR [PATTERN]
#
#   WORKDIR  the checks work in WORKDIR/qel-wine-checks, made anew
#   PATTERN  run only the cases whose name holds PATTERN
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
helper="$here/../../wine/qel-wine.sh"
# shellcheck source=wine/qel-wine.sh
source "$helper"
(($# == 1 || $# == 2)) || qw_usage
only="${2:-}"
qw_need check-qel-wine msibuild msiinfo flock
# Only a folder this check made is removed.
work="$(realpath -m "$1")/qel-wine-checks"
if [[ -e "$work" ]]; then
    [[ -f "$work/.made-by-check-qel-wine" ]] || { echo "check-qel-wine: $work is not a folder of this check; move it away" >&2; exit 1; }
    rm -rf "$work"
fi
mkdir -p "$work"
: >"$work/.made-by-check-qel-wine"

# A package of bare tables, without an Error table.
# shellcheck disable=SC2016 # backquotes are SQL quoting here
msibuild "$work/bare.msi" -q 'CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR PRIMARY KEY `Property`)'
prompt="Please insert the original installation disk."
# A script whose header has a usage block, for the usage case.
printf '%s\n' '#!/usr/bin/env bash' '# What the script does.' '#' '# Usage:' '#   tool.sh ARG' '#' \
    '#   ARG  the thing' 'set -euo pipefail' '# A later comment.' "source '$helper'" 'qw_usage' >"$work/tool.sh"

# --- For the runner: a product with DLL actions, one named as a sed program would read it, the
# log an installation of it leaves, and a stand-in for Wine. ---
# shellcheck disable=SC2016 # backquotes are SQL quoting here
msibuild "$work/product.msi" -s Product Qel "Intel;1033" "{6F1C2D3E-0A1B-4C5D-8E9F-0123456789AB}"
# shellcheck disable=SC2016 # backquotes are SQL quoting here
msibuild "$work/product.msi" -q 'CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR PRIMARY KEY `Property`)' \
    -q "INSERT INTO \`Property\` (\`Property\`, \`Value\`) VALUES ('ProductCode', '{6F1C2D3E-0A1B-4C5D-8E9F-0123456789AB}')" \
    -q 'CREATE TABLE `CustomAction` (`Action` CHAR(72) NOT NULL, `Type` SHORT NOT NULL, `Source` CHAR(72), `Target` CHAR(255) PRIMARY KEY `Action`)' \
    -q "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('qelProbe', 17, 'probe.dll', 'qelProbeEntry')" \
    -q "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('x/X/;e touch pwned #', 17, 'probe.dll', 'qelProbeEntry')" \
    -q "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('qelLater', 1041, 'probe.dll', 'qelLaterEntry')" \
    -q "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('qelUndo', 1297, 'probe.dll', 'qelUndoEntry')"
printf '%s\n' 'Action 7:17:01: qelProbe. ' 'Action start 7:17:01: qelProbe.' 'qelProbe: looked at drive D:' '' \
    'qelProbeEntry: Error: 5. Program Exception. Access is denied.' '.' 'HISTORY:' \
    $'\tT: Probe::look, F: Probe, L: 12, C: Function Failed: GetDriveTypeA()' '' \
    'Action ended 7:17:02: qelProbe. Return value 3.' 'Property(S): PROBED = 1' >"$work/probe.log"
fake="$work/fake-wine"
mkdir -p "$fake"
cat >"$fake/wine" <<'EOF'
#!/usr/bin/env bash
# Stands in for Wine: `reg query` finds the product once an installation answered 0; `cmd /c` of
# the runner's batch file runs FAKE_HOOK (bash, with the batch file's path), records the locale it
# was started in and its command in FAKE_SEEN (when set), copies FAKE_LOG to the
# verbose log the command names, writes FAKE_CODE (default 0) as its exit code and runs FAKE_AFTER
# with the exit code file's path. For a removal, FAKE_REMOVAL_HOOK, _LOG and _CODE.
set -euo pipefail
unix() { local path="${1#?:}"; printf '%s\n' "${path//\\//}"; }
case "${1:-}" in
    reg) [[ "${2:-}" != query || -f "$WINEPREFIX/installed" ]] ;;
    cmd)
        batch="$(unix "$3")"
        # The batch file runs the command and writes the exit code that the environment names.
        [[ "$(tr -d '\r' <"$batch")" == $'@echo off\n%QEL_RUN_COMMAND%\n>"%QEL_RUN_EXIT%" echo %ERRORLEVEL%' ]]
        command="$QEL_RUN_COMMAND"
        code_file="$(unix "$QEL_RUN_EXIT")"
        log="$(unix "$(sed -n 's/.*\/l\*v "\([^"]*\)".*/\1/p' <<<"$command")")"
        kind=FAKE
        [[ "$command" != "msiexec /x "* ]] || kind=FAKE_REMOVAL
        hook="${kind}_HOOK" from="${kind}_LOG" code="${kind}_CODE"
        [[ -z "${!hook:-}" ]] || bash -c "${!hook}" hook "$batch"
        [[ -z "${FAKE_SEEN:-}" ]] || printf 'LANG=%s LC_MESSAGES=%s LC_ALL=%s\n%s\n' "$LANG" "$LC_MESSAGES" "${LC_ALL:-}" "$command" >>"$FAKE_SEEN"
        [[ -z "${!from:-}" ]] || cp "${!from}" "$log"
        code="${!code:-0}"
        if ((code == 0)) && [[ "$kind" == FAKE ]]; then : >"$WINEPREFIX/installed"; fi
        if ((code == 0)) && [[ "$kind" == FAKE_REMOVAL ]]; then rm -f "$WINEPREFIX/installed"; fi
        printf '%s\r\n' "$code" >"$code_file"
        [[ -z "${FAKE_AFTER:-}" ]] || bash -c "$FAKE_AFTER" after "$code_file"
        ;;
esac
EOF
# shellcheck disable=SC2016 # the stand-ins' own text
printf '%s\n' '#!/usr/bin/env bash' 'mkdir -p "$WINEPREFIX/dosdevices" "$WINEPREFIX/drive_c"' >"$fake/wineboot"
# shellcheck disable=SC2016 # the stand-ins' own text
printf '%s\n' '#!/usr/bin/env bash' '[[ -z "${FAKE_SERVER_LOG:-}" ]] || echo "$WINEPREFIX $*" >>"$FAKE_SERVER_LOG"' >"$fake/wineserver"
chmod 755 "$fake"/*

# What every case's snippet has, besides the helper: them CMD runs CMD as another user (in the
# case's folder); untouched fails unless root's file `victim` is as it was; runner runs
# run-package.sh with the stand-in Wine.
cat >"$work/case.sh" <<EOF
them() { runuser -u nobody -- bash -c "\$1"; }
untouched() { [[ "\$(cat victim)" == "root's own" && "\$(stat -c %u:%a victim)" == 0:600 ]] || { echo "root's file changed"; exit 9; }; }
runner() { mkdir -p tmp; PATH='$fake':"\$PATH" TMPDIR="\${TMPDIR:-\$PWD/tmp}" bash '$here/../../wine/run-package.sh' "\$@"; }
fake='$fake' work='$work' run_package='$here/../../wine/run-package.sh'
EOF
cat >>"$work/case.sh" <<'EOF'
encode() { if [[ "$1" == UTF-16LE ]]; then printf '\xff\xfe'; fi; iconv -f UTF-8 -t "$1"; } # UTF-16 with its byte order mark
EOF

failures=0
n=0
skipped=0
# check NAME STATUS TEXT SNIPPET: SNIPPET, run by bash with the helper sourced in a folder of its
# own holding p.msi (the bare package), `shared` (sticky, writable by everyone, as /tmp is) and
# `victim` (root's, 0600), must exit with STATUS and print TEXT (unless empty). check_root: the
# same, as root only.
check() {
    local name="$1" status="$2" text="$3" snippet="$4" dir rc=0
    [[ -z "$only" || "$name" == *"$only"* ]] || return 0
    n=$((n + 1))
    dir="$work/case$n"
    mkdir -p "$dir"
    mkdir -m 1777 "$dir/shared"
    echo "root's own" >"$dir/victim"
    chmod 600 "$dir/victim"
    cp "$work/bare.msi" "$dir/p.msi"
    (cd "$dir" && bash -c "set -euo pipefail; source '$helper'; source '$work/case.sh'; QW_NAME=case; $snippet" >out.txt 2>&1) ||
        rc=$?
    if ((rc == status)) && { [[ -z "$text" ]] || grep -qF -- "$text" "$dir/out.txt"; }; then
        echo "ok   $name"
    else
        echo "FAIL $name: exit $rc (expected $status), output:"
        sed 's/^/       /' "$dir/out.txt"
        failures=$((failures + 1))
    fi
}
check_root() {
    if ((EUID == 0)); then check "$@"; elif [[ -z "$only" || "$1" == *"$only"* ]]; then skipped=$((skipped + 1)); fi
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
for text in "\"the author's disk\"" "\$'a\\tb'" "\$'a\\nb'" "''"; do # a quote, a tab, a line break, nothing
    refused "the text $text" 2 "without single quotes or tabs" "p.msi 26003 $text"
done
refused "a number too large" 2 "is not 0 to 32767" "p.msi 40000 text"
refused "a number that is not one" 2 "is not 0 to 32767" "p.msi 26x text"
refused "a missing package" 1 "none.msi not found" "none.msi 26003 text"

# --- The work folder: one run at a time; run folders of finished, kept and killed runs. ---
check "lock: a second run is refused, naming the holder, while the first holds the folder" 1 "is in use by another run (process" \
    "qw_enter first w; (QW_LOCK_WAIT=0 qw_enter second w)"
check "lock: a refused run, exit trap and all, leaves the holder's run folders alone" 1 "is in use by another run" \
    "qw_enter first w; live=\"\$(qw_run_folder)\"; rc=0; bash -c \"source '$helper'; trap qw_leave EXIT; QW_LOCK_WAIT=0 qw_enter second w\" || rc=\$?; [[ -d \$live ]] || exit 9; exit \$rc"
check "lock: no program the run starts holds it" 0 "no lock" \
    "qw_enter a w; sleep 30 & child=\$!
     until [[ \$(cat /proc/\$child/comm 2>/dev/null) == sleep ]]; do sleep 0.05; done
     fds=\$(ls -l /proc/\$child/fd); kill \$child; [[ \$fds != *'/w/.lock'* ]]; echo no lock"
check "lock: a holder killed while its program runs holds nothing; that program's Wine is ended" 0 "entered" \
    "mkdir -p w/prefix; bash -c \"source '$helper'; qw_enter a w; sleep 30 & echo \\\$! >child; wait\" & holder=\$!
     while [[ ! -s child ]]; do sleep 0.1; done; kill -9 \$holder
     FAKE_SERVER_LOG=\$PWD/server.log PATH=\$fake:\$PATH QW_LOCK_WAIT=0 qw_enter b w; kill \$(cat child)
     grep -qx \"\$PWD/w/prefix -k\" server.log; echo entered"
check "lock: a run that waits names the run it waits for, and enters once that run has left" 0 "entered after" \
    "bash -c \"source '$helper'; qw_enter first w; touch ready; sleep 2\" & first=\$!
     while [[ ! -e ready ]]; do sleep 0.1; done
     QW_LOCK_WAIT=20 qw_enter second w 2>waited.txt; [[ ! -e /proc/\$first/cmdline || -z \$(cat /proc/\$first/cmdline) ]]
     grep -q \"is in use by another run (process \$first of .*qel-wine.sh.*); waiting up to 20 s\" waited.txt; echo entered after"
check "lock: a run that leaves clears the lock; the next one ends no programs of it" 0 "nothing ended" \
    "mkdir -p w/prefix; (qw_enter a w); [[ ! -s w/.lock ]]
     FAKE_SERVER_LOG=\$PWD/server.log PATH=\$fake:\$PATH QW_LOCK_WAIT=0 qw_enter b w; [[ ! -e server.log ]]; echo nothing ended"
check "lock: a lock that is a link is refused, its target untouched" 1 "w/.lock is a link" \
    "mkdir w; ln -s \$PWD/victim w/.lock; rc=0; (qw_enter a w) || rc=\$?; ln -sfn \$PWD/nowhere w/.lock; (qw_enter a w) || true
     untouched; [[ ! -e nowhere ]]; exit \$rc"
check "runs: a finished run's folder goes, a kept one stays" 0 "kept stays" \
    "(qw_enter a w; qw_run_folder >gone; qw_keep \"\$(qw_run_folder | tee kept)\"); [[ ! -e \$(cat gone) && -d \$(cat kept) ]]; echo kept stays"
check "runs: a killed run's folder goes at the next entry, a kept one stays" 0 "cleared" \
    "mkdir -p w/runs/run.killed w/runs/run.kept; touch w/runs/run.kept/.kept; qw_enter a w; [[ ! -e w/runs/run.killed && -d w/runs/run.kept ]]; echo cleared"
check "runs: a runs folder that is a link is never cleared through" 0 "intact" \
    "bash -c \"source '$helper'; qw_enter other o; mkdir -p o/runs/run.live; touch ready; exec sleep 30\" & other=\$!
     while [[ ! -e ready ]]; do sleep 0.1; done
     mkdir w; ln -s \$PWD/o/runs w/runs; rc=0; (qw_enter a w; qw_run_folder) || rc=\$?; kill \$other
     ((rc == 1)); [[ -d o/runs/run.live ]]; echo intact"
check "exit: the run's own status passes the exit trap" 3 "" "qw_enter a w; exit 3"
check "enter: without a work folder" 2 "needs a name and a work folder" "qw_enter a"
check "enter: a missing tool" 1 "no-such-tool is missing" "qw_enter a w no-such-tool"
check "enter: a work folder others can write" 1 "can be written by every user" "mkdir -m 777 w; chmod 777 w; qw_enter a w"

# --- Folders another user prepared where root runs: refused, nothing made in them or through them. ---
check_root "enter: a work folder another user made is refused, naming them; nothing is made in it" 1 "belongs to nobody" \
    "them 'mkdir shared/w'; rc=0; (qw_enter a shared/w) || rc=\$?; [[ -z \"\$(ls -A shared/w)\" ]]; exit \$rc"
check_root "enter: a work folder inside another user's folder" 1 "shared/theirs belongs to nobody" \
    "them 'mkdir shared/theirs'; rc=0; (qw_enter a shared/theirs/w) || rc=\$?; [[ ! -e shared/theirs/w ]]; exit \$rc"
check_root "enter: a work folder given as another user's link" 1 "is a link" \
    "mkdir target; them \"ln -s \$PWD/target shared/w\"; rc=0; (qw_enter a shared/w) || rc=\$?; [[ -z \"\$(ls -A target)\" ]]; exit \$rc"
check_root "enter: another user's lock in their folder, a link to root's file" 1 "belongs to nobody" \
    "them \"mkdir shared/w && ln -s \$PWD/victim shared/w/.lock\"; rc=0; (qw_enter a shared/w) || rc=\$?; untouched; exit \$rc"

# --- Drives: the arguments refused before Wine is asked anything. ---
check "drive: C: is the prefix's own" 2 "drive letter 'c' is not one of d to y" "qw_enter a w; qw_drive c cdrom cd"
check "drive: an unknown kind" 2 "unknown drive kind 'dvd'" "qw_enter a w; qw_drive d dvd cd"
check "drive: before the prefix is ready" 2 "qw_drive before qw_prefix" "qw_enter a w; qw_drive d cdrom cd"
check "drive: before qw_enter" 2 "qw_drive before qw_enter" "qw_drive d cdrom cd"

# --- A file placed on a drive: its root, or C:\qel\ on the prefix's own drive. The drive is
# linked by hand, as qw_drive would, so that no Wine is started. ---
placed() { # placed NAME STATUS TEXT ARGS [DRIVE]: qw_place ARGS in a prefix with D: linked to the folder DRIVE (cd)
    check "place: $1" "$2" "$3" \
        "qw_enter a w; mkdir -p ${5:-cd} \"\$WINEPREFIX/dosdevices\"; ln -s \"\$PWD/${5:-cd}\" \"\$WINEPREFIX/dosdevices/d:\"; qw_place $4"
}
placed "under another name" 0 'D:\Setup.msi' "p.msi D Setup.msi; cmp p.msi cd/Setup.msi"
placed "in C:\qel\ on the prefix's drive" 0 'C:\qel\p.msi' "p.msi c; cmp p.msi \"\$WINEPREFIX/drive_c/qel/p.msi\""
placed "on a drive never linked" 2 "no drive e: (qw_drive first)" "p.msi e"
placed "a missing file" 1 "none.msi not found" "none.msi d"
placed "over a link at its name: the link is replaced, never written through" 0 "replaced" \
    "p.msi d; ln -sfn \$PWD/victim cd/p.msi; qw_place p.msi d; untouched; [[ ! -L cd/p.msi ]]; cmp p.msi cd/p.msi; echo replaced"
check_root "place: on a drive whose folder another user made" 1 "belongs to nobody" \
    "qw_enter a w; them 'mkdir shared/cd'; mkdir -p \"\$WINEPREFIX/dosdevices\"; ln -s \"\$PWD/shared/cd\" \"\$WINEPREFIX/dosdevices/d:\"
     rc=0; (qw_place p.msi d) || rc=\$?; [[ ! -e shared/cd/p.msi ]]; exit \$rc"

# --- The runner, with the stand-in Wine: the product's log played back. ---
check "runner: action names are text, never a sed program" 0 "action: x/X/;e touch pwned # return value (never ran)" \
    "FAKE_LOG=\$work/probe.log runner --drive cdrom \$work/product.msi; [[ ! -e pwned ]]"
check "runner: an action's own lines are info, the frame's report is report" 0 "report: qelProbeEntry: Error: 5." \
    "FAKE_LOG=\$work/probe.log runner --drive cdrom \$work/product.msi >printed; cat printed; tr '\n' '~' <printed | grep -qF 'return value 3~info: qelProbe: looked at drive D:~report: qelProbeEntry: Error: 5. Program Exception. Access is denied.~report: .~report: HISTORY:~report: '"
# Each action's own lines under its own name, up to its end; a script action (deferred, rollback) as
# run where the script runs it (within InstallFinalize, or after the installation ended), as
# scheduled where it is only scheduled. name | the log's lines (;-separated) | what the output must
# hold, its lines ~-separated | what it must not hold
sections=(
    "the lines after an action's end are not its own|Action start 1:00:00: qelProbe.;qelProbe: mine;Action ended 1:00:01: qelProbe. Return value 1.;Property(S): PROBED = 1;qelProbe: later|action: qelProbe return value 1~info: qelProbe: mine~action: |Property(S)"
    "a script action only scheduled|Action start 1:00:00: INSTALL.;Action start 1:00:00: qelUndo.;Action ended 1:00:00: qelUndo. Return value 1.;Action start 1:00:01: InstallFinalize.;Action ended 1:00:01: InstallFinalize. Return value 1.;Action ended 1:00:01: INSTALL. Return value 1.|action: qelUndo scheduled, never ran~|qelUndo return value"
    "a deferred action run by InstallFinalize, its lines that run's|Action start 1:00:00: INSTALL.;Action start 1:00:00: qelLater.;Action ended 1:00:00: qelLater. Return value 1.;Action start 1:00:01: InstallFinalize.;Action start 1:00:01: qelLater.;qelLaterEntry: wrote it;Action ended 1:00:01: qelLater. Return value 3.;Action ended 1:00:01: InstallFinalize. Return value 3.;Action ended 1:00:01: INSTALL. Return value 3.|action: qelLater return value 3~info: qelLaterEntry: wrote it~action: |scheduled"
    "a rollback action run after the installation ended|Action start 1:00:00: INSTALL.;Action start 1:00:00: qelUndo.;Action ended 1:00:00: qelUndo. Return value 1.;Action ended 1:00:01: INSTALL. Return value 3.;Action start 1:00:02: qelUndo.;qelUndoEntry: undone;Action ended 1:00:02: qelUndo. Return value 1.|action: qelUndo return value 1~info: qelUndoEntry: undone~|scheduled"
)
for entry in "${sections[@]}"; do
    IFS='|' read -r name lines wanted unwanted <<<"$entry"
    check "runner: sections: $name" 0 "" \
        "tr ';' '\n' <<<'$lines' >log; FAKE_LOG=\$PWD/log runner --drive cdrom \$work/product.msi >printed; cat printed
         tr '\n' '~' <printed | grep -qF '$wanted'; ! grep -qF '$unwanted' printed"
done
# Text outside ASCII: a value given as NAME=VALUE reaches the command whole, in the locale asked for
# and with Wine's messages in English; the log and a file of the prefix, in the locale's code page
# or with a byte order mark, print as UTF-8. locale | the encoding of the log and file | value
mixed="Café Привет Ωμέγα 日本語"
for entry in "C.UTF-8|CP1252|Café crème" "ru_RU.UTF-8|CP1251|Привет, мир" "ja_JP.UTF-8|CP932|日本語のテキスト" \
    "C.UTF-8|UTF-16LE|$mixed" "ru_RU.UTF-8|UTF-8|$mixed"; do
    IFS='|' read -r locale encoding value <<<"$entry"
    check "runner: text: $encoding under $locale" 0 "property: NOTE = $value" \
        "printf 'Property(S): NOTE = %s\n' '$value' | encode $encoding >log; printf '%s\r\n' '$value' last | encode $encoding >note.txt
         FAKE_SEEN=\$PWD/seen FAKE_LOG=\$PWD/log FAKE_HOOK='mkdir -p \"\$WINEPREFIX/dosdevices/c:\"; cp note.txt \"\$WINEPREFIX/dosdevices/c:/\"' \\
             runner --drive cdrom --locale $locale --property NOTE --file 'C:\\note.txt' \$work/product.msi 'NOTE=$value' >printed; cat printed
         grep -qxF 'file| $value' printed; grep -qxF 'file| last' printed
         grep -qxF 'LANG=$locale LC_MESSAGES=en_US.UTF-8 LC_ALL=' seen; grep -qF 'NOTE=\"$value\"' seen"
done
check "runner: a package, a work folder and TMPDIR named in Cyrillic" 0 "exit code: 0" \
    "mkdir -p Установка tmp/Временная; cp \$work/product.msi Установка/Пакет.msi
     FAKE_SEEN=\$PWD/seen TMPDIR=\$PWD/tmp/Временная runner --drive cdrom Установка/Пакет.msi
     FAKE_SEEN=\$PWD/seen runner --drive cdrom --work Рабочая Установка/Пакет.msi
     [[ \$(grep -cF 'msiexec /i \"D:\\Пакет.msi\"' seen) == 2 && -d Рабочая/prefix ]]"
check "runner: a failed removal prints its code, its report and its kept log" 1 "uninstall exit status: 1603" \
    "rc=0; FAKE_REMOVAL_CODE=1603 FAKE_REMOVAL_LOG=\$work/probe.log runner --drive cdrom --uninstall --work w \$work/product.msi >printed || rc=\$?
     cat printed; grep -qx 'uninstall report: qelProbeEntry: Error: 5. Program Exception. Access is denied.' printed
     log=\$(sed -n 's/^uninstall log: //p' printed); grep -qx 'qelProbe: looked at drive D:' \"\$log\"; exit \$rc"
check "runner: a product installed before the run is named as such" 1 "installed: yes (it was installed before this run" \
    "runner --drive cdrom --work w \$work/product.msi; FAKE_CODE=1603 runner --drive cdrom --work w \$work/product.msi"
check "runner: an exit code this run did not write is not trusted" 1 "the installation did not run" \
    "FAKE_AFTER='chown nobody \"\$1\"' runner --drive cdrom \$work/product.msi"
check "runner: --help that was asked for prints the usage and exits 0" 0 "--drive cdrom|fixed|removable|network" \
    "runner --help 2>/dev/null"
check "runner: an option without its value is named" 2 "run-package: --work needs a value" "runner --drive cdrom --work"
check "runner: a program that crashed answers a negative code" 1 "exit code: -1073741819" \
    "FAKE_CODE=-1073741819 runner --drive cdrom \$work/product.msi"
check "runner: --expect is a decimal number (0010 is 10)" 0 "exit code: 10" "FAKE_CODE=10 runner --drive cdrom --expect 0010 \$work/product.msi"
check "runner: a work folder whose path Wine's cmd would misread (%) is refused" 2 "holds one of \" % & | < > ^ ( ) ; , =" \
    "rc=0; runner --drive cdrom --work 'w%OS%' \$work/product.msi || rc=\$?; [[ ! -e 'w%OS%' ]]; exit \$rc"
check "runner: a temporary folder leading through a link to such a path (&) is refused" 2 "/a&b), which Wine's cmd would misread" \
    "mkdir 'a&b'; ln -s \"\$PWD/a&b\" tmp; TMPDIR=\$PWD/tmp runner --drive cdrom \$work/product.msi"
check_root "runner: a link another user puts at --log during the run is replaced, not written through" 0 "replaced" \
    "FAKE_LOG=\$work/probe.log FAKE_HOOK=\"runuser -u nobody -- ln -s \$PWD/victim \$PWD/shared/install.log\" runner --drive cdrom --log shared/install.log \$work/product.msi
     untouched; [[ ! -L shared/install.log && -O shared/install.log ]]; cmp \$work/probe.log shared/install.log; echo replaced"
# A background command ignores SIGINT unless told otherwise; at a terminal, Ctrl-C sends it.
for signal in TERM:143 INT:130; do
    check "runner: SIG${signal%:*} ends the run, its programs and its lock" "${signal#*:}" "stopped by SIG${signal%:*}" \
        "FAKE_HOOK='sleep 60 & echo \$! >\$PWD/program; wait' PATH=\$fake:\$PATH env --default-signal=INT bash \$run_package --drive cdrom --work w \$work/product.msi & run=\$!
         while [[ ! -s program ]]; do sleep 0.1; done; kill -${signal%:*} \$run; rc=0; wait \$run || rc=\$?
         ! kill -0 \$(cat program) 2>/dev/null; (QW_LOCK_WAIT=0 qw_enter next w); exit \$rc"
done
check "runner: the prefix a killed run left in TMPDIR goes at the next run; others stay" 0 "cleared" \
    "mkdir -p tmp/qel-run-package.dead/prefix tmp/qel-run-package.live tmp/qel-run-package.new
     echo 'held by process 999999999' >tmp/qel-run-package.dead/.lock; flock tmp/qel-run-package.live/.lock sleep 30 & live=\$!
     while flock -n tmp/qel-run-package.live/.lock true; do sleep 0.05; done
     FAKE_SERVER_LOG=\$PWD/server.log TMPDIR=\$PWD/tmp runner --drive cdrom \$work/product.msi
     [[ ! -e tmp/qel-run-package.dead && -d tmp/qel-run-package.live && -d tmp/qel-run-package.new ]]
     grep -qx \"\$PWD/tmp/qel-run-package.dead/prefix -k\" server.log; kill \$live; echo cleared"

# --- The check scripts themselves: a WORKDIR's other files are left alone. ---
check "check scripts: the other files of WORKDIR are left alone" 0 "kept" \
    "mkdir docs; echo mine >docs/mine.txt; printf MZ >docs/my.dll; bash '$here/check-sign.sh' docs/my.dll docs >/dev/null 2>&1 || true
     bash '$here/check-qel-wine.sh' docs 'no such case' >/dev/null; [[ \$(cat docs/mine.txt) == mine ]]; echo kept"

note=""
((skipped == 0)) || note=", $skipped skipped (they need root)"
echo "$n cases, $failures failed$note"
((failures == 0))
