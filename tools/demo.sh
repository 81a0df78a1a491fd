#!/usr/bin/env bash
# The demo: builds the programs (natively and for Windows), starts
# vellumpost-server on loopback with three accounts (ann, bob and carol,
# passwords ann-pw, bob-pw, carol-pw), and has the client's own session
# requests made against it by the Windows build under wine64 and by the
# Linux build, then shows what the server logged and stops it; then the
# Windows client core sends a note with a file to a Linux client core, which
# answers with the same file; then two robots log in and one sends the other
# a note with a file, which the other answers with its automatic reply.
# Installs what it lacks first.
#
# The client's windows do not exist yet; until they do, the Windows client
# core talks to the server from a test program.
#
#   tools/demo.sh [--keep]   --keep leaves the server running afterwards
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VP_BUILD_DIR:-$root/build}
jobs=$(nproc)
keep=${1:-}

"$root/tools/install-deps.sh"
cmake -S "$root" -B "$build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/release" -j "$jobs"
cmake -S "$root" -B "$build/win" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" \
    -DVP_NATIVE_SERVER="$build/release/server/vellumpost-server" \
    -DVP_NOTE_PEER="$build/release/tests/vellumpost-note-peer" >/dev/null
cmake --build "$build/win" -j "$jobs" --target client_server_tests note_e2e_tests

server="$build/demo-server"
"$root/tests/support/test-server.sh" start "$server" "$build/release/server/vellumpost-server"
[[ $keep == --keep ]] || trap '"$root/tests/support/test-server.sh" stop "$server"' EXIT
read -r host port <"$server/address"
echo
echo "demo: vellumpost-server is listening on $host port $port (log: $server/log)"

echo "demo: the Windows client core logs in, locates, asks for presence and changes a password:"
VP_TEST_SERVER_FILE="Z:$server/address" "$root/tools/wine-session.sh" \
    bash -c '"$WINE" "$0" --gtest_brief=1' "$build/win/tests/client_server_tests.exe"
echo "demo: the same from Linux:"
VP_TEST_SERVER_FILE="$server/address" "$build/release/tests/client_server_tests" --gtest_brief=1

echo
echo "demo: what the server logged:"
cut -d' ' -f3- "$server/log"

echo
echo "demo: the Windows client core sends a note with a 300,000-byte file to a Linux client core on"
echo "demo: 127.0.0.3, which answers with a note carrying the same file back:"
peer="$build/win/tests/note-peer"
"$root/tests/support/note-peer.sh" start "$peer" "$build/release/tests/vellumpost-note-peer"
"$root/tools/wine-session.sh" \
    bash -c '"$WINE" "$0" --gtest_brief=1 --gtest_filter=*OtherBuild' "$build/win/tests/note_e2e_tests.exe"
"$root/tests/support/note-peer.sh" stop "$peer"
echo "demo: what the Linux client core said:"
cat "$peer/log"
echo
echo "demo: two robots log in: ann on 127.0.0.2 (away, her automatic reply says \"Try me!\") and bob on"
echo "demo: 127.0.0.3, each a contact of the other, so each sees the other come online; bob sends ann a"
echo "demo: note with a 50,000-byte file, and her automatic reply comes back:"
robots="$build/demo-robots"
robot="$build/release/robot/vellumpost-robot"
rm -rf "$robots" && mkdir -p "$robots"
common=(--server "$host" --server-port "$port" --peer-port 25001 --http-port 25002)
"$robot" "${common[@]}" --user ann --password ann-pw --data "$robots/ann" --bind 127.0.0.2 --contact "bob@$host" \
    --away-message "Try me! This is ann's robot: your note arrived." >"$robots/ann.log" 2>&1 &
ann_robot=$!
"$robot" "${common[@]}" --user bob --password bob-pw --data "$robots/bob" --bind 127.0.0.3 --contact "ann@$host" >"$robots/bob.log" 2>&1 &
bob_robot=$!
for _ in $(seq 100); do grep -q "logged in" "$robots/ann.log" && grep -q "logged in" "$robots/bob.log" && break; sleep 0.1; done
head -c 50000 /dev/urandom >"$robots/photo.bin"
"$robot" "${common[@]}" --user bob --password bob-pw --data "$robots/bob-send" --bind 127.0.0.4 \
    send --to "ann@$host" --text "Lunch at one?" --file "$robots/photo.bin" 2>&1 | cut -d' ' -f3-
for _ in $(seq 100); do grep -q "received a reply" "$robots/bob.log" && break; sleep 0.1; done
kill -TERM "$ann_robot" "$bob_robot"
wait "$ann_robot" "$bob_robot" || true
cmp -s "$robots/photo.bin" "$robots/ann/files/photo.bin" && echo "demo: ann's robot has the file, byte for byte"
echo "demo: ann's robot logged:"
grep -v "sample entries\|first time" "$robots/ann.log" | cut -d' ' -f3-
echo "demo: bob's robot logged:"
grep -v "sample entries\|first time" "$robots/bob.log" | cut -d' ' -f3-

if [[ $keep == --keep ]]; then
    echo "demo: the server keeps running; stop it with: tests/support/test-server.sh stop $server"
fi
