#!/usr/bin/env bash
# Signs a copy of QelCustInst.dll with scripts/sign.sh and a throw-away self-signed certificate,
# checks the signature with `osslsigncode verify` (trusting that certificate, so that the chain
# verifies too), and checks that sign.sh refuses a wrong key or certificate with the DLL untouched.
# Leaves the signed copy in WORKDIR/QelCustInst.dll for the run under Wine.
#
#   check-sign.sh DLL WORKDIR
set -euo pipefail

(($# == 2)) || { echo "usage: check-sign.sh DLL WORKDIR" >&2; exit 2; }
dll="$1" work="$2"
sign="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/sign.sh"
# 77: skipped, for ctest; the test command always builds the DLL first.
[[ -f "$dll" ]] || { echo "check-sign: $dll not found; build it with: cmake --preset windows && cmake --build --preset windows" >&2; exit 77; }
for tool in openssl osslsigncode; do
    command -v "$tool" >/dev/null || { echo "check-sign: $tool is missing; run scripts/setup.sh" >&2; exit 1; }
done
rm -rf "$work"
mkdir -p "$work"
signer() { # signer NAME: a self-signed code-signing certificate NAME.pem and its key NAME.key
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=QelCustInst test $1" \
        -addext extendedKeyUsage=codeSigning -keyout "$work/$1.key" -out "$work/$1.pem" 2>/dev/null
}
signer signer
signer stranger

failures=0
check() { if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi; }

# Refusals: the DLL must stay as it was.
cp "$dll" "$work/refused.dll"
for entry in "a key of another certificate|signer.pem|stranger.key" "a key given as certificate|signer.key|signer.key" \
    "a certificate given as key|signer.pem|signer.pem" "a missing certificate|none.pem|signer.key"; do
    IFS='|' read -r name cert key <<<"$entry"
    rc=0
    out="$("$sign" "$work/refused.dll" "$work/$cert" "$work/$key" 2>&1)" || rc=$?
    check "refuses $name ($out)" test "$rc" != 0
done
check "a refused DLL is untouched" cmp -s "$work/refused.dll" "$dll"

cp "$dll" "$work/QelCustInst.dll"
"$sign" "$work/QelCustInst.dll" "$work/signer.pem" "$work/signer.key"
verify="$(osslsigncode verify -in "$work/QelCustInst.dll" -CAfile "$work/signer.pem" 2>&1)" || true
current="$(sed -n 's/^Current message digest *: *//p' <<<"$verify")"
calculated="$(sed -n 's/^Calculated message digest *: *//p' <<<"$verify")"
check "the signature verifies" grep -qx 'Signature verification: ok' <<<"$verify"
check "the signed digest is the file's (${current:-none})" test -n "$current" -a "$current" = "$calculated"
((failures == 0)) || { echo "$verify"; exit 1; }
echo "signed copy: $work/QelCustInst.dll ($(wc -c <"$work/QelCustInst.dll") bytes)"
