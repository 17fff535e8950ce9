#!/usr/bin/env bash
# Checks add-to-package.sh on packages authored without QelCustInst (the demo package minus the
# include file and the sequence), one table of cases: what it adds and where, what it leaves
# alone, and each refusal (a clear message, a non-zero exit, the package byte for byte as it was,
# no tool or shell error output). Also builds a package with QelCustInst.wxi from another folder
# (-I, -D) and checks the DLL size the README states.
# With --wine, instead: the package author's path under Wine, with the release's files in a
# folder of their own: packages patched with a prompt in a Western (1252) and a Japanese (932)
# code page, one patched with --after, one whose DLL is replaced by SIGNED; each installed with
# install-demo.sh (whose work folder, prefix included, is WINEWORK) from the drives that show them, and
# the README's example report compared with the one wine_install left in WINEWORK.
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
work="$(realpath -m "$2")"
repo="$(cd "$here/../.." && pwd)"
installer="$repo/installer"
add="$installer/add-to-package.sh"
# 77: skipped, for ctest; the test command always builds the DLL first.
[[ -f "$dll" && ( -z "$signed" || -f "$signed" ) ]] || { echo "check-add-to-package: $dll not found; build it with: cmake --preset windows && cmake --build --preset windows" >&2; exit 77; }
for tool in wixl msibuild msiinfo iconv; do
    command -v "$tool" >/dev/null || { echo "check-add-to-package: $tool is missing; run scripts/setup.sh" >&2; exit 1; }
done

# --- The packages the cases start from, in WORKDIR/bases. ---
bases="$work/bases"
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
! msiinfo export "$bases/plain.msi" CustomAction | grep -c qel >/dev/null || { echo "check-add-to-package: the plain package has the actions" >&2; exit 1; }

# DLLs: a later build (the same with bytes appended), and files that are not the DLL.
mkdir -p "$work/dlls"
{ cat "$dll"; printf 'a later build'; } >"$work/dlls/later.dll"
printf 'MZ this is no DLL.' >"$work/dlls/stub.dll"
cp "$(dirname "$dll")/mark_uncompressed.exe" "$work/dlls/program.exe" 2>/dev/null || cp "$dll" "$work/dlls/program.exe"
LC_ALL=C sed '1,/^PE/s/PE\x00\x00\x4c\x01/PE\x00\x00\x64\x86/' "$dll" >"$work/dlls/x64.dll"
LC_ALL=C sed 's/qelPromptForOriginalDisk/qelPromptForOriginalDisc/g' "$dll" >"$work/dlls/other-exports.dll"
head -c 4096 "$dll" >"$work/dlls/truncated.dll"
# Cut inside the headers: the DOS header, the file header, the optional header, the section table.
for size in 72 150 200 400; do head -c "$size" "$dll" >"$work/dlls/cut-$size.dll"; done
# msiinfo as a damaged package makes it: killed by a segmentation fault.
mkdir -p "$work/crashing"
printf '#!/bin/sh\nkill -SEGV $$\n' >"$work/crashing/msiinfo"
chmod +x "$work/crashing/msiinfo"
# The script with the release's files, and alone.
mkdir -p "$work/release" "$work/alone"
cp "$add" "$dll" "$installer/Error.idt" "$work/release/"
cp "$add" "$work/alone/"

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
    check "a Japanese prompt: installed from the CD-ROM drive" installs japanese "$work/japanese.msi" cdrom
    # Wine writes the log in the ANSI code page, 932 in a Japanese locale (and its own words in Japanese).
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
    check "a Japanese prompt: logged exactly (932)" japanese_log

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

# --- Preparations of the package copy (PKG) before a case runs; some set how it runs. ---
none() { :; }
missing() { rm -f "$1"; }
not_msi() { echo "not a database" >"$1"; }
damaged() { head -c 512 /dev/zero | tr '\0' '\377' | dd of="$1" bs=512 seek=12 conv=notrunc 2>/dev/null; }
crashing_msiinfo() { run_path="$work/crashing:$PATH"; }
read_only() { chmod 444 "$1"; }
owned_by_nobody() { if ((EUID == 0)); then chown 65534:65534 "$1"; fi; chmod 664 "$1"; }
patched() { "$add" "$1" --dll "$dll" >/dev/null; }
patched_with_stub() { patched "$1" && msibuild "$1" -a Binary.QelCustInst "$work/dlls/stub.dll"; }
action_row() { # action_row PKG ACTION TYPE SOURCE
    sql "$1" "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('$2', $3, '$4', '$2')"
}
other_source() { action_row "$1" qelPromptForOriginalDisk 1 Other; }
type_257() { action_row "$1" qelAreWeRunningFromCD 257 QelCustInst; }
type_65() { action_row "$1" qelAreWeRunningFromCD 65 QelCustInst; }
deferred() { action_row "$1" qelAreWeRunningFromCD 1025 QelCustInst; }
rollback() { action_row "$1" qelAreWeRunningFromCD 1281 QelCustInst; }
commit() { action_row "$1" qelAreWeRunningFromCD 1537 QelCustInst; }
other_error() { sql "$1" "INSERT INTO \`Error\` (\`Error\`, \`Message\`) VALUES (26002, 'Another text')"; }
no_cost_finalize() { sql "$1" "DELETE FROM \`InstallExecuteSequence\` WHERE \`Action\` = 'CostFinalize'"; }
scheduled() { # scheduled PKG ACTION SEQUENCE: in both sequences
    for table in InstallExecuteSequence InstallUISequence; do
        sql "$1" "INSERT INTO \`$table\` (\`Action\`, \`Sequence\`) VALUES ('$2', $3)"
    done
}
reader_after_cost() { action_row "$1" QelReader 1 Other && scheduled "$1" QelReader 1001; }
late_action() { action_row "$1" QelLate 1 Other && scheduled "$1" QelLate 1200; }
released() { run_script="$work/release/add-to-package.sh"; }
alone() { run_script="$work/alone/add-to-package.sh"; }

# --- Checks of a case that succeeded, on PKG; BEFORE is the package as it was. ---
added() { # added PKG BEFORE SEQUENCE: the DLL, both actions, the sequences at SEQUENCE, row 26002
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
    grep -qxF "26002	${prompt:-$default_prompt}" <(export_of "$1" Error)
}
in_cp932() { added "$@" && LC_ALL=C grep -qF "$(iconv -f UTF-8 -t CP932 <<<"$prompt" | tr -d '\n')" "$1"; }
other_binary_kept() { added "$@" && cmp -s <(msiinfo extract "$1" Binary.Other) "$bases/other/Binary/Other.ibd"; }
untouched() { [[ "$(stat -c '%i %y' "$1")" == "$before_stat" ]] && cmp -s "$1" "$2"; }
dll_replaced() { # the later DLL in place, every other table and stream as it was
    local table
    cmp -s <(msiinfo extract "$1" Binary.QelCustInst) "$work/dlls/later.dll" || return 1
    [[ "$(msiinfo tables "$1")" == "$(msiinfo tables "$2")" ]] || return 1
    for table in $(msiinfo tables "$2"); do
        [[ "$table" == Binary ]] || cmp -s <(export_of "$1" "$table") <(export_of "$2" "$table") || return 1
    done
    cmp -s <(msiinfo extract "$1" Binary.Other) "$bases/other/Binary/Other.ibd"
}

# --- The cases: name | package | preparation | arguments (;-separated; NODLL: no --dll) |
#     expected exit | expected text in the output | check on success. ---

cases=(
    "a plain package, the default prompt|plain|owned_by_nobody||0|now holds QelCustInst.dll|added 1001"
    "bare tables, the package's own prompt|bare|none|--prompt;Insert disk 1, please.|0|now holds|added 1001"
    "another Binary row keeps its data|other|none||0|now holds|other_binary_kept 1001"
    "a Western prompt in a neutral package|plain|none|--prompt;Insérez le disque d’origine.|0|code page is 0 (neutral)|added 1001"
    "a Japanese prompt in a 932 package|cp932|none|--prompt;元のディスクを入れてください。|0|now holds|in_cp932 1001"
    "type 257 (first sequence) is QelCustInst's|plain|type_257||0|now holds|added 1001"
    "type 65 (continue on error) is QelCustInst's|plain|type_65||0|now holds|added 1001"
    "an action passed over is named|plain|reader_after_cost||0|warning: in InstallExecuteSequence, qelAreWeRunningFromCD goes to 1002, so QelReader (1001)|added 1002"
    "--after a later action|plain|late_action|--after;QelLate|0|now holds|added 1201"
    "a second run leaves the file alone|plain|patched||0|nothing to add|untouched"
    "--replace-dll with the DLL already in place|other|patched|--replace-dll|0|already holds this QelCustInst.dll ($(stat -c %s "$dll") bytes): nothing replaced|untouched"
    "--replace-dll puts a later build in place|other|patched|--replace-dll;--dll;$work/dlls/later.dll|0|in place of the one|dll_replaced"
    "the release's files copied anywhere|plain|released|NODLL|0|now holds|added 1001"
    "a prompt outside the code page|plain|none|--prompt;日本語|1|code page is 0 (neutral, written in 1252), which cannot hold the --prompt text: its first character that it cannot hold is '日'|"
    "a prompt partly outside the code page|plain|none|--prompt;Disc 日本語 ok|1|first character that it cannot hold is '日'|"
    "a Western prompt in a 932 package|cp932|none|--prompt;Insérez|1|code page is 932, which cannot hold the --prompt text: its first character that it cannot hold is 'é'|"
    "no INSTALLDIR|appdir|none||1|has no directory INSTALLDIR: qelAreWeRunningFromCD reads the source path of INSTALLDIR|"
    "a stub starting with MZ|plain|none|--dll;$work/dlls/stub.dll|1|is not a 32-bit DLL exporting qelAreWeRunningFromCD and qelPromptForOriginalDisk|"
    "a program|plain|none|--dll;$work/dlls/program.exe|1|a program, not a DLL|"
    "a 64-bit DLL|plain|none|--dll;$work/dlls/x64.dll|1|not for 32-bit x86|"
    "a DLL without the exports|plain|none|--dll;$work/dlls/other-exports.dll|1|does not export qelPromptForOriginalDisk|"
    "a truncated DLL|plain|none|--dll;$work/dlls/truncated.dll|1|is not a 32-bit DLL exporting qelAreWeRunningFromCD and qelPromptForOriginalDisk: it is truncated or damaged: it ends inside its export table|"
    "a DLL cut after 72 bytes|plain|none|--dll;$work/dlls/cut-72.dll|1|it is truncated or damaged: it ends inside its headers|"
    "a DLL cut after 150 bytes|plain|none|--dll;$work/dlls/cut-150.dll|1|it is truncated or damaged: it ends inside its headers|"
    "a DLL cut after 200 bytes|plain|none|--dll;$work/dlls/cut-200.dll|1|it is truncated or damaged: it ends inside its headers|"
    "a DLL cut after 400 bytes|plain|none|--dll;$work/dlls/cut-400.dll|1|it is truncated or damaged: it ends inside its headers|"
    "a missing DLL|plain|none|--dll;$work/none.dll|1|cannot read the DLL|"
    "a deferred row|plain|deferred||1|type 1025, a deferred action: it would not be able to set PROMPT_FOR_CD1|"
    "a rollback row|plain|rollback||1|a rollback action|"
    "a commit row|plain|commit||1|a commit action|"
    "a row of another binary|plain|other_source||1|already has a CustomAction row qelPromptForOriginalDisk that is not QelCustInst's|"
    "--after an action that is not there|plain|none|--after;QelNone|1|has no action QelNone in InstallExecuteSequence|"
    "--after an action before CostFinalize|plain|none|--after;FileCost|1|FileCost comes before CostFinalize|"
    "--replace-dll on a package not patched|plain|none|--replace-dll|1|holds no QelCustInst binary to replace|"
    "--replace-dll with a stub|plain|patched|--replace-dll;--dll;$work/dlls/stub.dll|1|is not a 32-bit DLL|"
    "another QelCustInst binary|plain|patched_with_stub||1|already holds a different QelCustInst binary|"
    "another row 26002 with --prompt|plain|other_error|--prompt;Insert disk 1|1|already has an Error row 26002|"
    "no CostFinalize|plain|no_cost_finalize||1|has no CostFinalize in InstallExecuteSequence|"
    "a quote in the prompt|plain|none|--prompt;Insert the author's disk|1|holds a '|"
    "a tab in the prompt|plain|none|--prompt;Insert	disk|1|holds a tab|"
    "an empty prompt|plain|none|--prompt;''|1|is empty|"
    "a missing package|plain|missing||1|does not exist|"
    "a read-only package|plain|read_only||1|is read-only|"
    "not an installer database|plain|not_msi||1|is not a readable installer database|"
    "a damaged package|plain|damaged||1|is not a readable installer database|"
    "a tool that crashes|plain|crashing_msiinfo||1|is not a readable installer database|"
    "the script copied alone, no --dll|plain|alone|NODLL|1|no QelCustInst.dll beside this script|"
    "the script copied alone, no --prompt|plain|alone||1|no Error.idt beside this script|"
    "--dll without a value|plain|none|--dll|2|add-to-package: --dll needs a value|"
    "an unknown option|plain|none|--pompt;x|2|add-to-package: unknown option --pompt|"
    "--replace-dll with --prompt|plain|none|--replace-dll;--prompt;x|2|no --prompt or --after with it|"
)
pkg="$work/package.msi"
for entry in "${cases[@]}"; do
    IFS='|' read -r name base prepare args rc_expected message success <<<"$entry"
    rm -f "$pkg" "$work/before.msi"
    cp "$bases/$base.msi" "$pkg"
    run_path="$PATH" run_script="$add"
    "$prepare" "$pkg"
    [[ ! -e "$pkg" ]] || cp -p "$pkg" "$work/before.msi"
    before_stat="$(stat -c '%i %y' "$pkg" 2>/dev/null || true)"
    before_owner="$(stat -c '%u:%g %a' "$pkg" 2>/dev/null || true)"
    IFS=';' read -r -a extra <<<"$args"
    [[ "${extra[*]-}" != *"''"* ]] || extra=("${extra[@]/\'\'/}")
    prompt=""
    for ((i = 0; i + 1 < ${#extra[@]}; i++)); do [[ "${extra[i]}" != --prompt ]] || prompt="${extra[i + 1]}"; done
    if [[ "$args" == NODLL ]]; then extra=(); elif [[ "$args" != *--dll* ]]; then extra+=(--dll "$dll"); fi
    rc=0
    out="$(cd "$work" && PATH="$run_path" "$run_script" "$pkg" "${extra[@]}" 2>&1)" || rc=$?
    problems=()
    ((rc == rc_expected)) || problems+=("exit $rc")
    [[ "$out" == *"$message"* ]] || problems+=("no \"$message\"")
    [[ "$out" != *Segmentation* && "$out" != *CRITICAL* && "$out" != *WARNING* ]] || problems+=("tool output")
    [[ "$out" != *"syntax error"* && "$out" != *"add-to-package.sh: line "* ]] || problems+=("shell error output")
    [[ -z "$(find "$work" -maxdepth 1 -name '.add-to-package.*')" ]] || problems+=("files left beside the package")
    if [[ -n "$success" ]]; then
        # shellcheck disable=SC2086 # the check's words: function and arguments
        set -- $success
        ((rc != 0)) || "$1" "$pkg" "$work/before.msi" "${@:2}" || problems+=("$1 failed")
        [[ "$(stat -c '%u:%g %a' "$pkg")" == "$before_owner" ]] || problems+=("owner or mode changed")
    elif [[ -e "$work/before.msi" ]]; then
        cmp -s "$pkg" "$work/before.msi" || problems+=("the package changed")
    else
        [[ ! -e "$pkg" ]] || problems+=("a package was made")
    fi
    check "$name${problems[*]+ (${problems[*]}; exit $rc: $out)}" test "${#problems[@]}" = 0
    chmod 644 "$pkg" 2>/dev/null || true
done

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

# --- QelCustInst.wxi from a folder of its own: the DLL named with -D, and beside the .wxs. ---
mkdir -p "$work/wxs/release" "$work/wxs/product"
cp "$installer/QelCustInst.wxi" "$dll" "$work/wxs/release/"
cp "$here/demo/QelDemo.wxs" "$here/demo/installed-readme.txt" "$work/wxs/product/"
# shellcheck disable=SC2016 # the inner shell expands them
check "wixl -I RELEASE -D QelCustInstDll=RELEASE/QelCustInst.dll" bash -c 'cd "$1/product" &&
    wixl -I ../release -D QelCustInstDll=../release/QelCustInst.dll -o d.msi QelDemo.wxs &&
    cmp -s <(msiinfo extract d.msi Binary.QelCustInst) ../release/QelCustInst.dll' - "$work/wxs"
# shellcheck disable=SC2016 # the inner shell expands them
check "wixl with QelCustInst.dll beside the .wxs" bash -c 'cd "$1/release" && cp ../product/* . &&
    wixl -o d.msi QelDemo.wxs && cmp -s <(msiinfo extract d.msi Binary.QelCustInst) QelCustInst.dll' - "$work/wxs"

# --- The README's figures are the build's. ---
size="$(stat -c %s "$dll" | sed ':a; s/\B[0-9]\{3\}\>/,&/; ta')"
check "README states the DLL's size, $size bytes" grep -qF "$size-byte DLL" "$repo/README.md"

((failures == 0))
