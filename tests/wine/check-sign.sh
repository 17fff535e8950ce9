#!/usr/bin/env bash
# Signs a copy of QelCustInst.dll with scripts/sign.sh and a throw-away self-signed certificate,
# checks the signature with `osslsigncode verify` (trusting that certificate, so that the chain
# verifies too), and checks that sign.sh refuses a wrong key or certificate with the DLL untouched.
# Run as root, also signs where another user (nobody) can write, with that user renaming and
# replacing what sign.sh makes at each step (a stand-in for openssl and osslsigncode on PATH acts
# for them before the real tool runs): no file of root's may change, no copy of the key may be
# readable by them or lie outside root's private folder, and the DLL must come out signed.
# Works in WORKDIR/sign-checks (made anew); leaves the signed copy in WORKDIR/QelCustInst.dll for
# the run under Wine.
#
#   check-sign.sh DLL WORKDIR
set -euo pipefail

(($# == 2)) || { echo "usage: check-sign.sh DLL WORKDIR" >&2; exit 2; }
dll="$(realpath -m "$1")"
out="$(realpath -m "$2")"
sign="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/sign.sh"
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

# --- One signing each: refusals of a wrong key or certificate, signals to sign.sh alone (SIGINT as
# a terminal's Ctrl-C would, not ignored), full disks (a small tmpfs, as root), PEM and DER keys and
# a relative TMPDIR: the DLL as it was, or signed and verified when the run says so, and nothing
# left beside it or in TMPDIR. ---
# name | certificate | key | what the stand-ins do first | the tmpfs (dll:SIZE holds the DLL, tmp:SIZE
# is TMPDIR) | exit | message
stops=(
    "refuses a key of another certificate|signer.pem|stranger.key|||1|stranger.key is not the key of $work/signer.pem"
    "refuses a key given as certificate|signer.key|signer.key|||1|signer.key is not a certificate"
    "refuses a certificate given as key|signer.pem|signer.pem|||1|signer.pem is not a private key without a pass phrase"
    "refuses a missing certificate|none.pem|signer.key|||1|cannot read $work/none.pem"
    "SIGINT while osslsigncode signs|signer.pem|signer.key|if [[ \$TOOL == osslsigncode ]]; then kill -INT \$SIGNER; fi||130|stopped by SIGINT: "
    "SIGTERM while osslsigncode signs|signer.pem|signer.key|if [[ \$TOOL == osslsigncode ]]; then kill -TERM \$SIGNER; fi||143|stopped by SIGTERM: "
    "no room in TMPDIR|signer.pem|signer.key||tmp:96k|1|no space left in $disk for the signing"
    "no room beside the DLL|signer.pem|signer.key||dll:400k|1|no space left in $disk for the signed copy"
    "a PEM key and a relative TMPDIR|signer.pem|signer.key|||0|signed "
    "a DER key|signer.pem|signer.der|||0|signed "
)
n=0
for entry in "${stops[@]}"; do
    IFS='|' read -r name cert key attack room want message <<<"$entry"
    n=$((n + 1))
    case="$work/stop$n"
    mkdir -p "$case/tmp"
    folder="$case" temporary="$case/tmp"
    if [[ -n "$room" ]]; then
        ((EUID == 0)) || { echo "skip signing: $name (needs root for a tmpfs)"; continue; }
        mkdir -p "$disk"
        mount -t tmpfs -o "size=${room#*:}" tmpfs "$disk"
        if [[ "$room" == dll:* ]]; then folder="$disk"; else temporary="$disk"; fi
    fi
    [[ "$name" != *relative* ]] || temporary=tmp
    cp "$dll" "$folder/QelCustInst.dll"
    rc=0
    output="$(cd "$case" && ATTACK="$attack" TMPDIR="$temporary" PATH="$bin:$PATH" env --default-signal=INT \
        "$sign" "$folder/QelCustInst.dll" "$work/$cert" "$work/$key" 2>&1)" || rc=$?
    problems=()
    ((rc == want)) || problems+=("exit $rc")
    [[ "$output" == *"$message"* ]] || problems+=("no '$message'")
    [[ "$output" != *"cp: "* && "$output" != *"error:"* && "$output" != *": line "* ]] || problems+=("tool or shell error output")
    if ((want == 0)); then
        verifies "$folder/QelCustInst.dll" || problems+=("the DLL does not verify")
        signed="$folder/QelCustInst.dll"
    else
        cmp -s "$folder/QelCustInst.dll" "$dll" || problems+=("the DLL changed")
    fi
    [[ -z "$(find "$folder" -maxdepth 1 -name '.sign.*')" ]] || problems+=("left beside the DLL: $(ls -A "$folder")")
    (cd "$case" && [[ -z "$(ls -A "$temporary")" ]]) || problems+=("left in TMPDIR: $(cd "$case" && ls -A "$temporary")")
    check "signing: $name${problems[*]:+: ${problems[*]}; $output}" test ${#problems[@]} = 0
    if mountpoint -q "$disk"; then umount "$disk"; fi
done

# --- Another user where root signs, the stand-ins acting for them. Folders: "open" is writable by
# everyone without the sticky bit, "theirs" belongs to nobody, "own" is root's own. ---
if ((EUID == 0)); then
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
    declare -A attack_of=([hijack]="$hijack" [kill]='[[ $TOOL != osslsigncode ]] || kill -9 $SIGNER')
    # name | key | the DLL's folder | TMPDIR | the attack
    attacks=(
        "a PEM key, the DLL in a folder others can write|signer.key|open|own|hijack"
        "a DER key, the DLL in a folder others can write|signer.der|open|own|hijack"
        "a DER key, the DLL in another user's folder|signer.der|theirs|own|hijack"
        "a DER key, a TMPDIR others can write|signer.der|own|open|hijack"
        "a DER key, sign.sh killed while signing|signer.der|open|own|kill"
    )
    n=0
    for entry in "${attacks[@]}"; do
        IFS='|' read -r name key place temporary attack <<<"$entry"
        n=$((n + 1))
        case="$work/attack$n"
        mkdir -m 755 "$case" "$case/own" "$case/tmp-own"
        mkdir -m 777 "$case/open" "$case/tmp-open"
        install -d -o nobody -m 755 "$case/theirs" "$case/loot"
        chmod 1777 "$case/loot"
        echo "root's own" >"$case/victim"
        chmod 600 "$case/victim"
        folder="$case/$place"
        cp "$dll" "$folder/QelCustInst.dll"
        [[ "$place" != theirs ]] || chown nobody "$folder/QelCustInst.dll"
        rc=0
        output="$(ATTACK="${attack_of[$attack]}" FOLDERS="$folder $case/tmp-$temporary" VICTIM="$case/victim" LOOT="$case/loot" \
            TMPDIR="$case/tmp-$temporary" PATH="$bin:$PATH" "$sign" "$folder/QelCustInst.dll" "$work/signer.pem" "$work/$key" 2>&1)" ||
            rc=$?
        problems=()
        [[ "$(cat "$case/victim")" == "root's own" && "$(stat -c %u:%a "$case/victim")" == 0:600 ]] || problems+=("root's file changed")
        # The key's text, a line of its base64, in any file the other user can read.
        line="$(sed -n 5p "$work/signer.key")"
        leaks="$(runuser -u nobody -- grep -rlF -- "$line" "$case" 2>/dev/null || true)"
        [[ -z "$leaks" ]] || problems+=("the key is readable by another user in: $leaks")
        # Anything of the key beside the DLL, readable or not.
        ! grep -rqF -- "$line" "$folder" "$case/loot" 2>/dev/null || problems+=("a copy of the key lies beside the DLL")
        if [[ "$attack" == kill ]]; then
            # A killed run leaves its private folder, root's and closed to others, in TMPDIR only.
            left=("$case/tmp-$temporary"/sign.*)
            [[ -d "${left[0]}" && "$(stat -c %u:%a "${left[0]}")" == 0:700 ]] || problems+=("no private folder left in TMPDIR: ${left[*]}")
            [[ -z "$(find "$folder" -mindepth 1 -not -name QelCustInst.dll)" ]] || problems+=("left beside the DLL: $(ls -A "$folder")")
            rm -rf "${left[@]}"
        else
            ((rc == 0)) || problems+=("exit status $rc: $output")
            [[ -f "$folder/QelCustInst.dll" && ! -L "$folder/QelCustInst.dll" && -O "$folder/QelCustInst.dll" ]] ||
                problems+=("the signed DLL is not a file of root's")
            verifies "$folder/QelCustInst.dll" || problems+=("the signed DLL does not verify")
        fi
        check "another user where root signs: $name${problems[*]:+: ${problems[*]}}" test ${#problems[@]} = 0
    done
else
    echo "skip the cases with another user: they need root"
fi

((failures == 0)) || exit 1
cp "$signed" "$out/.QelCustInst.dll.new"
mv -f "$out/.QelCustInst.dll.new" "$out/QelCustInst.dll"
echo "signed copy: $out/QelCustInst.dll ($(wc -c <"$out/QelCustInst.dll") bytes)"
