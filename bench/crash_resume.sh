#!/usr/bin/env bash
# Crashes: one keyword of 500 members from the sample marketplace, collected
# twice without interruption, then into another data folder while
# `qinglan collect` is killed with SIGKILL at 20 random instants (two very
# early: about when the database is opened and while the search page is on
# its way; the rest spread over the members, one near the end) and started
# again after each kill; a last run then finishes it. The two tables must
# hold the same rows, every field, in rowid order, and `qinglan tables` must
# call the keyword complete. Every answer of the marketplace waits a few
# milliseconds, so the collection lasts long enough to be cut.
#
# Prints one line per kill, the comparison and a verdict line; the seed it
# prints repeats the same kill instants.
#
# Usage: bench/crash_resume.sh [KILLS] [MEMBERS] [SEED]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kills=${1:-20}
members=${2:-500}
seed=${3:-$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')}
delay_ms=20
search_delay_ms=100
keyword=手机
build=$root/build-bench

source "$root/bench/bench_lib.sh"
build_bench

make_work qinglan-crash

echo "pages: 1 keyword of $members members, every answer after $delay_ms ms, the search page after $search_delay_ms ms"
python3 "$root/bench/load_bench.py" pages "$work/www" 1 "$members" >"$work/pages.txt"
head -n 2 "$work/pages.txt"
search_key=search/$(python3 -c 'import sys; print("".join("%%%02X" % b for b in sys.argv[1].encode("gb2312")))' "$keyword")

start_marketplace "$work/server.txt" --dir "$work/www" --delay-ms "$delay_ms" \
    --behaviour "$search_key=delay:$search_delay_ms"

python3 "$root/bench/crash_resume.py" "$build/app/qinglan" "$work" "$keyword" "$kills" "$seed" \
    "$search_delay_ms" -- --search-host "127.0.0.1:$port" --member-host "127.0.0.1:$port" \
    --contact-domain "localhost:$port"
