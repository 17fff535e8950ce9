#!/usr/bin/env bash
# Builds the example's package, WriteSettings.msi, from this folder and the DLL.
#
#   make-package.sh WriteSettings.dll OUTPUT-FOLDER [x86|x64]
#
# x86 (the default) makes a package for 32-bit Windows (template "Intel"), to carry the DLL of the
# i686 kit's build; x64 one for 64-bit Windows (template "x64", the 64-bit Program Files folder and
# registry view), to carry that of the x64 kit's build.
#
# wixl authors what it can (WriteSettings.wxs); msibuild adds the rest: the table QelSetting with its
# rows and the rollback type of qelRollbackSettings.
set -euo pipefail

usage() { echo "usage: make-package.sh WriteSettings.dll OUTPUT-FOLDER [x86|x64]" >&2; exit 2; }
(($# == 2 || $# == 3)) || usage
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
dll="$(realpath "$1")"
out="$2"
case "${3:-x86}" in
    x86) wixl_args=() ;;
    x64) wixl_args=(-a x64 -D Platform=x64) ;;
    *) usage ;;
esac
[[ -f "$dll" ]] || { echo "make-package.sh: no DLL $dll" >&2; exit 2; }
for tool in wixl msibuild; do
    command -v "$tool" >/dev/null || { echo "make-package.sh: $tool is not installed (msitools, wixl)" >&2; exit 1; }
done

mkdir -p "$out"
cp "$here/WriteSettings.wxs" "$here/readme.txt" "$out/"
cp "$dll" "$out/WriteSettings.dll"
msi="$out/WriteSettings.msi"
rm -f "$msi"
(cd "$out" && wixl "${wixl_args[@]}" -o WriteSettings.msi WriteSettings.wxs)

msibuild "$msi" -i "$here/QelSetting.idt"
# Custom-action type 1 (a DLL of the Binary table) + 1280 (rollback) + 2048 (no impersonation).
msibuild "$msi" -q "UPDATE \`CustomAction\` SET \`Type\` = 3329 WHERE \`Action\` = 'qelRollbackSettings'"
echo "$msi"
