#!/usr/bin/env bash
# Runs every test of the project: installs what is missing, checks the formatting, builds the DLL and
# the Windows test build for 32-bit and for 64-bit Windows and the host build (plain and under
# AddressSanitizer/UndefinedBehaviorSanitizer), builds each DLL a second time elsewhere to compare,
# makes the release (the ZIP and the kits' archives), checks the DLLs' tables, version, signing and add-to-package.sh, runs the
# unit tests on both host builds (the plain one also under valgrind's memcheck, the sanitized one
# also through the fault sweep), the shared unit tests under Wine against the real installer (its
# 32-bit and its 64-bit msi.dll), the installations under Wine and the kits (installed, with both
# example projects built for both Windows architectures and run from them, and a new action's project
# made, built, tested and installed from the release's kit archives alone), prints what the DLL and
# the example's DLL weigh (failing over 320 KiB), then builds the optimised benchmarks (printing the
# hot spots' ratios) and the fuzz targets, running each of those for a bounded time. Last it prints
# each stage's seconds and the total.
set -euo pipefail
cd "$(dirname "$0")/.."

# Each stage's seconds, printed at the end (also when a stage fails): where the time goes.
stage_names=() stage_seconds=() stage_began=$SECONDS
stage() { # stage TITLE: ends the stage before, begins this one
    if ((${#stage_names[@]})); then stage_seconds+=($((SECONDS - stage_began))); fi
    stage_names+=("$1") stage_began=$SECONDS
    echo "== $1"
}
background=""
print_times() {
    local status=$? i
    [[ -z "$background" ]] || kill "$background" 2>/dev/null || true
    ((${#stage_names[@]})) || return 0
    stage_seconds+=($((SECONDS - stage_began)))
    echo "== times (seconds)"
    for i in "${!stage_names[@]}"; do
        printf '%6d  %s\n' "${stage_seconds[i]}" "${stage_names[i]:0:90}"
    done
    printf '%6d  total%s\n' "$SECONDS" "$( ((status == 0)) || echo ", failed in the last stage")"
}
trap print_times EXIT

jobs=$(nproc)
stage "setup: the packages"
bash scripts/setup.sh

stage "format: the sources against .clang-format"
git ls-files -z '*.h' '*.cpp' | xargs -0 clang-format --dry-run --Werror

for preset in windows windows-x64 windows-tests windows-x64-tests host host-asan; do
    stage "build: $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j"$jobs"
done

stage "release: the DLLs ($(stat -c %s build/windows/QelCustInst.dll) and $(stat -c %s build/windows-x64/QelCustInst-x64.dll) bytes), built again elsewhere, the ZIP and the kits"
bash tests/wine/check-reproducible.sh windows
bash tests/wine/check-reproducible.sh windows-x64
bash scripts/release.sh

stage "tests: host (unit tests, memcheck, the DLL's tables, installations under Wine, the kits)"
ctest --preset host -j"$jobs"

stage "size: the DLL and the kit example's DLL, against the same actions in plain C"
# In a TMPDIR whose name a shell would take for a command and two words: the script must take it
# as a name, so the command never runs.
sizetmp="$(mktemp -d)"
mkdir "$sizetmp/a b \$(touch ran-from-TMPDIR)"
TMPDIR="$sizetmp/a b \$(touch ran-from-TMPDIR)" bash scripts/dll-size.sh
[[ -z "$(find . -name ran-from-TMPDIR -print -quit)" ]] || { echo "dll-size.sh ran a command from TMPDIR" >&2; exit 1; }
[[ -z "$(ls -A "$sizetmp/a b \$(touch ran-from-TMPDIR)")" ]] || { echo "dll-size.sh left files in TMPDIR" >&2; exit 1; }
rm -rf "$sizetmp"

# The shared tests under Wine wait on Wine more than on the processor: they run beside the
# sanitized tests, which keep both cores busy, and their output follows.
stage "tests: host-asan (unit tests and the fault sweep under the sanitizers), beside windows-tests and windows-x64-tests (the shared unit tests under Wine's 32-bit and 64-bit loaders, against the real installer)"
wine_log="$(mktemp)"
(ctest --preset windows-tests -j"$jobs" && ctest --preset windows-x64-tests -j"$jobs") >"$wine_log" 2>&1 &
background=$!
asan_status=0
ctest --preset host-asan -j"$jobs" || asan_status=$?
wine_status=0
wait "$background" || wine_status=$?
background=""
echo "== the shared tests under Wine, run beside them:"
cat "$wine_log"
rm -f "$wine_log"
((asan_status == 0)) || { echo "host-asan tests failed" >&2; exit 1; }
((wine_status == 0)) || { echo "the shared tests under Wine failed" >&2; exit 1; }

# The optimised build of the benchmarks and of the text tests (the code GCC's -O3 warnings look
# at hardest), then the hot spots' ratios: printed for reading, never asserted.
stage "build: bench (Release, -O3)"
cmake --preset bench >/dev/null
cmake --build --preset bench -j"$jobs" --target qel_bench test_text
stage "benchmarks: the hot spots, library against the standard library (ratio; goal)"
build/bench/bench/qel_bench --benchmark_filter='^hot/' --benchmark_min_time=0.05 --benchmark_counters_tabular=true

stage "fuzz: each target for a bounded time (clang 14, libFuzzer, the sanitizers)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$jobs"
ctest --preset fuzz
