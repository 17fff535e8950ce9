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
for probe in probe_kernel probe_records probe_session probe_volume; do
    [[ -f "$probes/$probe.exe" ]] || { echo "run-probes: $probes/$probe.exe not found" >&2; exit 1; }
done
qw_enter run-probes "${2:-$root/build/wine-probes}" wixl
qw_prefix
run="$(qw_run_folder)"

# The session probe opens a small package of its own, authored here.
echo probe >"$run/probe.txt"
cp "$root/platform/probes/probe_session.wxs" "$run/"
(cd "$run" && wixl -o probe_session.msi probe_session.wxs) ||
    { echo "run-probes: wixl could not author probe_session.msi" >&2; exit 1; }
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
