#!/usr/bin/env bash
# The server program for a test run, started before the tests that need it
# and stopped after them.
#
#   test-server.sh start DIR PROGRAM
#       a fresh database in DIR with ann, bob and carol (passwords ann-pw,
#       bob-pw, carol-pw), and the program on a free loopback port; DIR/address
#       then holds "127.0.0.1 PORT", DIR/log what the program logs
#   test-server.sh stop DIR
#       ends it with SIGTERM; fails unless it exits cleanly within 20 s
set -euo pipefail

say() { echo "test-server: $*" >&2; }

stop() {
    local dir=$1 pid
    [[ -f $dir/pid ]] || return 0
    pid=$(<"$dir/pid")
    rm -f "$dir/pid"
    kill -TERM "$pid" 2>/dev/null || { say "the server was no longer running"; cat "$dir/log" >&2; return 1; }
    for _ in $(seq 200); do
        [[ -f $dir/exit ]] && break
        sleep 0.1
    done
    [[ -f $dir/exit ]] || { say "the server did not stop within 20 s"; kill -KILL "$pid"; return 1; }
    [[ $(<"$dir/exit") == 0 ]] || { say "the server exited with $(<"$dir/exit")"; cat "$dir/log" >&2; return 1; }
}

case ${1:-} in
start)
    dir=$2 program=$3
    stop "$dir" || true
    rm -rf "$dir" && mkdir -p "$dir"
    for user in ann bob carol; do
        echo "$user-pw" | "$program" --database "$dir/accounts.db" admin add-user "$user" >/dev/null
    done
    # The wrapper keeps the exit code; every descriptor goes to a file, so
    # that the test runner does not wait on an inherited pipe.
    (
        "$program" --listen 127.0.0.1 --port 0 --web-port 0 --peer-port 1 --database "$dir/accounts.db" \
            --control-socket "$dir/control" --server-name mainhub --greeting "Hello from mainhub." 2>"$dir/log" &
        echo $! >"$dir/pid"
        wait $! && echo 0 >"$dir/exit.new" || echo $? >"$dir/exit.new"
        mv "$dir/exit.new" "$dir/exit"
    ) </dev/null >/dev/null 2>&1 &
    for _ in $(seq 300); do
        port=$(sed -n 's/.* port \([0-9]*\) .*/\1/p' "$dir/log" 2>/dev/null | head -n1 || true)
        [[ -n $port ]] && { echo "127.0.0.1 $port" >"$dir/address"; exit 0; }
        [[ -f $dir/exit ]] && break
        sleep 0.1
    done
    say "the server did not start"; cat "$dir/log" >&2; stop "$dir" || true; exit 1
    ;;
stop) stop "$2" ;;
*) say "usage: test-server.sh start DIR PROGRAM | stop DIR"; exit 2 ;;
esac
