#!/usr/bin/env bash
# Authors the test package: wixl builds it from the .wxs, then it gets the Error-table row 26002.
#
#   make-package.sh WXS OUTPUT
#
# OUTPUT appears only when every step succeeded; a failed step names itself and exits non-zero.
set -euo pipefail
# shellcheck source=wine/qel-wine.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../../wine/qel-wine.sh"
QW_NAME=make-package

(($# == 2)) || { echo "usage: make-package.sh WXS OUTPUT" >&2; exit 2; }
wxs="$1"
out="$2"
[[ -f "$wxs" ]] || { echo "make-package: $wxs not found" >&2; exit 2; }
qw_need make-package wixl msibuild msiinfo

partial="$out.partial"
rm -f "$out" "$partial"
trap 'rm -f "$partial"' EXIT

wixl -o "$partial" "$wxs" || { echo "make-package: wixl could not author $wxs" >&2; exit 1; }
qw_error_row "$partial" 26002 "Please insert the original installation disk."
mv "$partial" "$out"
