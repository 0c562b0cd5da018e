#!/usr/bin/env bash
# Load: many keywords of many members collected at once from the sample
# marketplace (by default 20 keywords of 500 members: 10,000 members, 20,000
# card and contact requests and 20 search pages). Each run goes through
# build-bench/bench/load_bench, which counts its own descriptors before and
# after the engine, and through `qinglan collect`; both are watched from
# outside (descriptors sampled ten times a second, peak memory from wait4).
# After every run the database is checked table by table: the right number
# of rows, every account of the keyword exactly once, none of another.
# Prints the medians of the runs and a verdict line per goal.
#
# Usage: bench/load_bench.sh [RUNS] [KEYWORDS] [MEMBERS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-3}
keyword_count=${2:-20}
members=${3:-500}
rss_goal_mib=300
helper=$root/bench/load_bench.py
build=$root/build-bench

source "$root/bench/bench_lib.sh"
build_bench

make_work qinglan-load

echo "pages: $keyword_count keywords of $members members"
python3 "$helper" pages "$work/www" "$keyword_count" "$members" >"$work/pages.txt"
head -n 2 "$work/pages.txt"
read -r -a keywords < <(tail -n 1 "$work/pages.txt")

start_marketplace "$work/server.txt" --nice 5 --dir "$work/www"
hosts=(--search-host "127.0.0.1:$port" --member-host "127.0.0.1:$port" --contact-domain "localhost:$port")

# One collecting process over a fresh data dir, watched, then its rows checked.
# A failed run does not stop the script: it is a figure of the report.
one_run() {
    local name=$1 run=$2
    shift 2
    local data=$work/data-$name-$run result=$work/$name-$run.json
    mkdir -p "$data"
    nice -n 5 python3 "$helper" run "$result" -- "$@" --data-dir "$data" "${hosts[@]}" -- "${keywords[@]}"
    python3 "$helper" check "$result" "$data/date/lingshishuj.db" "$work/www/expected.json"
    rm -rf "$data"
}

for ((run = 1; run <= runs; run++)); do
    echo "run $run of $runs"
    one_run bench "$run" "$build/bench/load_bench"
    one_run collect "$run" "$build/app/qinglan" collect
done
python3 "$helper" report "$work" "$runs" "$members" "$rss_goal_mib"
