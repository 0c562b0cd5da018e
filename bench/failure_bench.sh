#!/usr/bin/env bash
# Failures that must cost little: `qinglan collect` against a sample
# marketplace whose member cards misbehave, and against a database another
# program holds locked. Measured in one run, each with its goal and verdict:
#  (a) the peak memory (max RSS, from wait4) of a collection whose one member
#      card never ends: the member must fail as "page too large", exit 1;
#  (b) the time to give up on a card trickling one byte every 0.9 s, with
#      --retries 0 (one transfer: the slow timeout, about 30 s) and with the
#      default limits (four transfers and the back-off between them); these
#      runs only wait, so they all go at once;
#  (c) the time from SIGINT to the exit of a collection whose next row waits
#      for a database that another process holds with BEGIN EXCLUSIVE, taken
#      after the search page was stored.
# Medians of 3 runs. Takes about two and a half minutes, most of it (b).
#
# Usage: bench/failure_bench.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-bench
helper=$root/bench/failure_bench.py

source "$root/bench/bench_lib.sh"
build_bench

make_work qinglan-failure

read -r -a behaviours < <(python3 "$helper" pages "$work/www")
# Every other answer waits 2 ms, so the collection of (c) is still storing
# rows when the database is locked.
start_marketplace "$work/server.txt" --dir "$work/www" --delay-ms 2 "${behaviours[@]}"

python3 "$helper" measure "$build/app/qinglan" "$work" -- --search-host "127.0.0.1:$port" \
    --member-host "127.0.0.1:$port" --contact-domain "localhost:$port"
