#!/usr/bin/env bash
# `qinglan collect` against a Scrapy spider making the same requests
# (bench/scrapy_spider.py), both at 16 transfers at once and 8 per host, on
# the sample marketplace holding every answer 20 ms and then 50 ms: one
# keyword of 200 members, and four keywords of 200 members collected at
# once. Every run starts from an empty data folder; after each pair of runs
# both databases must hold every member's row, the same rows per keyword.
# Prints per case the median wall time and CPU time of each, members per
# second, qinglan's throughput over Scrapy's (goal: at least 1.5) and
# qinglan's time over the bound that latency sets, requests / 16 x latency
# (goal: at most 1.3), with a verdict per goal.
#
# Usage: bench/scrapy_compare.sh [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-3}
members=200
keyword_count=4
build=$root/build-bench
# Scrapy comes from Debian, so the spider runs on Debian's interpreter
# whatever python3 comes first on the PATH.
spider_python=/usr/bin/python3

if ! "$spider_python" -c 'import scrapy' 2>/dev/null; then
    sudo_cmd=(); ((EUID == 0)) || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends python3-scrapy >/dev/null 2>&1 || {
        "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
        "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends python3-scrapy >/dev/null
    }
fi
echo "Scrapy $("$spider_python" -c 'import scrapy; print(scrapy.__version__)'), Twisted $("$spider_python" -c 'import twisted; print(twisted.__version__)')"

source "$root/bench/bench_lib.sh"
build_bench

make_work qinglan-scrapy

python3 "$root/bench/load_bench.py" pages "$work/www" "$keyword_count" "$members" >"$work/pages.txt"
read -r -a keywords < <(tail -n 1 "$work/pages.txt")
echo "pages: ${keywords[*]}, $members members each"

# One sample marketplace per latency, both on loopback for the whole run.
servers=()
for delay in 20 50; do
    start_marketplace "$work/server-$delay.txt" --dir "$work/www" --delay-ms "$delay"
    servers+=("$delay=$port")
done

python3 "$root/bench/scrapy_compare.py" measure "$work" "$runs" "$build/app/qinglan" \
    "$spider_python" "$root/bench/scrapy_spider.py" "$work/www/expected.json" "${servers[@]}" -- "${keywords[@]}"
