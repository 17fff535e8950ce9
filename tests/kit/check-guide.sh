#!/usr/bin/env bash
# Runs the authoring guide (docs/AUTHORING.md) as an author would: its project, my-action, is made
# from the guide's own code blocks and built from the installed kits, and the guide's own commands
# build it, run its tests and its fault sweep, build its DLL and package, and install the package
# under Wine; what the guide shows them printing must be printed. So the guide cannot go stale.
#
#   check-guide.sh host WORK       the project's tests on the host kit (the fixture and the sweep)
#   check-guide.sh windows WORK    its DLL on the Windows kit, and its package
#   check-guide.sh wine WORK       the package under Wine, with the kit's runner
#
# WORK is the kit tests' folder: the kits are in WORK/kits/{host,windows} (check-kits.sh install),
# the Wine work folder is WORK/wine, shared with the example's runs. The wine step needs the windows
# step before it. Exit status 77 (skipped, for ctest) when something it needs is missing.
#
# The guide's blocks are tagged file=PATH, run=STEP, expect=STEP and from=PATH as its opening
# comment describes; the host step checks the quotes (from=PATH).
set -euo pipefail

usage() { awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0" >&2; exit 2; }
(($# == 2)) || usage
step="$1"
work="$(realpath -m "$2")"
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
guide="$source_dir/docs/AUTHORING.md"
say() { echo "check-guide $step: $*"; }
fail() { echo "check-guide $step: $*" >&2; exit 1; }
skip() { echo "check-guide $step: $*" >&2; exit 77; }
# A relative path that stays inside its folder.
inside() { [[ "$1" =~ ^[A-Za-z0-9_.-]+(/[A-Za-z0-9_.-]+)*$ && "/$1/" != */../* ]]; }

case "$step" in
    host | windows) folder="$work/guide/$step" ;;
    wine) folder="$work/guide/windows" ;;
    *) usage ;;
esac
for kit in host windows; do
    [[ -f "$work/kits/$kit/lib/cmake/QelCustInst/QelCustInstConfig.cmake" ]] || skip "no $kit kit in $work/kits/$kit"
done
# The guide's Windows project is built for x64 too.
if [[ "$step" != host && ! -f "$work/kits/windows/lib/cmake/QelCustInst-x64/QelCustInstConfig.cmake" ]]; then
    skip "no x64 kit in $work/kits/windows: the guide's Windows steps need the windows-x64 build" \
        "(cmake --preset windows-x64 && cmake --build --preset windows-x64)"
fi
# ~/qel/ of the guide's commands.
qel="$work/guide/qel"
mkdir -p "$qel" "$work/wine"
ln -sfn "$work/kits/host" "$qel/host"
ln -sfn "$work/kits/windows" "$qel/windows"
# The Wine work folder is the example's, named by its own path: the runner takes no link for one.
rm -f "$qel/wine"

# Prints the blocks of the guide whose opening line carries KEY=VALUE, each preceded by a line
# "@@ <VALUE>"; for KEY file, every file block.
blocks() { # KEY [VALUE]
    awk -v key="$1" -v value="${2-}" '
        !inside && /^```/ {
            inside = 1; take = 0
            n = split(substr($0, 4), words, " ")
            for (i = 2; i <= n; i++) {
                split(words[i], pair, "=")
                if (pair[1] == key && (value == "" || pair[2] == value)) { take = 1; print "@@ " pair[2] }
            }
            next
        }
        inside && /^```[[:space:]]*$/ { inside = 0; next }
        inside && take { print }
    ' "$guide"
}

# The project, made afresh from the guide's file blocks.
extract() {
    rm -rf "$folder"
    mkdir -p "$folder/my-action"
    local file="" line
    while IFS= read -r line; do
        if [[ "$line" == "@@ "* ]]; then
            file="${line#@@ }"
            inside "$file" || fail "the guide names a file '$file' outside its project"
            mkdir -p "$(dirname "$folder/my-action/$file")"
            continue
        fi
        printf '%s\n' "$line" >>"$folder/my-action/$file"
    done < <(blocks file)
    for needed in CMakeLists.txt src/MyAction.cpp tests/MyActionTest.cpp package/MyAction.wxs; do
        [[ -f "$folder/my-action/$needed" ]] || fail "the guide gives no $needed"
    done
    say "my-action: $(cd "$folder/my-action" && find . -type f | sort | tr '\n' ' ')"
}

# Runs the step's commands as the guide gives them, and checks what they printed against the lines
# the guide shows for the step.
run() {
    local script output status=0
    script="$(blocks run "$step" | grep -v '^@@ ' | sed -e "s#~/qel/wine#$work/wine#g" -e "s#~/qel/#$qel/#g")"
    [[ -n "$script" ]] || fail "the guide gives no commands for the step $step"
    output="$(cd "$folder" && bash -euo pipefail -c "$script" 2>&1)" || status=$?
    printf '%s\n' "$output"
    ((status == 0)) || fail "the guide's commands failed (exit status $status)"
    local missing=()
    while IFS= read -r line; do
        [[ -z "$line" ]] || grep -qxF -- "$line" <<<"$output" || missing+=("$line")
    done < <(blocks expect "$step" | grep -v '^@@ ')
    ((${#missing[@]} == 0)) || fail "the guide shows lines its commands did not print:$(printf '\n  %s' "${missing[@]}")"
}

# The blocks that quote a file of the repository: each a run of that file's lines, in order.
quotes() {
    local path="" line faults=() quoted=()
    check_quote() {
        [[ -n "$path" ]] || return 0
        if ! inside "$path" || [[ ! -f "$source_dir/$path" ]]; then
            faults+=("from=$path: no such file in the repository")
            return 0
        fi
        # The quoted lines, joined as the file's are, must be a run of the file's lines.
        local unit=$'\x1f' text quote
        text="$unit$(tr '\n' '\037' <"$source_dir/$path")$unit"
        quote="$unit$(printf "%s$unit" "${quoted[@]}")"
        [[ "$text" == *"$quote"* ]] || faults+=("from=$path: ${quoted[0]}")
    }
    while IFS= read -r line; do
        if [[ "$line" == "@@ "* ]]; then
            check_quote
            path="${line#@@ }" quoted=()
            continue
        fi
        quoted+=("$line")
    done < <(blocks from)
    check_quote
    ((${#faults[@]} == 0)) || fail "the guide quotes lines its examples no longer hold:$(printf '\n  %s' "${faults[@]}")"
    say "$(blocks from | grep -c '^@@ ') quotes of the examples stand in their files"
}

case "$step" in
    host)
        quotes
        extract
        run
        # The sweep ran in every world with its leak check and a world check, and went past the
        # clean run: its summary lines, in the output ctest keeps of the tests it ran.
        sweeps="$(grep -h '^sweep ' "$folder"/build-host/Testing/Temporary/LastTest*.log || true)"
        [[ -n "$sweeps" ]] || fail "the guide's tests ran no sweep"
        while IFS= read -r line; do
            whole=0
            if [[ "$line" =~ ^sweep\ .*:\ ([0-9]+)\ cases\ run,\ ([0-9]+)\ held\ \([0-9]+\ calls && "$line" != *"; no "* ]]; then
                ((BASH_REMATCH[1] <= 1 || BASH_REMATCH[1] != BASH_REMATCH[2])) || whole=1
            fi
            ((whole)) || fail "a sweep of the guide's project is not whole: $line"
        done <<<"$sweeps"
        say "$(wc -l <<<"$sweeps") sweeps, each with its leak check and a world check"
        ;;
    windows)
        extract
        run
        [[ -f "$folder/build-windows/MyAction.dll" && -f "$folder/package/MyAction.msi" ]] ||
            fail "the guide's commands made no build-windows/MyAction.dll or package/MyAction.msi"
        ;;
    wine)
        [[ -f "$folder/package/MyAction.msi" ]] || skip "run the windows step first"
        command -v wine >/dev/null || skip "wine is not installed"
        run
        ;;
esac
