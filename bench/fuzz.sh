#!/usr/bin/env bash
# Runs every fuzz target for a while under ASan+UBSan, one after another, and
# prints per target the time it ran, its executions, its corpus and what it
# found.
#
# Usage: bench/fuzz.sh [SECONDS_PER_TARGET [TARGET...]]    (default 600 s, all)
#   FUZZ_ARGS="-max_len=1048576"  extra libFuzzer flags for every target
#
# Each target's corpus grows in build-fuzz/fuzz-corpus/<target> from run to
# run, starting from the seeds in tests/fuzz/corpus/<target>. What a run finds
# lands in build-fuzz/fuzz-findings/<target>/; minimise it (-minimize_crash=1)
# and keep it in tests/fuzz/findings/<target>/, where scripts/fuzz-smoke
# replays it. The kept findings are not loaded here: until its fix lands, a
# kept finding would end every run at its first input.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
seconds=${1:-600}
shift || true

mkdir -p "$build/fuzz-logs"
# Quiet unless the build fails.
if ! { CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DQINGLAN_FUZZ=ON \
        -DQINGLAN_BUILD_TESTS=OFF -DQINGLAN_BUILD_BENCH=OFF -DQINGLAN_BUILD_APP=OFF &&
    CMAKE_BUILD_PARALLEL_LEVEL=2 nice -n 10 cmake --build "$build"; } >"$build/fuzz-logs/build.log" 2>&1; then
    cat "$build/fuzz-logs/build.log" >&2
    exit 1
fi

targets=("$@")
if ((${#targets[@]} == 0)); then
    for source in "$root"/tests/fuzz/fuzz_*.cpp; do
        targets+=("$(basename "$source" .cpp)")
    done
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
read -r -a extra <<<"${FUZZ_ARGS:-}"

printf '%-24s %8s %12s %18s %9s\n' target seconds executions corpus findings
status=0
for target in "${targets[@]}"; do
    corpus=$build/fuzz-corpus/$target
    found=$build/fuzz-findings/$target
    log=$build/fuzz-logs/$target.log
    mkdir -p "$corpus" "$found" "$(dirname "$log")"
    before=$(find "$found" -type f | wc -l)
    started=$SECONDS
    # One process, in the foreground: the machine is shared.
    if ! nice -n 10 "$build/tests/fuzz/$target" -max_total_time="$seconds" -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$found/" "${extra[@]}" \
        "$corpus" "$root/tests/fuzz/corpus/$target" >"$log" 2>&1; then
        status=1
    fi
    elapsed=$((SECONDS - started))
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    if [ -z "$executions" ]; then
        # A crash ends the run before the final statistics.
        executions=$(grep -o '^#[0-9]*' "$log" | tail -n 1 | tr -d '#')
    fi
    files=$(find "$corpus" -type f | wc -l)
    bytes=$(find "$corpus" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}')
    findings=$(($(find "$found" -type f | wc -l) - before))
    printf '%-24s %8d %12s %18s %9d\n' "$target" "$elapsed" "${executions:-0}" \
        "$files files/${bytes} B" "$findings"
done
[ "$status" -eq 0 ] || echo "at least one target stopped on a finding: see $build/fuzz-logs/" >&2
exit "$status"
