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

"$root/scripts/setup"
CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2} \
    "$root/scripts/build" "$build" -DCMAKE_BUILD_TYPE=Release -DQINGLAN_BUILD_TESTS=OFF >/dev/null

work=$(mktemp -d /tmp/qinglan-scale.XXXXXX)
server_pid=
cleanup() {
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

python3 "$helper" pages "$work/www" "$keyword_count" "$members" >"$work/pages.txt"
head -n 2 "$work/pages.txt"
read -r -a keywords < <(tail -n 1 "$work/pages.txt")
echo "pages: ${#keywords[@]} keywords (${keywords[0]} to ${keywords[-1]}) of $members members"

# The marketplace keeps its own descriptor limit: only the collector is held
# to 256.
"$build/tools/sample_marketplace" --dir "$work/www" >"$work/server.txt" 2>&1 &
server_pid=$!
port=
for _ in $(seq 100); do
    port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/server.txt")
    [ -n "$port" ] && break
    sleep 0.05
done
[ -n "$port" ] || { echo "the sample marketplace did not start" >&2; cat "$work/server.txt" >&2; exit 1; }

mkdir -p "$work/data"
(
    ulimit -n 256
    exec python3 "$helper" run "$work/result.json" -- "$build/app/qinglan" collect \
        --data-dir "$work/data" --search-host "127.0.0.1:$port" --member-host "127.0.0.1:$port" \
        --contact-domain "localhost:$port" -- "${keywords[@]}"
)
python3 "$helper" report "$work/result.json" "$work/data/date/lingshishuj.db" "$work/www/expected.json"
