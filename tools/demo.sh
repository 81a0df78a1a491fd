#!/usr/bin/env bash
# The demo: builds the programs (natively and for Windows), starts
# vellumpost-server on loopback with three accounts (ann, bob and carol,
# passwords ann-pw, bob-pw, carol-pw), and has the client's own session
# requests made against it by the Windows build under wine64 and by the
# Linux build, then shows what the server logged and stops it; then the
# Windows client core sends a note with a file to a Linux client core, which
# answers with the same file. Installs what it lacks first.
#
# The client's windows and the robot do not exist yet; until they do, the
# client core talks to the server from a test program.
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
if [[ $keep == --keep ]]; then
    echo "demo: the server keeps running; stop it with: tests/support/test-server.sh stop $server"
fi
