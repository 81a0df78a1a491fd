#!/usr/bin/env bash
# Robots end to end: the server and several robots as real processes on
# loopback addresses, each robot with its own folder.
#
#   robots-e2e.sh SERVER ROBOT DIR
#
# ann (127.0.0.2) and bob (127.0.0.3) take connections; dave takes none and is
# reached through the relay; carol starts only after a note was left for her.
# bob sends notes from a third address with "send"; ann's and dave's
# automatic replies reach bob's running robot. Then the server is killed and
# started again, and the robots log in again by themselves; then it stops
# answering, and the robots notice.
set -euo pipefail
server=$1 robot=$2 dir=$3
rm -rf "$dir" && mkdir -p "$dir" && cd "$dir"
port=$((20000 + RANDOM % 20000)) peer=$((port + 1)) http=$((port + 2))
pids=()
cleanup() { for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT
fail() { echo "robots-e2e: $*" >&2; for log in *.log; do echo "== $log" >&2; cat "$log" >&2; done; exit 1; }
# Waits up to 20 s for a log line.
expect_log() {
    for _ in $(seq 200); do grep -q -- "$2" "$1.log" 2>/dev/null && return 0; sleep 0.1; done
    fail "$1 never logged: $2"
}

for user in ann bob carol dave; do echo "$user-pw" | "$server" --database db admin add-user "$user" >/dev/null; done
start_server() {
    "$server" --listen 127.0.0.1 --port "$port" --peer-port "$peer" --web-port 0 --database db --control-socket ctl \
        --server-name mainhub >>server.log 2>&1 &
    server_pid=$!
    pids+=("$server_pid")
    for _ in $(seq 100); do grep -q "listening on" server.log && return 0; sleep 0.1; done
    fail "the server did not start"
}
start_server
common=(--server 127.0.0.1 --server-port "$port" --peer-port "$peer" --http-port "$http" --retry-every 1
        --monitor-second-ms 50)
start_robot() {
    local user=$1 address=$2
    shift 2
    "$robot" "${common[@]}" --user "$user" --password "$user-pw" --data "$user" --bind "$address" \
        --away-message "$user is away" "$@" >"$user.log" 2>&1 &
    pids+=($!)
    expect_log "$user" "logged in"
}
start_robot ann 127.0.0.2
start_robot bob 127.0.0.3
start_robot dave 127.0.0.6 --behind-proxy
send() { "$robot" "${common[@]}" --user bob --password bob-pw --data sender --bind 127.0.0.4 send "$@" >>send.log 2>&1; }

head -c 300000 /dev/urandom >file.bin
send --to ann@127.0.0.1 --text "Lunch at one?" --file file.bin || fail "the note to ann was not sent"
cmp -s file.bin ann/files/file.bin || fail "ann's file differs from the one sent"
expect_log ann "You have received a note from 'bob@127.0.0.1'"
expect_log bob "You have received a reply from 'ann@127.0.0.1'"

send --to dave@127.0.0.1 --text "Behind a firewall?" || fail "the note to dave was not sent"
expect_log dave "You have received a note from 'bob@127.0.0.1'"
expect_log bob "You have received a reply from 'dave@127.0.0.1'"
grep -q "relay .* joined" server.log || fail "the note to dave did not go through the relay"

send --to carol@127.0.0.1 --text "See you tomorrow" || fail "the note for carol was not left on the server"
start_robot carol 127.0.0.5
expect_log carol "A total of 1 note has been downloaded"

# The server goes and comes back; every robot logs in again by itself.
kill -KILL "$server_pid"
expect_log ann "connection to the server lost"
start_server
for user in ann bob dave; do
    for _ in $(seq 200); do [[ $(grep -c "logged in" "$user.log") -ge 2 ]] && break; sleep 0.1; done
    [[ $(grep -c "logged in" "$user.log") -ge 2 ]] || fail "$user did not log in again"
done

# A server that stops answering (but keeps its connections) is dropped by
# the connection monitor, whose second the robots shorten.
kill -STOP "$server_pid"
for _ in $(seq 300); do [[ $(grep -c "connection to the server lost" ann.log) -ge 2 ]] && break; sleep 0.1; done
kill -CONT "$server_pid"
[[ $(grep -c "connection to the server lost" ann.log) -ge 2 ]] || fail "the silent server was not noticed"

# A clean stop saves the robots' files.
for pid in "${pids[@]:1}"; do kill -TERM "$pid" 2>/dev/null || true; done
for user in ann bob carol dave; do expect_log "$user" "stopped, files saved"; done
[[ -s bob/Notes/NewNotes.nts ]] || fail "bob keeps no notes"
echo "robots-e2e: all passed"
