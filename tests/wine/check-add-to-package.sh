#!/usr/bin/env bash
# Checks add-to-package.sh on packages authored without QelCustInst (the demo package minus the
# include file and the sequence), one table of cases: what it adds and where, what it leaves alone,
# and each refusal (a clear message, the package byte for byte as it was, no tool or shell error
# output, nothing left beside it), also as a build farm runs it: other writers, signals, full disks
# (a small tmpfs, as root), locks of other runs and users (nobody), another user replacing the
# run's folder, the folders of killed and of starting runs. Also the README's wixl commands and DLL
# size. With --wine, instead: packages patched from the release's files (a Western and a Japanese
# prompt, --after, a DLL replaced by SIGNED) installed with install-demo.sh (work folder WINEWORK)
# from the drives that show them, and the README's example report compared with the one
# wine_install left in WINEWORK. It works in WORKDIR/check-add-to-package.
#
#   check-add-to-package.sh DLL WORKDIR
#   check-add-to-package.sh --wine WINEWORK SIGNED DLL WORKDIR
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
wine="" signed=""
if [[ "${1:-}" == --wine ]]; then
    (($# == 5)) || { echo "usage: check-add-to-package.sh --wine WINEWORK SIGNED DLL WORKDIR" >&2; exit 2; }
    wine="$(realpath -m "$2")" signed="$(realpath -m "$3")"
    shift 3
fi
(($# == 2)) || { echo "usage: check-add-to-package.sh [--wine WINEWORK SIGNED] DLL WORKDIR" >&2; exit 2; }
dll="$(realpath -m "$1")"
workdir="$(realpath -m "$2")"
work="$workdir/check-add-to-package"
repo="$(cd "$here/../.." && pwd)"
installer="$repo/installer"
add="$installer/add-to-package.sh"
# 77: skipped, for ctest; the test command always builds the DLL first.
[[ -f "$dll" && ( -z "$signed" || -f "$signed" ) ]] || { echo "check-add-to-package: $dll not found; build it with: cmake --preset windows && cmake --build --preset windows" >&2; exit 77; }
for tool in wixl msibuild msiinfo iconv timeout flock; do
    command -v "$tool" >/dev/null || { echo "check-add-to-package: $tool is missing; run scripts/setup.sh" >&2; exit 1; }
done

# --- The packages the cases start from, in WORKDIR/check-add-to-package/bases. ---
bases="$work/bases"
# What else WORKDIR holds stays: a file of its own shows it.
mkdir -p "$workdir"
: >"$workdir/.kept-by-check-add-to-package"
# A tmpfs a case left mounted (the run was killed) goes first.
if mountpoint -q "$work/disk" 2>/dev/null; then umount "$work/disk"; fi
rm -rf "$work"
mkdir -p "$bases/other/Binary"
cp "$here/demo/installed-readme.txt" "$bases/"
sed -e '/<?include QelCustInst.wxi?>/d' -e '/<InstallExecuteSequence>/,/<\/InstallExecuteSequence>/d' \
    "$here/demo/QelDemo.wxs" >"$bases/plain.wxs"
sed 's/"INSTALLDIR"/"APPDIR"/' "$bases/plain.wxs" >"$bases/appdir.wxs"
(cd "$bases" && wixl -o plain.msi plain.wxs && wixl -o appdir.msi appdir.wxs)
cp "$bases/plain.msi" "$bases/cp932.msi"
printf '\r\n\r\n932\t_ForceCodepage\r\n' >"$bases/_ForceCodepage.idt"
(cd "$bases" && msibuild cp932.msi -i _ForceCodepage.idt)
printf 'other data' >"$bases/other/Binary/Other.ibd"
printf 'Name\tData\r\ns72\tv0\r\nBinary\tName\r\nOther\tOther.ibd\r\n' >"$bases/other/Binary.idt"
cp "$bases/plain.msi" "$bases/other.msi"
(cd "$bases/other" && msibuild ../other.msi -i Binary.idt)
# shellcheck disable=SC2016 # backquotes are SQL quoting here
msibuild "$bases/bare.msi" \
    -q 'CREATE TABLE `InstallExecuteSequence` (`Action` CHAR(72) NOT NULL, `Condition` CHAR(255), `Sequence` SHORT PRIMARY KEY `Action`)' \
    -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('CostFinalize', 1000)" \
    -q 'CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), `DefaultDir` CHAR(255) NOT NULL LOCALIZABLE PRIMARY KEY `Directory`)' \
    -q "INSERT INTO \`Directory\` (\`Directory\`, \`DefaultDir\`) VALUES ('INSTALLDIR', 'SourceDir')"
# A merge module: its own sequence and the ModuleSignature table.
# shellcheck disable=SC2016 # backquotes are SQL quoting here
msibuild "$bases/module.msi" \
    -q 'CREATE TABLE `ModuleSignature` (`ModuleID` CHAR(72) NOT NULL, `Language` SHORT NOT NULL, `Version` CHAR(32) NOT NULL PRIMARY KEY `ModuleID`, `Language`)' \
    -q "INSERT INTO \`ModuleSignature\` (\`ModuleID\`, \`Language\`, \`Version\`) VALUES ('QelModule.1', 0, '1.0')" \
    -q 'CREATE TABLE `ModuleInstallExecuteSequence` (`Action` CHAR(64) NOT NULL, `Sequence` SHORT, `BaseAction` CHAR(64), `After` SHORT, `Condition` CHAR(255) PRIMARY KEY `Action`)'
! msiinfo export "$bases/plain.msi" CustomAction | grep -c qel >/dev/null || { echo "check-add-to-package: the plain package has the actions" >&2; exit 1; }

# DLLs: a later build (the same with bytes appended), and files that are not the DLL.
mkdir -p "$work/dlls"
{ cat "$dll"; printf 'a later build'; } >"$work/dlls/later.dll"
printf 'MZ this is no DLL.' >"$work/dlls/stub.dll"
cp "$(dirname "$dll")/mark_uncompressed.exe" "$work/dlls/program.exe" 2>/dev/null || cp "$dll" "$work/dlls/program.exe"
LC_ALL=C sed '1,/^PE/s/PE\x00\x00\x4c\x01/PE\x00\x00\x64\x86/' "$dll" >"$work/dlls/x64.dll"
LC_ALL=C sed 's/qelPromptForOriginalDisk/qelPromptForOriginalDisc/g' "$dll" >"$work/dlls/other-exports.dll"
head -c 4096 "$dll" >"$work/dlls/truncated.dll"
for size in 72 150 200 400; do head -c "$size" "$dll" >"$work/dlls/cut-$size.dll"; done
# msiinfo as a damaged package makes it: killed by a segmentation fault.
mkdir -p "$work/crashing"
printf '#!/bin/sh\nkill -SEGV $$\n' >"$work/crashing/msiinfo"
chmod +x "$work/crashing/msiinfo"
# The script with the release's files, alone, and with an Error.idt whose text msitools cannot write.
mkdir -p "$work/release" "$work/alone" "$work/quoted"
cp "$add" "$dll" "$installer/Error.idt" "$work/release/"
cp "$add" "$work/alone/"
cp "$add" "$dll" "$work/quoted/"
printf "Error\tMessage\r\ni2\tL0\r\nError\tError\r\n26002\tInsert the author's disk\r\n" >"$work/quoted/Error.idt"
# msibuild and cksum as a build farm may see them: they count their runs (msibuild's in CASE_LOG,
# each one's in CASE_LOG.calls) and, at the run CASE_HOOK_AT names ("TOOL N", default the first
# msibuild), first do what a case does meanwhile (CASE_HOOK, once; a hook that fails stops the
# tool there, as a killed tool).
mkdir -p "$work/slow"
for tool in msibuild cksum; do
    {
        cat <<'EOF'
#!/bin/sh
tool=${0##*/}
if [ -n "${CASE_LOG:-}" ]; then [ $tool != msibuild ] || echo msibuild >>"$CASE_LOG"; echo $tool >>"$CASE_LOG.calls"; fi
if [ -n "${CASE_HOOK:-}" ] && [ "${CASE_HOOK_AT:-msibuild 1}" = "$tool $(grep -cx $tool "$CASE_LOG.calls")" ] &&
    mkdir "$CASE_LOG.hook" 2>/dev/null; then sh -c "$CASE_HOOK" || exit 1; fi
EOF
        printf 'exec %q "$@"\n' "$(command -v "$tool")"
    } >"$work/slow/$tool"
    chmod +x "$work/slow/$tool"
done
# Where another user (nobody) runs: a folder anyone may write in.
mkdir -p "$work/shared"
chmod 777 "$work/shared"

failures=0
check() { # check NAME CONDITION...: one line per case
    if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}
export_of() { (cd "$work" && msiinfo export "$1" "$2") | tr -d '\r'; } # in $work: it writes the streams there
sql() { msibuild "$1" -q "$2"; }
default_prompt="$(tr -d '\r' <"$installer/Error.idt" | sed -n 's/^26002\t//p')"

# shellcheck disable=SC2317 # its functions are called through check
if [[ -n "$wine" ]]; then
    # The release's files as a package author has them: the ZIP that scripts/release.sh made beside
    # the DLL, unpacked into a folder of their own; without one, the same files from the sources.
    zips=("$(dirname "$dll")"/release/QelCustInst-*.zip)
    if [[ -f "${zips[0]}" ]]; then
        rm -rf "$work/release" "$work/unzipped"
        mkdir -p "$work/unzipped"
        (cd "$work/unzipped" && cmake -E tar xf "${zips[0]}")
        mv "$(find "$work/unzipped" -mindepth 1 -maxdepth 1 -type d)" "$work/release"
        cmp -s "$work/release/QelCustInst.dll" "$dll" ||
            { echo "check-add-to-package: ${zips[0]} holds another DLL than $dll; run scripts/release.sh" >&2; exit 1; }
        echo "the release's files: unpacked from ${zips[0]##*/}"
    else
        cp "$installer/QelCustInst.wxi" "$work/release/"
        echo "the release's files: no release ZIP beside $dll, so copied from the sources"
    fi
    author() { "$work/release/add-to-package.sh" "$@"; }
    # qelPromptForOriginalDisk where a package wants it: after the check, on a CD-ROM only.
    prompt_on_cd() {
        sql "$1" "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Condition\`, \`Sequence\`) VALUES ('qelPromptForOriginalDisk', 'PROMPT_FOR_CD1 = 1', 1002)"
    }
    logs="$wine/logs"
    installs() { # installs NAME PACKAGE DRIVES: install-demo.sh's checks, its output kept in WORKDIR
        "$here/install-demo.sh" --drives "$3" --package "$2" "$dll" "$wine" >"$work/wine-$1.out" 2>&1 ||
            { cat "$work/wine-$1.out"; return 1; }
    }
    logged() { LC_ALL=C grep -qF "$1" "$logs/install-$2.log"; } # logged TEXT DRIVE: in the raw log

    western="Insérez le disque d’origine, s’il vous plaît."
    printf '\r\n\r\n1252\t_ForceCodepage\r\n' >"$bases/_ForceCodepage.idt"
    cp "$bases/plain.msi" "$work/western.msi"
    (cd "$bases" && msibuild "$work/western.msi" -i _ForceCodepage.idt)
    author "$work/western.msi" --prompt "$western"
    prompt_on_cd "$work/western.msi"
    check "a Western prompt: installed from the CD-ROM drive" installs western "$work/western.msi" cdrom
    check "a Western prompt: logged exactly (1252)" logged "Info 26002.$(iconv -f UTF-8 -t CP1252 <<<"$western")" cdrom

    japanese="元のディスクを入れてください。"
    cp "$bases/cp932.msi" "$work/japanese.msi"
    author "$work/japanese.msi" --prompt "$japanese"
    prompt_on_cd "$work/japanese.msi"
    # Installed and removed in a Japanese locale: Wine writes the log in the ANSI code page, 932 there
    # (and its own words in Japanese). The actions' answers on each drive are the Western package's.
    japanese_log() (
        # shellcheck source=wine/qel-wine.sh
        source "$repo/wine/qel-wine.sh"
        qw_enter check-add-to-package "$wine" iconv
        qw_prefix
        qw_drive d cdrom "$work/japanese-cd"
        cp "$work/japanese.msi" "$work/japanese-cd/"
        env LC_ALL=ja_JP.UTF-8 timeout 180 wine msiexec /i 'D:\japanese.msi' /qn /l*v "$logs/install-japanese.log" &&
            env LC_ALL=ja_JP.UTF-8 timeout 180 wine msiexec /x 'D:\japanese.msi' /qn /l*v "$logs/uninstall-japanese.log" &&
            LC_ALL=C grep -qF "26002$(iconv -f UTF-8 -t CP932 <<<"。$japanese")" "$logs/install-japanese.log"
    )
    check "a Japanese prompt: installed, removed and logged exactly (932)" japanese_log

    # Its own actions: QelLate, and QelReader after it, which copies PROMPT_FOR_CD1.
    cp "$bases/plain.msi" "$work/after.msi"
    for row in "QelLate|51|QEL_LATE|1|1100" "QelReader|51|READ_CD1|[PROMPT_FOR_CD1]|1102"; do
        IFS='|' read -r action type source target sequence <<<"$row"
        sql "$work/after.msi" "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('$action', $type, '$source', '$target')"
        sql "$work/after.msi" "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('$action', $sequence)"
    done
    author "$work/after.msi" --after QelLate
    check "--after QelLate: at 1101" grep -qx 'qelAreWeRunningFromCD		1101' <(export_of "$work/after.msi" InstallExecuteSequence)
    check "--after QelLate: installed from a fixed and a CD-ROM drive" installs after "$work/after.msi" fixed,cdrom
    check "--after QelLate: the action after it reads PROMPT_FOR_CD1" \
        grep -q '^Property(S): READ_CD1 = 1' "$logs/install-cdrom.log.txt"

    cp "$bases/plain.msi" "$work/signed.msi"
    author "$work/signed.msi"
    author "$work/signed.msi" --replace-dll --dll "$signed"
    check "--replace-dll: the signed DLL in the package" cmp -s <(msiinfo extract "$work/signed.msi" Binary.QelCustInst) "$signed"
    check "--replace-dll: installed from a fixed and a CD-ROM drive" installs signed "$work/signed.msi" fixed,cdrom

    # The README's example report: the lines after the action's start in the log of its failure.
    readme_report="$(awk '/^### When an action fails/ { f = 1 } f && /^```/ { n++; next } f && n == 1' "$repo/README.md" | tail -n +2)"
    log_report="$(grep -A 4 '^Action start .*: qelAreWeRunningFromCD\.$' "$logs/install-broken.log.txt" 2>/dev/null | tail -n +2)"
    check "the README's example report is the one Wine logs (${log_report:-none: run wine_install first})" \
        test -n "$log_report" -a "$readme_report" = "$log_report"
    ((failures == 0))
    exit
fi

# --- After each case: holders stopped, the tmpfs unmounted, what a case made beside the package removed. ---
holder="" pidfile="$work/shared/run.pid" log="$work/shared/case.log"
tidy() {
    if [[ -n "$holder" ]]; then kill "$holder" 2>/dev/null || true; wait "$holder" 2>/dev/null || true; holder=""; fi
    if mountpoint -q "$work/disk" 2>/dev/null; then umount "$work/disk"; fi
    rm -rf "$work/second-name.msi" "$work"/xxxxxxxx*.msi "$work/newbuild.msi" "$work/link-target" "$work"/.add-to-package.* "$work/shared"/* "$work/shared"/.add-to-package.*
}
trap tidy EXIT

# --- Preparations of the package (PKG) before a case runs. They may move it (pkg) and set how the
# script runs (run_path, run_script, run_as, hook: what the msibuild on PATH does first), what a
# refused run leaves (expect: the file the package must equal), and what a run may leave beside it
# (kept). 77: the case cannot run here, for the reason in skip_reason. A row gives a preparation
# with the arguments that follow PKG. ---
none() { :; }
missing() { rm -f "$1"; }
damaged() { head -c 512 /dev/zero | tr '\0' '\377' | dd of="$1" bs=512 seek=12 conv=notrunc 2>/dev/null; }
crashing_msiinfo() { run_path="$work/crashing:$PATH"; }
read_only() { chmod 444 "$1"; }
owned_by_nobody() { if ((EUID == 0)); then chown 65534:65534 "$1"; fi; chmod 664 "$1"; }
patched() { "$add" "$1" --dll "$dll" >/dev/null; }
patched_with() { patched "$1" && msibuild "$1" -a Binary.QelCustInst "$work/dlls/$2.dll"; }
action_row() { # action_row PKG ACTION TYPE SOURCE
    sql "$1" "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('$2', $3, '$4', '$2')"
}
ours() { action_row "$1" qelAreWeRunningFromCD "$2" QelCustInst; } # ours PKG TYPE
other_error() { sql "$1" "INSERT INTO \`Error\` (\`Error\`, \`Message\`) VALUES (26002, 'Another text')"; }
no_cost_finalize() { sql "$1" "DELETE FROM \`InstallExecuteSequence\` WHERE \`Action\` = 'CostFinalize'"; }
scheduled() { # scheduled PKG ACTION SEQUENCE: in both sequences
    for table in InstallExecuteSequence InstallUISequence; do
        sql "$1" "INSERT INTO \`$table\` (\`Action\`, \`Sequence\`) VALUES ('$2', $3)"
    done
}
other_action() { action_row "$1" "$2" 1 Other && scheduled "$1" "$2" "$3"; } # other_action PKG ACTION SEQUENCE
late_patched() { other_action "$1" QelLate 1200 && patched "$1"; }
late_patched_conditioned() {
    late_patched "$1" &&
        sql "$1" "UPDATE \`InstallExecuteSequence\` SET \`Condition\` = 'NOT Installed' WHERE \`Action\` = 'qelAreWeRunningFromCD'"
}
script_in() { run_script="$work/$2/add-to-package.sh"; } # script_in PKG FOLDER: a copy of the script run
hard_linked() { ln "$1" "$work/second-name.msi"; }
long_name() { pkg="$work/$(printf 'x%.0s' {1..240}).msi" && mv "$1" "$pkg"; }
# The root storage's class of another kind of installer file (at 0x50 of the first directory entry).
with_class() { # with_class PKG BYTE
    local sector directory
    sector=$((1 << $(od -An -tu2 -j 30 -N 2 "$1"))) directory=$(($(od -An -tu4 -j 48 -N 4 "$1")))
    printf '%b' "\\x$2" | dd of="$1" bs=1 seek=$(((directory + 1) * sector + 80)) conv=notrunc 2>/dev/null
}
# While the run works on its copy: a build replaces the package; a signal reaches the run alone.
newer_build() {
    cp "$bases/plain.msi" "$work/newbuild.msi"
    sql "$work/newbuild.msi" "INSERT INTO \`Property\` (\`Property\`, \`Value\`) VALUES ('NEWER_BUILD', '1')"
    hook="cp $work/newbuild.msi $1.new && mv -f $1.new $1" expect="$work/newbuild.msi"
}
signal_at() { hook="kill -$2 \$(cat $pidfile)" hook_at="${3:+$3 $4}"; } # signal_at PKG SIGNAL [TOOL N]
removed() { hook="rm -f $1" expect="$work/none.msi"; }
# A folder another run has just made and not locked yet (an older, empty one is a killed run's).
fresh_folder() { mkdir "$work/.add-to-package.FRESH1"; kept=.add-to-package.FRESH1; }
old_empty_folder() { mkdir "$work/.add-to-package.EMPTY1" && touch -d '2 minutes ago' "$work/.add-to-package.EMPTY1"; }
# A run killed (SIGKILL) as it began to rewrite its copy leaves its folder and its lock file.
killed_run() {
    local left
    { CASE_LOG="$work/shared/killed.log" CASE_HOOK="kill -KILL \$(cat $pidfile); false" PATH="$work/slow:$PATH" \
        bash -c 'echo $$ >"$0"; exec "$@"' "$pidfile" "$add" "$1" --dll "$dll" >/dev/null; } 2>/dev/null || true
    left="$(find "$work" -maxdepth 1 -type d -name '.add-to-package.??????')"
    [[ -n "$left" && -f "$work/.add-to-package.package.msi.lock" ]] || return 1
    # Its folder stays locked until the tool it ran has ended.
    for _ in {1..50}; do ! flock -n "$left" true || return 0; sleep 0.1; done
}
lock_of() { echo "$(dirname "$1")/.add-to-package.$(basename "$1").lock"; }
lock_link() { ln -s "$work/link-target" "$(lock_of "$1")"; kept=.add-to-package.package.msi.lock; }
# A lock file of root's, held by another run for SECONDS.
held_lock() { # held_lock PKG SECONDS
    local lock
    lock="$(lock_of "$1")"
    : >"$lock" && chmod 644 "$lock"
    (exec 7<"$lock" && flock 7 && exec sleep "$2") &
    holder=$!
    while flock -n "$lock" true; do sleep 0.05; done
}
held_too_long() { held_lock "$1" 30; kept=.add-to-package.package.msi.lock; }
# The package in the folder anyone may write in, where another user acts (as root only).
in_shared() {
    ((EUID == 0)) || { skip_reason="not root: cannot run as another user"; return 77; }
    mv "$1" "$work/shared/package.msi" && pkg="$work/shared/package.msi"
}
as_nobody() { in_shared "$1" && run_as=nobody && chown 65534:65534 "$pkg"; } # nobody's, patched by nobody
stale_lock_of_root() { as_nobody "$1" && : >"$(lock_of "$pkg")" && chmod 644 "$(lock_of "$pkg")"; }
other_user_holding() { as_nobody "$1" && held_lock "$pkg" 2; }
not_owner() { as_nobody "$1" && chown 0:0 "$pkg" && chmod 666 "$pkg"; }
# Root patches in a folder anyone may write in (no sticky bit) while nobody holds the lock; they
# rename the run's folder and put one of theirs in its place, with links to root's file victim
# under the names the run uses, then let the lock go.
hijacked() {
    in_shared "$1" || return
    kept='.add-to-package.??????'
    echo "root's own" >"$work/victim" && chmod 600 "$work/victim"
    # shellcheck disable=SC2016 # expanded by nobody's shell
    runuser -u nobody -- bash -c 'cd "$1" && : >"$2" && exec 7<"$2" && flock 7 && touch ready || exit 1
        for _ in {1..200}; do
            for run in .add-to-package.??????; do
                [[ -d "$run" ]] || continue
                mv "$run" moved-away && mkdir -m 777 "$run" "$run/import" || exit 1
                for name in package.msi lock import/Binary.idt import/_SummaryInformation.idt; do ln -s "$3" "$run/$name"; done
                exit 0
            done
            sleep 0.05
        done' - "$work/shared" "$(lock_of "$pkg")" "$work/victim" &
    holder=$!
    while [[ ! -e "$work/shared/ready" ]]; do kill -0 "$holder" 2>/dev/null || return 1; sleep 0.05; done
}
# The package on a tmpfs with ROOM bytes beside it (and INODES files and folders at the most).
on_disk() { # on_disk PKG ROOM [INODES]
    ((EUID == 0)) || { skip_reason="not root: cannot mount a tmpfs"; return 77; }
    mkdir -p "$work/disk"
    mount -t tmpfs -o size=$((($(stat -c %s "$1") + 4095) / 4096 * 4096 + $2))${3:+,nr_inodes=$3} tmpfs "$work/disk" 2>/dev/null ||
        { skip_reason="cannot mount a tmpfs"; return 77; }
    mv "$1" "$work/disk/package.msi"
    pkg="$work/disk/package.msi"
}
full_disk_patched() { patched "$1" && on_disk "$1" 8192; }
# Room for the run, until a writer fills the disk while it works.
filling_disk() {
    on_disk "$1" $((2 * $(stat -c %s "$1") + 2 * $(stat -c %s "$dll") + 1048576 + 262144)) &&
        hook="dd if=/dev/zero of=$work/disk/filler bs=4096 2>/dev/null; true"
}

# --- Checks of a case, on PKG; BEFORE is the package as it was (or as it must be after a refusal). ---
revision() { msiinfo suminfo "$1" | sed -n 's/^Revision number (UUID): //p'; }
one_rewrite() { [[ "$(wc -l <"$log")" == 1 ]]; }
no_rewrite() { [[ ! -s "$log" ]]; }
new_code() { # a package code of its own, in one rewrite
    local now
    now="$(revision "$1")"
    [[ "$now" =~ ^\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\}$ && "$now" != "$(revision "$2")" ]] && one_rewrite
}
added() { # added PKG BEFORE SEQUENCE: the DLL, both actions, the sequences at SEQUENCE, row 26002, a new package code
    local table action
    cmp -s <(msiinfo extract "$1" Binary.QelCustInst) "$dll" || return 1
    for action in qelAreWeRunningFromCD qelPromptForOriginalDisk; do
        grep -qx "$action	[0-9]*	QelCustInst	$action	" <(export_of "$1" CustomAction) || return 1
    done
    for table in InstallExecuteSequence InstallUISequence; do
        if msiinfo tables "$2" | grep -qx "$table"; then
            grep -qx "qelAreWeRunningFromCD		$3" <(export_of "$1" "$table") || return 1
        else
            ! msiinfo tables "$1" | grep -qx "$table" || return 1
        fi
    done
    grep -qxF "26002	${prompt:-$default_prompt}" <(export_of "$1" Error) && new_code "$1" "$2"
}
in_cp932() { added "$@" && LC_ALL=C grep -qF "$(iconv -f UTF-8 -t CP932 <<<"$prompt" | tr -d '\n')" "$1"; }
other_binary_kept() { added "$@" && cmp -s <(msiinfo extract "$1" Binary.Other) "$bases/other/Binary/Other.ibd"; }
second_name_kept() { added "$@" && cmp -s "$work/second-name.msi" "$2"; }
untouched() { [[ "$(stat -c '%i %y' "$1")" == "$before_stat" ]] && cmp -s "$1" "$2" && no_rewrite; }
fresh_kept() { added "$@" && [[ -d "$work/.add-to-package.FRESH1" ]]; }
# Root's file as it was, the package patched, and the run's own folder, renamed, left empty.
hijack_kept_out() {
    [[ "$(cat "$work/victim")" == "root's own" ]] && added "$@" &&
        [[ -d "$work/shared/moved-away" && -z "$(ls -A "$work/shared/moved-away")" ]]
}
no_suggestion() { [[ "$out" != *--replace-dll* ]]; }
no_link_target() { [[ ! -e "$work/link-target" ]]; }
dll_replaced() { # the later DLL in place, a new package code, every other table and stream as it was
    local table
    cmp -s <(msiinfo extract "$1" Binary.QelCustInst) "$work/dlls/later.dll" || return 1
    [[ "$(msiinfo tables "$1")" == "$(msiinfo tables "$2")" ]] || return 1
    for table in $(msiinfo tables "$2"); do
        [[ "$table" == Binary || "$table" == _SummaryInformation ]] ||
            cmp -s <(export_of "$1" "$table") <(export_of "$2" "$table") || return 1
    done
    cmp -s <(msiinfo extract "$1" Binary.Other) "$bases/other/Binary/Other.ibd" && new_code "$1" "$2"
}

# --- The cases: name | package | preparation | arguments (;-separated; NODLL: no --dll; @: the
#     package there, else first) | expected exit | expected text in the output | check. ---

cases=(
    "a plain package, the default prompt|plain|owned_by_nobody||0|now holds QelCustInst.dll|added 1001"
    "bare tables, the package's own prompt|bare|none|--prompt;Insert disk 1, please.|0|now holds|added 1001"
    "another Binary row keeps its data|other|none||0|now holds|other_binary_kept 1001"
    "a Western prompt in a neutral package|plain|none|--prompt;Insérez le disque d’origine.|0|code page is 0 (neutral)|added 1001"
    "a Japanese prompt in a 932 package|cp932|none|--prompt;元のディスクを入れてください。|0|now holds|in_cp932 1001"
    "type 321 (first sequence, continue on error) is QelCustInst's|plain|ours 321||0|now holds|added 1001"
    "an action passed over is named|plain|other_action QelReader 1001||0|warning: in InstallExecuteSequence, qelAreWeRunningFromCD goes to 1002, so QelReader (1001)|added 1002"
    "--after a later action|plain|other_action QelLate 1200|--after;QelLate|0|now holds|added 1201"
    "--after moves the action of a patched package|plain|late_patched|--after;QelLate|0|moved from 1001 to 1201|added 1201"
    "-- before the package|plain|none|--;@|0|now holds|added 1001"
    "a second run leaves the file alone|plain|patched||0|nothing to add|untouched"
    "--help|plain|none|--help|0|--replace-dll  put the DLL|untouched"
    "--replace-dll with the DLL already in place|other|patched|--replace-dll|0|already holds this QelCustInst.dll ($(stat -c %s "$dll") bytes): nothing replaced|untouched"
    "--replace-dll puts a later build in place|other|patched|--replace-dll;--dll;$work/dlls/later.dll|0|in place of the one|dll_replaced"
    "the release's files copied anywhere|plain|script_in release|NODLL|0|now holds|added 1001"
    "a package with a second name (hard link)|plain|hard_linked||0|other name(s) (hard links): they keep the package as it was|second_name_kept 1001"
    "a prompt partly outside the code page|plain|none|--prompt;Disc 日本語 ok|1|code page is 0 (neutral, written in 1252), which cannot hold the --prompt text: its first character that it cannot hold is '日'|"
    "a Western prompt in a 932 package|cp932|none|--prompt;Insérez|1|code page is 932, which cannot hold the --prompt text: its first character that it cannot hold is 'é'|"
    "no INSTALLDIR|appdir|none||1|has no directory INSTALLDIR: qelAreWeRunningFromCD reads the source path of INSTALLDIR|"
    "a merge module|module|none||1|is a merge module (.msm), not an installation package: only an installation package (.msi) can be patched|"
    "a transform|plain|with_class 82||1|is a transform (.mst), not an installation package|"
    "a patch|plain|with_class 86||1|is a patch (.msp), not an installation package|"
    "a stub starting with MZ|plain|none|--dll;$work/dlls/stub.dll|1|is not a 32-bit DLL exporting qelAreWeRunningFromCD and qelPromptForOriginalDisk|"
    "a program|plain|none|--dll;$work/dlls/program.exe|1|a program, not a DLL|"
    "a 64-bit DLL|plain|none|--dll;$work/dlls/x64.dll|1|not for 32-bit x86|"
    "a DLL without the exports|plain|none|--dll;$work/dlls/other-exports.dll|1|does not export qelPromptForOriginalDisk|"
    "a truncated DLL|plain|none|--dll;$work/dlls/truncated.dll|1|is not a 32-bit DLL exporting qelAreWeRunningFromCD and qelPromptForOriginalDisk: it is truncated or damaged: it ends inside its export table|"
    "a missing DLL|plain|none|--dll;$work/none.dll|1|cannot read the DLL|"
    "a deferred row|plain|ours 1025||1|type 1025, a deferred action: it would not be able to set PROMPT_FOR_CD1|"
    "a rollback row|plain|ours 1281||1|a rollback action|"
    "a commit row|plain|ours 1537||1|a commit action|"
    "a row of another binary|plain|action_row qelPromptForOriginalDisk 1 Other||1|already has a CustomAction row qelPromptForOriginalDisk that is not QelCustInst's|"
    "--after an action that is not there|plain|none|--after;QelNone|1|has no action QelNone in InstallExecuteSequence|"
    "--after an action before CostFinalize|plain|none|--after;FileCost|1|FileCost comes before CostFinalize|"
    "--after, and the action placed under a condition|plain|late_patched_conditioned|--after;QelLate|1|at 1001 under a condition of its own (NOT Installed): it is not moved|"
    "--replace-dll on a package not patched|plain|none|--replace-dll|1|holds no QelCustInst binary to replace|"
    "--replace-dll with a stub|plain|patched|--replace-dll;--dll;$work/dlls/stub.dll|1|is not a 32-bit DLL|"
    "--replace-dll over a binary that is not this DLL|plain|patched_with stub|--replace-dll|1|holds a QelCustInst binary that is not a build of this DLL|"
    "another QelCustInst binary|plain|patched_with stub||1|already holds a QelCustInst binary that is not a build of this DLL (it is truncated or damaged|no_suggestion"
    "another build of this DLL|plain|patched_with later||1|already holds another build of QelCustInst.dll (--replace-dll puts this one in its place)|"
    "another row 26002 with --prompt|plain|other_error|--prompt;Insert disk 1|1|already has an Error row 26002|"
    "no CostFinalize|plain|no_cost_finalize||1|has no CostFinalize in InstallExecuteSequence|"
    "a quote in the prompt|plain|none|--prompt;Insert the author's disk|1|the --prompt text holds a '|"
    "a quote in Error.idt|plain|script_in quoted|NODLL|1|the text of row 26002 in $work/quoted/Error.idt holds a '|"
    "a tab in the prompt|plain|none|--prompt;Insert	disk|1|holds a tab|"
    "an empty prompt|plain|none|--prompt;''|1|is empty|"
    "a missing package|plain|missing||1|does not exist|"
    "a read-only package|plain|read_only||1|is read-only|"
    "a damaged package|plain|damaged||1|is not a readable installer database|"
    "a tool that crashes|plain|crashing_msiinfo||1|is not a readable installer database|"
    "the script copied alone, no --dll|plain|script_in alone|NODLL|1|no QelCustInst.dll beside this script|"
    "the script copied alone, no --prompt|plain|script_in alone||1|no Error.idt beside this script|"
    "--dll without a value|plain|none|--dll|2|add-to-package: --dll needs a value|"
    "an unknown option|plain|none|--pompt;x|2|add-to-package: unknown option --pompt|"
    "--replace-dll with --prompt|plain|none|--replace-dll;--prompt;x|2|no --prompt or --after with it|"
    # A build farm: other writers, signals, locks, other users, full disks.
    "a newer build written during the run stays|plain|newer_build||1|changed during the run (another program wrote, moved or removed it): it is left as that program left it|"
    "SIGINT to the run alone, while msibuild runs|plain|signal_at INT||130|stopped by SIGINT|"
    "a killed run's copy and lock file are removed|plain|killed_run||0|now holds|added 1001"
    "a lock path that is a symbolic link|plain|lock_link||1|is a symbolic link, not a lock file|no_link_target"
    "a lock held longer than --wait|plain|held_too_long|--wait;1|1|has held $work/.add-to-package.package.msi.lock for 1 seconds: gave up|no_rewrite"
    "nobody, and a stale lock file of root's|plain|stale_lock_of_root||0|now holds|added 1001"
    "nobody waits for root's run|plain|other_user_holding||0|now holds|added 1001"
    "nobody, and a package of root's|plain|not_owner||1|cannot give the patched copy the owner and group of $work/shared/package.msi (root:root)|no_rewrite"
    "no room for the copy|plain|on_disk 16384||1|no space left on $work/disk (needs|no_rewrite"
    "the disk fills during the run|plain|filling_disk||1|no space left on $work/disk (needs|"
    "already patched, on a full disk|plain|full_disk_patched||0|nothing to add|untouched"
    "no inode left for the run's folder|plain|on_disk 4194304 2||1|no room for another file on $work/disk (no free inodes)|no_rewrite"
    "SIGTERM as the run checks the package, before replacing it|plain|signal_at TERM cksum 2||143|stopped by SIGTERM: $work/package.msi is left as it was|"
    "SIGTERM as the run replaces the package: it completes|plain|signal_at TERM cksum 3||0|now holds|added 1001"
    "the package removed during the run|plain|removed||1|changed during the run (another program wrote, moved or removed it)|"
    "a new run's folder, not locked yet, is left alone|plain|fresh_folder||0|now holds|fresh_kept 1001"
    "an empty run folder a minute old is removed|plain|old_empty_folder||0|now holds|added 1001"
    "root, and nobody replacing the run's folder beside the package|plain|hijacked||0|now holds|hijack_kept_out 1001"
    "--after the action it places|plain|none|--after;qelAreWeRunningFromCD|2|--after names the action that it places|"
    "a name too long for its lock's name|plain|long_name||0|now holds|added 1001"
)
# Cut inside the headers: the DOS header, the file header, the optional header, the section table.
for size in 72 150 200 400; do
    cases+=("a DLL cut after $size bytes|plain|none|--dll;$work/dlls/cut-$size.dll|1|it is truncated or damaged: it ends inside its headers|")
done
for entry in "${cases[@]}"; do
    IFS='|' read -r name base prepare args rc_expected message success <<<"$entry"
    tidy
    pkg="$work/package.msi"
    rm -f "$pkg" "$work/before.msi"
    cp "$bases/$base.msi" "$pkg"
    run_path="$work/slow:$PATH" run_script="$add" run_as="" hook="" hook_at="" expect="" kept="" skip_reason=""
    for file in "$pidfile" "$log"; do : >"$file" && chmod 666 "$file"; done
    prepared=0
    read -r -a prepare <<<"$prepare"
    "${prepare[0]}" "$pkg" "${prepare[@]:1}" || prepared=$?
    if ((prepared == 77)); then echo "skip $name ($skip_reason)"; continue; fi
    ((prepared == 0)) || { check "$name (its preparation failed)" false; continue; }
    : >"$log" && rm -f "$log.calls"
    [[ ! -e "$pkg" ]] || cp -p "$pkg" "$work/before.msi"
    expect="${expect:-$work/before.msi}"
    before_stat="$(stat -c '%i %y' "$pkg" 2>/dev/null || true)"
    before_owner="$(stat -c '%u:%g %a' "$pkg" 2>/dev/null || true)"
    IFS=';' read -r -a extra <<<"$args"
    [[ "${extra[*]-}" != *"''"* ]] || extra=("${extra[@]/\'\'/}")
    prompt=""
    for ((i = 0; i + 1 < ${#extra[@]}; i++)); do [[ "${extra[i]}" != --prompt ]] || prompt="${extra[i + 1]}"; done
    if [[ "$args" == NODLL ]]; then extra=(); elif [[ "$args" != *--dll* ]]; then extra=(--dll "$dll" "${extra[@]}"); fi
    if [[ " ${extra[*]-} " == *" @ "* ]]; then extra=("${extra[@]/#@/$pkg}"); else extra=("$pkg" "${extra[@]}"); fi
    as=()
    [[ -z "$run_as" ]] || as=(runuser -u "$run_as" --)
    rc=0
    # shellcheck disable=SC2016 # the inner shell expands them
    out="$(cd "$work" && timeout 60 "${as[@]}" env PATH="$run_path" CASE_LOG="$log" CASE_HOOK="$hook" CASE_HOOK_AT="$hook_at" \
        bash -c 'echo $$ >"$0"; exec "$@"' "$pidfile" "$run_script" "${extra[@]}" 2>&1)" || rc=$?
    problems=()
    ((rc == rc_expected)) || problems+=("exit $rc")
    [[ "$out" == *"$message"* ]] || problems+=("no \"$message\"")
    [[ "$out" != *Segmentation* && "$out" != *CRITICAL* && "$out" != *WARNING* ]] || problems+=("tool output")
    [[ "$out" != *"syntax error"* && "$out" != *": line "* && "$out" != *"No space left on device"* && "$out" != *"Permission denied"* ]] ||
        problems+=("shell or tool error output")
    left="$(find "$(dirname "$pkg")" -maxdepth 1 -name '.add-to-package.*' ! -name "${kept:-/}")"
    [[ -z "$left" ]] || problems+=("files left beside the package")
    read -r -a success <<<"$success"
    if ((${#success[@]} > 0 && rc == rc_expected)); then
        "${success[0]}" "$pkg" "$expect" "${success[@]:1}" || problems+=("${success[0]} failed")
    fi
    if ((rc == 0)); then
        [[ "$(stat -c '%u:%g %a' "$pkg")" == "$before_owner" ]] || problems+=("owner or mode changed")
    elif [[ -e "$expect" ]]; then
        cmp -s "$pkg" "$expect" || problems+=("the package changed")
    else
        [[ ! -e "$pkg" ]] || problems+=("a package was made")
    fi
    check "$name${problems[*]+ (${problems[*]}; exit $rc: $out)}" test "${#problems[@]}" = 0
    chmod 644 "$pkg" 2>/dev/null || true
done
tidy
pkg="$work/package.msi"

# --- Two runs at once on one package, with different prompts: one adds everything, the other
# then finds row 26002 with the first one's text and refuses. ---
cp "$bases/plain.msi" "$pkg"
"$add" "$pkg" --dll "$dll" --prompt "First run" >"$work/first.out" 2>&1 &
first=$!
rc2=0
"$add" "$pkg" --dll "$dll" --prompt "Second run" >"$work/second.out" 2>&1 || rc2=$?
rc1=0
wait "$first" || rc1=$?
winner="$(export_of "$pkg" Error | sed -n 's/^26002\t//p')"
serialised() {
    case "$rc1 $rc2 $winner" in
        "0 1 First run") grep -q 'already has an Error row 26002 with another text: First run' "$work/second.out" ;;
        "1 0 Second run") grep -q 'already has an Error row 26002 with another text: Second run' "$work/first.out" ;;
        *) return 1 ;;
    esac
}
check "two runs at once: the second sees what the first wrote (exits $rc1 and $rc2, row 26002 '$winner')" serialised

# --- QelCustInst.wxi from a folder of its own, with the README's wixl commands (RELEASE relative
# to the current folder; the form with realpath also absolute), and beside the .wxs. ---
mkdir -p "$work/wxs/release" "$work/wxs/product"
cp "$installer/QelCustInst.wxi" "$dll" "$work/wxs/release/"
cp "$here/demo/QelDemo.wxs" "$here/demo/installed-readme.txt" "$work/wxs/product/"
commands=0
while IFS= read -r line; do
    for release in ../release "$work/wxs/release"; do
        [[ "$release" == ../release || "$line" == *realpath* ]] || continue
        command="${line//RELEASE/$release}" command="${command//PACKAGE.wxs/QelDemo.wxs}" command="${command//PACKAGE/d}"
        commands=$((commands + 1))
        # shellcheck disable=SC2016 # the inner shell expands them
        check "README: $command" bash -c 'cd "$1/product" && rm -f d.msi && eval "$2" &&
            cmp -s <(msiinfo extract d.msi Binary.QelCustInst) ../release/QelCustInst.dll' - "$work/wxs" "$command"
    done
done < <(grep '^wixl -I RELEASE' "$repo/README.md")
check "README: a wixl command for a relative and one for an absolute RELEASE ($commands run)" test "$commands" -ge 3
# shellcheck disable=SC2016 # the inner shell expands them
check "wixl with QelCustInst.dll beside the .wxs" bash -c 'cd "$1/release" && cp ../product/* . &&
    wixl -o d.msi QelDemo.wxs && cmp -s <(msiinfo extract d.msi Binary.QelCustInst) QelCustInst.dll' - "$work/wxs"

# --- The README's figures and outputs are the build's and the tools'. ---
size="$(stat -c %s "$dll" | sed ':a; s/\B[0-9]\{3\}\>/,&/; ta')"
check "README states the DLL's size, $size bytes" grep -qF "$size-byte DLL" "$repo/README.md"
check "WORKDIR's other files are kept" test -f "$workdir/.kept-by-check-add-to-package"

((failures == 0))
