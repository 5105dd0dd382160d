#!/usr/bin/env bash
# Start at login with the real binary on its own Xvfb display and the trayer
# tray host: the settings dialog's "Start Ulmora when I log in" writes the XDG
# autostart entry (desktop-file-validate clean when it is installed); its Exec
# line, run as the desktop runs it at login, starts Ulmora in the tray with no
# window; a second login start (a session that also restores programs) ends
# with 0 and leaves one program; "ulmora --show" then brings the window up;
# clearing the box removes the entry.
#   autostart.sh ULMORA_BINARY AUTOSTART_ENTRY_HELPER
set -euo pipefail
bin="$1"
helper="$2"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
e2e_require Xvfb xdotool trayer
e2e_start_display
unset DBUS_SESSION_BUS_ADDRESS
e2e_start_tray

export APPDATA="$work/appdata" XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/config"
export ULMORA_UPDATE_URL="http://127.0.0.1:9/scripts/kvd_services.php"
mkdir -p "$APPDATA" "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME"
chmod 700 "$XDG_RUNTIME_DIR"
entry="$XDG_CONFIG_HOME/autostart/io.github.ulmora.Ulmora.desktop"

QT_QPA_PLATFORM=offscreen "$helper" "$bin" on >"$work/out" 2>&1 || fail "the dialog did not take the box"
[ -f "$entry" ] || fail "no autostart entry at $entry"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$entry" >"$work/validate" 2>&1 || fail "the entry is not valid: $(cat "$work/validate")"
    [ ! -s "$work/validate" ] || fail "desktop-file-validate: $(cat "$work/validate")"
fi
grep -qx 'Type=Application' "$entry" || fail "the entry is no application"
exec_line="$(sed -n 's/^Exec=//p' "$entry")"
[ -n "$exec_line" ] || fail "the entry has no Exec line"

# login_start: runs the Exec line as a desktop does: the string escapes
# undone, then the quoting rules, which are the shell's within double quotes.
login_start() {
    local unescaped
    unescaped="$(printf '%s' "$exec_line" | sed 's/\\\\/\\/g; s/%%/%/g')"
    eval "set -- $unescaped"
    [ "$1" = "$bin" ] || fail "the entry starts $1, not $bin"
    QT_QPA_PLATFORM=xcb "$@" >>"$work/out" 2>&1 &
    app=$!
    pids+=("$app")
}

login_start
first=$app
e2e_wait_tray_icon "$first"
sleep 1
kill -0 "$first" 2>/dev/null || fail "the program started at login ended"
[ -z "$(xdotool search --onlyvisible --name '^Ulmora$' 2>/dev/null || true)" ] ||
    fail "the program started at login showed its window"

login_start
second=$app
e2e_wait_ended "$second"
[ "$status" = 0 ] || fail "a second login start ended with $status: $(cat "$work/out")"
kill -0 "$first" 2>/dev/null || fail "the first program ended"
[ -z "$(xdotool search --onlyvisible --name '^Ulmora$' 2>/dev/null || true)" ] ||
    fail "a second login start showed the window"

QT_QPA_PLATFORM=xcb "$bin" --show >>"$work/out" 2>&1 || fail "--show failed"
e2e_wait_main_window "$first"

QT_QPA_PLATFORM=offscreen "$helper" "$bin" off >>"$work/out" 2>&1 || fail "the dialog did not clear the box"
[ ! -e "$entry" ] || fail "clearing the box left the entry"
echo "ok: display :$display"
