#!/usr/bin/env bash
# Two real ulmora programs, each with its own settings and database (two
# machines), sync through one Radicale calendar on 127.0.0.1. No keyring
# answers on the test's display, so each program asks for the password once at
# its start; the test types it. A task added on the first with --add reaches
# the server a few seconds later; the second program, started then, has it
# after its start; a task added there reaches the first at its next sync; and
# both end with status 0.
#   sync.sh ULMORA_BINARY
set -euo pipefail
bin="$1"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
e2e_require Xvfb xdotool radicale sqlite3 curl
e2e_start_display
# No session bus, whatever keyring packages the machine has: the program
# starts none, so no keyring answers, and the icons go nowhere.
unset DBUS_SESSION_BUS_ADDRESS

user=ulmora
password=e2e-secret
port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
mkdir -p "$work/radicale"
echo "$user:$password" >"$work/radicale/users"
cat >"$work/radicale/config" <<EOF
[server]
hosts = 127.0.0.1:$port
[auth]
type = htpasswd
htpasswd_filename = $work/radicale/users
htpasswd_encryption = plain
[storage]
filesystem_folder = $work/radicale/storage
[rights]
type = owner_only
[logging]
level = warning
EOF
radicale --config "$work/radicale/config" >"$work/radicale/log" 2>&1 &
pids+=($!)
url="http://127.0.0.1:$port/$user/tasks/"
for _ in $(seq 100); do
    code="$(curl -s -o /dev/null -w '%{http_code}' -u "$user:$password" -X MKCALENDAR "$url" \
        -H 'Content-Type: application/xml' --data '<?xml version="1.0" encoding="utf-8"?>
<C:mkcalendar xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:caldav"><D:set><D:prop>
<C:supported-calendar-component-set><C:comp name="VTODO"/></C:supported-calendar-component-set>
</D:prop></D:set></C:mkcalendar>' || true)"
    [ "$code" = 201 ] && break
    sleep 0.1
done
[ "$code" = 201 ] || fail "the calendar could not be made (HTTP $code): $(cat "$work/radicale/log")"
collection="$work/radicale/storage/collection-root/$user/tasks"

mkdir -p "$work/run"
chmod 700 "$work/run"
export XDG_RUNTIME_DIR="$work/run"

# setup NAME: the settings of one machine, with sync switched on.
setup() {
    mkdir -p "$work/$1/BEXO"
    printf '[Sync]\nurl=%s\nuser=%s\nenabled=1\n' "$url" "$user" >"$work/$1/BEXO/config.ini"
}

# start NAME: starts that machine's program and answers its password prompt;
# the program's pid in $app.
start() {
    APPDATA="$work/$1" QT_QPA_PLATFORM=xcb "$bin" >"$work/out-$1" 2>&1 &
    app=$!
    pids+=($app)
    local prompt=""
    for _ in $(seq 300); do
        prompt="$(xdotool search --all --onlyvisible --pid "$app" --name '^Ulmora Sync$' 2>/dev/null | head -n1 || true)"
        [ -n "$prompt" ] && break
        kill -0 "$app" 2>/dev/null || fail "$1: the program ended early: $(cat "$work/out-$1")"
        sleep 0.1
    done
    [ -n "$prompt" ] || fail "$1: no password prompt came up"
    # A click in the field gives it the keyboard, with or without a window manager.
    sleep 0.5
    eval "$(xdotool getwindowgeometry --shell "$prompt")"
    xdotool mousemove --window "$prompt" $((WIDTH / 2)) $((HEIGHT / 2)) click 1
    sleep 0.2
    xdotool type --delay 20 "$password"
    xdotool key Return
}

# add NAME SUMMARY: a task from the command line, handed to that machine's program.
add() {
    APPDATA="$work/$1" "$bin" --add "$2" >>"$work/out-$1" 2>&1 || fail "$1: --add \"$2\" failed"
}

# members: how many to-dos the calendar holds
members() { find "$collection" -maxdepth 1 -name '*.ics' 2>/dev/null | wc -l; }

# wait_members N WHAT: waits up to 30 seconds for the calendar to hold N to-dos
wait_members() {
    for _ in $(seq 300); do
        [ "$(members)" -ge "$1" ] && return 0
        sleep 0.1
    done
    fail "$2: the calendar holds $(members) to-dos, not $1"
}

# wait_task NAME SUMMARY WHAT: waits up to 30 seconds for that machine's
# database to hold an open task of that summary
wait_task() {
    local found=""
    for _ in $(seq 300); do
        found="$(sqlite3 "$work/$1/BEXO/tasks.db" \
            "select count(*) from tasks where summary='$2' and finisheddt is null" 2>/dev/null || true)"
        [ "$found" = 1 ] && return 0
        sleep 0.1
    done
    fail "$3: $1 has no task \"$2\""
}

setup alpha
setup beta

start alpha
alpha=$app
add alpha "Written on alpha"
wait_members 1 "a task added on alpha"

start beta
beta=$app
wait_task beta "Written on alpha" "beta's first sync"

add beta "Written on beta"
wait_members 2 "a task added on beta"
# alpha's next sync comes a few seconds after its own next change.
add alpha "Also on alpha"
wait_task alpha "Written on beta" "alpha's sync after its change"
wait_members 3 "the second task of alpha"

# Asked once per run: no program asks again at its later syncs.
for name in alpha beta; do
    pid="${!name}"
    xdotool search --all --onlyvisible --pid "$pid" --name '^Ulmora Sync$' >/dev/null 2>&1 &&
        fail "$name asked for the password again"
done

for name in alpha beta; do
    pid="${!name}"
    kill -TERM "$pid"
    e2e_wait_ended "$pid"
    [ "$status" = 0 ] || fail "$name: SIGTERM ended the program with status $status"
done
grep -q "$password" "$work/alpha/BEXO/config.ini" "$work/beta/BEXO/config.ini" &&
    fail "the password went into config.ini"
echo "ok: two programs synced through Radicale on port $port"
