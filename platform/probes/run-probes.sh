#!/usr/bin/env bash
# Runs the probes under Wine and prints their answers. The host model follows these answers, except
# where Wine departs from documented Windows behaviour (see the comments of
# platform/host/SimInstaller.cpp and SimSystem.cpp).
#
# Usage:
#   run-probes.sh [PROBES [WORKDIR]]
#
#   PROBES   the folder of the built probes (default: build/windows/platform/probes, built first
#            with the windows preset's target qel_probes)
#   WORKDIR  the work folder of the runs (default: build/wine-probes): a Wine prefix of its own,
#            started once and reused, with D: a CD-ROM drive
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
# shellcheck source=wine/qel-wine.sh
source "$root/wine/qel-wine.sh"

[[ "${1:-}" != -* ]] || qw_usage
(($# <= 2)) || qw_usage
if (($# >= 1)); then
    probes="$(realpath -m "$1")"
else
    probes="$root/build/windows/platform/probes"
    qw_need run-probes cmake
    (cd "$root" && cmake --preset windows >/dev/null && cmake --build --preset windows -j2 --target qel_probes >/dev/null)
fi
for probe in probe_kernel probe_query probe_records probe_session probe_volume probe_deferred.dll; do
    [[ "$probe" == *.* ]] || probe="$probe.exe"
    [[ -f "$probes/$probe" ]] || { echo "run-probes: $probes/$probe not found" >&2; exit 1; }
done
qw_enter run-probes "${2:-$root/build/wine-probes}" wixl msibuild
qw_prefix
run="$(qw_run_folder)"

# The session probe opens a small package of its own, authored here.
echo probe >"$run/probe.txt"
cp "$root/platform/probes/probe_session.wxs" "$run/"
(cd "$run" && wixl -o probe_session.msi probe_session.wxs) ||
    { echo "run-probes: wixl could not author probe_session.msi" >&2; exit 1; }
# probe_query opens it too, with the shared tests' table and custom actions that need no code
# added (those of the shared tests, and a rollback, a commit and an immediate one).
cp "$run/probe_session.msi" "$run/probe_query.msi"
while IFS= read -r query; do
    msibuild "$run/probe_query.msi" -q "$query" || { echo "run-probes: msibuild refused: $query" >&2; exit 1; }
done < <(cat "$root/tests/backend/windows/QelTest.sql" - <<'QUERIES'
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('RollbackProbe', 1281, 'NoSuchBinary', 'entry')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('CommitProbe', 1537, 'NoSuchBinary', 'entry')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('BrokenDll', 1, 'NoSuchBinary', 'entry')
QUERIES
)
# probe_deferred.dll's actions run in installations of a package of their own.
cp "$probes/probe_deferred.dll" "$root/platform/probes/probe_deferred.wxs" "$run/"
(cd "$run" && wixl -o probe_deferred.msi probe_deferred.wxs) ||
    { echo "run-probes: wixl could not author probe_deferred.msi" >&2; exit 1; }
# probe_volume wants D: as a CD-ROM drive holding a folder and a file.
mkdir -p "$run/cdrom/Setup/Disk1"
: >"$run/cdrom/Setup/setup.msi"
qw_drive d cdrom "$run/cdrom"

cd "$run"
for probe in probe_records probe_kernel probe_volume; do
    echo "== $probe"
    wine "$probes/$probe.exe" | tr -d '\r'
    [[ "$probe" != probe_volume ]] || continue
    echo "== $probe under code page 932"
    LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 wine "$probes/$probe.exe" | tr -d '\r' | grep -E 'ACP|^==' || true
done
echo "== probe_session (no user interface)"
wine "$probes/probe_session.exe" probe_session.msi | tr -d '\r'
echo "== probe_query (no user interface; it ends with a query Wine crashes on)"
wine "$probes/probe_query.exe" probe_query.msi 2>/dev/null | tr -d '\r' | sed '/^Unhandled exception/q' || true
# An installation answers in the exit status's low byte under Wine (1603 is 67).
for plan in "ok:" "deferred-fails:PROBE_FAIL=1" "immediate-fails:PROBE_FAIL=2"; do
    name="${plan%%:*}"
    status=0
    # shellcheck disable=SC2086 # the property, when there is one, is one word
    wine msiexec /i probe_deferred.msi /qn /l*v "deferred-$name.log" ${plan#*:} || status=$?
    echo "== probe_deferred, installation $name ${plan#*:}: exit status $status"
    tr -d '\r' <"deferred-$name.log" | grep -a -E '^probe:|Action ended .*: Probe' || true
    if [[ "$name" == ok ]]; then
        wine msiexec /x probe_deferred.msi /qn || echo "run-probes: the uninstallation failed" >&2
    fi
done
