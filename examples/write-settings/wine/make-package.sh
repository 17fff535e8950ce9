#!/usr/bin/env bash
# Builds the example's package, WriteSettings.msi, from this folder and the DLL.
#
#   make-package.sh WriteSettings.dll OUTPUT-FOLDER
#
# wixl authors what it can (WriteSettings.wxs); msibuild adds the rest: the table QelSetting with its
# rows and the rollback type of qelRollbackSettings.
set -euo pipefail

(($# == 2)) || { echo "usage: make-package.sh WriteSettings.dll OUTPUT-FOLDER" >&2; exit 2; }
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
dll="$(realpath "$1")"
out="$2"
[[ -f "$dll" ]] || { echo "make-package.sh: no DLL $dll" >&2; exit 2; }
for tool in wixl msibuild; do
    command -v "$tool" >/dev/null || { echo "make-package.sh: $tool is not installed (msitools, wixl)" >&2; exit 1; }
done

mkdir -p "$out"
cp "$here/WriteSettings.wxs" "$here/readme.txt" "$out/"
cp "$dll" "$out/WriteSettings.dll"
msi="$out/WriteSettings.msi"
rm -f "$msi"
(cd "$out" && wixl -o WriteSettings.msi WriteSettings.wxs)

msibuild "$msi" -i "$here/QelSetting.idt"
# Custom-action type 1 (a DLL of the Binary table) + 1280 (rollback) + 2048 (no impersonation).
msibuild "$msi" -q "UPDATE \`CustomAction\` SET \`Type\` = 3329 WHERE \`Action\` = 'qelRollbackSettings'"
echo "$msi"
