#!/usr/bin/env bash
# Signs a DLL with an Authenticode signature (SHA-256), in place: it is signed into a copy that
# replaces it only when signing succeeded.
#
# Usage:
#   sign.sh DLL CERT KEY
#
#   CERT  the signing certificate, PEM or DER, optionally followed by its chain (PEM)
#   KEY   its private key, PEM or DER, without a pass phrase
#
# The signing happens in a private folder (0700) in your temporary folder (TMPDIR, default /tmp),
# never beside the DLL: a PEM key is read where it is, a DER key is converted to PEM there, and
# that folder is removed at the end (a run killed by SIGKILL leaves it, with that copy, for you to
# remove). The signed DLL then replaces the DLL as a fresh file of your own. A signal (SIGINT,
# SIGTERM, SIGHUP) stops the signing at the next step and leaves the DLL as it was; once the signed
# copy is being put in its place, the signing completes instead.
set -euo pipefail

me=sign
fail() { echo "$me: $*" >&2; exit 1; }
dll="" replacing=0
on_signal() { # on_signal NAME NUMBER
    # A handler's bare return would answer the status of the command it interrupted.
    ((!replacing)) || return 0
    echo "$me: stopped by SIG$1${dll:+: $dll is left as it was}" >&2
    exit $((128 + $2))
}
trap 'on_signal HUP 1' HUP
trap 'on_signal INT 2' INT
trap 'on_signal TERM 15' TERM
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

# The folders named on the command line, before this script moves into its private folder.
for name in dll cert key; do
    [[ "${!name}" == /* ]] || printf -v "$name" '%s/%s' "$PWD" "${!name}"
done
dir="${dll%/*}"
dir="${dir:-/}"

# The private folder: made by mktemp, entered, and checked from inside, so that whatever someone
# who can write the temporary folder renames or puts in its place, the files below are written
# in the folder this script made and only it can enter.
temporary="${TMPDIR:-/tmp}"
# The signed copy and a converted key, with room to spare.
need=$(($(stat -c %s -- "$dll") + 65536))
no_space() { # no_space FOLDER WHAT
    local free
    free="$({ df -B1 --output=avail -- "$1" 2>/dev/null || :; } | tail -n 1 | tr -d ' ')"
    [[ "$free" =~ ^[0-9]+$ ]] && ((free < need)) || return 1
    fail "no space left in $1 for $2 (needs $need bytes, $free free): $dll is left as it was"
}
no_space "$temporary" "the signing" || true
private="$(mktemp -d "$temporary/$me.XXXXXX")" || fail "cannot make a folder in $temporary"
[[ "$private" == /* ]] || private="$PWD/$private"
cd -- "$private" || fail "cannot enter $private"
[[ "$(stat -c '%u %a' .)" == "$EUID 700" && -z "$(ls -A)" ]] || fail "$private was replaced: use a TMPDIR of your own"
inode="$(stat -c '%d:%i' .)"
fresh=""
leave() {
    trap '' HUP INT TERM
    rm -f -- key.pem signed.dll log
    if [[ "$(stat -c '%d:%i' -- "$private" 2>/dev/null)" == "$inode" ]]; then rmdir -- "$private"; fi
    # A copy beside the DLL that never took its place.
    [[ -z "$fresh" ]] || rm -f -- "$fresh"
}
trap leave EXIT

# osslsigncode takes the certificate in PEM or DER, but the key as PEM only: a DER key is converted.
signing_key="$key"
if ! grep -qE '^-----BEGIN ([A-Z]+ )?PRIVATE KEY-----' -- "$key"; then
    (umask 077 && openssl pkey -in "$key" -inform DER -out key.pem 2>/dev/null) || fail "cannot read the key $key"
    signing_key=key.pem # by its name here: $PWD names the path, which may lead elsewhere by now
fi
if ! osslsigncode sign -certs "$cert" -key "$signing_key" -h sha256 -n QelCustInst -in "$dll" -out signed.dll >log 2>&1; then
    # On a full disk it blames the key: its words only when there was room.
    no_space "$temporary" "the signed copy" || true
    cat log >&2
    fail "osslsigncode could not sign $dll"
fi
chmod --reference="$dll" signed.dll 2>/dev/null || fail "cannot read the mode of $dll"

# Beside the DLL, a name no one knows until cp creates it (exclusively), then renamed over the DLL:
# nothing there is written through a link.
replacing=1
fresh="$(mktemp -u "$dir/.$me.XXXXXX")"
if ! cp --preserve=mode -- signed.dll "$fresh" 2>log; then
    no_space "$dir" "the signed copy" || true
    fail "cannot write beside $dll: $(sed -n 's/^cp: //p' log | head -n 1)"
fi
mv -fT -- "$fresh" "$dll" 2>/dev/null || fail "cannot replace $dll"
fresh=""
echo "$me: signed $dll with $(read_cert -subject)"
