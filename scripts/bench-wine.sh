#!/usr/bin/env bash
# Times the library's hot spots in the Windows build, under Wine: builds the cross-built timing
# program (windows preset, target qel_hotspots) unless EXE is given, runs it and prints one line
# per hot spot (library and baseline time per run, their ratio and the goal).
#
# Usage:
#   bench-wine.sh [--seconds S] [--code-page 932] [EXE]
#
#   --seconds    time per hot spot (default 1)
#   --code-page  run under a Japanese locale, where the ANSI code page is 932 (default: the
#                prefix's own, 1252)
#   EXE          default build/windows/bench/qel_hotspots.exe
#
# The Wine prefix lives in build/wine-bench (started once, reused afterwards).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=wine/qel-wine.sh
source "$root/wine/qel-wine.sh"

seconds=1
locale=""
while (($#)); do
    case "$1" in
        --seconds) seconds="${2:?--seconds needs a value}"; shift 2 ;;
        --code-page)
            [[ "${2:-}" == 932 ]] || { echo "bench-wine: only --code-page 932 is known" >&2; exit 2; }
            locale="ja_JP.UTF-8"; shift 2 ;;
        -*) qw_usage ;;
        *) break ;;
    esac
done
(($# <= 1)) || qw_usage
[[ "$seconds" =~ ^[0-9]*\.?[0-9]+$ && ! "$seconds" =~ ^[0.]+$ ]] ||
    { echo "bench-wine: --seconds needs a positive number" >&2; exit 2; }

qw_enter bench-wine "$root/build/wine-bench" cmake
if (($# == 1)); then
    exe="$(realpath -m "$1")"
else
    exe="$root/build/windows/bench/qel_hotspots.exe"
    (cd "$root" && cmake --preset windows >/dev/null && cmake --build --preset windows -j2 --target qel_hotspots >/dev/null)
fi
[[ -f "$exe" ]] || { echo "bench-wine: no $exe" >&2; exit 1; }

qw_prefix
cd "$QW_WORK"
if [[ -n "$locale" ]]; then
    LANG="$locale" LC_ALL="$locale" wine "$exe" --seconds "$seconds" .
else
    wine "$exe" --seconds "$seconds" .
fi
