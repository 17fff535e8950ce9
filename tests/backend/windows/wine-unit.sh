#!/usr/bin/env bash
# Runs the Windows test executable under Wine, in a prefix of the build directory.
#
#   wine-unit.sh WORKDIR EXE PACKAGE --prepare
#   wine-unit.sh WORKDIR EXE PACKAGE [--shard I/N] [--locale LOCALE] [GOOGLETEST-OPTION...]
#
#   --prepare  only make the prefix WORKDIR/prefix ready (its first start takes 10-50 s)
#   --shard    run the I-th of N parts of the cases (counted from 0)
#   --locale   start Wine in this locale (ja_JP.UTF-8: the ANSI code page is 932)
#
# Every run gets a folder of its own under WORKDIR, which the tests divide into one temporary
# folder per case; it is removed when every case passed. Exits non-zero when Wine cannot start,
# when no case ran or when any case failed.
set -euo pipefail

usage() { sed -n '4,10p' "$0" | sed 's/^# \{0,3\}//' >&2; exit 2; }

(($# >= 3)) || usage
work="$(realpath -m "$1")"
exe="$(realpath -m "$2")"
package="$(realpath -m "$3")"
shift 3
prepare=0
locale=""
while (($#)); do
    case "$1" in
        --prepare) prepare=1; shift ;;
        --shard)
            [[ "${2:-}" =~ ^([0-9]+)/([0-9]+)$ ]] || usage
            export GTEST_SHARD_INDEX="${BASH_REMATCH[1]}" GTEST_TOTAL_SHARDS="${BASH_REMATCH[2]}"
            shift 2 ;;
        --locale) locale="${2:?}"; shift 2 ;;
        --gtest_*) break ;;
        *) usage ;;
    esac
done

for tool in wine wineboot wineserver; do
    command -v "$tool" >/dev/null || { echo "wine-unit: $tool is missing; run scripts/setup.sh" >&2; exit 1; }
done

mkdir -p "$work"
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

# --- The prefix: started once per build directory; the stamp marks it complete. ---
stamp="$WINEPREFIX/.qel-ready"
(
    flock -w 600 9 || { echo "wine-unit: $work is locked by another run" >&2; exit 1; }
    if [[ ! -f "$stamp" ]]; then
        rm -rf "$WINEPREFIX"
        echo "wine-unit: first start of the prefix $WINEPREFIX"
        started=$EPOCHREALTIME
        if ! wineboot -i >"$work/wineboot.log" 2>&1 || ! wineserver -w; then
            cat "$work/wineboot.log" >&2
            echo "wine-unit: Wine could not start the prefix $WINEPREFIX (wineboot -i failed)" >&2
            exit 1
        fi
        touch "$stamp"
        awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "wine-unit: prefix ready in %.1f s\n", b - a }'
    fi
) 9>"$work/.lock"
((prepare == 0)) || exit 0

[[ -f "$exe" ]] || { echo "wine-unit: $exe not found; build it with: cmake --build --preset windows-tests" >&2; exit 1; }
[[ -f "$package" ]] || { echo "wine-unit: the test package $package was not authored" >&2; exit 1; }

# Unix paths as Wine names them: Z: is the root.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
run="$(mktemp -d "$work/run.XXXXXX")"
export QEL_TEST_FOLDER QEL_TEST_PACKAGE
QEL_TEST_FOLDER="$(windows_path "$run")"
QEL_TEST_PACKAGE="$(windows_path "$package")"

status=0
if [[ -n "$locale" ]]; then
    LANG="$locale" LC_ALL="$locale" wine "$exe" "$@" >"$run/output.txt" 2>&1 || status=$?
else
    wine "$exe" "$@" >"$run/output.txt" 2>&1 || status=$?
fi
tr -d '\r' <"$run/output.txt"

# GoogleTest ends with "[==========] N tests from M test suites ran."; without it Wine never got
# the executable going.
ran="$(tr -d '\r' <"$run/output.txt" | sed -n 's/^\[==========\] \([0-9]*\) tests\{0,1\} from .* ran\..*/\1/p')"
if [[ -z "$ran" ]]; then
    echo "wine-unit: Wine did not run $exe to its end (exit status $status)" >&2
    status=1
elif ((ran == 0)); then
    echo "wine-unit: no test case ran" >&2
    status=1
fi
if ((status == 0)); then
    rm -rf "$run"
else
    echo "wine-unit: the run's folder is kept: $run" >&2
fi
exit "$status"
