#!/usr/bin/env bash
# The server's web host end to end. Accounts are created the client's way,
# from a server list of three where only the third server answers. Then a
# real browser (headless Chromium) finds a user on the people-search page and
# follows the add link to a running robot, whose contact list then holds
# that user.
#
#   web-e2e.sh SERVER ROBOT DIR
set -euo pipefail
server=$1 robot=$2 dir=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/e2e-lib.sh"
rm -rf "$dir" && mkdir -p "$dir" && cd "$dir"
port=$((20000 + RANDOM % 20000)) web=$((port + 1)) peer=$((port + 2)) http=$((port + 3))

# The server's own entry comes first and names a port where nobody listens,
# as does the second; the third is the web host itself.
account_path=/cgi-bin/vellumpost/createac.dll
"$server" --listen 127.0.0.1 --port "$port" --peer-port "$peer" --web-port "$web" --web-address 127.0.0.1:1 \
    --list-server "http://127.0.0.1:1$account_path? elsewhere Another hub" \
    --list-server "http://127.0.0.1:$web$account_path? mainhub The third" \
    --add-contact-port "$http" --database db --control-socket ctl --server-name mainhub >server.log 2>&1 &
pids+=($!)
expect_log server "web host on"

create() {  # USER PASSWORD ARGS...: the robot's exit code
    local user=$1 password=$2
    shift 2
    "$robot" --user "$user" --password "$password" --data "$user" create-account \
        --list-url "http://127.0.0.1:$web/cgi-bin/vellumpost/svrlist.dll" "$@" >>"$user.log" 2>&1
}
create frank frank-pw --pick 3 || fail "frank's account was not created"
expect_log frank "servers offered: mainhub | elsewhere Another hub | mainhub The third"
expect_log frank "Your Account was successfully created."
! create frank other-pw --pick 3 || fail "a taken name was created again"
expect_log frank "That user name has already been taken."
! create gina abc --pick 3 || fail "a short password was accepted"
expect_log gina "Your password must be at least 4 characters long."
! create gina gina-pw --pick 1 || fail "the list's first server, where nobody listens, took an account"
expect_log gina "Sorry, unable to make a connection."
create erin erin-pw --pick 3 || fail "erin's account was not created"

# erin runs and listens on 127.0.0.1, where the browser's add link goes.
"$robot" --server 127.0.0.1 --server-port "$port" --peer-port "$peer" --http-port "$http" --bind 127.0.0.1 \
    --user erin --password erin-pw --data erin >>erin.log 2>&1 &
erin_pid=$!
pids+=("$erin_pid")
expect_log erin "logged in"

# The add-contact page as the client serves it: added, then already there;
# a request from another address than 127.0.0.1 gets no answer at all.
page() { curl -s "$@" "http://127.0.0.1:$http/Ann%20Lee@MainHub" || true; }
[[ $(page) == *"Has been added to your contact list!"* ]] || fail "Ann Lee was not added"
[[ $(page) == *"Is already in your contact list!"* ]] || fail "Ann Lee was added twice"
[[ -z $(page --interface 127.0.0.2) ]] || fail "a request from 127.0.0.2 was answered"
expect_log erin "the contact list shows ann lee@mainhub"

python3 "$here/browser-follow-link.py" "http://127.0.0.1:$web/search?q=frank" "frank@mainhub" >browser.log 2>&1 ||
    fail "the browser did not follow the add link"
expect_log browser "followed http://127.0.0.1:$http/frank@mainhub"
expect_log browser "Has been added to your contact list!"
expect_log erin "the contact list shows frank@mainhub"

kill -TERM "$erin_pid"
expect_log erin "stopped, files saved"
grep -q "frank" erin/Contacts/List.anc || fail "erin's saved contact list does not hold frank"
echo "web-e2e: all passed"
