#!/usr/bin/env bash
# "Exit" in the tray menu of the real ulmora binary on its own Xvfb display
# with the trayer tray host: the tray icon is right-clicked and the menu's last
# item clicked, as a user does; then the signals that a logout, kill or Ctrl+C
# send. Every run must end the program with status 0,
# remove its pipe and leave the five geometry keys in config.ini, whether
# closing the window only hides it (close_minimizes=1, the default) or not.
# Several runs, because the windows the toolkit asks to close on a quit come
# in no fixed order. The first run starts from out-of-range geometry keys:
# the window must fit the screen, and the corrected values are written back.
#   exit.sh ULMORA_BINARY
set -euo pipefail
bin="$1"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
e2e_require Xvfb xdotool trayer
e2e_start_display
# The tray icon is the tray host's own embedded window, not a notifier item on
# the session bus.
unset DBUS_SESSION_BUS_ADDRESS
e2e_start_tray
screen_w=1024 screen_h=768

# key NAME: the value of NAME in the run's config.ini
key() { sed -n "s/^$1=//p" "$appdata/BEXO/config.ini" | tr -d '\r'; }

# visible_windows: the ids of the program's visible windows, sorted
visible_windows() { xdotool search --onlyvisible --pid "$app" 2>/dev/null | sort || true; }

# new_window BEFORE MIN_HEIGHT: waits up to 20 seconds for a visible window of
# the program not in BEFORE and at least MIN_HEIGHT high; its id in $found
new_window() {
    found=""
    for _ in $(seq 200); do
        for id in $(comm -13 <(echo "$1") <(visible_windows)); do
            # A window found may be gone by the time it is asked about.
            geometry="$(xdotool getwindowgeometry --shell "$id" 2>/dev/null)" || continue
            eval "$geometry"
            if [ "$HEIGHT" -ge "$2" ]; then found="$id"; return 0; fi
        done
        sleep 0.1
    done
}

# run_exit NAME CONFIG [SIGNAL]: one run of the program from CONFIG, ended by
# "Exit" in the tray menu, or by SIGNAL sent to it when one is named
run_exit() {
    local name="$1" signal="${3:-}"
    appdata="$work/$name"
    mkdir -p "$appdata/BEXO" "$appdata/run"
    chmod 700 "$appdata/run"
    printf '[main]\n%s' "$2" >"$appdata/BEXO/config.ini"
    APPDATA="$appdata" XDG_RUNTIME_DIR="$appdata/run" QT_QPA_PLATFORM=xcb \
        ULMORA_UPDATE_URL="http://127.0.0.1:9/scripts/kvd_services.php" \
        "$bin" >"$work/out" 2>&1 &
    app=$!
    pids+=("$app")
    e2e_wait_main_window "$app"
    main="$(echo "$windows" | head -n1)"
    for _ in $(seq 100); do
        [ -S "$appdata/run/kvd_bexo" ] && break
        sleep 0.1
    done
    [ -S "$appdata/run/kvd_bexo" ] || fail "$name: the pipe did not appear"
    sleep 0.5

    eval "$(xdotool getwindowgeometry --shell "$main")"
    [ "$WIDTH" -le "$screen_w" ] && [ "$HEIGHT" -le "$screen_h" ] ||
        fail "$name: the window is ${WIDTH}x${HEIGHT}, larger than the screen"
    local rss
    rss="$(awk '/^VmRSS:/ { print $2 }' "/proc/$app/status")"
    [ "$rss" -lt 1048576 ] || fail "$name: the program holds ${rss} KiB of memory"

    if [ -n "$signal" ]; then
        kill -s "$signal" "$app"
        wait_ended
        return
    fi

    # The tray icon: the program's small window inside trayer's panel at the top,
    # waited for up to 30 seconds (a loaded machine embeds it slowly).
    local icon="" before
    for _ in $(seq 300); do
        for id in $(visible_windows); do
            [ "$id" = "$main" ] && continue
            # A window found may be gone by the time it is asked about.
            geometry="$(xdotool getwindowgeometry --shell "$id" 2>/dev/null)" || continue
            eval "$geometry"
            if [ "$Y" -lt 28 ] && [ "$HEIGHT" -le 28 ] && [ "$X" -ge $((screen_w - 120)) ]; then
                icon="$id" ix=$X iy=$Y iw=$WIDTH ih=$HEIGHT
                break 2
            fi
        done
        sleep 0.1
    done
    [ -n "$icon" ] || fail "$name: no tray icon in the tray host"
    # Without a window manager nothing keeps the panel above a main window
    # that covers the whole screen.
    for panel in $(xdotool search --name '^panel$'); do xdotool windowraise "$panel"; done
    before="$(visible_windows)"
    xdotool mousemove $((ix + iw / 2)) $((iy + ih / 2)) click 3
    new_window "$before" 100
    [ -n "$found" ] || fail "$name: the tray menu did not open"
    eval "$(xdotool getwindowgeometry --shell "$found")"
    # "Exit" is the menu's last item.
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT - 10)) click 1
    wait_ended
}

# wait_ended: the program of the current run must end with status 0, remove
# its pipe and leave the five geometry keys
wait_ended() {
    local status=0 ended=""
    # A guard against a program that keeps running, not a measure of speed.
    for _ in $(seq 200); do
        kill -0 "$app" 2>/dev/null || { ended=1; break; }
        sleep 0.1
    done
    [ -n "$ended" ] || fail "$name: the program kept running after Exit"
    wait "$app" || status=$?
    [ "$status" = 0 ] || fail "$name: the program ended with status $status"
    [ ! -e "$appdata/run/kvd_bexo" ] || fail "$name: the pipe is left behind"
    for k in window_left window_top window_width window_height edittask_height; do
        [[ "$(key $k)" =~ ^-?[0-9]+$ ]] || fail "$name: $k is not written: '$(key $k)'"
    done
}

# Out of range: the window fits the screen, and so do the values written back.
run_exit huge "window_left=-2147483648
window_top=2147483647
window_width=2147483647
window_height=2147483647
edittask_height=2147483647
"
left="$(key window_left)" top="$(key window_top)"
width="$(key window_width)" height="$(key window_height)" edit="$(key edittask_height)"
[ "$width" -le "$screen_w" ] && [ "$height" -le "$screen_h" ] ||
    fail "written size ${width}x${height} is larger than the screen"
[ "$left" -ge 0 ] && [ "$top" -ge 0 ] && [ $((left + width)) -le "$screen_w" ] &&
    [ $((top + height)) -le "$screen_h" ] ||
    fail "written frame ${width}x${height} at $left,$top is not on the screen"
[ "$edit" -lt "$height" ] || fail "written editor height $edit is not below the window's $height"

for run in 1 2 3 4 5; do
    run_exit "tray$run" ""
done
run_exit "closing-ends" "close_minimizes=0
"
# A logout, kill or Ctrl+C ends the program as Exit does.
for signal in TERM INT HUP; do
    run_exit "signal-$signal" "" "$signal"
done
echo "ok: Exit and the signals TERM, INT, HUP ended the program in 10 runs on display :$display"
