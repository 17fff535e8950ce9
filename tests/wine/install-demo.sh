#!/usr/bin/env bash
# Installs the demo package with QelCustInst.dll under Wine's own Windows Installer, from drives of
# several types, and checks what the custom actions did by reading the installer's verbose logs.
#
# Usage:
#   install-demo.sh [--prompt] [--failure] [--layouts] [--drives fixed,cdrom,floppy,network]
#                   [--package MSI] DLL WORKDIR
#
#   --prompt   also require the line "Info 26002.<Error-table text>" from qelPromptForOriginalDisk
#   --failure  also install a package without INSTALLDIR: the action must fail the installation
#              and leave its exception report in the log
#   --layouts  also install, from the CD-ROM and the fixed drive, the package kept in a folder
#              (Setup\) and an uncompressed package whose INSTALLDIR is folders deep in the tree
#              (made with mark_uncompressed.exe, which must lie beside DLL)
#   --drives   the drives to install from (default: all four)
#   --package  install MSI (with the demo's readme.txt) instead of the demo package
#
# WORKDIR holds the packages, a Wine prefix of its own (started once, reused afterwards), the
# folders linked as drives and the logs. Exits non-zero when any check fails.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
# shellcheck source=wine/qel-wine.sh
source "$repo/wine/qel-wine.sh"

check_prompt=0
check_failure=0
check_layouts=0
drives="fixed,cdrom,floppy,network"
given=""
while (($#)); do
    case "$1" in
        --prompt) check_prompt=1; shift ;;
        --failure) check_failure=1; shift ;;
        --layouts) check_layouts=1; shift ;;
        --drives) drives="${2:?}"; shift 2 ;;
        --package) given="$(realpath -m "${2:?}")"; shift 2 ;;
        -*) qw_usage ;;
        *) break ;;
    esac
done
(($# == 2)) || qw_usage
dll="$(realpath -m "$1")"
work="$(realpath -m "$2")"

# The text of Error-table row 26002, which the installer formats for qelPromptForOriginalDisk: the
# row the release gives package authors.
disk_prompt="$(tr -d '\r' <"$repo/installer/Error.idt" | sed -n 's/^26002\t//p')"

# The drive letter of each kind of drive, and PROMPT_FOR_CD1 expected from it.
declare -A letter=([fixed]=c [cdrom]=d [floppy]=e [network]=f)
declare -A expect_cd=([fixed]=0 [cdrom]=1 [floppy]=0 [network]=0)

for d in ${drives//,/ }; do
    [[ -n "${letter[$d]:-}" ]] || { echo "install-demo: unknown drive kind '$d'" >&2; exit 2; }
done
[[ -z "$given" || -f "$given" ]] || { echo "install-demo: $given not found" >&2; exit 2; }
if [[ ! -f "$dll" ]]; then # 77: skipped, for ctest; the test command always builds the DLL first
    echo "install-demo: $dll not found; build it with: cmake --preset windows && cmake --build --preset windows" >&2
    exit 77
fi
marker="$(dirname "$dll")/mark_uncompressed.exe"
if ((check_layouts)) && [[ ! -f "$marker" ]]; then
    echo "install-demo: $marker not found; build it with: cmake --build --preset windows" >&2
    exit 1
fi
qw_enter install-demo "$work" wixl msibuild msiinfo
now() { echo "$EPOCHREALTIME"; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f s", b - a }'; }
started=$(now)

# --- The packages: wixl, then the Error-table row that wixl does not write. ---
# Builds NAME.msi from demo/NAME.wxs in the folder DIR (made anew), with the DLL and row 26002.
build_package() {
    local name="$1" dir="$2"
    rm -rf "$dir"
    mkdir -p "$dir"
    cp "$here/demo/$name.wxs" "$here/demo/installed-readme.txt" "$repo/installer/QelCustInst.wxi" "$dir/"
    cp "$dll" "$dir/QelCustInst.dll"
    (cd "$dir" && wixl -o "$name.msi" "$name.wxs")
    qw_error_row "$dir/$name.msi" 26002 "$disk_prompt"
}
pkg="$work/package"
build_package QelDemo "$pkg"
if ((check_layouts)); then
    layout="$work/layout"
    build_package QelLayout "$layout"
fi
# --package: that package instead of the demo.
[[ -z "$given" ]] || cp "$given" "$pkg/QelDemo.msi"

# --- The prefix, and the drives the installs use (the fixed one is C: itself). ---
qw_prefix
declare -A kind=([cdrom]=cdrom [floppy]=removable [network]=network)
for d in cdrom floppy network; do
    if [[ ",$drives," == *",$d,"* ]] || { ((check_layouts)) && [[ "$d" == cdrom ]]; }; then
        qw_drive "${letter[$d]}" "${kind[$d]}" "$work/drives/$d"
    fi
done

# --- One install and uninstall per drive. ---
mkdir -p "$work/logs"
program_files="$WINEPREFIX/drive_c/Program Files (x86)"
failures=0
summary=()

excerpt() {
    echo "---- $1 (excerpt) ----"
    grep -n -E 'qelAreWeRunningFromCD|qelPromptForOriginalDisk|PROMPT_FOR_CD1|^Info 26002|Return value 3|[Ee]rror|[Ff]ailed' "$1" |
        head -n 40 || true
    echo "---- end of excerpt ----"
}

# install_and_check NAME MSI EXPECTED INSTALLED: installs the package MSI (a Windows path), checks
# PROMPT_FOR_CD1 = EXPECTED, both actions and the installed file INSTALLED (a Unix path), then
# uninstalls it; adds a line to the summary.
# tally WHAT LINE TEXT [NOTE]: LINE goes into the summary, as ok when the caller's problems list is
# empty; otherwise as FAIL, with the problems, an excerpt of the log TEXT and NOTE printed now.
tally() {
    if ((${#problems[@]})); then
        failures=$((failures + 1))
        summary+=("FAIL $2")
        echo "install-demo: $1:"
        printf '  - %s\n' "${problems[@]}"
        [[ ! -f "$3" ]] || excerpt "$3"
        [[ -z "${4:-}" ]] || echo "  $4"
    else
        summary+=("ok   $2")
    fi
}

install_and_check() {
    local name="$1" msi_win="$2" expected="$3" installed_file="$4"
    local t log xlog text value installed rc ret action line
    t=$(now)
    log="$work/logs/install-$name.log"
    xlog="$work/logs/uninstall-$name.log"
    text="$log.txt" # the log as plain text: Windows writes UTF-16 with CRLF, Wine ANSI
    rm -f "$log" "$text" "$xlog"
    local problems=()

    # Unix sees the low byte of msiexec's exit code (1603 arrives as 67).
    installed=0
    qw_timeout 180 wine msiexec /i "$msi_win" /qn /l*v "$log" || installed=$?
    ((installed == 0)) || problems+=("install exit status $installed")
    if [[ ! -f "$log" ]]; then
        problems+=("no log written")
        value="(no log)"
    else
        tr -d '\0\r' <"$log" >"$text"
        [[ -f "$installed_file" ]] || problems+=("${installed_file##*/} not installed")
        value="$(sed -n 's/^Property(S): PROMPT_FOR_CD1 = //p' "$text" | tail -n 1)"
        [[ -n "$value" ]] || value="(not set)"
        [[ "$value" == "$expected" ]] || problems+=("PROMPT_FOR_CD1 is $value, expected $expected")
        for action in qelAreWeRunningFromCD qelPromptForOriginalDisk; do
            msiinfo export "$pkg/QelDemo.msi" InstallExecuteSequence | grep -c "^$action	" >/dev/null || continue
            ret="$(sed -n "s/^Action ended .*: $action\. Return value \([0-9]*\)\.\$/\1/p" "$text" | tail -n 1)"
            [[ "$ret" == 1 ]] || problems+=("$action ended with return value ${ret:-(never ran)}")
        done
        if ((check_prompt)) && ! grep -qxF "Info 26002.$disk_prompt" "$text"; then
            problems+=("no \"Info 26002.$disk_prompt\" line")
        fi
    fi

    if ((installed == 0)); then # a failed install has rolled back: nothing to remove
        rc=0
        qw_timeout 180 wine msiexec /x "$msi_win" /qn /l*v "$xlog" || rc=$?
        ((rc == 0)) || problems+=("uninstall exit status $rc")
        [[ ! -e "$installed_file" ]] || problems+=("${installed_file##*/} left after uninstall")
    fi

    line="$(printf '%-18s %-30s PROMPT_FOR_CD1 = %-10s (expected %s)  %s' \
        "$name" "$msi_win" "$value" "$expected" "$(since "$t")")"
    tally "$name" "$line" "$text" "full logs: $log, $xlog"
}

# The folder, as Unix sees it, at the root of the drive of that kind.
drive_folder() {
    if [[ "$1" == fixed ]]; then echo "$WINEPREFIX/drive_c"; else echo "$work/drives/$1"; fi
}

for d in ${drives//,/ }; do
    msi_win="$(qw_place "$pkg/QelDemo.msi" "${letter[$d]}")"
    install_and_check "$d" "$msi_win" "${expect_cd[$d]}" "$program_files/QelDemo/readme.txt"
done

# --- The package kept in a folder of the drive, and an uncompressed package, whose source of
# INSTALLDIR is a folder of the drive's tree: the action must still see the drive. ---
if ((check_layouts)); then
    qw_timeout 60 wine "$marker" "$(winepath -w "$layout/QelLayout.msi")" ||
        { echo "install-demo: mark_uncompressed failed on $layout/QelLayout.msi" >&2; exit 1; }
    # The word count (msiinfo's "Source") is 0 for an uncompressed package with long file names.
    msiinfo suminfo "$layout/QelLayout.msi" | grep -cx 'Source: 0 (0)' >/dev/null ||
        { echo "install-demo: $layout/QelLayout.msi is still compressed" >&2; exit 1; }
    for d in cdrom fixed; do
        root="$(drive_folder "$d")"
        L="${letter[$d]^^}"
        mkdir -p "$root/qelsetup/Setup"
        cp "$pkg/QelDemo.msi" "$root/qelsetup/Setup/QelDemo.msi"
        install_and_check "$d-folder" "$L:\\qelsetup\\Setup\\QelDemo.msi" "${expect_cd[$d]}" \
            "$program_files/QelDemo/readme.txt"
        # INSTALLDIR's source is Qel\Layout\Files\ below the package, as the Directory table says.
        mkdir -p "$root/qellayout/Qel/Layout/Files"
        cp "$layout/QelLayout.msi" "$root/qellayout/"
        cp "$layout/installed-readme.txt" "$root/qellayout/Qel/Layout/Files/readme.txt"
        install_and_check "$d-uncompressed" "$L:\\qellayout\\QelLayout.msi" "${expect_cd[$d]}" \
            "$program_files/Qel/Layout/Files/readme.txt"
    done
fi

# --- A package whose INSTALLDIR is called something else: the action cannot read its paths. ---
if ((check_failure)); then
    t=$(now)
    broken="$work/broken"
    rm -rf "$broken"
    mkdir -p "$broken"
    cp "$pkg/installed-readme.txt" "$pkg/QelCustInst.dll" "$pkg/QelCustInst.wxi" "$broken/"
    sed 's/"INSTALLDIR"/"APPDIR"/' "$here/demo/QelDemo.wxs" >"$broken/QelBroken.wxs"
    (cd "$broken" && wixl -o QelBroken.msi QelBroken.wxs)
    folder="$WINEPREFIX/drive_c/qelbroken"
    mkdir -p "$folder"
    cp "$broken/QelBroken.msi" "$folder/"
    log="$work/logs/install-broken.log"
    text="$log.txt"
    rm -f "$log" "$text"
    problems=()
    installed=0
    qw_timeout 180 wine msiexec /i 'C:\qelbroken\QelBroken.msi' /qn /l*v "$log" || installed=$?
    ((installed != 0)) || problems+=("the installation succeeded without INSTALLDIR")
    if [[ -f "$log" ]]; then
        tr -d '\0\r' <"$log" >"$text"
        # The report the action leaves in the log: the error, then its history.
        for expected in "qelAreWeRunningFromCD: Error: 267. Program Exception. " "HISTORY:" \
            "	T: KestMsiDirectory::cacheValue, F: KestMsiDirectory, L: " \
            ", C: Function Failed: MsiGetTargetPath()"; do
            grep -qF -- "$expected" "$text" || problems+=("no \"$expected\" in the log")
        done
        ! grep -q '^Property(S): PROMPT_FOR_CD1 = ' "$text" || problems+=("PROMPT_FOR_CD1 was set")
    else
        problems+=("no log written")
    fi
    line="$(printf '%-18s %-30s fails with its report in the log  %s' \
        "broken" 'C:\qelbroken\QelBroken.msi' "$(since "$t")")"
    tally "package without INSTALLDIR" "$line" "$text"
fi

echo
echo "Custom actions under Wine (${dll##*/}):"
printf '  %s\n' "${summary[@]}"
((check_prompt)) && echo "  (each install also checked for \"Info 26002.$disk_prompt\")"
echo "  total $(since "$started")"
((failures == 0))
