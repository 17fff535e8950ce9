#!/usr/bin/env bash
# Authors the test package: wixl builds it from the .wxs, msibuild adds the Error-table row.
#
#   make-package.sh WXS OUTPUT
#
# OUTPUT appears only when every step succeeded; a failed step names itself and exits non-zero.
set -euo pipefail

(($# == 2)) || { echo "usage: make-package.sh WXS OUTPUT" >&2; exit 2; }
wxs="$1"
out="$2"
[[ -f "$wxs" ]] || { echo "make-package: $wxs not found" >&2; exit 2; }
for tool in wixl msibuild msiinfo; do
    command -v "$tool" >/dev/null || { echo "make-package: $tool is missing; run scripts/setup.sh" >&2; exit 1; }
done

prompt="Please insert the original installation disk."
partial="$out.partial"
rm -f "$out" "$partial"
trap 'rm -f "$partial"' EXIT

wixl -o "$partial" "$wxs" || { echo "make-package: wixl could not author $wxs" >&2; exit 1; }
# grep -c, not -q, at the end of a pipe: under pipefail the early exit of -q can fail the writer.
if ! msiinfo tables "$partial" | grep -cx Error >/dev/null; then
    # shellcheck disable=SC2016 # backquotes are SQL quoting here
    msibuild "$partial" -q 'CREATE TABLE `Error` (`Error` SHORT NOT NULL, `Message` LONGCHAR LOCALIZABLE PRIMARY KEY `Error`)' ||
        { echo "make-package: msibuild could not create the Error table" >&2; exit 1; }
fi
msibuild "$partial" -q "INSERT INTO \`Error\` (\`Error\`, \`Message\`) VALUES (26002, '$prompt')" ||
    { echo "make-package: msibuild could not add Error row 26002" >&2; exit 1; }
msiinfo export "$partial" Error | tr -d '\r' | grep -c "^26002	$prompt\$" >/dev/null ||
    { echo "make-package: Error row 26002 missing from the package" >&2; exit 1; }
mv "$partial" "$out"
