#!/usr/bin/env bash
# Runs the fuzz targets for as long as asked.
#
#   fuzz/run.sh [--seconds N] [--build DIR] [TARGET...]
#
# Without TARGETs every target runs, one after the other, N seconds each (default 60). Without
# --build the fuzz preset is configured and built first (clang 14 with libFuzzer). Each target
# starts from its seeds in fuzz/corpus/TARGET and keeps what it finds in DIR/corpus/TARGET; an
# input that fails is written to DIR/artifacts/. A crash, a leak, a sanitizer report or a mismatch
# with a target's reference makes the script fail.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
seconds=60
build=""
targets=()

usage() {
    echo "usage: fuzz/run.sh [--seconds N] [--build DIR] [TARGET...]" >&2
    exit 2
}

while (($#)); do
    case "$1" in
        --seconds) [[ $# -ge 2 && $2 =~ ^[1-9][0-9]*$ ]] || usage; seconds=$2; shift 2 ;;
        --build) [[ $# -ge 2 ]] || usage; build=$2; shift 2 ;;
        -h | --help) usage ;;
        -*) echo "fuzz/run.sh: unknown option $1" >&2; usage ;;
        *) targets+=("$1"); shift ;;
    esac
done

if [[ -z $build ]]; then
    command -v clang++-14 >/dev/null || { echo "fuzz/run.sh: clang++-14 is missing (bash scripts/setup.sh installs it)" >&2; exit 1; }
    build="$root/build/fuzz"
    (cd "$root" && cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j2)
fi
[[ -d $build/fuzz ]] || { echo "fuzz/run.sh: no fuzz build in $build" >&2; exit 1; }

if ((${#targets[@]} == 0)); then
    for seeds in "$here"/corpus/*/; do
        targets+=("$(basename "$seeds")")
    done
fi

# The platform model makes a fresh temporary folder for every input: in memory that costs a
# fraction of what it costs on disk.
scratch=$(mktemp -d "$( [[ -d /dev/shm && -w /dev/shm ]] && echo /dev/shm || echo "${TMPDIR:-/tmp}")/qelfuzz-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# Readable sanitizer reports when the symbolizer is there; any undefined behaviour stops the run.
if [[ -z ${ASAN_SYMBOLIZER_PATH:-} && -x /usr/lib/llvm-14/bin/llvm-symbolizer ]]; then
    export ASAN_SYMBOLIZER_PATH=/usr/lib/llvm-14/bin/llvm-symbolizer
fi
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=()
for target in "${targets[@]}"; do
    binary="$build/fuzz/$target"
    [[ -x $binary ]] || { echo "fuzz/run.sh: no target $target in $build/fuzz" >&2; exit 1; }
    corpus="$build/corpus/$target"
    artifacts="$build/artifacts"
    mkdir -p "$corpus" "$artifacts"
    seeds=()
    [[ -d $here/corpus/$target ]] && seeds=("$here/corpus/$target")

    echo "== fuzz: $target for ${seconds}s"
    log="$scratch/$target.log"
    if TMPDIR="$scratch" "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
        -print_final_stats=1 -artifact_prefix="$artifacts/$target-" \
        "$corpus" "${seeds[@]}" >"$log" 2>&1; then
        grep -E '^(stat::number_of_executed_units|Done)' "$log" || true
    else
        cat "$log"
        failed+=("$target")
    fi
done

if ((${#failed[@]})); then
    echo "fuzz/run.sh: failed: ${failed[*]} (inputs in $build/artifacts)" >&2
    exit 1
fi
