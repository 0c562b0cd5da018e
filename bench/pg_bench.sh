#!/usr/bin/env bash
# The team's server against the local files: eight `qinglan collect`
# processes of one keyword of 1,000 members each, all at once, from the
# sample marketplace on loopback, storing first into one PostgreSQL server
# (the distribution's, started here on a free loopback port, default
# settings) and then each into a SQLite file of its own. Prints the
# aggregate members per second of both (medians of the rounds) and their
# ratio (goal: the server at least 0.8 of the files), after checking that
# every keyword holds its 1,000 rows in both.
#
# Usage: bench/pg_bench.sh [COLLECTORS] [MEMBERS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
collectors=${1:-8}
members=${2:-1000}
build=$root/build-bench

source "$root/bench/bench_lib.sh"
build_bench

make_work qinglan-pg
pg_stop() {
    stop_postgres
    stop_bench
}
trap pg_stop EXIT

python3 "$root/bench/scale_bench.py" pages "$work/www" "$collectors" "$members" >"$work/pages.txt"
read -r -a keywords < <(tail -n 1 "$work/pages.txt")
echo "pages: ${#keywords[@]} keywords of $members members"
start_marketplace "$work/server.txt" --dir "$work/www"

start_postgres
psql_on postgres "CREATE DATABASE bench" >/dev/null
url="postgresql://qinglan@127.0.0.1:$pg_port/bench"
hosts=(--search-host "127.0.0.1:$port" --member-host "127.0.0.1:$port" --contact-domain "localhost:$port")
"$build/app/qinglan" tables --database "$url" >/dev/null  # the tables, before the clock runs

server_store() { echo --database "$url"; }
file_store() { echo --data-dir "$work/sqlite$1"; }

# run NAME STORE-FUNCTION: all collectors at once, collector i storing where
# `STORE-FUNCTION i` says; prints the seconds taken.
run() {
    local name=$1 store=$2 start i pids=()
    start=$(date +%s.%N)
    for i in "${!keywords[@]}"; do
        # shellcheck disable=SC2046  # the store's options, split on purpose
        "$build/app/qinglan" collect "${hosts[@]}" $($store "$i") -- "${keywords[$i]}" \
            >"$work/$name-$i.out" 2>"$work/$name-$i.err" &
        pids+=($!)
    done
    for i in "${!pids[@]}"; do
        if ! wait "${pids[$i]}"; then
            echo "$name: collector $i failed:" >&2
            cat "$work/$name-$i.out" "$work/$name-$i.err" >&2
            exit 1
        fi
    done
    python3 -c "import sys; print(float(sys.argv[2]) - float(sys.argv[1]))" "$start" "$(date +%s.%N)"
}

# Five rounds, the stores taking turns, each run into fresh tables; the
# medians count.
for i in "${!keywords[@]}"; do mkdir -p "$work/sqlite$i"; done
server_runs=() sqlite_runs=()
for round in 1 2 3 4 5; do
    if ((round > 1)); then
        "$build/app/qinglan" forget --database "$url" -- "${keywords[@]}" >/dev/null
        for i in "${!keywords[@]}"; do
            "$build/app/qinglan" forget --data-dir "$work/sqlite$i" -- "${keywords[$i]}" >/dev/null
        done
    fi
    server_runs+=("$(run server server_store)")
    sqlite_runs+=("$(run sqlite file_store)")
    echo "round $round: server ${server_runs[-1]} s, files ${sqlite_runs[-1]} s"
done
median() { printf '%s\n' "$@" | sort -g | sed -n "$(( ($# + 1) / 2 ))p"; }
server_s=$(median "${server_runs[@]}")
sqlite_s=$(median "${sqlite_runs[@]}")

total=$((collectors * members))
for i in "${!keywords[@]}"; do
    line="${keywords[$i]}	$members	$members	complete"
    "$build/app/qinglan" tables --database "$url" | grep -qxF "$line" ||
        { echo "server: ${keywords[$i]} is not complete with $members rows" >&2; exit 1; }
    "$build/app/qinglan" tables --data-dir "$work/sqlite$i" | grep -qxF "$line" ||
        { echo "sqlite: ${keywords[$i]} is not complete with $members rows" >&2; exit 1; }
done

python3 - "$collectors" "$members" "$server_s" "$sqlite_s" <<'PY'
import sys
collectors, members = int(sys.argv[1]), int(sys.argv[2])
server_s, sqlite_s = float(sys.argv[3]), float(sys.argv[4])
total = collectors * members
server_rate, sqlite_rate = total / server_s, total / sqlite_s
ratio = server_rate / sqlite_rate
print("%d collectors x %d members" % (collectors, members))
print("one PostgreSQL server: %.2f s, %.0f members/s" % (server_s, server_rate))
print("%d SQLite files: %8.2f s, %.0f members/s" % (collectors, sqlite_s, sqlite_rate))
print("ratio server/files: %.2f (goal at least 0.80): %s" % (ratio, "met" if ratio >= 0.8 else "missed"))
PY
