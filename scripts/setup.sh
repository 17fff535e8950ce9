#!/usr/bin/env bash
# Installs, on Debian 12 as root, everything the builds, tests and the Wine runs need.
# Packages already present are skipped, so running it again costs a second.
set -euo pipefail

packages=(
    cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev clang-format valgrind
    clang-14 libclang-rt-14-dev llvm-14
    g++-mingw-w64-i686 g++-mingw-w64-i686-posix binutils-mingw-w64-i686 googletest
    g++-mingw-w64-x86-64-win32 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    wine wine32:i386 wine64 wixl msitools osslsigncode openssl locales
)

# wine32 is an i386 package: the architecture must be known before the package lists are read.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done

if ((${#missing[@]})); then
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The locales the tests start Wine in besides C.UTF-8: Western, Russian and Japanese (ANSI code
# pages 1252, 1251 and 932). en_US.UTF-8 also keeps the runner's Wine messages in English.
for locale in en_US ru_RU ja_JP; do
    if [[ "$(LC_ALL="$locale.UTF-8" locale charmap 2>/dev/null)" != UTF-8 ]]; then
        echo "setup: making the locale $locale.UTF-8"
        localedef -i "$locale" -f UTF-8 "$locale.UTF-8"
    fi
done
