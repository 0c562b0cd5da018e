#!/usr/bin/env bash
# Start and quit: the windows' program started under Xvfb against an update
# server that takes the connection and never answers, then ended by SIGTERM
# or SIGINT at a random instant of its first second (before, during and
# after its start-up), ROUNDS times. A round counts as
# clean when the program exits with status 0, or is ended by the signal
# itself before it could take it. A display that cannot be used (another
# Xvfb on the same number, a server gone) ends the program with status 1
# and a message, and is counted apart; any other end (above all SIGABRT) is
# printed with the program's last lines.
#
# Prints one line of counts; exits 1 when any round ended otherwise.
#
# Usage: bench/start_quit.sh [ROUNDS] [SEED]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-100}
seed=${2:-$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')}
build=$root/build-bench

source "$root/bench/bench_lib.sh"
build_bench
make_work qinglan-start-quit
mkdir -p "$work/pages"
start_marketplace "$work/update.log" --dir "$work/pages" \
    --behaviour 123.txt=never --behaviour up.txt=never

export QINGLAN=$build/app/qinglan WORK=$work PORT=$port ROUNDS=$rounds SEED=$seed
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    RANDOM=$SEED
    clean=0 early=0 no_display=0 bad=0
    for round in $(seq "$ROUNDS"); do
        "$QINGLAN" --data-dir "$WORK" --update-host "127.0.0.1:$PORT" >"$WORK/run.log" 2>&1 &
        pid=$!
        sleep "0.$(printf %03d $((RANDOM % 1000)))"
        if [ $((round % 2)) = 0 ]; then signal=TERM; number=15; else signal=INT; number=2; fi
        kill -s "$signal" "$pid" 2>/dev/null || true
        status=0
        wait "$pid" || status=$?
        if [ "$status" = 0 ]; then
            clean=$((clean + 1))
        elif [ "$status" = $((128 + number)) ]; then
            early=$((early + 1))
        elif [ "$status" = 1 ] && grep -q "无法打开窗口" "$WORK/run.log"; then
            no_display=$((no_display + 1))
        else
            bad=$((bad + 1))
            echo "round $round: exit status $status" >&2
            tail -3 "$WORK/run.log" >&2
        fi
    done
    echo "seed $SEED: $ROUNDS rounds, $clean clean exits, $early ended before they" \
        "could take the signal, $no_display without a usable display, $bad otherwise"
    [ "$bad" = 0 ]
'
