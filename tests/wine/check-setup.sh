#!/usr/bin/env bash
# scripts/setup.sh while another process holds the package manager's lock: it waits and goes on
# once the lock is free, gives up with apt's own message when the wait runs out, and fails at once
# on any other failure. apt-get, dpkg, dpkg-query and locale are stand-ins on PATH: nothing is
# installed.
#
#   check-setup.sh WORKDIR
set -euo pipefail

(($# == 1)) || { echo "usage: check-setup.sh WORKDIR" >&2; exit 2; }
here="$(cd "$(dirname "$0")" && pwd)"
setup="$here/../../scripts/setup.sh"
work="$1"
rm -rf "$work"
mkdir -p "$work/bin"

# The stand-ins. apt-get fails with LOCKED_TIMES lock refusals, then with OTHER_FAILURE's text when
# set, else succeeds; every call is counted in calls.
cat >"$work/bin/apt-get" <<'STUB'
#!/usr/bin/env bash
echo "$*" >>"$QEL_STUB_DIR/calls"
count=$(wc -l <"$QEL_STUB_DIR/calls")
if ((count <= LOCKED_TIMES)); then
    echo "E: Could not get lock /var/lib/dpkg/lock-frontend. It is held by process 4242 (unattended-upgr)" >&2
    exit 100
fi
[[ -z "${OTHER_FAILURE:-}" ]] || { echo "$OTHER_FAILURE" >&2; exit 100; }
exit 0
STUB
printf '#!/bin/sh\necho i386\n' >"$work/bin/dpkg"
printf '#!/bin/sh\nexit 1\n' >"$work/bin/dpkg-query"
printf '#!/bin/sh\necho UTF-8\n' >"$work/bin/locale"
chmod +x "$work/bin/"*

failures=0
# case: LOCKED_TIMES OTHER_FAILURE QEL_APT_WAIT, then the status, apt-get's calls (any: as many as
# the wait allows) and a text the output must hold.
check() {
    local name="$1" locked="$2" other="$3" wait="$4" want_status="$5" want_calls="$6" want_text="$7"
    rm -f "$work/calls"
    touch "$work/calls"
    local output status=0
    output="$(PATH="$work/bin:$PATH" QEL_STUB_DIR="$work" LOCKED_TIMES="$locked" OTHER_FAILURE="$other" \
        QEL_APT_WAIT="$wait" QEL_APT_PAUSE=1 bash "$setup" 2>&1)" || status=$?
    local calls
    calls=$(wc -l <"$work/calls")
    if ((status != want_status)) || [[ "$want_calls" != any && "$calls" != "$want_calls" ]] || ! grep -qF -- "$want_text" <<<"$output"; then
        echo "FAIL $name: status $status (want $want_status), $calls apt-get calls (want $want_calls); output:" >&2
        printf '    %s\n' "${output//$'\n'/$'\n'    }" >&2
        failures=$((failures + 1))
    else
        echo "ok   $name"
    fi
}
check "a lock held a while is waited for" 2 "" 60 0 4 "waiting up to 60s"
check "a lock held past the wait fails with apt's message" 1000 "" 2 100 any "It is held by process 4242"
check "another failure fails at once" 0 "E: Unable to locate package wixl" 60 100 1 "Unable to locate package wixl"
((failures == 0)) || exit 1
