#!/usr/bin/env bash
# Uses the kits as an author would: installs them, then builds and runs the example projects
# (examples/warn-original-disk, examples/write-settings) from the installed files alone, so that a
# header left out of the install or a target that only works inside this tree fails here.
#
#   check-kits.sh install WINDOWS_BUILD WINDOWS_X64_BUILD HOST_BUILD WORK
#                                    the Windows kits for i686 and x64 both into WORK/kits/windows
#                                    (the x64 one when its build is there), the host kit into
#                                    WORK/kits/host; each kit holds its public headers only, each
#                                    compiling alone from the one include root
#   check-kits.sh host WORK          both examples' host tests (the fixture and the fault sweep)
#   check-kits.sh windows WORK [x64] the example's DLL, the external-UI program and the package,
#                                    for 32-bit Windows or (x64) for 64-bit Windows
#   check-kits.sh wine WORK [x64]    that package under Wine: /qn from a CD-ROM and a fixed drive,
#                                    and with a user interface whose user answers Cancel, then OK
#   check-kits.sh settings-windows WORK [x64]   the second example's DLL and package
#   check-kits.sh settings-wine WORK [x64]      that package under Wine: installed and removed,
#                                    and an installation that fails after the settings were written
#
# Each step after install needs the steps before it (windows before wine). Exit status 77 (skipped,
# for ctest) when a build it needs is missing.
set -euo pipefail

usage() { awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0" >&2; exit 2; }
(($# >= 2)) || usage
step="$1"
shift
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
example="$source_dir/examples/warn-original-disk"
settings_example="$source_dir/examples/write-settings"
jobs="$(nproc)"
say() { echo "check-kits $step: $*"; }
fail() { echo "check-kits $step: $*" >&2; exit 1; }

# windows_kit WORK ARCHITECTURE: the Windows kit in WORK and what differs between its two
# architectures (i686, x64): the kit's package and toolchain, the tools that read a DLL, its PE
# format, our own DLL, a package's template, platform and Program Files folder (the runner installs
# both in the same 64-bit prefix), the suffix of this script's folders.
windows_kit() {
    work="$(realpath -m "$1")"
    architecture="$2"
    kit="$work/kits/windows"
    case "$architecture" in
        i686)
            package_dir=QelCustInst toolchain=mingw-i686.cmake triple=i686-w64-mingw32 format=PE32 magic='\(PE32\)'
            our_dll=QelCustInst.dll template="Intel;1033" platform=x86 suffix="" program_files='C:\Program Files (x86)'
            ;;
        x64)
            package_dir=QelCustInst-x64 toolchain=mingw-x86_64.cmake triple=x86_64-w64-mingw32 format=PE32+
            magic='\(PE32\+\)'
            our_dll=QelCustInst-x64.dll template="x64;1033" platform=x64 suffix=-x64 program_files='C:\Program Files'
            ;;
        *) usage ;;
    esac
    runner="$kit/share/QelCustInst/wine/run-package.sh"
}

# build_example PROJECT BUILD: the example project built against the Windows kit of $architecture,
# which find_package must take from the one prefix that holds both.
build_example() {
    [[ -f "$1/CMakeLists.txt" ]] || { echo "check-kits: no example project in $1" >&2; exit 77; }
    [[ -d "$kit/lib/cmake/$package_dir" ]] || { echo "check-kits: no $architecture kit in $kit" >&2; exit 77; }
    rm -rf "$2"
    local configured found
    configured="$(cmake -S "$1" -B "$2" -DCMAKE_TOOLCHAIN_FILE="$kit/lib/cmake/$package_dir/$toolchain" \
        -DCMAKE_PREFIX_PATH="$kit" -DCMAKE_BUILD_TYPE=MinSizeRel)"
    found="$(grep -o 'QelCustInst [0-9.]*: the .*' <<<"$configured" || true)"
    [[ "$found" == *"(${architecture}) in $kit" ]] || fail "find_package did not take the $architecture kit: ${found:-no line}"
    cmake --build "$2" -j"$jobs" >/dev/null
}

# check_dll PROJECT DLL EXPORT...: the DLL as the installer sees it: a $format image, the exports by
# name at ordinals 1, 2, ... in the order given, system DLLs only, and the project's version.
check_dll() {
    local project="$1" dll="$2" name="${2##*/}"
    shift 2
    [[ -f "$dll" ]] || fail "the example's build made no $name"
    local dump faults=() ordinal=1 entry import version resource line
    dump="$("$triple-objdump" -p "$dll")"
    grep -qE "^Magic[[:space:]]+[0-9a-f]+[[:space:]]+$magic\$" <<<"$dump" || faults+=("not a $format image")
    for entry in "$@"; do
        grep -qE "^[[:space:]]*\[ *$((ordinal - 1))\] (\+base\[ *$ordinal\] +[0-9a-f]+ +)?$entry\$" <<<"$dump" ||
            faults+=("$entry is not exported by name at ordinal $ordinal")
        ordinal=$((ordinal + 1))
    done
    grep -qE '^Ordinal Base[[:space:]]+1$' <<<"$dump" || faults+=("the ordinal base is not 1")
    while read -r import; do
        case "${import,,}" in
            kernel32.dll | user32.dll | msi.dll | msvcrt.dll | advapi32.dll) ;;
            *) faults+=("imports $import, not a Windows system DLL") ;;
        esac
    done < <(sed -n 's/^[[:space:]]*DLL Name: \(.*\)$/\1/p' <<<"$dump")
    version="$(sed -n 's/^project([^)]*VERSION \([0-9.]*\).*/\1/p' "$project/CMakeLists.txt" | head -n 1)"
    resource="$("$triple-windres" -i "$dll" -O rc | sed 's/^[[:space:]]*//')"
    for line in "VALUE \"FileVersion\", \"$version\"" "VALUE \"OriginalFilename\", \"$name\""; do
        grep -qxF "$line" <<<"$resource" || faults+=("no '$line' in its version resource")
    done
    ((${#faults[@]} == 0)) || fail "$name ($architecture):$(printf '\n  - %s' "${faults[@]}")"
    say "$name ($architecture): $(stat -c %s "$dll") bytes, exports $* from ordinal 1, version $version"
}

# check_package MSI: the package's template is the one of $architecture, and its components are
# 64-bit (attribute 256) exactly when it is: a component of the other kind installs into the other
# Program Files folder and registry view.
check_package() {
    local written wrong
    written="$(msiinfo suminfo "$1" | sed -n 's/^Template: //p')"
    [[ "$written" == "$template" ]] || fail "the package's template is '$written', not '$template'"
    wrong="$(msiinfo export "$1" Component | awk -F '\t' -v want="$([[ "$platform" == x64 ]] && echo 1 || echo 0)" \
        'NR > 3 && int($4 / 256) % 2 != want { printf " %s", $1 }')"
    [[ -z "$wrong" ]] || fail "components of the other platform than $platform in the package:$wrong"
    say "package: $1 ($template)"
}

# wine_ready MSI...: exit 77 unless the windows step made the files given and Wine is there.
wine_ready() {
    local file
    for file in "$@"; do
        [[ -f "$file" ]] || { echo "check-kits: run the windows step ($architecture) first: no $file" >&2; exit 77; }
    done
    command -v wine >/dev/null || { echo "check-kits: wine is not installed" >&2; exit 77; }
}

# check NAME LINES FILE RUNNER-ARGUMENTS...: one run of the runner in the one work folder (and
# prefix) of every package's runs, whose exit status must be 0 and whose output must hold every line
# of LINES (;-separated); the lines of the --file asked for must be, exactly and in order, those of
# FILE (newline-separated; unless FILE is "-"). Counts a failing run in failures.
failures=0
check() {
    local name="$1 ($architecture)" file="$3" status=0 output line wanted problems=()
    IFS=';' read -r -a wanted <<<"$2"
    shift 3
    output="$(bash "$runner" --work "$work/wine" "$@" 2>&1)" || status=$?
    ((status == 0)) || problems+=("run-package exit status $status")
    for line in "${wanted[@]}"; do grep -qxF -- "$line" <<<"$output" || problems+=("no line '$line'"); done
    [[ "$file" == - || "$(sed -n 's/^file| //p' <<<"$output")" == "$file" ]] ||
        problems+=("the file does not hold exactly: ${file//$'\n'/; }")
    if ((${#problems[@]})); then
        failures=$((failures + 1))
        echo "FAIL $name:"
        printf '  - %s\n' "${problems[@]}"
        printf '  | %s\n' "${output//$'\n'/$'\n'  | }"
    else
        echo "ok   $name"
    fi
}

case "$step" in
    install)
        (($# == 4)) || usage
        windows_build="$(realpath -m "$1")" x64_build="$(realpath -m "$2")" host_build="$(realpath -m "$3")"
        work="$(realpath -m "$4")"
        for build in "$windows_build" "$host_build"; do
            [[ -f "$build/cmake_install.cmake" ]] || { echo "check-kits: no build in $build" >&2; exit 77; }
        done
        builds=("$windows_build")
        if [[ -f "$x64_build/cmake_install.cmake" ]]; then
            builds+=("$x64_build")
        else
            say "no windows-x64 build in $x64_build: the x64 steps will be skipped"
        fi
        rm -rf "$work/kits"
        # Up to date first: an install of stale libraries would test the wrong kit. The Windows
        # kits share a prefix, as an author may install them: the second may add files but must not
        # change one of the first's.
        kit="$work/kits/windows"
        hashes() { if [[ -d "$kit" ]]; then (cd "$kit" && find . -type f -exec sha256sum {} +); fi; }
        for build in "${builds[@]}"; do
            cmake --build "$build" -j"$jobs" >/dev/null
            before="$(hashes)"
            cmake --install "$build" --prefix "$kit" >/dev/null
            changed="$(awk 'NR == FNR { was[$2] = $1; next } ($2 in was) && was[$2] != $1 { print $2 }' \
                <(echo "$before") <(hashes))"
            [[ -z "$changed" ]] || fail "the kit of $build changed files of the kit beside it: ${changed//$'\n'/ }"
        done
        cmake --build "$host_build" -j"$jobs" >/dev/null
        cmake --install "$host_build" --prefix "$work/kits/host" >/dev/null
        for kit in windows host; do
            say "$kit kit: $(find "$work/kits/$kit" -type f | wc -l) files in $work/kits/$kit"
        done

        # The kits' headers: the public ones only, each compiling on its own with nothing but the
        # one include root on the path (the Windows kit's with its compiler, the host kit's own
        # headers with the host's). Code that names them bare finds them after everything else.
        faults=()
        for internal in msi/InstallerText.h text/DeferredOutcome.h SimModel.h actions/QelCustInst.h; do
            for kit in windows host; do
                [[ ! -e "$work/kits/$kit/include/QelCustInst/$internal" ]] || faults+=("the $kit kit installs $internal")
            done
        done
        compile_alone() { # compile_alone KIT COMPILER HEADER: the header's fault, if any
            printf '#include "%s"\n' "$3" |
                "$2" -std=c++20 -Wall -Wextra -Werror -fsyntax-only -I "$work/kits/$1/include" -x c++ - 2>&1 |
                head -n 3 | sed "s|^|$1 kit, $3: |"
        }
        export -f compile_alone
        export work
        header_faults="$(
            cd "$work/kits/windows/include" && find QelCustInst -name '*.h' | sort |
                xargs -P "$jobs" -I{} bash -c 'compile_alone windows i686-w64-mingw32-g++-win32 {}'
            cd "$work/kits/host/include" && find QelCustInst -name '*.h' | sort |
                grep -E '^QelCustInst/([^/]*|testing/.*)$' | xargs -P "$jobs" -I{} bash -c 'compile_alone host g++ {}'
        )"
        [[ -z "$header_faults" ]] || faults+=("$header_faults")
        bare="$(printf '#include "msi/KestMsiRecord.h"\n#include "QelPlatform.h"\n' |
            g++ -std=c++20 -fsyntax-only -I "$work/kits/host/include" -idirafter "$work/kits/host/include/QelCustInst" \
                -x c++ - 2>&1 | head -n 3)"
        [[ -z "$bare" ]] || faults+=("a bare include through -idirafter: $bare")
        # shellcheck disable=SC2016 # the text as the exported targets file holds it
        grep -qF -- '-idirafter${_IMPORT_PREFIX}/include/QelCustInst' "$work/kits/host/lib/cmake/QelCustInst/QelCustInstTargets.cmake" ||
            faults+=("QelCustInst::framework does not search include/QelCustInst after everything else")
        ((${#faults[@]} == 0)) || fail "$(printf '\n  - %s' "${faults[@]}")"
        say "every header of the kits compiles alone from include/"
        ;;

    host)
        work="$(realpath -m "$1")"
        # An action includes one header of the kit's, <QelCustInst/qel.h>, besides its own and the
        # standard library's.
        others="$(cat "$example"/src/* "$settings_example"/src/* | grep -E '^#include' |
            grep -vE '^#include (<QelCustInst/qel\.h>|"[A-Za-z]+\.h"|<[a-z_]+>)$' || true)"
        [[ -z "$others" ]] || fail "an example's action includes more than <QelCustInst/qel.h>: ${others//$'\n'/ }"
        for project in "$example" "$settings_example"; do
            [[ -f "$project/CMakeLists.txt" ]] || { echo "check-kits: no example project in $project" >&2; exit 77; }
            build="$work/example-host-${project##*/}"
            rm -rf "$build"
            configured="$(cmake -S "$project" -B "$build" -DCMAKE_PREFIX_PATH="$work/kits/host" -DCMAKE_BUILD_TYPE=Debug)"
            # The kit names its own prefix, not that of the GoogleTest it finds.
            found="$(grep -o 'QelCustInst [0-9.]*: the .*' <<<"$configured" || true)"
            [[ "$found" == *" in $work/kits/host" ]] || fail "find_package named another prefix: ${found:-no line}"
            cmake --build "$build" -j"$jobs" >/dev/null
            ctest --test-dir "$build" -j"$jobs" --output-on-failure
        done
        ;;

    windows)
        windows_kit "$1" "${2:-i686}"
        build="$work/example-windows$suffix"
        build_example "$example" "$build"
        dll="$build/WarnOriginalDisk.dll"
        check_dll "$example" "$dll" qelWarnForOriginalDisk

        # The program that installs with a user interface of its own.
        "$triple-g++-win32" -std=c++20 -O2 -Wall -Wextra -Werror -static \
            -o "$build/external-ui.exe" "$example/wine/external-ui.cpp" -lmsi

        # The package: both DLLs, the kit's WiX include and its Error-table row 26002.
        package="$work/package$suffix"
        rm -rf "$package"
        mkdir -p "$package"
        cp "$example/wine/WarnOriginalDisk.wxs" "$example/wine/readme.txt" "$dll" "$kit/$our_dll" "$package/"
        wixl_args=(-D "QelCustInstDll=$our_dll")
        [[ "$platform" == x86 ]] || wixl_args+=(-a "$platform" -D "Platform=$platform")
        (cd "$package" && wixl "${wixl_args[@]}" -I "$kit" -o WarnOriginalDisk.msi WarnOriginalDisk.wxs)
        msibuild "$package/WarnOriginalDisk.msi" -i "$kit/Error.idt"
        check_package "$package/WarnOriginalDisk.msi"
        ;;

    wine)
        windows_kit "$1" "${2:-i686}"
        msi="$work/package$suffix/WarnOriginalDisk.msi"
        program="$work/example-windows$suffix/external-ui.exe"
        wine_ready "$msi" "$program"
        folder="$program_files\\WarnOriginalDisk\\" # each run leaves nothing installed behind it
        # The package also from a folder named in Cyrillic, with a value in several scripts: whole
        # under a locale whose ANSI code page is UTF-8 (hi_IN), as far as its code page goes under
        # another one (é as e under 1251); the results read in each.
        cyrillic="$work/Установка$suffix"
        mkdir -p "$cyrillic"
        cp "$msi" "$cyrillic/Пакет.msi"
        mixed="Café Привет Ωμέγα 日本語"
        # name | the runner's arguments (;-separated) | lines its output must hold (;-separated)
        # [| the package, when not the built one | its properties (;-separated)]
        runs=(
            "CD-ROM, no UI|--drive;cdrom;--uninstall|exit code: 0;installed: yes;property: PROMPT_FOR_CD1 = 1;action: qelWarnForOriginalDisk return value 1;property: INSTALLDIR = $folder"
            "fixed, no UI|--drive;fixed;--uninstall|exit code: 0;installed: yes;property: PROMPT_FOR_CD1 = 0;action: qelWarnForOriginalDisk return value 1;action: qelAreWeRunningFromCD return value 1"
            "CD-ROM, full UI, Cancel|--drive;cdrom;--program;$program;--program-arg;cancel;--program-arg;full;--expect;1602;--uninstall|exit code: 1602;installed: no;warnings answered: 1;property: UILevel = 5"
            "CD-ROM, full UI, OK|--drive;cdrom;--program;$program;--program-arg;ok;--program-arg;full;--uninstall|exit code: 0;installed: yes;warnings answered: 1;uninstall exit status: 0"
            "CD-ROM, Cyrillic folder, UTF-8 code page|--drive;cdrom;--locale;hi_IN.UTF-8;--uninstall|exit code: 0;installed: yes;property: QEL_NOTE = $mixed;action: qelWarnForOriginalDisk return value 1;uninstall exit status: 0|$cyrillic/Пакет.msi|QEL_NOTE=$mixed"
            "CD-ROM, Russian locale|--drive;cdrom;--locale;ru_RU.UTF-8;--uninstall|exit code: 0;property: QEL_NOTE = Cafe Привет;property: PROMPT_FOR_CD1 = 1;action: qelWarnForOriginalDisk return value 1;uninstall exit status: 0|$cyrillic/Пакет.msi|QEL_NOTE=Café Привет"
            "fixed, Japanese locale|--drive;fixed;--locale;ja_JP.UTF-8;--uninstall|exit code: 0;property: QEL_NOTE = 日本語;action: qelWarnForOriginalDisk return value 1;action: qelAreWeRunningFromCD return value 1;uninstall exit status: 0||QEL_NOTE=日本語"
        )
        # The locales' runs once, for i686: the 64-bit build makes the same wide calls.
        [[ "$architecture" == i686 ]] || runs=("${runs[@]:0:4}")
        for entry in "${runs[@]}"; do
            IFS='|' read -r name arguments expected package settings <<<"$entry"
            IFS=';' read -r -a args <<<"$arguments"
            IFS=';' read -r -a properties <<<"$settings"
            check "$name" "$expected" - --property PROMPT_FOR_CD1 --property UILevel --property INSTALLDIR --property QEL_NOTE \
                "${args[@]}" "${package:-$msi}" "${properties[@]}"
        done
        ((failures == 0)) || fail "$failures of ${#runs[@]} runs failed"
        ;;

    settings-windows)
        windows_kit "$1" "${2:-i686}"
        build="$work/example-windows-settings$suffix"
        build_example "$settings_example" "$build"
        dll="$build/WriteSettings.dll"
        check_dll "$settings_example" "$dll" qelScheduleSettings qelWriteSettings qelRemoveSettings qelScheduleRemoval
        package="$work/package-settings$suffix"
        rm -rf "$package"
        bash "$settings_example/wine/make-package.sh" "$dll" "$package" "$platform" >/dev/null
        check_package "$package/WriteSettings.msi"
        ;;

    settings-wine)
        windows_kit "$1" "${2:-i686}"
        msi="$work/package-settings$suffix/WriteSettings.msi"
        wine_ready "$msi"
        # A folder of the command line's choosing, the same for both packages: each run leaves it
        # empty, and the removal finds it through the registry view of its package's platform.
        folder='C:\QelSettings'
        file="$folder\\settings.ini"
        # In that folder: exactly the table's rows whose condition holds and whose feature is
        # installed, their values formatted; removed with the product.
        written="$(printf '%s\n' "Port=8080" "DataFolder=$folder\\data" "Product=Write Settings 1.0.0" "Separators=a;b=c%d")"
        want="exit code: 0;installed: yes;file: $file;uninstall exit status: 0;file after uninstall: $file (none)"
        want+=";info: qelScheduleSettings: 4 settings to write to $file"
        check "settings: installed, then removed" "$want" "$written" --drive fixed --file "$file" --uninstall \
            "$msi" "INSTALLDIR=$folder\\"
        # QEL_DEBUG makes the condition of one more row hold; QEL_FAIL_LATE fails the installation
        # after the file was written (a second writing, handed a text that is no deferred data), and
        # the rollback action, which ran, removes the file: its line in the log says so.
        want="exit code: 1603;installed: no;file: $file (none);info: qelScheduleSettings: 5 settings to write to $file"
        want+=";report: qelWriteSettings: Error: 0. Program Exception. An invalid parameter was passed to the function."
        want+=";action: qelRollbackSettings return value 1;info: qelRemoveSettings: removed $file"
        log="$work/settings-failed$suffix.log"
        check "settings: a later action fails, the rollback removes them" "$want" - --drive fixed --file "$file" \
            --expect 1603 --log "$log" "$msi" "INSTALLDIR=$folder\\" QEL_DEBUG=1 QEL_FAIL_LATE=1
        [[ -s "$log" ]] || { failures=$((failures + 1)); echo "FAIL settings: no log kept in $log ($architecture)"; }
        # A folder and a setting in scripts the machine's code page (1252 here) lacks: the file is
        # where the installer says, holds the value whole (in UTF-8), and goes with the product.
        folder='C:\Программы\WriteSettings'
        file="$folder\\settings.ini"
        greeting='Привет, Γειά σου, 日本語, 한국어, Café'
        written="$(printf '%s\n' "Port=8080" "DataFolder=$folder\\data" "Product=Write Settings 1.0.0" \
            "Separators=a;b=c%d" "Greeting=$greeting")"
        want="exit code: 0;installed: yes;file: $file;uninstall exit status: 0;file after uninstall: $file (none)"
        check "settings: a folder and a value in any script" "$want" "$written" --drive fixed --file "$file" \
            --uninstall "$msi" "INSTALLDIR=$folder\\" "QEL_GREETING=$greeting"
        ((failures == 0)) || fail "$failures runs failed"
        ;;

    *) usage ;;
esac
