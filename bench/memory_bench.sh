#!/usr/bin/env bash
# The memory of the whole process when every transfer meets an endless body:
# `qinglan collect` of one keyword whose 64 member cards never end, with
# --parallel 64 --connections 64 --per-host 64, against the sample
# marketplace on 127.0.0.1. Prints the peak RSS (max RSS from wait4) with
# the default page budget and with a budget that holds nothing back; each
# run is killed after MEMORY_BENCH_SECONDS (default 120).
#
# Usage: bench/memory_bench.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD:-$root/build-bench}
helper=$root/bench/memory_bench.py
seconds=${MEMORY_BENCH_SECONDS:-120}

source "$root/bench/bench_lib.sh"
[ -n "${BENCH_BUILD:-}" ] || build_bench

make_work qinglan-memory

read -r -a behaviours < <(python3 "$helper" pages "$work/www")
start_marketplace "$work/server.txt" --dir "$work/www" "${behaviours[@]}"

python3 "$helper" measure "$build/app/qinglan" "$work" "$seconds" -- \
    --search-host "127.0.0.1:$port" --member-host "127.0.0.1:$port" \
    --contact-domain "localhost:$port"
