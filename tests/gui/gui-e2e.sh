#!/usr/bin/env bash
# Vellumpost.exe in its windows under Wine, driven by tests/gui/vpdriver.cpp,
# with the server and robots running natively on loopback.
#
#   gui-e2e.sh SERVER ROBOT CLIENT DRIVER DIR
#
# Runs inside tools/wine-session.sh (it starts one when it is not inside).
# The client uses the standard ports, so the server listens on 127.0.0.1:5000
# and nothing else may run on them meanwhile. The robots take no connections
# (the client holds the peer port on every address); they are reached through
# the server's relay, as the client is under Wine.
#
# A screenshot of the desktop with the tray and a received note is left in
# $VP_ARTIFACTS/gui-desktop.png.
set -uo pipefail
server=$1 robot=$2 client=$3 driver=$4 dir=$5
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [[ -z ${WINEPREFIX:-} || -z ${DISPLAY:-} ]]; then
    exec "$here/../../tools/wine-session.sh" bash "${BASH_SOURCE[0]}" "$@"
fi
source "$here/../robot/e2e-lib.sh"
rm -rf "$dir" && mkdir -p "$dir" && cd "$dir" || exit 1

app_key='Software\Tarrow Systems'
root_folder='C:\Vellumpost-gui'
root_path="$WINEPREFIX/drive_c/Vellumpost-gui"
contacts=("Vellumpost ContactList" -)
note_class=NotePaper status_line=1001 body=1002 button=1003 name_field=1004 attachment=1005
# Tray menu commands and the tips.
hide=40073 away=40170 new_note=40104 hide_note=40083 save_as=40028 open_rtf=40029 exit_command=40015
file_name_field=1148  # of the system's open and save dialogs
tip_connected="Vellumpost - Connected as bob@127.0.0.1"
tip_disconnected="Vellumpost - Disconnected"

shot() { import -display "$DISPLAY" -window root "$VP_ARTIFACTS/$1.png" 2>/dev/null; }
# One step of the driver; a failed step ends the test with every log.
drive() {
    "$WINE" "$driver" "$@" >>driver.log 2>&1
    local rc=$?
    tail -n1 driver.log
    ((rc == 0)) || { shot gui-failure; fail "step failed: $*"; }
}
# The screen rectangle of the topmost note so titled, or of its control.
note_rect() { "$WINE" "$driver" rect "$note_class" "$@" | tr -d '\r'; }
pointer_drag() {  # FROM_X FROM_Y BY_X BY_Y, in two steps with the button held
    xdotool mousemove "$1" "$2" sleep 0.2 mousedown 1 sleep 0.2 mousemove $(($1 + $3 / 2)) $(($2 + $4 / 2)) \
        sleep 0.2 mousemove $(($1 + $3)) $(($2 + $4)) sleep 0.2 mouseup 1
}
# The real pointer drags the file out of a note's strip onto a window of the
# driver that takes files as a folder would, taking EFFECT (copy or move)
# when the note offers it; the driver's report must match WANTED.
drag_out() {  # TITLE EFFECT WANTED
    local left top target report
    read -r left top _ <<<"$(note_rect "$1" "$attachment")"
    "$WINE" "$driver" drop-target 300 100 "$2" >target.log 2>&1 &
    target=$!
    for _ in $(seq 100); do grep -q ready target.log && break; sleep 0.1; done
    # The strip's list starts a drag only once the pointer has moved inside it.
    xdotool mousemove $((left + 10)) $((top + 8)) sleep 0.3 mousedown 1 sleep 0.2 mousemove $((left + 20)) $((top + 8)) \
        sleep 0.2 mousemove $((left + 30)) $((top + 9)) sleep 0.3 mousemove 350 150 sleep 0.3 mousemove 360 160 \
        sleep 0.3 mouseup 1
    wait "$target"
    report=$(tail -n1 target.log | tr -d '\r')
    # shellcheck disable=SC2053  # WANTED is a pattern
    [[ $report == $3 ]] || { shot gui-failure; fail "dragging the file out of $1: $report"; }
    echo "$report"
}
start_client() {
    "$WINE" "$client" >>client.log 2>&1 &
    client_pid=$!
    pids+=("$client_pid")
}
expect_exit() {  # what: the client ends by itself with 0
    local waited=0
    while kill -0 "$client_pid" 2>/dev/null && ((waited < 150)); do sleep 0.1; ((waited++)); done
    kill -0 "$client_pid" 2>/dev/null && { shot gui-failure; fail "the client did not end: $1"; }
    wait "$client_pid" || fail "the client ended with $?: $1"
    echo "ok - the client ended with 0: $1"
}

# A clean slate: no installation, no settings, no files of an earlier run.
"$WINE" reg delete "HKCU\\$app_key" /f >>wine.log 2>&1
"$WINE" reg delete "HKLM\\$app_key" /f >>wine.log 2>&1
rm -rf "$root_path"

# Not installed: the box, then a clean end.
start_client
drive box Vellumpost $'This application is not installed correctly.\nPlease re-install it and try again.' 1
expect_exit "not installed"

# The server, and ann, who has bob (the client) on her list.
for user in ann bob carol dave erin; do echo "$user-pw" | "$server" --database db admin add-user "$user" >/dev/null; done
"$server" --listen 127.0.0.1 --port 5000 --web-port 0 --database db --control-socket ctl --server-name mainhub \
    >>server.log 2>&1 &
pids+=($!)
expect_log server "listening on"
robot_options=(--server 127.0.0.1 --behind-proxy --retry-every 1)
"$robot" "${robot_options[@]}" --user ann --password ann-pw --data ann --contact bob@127.0.0.1 \
    --away-message "ann is away" >ann.log 2>&1 &
ann_pid=$!
pids+=($!)
expect_log ann "logged in"

# Installed, with bob's account saved: the client logs in by itself.
mkdir -p "$root_path"
bash "$here/../../tools/client-setup.sh" "$root_folder" bob 127.0.0.1 bob-pw >>wine.log 2>&1 ||
    fail "the set-up failed"
start_client
drive box Vellumpost $'Vellumpost has detected that this is your first time using this application.\nSome sample entries has been created in your contact list for you.' 1
drive window "${contacts[@]}"
drive tip "$tip_connected"
drive status "${contacts[@]}" 0 Connected
drive status "${contacts[@]}" 1 bob@127.0.0.1
expect_log ann "contact bob@127.0.0.1 is online"

# The tray menu's changing parts: Connect and Disconnect by the connection,
# the away mark. Its items run from their mnemonics.
drive tray-click main right
drive menu "&Connect" grey "&Disconnect" - "Enable &Away" - "E&xit" -
drive tray-click main right
drive menu-key d
drive tip "$tip_disconnected"
drive status "${contacts[@]}" 0 Disconnected
expect_log ann "contact bob@127.0.0.1 is offline"
drive tray-click main right
drive menu "&Connect" - "&Disconnect" grey
drive tray-click main right
drive menu-key c
drive tip "$tip_connected"
expect_count ann 2 "contact bob@127.0.0.1 is online"
drive command "$away"
drive tip "Vellumpost - Away and Connected as bob@127.0.0.1"
drive tray-click main right
drive menu "Enable &Away" check "&Connect" grey
drive command "$away"
drive tip "$tip_connected"

# A second copy brings the hidden contact list forward and ends at once.
drive command "$hide"
drive hidden "${contacts[@]}"
"$WINE" "$client" >>client.log 2>&1 || fail "the second copy ended with $?"
echo "ok - the second copy ended with 0"
drive window "${contacts[@]}"
drive foreground "${contacts[@]}"

# A note from a robot opens on the desktop (ShowOnArrival is on by default).
"$robot" "${robot_options[@]}" --user carol --password carol-pw --data carol \
    send --to bob@127.0.0.1 --text "Lunch at one?" >>send.log 2>&1 || fail "carol's note was not delivered"
drive window "$note_class" carol@127.0.0.1
drive text "$note_class" carol@127.0.0.1 "$body" "Lunch at one?"
# A note with a file: its strip shows the file, kept in bob's received folder.
head -c 60000 /dev/urandom >menu.pdf
"$robot" "${robot_options[@]}" --user erin --password erin-pw --data erin \
    send --to bob@127.0.0.1 --text "Here is the menu." --file menu.pdf >>send.log 2>&1 || fail "erin's file was not delivered"
drive text "$note_class" erin@127.0.0.1 "$body" "Here is the menu."
drive control "$note_class" erin@127.0.0.1 "$attachment"
received=("$root_path"/Users/*/Attachments/menu.pdf)
cmp -s menu.pdf "${received[0]}" || fail "bob's received folder lacks erin's file"
echo "ok - erin's file is in bob's received folder, byte for byte"
shot gui-received-with-file
# Dragged out of the received folder, the file may move, and a move takes it
# off the note.
drag_out erin@127.0.0.1 move '*"C:\\Vellumpost-gui\\Users\\*\\Attachments\\menu.pdf", offered copy+move, took move'
drive no-control "$note_class" erin@127.0.0.1 "$attachment"

# A note written here: a new note from the tray menu, addressed and sent to
# ann, whose robot answers with her automatic reply.
drive command "$new_note"
drive window "$note_class" Note
# The real pointer (on the X display) drags the note by its title strip up and
# to the left, then makes it larger by its grip in the bottom-right corner.
read -r left top right bottom <<<"$(note_rect Note)"
pointer_drag $((left + 40)) $((top + 10)) -200 -150
moved=$(note_rect Note)
[[ $moved == "$((left - 200)) $((top - 150)) $((right - 200)) $((bottom - 150))" ]] ||
    fail "the note did not follow the pointer: $left $top $right $bottom -> $moved"
echo "ok - the note follows the pointer by its title strip"
read -r left top right bottom <<<"$moved"
pointer_drag $((right - 5)) $((bottom - 5)) 40 30
grown=$(note_rect Note)
[[ $grown == "$left $top $((right + 40)) $((bottom + 30))" ]] ||
    fail "the grip did not resize the note: $moved -> $grown"
echo "ok - the note grows by its grip"
drive set-text "$note_class" Note "$name_field" ann@127.0.0.1
drive set-text "$note_class" ann@127.0.0.1 "$body" "Are you coming?"
drive post "$note_class" ann@127.0.0.1 0x111 "$button"
drive text "$note_class" ann@127.0.0.1 "$status_line" "Sent: *"
expect_log ann "You have received a note from 'bob@127.0.0.1'"
drive text "$note_class" ann@127.0.0.1 "$status_line" "Received (via auto-reply)*"
drive text "$note_class" ann@127.0.0.1 "$button" "&Reply"

# A file dropped onto a new note goes with it to ann's robot; two files at
# once, or a folder, are refused.
head -c 100000 /dev/urandom >photo.bin
windows_path() { echo "Z:${1//\//\\}"; }
drive command "$new_note"
drive window "$note_class" Note
drive drop "$note_class" Note "$(windows_path "$PWD/photo.bin")" "$(windows_path "$PWD/server.log")"
drive box - "Each note can associate with at most 1 file(s)." 1
drive drop "$note_class" Note "$(windows_path "$PWD")"
drive box - "You cannot drop this object onto the note.*" 1
drive drop "$note_class" Note "$(windows_path "$PWD/photo.bin")"
drive control "$note_class" Note "$attachment"
# From anywhere else it may only be copied, and stays on the note.
drag_out Note move '*\\photo.bin", offered copy, took copy'
drive control "$note_class" Note "$attachment"
drive set-text "$note_class" Note "$name_field" ann@127.0.0.1
drive set-text "$note_class" ann@127.0.0.1 "$body" "The photo"
shot gui-note-with-file
drive post "$note_class" ann@127.0.0.1 0x111 "$button"
expect_count ann 2 "You have received a note from 'bob@127.0.0.1'"
cmp -s photo.bin ann/files/photo.bin || fail "ann's robot did not get the photo byte for byte"
echo "ok - the dropped file reached ann's robot byte for byte"

# Stop in the middle of a file: once it is under way ann's robot stops
# reading (SIGSTOP), so bob's buffers fill, and Stop still ends the transfer
# with its text and gives the note its Send button back.
truncate -s 400M film.bin
drive command "$new_note"
drive window "$note_class" Note
drive drop "$note_class" Note "$(windows_path "$PWD/film.bin")"
drive set-text "$note_class" Note "$name_field" ann@127.0.0.1
drive set-text "$note_class" ann@127.0.0.1 "$body" "The film"
drive post "$note_class" ann@127.0.0.1 0x111 "$button"
drive text "$note_class" ann@127.0.0.1 "$status_line" "Sending file (*"
kill -STOP "$ann_pid"
drive text "$note_class" ann@127.0.0.1 "$button" Stop
drive post "$note_class" ann@127.0.0.1 0x111 "$button"
drive box - "File transfer cancelled." 1
kill -CONT "$ann_pid"
drive text "$note_class" ann@127.0.0.1 "$button" "&Send"
# ann's robot, going on, finds the file cut short and removes what came.
for _ in $(seq 100); do [[ -e ann/files/film.bin ]] || break; sleep 0.1; done
[[ ! -e ann/files/film.bin ]] || fail "ann's robot kept the partial film"
echo "ok - Stop ends a transfer whose receiver stalled"

# Save As writes carol's note to an RTF file, and Open reads it into a new
# note (the dialogs are the system's: their file name field and OK).
drive post "$note_class" carol@127.0.0.1 0x111 "$save_as"
drive set-text "#32770" "Vellumpost Save As" "$file_name_field" "$(windows_path "$PWD/saved.rtf")"
drive post "#32770" "Vellumpost Save As" 0x111 1
drive box - "This note has been saved to '$(windows_path "$PWD/saved.rtf")'" 1
grep -aq "Lunch at one?" saved.rtf || fail "saved.rtf lacks the note's text"
echo "ok - saved.rtf holds the note's text"
drive command "$new_note"
drive window "$note_class" Note
drive post "$note_class" Note 0x111 "$open_rtf"
drive set-text "#32770" "Vellumpost Open" "$file_name_field" "$(windows_path "$PWD/saved.rtf")"
drive post "#32770" "Vellumpost Open" 0x111 1
drive box - "The file has been loaded" 1
drive text "$note_class" Note "$body" "Lunch at one?"

# RTF from another program: a text that LibreOffice turned into RTF opens in
# a note with its text intact, and the note saved as RTF turns back into the
# same text.
office() { HOME="$PWD" soffice -env:UserInstallation="file://$PWD/office" --headless "$@" >>office.log 2>&1; }
printf 'Minutes of the Tuesday meeting\nCaf\xc3\xa9 budget: {approved} \\ 42 items\n' >meeting.txt
office --convert-to rtf meeting.txt || fail "LibreOffice did not convert meeting.txt"
drive command "$new_note"
drive window "$note_class" Note
drive post "$note_class" Note 0x111 "$open_rtf"
drive set-text "#32770" "Vellumpost Open" "$file_name_field" "$(windows_path "$PWD/meeting.rtf")"
drive post "#32770" "Vellumpost Open" 0x111 1
drive box - "The file has been loaded" 1
# (Wine hands the driver its arguments from UTF-8.)
drive text "$note_class" Note "$body" "*Minutes of the Tuesday meeting*"
drive text "$note_class" Note "$body" $'*Caf\xc3\xa9 budget: {approved} \\ 42 items*'
drive post "$note_class" Note 0x111 "$save_as"
drive set-text "#32770" "Vellumpost Save As" "$file_name_field" "$(windows_path "$PWD/minutes.rtf")"
drive post "#32770" "Vellumpost Save As" 0x111 1
drive box - "This note has been saved to '$(windows_path "$PWD/minutes.rtf")'" 1
office --convert-to "txt:Text (encoded):UTF8" minutes.rtf || fail "LibreOffice did not convert minutes.rtf"
diff <(sed '1s/^\xEF\xBB\xBF//; s/\r$//' minutes.txt | sed -e :a -e '/^\n*$/{$d;N;ba' -e '}') meeting.txt >office-diff.log ||
    fail "minutes.rtf does not turn back into the text of meeting.txt"
echo "ok - the note saved as RTF turns back into the same text in LibreOffice"

# Reply quotes carol's note; Esc asks before a note goes (Cancel keeps it);
# Hide puts the reply into the hidden notes.
drive post "$note_class" carol@127.0.0.1 0x111 "$button"
drive text "$note_class" carol@127.0.0.1 "$body" "*>Lunch at one?*"
shot gui-reply
drive key "$note_class" carol@127.0.0.1 "$body" 0x1B
drive box - "Okay to delete this note?" 2
drive window "$note_class" carol@127.0.0.1
drive post "$note_class" carol@127.0.0.1 0x111 "$hide_note"
sleep 0.5
shot gui-desktop

# Exit asks first: No keeps the client, Yes ends it.
confirm="Confirm Shutdown - Vellumpost"
question="Are you sure you want to shutdown Vellumpost?"
drive command "$exit_command"
drive box "$confirm" "$question" 2
sleep 0.5
kill -0 "$client_pid" 2>/dev/null || fail "the client ended although the exit was declined"
echo "ok - the client runs on after No"
drive command "$exit_command"
drive box "$confirm" "$question" 1
expect_exit "exit answered Yes"
expect_log ann "contact bob@127.0.0.1 is offline"

# What survives: the note on the desktop, the settings.
notes=("$root_path"/Users/*/Notes/DesktopNotes.nts)
[[ -f ${notes[0]} ]] || fail "no desktop notes file under $root_path"
grep -aq "Lunch at one?" "${notes[0]}" || fail "the desktop notes file lacks carol's note"
echo "ok - the desktop notes file holds carol's note"
hidden=("$root_path"/Users/*/Notes/HiddenNotes.nts)
grep -aq "Lunch at one?" "${hidden[0]}" || fail "the hidden notes file lacks the reply to carol"
echo "ok - the hidden notes file holds the reply to carol"
general="$app_key\\Vellumpost\\GeneralOptions"
drive registry HKCU "$general" UserName bob
drive registry HKCU "$general" PromptOnExit 1

# Shown later: with ShowOnArrival off a note waits behind the new-notes icon.
"$WINE" reg add "HKCU\\$app_key\\Vellumpost\\NoteOptions" /v ShowOnArrival /t REG_DWORD /d 0 /f >>wine.log 2>&1
start_client
drive tip "$tip_connected"
drive window "$note_class" carol@127.0.0.1
"$robot" "${robot_options[@]}" --user dave --password dave-pw --data dave \
    send --to bob@127.0.0.1 --text "Or at two?" >>send.log 2>&1 || fail "dave's note was not delivered"
drive tip "Vellumpost - you have 1 new note."
drive hidden "$note_class" dave@127.0.0.1
drive tray-click new left
drive no-tip "Vellumpost - you have"
drive text "$note_class" dave@127.0.0.1 "$body" "Or at two?"
drive command "$exit_command"
drive box "$confirm" "$question" 1
expect_exit "the second run"
echo "gui-e2e: every step passed"
