#!/usr/bin/env bash
# Installs, on Debian 12 as root, everything the builds, tests and the Wine runs need.
# Packages already present are skipped, so running it again costs a second. Another process may
# hold the package manager's lock (a fresh machine's first minutes often see one): each step that
# needs it waits, up to QEL_APT_WAIT seconds (600), and says so.
set -euo pipefail

lock_wait="${QEL_APT_WAIT:-600}"
[[ "$lock_wait" =~ ^[0-9]+$ ]] || { echo "setup: QEL_APT_WAIT must be a number of seconds" >&2; exit 2; }
lock_pause="${QEL_APT_PAUSE:-5}"
[[ "$lock_pause" =~ ^[0-9]+$ ]] || { echo "setup: QEL_APT_PAUSE must be a number of seconds" >&2; exit 2; }

# with_lock COMMAND...: runs it, and again while it fails because another process holds the
# package manager's lock, until QEL_APT_WAIT has passed. Its output shows only when it fails.
with_lock() {
    local deadline=$((SECONDS + lock_wait)) output status told=
    while :; do
        status=0
        output="$("$@" 2>&1)" || status=$?
        ((status != 0)) || return 0
        if ((SECONDS >= deadline)) || ! grep -qiE 'could not get lock|unable to acquire the dpkg|dpkg (frontend )?lock|database is locked' <<<"$output"; then
            printf '%s\n' "$output" >&2
            return "$status"
        fi
        if [[ -z "$told" ]]; then
            echo "setup: another process holds the package manager's lock; waiting up to ${lock_wait}s"
            told=1
        fi
        sleep "$lock_pause"
    done
}

packages=(
    cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev clang-format valgrind
    clang-14 libclang-rt-14-dev llvm-14
    g++-mingw-w64-i686 g++-mingw-w64-i686-posix binutils-mingw-w64-i686 googletest
    g++-mingw-w64-x86-64-win32 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    wine wine32:i386 wine64 wixl msitools osslsigncode openssl locales
    libmsi-dev libglib2.0-dev pkg-config
)

# wine32 is an i386 package: the architecture must be known before the package lists are read.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    with_lock dpkg --add-architecture i386
fi

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done

if ((${#missing[@]})); then
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    with_lock apt-get -o DPkg::Lock::Timeout="$lock_wait" update -qq
    with_lock apt-get -o DPkg::Lock::Timeout="$lock_wait" install -y -qq --no-install-recommends "${missing[@]}"
fi

# The locales the tests start Wine in besides C.UTF-8: Western, Russian and Japanese (ANSI code
# pages 1252, 1251 and 932). en_US.UTF-8 also keeps the runner's Wine messages in English.
for locale in en_US ru_RU ja_JP; do
    if [[ "$(LC_ALL="$locale.UTF-8" locale charmap 2>/dev/null)" != UTF-8 ]]; then
        echo "setup: making the locale $locale.UTF-8"
        localedef -i "$locale" -f UTF-8 "$locale.UTF-8"
    fi
done
