#!/usr/bin/env bash
# The real ulmora binary on its own Xvfb display, each run a first run in a
# fresh APPDATA, with XDG_RUNTIME_DIR (the folder of the update service's
# pipe) in one of these states:
#   - mode 0700 or 0755, owned by the user: the pipe is served, and
#     ulmora-pipe asks the running program its version through it;
#   - mode 0777 or 0770, or owned by another user: the pipe is refused,
#     ulmora.log beside config.ini says which pipe and why, and the program
#     keeps running with a window that answers the keyboard;
#   - mode 0700 with too few threads allowed for the update service: the
#     failure is shown in an error box and written to ulmora.log, and the
#     program goes on to read its settings and its database.
# File modes mean nothing to root, so as root the program runs as the
# ordinary user ulmora-e2e (made when missing); the test is skipped when that
# cannot be.
#   startup_log.sh ULMORA_BINARY ULMORA_PIPE_BINARY
set -euo pipefail
bin="$1"
pipe_tool="$2"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
e2e_require Xvfb xdotool import
e2e_start_display
unset DBUS_SESSION_BUS_ADDRESS
# The ordinary user must be able to enter the test's folders.
chmod 755 "$work"

if [ "$(id -u)" = 0 ]; then
    e2e_require runuser
    user=ulmora-e2e
    if ! id -u "$user" >/dev/null 2>&1; then
        useradd --system --no-create-home --shell /usr/sbin/nologin "$user" >/dev/null 2>&1 ||
            { echo "SKIP: no ordinary user $user could be made"; exit 77; }
    fi
    as_user() { runuser -u "$user" -- "$@"; }
else
    user="$(id -un)"
    as_user() { "$@"; }
fi
as_user test -x "$bin" -a -x "$pipe_tool" ||
    { echo "SKIP: the user $user cannot run $bin and $pipe_tool"; exit 77; }

# start NAME MODE [THREADS]: a first run of the program as the user, in a
# fresh APPDATA, with $run (mode MODE, the user's unless $run_owner says
# otherwise) as XDG_RUNTIME_DIR; at most THREADS processes and threads of the
# user when given. The program's process id in $app.
start() {
    name="$1"
    local threads="${3:-}"
    home="$work/$name/home" run="$work/$name/run"
    mkdir -p "$home" "$run"
    chown "$user" "$home"
    chown "${run_owner:-$user}" "$run"
    chmod "$2" "$run"
    log="$home/appdata/BEXO/ulmora.log"
    # The program's own process id, whatever runuser starts around it.
    as_user bash -c 'echo $$ >"$1"; [ -z "$2" ] || ulimit -u "$2"; shift 2; exec "$@"' _ \
        "$home/pid" "$threads" \
        env HOME="$home" APPDATA="$home/appdata" XDG_RUNTIME_DIR="$run" DISPLAY="$DISPLAY" \
        QT_QPA_PLATFORM=xcb ULMORA_UPDATE_URL="http://127.0.0.1:9/scripts/kvd_services.php" \
        "$bin" >"$work/out" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        [ -s "$home/pid" ] && break
        sleep 0.1
    done
    app="$(cat "$home/pid")"
}

# program_window OP WHAT: waits for a visible window of the program captioned
# "Ulmora" whose height compares to 400 pixels by OP (-ge: the main window,
# -lt: an error box); its id in $found
program_window() {
    found=""
    for _ in $(seq 200); do
        for id in $(xdotool search --onlyvisible --pid "$app" --name '^Ulmora$' 2>/dev/null || true); do
            # A window found may be gone by the time it is asked about.
            geometry="$(xdotool getwindowgeometry --shell "$id" 2>/dev/null)" || continue
            eval "$geometry"
            if [ "$HEIGHT" "$1" 400 ]; then found="$id"; return 0; fi
        done
        kill -0 "$app" 2>/dev/null || fail "$name: the program ended early"
        sleep 0.1
    done
    fail "$name: no $2 came up"
}

# main_window: waits for the program's main window; its id in $main
main_window() {
    program_window -ge "main window"
    main="$found"
}

# logged TEXT: waits up to 10 seconds for a line of ulmora.log that holds TEXT
logged() {
    for _ in $(seq 100); do
        grep -qF -- "$1" "$log" 2>/dev/null && return 0
        sleep 0.1
    done
    fail "$name: ulmora.log has no line with '$1': $(cat "$log" 2>/dev/null || echo 'no file')"
}

# answers_keys: Ctrl+Shift+Q, the new-task shortcut, opens the editor: the
# window's picture changes
answers_keys() {
    local before
    before="$(import -window "$main" rgb:- | md5sum)"
    xdotool windowfocus --sync "$main" 2>/dev/null || xdotool windowfocus "$main"
    xdotool key --window "$main" --clearmodifiers ctrl+shift+q
    for _ in $(seq 100); do
        [ "$(import -window "$main" rgb:- | md5sum)" != "$before" ] && return 0
        sleep 0.1
    done
    fail "$name: the window did not answer Ctrl+Shift+Q"
}

# finish: SIGTERM ends the program with status 0 and its geometry is written
finish() {
    kill -TERM "$app"
    for _ in $(seq 200); do
        kill -0 "$app" 2>/dev/null || break
        sleep 0.1
    done
    ! kill -0 "$app" 2>/dev/null || fail "$name: the program kept running after SIGTERM"
    wait "${pids[-1]}" || fail "$name: the program ended with status $?: $(cat "$work/out")"
    grep -q '^window_width=' "$home/appdata/BEXO/config.ini" ||
        fail "$name: the geometry keys were not written"
}

# served NAME MODE: the pipe is there, answers, and the log holds no refusal
served() {
    start "$1" "$2"
    main_window
    for _ in $(seq 100); do
        [ -S "$run/kvd_bexo" ] && break
        sleep 0.1
    done
    [ -S "$run/kvd_bexo" ] || fail "$name: the pipe $run/kvd_bexo was not made"
    local reply
    reply="$(as_user "$pipe_tool" "$run/kvd_bexo" kvd_command_getversion 2>&1)" ||
        fail "$name: the pipe did not answer: $reply"
    grep -q '^Result: ok' <<<"$reply" && grep -q '^version=' <<<"$reply" ||
        fail "$name: the pipe's reply: $reply"
    ! grep -q 'cannot be served\|EIPCError' "$log" 2>/dev/null || fail "$name: ulmora.log: $(cat "$log")"
    finish
}

# refused NAME MODE: no pipe, the reason in the log, the window works
refused() {
    start "$1" "$2"
    main_window
    logged "the pipe $run/kvd_bexo cannot be served: "
    logged "(X) EIPCError: Could not create new pipe instance."
    logged "the folder $run is not the user's alone"
    [ ! -e "$run/kvd_bexo" ] || fail "$name: the pipe was made in $run"
    answers_keys
    finish
}

served private 0700
served enterable 0755
refused world-writable 0777
refused group-writable 0770
if [ "$(id -u)" = 0 ]; then
    run_owner=root refused foreign-owner 0755
fi

# Too few threads for the update service's pool of 20: a few more than the
# user runs already, enough for the toolkit to start.
running="$({ ps -L -u "$user" --no-headers 2>/dev/null || true; } | wc -l)"
threads=$((running + 8))
start no-threads 0700 "$threads"
program_window -lt "error box"
box="$found"
logged "The update service could not start: "
xdotool windowfocus --sync "$box" 2>/dev/null || xdotool windowfocus "$box"
# Sent to the focus: the box is gone before the key's release.
xdotool key Return
main_window
# The start went on after the failure: the settings were read and the
# database opened while the window came up.
[ -f "$home/appdata/BEXO/config.ini" ] || fail "$name: the settings were not read"
[ -f "$home/appdata/BEXO/tasks.db" ] || fail "$name: the database was not opened"
answers_keys
finish

echo "ok: the pipe served, refused and failing as user $user on display :$display"
