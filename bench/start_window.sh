#!/usr/bin/env bash
# Start to a mapped main window: the windows' program launched ROUNDS times
# under Xvfb with a fresh data folder, each time timed from launch until
# `xdotool search --onlyvisible` first finds its window, asked again and
# again with no pause. The first launch (caches cold after a build) is
# printed apart; the median and range of the others follow.
#
# `xdotool search --sync` is not used for the figure: it asks once, then
# sleeps half a second between tries, so any window that maps within that
# half second reads as about 0.5 s. One such run is printed for comparison.
#
# Usage: bench/start_window.sh [ROUNDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-15}
build=$root/build-bench

source "$root/bench/bench_lib.sh"
build_bench
make_work qinglan-start-window

export QINGLAN=$build/app/qinglan WORK=$work ROUNDS=$rounds
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    now() { date +%s%N; }
    launch() {  # prints milliseconds from launch to a mapped window
        rm -rf "$WORK/data"
        local start end pid
        start=$(now)
        "$QINGLAN" --data-dir "$WORK/data" >"$WORK/run.log" 2>&1 &
        pid=$!
        until xdotool search --onlyvisible --class qinglan >/dev/null 2>&1; do :; done
        end=$(now)
        kill "$pid"
        wait "$pid" || true
        echo $(((end - start) / 1000000))
    }
    echo "first launch: $(launch) ms"
    times=()
    for round in $(seq "$ROUNDS"); do
        times+=("$(launch)")
    done
    sorted=$(printf "%s\n" "${times[@]}" | sort -n)
    echo "launches: $ROUNDS, median $(echo "$sorted" | sed -n "$(((ROUNDS + 1) / 2))p") ms," \
        "fastest $(echo "$sorted" | head -1) ms, slowest $(echo "$sorted" | tail -1) ms"
    start=$(now)
    "$QINGLAN" --data-dir "$WORK/data" >"$WORK/run.log" 2>&1 &
    pid=$!
    xdotool search --sync --onlyvisible --class qinglan >/dev/null
    end=$(now)
    kill "$pid"
    wait "$pid" || true
    echo "the same measured by xdotool search --sync: $(((end - start) / 1000000)) ms"
'
