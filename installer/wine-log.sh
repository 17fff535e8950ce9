#!/usr/bin/env bash
# Two processes write one log under Wine, each through its own message processor, both holding
# the log open while they write in turn; the log must hold every byte of both, line ends as CR LF.
#
#   wine-log.sh LOG_WRITER WORKDIR
#
# LOG_WRITER is the cross-built log_writer.exe. WORKDIR is the work folder of wine-run.sh: its Wine
# prefix is reused when it is there (made with `wineboot -i` otherwise), under the same lock.
set -euo pipefail

(($# == 2)) || { echo "usage: wine-log.sh LOG_WRITER WORKDIR" >&2; exit 2; }
writer="$(realpath -m "$1")"
work="$(realpath -m "$2")"
if [[ ! -f "$writer" ]]; then # 77: skipped, for ctest; the test command always builds it first
    echo "wine-log: $writer not found; build it with: cmake --preset windows && cmake --build --preset windows" >&2
    exit 77
fi
# shellcheck source=installer/wine-env.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
wine_enter wine-log "$work" wine wineboot wineserver
started=$EPOCHREALTIME
if [[ ! -d "$WINEPREFIX" ]]; then
    wineboot -i >"$work/wineboot-log.txt" 2>&1 || { cat "$work/wineboot-log.txt"; exit 1; }
fi

name=qel-shared.log
texts=200
run() { timeout 120 wine "$writer" "$@"; }
# A starts the cycle, B joins it; both hold the log open while they write in turn.
run write "$name" A "$texts" B lead &
lead=$!
run write "$name" B "$texts" A follow &
follow=$!
failed=0
wait "$lead" || failed=1
wait "$follow" || failed=1
((failed == 0)) || { echo "wine-log: a writer failed" >&2; exit 1; }
result=0
run check "$name" AB "$texts" | tr -d '\r' || result=$?
run end "$name"
timeout 60 wineserver -w || echo "wine-log: the prefix's wineserver is still running"
awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "wine-log: %.1f s\n", b - a }'
exit "$result"
