#!/usr/bin/env bash
# The team's work queue: 40 keywords of 50 members each, queued on a
# PostgreSQL server (the distribution's, started here on a free loopback
# port) and drained by 1, 2 and 4 `qinglan work --until-empty` processes,
# each `--tasks 2 --connections 8 --per-host 8`, from the sample
# marketplace on loopback answering every page after 50 ms. Prints the wall
# time and rows per second of each and the ratio 4 workers / 1 (goal: at
# least 3); then 4 workers again, two of them killed (SIGKILL) at random
# moments, and checks that every keyword ends done with exactly its rows,
# none twice. Every run starts on a fresh database.
#
# Usage: bench/queue_bench.sh [KEYWORDS] [MEMBERS]
# (BUILD=DIR uses a build tree of one's own instead of build-bench.)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
keyword_count=${1:-40}
members=${2:-50}
build=${BUILD:-$root/build-bench}

source "$root/bench/bench_lib.sh"
[ -n "${BUILD:-}" ] || build_bench

make_work qinglan-queue
pg_stop() {
    local pid
    for pid in $(jobs -p); do kill -9 "$pid" 2>/dev/null || true; done
    stop_postgres
    stop_bench
}
trap pg_stop EXIT

python3 "$root/bench/scale_bench.py" pages "$work/www" "$keyword_count" "$members" >"$work/pages.txt"
read -r -a keywords < <(tail -n 1 "$work/pages.txt")
echo "pages: ${#keywords[@]} keywords of $members members, every answer after 50 ms"
start_marketplace "$work/server.txt" --dir "$work/www" --delay-ms 50

start_postgres
hosts=(--search-host "127.0.0.1:$port" --member-host "127.0.0.1:$port" --contact-domain "localhost:$port")
limits=(--tasks 2 --connections 8 --per-host 8)

# fresh NAME: a new database with every keyword queued; sets $url.
fresh() {
    psql_on postgres "CREATE DATABASE $1" >/dev/null
    url="postgresql://qinglan@127.0.0.1:$pg_port/$1"
    "$build/app/qinglan" queue add --database "$url" "${hosts[@]}" -- "${keywords[@]}" >/dev/null
}

# drain NAME WORKERS [KILLED]: the workers at once, KILLED of them killed at
# random moments; prints the seconds until the queue is empty.
drain() {
    local name=$1 count=$2 killed=${3:-0} start i pids=()
    start=$(date +%s.%N)
    for ((i = 0; i < count; i++)); do
        "$build/app/qinglan" work --database "$url" "${hosts[@]}" "${limits[@]}" --until-empty \
            --lease 5 >"$work/$name-$i.out" 2>"$work/$name-$i.err" &
        pids+=($!)
    done
    for ((i = 0; i < killed; i++)); do
        sleep "$(python3 -c 'import random; print(round(random.uniform(0.5, 3.0), 2))')"
        kill -9 "${pids[$i]}"
        echo "  worker $i killed after $(python3 -c "import sys; print('%.1f' % (float(sys.argv[2]) - float(sys.argv[1])))" "$start" "$(date +%s.%N)") s" >&2
    done
    for ((i = killed; i < count; i++)); do
        if ! wait "${pids[$i]}"; then
            echo "$name: worker $i failed:" >&2
            cat "$work/$name-$i.out" "$work/$name-$i.err" >&2
            exit 1
        fi
    done
    python3 -c "import sys; print('%.2f' % (float(sys.argv[2]) - float(sys.argv[1])))" "$start" "$(date +%s.%N)"
}

# check NAME: every keyword done with exactly its rows, no account twice.
check() {
    local database=$1 keyword bad
    bad=$(psql_on "$database" "SELECT count(*) FROM \"MSysQueue\" WHERE state <> 'done'")
    [ "$bad" = 0 ] || { echo "$database: $bad keywords not done" >&2; exit 1; }
    for keyword in "${keywords[@]}"; do
        bad=$(psql_on "$database" "SELECT count(*) || ' ' || count(DISTINCT \"用户账号\") FROM \"$keyword\"")
        [ "$bad" = "$members $members" ] ||
            { echo "$database: $keyword holds $bad rows/accounts, not $members" >&2; exit 1; }
    done
}

total=$((keyword_count * members))
declare -A seconds
for workers in 1 2 4; do
    fresh "w$workers"
    seconds[$workers]=$(drain "w$workers" "$workers")
    check "w$workers"
    python3 -c "import sys; print('%d worker(s): %6.2f s, %6.1f rows/s' % (int(sys.argv[1]), float(sys.argv[2]), int(sys.argv[3]) / float(sys.argv[2])))" \
        "$workers" "${seconds[$workers]}" "$total"
done
python3 -c "import sys; r = float(sys.argv[1]) / float(sys.argv[2]); print('ratio 4 workers / 1: %.2f (goal at least 3): %s' % (r, 'met' if r >= 3 else 'missed'))" \
    "${seconds[1]}" "${seconds[4]}"

fresh killed
echo "4 workers, two of them killed (SIGKILL), lease 5 s:"
killed_s=$(drain killed 4 2)
check killed
echo "  queue empty after $killed_s s: every keyword done, $total rows, none twice"
