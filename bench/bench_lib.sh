# What the end-to-end benchmark scripts share; source it after setting
# `root` to the repository and `build` to the build tree to use.
#
#   build_bench                       installs what is missing, builds $build (Release)
#   make_work NAME                    a fresh $work folder, removed on exit with every
#                                     marketplace started below
#   start_marketplace LOG [--nice N] ARGS...
#                                     starts tools/sample_marketplace ARGS on 127.0.0.1,
#                                     waits until it listens and sets $port
#   start_postgres                    a PostgreSQL server of its own in $work/pg on
#                                     127.0.0.1 (role qinglan, no password); sets $pg_port,
#                                     stopped on exit; psql_on DB SQL runs SQL in it

marketplace_pids=()

build_bench() {
    "$root/scripts/setup"
    CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2} \
        "$root/scripts/build" "$build" -DCMAKE_BUILD_TYPE=Release -DQINGLAN_BUILD_TESTS=OFF >/dev/null
}

stop_bench() {
    local pid
    for pid in "${marketplace_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}

make_work() {
    work=$(mktemp -d "/tmp/$1.XXXXXX")
    trap stop_bench EXIT
}

start_marketplace() {
    local log=$1 niceness=0
    shift
    if [ "${1:-}" = --nice ]; then
        niceness=$2
        shift 2
    fi
    nice -n "$niceness" "$build/tools/sample_marketplace" "$@" >"$log" 2>&1 &
    marketplace_pids+=($!)
    port=
    for _ in $(seq 100); do
        port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$log")
        [ -n "$port" ] && return 0
        sleep 0.05
    done
    echo "the sample marketplace did not start" >&2
    cat "$log" >&2
    exit 1
}

pg_bin=/usr/lib/postgresql/15/bin

# PostgreSQL refuses to run as root: as root, the server runs as postgres.
as_server() {
    if [ "$(id -u)" = 0 ]; then
        setpriv --reuid=postgres --regid=postgres --clear-groups -- "$@"
    else
        "$@"
    fi
}

stop_postgres() {
    [ -f "$work/pg/data/postmaster.pid" ] &&
        as_server "$pg_bin/pg_ctl" -D "$work/pg/data" stop -m fast >/dev/null 2>&1 || true
}

start_postgres() {
    mkdir -p "$work/pg/socket"
    chmod 755 "$work"
    [ "$(id -u)" = 0 ] && chown -R postgres:postgres "$work/pg"
    as_server "$pg_bin/initdb" -D "$work/pg/data" -U qinglan -A trust -E UTF8 --locale=C \
        >"$work/pg/initdb.log"
    pg_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    as_server "$pg_bin/pg_ctl" -D "$work/pg/data" -l "$work/pg/log" -w \
        -o "-p $pg_port -k $work/pg/socket -c listen_addresses=127.0.0.1" start >/dev/null
}

psql_on() { as_server "$pg_bin/psql" -h 127.0.0.1 -p "$pg_port" -U qinglan -d "$1" -qAtc "$2"; }
