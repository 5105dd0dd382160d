# shellcheck shell=bash
# Start-up shared by the end-to-end scripts; sourced by them, not run alone.
#   e2e_require TOOL...  skips the test (exit 77) when a tool is not installed
#   e2e_start_display    makes the temporary folder $work (removed at exit, with
#                        every process listed in $pids) and starts Xvfb on a
#                        free display it picks itself, exported as DISPLAY (the
#                        number in $display); exports XDG_RUNTIME_DIR as the
#                        private, empty folder $work/run
#   fail MESSAGE         ends the test, showing the program's output in $work/out
#   e2e_wait_main_window PID  waits for the program's main window
#   e2e_start_tray       starts the trayer tray host at the top right
#   e2e_start_openbox    starts the openbox window manager and waits for it
#   e2e_managed_window PID STATE WHAT  waits for the program's main window
#                        as the window manager keeps it; its id in $main
#   e2e_make_db FILE     makes a database with the program's schema and runs
#                        the statements on standard input in it

e2e_require() {
    for tool in "$@"; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
    done
}

# Ends the started processes, the last started first (the program before its
# display), and waits for each: a program ended by SIGTERM still writes its
# settings, which must not race the removal of the folder.
cleanup() {
    local i pid
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        pid="${pids[$i]}"
        kill "$pid" 2>/dev/null || continue
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
fail() { echo "FAIL: $*" >&2; [ -f "$work/out" ] && cat "$work/out" >&2; exit 1; }

e2e_start_display() {
    work="$(mktemp -d)"
    pids=()
    trap cleanup EXIT
    # The runtime folder of everything the test starts, the program's pipe
    # included. It has no "bus" socket, so a script that unsets
    # DBUS_SESSION_BUS_ADDRESS never reaches a session bus of the machine's
    # desktop: the program then has none and starts none.
    mkdir -m 700 "$work/run"
    export XDG_RUNTIME_DIR="$work/run"

    exec {fd}<> <(:)
    # -noreset: by default the server resets when its last client leaves, and
    # a client connecting just then (trayer while xdotool polls for its
    # panel) is refused "cannot open display".
    Xvfb -displayfd "$fd" -noreset -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb" 2>&1 &
    pids+=($!)
    read -r -t 20 display <&"$fd" || fail "Xvfb did not start"
    export DISPLAY=":$display"
}

# e2e_wait_main_window PID: waits up to 20 seconds for a visible window
# captioned "Ulmora" and leaves the ids found in $windows; fails when PID ends
# first or no such window comes.
e2e_wait_main_window() {
    windows=""
    for _ in $(seq 200); do
        windows="$(xdotool search --onlyvisible --name '^Ulmora$' 2>/dev/null || true)"
        [ -n "$windows" ] && break
        kill -0 "$1" 2>/dev/null || fail "the program ended early"
        sleep 0.1
    done
    [ -n "$windows" ] || fail "no window captioned Ulmora appeared"
}

# e2e_start_tray: starts the trayer tray host at the top right of the screen
# (120 by 28 pixels) and waits up to 5 seconds for its panel window.
e2e_start_tray() {
    trayer --edge top --align right --widthtype pixel --width 120 --heighttype pixel --height 28 \
        --SetDockType true --transparent false --tint 0x404040 >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 50); do
        xdotool search --name '^panel$' >/dev/null 2>&1 && return 0
        sleep 0.1
    done
}

# e2e_wait_tray_icon PID: waits up to 30 seconds for the program's icon in
# trayer's panel (a small window of PID at the top right) and leaves its id in
# $icon; fails when none comes.
e2e_wait_tray_icon() {
    icon=""
    local id geometry
    for _ in $(seq 300); do
        for id in $(xdotool search --onlyvisible --pid "$1" 2>/dev/null || true); do
            # A window found may be gone by the time it is asked about.
            geometry="$(xdotool getwindowgeometry --shell "$id" 2>/dev/null)" || continue
            eval "$geometry"
            if [ "$Y" -lt 28 ] && [ "$HEIGHT" -le 28 ] && [ "$WIDTH" -le 28 ]; then
                icon="$id"
                return 0
            fi
        done
        sleep 0.1
    done
    fail "no tray icon of the program in the tray host"
}

# e2e_wait_ended PID: waits up to 20 seconds for PID to end and leaves its
# exit status in $status; fails when it keeps running.
e2e_wait_ended() {
    status=""
    for _ in $(seq 200); do
        if ! kill -0 "$1" 2>/dev/null; then
            status=0
            wait "$1" || status=$?
            return 0
        fi
        sleep 0.1
    done
    fail "the program $1 kept running"
}

# e2e_make_db FILE: a database with the program's five schema statements, then
# the statements read from standard input (the rows a test starts with).
e2e_make_db() {
    {
        cat <<'SQL'
CREATE TABLE IF NOT EXISTS tasks( taskid VARCHAR(16), summary VARCHAR(1024) DEFAULT NULL, note TEXT DEFAULT NULL, createddt DATETIME DEFAULT NULL, duedt DATETIME DEFAULT NULL, finisheddt DATETIME DEFAULT NULL, PRIMARY KEY(taskid ASC));
CREATE INDEX IF NOT EXISTS i_tasks_duedt ON tasks( duedt );
CREATE INDEX IF NOT EXISTS i_tasks_id ON tasks( taskid );
CREATE TABLE IF NOT EXISTS tags( tagid VARCHAR(16), title VARCHAR(1024) DEFAULT NULL, color INT(11) DEFAULT NULL, image INT(2) DEFAULT NULL, createddt DATETIME DEFAULT NULL, PRIMARY KEY(tagid ASC));
CREATE TABLE IF NOT EXISTS tags_tasks( tagid VARCHAR(16) DEFAULT NULL, taskid VARCHAR(16) DEFAULT NULL, createddt DATETIME DEFAULT NULL, PRIMARY KEY(tagid, taskid ASC));
SQL
        cat
    } | sqlite3 "$1"
}

# e2e_start_openbox: starts openbox as the display's window manager and waits
# up to 10 seconds for it to announce itself on the root window.
e2e_start_openbox() {
    openbox --sm-disable >"$work/openbox" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
        sleep 0.1
    done
    fail "openbox did not start: $(cat "$work/openbox")"
}

# e2e_managed_window PID STATE WHAT: waits up to 20 seconds for a window of
# PID captioned "Ulmora" whose WM_STATE (set by the window manager) matches
# STATE ('window state' for any, 'window state: Normal' for shown) and leaves
# its id in $main; fails naming WHAT when PID ends first or none comes.
e2e_managed_window() {
    main=""
    for _ in $(seq 200); do
        for id in $(xdotool search --all --pid "$1" --name '^Ulmora$' 2>/dev/null || true); do
            if xprop -id "$id" WM_STATE 2>/dev/null | grep -q "$2"; then
                main="$id"
                return 0
            fi
        done
        kill -0 "$1" 2>/dev/null || fail "$3: the program ended early"
        sleep 0.1
    done
    fail "$3: no main window came up"
}
