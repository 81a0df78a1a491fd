#!/usr/bin/env bash
# Robots end to end: the server and several robots as real processes on
# loopback addresses, each robot with its own folder.
#
#   robots-e2e.sh SERVER ROBOT DIR
#
# ann (127.0.0.2) and bob (127.0.0.3) take connections and have each other
# as contacts; dave takes none and is
# reached through the relay; carol starts only after a note was left for her.
# bob sends notes from a third address with "send"; ann's and dave's
# automatic replies reach bob's running robot. Then the server is killed and
# started again, and the robots log in again by themselves; then it stops
# answering, and the robots notice.
set -euo pipefail
server=$1 robot=$2 dir=$3
source "$(dirname "${BASH_SOURCE[0]}")/e2e-lib.sh"
rm -rf "$dir" && mkdir -p "$dir" && cd "$dir"
port=$((20000 + RANDOM % 20000)) peer=$((port + 1)) http=$((port + 2))

for user in ann bob carol dave; do echo "$user-pw" | "$server" --database db admin add-user "$user" >/dev/null; done
start_server() {
    "$server" --listen 127.0.0.1 --port "$port" --peer-port "$peer" --web-port 0 --database db --control-socket ctl \
        --server-name mainhub >>server.log 2>&1 &
    server_pid=$!
    pids+=("$server_pid")
    expect_log server "listening on"
}
start_server
common=(--server 127.0.0.1 --server-port "$port" --peer-port "$peer" --http-port "$http" --retry-every 1
        --monitor-second-ms 50)
start_robot() {
    local user=$1 address=$2
    shift 2
    "$robot" "${common[@]}" --user "$user" --password "$user-pw" --data "$user" --bind "$address" \
        --away-message "$user is away" "$@" >"$user.log" 2>&1 &
    robot_pid=$!
    pids+=("$robot_pid")
    expect_log "$user" "logged in"
}
# Presence both ways: bob's query finds ann online and his log-in is pushed
# to ann; ann leaving and coming back is pushed to bob.
start_robot ann 127.0.0.2 --contact bob@127.0.0.1
ann_pid=$robot_pid
expect_log ann "contact bob@127.0.0.1 is offline"
start_robot bob 127.0.0.3 --contact ann@127.0.0.1
expect_log bob "contact ann@127.0.0.1 is online at 127.0.0.2"
expect_log ann "contact bob@127.0.0.1 is online at 127.0.0.3"
kill -TERM "$ann_pid"
wait "$ann_pid" || fail "ann did not stop cleanly"
expect_log bob "contact ann@127.0.0.1 is offline"
start_robot ann 127.0.0.2
expect_count bob 2 "contact ann@127.0.0.1 is online at 127.0.0.2"
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
for user in ann bob dave; do expect_count "$user" 2 "logged in"; done

# A server that stops answering (but keeps its connections) is dropped by
# the connection monitor, whose second the robots shorten.
kill -STOP "$server_pid"
expect_count ann 2 "connection to the server lost"
kill -CONT "$server_pid"

# A clean stop saves the robots' files.
for pid in "${pids[@]:1}"; do kill -TERM "$pid" 2>/dev/null || true; done
for user in ann bob carol dave; do expect_log "$user" "stopped, files saved"; done
[[ -s bob/Notes/NewNotes.nts ]] || fail "bob keeps no notes"
echo "robots-e2e: all passed"
