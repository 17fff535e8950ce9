#!/usr/bin/env bash
# Signs a copy of QelCustInst.dll with scripts/sign.sh and a throw-away self-signed certificate,
# checks the signature with `osslsigncode verify` (trusting that certificate, so that the chain
# verifies too), and checks refusals, signals and full disks and, run as root, another user
# (nobody) renaming and replacing what sign.sh makes at each step (stand-ins for openssl and
# osslsigncode on PATH act for them before the real tool runs), and the README's words on the check.
# Works in WORKDIR/sign-checks (made anew); leaves the signed copy in WORKDIR/QelCustInst.dll for
# the run under Wine.
#
#   check-sign.sh DLL WORKDIR
set -euo pipefail

(($# == 2)) || { echo "usage: check-sign.sh DLL WORKDIR" >&2; exit 2; }
dll="$(realpath -m "$1")"
out="$(realpath -m "$2")"
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
sign="$repo/scripts/sign.sh"
# 77: skipped, for ctest; the test command always builds the DLL first.
[[ -f "$dll" ]] || { echo "check-sign: $dll not found; build it with: cmake --preset windows && cmake --build --preset windows" >&2; exit 77; }
for tool in openssl osslsigncode; do
    command -v "$tool" >/dev/null || { echo "check-sign: $tool is missing; run scripts/setup.sh" >&2; exit 1; }
done
# Only a folder this check made is removed.
work="$out/sign-checks"
if [[ -e "$work" ]]; then
    [[ -f "$work/.made-by-check-sign" ]] || { echo "check-sign: $work is not a folder of this check; move it away" >&2; exit 1; }
    rm -rf "$work"
fi
mkdir -p "$work"
: >"$work/.made-by-check-sign"
signer() { # signer NAME: a self-signed code-signing certificate NAME.pem and its key NAME.key (and NAME.der)
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=QelCustInst test $1" \
        -addext extendedKeyUsage=codeSigning -keyout "$work/$1.key" -out "$work/$1.pem" 2>/dev/null
    openssl pkey -in "$work/$1.key" -outform DER -out "$work/$1.der"
}
signer signer
signer stranger

failures=0
check() { if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi; }
verifies() { # verifies DLL: the signature checks out and the signed digest is the file's
    local verify current calculated
    verify="$(osslsigncode verify -in "$1" -CAfile "$work/signer.pem" 2>&1)" || true
    current="$(sed -n 's/^Current message digest *: *//p' <<<"$verify")"
    calculated="$(sed -n 's/^Calculated message digest *: *//p' <<<"$verify")"
    grep -qx 'Signature verification: ok' <<<"$verify" && [[ -n "$current" && "$current" == "$calculated" ]]
}

# The stand-ins for openssl and osslsigncode run ATTACK (bash, with the tool's arguments, TOOL, its
# name, and SIGNER, the process that called it) and then the real tool.
bin="$work/bin"
mkdir -p "$bin"
for tool in openssl osslsigncode; do
    # shellcheck disable=SC2016 # the stand-in's own text
    printf '#!/usr/bin/env bash\nSIGNER=$PPID TOOL=${0##*/} bash -c "${ATTACK:-}" attack "$@" || true\nexec %q "$@"\n' "$(command -v "$tool")" >"$bin/$tool"
    chmod 755 "$bin/$tool"
done
disk="$work/disk"
trap 'if mountpoint -q "$disk" 2>/dev/null; then umount "$disk"; fi' EXIT

# --- One signing each: refusals of a wrong key or certificate, PEM and DER keys, a relative
# TMPDIR, signals to sign.sh alone (SIGINT as a terminal's Ctrl-C would, not ignored), full disks
# (a small tmpfs), and, as root, another user where root signs. Each must leave the DLL as it was,
# or signed, verified and root's when the run says so; nothing beside it or (unless the other user
# put it there) in TMPDIR; root's file `victim` as it was; no copy of the key the other user can
# read, and none beside the DLL. ---
# The other user, at every step: each folder of root's in FOLDERS is renamed and replaced by one
# of theirs holding links, under the names sign.sh used, to root's file `victim`; whatever they
# can read there is copied to their loot.
# shellcheck disable=SC2016 # expanded by the stand-in's bash
hijack='for folder in $FOLDERS; do
    for mine in $(find "$folder" -mindepth 1 -maxdepth 1 -type d -user root); do
        runuser -u nobody -- bash -c "mv \"$mine\" \"$mine.moved\" && mkdir -m 777 \"$mine\" &&
            for name in key.pem signed.dll log; do ln -s \"$VICTIM\" \"$mine/\$name\"; done;
            cp -r \"$mine.moved\" \"$LOOT/\" 2>/dev/null" || true
    done
done'
# shellcheck disable=SC2016 # expanded by the stand-in's bash
declare -A attack_of=([hijack]="$hijack" [kill]='[[ $TOOL != osslsigncode ]] || kill -9 $SIGNER'
    [int]='[[ $TOOL != osslsigncode ]] || kill -INT $SIGNER' [term]='[[ $TOOL != osslsigncode ]] || kill -TERM $SIGNER')
# name | certificate | key | the DLL's folder | TMPDIR | what the stand-ins do first | exit | message. Folders:
# "own" is root's own, "open" writable by everyone without the sticky bit, "theirs" nobody's; SIZE
# a tmpfs of that size; TMPDIR "relative" is tmp, relative to the current folder.
stops=(
    "refuses a key of another certificate|signer.pem|stranger.key|own|own||1|stranger.key is not the key of $work/signer.pem"
    "refuses a key given as certificate|signer.key|signer.key|own|own||1|signer.key is not a certificate"
    "refuses a certificate given as key|signer.pem|signer.pem|own|own||1|signer.pem is not a private key without a pass phrase"
    "refuses a missing certificate|none.pem|signer.key|own|own||1|cannot read $work/none.pem"
    "a PEM key and a relative TMPDIR|signer.pem|signer.key|own|relative||0|signed "
    "a DER key|signer.pem|signer.der|own|own||0|signed "
    "SIGINT while osslsigncode signs|signer.pem|signer.key|own|own|int|130|stopped by SIGINT: "
    "SIGTERM while osslsigncode signs|signer.pem|signer.key|own|own|term|143|stopped by SIGTERM: "
    "no room in TMPDIR|signer.pem|signer.key|own|96k||1|no space left in $disk for the signing"
    "no room beside the DLL|signer.pem|signer.key|400k|own||1|no space left in $disk for the signed copy"
    "another user: a PEM key, the DLL in a folder others can write|signer.pem|signer.key|open|own|hijack|0|signed "
    "another user: a DER key, the DLL in a folder others can write|signer.pem|signer.der|open|own|hijack|0|signed "
    "another user: a DER key, the DLL in another user's folder|signer.pem|signer.der|theirs|own|hijack|0|signed "
    "another user: a DER key, a TMPDIR others can write|signer.pem|signer.der|own|open|hijack|0|signed "
    "another user: a DER key, sign.sh killed while signing|signer.pem|signer.der|open|own|kill|137|"
)
line="$(sed -n 5p "$work/signer.key")" # a line of the key's base64
n=0
for entry in "${stops[@]}"; do
    IFS='|' read -r name cert key place temporary attack want message <<<"$entry"
    if ((EUID != 0)) && [[ "$place$temporary" =~ [0-9]|open|theirs ]]; then echo "skip signing: $name (needs root)"; continue; fi
    n=$((n + 1))
    case="$work/case$n"
    mkdir -m 755 "$case" "$case/own" "$case/tmp"
    mkdir -m 777 "$case/open" "$case/tmp-open"
    if ((EUID == 0)); then install -d -o nobody -m 755 "$case/theirs" && install -d -o nobody -m 1777 "$case/loot"; fi
    echo "root's own" >"$case/victim" && chmod 600 "$case/victim"
    room="" folder="$case/$place"
    [[ "$place" != *[0-9]* ]] || room="$place" folder="$disk"
    case "$temporary" in own) temporary="$case/tmp" ;; open) temporary="$case/tmp-open" ;; relative) temporary=tmp ;; *) room="$temporary" temporary="$disk" ;; esac
    if [[ -n "$room" ]]; then mkdir -p "$disk" && mount -t tmpfs -o "size=$room" tmpfs "$disk"; fi
    cp "$dll" "$folder/QelCustInst.dll"
    [[ "$place" != theirs ]] || chown nobody "$folder/QelCustInst.dll"
    rc=0
    output="$(cd "$case" && ATTACK="${attack:+${attack_of[$attack]}}" FOLDERS="$folder $temporary" VICTIM="$case/victim" LOOT="$case/loot" \
        TMPDIR="$temporary" PATH="$bin:$PATH" env --default-signal=INT "$sign" "$folder/QelCustInst.dll" "$work/$cert" "$work/$key" 2>&1)" ||
        rc=$?
    problems=()
    ((rc == want)) || problems+=("exit $rc")
    [[ "$output" == *"$message"* ]] || problems+=("no '$message'")
    [[ "$output" != *"cp: "* && "$output" != *"error:"* && "$output" != *": line "* ]] || problems+=("tool or shell error output")
    if ((want == 0)); then
        verifies "$folder/QelCustInst.dll" || problems+=("the DLL does not verify")
        [[ -f "$folder/QelCustInst.dll" && ! -L "$folder/QelCustInst.dll" && -O "$folder/QelCustInst.dll" ]] ||
            problems+=("the signed DLL is not a file of root's")
        signed="$folder/QelCustInst.dll"
    else
        cmp -s "$folder/QelCustInst.dll" "$dll" || problems+=("the DLL changed")
    fi
    [[ -z "$(find "$folder" -mindepth 1 ! -name QelCustInst.dll)" ]] || problems+=("left beside the DLL: $(ls -A "$folder")")
    if [[ "$attack" == kill ]]; then
        # A killed run leaves its private folder, root's and closed to others, in TMPDIR only.
        left=("$temporary"/sign.*)
        [[ -d "${left[0]}" && "$(stat -c %u:%a "${left[0]}")" == 0:700 ]] || problems+=("no private folder left in TMPDIR: ${left[*]}")
        rm -rf "${left[@]}"
    elif [[ "$attack" != hijack ]]; then
        (cd "$case" && [[ -z "$(ls -A "$temporary")" ]]) || problems+=("left in TMPDIR: $(cd "$case" && ls -A "$temporary")")
    fi
    [[ "$(cat "$case/victim")" == "root's own" && "$(stat -c %u:%a "$case/victim")" == 0:600 ]] || problems+=("root's file changed")
    if ((EUID == 0)); then
        leaks="$(runuser -u nobody -- grep -rlF -- "$line" "$case" 2>/dev/null || true)"
        [[ -z "$leaks" ]] || problems+=("the key is readable by another user in: $leaks")
    fi
    ! grep -rqF -- "$line" "$folder" "$case/loot" 2>/dev/null || problems+=("a copy of the key lies beside the DLL")
    check "signing: $name${problems[*]:+: ${problems[*]}; $output}" test ${#problems[@]} = 0
    if mountpoint -q "$disk"; then umount "$disk"; fi
done

last="$(osslsigncode verify -in "$signed" -CAfile "$work/signer.pem" 2>&1 | tail -n 1)" || true
check "README: osslsigncode verify ends with \`$last\`" grep -qF "ends with \`$last\`" "$repo/README.md"
((failures == 0)) || exit 1
cp "$signed" "$out/.QelCustInst.dll.new"
mv -f "$out/.QelCustInst.dll.new" "$out/QelCustInst.dll"
echo "signed copy: $out/QelCustInst.dll ($(wc -c <"$out/QelCustInst.dll") bytes)"
