#!/usr/bin/env bash
# What the installed kits refuse, each case with the message it must give (the tables below are the
# cases): qel_add_custom_action_dll at configure time and at build time, a case that must pass
# before the refusals so that a refusal is never the project failing for another reason; and
# run-package.sh, run as root also with folders another user made.
#
#   check-refusals.sh WINDOWS_KIT HOST_KIT WORKDIR   (the prefixes the kits were installed in)
#
# Works in WORKDIR/refusal-checks (made anew); what else WORKDIR holds stays.
set -euo pipefail

(($# == 3)) || { echo "usage: check-refusals.sh WINDOWS_KIT HOST_KIT WORKDIR" >&2; exit 2; }
kit="$(realpath -m "$1")"
host_kit="$(realpath -m "$2")"
workdir="$(realpath -m "$3")"
work="$workdir/refusal-checks"
# 77: skipped, for ctest, naming the build the cases need (its kit is installed by kit_install).
needs() { echo "check-refusals: no $1 kit in $kit: its cases need the $2 build (cmake --preset $2 && cmake --build --preset $2)" >&2; exit 77; }
[[ -f "$kit/lib/cmake/QelCustInst/QelCustInstDll.cmake" ]] || needs "32-bit Windows" windows
[[ -f "$kit/lib/cmake/QelCustInst-x64/QelCustInstDll.cmake" ]] || needs "64-bit Windows" windows-x64
# What else WORKDIR holds stays: a file of its own shows it.
mkdir -p "$workdir"
: >"$workdir/.kept-by-check-refusals"
# Only a folder this check made is removed.
if [[ -e "$work" ]]; then
    [[ -f "$work/.made-by-check-refusals" ]] || { echo "check-refusals: $work is not a folder of this check; move it away" >&2; exit 1; }
    rm -rf "$work"
fi
mkdir -p "$work"
: >"$work/.made-by-check-refusals"
failures=0
verdict() { # NAME OK DETAIL
    if (($2)); then echo "ok   $1"; else echo "FAIL $1: $3"; failures=$((failures + 1)); fi
}
# attempt COMMAND...: its exit status in status, its output in output, on one line (CMake wraps).
attempt() { status=0; output="$("$@" 2>&1)" || status=$?; output="$(tr -s ' \n' ' ' <<<"$output")"; }

# --- The CMake function: one project, configured again for each case (the compiler checks stay cached). ---
project="$work/project"
mkdir -p "$project"
cat >"$project/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.25)
project(Refusals VERSION 2.5 LANGUAGES ${CASE_LANGUAGES})
find_package(QelCustInst CONFIG REQUIRED)
set(given "")
foreach(option VERSION PRODUCT)
    if(NOT CASE_${option} STREQUAL "")
        list(APPEND given ${option} "${CASE_${option}}")
    endif()
endforeach()
qel_add_custom_action_dll(Refused SOURCES action.cpp EXPORTS ${CASE_EXPORTS} ${given})
EOF
echo 'extern "C" unsigned __stdcall qelFirst(unsigned long) { return 0; }' >"$project/action.cpp"
toolchain="$kit/lib/cmake/QelCustInst/mingw-i686.cmake"

# name | exports (;-separated) | toolchain (i686, x64 or host; i686-on-host: the host kit with the i686
# toolchain; host-kit: the host kit with the host's compiler; x64-on-i686-kit, i686-on-x64-kit: only
# that one of the two Windows kits, with the other's toolchain) | VERSION, PRODUCT and the project's
# LANGUAGES (;-separated NAME=VALUE; unnamed: the project's version and name, CXX) | what the
# configure output must hold ("" = must pass)
cmake_cases=(
    "good exports|qelFirst=1;qelSecond=007|i686||"
    "version with leading zeros|qelFirst=1;qelSecond=7|i686|VERSION=02.05.08|"
    "export without ordinal|qelFirst=1;qelSecond|i686||export 'qelSecond' has no ordinal; write qelSecond=<ordinal>"
    "export with an empty ordinal|qelFirst=|i686||export 'qelFirst' has no ordinal"
    "ordinal given twice|qelFirst=3;qelSecond=3|i686||ordinal 3 is given to both 'qelFirst' and 'qelSecond'"
    "ordinal twice, written apart|qelFirst=3;qelSecond=03|i686||ordinal 3 is given to both"
    "name given twice|qelFirst=1;qelFirst=2|i686||export 'qelFirst' is given twice"
    "name starting with a digit|1qelFirst=1|i686||export name '1qelFirst' is not a C identifier"
    "name with a hyphen|qel-First=1|i686||export name 'qel-First' is not a C identifier"
    "ordinal that is no number|qelFirst=one|i686||has ordinal 'one', not a number from 1 to 65535"
    "ordinal 0|qelFirst=0|i686||not a number from 1 to 65535"
    "ordinal above 65535|qelFirst=65536|i686||not a number from 1 to 65535"
    "misspelt keyword among the exports|qelFirst=1;SOURCE;action.cpp|i686||unknown keyword 'SOURCE' (did you mean SOURCES?)"
    "keyword in lower case|qelFirst=1;version;2.0|i686||unknown keyword 'version' (did you mean VERSION?)"
    "host toolchain|qelFirst=1|host||not 32-bit Windows (i686) code with MinGW-w64"
    "host kit for Windows|qelFirst=1|i686-on-host||the host kit's libraries are for Linux"
    "version number above 65535|qelFirst=1|i686|VERSION=1.65536|version '1.65536' has the number 65536; each of its numbers must be from 0 to 65535"
    "version number far above 65535|qelFirst=1|i686|VERSION=2.0.0.99999999999999999999|has the number 99999999999999999999"
    "product with a double quote|qelFirst=1|i686|PRODUCT=Qel \"Best\" Tools|product name 'Qel \"Best\" Tools' holds a double quote, backslash or control character"
    "product with a backslash|qelFirst=1|i686|PRODUCT=Qel\\Tools|holds a double quote, backslash or control character"
    "Windows kit, no language enabled|qelFirst=1|i686|LANGUAGES=NONE|enable C++ (project(... LANGUAGES CXX)) before find_package"
    "host kit, no language enabled|qelFirst=1|host-kit|LANGUAGES=NONE|enable C++ (project(... LANGUAGES CXX)) before find_package"
    "x64 exports|qelFirst=1;qelSecond=7|x64||"
    "host toolchain, the x64 kit|qelFirst=1|host||not 64-bit Windows (x64) code with MinGW-w64"
    "x64 build, i686 kit only|qelFirst=1|x64-on-i686-kit||this build makes 64-bit Windows (x64) code with MinGW-w64, and the kit is for 32-bit Windows (i686) code"
    "i686 build, x64 kit only|qelFirst=1|i686-on-x64-kit||this build makes 32-bit Windows (i686) code with MinGW-w64, and the kit is for 64-bit Windows (x64) code"
)
for entry in "${cmake_cases[@]}"; do
    IFS='|' read -r name exports chain settings expected <<<"$entry"
    declare -A given=([VERSION]="" [PRODUCT]="" [LANGUAGES]=CXX)
    IFS=';' read -r -a pairs <<<"$settings"
    for pair in "${pairs[@]}"; do given[${pair%%=*}]="${pair#*=}"; done
    # A build folder for each toolchain and language: the compiler checks stay with it.
    build="$work/build-$chain-${given[LANGUAGES]}"
    prefix="$kit"
    [[ "$chain" != i686-on-host && "$chain" != host-kit ]] || prefix="$host_kit"
    args=(-S "$project" -B "$build" -DCMAKE_PREFIX_PATH="$prefix" "-DCASE_EXPORTS=$exports")
    for option in VERSION PRODUCT LANGUAGES; do args+=("-DCASE_$option=${given[$option]}"); done
    case "$chain" in
        host | host-kit) ;;
        x64 | x64-on-i686-kit) args+=(-DCMAKE_TOOLCHAIN_FILE="$kit/lib/cmake/QelCustInst-x64/mingw-x86_64.cmake") ;;
        *) args+=(-DCMAKE_TOOLCHAIN_FILE="$toolchain") ;;
    esac
    # Both Windows kits share the prefix: find_package is shown the one alone, and not the prefix.
    case "$chain" in
        x64-on-i686-kit) args+=(-DQelCustInst_DIR="$kit/lib/cmake/QelCustInst" -DCMAKE_PREFIX_PATH=) ;;
        i686-on-x64-kit) args+=(-DQelCustInst_DIR="$kit/lib/cmake/QelCustInst-x64" -DCMAKE_PREFIX_PATH=) ;;
    esac
    attempt cmake "${args[@]}"
    if [[ -z "$expected" ]]; then
        def="$build/Refused.qel/Refused.def"
        written="$(tr '\n' '|' <"$def" 2>/dev/null || true)"
        verdict "cmake: $name" $((status == 0 && ${#written} > 0)) "status $status, .def '$written': $output"
        [[ "$written" == "LIBRARY Refused|EXPORTS|    qelFirst @1|    qelSecond @7|" ]] ||
            verdict "cmake: $name writes the .def" 0 "it reads '$written'"
        # The version resource: the version given (or the project's) as four decimal numbers and as
        # written; its name and the DLL's.
        version="${given[VERSION]:-2.5}"
        IFS=. read -r -a parts <<<"$version"
        commas=""
        for i in 0 1 2 3; do commas+="${commas:+,}$((10#${parts[i]:-0}))"; done
        for line in "FILEVERSION     $commas" "VALUE \"FileVersion\",      \"$version\"" 'VALUE "ProductName",      "Refusals"' \
            'VALUE "OriginalFilename", "Refused.dll"'; do
            grep -qF "$line" "$build/Refused.qel/Refused.rc" || verdict "cmake: $name versions the DLL" 0 "no '$line'"
        done
    else
        verdict "cmake: $name" $((status != 0)) "configured without complaint"
        ((status == 0)) || [[ "$output" == *"$expected"* ]] || verdict "cmake: $name says why" 0 "no '$expected' in: $output"
    fi
done

# --- The DLL function at build time: each export must be what the installer calls. ---
cat >"$project/action.cpp" <<'EOF'
#include "QelCustInst/QelPlatform.h"
extern "C" UINT WINAPI qelFirst(MSIHANDLE) { return 0; }
extern "C" UINT qelCdecl(MSIHANDLE) { return 0; }
UINT WINAPI qelCpp(MSIHANDLE) { return 0; }
extern "C" UINT WINAPI qelTwo(MSIHANDLE, int) { return 0; }
extern "C" UINT __fastcall qelFast(MSIHANDLE) { return 0; }
EOF
# name | exports (;-separated) | what the build output must hold ("" = must build)
build_cases=(
    "a WINAPI export|qelFirst=1|"
    "a __cdecl export|qelFirst=1;qelCdecl=2|export 'qelCdecl' is a __cdecl function"
    "an export of C++ linkage|qelCpp=1|export 'qelCpp' has C++ linkage"
    "an export of two arguments|qelTwo=1|export 'qelTwo' takes 8 bytes of arguments"
    "a __fastcall export|qelFast=1|export 'qelFast' is a __fastcall function"
)
build="$work/build-i686-CXX"
build_with() { # EXPORTS
    cmake -S "$project" -B "$build" "-DCASE_EXPORTS=$1" -DCASE_VERSION= -DCASE_PRODUCT= -DCASE_LANGUAGES=CXX \
        -DCMAKE_PREFIX_PATH="$kit" -DCMAKE_TOOLCHAIN_FILE="$toolchain" && cmake --build "$build"
}
for entry in "${build_cases[@]}"; do
    IFS='|' read -r name exports expected <<<"$entry"
    rm -f "$build/Refused.dll"
    attempt build_with "$exports"
    if [[ -z "$expected" ]]; then
        verdict "build: $name" $((status == 0)) "status $status: $output"
        continue
    fi
    verdict "build: $name" $((status != 0)) "built without complaint"
    function="${exports##*;}"
    for line in "$expected" "declare it extern \"C\" UINT WINAPI ${function%=*}(MSIHANDLE)"; do
        [[ "$output" == *"$line"* ]] || verdict "build: $name says why" 0 "no '$line' in: $output"
    done
    [[ ! -e "$build/Refused.dll" ]] || verdict "build: $name leaves no DLL" 0 "$build/Refused.dll is there"
done

# --- The Wine runner. ---
runner="$kit/share/QelCustInst/wine/run-package.sh"
database="$work/empty.msi"
msibuild "$database" -s "Empty" "Qel" "Intel;1033" "{6F1C2D3E-0A1B-4C5D-8E9F-0123456789AB}"
echo "not a database" >"$work/text.msi"
# Packages with DLL actions, their DLLs in the Binary table: the kit's DLL (QelCustInst) and a
# text that is no DLL (Notes). A good action, one in script whose entry is misspelt (type 1 with
# option bits), one in a Binary row that is not there, one whose "DLL" is the text.
mkdir -p "$work/entries/Binary"
cp "$kit/QelCustInst.dll" "$work/entries/Binary/QelCustInst.ibd"
echo "notes" >"$work/entries/Binary/Notes.ibd"
printf 'Name\tData\r\ns72\tv0\r\nBinary\tName\r\nQelCustInst\tQelCustInst.ibd\r\nNotes\tNotes.ibd\r\n' >"$work/entries/Binary.idt"
# package | its second action: Action, Type, Source, Target (SQL values)
for entry in "misspelt|'qelLate', 3073, 'QelCustInst', 'qelAreWeRunningFromDVD'" \
    "lost|'qelLost', 1, 'Elsewhere', 'qelLost'" "notes|'qelNotes', 65, 'Notes', 'qelNotes'"; do
    IFS='|' read -r name row <<<"$entry"
    package="$work/entries/$name.msi"
    cp "$database" "$package"
    (cd "$work/entries" && msibuild "$package" -i Binary.idt)
    # shellcheck disable=SC2016 # backquotes are SQL quoting here
    msibuild "$package" -q 'CREATE TABLE `CustomAction` (`Action` CHAR(72) NOT NULL, `Type` SHORT NOT NULL, `Source` CHAR(72), `Target` CHAR(255) PRIMARY KEY `Action`)'
    for values in "'qelAreWeRunningFromCD', 1, 'QelCustInst', 'qelAreWeRunningFromCD'" "$row"; do
        msibuild "$package" -q "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ($values)"
    done
done
# A PATH with every command but Wine's.
nowine="$work/bin-without-wine"
mkdir -p "$nowine"
for tool in /usr/bin/* /bin/*; do
    name="${tool##*/}"
    [[ "$name" == wine* || -e "$nowine/$name" ]] || ln -s "$tool" "$nowine/$name"
done
mkdir -p "$work/not-a-prefix" "$work/busy" "$work/tmp" "$work/target" "$work/logs"
mkdir -m 777 "$work/open"
touch "$work/not-a-prefix/notes.txt"
ln -s "$work/target" "$work/link"
ln -s "$work/logs/kept.log" "$work/logs/link.log"

latin1=$'\xf6' # ö in Latin-1, as a path written in another locale holds it
# name | exit status | environment (PATH=… or "") | arguments (;-separated) | what its output must hold
runner_cases=(
    "missing package|2||--drive;cdrom;$work/missing.msi|package $work/missing.msi not found"
    "no drive type|2||$database|no drive type given"
    "unknown drive type|2||--drive;floppy;$database|unknown drive type 'floppy'"
    "file that is no database|2||--drive;fixed;$work/text.msi|$work/text.msi is not an installer database"
    "missing Wine|1|PATH=$nowine|--drive;cdrom;$database|wine is missing"
    "setting with a quote|2||--drive;cdrom;$database;NAME=a\"b|'NAME=a\"b' is not NAME=VALUE"
    "setting with a percent|2||--drive;cdrom;$database;NAME=%PATH%|is not NAME=VALUE"
    "setting before the package|2||--drive;cdrom;NAME=1;$database|'NAME=1' stands before the package: properties (NAME=VALUE) come after it"
    "option after the package|2||--drive;cdrom;$database;--uninstall|'--uninstall' stands after the package: options come before it"
    "work folder of another run|1||--drive;cdrom;--work;$work/busy;$database|$work/busy is in use by another run (process"
    "folder of something else|2||--drive;cdrom;--work;$work/not-a-prefix;$database|$work/not-a-prefix is neither empty nor a work folder of an earlier run"
    "work folder that is a link|2||--drive;cdrom;--work;$work/link;$database|--work $work/link is a link"
    "work folder others can write|2||--drive;cdrom;--work;$work/open;$database|$work/open can be written by every user"
    "work folder whose path is not UTF-8|2||--drive;cdrom;--work;$work/w${latin1}rk;$database|--work $work/w${latin1}rk is not a UTF-8 path"
    "temporary folder whose path is not UTF-8|2|TMPDIR=$work/t${latin1}mp|--drive;cdrom;$database|the temporary folder $work/t${latin1}mp is not a UTF-8 path"
    "locale that is not a UTF-8 one|2||--drive;cdrom;--locale;ru_RU.KOI8-R;$database|the locale ru_RU.KOI8-R is not a UTF-8 one"
    "locale that is no locale name|2||--drive;cdrom;--locale;../ru;$database|'../ru' is not a locale name"
    "temporary folder others can write|2|TMPDIR=$work/open|--drive;cdrom;$database|the temporary folder $work/open cannot be used"
    "log that is a link|2||--drive;cdrom;--log;$work/logs/link.log;$database|--log $work/logs/link.log is a link"
    "log in a missing folder|2||--drive;cdrom;--log;$work/nowhere/kept.log;$database|there is no folder $work/nowhere"
    "action whose entry its DLL does not export|2||--drive;cdrom;$work/entries/misspelt.msi|the action qelLate calls 'qelAreWeRunningFromDVD', which its DLL (Binary row 'QelCustInst') does not export (it exports: qelAreWeRunningFromCD, qelPromptForOriginalDisk)"
    "action in a Binary row not there|2||--drive;cdrom;$work/entries/lost.msi|the action qelLost calls 'qelLost' in the Binary row 'Elsewhere', which the package does not have"
    "action whose Binary row holds no DLL|2||--drive;cdrom;$work/entries/notes.msi|the action qelNotes calls 'qelNotes' in the Binary row 'Notes', which holds no Windows DLL"
)
# Run as root: folders another user (nobody) made.
if ((EUID == 0)); then
    mkdir -m 1777 "$work/shared"
    runuser -u nobody -- mkdir "$work/shared/theirs" "$work/shared/their-logs"
    runner_cases+=(
        "work folder of another user|2||--drive;cdrom;--work;$work/shared/theirs;$database|$work/shared/theirs belongs to nobody (uid 65534), not to you"
        "work folder in another user's folder|2||--drive;cdrom;--work;$work/shared/theirs/w;$database|$work/shared/theirs belongs to nobody"
        "log in another user's folder|2||--drive;cdrom;--log;$work/shared/their-logs/kept.log;$database|--log $work/shared/their-logs/kept.log cannot be written safely"
    )
fi
# The other run holding its work folder, until it is ended.
bash -c "source '${runner%/*}/qel-wine.sh'; qw_enter other '$work/busy'; touch '$work/busy/held'; exec sleep 600" &
holder=$!
trap 'kill "$holder" 2>/dev/null || true' EXIT
while [[ ! -e "$work/busy/held" ]]; do sleep 0.1; done
for entry in "${runner_cases[@]}"; do
    IFS='|' read -r name want environment arguments expected <<<"$entry"
    IFS=';' read -r -a args <<<"$arguments"
    attempt env TMPDIR="$work/tmp" ${environment:+"$environment"} bash "$runner" "${args[@]}"
    verdict "run-package: $name" $((status == want)) "exit status $status, expected $want: $output"
    [[ "$output" == *"$expected"* ]] || verdict "run-package: $name says why" 0 "no '$expected' in: $output"
done
kill "$holder"
# A refused run leaves no temporary work folder behind, and nothing in a folder it refused.
leftover=("$work"/tmp/qel-run-package.*)
[[ ! -e "${leftover[0]}" ]] || verdict "run-package: refused runs leave nothing behind" 0 "${leftover[*]}"
[[ -f "$work/not-a-prefix/notes.txt" ]] || verdict "run-package: a refused folder is left as it was" 0 "notes.txt is gone"
for folder in target open shared/theirs; do
    [[ ! -d "$work/$folder" || -z "$(ls -A "$work/$folder")" ]] || verdict "run-package: nothing is made in $folder" 0 "$(ls -A "$work/$folder")"
done
[[ ! -e "$work/logs/kept.log" ]] || verdict "run-package: nothing is written through a --log link" 0 "$work/logs/kept.log"

[[ -f "$workdir/.kept-by-check-refusals" ]] || verdict "WORKDIR's other files are kept" 0 "$workdir was emptied"

((failures == 0)) || { echo "check-refusals: $failures failed" >&2; exit 1; }
echo "check-refusals: all refused as they should be"
