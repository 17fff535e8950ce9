#!/usr/bin/env bash
# Uses the kits as an author would: installs them, then builds and runs the example project
# (examples/warn-original-disk) from the installed files alone, so that a header left out of the
# install or a target that only works inside this tree fails here.
#
#   check-kits.sh install WINDOWS_BUILD HOST_BUILD WORK   both kits into WORK/kits/{windows,host}
#   check-kits.sh host WORK          the example's host tests (the fixture and the fault sweep)
#   check-kits.sh windows WORK       the example's DLL, the external-UI program and the package
#   check-kits.sh wine WORK          the package under Wine: /qn from a CD-ROM and a fixed drive,
#                                    and with a user interface whose user answers Cancel, then OK
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
jobs="$(nproc)"
say() { echo "check-kits $step: $*"; }
fail() { echo "check-kits $step: $*" >&2; exit 1; }

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
        ;;

    host)
        work="$(realpath -m "$1")"
        [[ -f "$example/CMakeLists.txt" ]] || { echo "check-kits: no example project in $example" >&2; exit 77; }
        build="$work/example-host"
        rm -rf "$build"
        cmake -S "$example" -B "$build" -DCMAKE_PREFIX_PATH="$work/kits/host" -DCMAKE_BUILD_TYPE=Debug >/dev/null
        cmake --build "$build" -j"$jobs" >/dev/null
        ctest --test-dir "$build" -j"$jobs" --output-on-failure
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
        ;;

    wine)
        work="$(realpath -m "$1")"
        kit="$work/kits/windows"
        msi="$work/package/WarnOriginalDisk.msi"
        program="$work/example-windows/external-ui.exe"
        [[ -f "$msi" && -f "$program" ]] || { echo "check-kits: run the windows step first" >&2; exit 77; }
        command -v wine >/dev/null || { echo "check-kits: wine is not installed" >&2; exit 77; }
        runner="$kit/share/QelCustInst/wine/run-package.sh"
        # One work folder (and prefix) for the four runs, one run at a time; each leaves nothing
        # installed behind it.
        # name | the runner's arguments (;-separated) | lines its output must hold (;-separated)
        runs=(
            "CD-ROM, no UI|--drive;cdrom;--uninstall|exit code: 0;installed: yes;property: PROMPT_FOR_CD1 = 1;action: qelWarnForOriginalDisk return value 1"
            "fixed, no UI|--drive;fixed;--uninstall|exit code: 0;installed: yes;property: PROMPT_FOR_CD1 = 0;action: qelWarnForOriginalDisk return value 1"
            "CD-ROM, full UI, Cancel|--drive;cdrom;--program;$program;--program-arg;cancel;--program-arg;full;--expect;1602;--uninstall|exit code: 1602;installed: no;warnings answered: 1;property: UILevel = 5"
            "CD-ROM, full UI, OK|--drive;cdrom;--program;$program;--program-arg;ok;--program-arg;full;--uninstall|exit code: 0;installed: yes;warnings answered: 1;uninstall exit status: 0"
        )
        failures=0
        for entry in "${runs[@]}"; do
            IFS='|' read -r name arguments expected <<<"$entry"
            IFS=';' read -r -a args <<<"$arguments"
            IFS=';' read -r -a lines <<<"$expected"
            status=0
            output="$(bash "$runner" --work "$work/wine" --property PROMPT_FOR_CD1 --property UILevel "${args[@]}" "$msi" 2>&1)" ||
                status=$?
            problems=()
            ((status == 0)) || problems+=("run-package exit status $status")
            for line in "${lines[@]}"; do grep -qxF "$line" <<<"$output" || problems+=("no line '$line'"); done
            if ((${#problems[@]})); then
                failures=$((failures + 1))
                echo "FAIL $name:"
                printf '  - %s\n' "${problems[@]}"
                printf '  | %s\n' "${output//$'\n'/$'\n'  | }"
            else
                echo "ok   $name"
            fi
        done
        ((failures == 0)) || fail "$failures of ${#runs[@]} runs failed"
        ;;

    *) usage ;;
esac
