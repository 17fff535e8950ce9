#!/bin/sh
# Cross-compiles the probes and runs them under Wine in a throwaway prefix; prints their answers.
# The host model follows these answers, except where Wine departs from documented Windows
# behaviour (see the comments of platform/host/SimInstaller.cpp and SimSystem.cpp).
set -e
for tool in wine wineserver wixl i686-w64-mingw32-g++-win32 i686-w64-mingw32-windres; do
    command -v "$tool" >/dev/null || {
        echo "run-probes: $tool is missing (scripts/setup.sh installs it)" >&2
        exit 1
    }
done
here=$(cd "$(dirname "$0")" && pwd)
out=$(mktemp -d /tmp/qelprobe.XXXXXX)
trap 'rm -rf "$out"' EXIT
# QEL_PROBE_PREFIX reuses an existing prefix (faster); otherwise a new one is made and removed.
export WINEPREFIX="${QEL_PROBE_PREFIX:-$out/prefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cxx="i686-w64-mingw32-g++-win32 -std=c++20 -O1 -static -static-libgcc -static-libstdc++"

i686-w64-mingw32-windres "$here/probe_kernel.rc" -O coff -o "$out/probe_kernel.res"
$cxx "$here/probe_kernel.cpp" "$out/probe_kernel.res" -o "$out/probe_kernel.exe"
$cxx "$here/probe_records.cpp" -o "$out/probe_records.exe" -lmsi
$cxx "$here/probe_session.cpp" -o "$out/probe_session.exe" -lmsi
# The session probe opens a small package of its own, authored here.
echo probe > "$out/probe.txt"
cp "$here/probe_session.wxs" "$out/"
(cd "$out" && wixl -o probe_session.msi probe_session.wxs) || {
    echo "run-probes: wixl could not author probe_session.msi" >&2
    exit 1
}
$cxx "$here/probe_volume.cpp" -o "$out/probe_volume.exe"

# probe_volume wants D: as a CD-ROM drive holding a folder and a file. A reused prefix gets its
# own D: back afterwards (its link and its drive type), whatever way the script ends.
mkdir -p "$out/cdrom/Setup/Disk1"
: >"$out/cdrom/Setup/setup.msi"
wineboot -i >/dev/null 2>&1
drives='HKLM\Software\Wine\Drives'
old_link=$(readlink "$WINEPREFIX/dosdevices/d:" || true)
old_type=$(wine reg query "$drives" /v d: /reg:64 2>/dev/null | tr -d '\r' |
    sed -n 's/^[[:space:]]*d:[[:space:]]*REG_SZ[[:space:]]*//p')
restore() {
    rm -f "$WINEPREFIX/dosdevices/d:"
    [ -z "$old_link" ] || ln -s "$old_link" "$WINEPREFIX/dosdevices/d:"
    if [ -n "$old_type" ]; then
        wine reg add "$drives" /v d: /t REG_SZ /d "$old_type" /f /reg:64 >/dev/null 2>&1 || true
    else
        wine reg delete "$drives" /v d: /f /reg:64 >/dev/null 2>&1 || true
    fi
    wineserver -w || true
}
[ -z "${QEL_PROBE_PREFIX:-}" ] || trap 'restore; rm -rf "$out"' EXIT
ln -sfn "$out/cdrom" "$WINEPREFIX/dosdevices/d:"
wine reg add "$drives" /v d: /t REG_SZ /d cdrom /f /reg:64 >/dev/null 2>&1
wineserver -w

cd "$out"
for probe in probe_records probe_kernel probe_volume; do
    echo "== $probe"
    wine "$out/$probe.exe" | tr -d '\r'
    [ "$probe" = probe_volume ] && continue
    echo "== $probe under code page 932"
    LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 wine "$out/$probe.exe" | tr -d '\r' | grep -E 'ACP|^==' || true
done
echo "== probe_session (no user interface)"
wine "$out/probe_session.exe" probe_session.msi | tr -d '\r'
wineserver -w
