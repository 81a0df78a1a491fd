#!/usr/bin/env bash
# The native note peer for a test run, started before the tests that send to
# it and stopped after them.
#
#   note-peer.sh start DIR PROGRAM
#       the peer in the background on DIR; DIR/address then holds
#       "ADDRESS PORT", DIR/log what it says
#   note-peer.sh stop DIR
#       waits up to 10 s for it to end, then ends it (its test checks that
#       the answer came)
set -euo pipefail

say() { echo "note-peer: $*" >&2; }

case ${1:-} in
start)
    dir=$2 program=$3
    rm -rf "$dir" && mkdir -p "$dir"
    # Every descriptor goes to a file, so that the test runner does not wait
    # on an inherited pipe; the wrapper keeps the exit code.
    (
        "$program" "$dir" 2>"$dir/log" &
        echo $! >"$dir/pid"
        wait $! && echo 0 >"$dir/exit.new" || echo $? >"$dir/exit.new"
        mv "$dir/exit.new" "$dir/exit"
    ) </dev/null >/dev/null 2>&1 &
    for _ in $(seq 100); do
        [[ -f $dir/address ]] && exit 0
        [[ -f $dir/exit ]] && break
        sleep 0.1
    done
    say "the peer did not start"; cat "$dir/log" >&2; exit 1
    ;;
stop)
    dir=$2
    for _ in $(seq 100); do
        [[ -f $dir/exit ]] && exit 0
        sleep 0.1
    done
    say "no note came"; kill -TERM "$(<"$dir/pid")" 2>/dev/null || true
    ;;
*) say "usage: note-peer.sh start DIR PROGRAM | stop DIR"; exit 2 ;;
esac
