#!/usr/bin/env bash
# The real ulmora binary on its own Xvfb display with the openbox window
# manager and, at first, no tray host. Started hidden (as at login), the
# window comes up minimised instead; closing it (Alt+F4, as a user does)
# minimises it again and the program keeps running. A tray host that starts
# later takes the icon: closing then hides the window. When the tray host
# ends, the hidden window comes back minimised. SIGTERM ends the program with
# status 0.
#   no_tray.sh ULMORA_BINARY
set -euo pipefail
bin="$1"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
e2e_require Xvfb xdotool xprop xwininfo trayer openbox
e2e_start_display
# The icon would otherwise go to a notifier host on the session bus.
unset DBUS_SESSION_BUS_ADDRESS

e2e_start_openbox

export APPDATA="$work/appdata" XDG_RUNTIME_DIR="$work/run"
export ULMORA_UPDATE_URL="http://127.0.0.1:9/scripts/kvd_services.php"
mkdir -p "$APPDATA" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

QT_QPA_PLATFORM=xcb "$bin" --hidden >"$work/out" 2>&1 &
app=$!
pids+=("$app")

# state: the ICCCM state of the main window as the window manager keeps it:
# Normal (shown), Iconic (minimised), or nothing (hidden, withdrawn)
state() { xprop -id "$main" WM_STATE 2>/dev/null | sed -n 's/^[[:space:]]*window state: //p'; }

# wait_state WANT WHAT: waits up to 20 seconds for the main window's state
# WANT ("" for hidden) while the program runs; fails naming WHAT otherwise
wait_state() {
    for _ in $(seq 200); do
        kill -0 "$app" 2>/dev/null || fail "$2: the program ended"
        [ "$(state)" = "$1" ] && return 0
        sleep 0.1
    done
    fail "$2: the window is '$(state)', not '$1'"
}

# close_window WANT WHAT: Alt+F4 on the main window (openbox's close, as a
# user does), then waits for the state WANT. On a loaded machine the keys can
# reach the display before openbox has given the window the focus and go
# nowhere: then they are sent again, a few times, before the wait fails.
close_window() {
    local attempt
    for attempt in 1 2 3 4 5; do
        kill -0 "$app" 2>/dev/null || fail "$2: the program ended"
        xdotool windowactivate --sync "$main" >/dev/null 2>&1 || true
        xdotool key --clearmodifiers alt+F4
        for _ in $(seq 40); do
            [ "$(state)" = "$1" ] && return 0
            sleep 0.1
        done
    done
    wait_state "$1" "$2"
}

# restore_window WHAT: brings the main window back from the task bar, asking
# openbox again should a request come before it is ready for it.
restore_window() {
    local attempt
    for attempt in 1 2 3 4 5; do
        kill -0 "$app" 2>/dev/null || fail "$1: the program ended"
        xdotool windowactivate "$main" >/dev/null 2>&1 || true
        for _ in $(seq 40); do
            [ "$(state)" = Normal ] && return 0
            sleep 0.1
        done
    done
    wait_state Normal "$1"
}

# The main window is the program's window captioned "Ulmora" that openbox
# manages: it carries a WM_STATE.
e2e_managed_window "$app" 'window state' "the start"
wait_state Iconic "a hidden start without a tray"

restore_window "restored from the task bar"
close_window Iconic "closed without a tray"
sleep 1
[ "$(state)" = Iconic ] || fail "closed without a tray: the window became '$(state)'"

# A tray host comes: the icon goes into it, and closing hides the window.
e2e_start_tray
tray_host="${pids[-1]}"
e2e_wait_tray_icon "$app"
restore_window "restored after the tray came"
close_window "" "closed with a tray"
xwininfo -id "$main" | grep -q 'Map State: IsUnMapped' ||
    fail "closed with a tray: the window is still mapped"

# The tray host goes: the hidden window comes back minimised.
kill "$tray_host"
wait "$tray_host" 2>/dev/null || true
wait_state Iconic "the tray went"

kill -TERM "$app"
e2e_wait_ended "$app"
[ "$status" = 0 ] || fail "SIGTERM ended the program with status $status"
echo "ok: without a tray, with one that came and went, on display :$display"
