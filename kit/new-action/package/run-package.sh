#!/usr/bin/env bash
# Installs the package a Windows build made (BUILD/package/QEL_NAME.msi) under Wine with the kit's
# Wine runner, prints what the installer answered, SETUP_INI_FOUND and the action's lines, and
# removes the product again:
#
#   package/run-package.sh BUILD [RUNNER-OPTION]... [-- NAME=VALUE...]
#
# BUILD is build/windows or build/windows-x64. The options go to the runner (run-package.sh --help
# of the kit's share/QelCustInst/wine/): --drive (default fixed), --work DIR to keep its Wine
# prefix between runs, --log FILE, --locale LOCALE, ...; the properties after -- to the package.
set -euo pipefail

(($# >= 1)) || { sed -n 's/^#   //p' "$0" >&2; exit 2; }
build="$1"
shift
package="$build/package/QEL_NAME.msi"
[[ -f "$package" && -f "$build/qel-runner" ]] ||
    { echo "run-package: no $package; build it first (cmake --build --preset windows)" >&2; exit 2; }
IFS= read -r runner <"$build/qel-runner"

options=() properties=() drive=(--drive fixed)
while (($#)); do
    case "$1" in
        --) shift; properties=("$@"); break ;;
        --drive) drive=(); options+=("$1") ;;
        *) options+=("$1") ;;
    esac
    shift
done
exec bash "$runner" "${drive[@]}" --property SETUP_INI_FOUND --uninstall "${options[@]}" "$package" "${properties[@]}"
