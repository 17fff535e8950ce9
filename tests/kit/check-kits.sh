#!/usr/bin/env bash
# Uses the kits as an author would: installs them, then builds and runs the example projects
# (examples/warn-original-disk, examples/write-settings) from the installed files alone, so that a
# header left out of the install or a target that only works inside this tree fails here.
#
#   check-kits.sh install WINDOWS_BUILD HOST_BUILD WORK   both kits into WORK/kits/{windows,host};
#                                    each installed header compiles alone from the one include root
#   check-kits.sh host WORK          the examples' host tests (the fixture and the fault sweep)
#   check-kits.sh windows WORK       the examples' DLLs, the external-UI program and the packages
#   check-kits.sh wine WORK          the packages under Wine: the first /qn from a CD-ROM and a fixed
#                                    drive, and with a user interface whose user answers Cancel,
#                                    then OK; the second installed and removed, and an installation
#                                    that fails after the settings were written
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

# shellcheck disable=SC2034 # the wine step's arrays are read by check(), through their names
case "$step" in
    install)
        (($# == 3)) || usage
        windows_build="$(realpath -m "$1")" host_build="$(realpath -m "$2")" work="$(realpath -m "$3")"
        for build in "$windows_build" "$host_build"; do
            [[ -f "$build/cmake_install.cmake" ]] || { echo "check-kits: no build in $build" >&2; exit 77; }
        done
        rm -rf "$work/kits"
        # Up to date first: an install of stale libraries would test the wrong kit.
        cmake --build "$windows_build" -j"$jobs" >/dev/null
        cmake --install "$windows_build" --prefix "$work/kits/windows" >/dev/null
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
            local kit="$1" compiler="$2" header="$3"
            printf '#include "%s"\n' "$header" |
                "$compiler" -std=c++20 -Wall -Wextra -Werror -fsyntax-only -I "$work/kits/$kit/include" -x c++ - 2>&1 |
                head -n 3 | sed "s|^|$kit kit, $header: |"
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
            g++ -std=c++20 -fsyntax-only -I "$work/kits/host/include" -idirafter "$work/kits/host/include/QelCustInst" -x c++ - 2>&1 | head -n 3)"
        [[ -z "$bare" ]] || faults+=("a bare include through -idirafter: $bare")
        # shellcheck disable=SC2016 # the text as the exported targets file holds it
        grep -qF -- '-idirafter${_IMPORT_PREFIX}/include/QelCustInst' "$work/kits/host/lib/cmake/QelCustInst/QelCustInstTargets.cmake" ||
            faults+=("QelCustInst::framework does not search include/QelCustInst after everything else")
        ((${#faults[@]} == 0)) || fail "$(printf '\n  - %s' "${faults[@]}")"
        say "every header of both kits compiles alone from include/"
        ;;

    host)
        work="$(realpath -m "$1")"
        for project in "$example" "$settings_example"; do
            [[ -f "$project/CMakeLists.txt" ]] || { echo "check-kits: no example project in $project" >&2; exit 77; }
        done
        for project in "$example" "$settings_example"; do
            build="$work/example-host-${project##*/}"
            rm -rf "$build"
            cmake -S "$project" -B "$build" -DCMAKE_PREFIX_PATH="$work/kits/host" -DCMAKE_BUILD_TYPE=Debug >/dev/null
            cmake --build "$build" -j"$jobs" >/dev/null
            ctest --test-dir "$build" -j"$jobs" --output-on-failure
        done
        ;;

    windows)
        work="$(realpath -m "$1")"
        kit="$work/kits/windows"
        [[ -f "$example/CMakeLists.txt" ]] || { echo "check-kits: no example project in $example" >&2; exit 77; }
        build="$work/example-windows"
        rm -rf "$build"
        cmake -S "$example" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$kit/lib/cmake/QelCustInst/mingw-i686.cmake" \
            -DCMAKE_PREFIX_PATH="$kit" -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
        cmake --build "$build" -j"$jobs" >/dev/null
        dll="$build/WarnOriginalDisk.dll"
        [[ -f "$dll" ]] || fail "the example's build made no WarnOriginalDisk.dll"

        # The DLL as the installer sees it: its one export by name at its ordinal, system DLLs only,
        # and the example project's version.
        dump="$(i686-w64-mingw32-objdump -p "$dll")"
        faults=()
        grep -qE '^[[:space:]]*\[ *0\] (\+base\[ *1\] +[0-9a-f]+ +)?qelWarnForOriginalDisk$' <<<"$dump" ||
            faults+=("qelWarnForOriginalDisk is not exported by name at ordinal 1")
        grep -qE '^Ordinal Base[[:space:]]+1$' <<<"$dump" || faults+=("the ordinal base is not 1")
        while read -r import; do
            case "${import,,}" in
                kernel32.dll | user32.dll | msi.dll | msvcrt.dll | advapi32.dll) ;;
                *) faults+=("imports $import, not a Windows system DLL") ;;
            esac
        done < <(sed -n 's/^[[:space:]]*DLL Name: \(.*\)$/\1/p' <<<"$dump")
        version="$(sed -n 's/^project([^)]*VERSION \([0-9.]*\).*/\1/p' "$example/CMakeLists.txt" | head -n 1)"
        resource="$(i686-w64-mingw32-windres -i "$dll" -O rc | sed 's/^[[:space:]]*//')"
        for line in "VALUE \"FileVersion\", \"$version\"" 'VALUE "OriginalFilename", "WarnOriginalDisk.dll"'; do
            grep -qxF "$line" <<<"$resource" || faults+=("no '$line' in its version resource")
        done
        ((${#faults[@]} == 0)) || fail "$(printf '\n  - %s' "${faults[@]}")"
        say "WarnOriginalDisk.dll: $(stat -c %s "$dll") bytes, qelWarnForOriginalDisk at 1, version $version"

        # The program that installs with a user interface of its own.
        i686-w64-mingw32-g++-win32 -std=c++20 -O2 -Wall -Wextra -Werror -static \
            -o "$build/external-ui.exe" "$example/wine/external-ui.cpp" -lmsi

        # The package: both DLLs, the kit's WiX include and its Error-table row 26002.
        package="$work/package"
        rm -rf "$package"
        mkdir -p "$package"
        cp "$example/wine/WarnOriginalDisk.wxs" "$example/wine/readme.txt" "$dll" "$kit/QelCustInst.dll" "$package/"
        (cd "$package" && wixl -I "$kit" -o WarnOriginalDisk.msi WarnOriginalDisk.wxs)
        msibuild "$package/WarnOriginalDisk.msi" -i "$kit/Error.idt"
        say "package: $package/WarnOriginalDisk.msi"

        # The second example: its four actions by name at their ordinals, and its package.
        build="$work/example-windows-settings"
        rm -rf "$build"
        cmake -S "$settings_example" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$kit/lib/cmake/QelCustInst/mingw-i686.cmake" \
            -DCMAKE_PREFIX_PATH="$kit" -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
        cmake --build "$build" -j"$jobs" >/dev/null
        dll="$build/WriteSettings.dll"
        [[ -f "$dll" ]] || fail "the second example's build made no WriteSettings.dll"
        dump="$(i686-w64-mingw32-objdump -p "$dll")"
        ordinal=0
        for export in qelScheduleSettings qelWriteSettings qelRemoveSettings qelScheduleRemoval; do
            grep -qE "^[[:space:]]*\[ *$ordinal\] (\+base\[ *$((ordinal + 1))\] +[0-9a-f]+ +)?$export\$" <<<"$dump" ||
                fail "$export is not exported by name at ordinal $((ordinal + 1))"
            ordinal=$((ordinal + 1))
        done
        package="$work/package-settings"
        rm -rf "$package"
        bash "$settings_example/wine/make-package.sh" "$dll" "$package" >/dev/null
        say "WriteSettings.dll: $(stat -c %s "$dll") bytes; package: $package/WriteSettings.msi"
        ;;

    wine)
        work="$(realpath -m "$1")"
        kit="$work/kits/windows"
        msi="$work/package/WarnOriginalDisk.msi"
        settings_msi="$work/package-settings/WriteSettings.msi"
        program="$work/example-windows/external-ui.exe"
        [[ -f "$msi" && -f "$settings_msi" && -f "$program" ]] || { echo "check-kits: run the windows step first" >&2; exit 77; }
        command -v wine >/dev/null || { echo "check-kits: wine is not installed" >&2; exit 77; }
        runner="$kit/share/QelCustInst/wine/run-package.sh"
        failures=0 runs=0
        # check NAME WANT FILE -- RUNNER-ARGUMENTS...: one run of the runner, whose exit status must
        # be 0 and whose output must hold every line of the array WANT; FILE, unless "-", names an
        # array that the lines of the --file asked for must be, exactly and in order. One work folder
        # (and prefix) for every run, one run at a time; each leaves nothing installed behind it.
        check() {
            local name="$1" status=0 output file_lines line
            local -n wanted_lines="$2"
            local file_name="$3"
            shift 4
            runs=$((runs + 1))
            output="$(bash "$runner" --work "$work/wine" "$@" 2>&1)" || status=$?
            local problems=()
            ((status == 0)) || problems+=("run-package exit status $status")
            for line in "${wanted_lines[@]}"; do grep -qxF -- "$line" <<<"$output" || problems+=("no line '$line'"); done
            if [[ "$file_name" != - ]]; then
                local -n wanted_file="$file_name"
                file_lines="$(sed -n 's/^file| //p' <<<"$output")"
                [[ "$file_lines" == "$(printf '%s\n' "${wanted_file[@]}")" ]] ||
                    problems+=("the file does not hold exactly: $(printf '%s; ' "${wanted_file[@]}")")
            fi
            if ((${#problems[@]})); then
                failures=$((failures + 1))
                echo "FAIL $name:"
                printf '  - %s\n' "${problems[@]}"
                printf '  | %s\n' "${output//$'\n'/$'\n'  | }"
            else
                echo "ok   $name"
            fi
        }

        # The first example, from a CD-ROM and a fixed drive, and answered by a user.
        asked=(--property PROMPT_FOR_CD1 --property UILevel)
        want=("exit code: 0" "installed: yes" "property: PROMPT_FOR_CD1 = 1" "action: qelWarnForOriginalDisk return value 1")
        check "CD-ROM, no UI" want - -- "${asked[@]}" --drive cdrom --uninstall "$msi"
        want=("exit code: 0" "installed: yes" "property: PROMPT_FOR_CD1 = 0" "action: qelWarnForOriginalDisk return value 1")
        check "fixed, no UI" want - -- "${asked[@]}" --drive fixed --uninstall "$msi"
        want=("exit code: 1602" "installed: no" "warnings answered: 1" "property: UILevel = 5")
        check "CD-ROM, full UI, Cancel" want - -- "${asked[@]}" --drive cdrom --program "$program" --program-arg cancel \
            --program-arg full --expect 1602 --uninstall "$msi"
        want=("exit code: 0" "installed: yes" "warnings answered: 1" "uninstall exit status: 0")
        check "CD-ROM, full UI, OK" want - -- "${asked[@]}" --drive cdrom --program "$program" --program-arg ok \
            --program-arg full --uninstall "$msi"

        # The second example in a folder of the installation's choosing: exactly the table's rows
        # whose condition holds, their values formatted; removed with the product.
        folder='C:\QelSettings'
        file="$folder\\settings.ini"
        written=("Port=8080" "DataFolder=$folder\\data" "Product=Write Settings 1.0.0" "Separators=a;b=c%d")
        want=("exit code: 0" "installed: yes" "file: $file" "uninstall exit status: 0" "file after uninstall: $file (none)")
        check "settings: installed, then removed" want written -- --drive fixed --file "$file" --uninstall \
            "$settings_msi" "INSTALLDIR=$folder\\"
        # QEL_DEBUG makes the condition of one more row hold; QEL_FAIL_LATE fails the installation
        # after the file was written (a second writing, handed a text that is no deferred data), and
        # the rollback action removes the file: its line in the log says so.
        want=("exit code: 1603" "installed: no" "file: $file (none)"
            "report: qelWriteSettings: Error: 0. Program Exception. An invalid parameter was passed to the function.")
        check "settings: a later action fails, the rollback removes them" want - -- --drive fixed --file "$file" \
            --expect 1603 --log "$work/settings-failed.log" "$settings_msi" "INSTALLDIR=$folder\\" QEL_DEBUG=1 QEL_FAIL_LATE=1
        if ! tr -d '\0\r' <"$work/settings-failed.log" | grep -qxF "Settings removed: $file"; then
            failures=$((failures + 1))
            echo "FAIL settings: the rollback action never removed $file (no line in $work/settings-failed.log)"
        fi
        ((failures == 0)) || fail "$failures of $runs runs failed"
        ;;

    *) usage ;;
esac
