#!/usr/bin/env bash
# Authors a test package: wixl builds it from the .wxs (with the variables given), msibuild runs
# the queries of the SQL file on it, one a line, and it gets the Error-table row 26002.
#
#   make-package.sh WXS OUTPUT [SQL [NAME=VALUE...]]
#
# wixl takes the files a package carries by names relative to the .wxs: a VALUE that names a file
# is copied, with the .wxs, into a folder of the run's own, and NAME gets the copy's name.
# OUTPUT appears only when every step succeeded; a failed step names itself and exits non-zero.
set -euo pipefail
# shellcheck source=wine/qel-wine.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../../wine/qel-wine.sh"
QW_NAME=make-package

usage() { echo "usage: make-package.sh WXS OUTPUT [SQL [NAME=VALUE...]]" >&2; exit 2; }
(($# >= 2)) || usage
wxs="$1"
out="$2"
sql="${3:-}"
shift $(($# >= 3 ? 3 : 2))
[[ -f "$wxs" ]] || { echo "make-package: $wxs not found" >&2; exit 2; }
[[ -z "$sql" || -f "$sql" ]] || { echo "make-package: $sql not found" >&2; exit 2; }
qw_need make-package wixl msibuild msiinfo

partial="$(realpath -m "$out.partial")"
stage="$(mktemp -d)"
rm -f "$out" "$partial"
trap 'rm -rf "$partial" "$stage"' EXIT
cp "$wxs" "$stage/"
defines=()
for define in "$@"; do
    [[ "$define" == [A-Za-z]*=* ]] || usage
    value="${define#*=}"
    if [[ -f "$value" ]]; then
        cp "$value" "$stage/"
        define="${define%%=*}=$(basename "$value")"
    fi
    defines+=(-D "$define")
done

(cd "$stage" && wixl "${defines[@]}" -o "$partial" "$(basename "$wxs")") ||
    { echo "make-package: wixl could not author $wxs" >&2; exit 1; }
if [[ -n "$sql" ]]; then
    while IFS= read -r query || [[ -n "$query" ]]; do
        [[ -n "$query" ]] || continue
        msibuild "$partial" -q "$query" || { echo "make-package: msibuild refused: $query" >&2; exit 1; }
    done <"$sql"
fi
qw_error_row "$partial" 26002 "Please insert the original installation disk."
mv "$partial" "$out"
