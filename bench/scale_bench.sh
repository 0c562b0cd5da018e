#!/usr/bin/env bash
# Scale: 1,000 keywords of 20 members each (20,000 members, 40,000 card and
# contact requests and 1,000 search pages) collected at once by one
# `qinglan collect` from the sample marketplace on loopback, answering at
# once, with `ulimit -n 256` for the collector. Its threads and descriptors
# are sampled every 20 ms, its peak memory comes from wait4. Then every
# keyword's table must hold its 20 rows, each account once. Prints the wall
# time, the max RSS (goal under 150 MiB), the most threads at once (goal at
# most 40) and a verdict per goal.
#
# Usage: bench/scale_bench.sh [KEYWORDS] [MEMBERS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
keyword_count=${1:-1000}
members=${2:-20}
helper=$root/bench/scale_bench.py
build=$root/build-bench

source "$root/bench/bench_lib.sh"
build_bench

make_work qinglan-scale

python3 "$helper" pages "$work/www" "$keyword_count" "$members" >"$work/pages.txt"
head -n 2 "$work/pages.txt"
read -r -a keywords < <(tail -n 1 "$work/pages.txt")
echo "pages: ${#keywords[@]} keywords (${keywords[0]} to ${keywords[-1]}) of $members members"

# The marketplace keeps its own descriptor limit: only the collector is held
# to 256.
start_marketplace "$work/server.txt" --dir "$work/www"

mkdir -p "$work/data"
(
    ulimit -n 256
    exec python3 "$helper" run "$work/result.json" -- "$build/app/qinglan" collect \
        --data-dir "$work/data" --search-host "127.0.0.1:$port" --member-host "127.0.0.1:$port" \
        --contact-domain "localhost:$port" -- "${keywords[@]}"
)
python3 "$helper" report "$work/result.json" "$work/data/date/lingshishuj.db" "$work/www/expected.json"
