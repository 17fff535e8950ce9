#!/usr/bin/env bash
# Runs a Windows test executable, 32- or 64-bit, under Wine in the 64-bit prefix of WORKDIR.
#
# Usage:
#   wine-unit.sh WORKDIR EXE PACKAGE --prepare
#   wine-unit.sh WORKDIR EXE PACKAGE [--shard I/N] [--locale LOCALE] [GOOGLETEST-OPTION...]
#
#   --prepare  only make the prefix WORKDIR/prefix ready (its first start takes 10-50 s)
#   --shard    run the I-th of N parts of the cases (counted from 0)
#   --locale   start Wine in this locale (ja_JP.UTF-8: the ANSI code page is 932)
#
# QEL_WINE_LOCALE (ru_RU.UTF-8, ja_JP.UTF-8, ...) starts Wine in that locale (its LANG: the ANSI
# code page follows it) with the system's messages in English, for every run that gives no
# --locale, in a prefix of its own: WORKDIR/locale-LOCALE. Without it, Wine starts in the caller's
# locale. scripts/setup.sh makes en_US, ru_RU and ja_JP.
#
# Runs in one WORKDIR take turns. Every run gets a folder of its own under WORKDIR/runs, which the
# tests divide into one temporary folder per case; it is removed when every case passed and kept
# otherwise (a killed run's folder is removed by the next run). Exits non-zero when Wine cannot
# start, when no case ran or when any case failed.
set -euo pipefail
# shellcheck source=wine/qel-wine.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../../wine/qel-wine.sh"

(($# >= 3)) || qw_usage
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
            [[ "${2:-}" =~ ^([0-9]+)/([0-9]+)$ ]] || qw_usage
            export GTEST_SHARD_INDEX="${BASH_REMATCH[1]}" GTEST_TOTAL_SHARDS="${BASH_REMATCH[2]}"
            shift 2 ;;
        --locale) locale="${2:?}"; shift 2 ;;
        --gtest_*) break ;;
        *) qw_usage ;;
    esac
done

QW_NAME=wine-unit
if [[ -n "${QEL_WINE_LOCALE:-}" ]]; then
    qw_locale_name "$QEL_WINE_LOCALE"
    qw_usable_locale "$QEL_WINE_LOCALE" ||
        qw_fail "QEL_WINE_LOCALE: the locale $QEL_WINE_LOCALE is not installed (scripts/setup.sh makes en_US, ru_RU and ja_JP)"
    # The locale's code page, with the system's messages in English: the cases compare the
    # system's texts with Windows' English ones, and the code page is what a locale changes.
    export LANG="$QEL_WINE_LOCALE" LC_MESSAGES=en_US.UTF-8
    unset LC_ALL
    work+="/locale-$QEL_WINE_LOCALE"
    locale="${locale:-$QEL_WINE_LOCALE}"
fi
qw_enter wine-unit "$work"
qw_prefix
((prepare == 0)) || exit 0

[[ -f "$exe" ]] || { echo "wine-unit: $exe not found; build it with: cmake --build --preset windows-tests" >&2; exit 1; }
[[ -f "$package" ]] || { echo "wine-unit: the test package $package was not authored" >&2; exit 1; }

run="$(qw_run_folder)"
export QEL_TEST_FOLDER QEL_TEST_PACKAGE
QEL_TEST_FOLDER="$(qw_winpath "$run")"
QEL_TEST_PACKAGE="$(qw_winpath "$package")"

status=0
if [[ -n "$locale" ]]; then
    LANG="$locale" LC_MESSAGES=en_US.UTF-8 LC_ALL="" wine "$exe" "$@" >"$run/output.txt" 2>&1 || status=$?
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
if ((status != 0)); then
    qw_keep "$run"
    echo "wine-unit: the run's folder is kept: $run" >&2
fi
exit "$status"
