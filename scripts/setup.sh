#!/usr/bin/env bash
# Installs, on Debian 12 as root, everything the builds, tests and the Wine runs need.
# Packages already present are skipped, so running it again costs a few seconds.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    stale_lists=1
fi

for pkg in cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev clang-format \
           g++-mingw-w64-i686 binutils-mingw-w64-i686 \
           wine wine32:i386 wine64 wixl msitools; do
    have "$pkg" || need+=("$pkg")
done

if ((${#need[@]})); then
    echo "setup: installing ${need[*]}"
    export DEBIAN_FRONTEND=noninteractive
    if [[ -n "${stale_lists:-}" || ! -d /var/lib/apt/lists/partial ]] || \
       [[ -z "$(find /var/lib/apt/lists -name '*Packages*' -mmin -1440 2>/dev/null | head -n1)" ]] || \
       [[ -n "${stale_lists:-}" ]]; then
        apt-get update -qq
    fi
    if ! apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null; then
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
    fi
fi
