#!/usr/bin/env bash
# The demo: builds the programs (the server and the robot natively, the client
# for Windows), starts vellumpost-server on 127.0.0.1 with the client's
# standard ports and four accounts (ann, bob, carol, dave; passwords ann-pw,
# ...), two robots (ann, away with her automatic reply, and carol), and
# Vellumpost.exe under Wine on a virtual display, logged in as bob. carol's
# robot sends bob a note, which opens on his desktop, and sends ann a note
# with a file, whose automatic reply comes back; bob writes ann a note in a
# note window, and her automatic reply opens on his desktop. A screenshot of bob's
# desktop is saved and its path printed. Installs what it lacks first.
#
#   tools/demo.sh [--keep]   --keep leaves everything running until Enter is
#                            pressed, with the display to look at
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VP_BUILD_DIR:-$root/build}
jobs=$(nproc)
keep=${1:-}

"$root/tools/install-deps.sh"
cmake -S "$root" -B "$build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/release" -j "$jobs" --target vellumpost-server vellumpost-robot
cmake -S "$root" -B "$build/win" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" >/dev/null
cmake --build "$build/win" -j "$jobs" --target Vellumpost vpdriver

server="$build/release/server/vellumpost-server"
robot="$build/release/robot/vellumpost-robot"
client="$build/win/src/app/Vellumpost.exe"
driver="$build/win/tests/vpdriver.exe"
demo="$build/demo"
rm -rf "$demo" && mkdir -p "$demo"
export VP_ARTIFACTS="$build/artifacts"
mkdir -p "$VP_ARTIFACTS"

pids=()
stop_all() { for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap stop_all EXIT
wait_log() {  # FILE TEXT
    for _ in $(seq 200); do grep -q -- "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
    echo "demo: $1 never said: $2" >&2
    cat "$1" >&2
    return 1
}

for user in ann bob carol dave; do echo "$user-pw" | "$server" --database "$demo/db" admin add-user "$user" >/dev/null; done
"$server" --listen 127.0.0.1 --port 5000 --web-port 0 --database "$demo/db" --control-socket "$demo/ctl" \
    --server-name mainhub >"$demo/server.log" 2>&1 &
pids+=($!)
wait_log "$demo/server.log" "listening on" ||
    { echo "demo: the server could not listen on 127.0.0.1:5000 (is another one running?)" >&2; exit 1; }
echo "demo: vellumpost-server listens on 127.0.0.1 port 5000 (log: $demo/server.log)"

# The client holds the peer port on every address; the robots take no
# connections and are reached through the server's relay.
robot_options=(--server 127.0.0.1 --behind-proxy)
"$robot" "${robot_options[@]}" --user ann --password ann-pw --data "$demo/ann" --contact bob@127.0.0.1 \
    --away-message "Try me! This is ann's robot: your note arrived." >"$demo/ann.log" 2>&1 &
pids+=($!)
"$robot" "${robot_options[@]}" --user carol --password carol-pw --data "$demo/carol" >"$demo/carol.log" 2>&1 &
pids+=($!)
wait_log "$demo/ann.log" "logged in"
wait_log "$demo/carol.log" "logged in"
echo "demo: the robots of ann (away) and carol are logged in"

# Everything on the Windows side runs in one Wine session with a prefix of
# its own; the session ends with this script.
export WINEPREFIX="$build/demo-prefix" VP_WINE_TIMEOUT=86400
"$root/tools/wine-session.sh" bash -s -- "$root" "$client" "$driver" "$robot" "$demo" "$keep" <<'SESSION'
set -euo pipefail
root=$1 client=$2 driver=$3 robot=$4 demo=$5 keep=$6
drive() { "$WINE" "$driver" "$@" >>"$demo/driver.log" 2>&1 || { tail -n1 "$demo/driver.log" >&2; exit 1; }; }
"$WINE" reg delete 'HKCU\Software\Tarrow Systems' /f >/dev/null 2>&1 || true
rm -rf "$WINEPREFIX/drive_c/Vellumpost"
mkdir -p "$WINEPREFIX/drive_c/Vellumpost"
bash "$root/tools/client-setup.sh" 'C:\Vellumpost' bob 127.0.0.1 bob-pw >/dev/null 2>&1

"$WINE" "$client" >"$demo/client.log" 2>&1 &
client_pid=$!
drive box Vellumpost $'Vellumpost has detected that this is your first time using this application.\nSome sample entries has been created in your contact list for you.' 1
drive tip "Vellumpost - Connected as bob@127.0.0.1"
echo "demo: Vellumpost.exe runs under Wine, logged in as bob (its tray tip: \"Vellumpost - Connected as bob@127.0.0.1\")"

head -c 50000 /dev/urandom >"$demo/photo.bin"
send() { "$robot" --server 127.0.0.1 --behind-proxy --user carol --password carol-pw --data "$demo/carol-send" send "$@" 2>&1 | cut -d' ' -f3-; }
echo "demo: carol's robot sends bob a note, and ann one with a 50,000-byte file:"
send --to bob@127.0.0.1 --text "Hello bob! This note came from carol's robot."
drive window NotePaper carol@127.0.0.1
send --to ann@127.0.0.1 --text "Lunch at one?" --file "$demo/photo.bin"
for _ in $(seq 100); do grep -q "received a reply" "$demo/carol.log" && break; sleep 0.1; done
cmp -s "$demo/photo.bin" "$demo/ann/files/photo.bin" && echo "demo: ann's robot has the file, byte for byte"
grep -h "received a reply\|is online\|is offline" "$demo/carol.log" "$demo/ann.log" | cut -d' ' -f3- | sed 's/^/demo:   /'

echo "demo: bob writes a note to ann in a new note window and presses Send; her robot's automatic reply"
echo "demo: opens on his desktop:"
drive command 40104
drive window NotePaper Note
drive set-text NotePaper Note 1004 ann@127.0.0.1
drive set-text NotePaper ann@127.0.0.1 1002 "Are you coming to lunch?"
drive post NotePaper ann@127.0.0.1 0x111 1003
drive text NotePaper ann@127.0.0.1 1001 "Received (via auto-reply)*"
grep -h "received a note from 'bob" "$demo/ann.log" | cut -d' ' -f3- | sed 's/^/demo:   /'

sleep 0.5
import -display "$DISPLAY" -window root "$VP_ARTIFACTS/demo-desktop.png"
echo "demo: bob's desktop (the contact list window, carol's note, bob's note and ann's reply, the tray icon):"
echo "demo:   $VP_ARTIFACTS/demo-desktop.png"

if [[ $keep == --keep ]]; then
    echo "demo: the client runs on the X display $DISPLAY; to look at it:"
    echo "demo:   import -display $DISPLAY -window root shot.png    (a fresh screenshot)"
    echo "demo:   x11vnc -display $DISPLAY -localhost               (then a VNC viewer on localhost:5900)"
    read -r -p "demo: press Enter to stop everything. " _ </dev/tty || sleep infinity
fi
drive command 40015
drive box "Confirm Shutdown - Vellumpost" "Are you sure you want to shutdown Vellumpost?" 1
wait "$client_pid" && echo "demo: the client was asked to exit, answered Yes, and ended cleanly"
SESSION
echo "demo: the server logged:"
cut -d' ' -f3- "$demo/server.log" | sed 's/^/demo:   /'
