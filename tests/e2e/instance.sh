#!/usr/bin/env bash
# One Ulmora per user, with the real binary on its own Xvfb display and the
# trayer tray host:
# - a start with --hidden stays in the tray; a second, plain start ends with
#   status 0 and brings the first one's window up;
# - --add from a shell ends with 0, and the running window's list shows the
#   task at once; a refused --add (an unknown tag) ends with 2 and stores
#   nothing; --show ends with 0;
# - after the program is killed (SIGKILL: no clean-up), its socket file is
#   left behind and the next start comes up all the same and answers;
# - three starts at the same moment give one program: two end with 0.
#   instance.sh ULMORA_BINARY
set -euo pipefail
bin="$1"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
e2e_require Xvfb xdotool trayer sqlite3 import compare
e2e_start_display
# The tray icon is the tray host's own embedded window, not a notifier item on
# the session bus.
unset DBUS_SESSION_BUS_ADDRESS
e2e_start_tray

export APPDATA="$work/appdata" XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=xcb
export ULMORA_UPDATE_URL="http://127.0.0.1:9/scripts/kvd_services.php"
mkdir -p "$APPDATA" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
db="$APPDATA/BEXO/tasks.db"

# start ARGS...: starts the program in the background; its pid in $app
start() {
    "$bin" "$@" >>"$work/out" 2>&1 &
    app=$!
    pids+=("$app")
}
# run ARGS...: runs a start to its end; its status in $status, its stderr in $work/err
run() {
    status=0
    "$bin" "$@" >"$work/runout" 2>"$work/err" || status=$?
}
# windows_of PID: the ids of the visible windows captioned Ulmora of PID
windows_of() { xdotool search --all --onlyvisible --pid "$1" --name '^Ulmora$' 2>/dev/null || true; }
# wait_channel: waits for the running program's channel, the socket beside its lock
wait_channel() {
    for _ in $(seq 200); do
        for lock in "$XDG_RUNTIME_DIR"/ulmora-*.lock; do
            [ -S "${lock%.lock}" ] && { channel="${lock%.lock}"; return 0; }
        done
        sleep 0.1
    done
    fail "the program's channel did not appear"
}

# ---- a hidden start, then a second start brings the window up
start --hidden
first=$app
e2e_wait_tray_icon "$first"
wait_channel
[ -z "$(windows_of "$first")" ] || fail "--hidden showed the window"
run
[ "$status" = 0 ] || fail "the second start ended with $status: $(cat "$work/err")"
e2e_wait_main_window "$first"
[ -n "$(windows_of "$first")" ] || fail "the window that came up is not the first program's"
kill -0 "$first" 2>/dev/null || fail "the first program ended"
[ "$(ls "$XDG_RUNTIME_DIR" | grep -c '^ulmora-.*\.lock$')" = 1 ] || fail "a second channel was made"

# ---- --add reaches the running list
main="$(windows_of "$first" | head -n1)"
sleep 1
import -window "$main" "$work/before.png"
run --add "Bought from the shell" --due "2030-01-02 10:30"
[ "$status" = 0 ] || fail "--add ended with $status: $(cat "$work/err")"
[ "$(sqlite3 "$db" "select count(*) from tasks where summary = 'Bought from the shell' and duedt = '2030-01-02 10:30:00'")" = 1 ] ||
    fail "the task is not stored"
# The list paints the new row without anything else happening on the window.
changed=""
for _ in $(seq 100); do
    import -window "$main" "$work/after.png"
    diff="$(compare -metric AE "$work/before.png" "$work/after.png" null: 2>&1 || true)"
    [ "${diff%% *}" != 0 ] && { changed=1; break; }
    sleep 0.1
done
[ -n "$changed" ] || fail "the running window's list did not change after --add"

run --add "Never stored" --tag Garden
[ "$status" = 2 ] || fail "--add with an unknown tag ended with $status"
grep -qF 'no tag is titled "Garden"' "$work/err" || fail "no message for the unknown tag: $(cat "$work/err")"
[ "$(sqlite3 "$db" "select count(*) from tasks where summary = 'Never stored'")" = 0 ] ||
    fail "a refused task was stored"
run --show
[ "$status" = 0 ] || fail "--show ended with $status: $(cat "$work/err")"
kill -0 "$first" 2>/dev/null || fail "the first program ended"

# ---- a killed program leaves its socket; the next start is not blocked
kill -9 "$first"
wait "$first" 2>/dev/null || true
[ -S "$channel" ] || fail "the killed program's socket is gone; this run tests nothing"
start
second=$app
e2e_wait_main_window "$second"
run --add "After the crash"
[ "$status" = 0 ] || fail "--add to the new program ended with $status: $(cat "$work/err")"
[ "$(sqlite3 "$db" "select count(*) from tasks where summary = 'After the crash'")" = 1 ] ||
    fail "the task after the crash is not stored"
kill -0 "$second" 2>/dev/null || fail "the new program ended"
kill "$second"
e2e_wait_ended "$second"
[ "$status" = 0 ] || fail "the program ended with $status on SIGTERM"

# ---- three starts at the same moment
started=()
for _ in 1 2 3; do
    start
    started+=("$app")
done
alive=()
for pid in "${started[@]}"; do
    for _ in $(seq 300); do
        kill -0 "$pid" 2>/dev/null || break
        [ -n "$(windows_of "$pid")" ] && break
        sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null && [ -n "$(windows_of "$pid")" ]; then
        alive+=("$pid")
    else
        e2e_wait_ended "$pid"
        [ "$status" = 0 ] || fail "a start at the same moment ended with $status: $(cat "$work/out")"
    fi
done
[ "${#alive[@]}" = 1 ] || fail "${#alive[@]} programs run after three starts at the same moment"
sleep 1
[ "$(xdotool search --onlyvisible --name '^Ulmora$' | wc -l)" = 1 ] || fail "more than one Ulmora window"
echo "ok: display :$display"
