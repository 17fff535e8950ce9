#!/usr/bin/env bash
# Times the library's hot spots in the Windows build, under Wine: builds the cross-built timing
# program (windows preset, target qel_hotspots) unless EXE is given, runs it and prints one line
# per hot spot (library and baseline time per run, their ratio and the goal).
#
#   bench-wine.sh [--seconds S] [--code-page 932] [EXE]
#
#   --seconds    time per hot spot (default 1)
#   --code-page  run under a Japanese locale, where the ANSI code page is 932 (default: the
#                prefix's own, 1252)
#   EXE          default build/windows/bench/qel_hotspots.exe
#
# The Wine prefix lives in build/wine-bench (created once with `wineboot -i`, reused afterwards).
set -euo pipefail

usage() { sed -n '6,12p' "$0" | sed 's/^# \{0,3\}//' >&2; exit 2; }

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds=1
locale=""
while (($#)); do
    case "$1" in
        --seconds) seconds="${2:?--seconds needs a value}"; shift 2 ;;
        --code-page)
            [[ "${2:-}" == 932 ]] || { echo "bench-wine: only --code-page 932 is known" >&2; exit 2; }
            locale="ja_JP.UTF-8"; shift 2 ;;
        -h | --help) usage ;;
        -*) usage ;;
        *) break ;;
    esac
done
(($# <= 1)) || usage
[[ "$seconds" =~ ^[0-9]*\.?[0-9]+$ && ! "$seconds" =~ ^[0.]+$ ]] ||
    { echo "bench-wine: --seconds needs a positive number" >&2; exit 2; }

for tool in wine wineboot wineserver cmake; do
    command -v "$tool" >/dev/null || { echo "bench-wine: $tool is missing (bash scripts/setup.sh installs it)" >&2; exit 1; }
done
if (($# == 1)); then
    exe="$(realpath -m "$1")"
else
    exe="$root/build/windows/bench/qel_hotspots.exe"
    (cd "$root" && cmake --preset windows >/dev/null && cmake --build --preset windows -j2 --target qel_hotspots >/dev/null)
fi
[[ -f "$exe" ]] || { echo "bench-wine: no $exe" >&2; exit 1; }

work="$root/build/wine-bench"
mkdir -p "$work"
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [[ ! -f "$WINEPREFIX/.qel-ready" ]]; then
    rm -rf "$WINEPREFIX"
    echo "bench-wine: first start of the prefix $WINEPREFIX"
    wineboot -i >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log"; exit 1; }
    wineserver -w
    touch "$WINEPREFIX/.qel-ready"
fi

cd "$work"
if [[ -n "$locale" ]]; then
    LANG="$locale" LC_ALL="$locale" wine "$exe" --seconds "$seconds" .
else
    wine "$exe" --seconds "$seconds" .
fi
