#!/usr/bin/env bash
# Signs a DLL with an Authenticode signature (SHA-256), in place: it is signed into a copy that
# replaces it only when signing succeeded.
#
# Usage:
#   sign.sh DLL CERT KEY
#
#   CERT  the signing certificate, PEM or DER, optionally followed by its chain (PEM)
#   KEY   its private key, PEM or DER, without a pass phrase
set -euo pipefail

me=sign
fail() { echo "$me: $*" >&2; exit 1; }
# The header's block after "# Usage:", up to the first line that is not a comment.
usage() { awk '/^# Usage:/ { on = 1; next } on && !/^#/ { exit } on { sub(/^# ?/, ""); print }' "$0" >&2; exit 2; }
(($# == 3)) || usage
dll="$1" cert="$2" key="$3"

for tool in osslsigncode openssl; do
    command -v "$tool" >/dev/null || fail "$tool is missing; install osslsigncode and openssl"
done
for file in "$dll" "$cert" "$key"; do
    [[ -f "$file" && -r "$file" ]] || fail "cannot read $file"
done
[[ "$(head -c 2 "$dll")" == MZ ]] || fail "$dll is not a Windows DLL"

# Both formats are tried for the certificate and the key; the key must belong to the certificate.
read_cert() { openssl x509 -in "$cert" -noout "$@" 2>/dev/null || openssl x509 -in "$cert" -inform DER -noout "$@" 2>/dev/null; }
read_key() { openssl pkey -in "$key" -passin pass: "$@" 2>/dev/null || openssl pkey -in "$key" -inform DER -passin pass: "$@" 2>/dev/null; }
cert_public="$(read_cert -pubkey)" || fail "$cert is not a certificate"
key_public="$(read_key -pubout)" || fail "$key is not a private key without a pass phrase"
[[ "$cert_public" == "$key_public" ]] || fail "$key is not the key of $cert"

tmp="$(mktemp -d "$(cd "$(dirname "$dll")" && pwd)/.$me.XXXXXX" 2>/dev/null)" || fail "cannot write beside $dll"
trap 'rm -rf "$tmp"' EXIT
# osslsigncode takes the certificate in PEM or DER, but the key as PEM only.
openssl pkey -in "$key" -out "$tmp/key.pem" 2>/dev/null || openssl pkey -in "$key" -inform DER -out "$tmp/key.pem" 2>/dev/null ||
    fail "cannot read the key $key"
osslsigncode sign -certs "$cert" -key "$tmp/key.pem" -h sha256 -n QelCustInst -in "$dll" -out "$tmp/signed.dll" \
    >"$tmp/log" 2>&1 || { cat "$tmp/log" >&2; fail "osslsigncode could not sign $dll"; }
chmod --reference="$dll" "$tmp/signed.dll"
mv -f "$tmp/signed.dll" "$dll"
echo "$me: signed $dll with $(read_cert -subject)"
