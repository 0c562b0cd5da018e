#!/usr/bin/env bash
# A site profile's collection against the built-in site's on the same
# number of members: `qinglan collect --parallel 8` of one keyword from the
# sample marketplace on 127.0.0.1, every answer (result pages, cards,
# contact pages) held 20 ms. The built-in site reads one search page of all
# the members; the shipped profile sites/sample_shop.ini reads them from the
# shop's result pages, a promoted member repeated on each, so each side's
# own search pages are in its time. Runs alternate between the two (which
# goes first alternates too), each into a fresh data folder. Prints the
# median of each, their ratio and a verdict (goal: the profile takes at most
# 1.2 times the built-in site's time, every member stored by both).
#
# Usage: bench/profile_collect.sh [MEMBERS] [RUNS]
# BENCH_BUILD=DIR uses an existing build tree instead of building build-bench.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
members=${1:-200}
runs=${2:-5}
pages=5
delay_ms=20
keyword=手机
build=${BENCH_BUILD:-$root/build-bench}
helper=$root/bench/profile_collect.py
profile=$root/sites/sample_shop.ini

source "$root/bench/bench_lib.sh"
[ -n "${BENCH_BUILD:-}" ] || build_bench

make_work qinglan-profile

echo "members: $members, runs: $runs, every answer after $delay_ms ms, --parallel 8"
python3 "$helper" pages "$work/www" "$keyword" "$members" "$pages" >"$work/pages.txt"
cat "$work/pages.txt"
start_marketplace "$work/server.txt" --dir "$work/www" --delay-ms "$delay_ms"

# One collection into a fresh data folder; prints its wall time in seconds.
collect() {
    local data=$work/data-$1 start end
    shift
    rm -rf "$data"
    mkdir -p "$data"
    start=$(date +%s.%N)
    "$build/app/qinglan" collect --data-dir "$data" --search-host "127.0.0.1:$port" \
        --member-host "127.0.0.1:$port" --contact-domain "localhost:$port" --parallel 8 \
        "$@" -- "$keyword" >"$work/collect.out" 2>"$work/collect.err" ||
        { cat "$work/collect.out" "$work/collect.err" >&2; exit 1; }
    end=$(date +%s.%N)
    python3 -c "print($end - $start)"
}

rows_in() {
    "$build/app/qinglan" tables --data-dir "$work/data-$1" | awk -F'\t' -v k="$keyword" '$1 == k {print $2}'
}

built_in=() with_profile=()
for ((run = 1; run <= runs; run++)); do
    if ((run % 2)); then
        built_in+=("$(collect built-in)")
        with_profile+=("$(collect profile --site "$profile")")
    else
        with_profile+=("$(collect profile --site "$profile")")
        built_in+=("$(collect built-in)")
    fi
done
python3 "$helper" report "$(rows_in built-in)" "$(rows_in profile)" "$members" \
    -- "${built_in[@]}" -- "${with_profile[@]}"
