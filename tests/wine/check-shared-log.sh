#!/usr/bin/env bash
# Two processes write one log under Wine, each through its own message processor, both holding
# the log open while they write in turn; the log must hold every byte of both, line ends as CR LF.
# Then, many times over, two processes start a log cycle at the same instant: one of them empties
# the log of the earlier cycle before either writes, and every line of both is kept.
#
# Usage:
#   check-shared-log.sh LOG_WRITER WORKDIR
#
#   LOG_WRITER  the cross-built log_writer.exe
#   WORKDIR     a work folder of Wine runs (that of install-demo.sh): its prefix is reused, or
#               started when there is none
set -euo pipefail
# shellcheck source=wine/qel-wine.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../wine/qel-wine.sh"

(($# == 2)) || qw_usage
writer="$(realpath -m "$1")"
work="$(realpath -m "$2")"
if [[ ! -f "$writer" ]]; then # 77: skipped, for ctest; the test command always builds it first
    echo "check-shared-log: $writer not found; build it with: cmake --preset windows && cmake --build --preset windows" >&2
    exit 77
fi
qw_enter check-shared-log "$work"
qw_prefix
started=$EPOCHREALTIME

name=qel-shared.log
texts=200
run() { qw_timeout 120 wine "$writer" "$@"; }
# A starts the cycle, B joins it; both hold the log open while they write in turn.
run write "$name" A "$texts" B lead &
lead=$!
run write "$name" B "$texts" A follow &
follow=$!
failed=0
wait "$lead" || failed=1
wait "$follow" || failed=1
((failed == 0)) || { echo "check-shared-log: a writer failed" >&2; exit 1; }
result=0
run check "$name" AB "$texts" | tr -d '\r' || result=$?
run race qel-race.log 20 5 | tr -d '\r' || result=$?
awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "check-shared-log: %.1f s\n", b - a }'
exit "$result"
