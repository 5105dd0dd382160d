#!/usr/bin/env bash
# The real ulmora binary on its own Xvfb display with no session bus: no
# DBUS_SESSION_BUS_ADDRESS and an empty private XDG_RUNTIME_DIR, with dbus-x11
# installed, so that libdbus (QtDBus: the notifier, the tray) and GDBus
# (libsecret under QtKeychain) would launch a bus of their own unless the
# program keeps them from it. The program must come up without one:
# - its main window shows, and with a build that syncs, the password prompt
#   that says the keyring did not answer;
# - GDBus runs "dbus-launch" found on PATH: a stand-in first on PATH records
#   each call, and none may come;
# - libdbus runs /usr/bin/dbus-launch itself, which would leave the bus's
#   address under $HOME/.dbus and a dbus-daemon on the test's display: neither
#   may be there, and no dbus-daemon may run under the program.
# Each launch happens inside the bus connection it serves, before the window
# (notifier, tray) and before the prompt (keyring) come up.
#   session_bus.sh ULMORA_BINARY keyring|no-keyring
set -euo pipefail
bin="$1"
keyring="$2"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
e2e_require Xvfb xdotool
# Without the real dbus-launch nothing would launch a bus anyway: the test
# would prove nothing.
[ -x /usr/bin/dbus-launch ] || { echo "SKIP: dbus-x11 is not installed"; exit 77; }
e2e_start_display
unset DBUS_SESSION_BUS_ADDRESS
[ ! -e "$XDG_RUNTIME_DIR/bus" ] || fail "the private runtime folder has a bus socket"

mkdir -p "$work/bin" "$work/home" "$work/appdata/BEXO"
marker="$work/dbus-launch-called"
cat >"$work/bin/dbus-launch" <<EOF
#!/bin/sh
echo "\$*" >>"$marker"
exit 1
EOF
chmod +x "$work/bin/dbus-launch"

# With sync switched on, the program asks the keyring for the password at its
# start; the server is never reached before the password is typed.
printf '[Sync]\nurl=http://127.0.0.1:9/ulmora/tasks/\nuser=ulmora\nenabled=1\n' \
    >"$work/appdata/BEXO/config.ini"

PATH="$work/bin:$PATH" HOME="$work/home" APPDATA="$work/appdata" QT_QPA_PLATFORM=xcb \
    ULMORA_UPDATE_URL="http://127.0.0.1:9/scripts/kvd_services.php" \
    "$bin" >"$work/out" 2>&1 &
app=$!
pids+=("$app")

e2e_wait_main_window "$app"
if [ "$keyring" = keyring ]; then
    prompt=""
    for _ in $(seq 300); do
        prompt="$(xdotool search --all --onlyvisible --pid "$app" --name '^Ulmora Sync$' 2>/dev/null |
            head -n1 || true)"
        [ -n "$prompt" ] && break
        kill -0 "$app" 2>/dev/null || fail "the program ended early"
        sleep 0.1
    done
    [ -n "$prompt" ] || fail "no password prompt came up: the keyring's answer never came"
fi

[ ! -e "$marker" ] || fail "dbus-launch was run: $(cat "$marker")"
[ ! -e "$work/home/.dbus" ] || fail "a bus was launched: $(find "$work/home/.dbus" -type f)"

# descendants PID: the processes under PID, at any depth
descendants() {
    local child
    for child in $(pgrep -P "$1" || true); do
        echo "$child"
        descendants "$child"
    done
}
for pid in $(descendants "$app"); do
    [ "$(cat "/proc/$pid/comm" 2>/dev/null)" != dbus-daemon ] || fail "the program runs dbus-daemon $pid"
done
# A launched bus leaves its parent at once, but it still carries the display
# and came after the program (one of an earlier test on a display of the same
# number may still be going).
# started PID: when PID started, in clock ticks after boot
started() { sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f20; }
app_started="$(started "$app")"
for pid in $(pgrep -x 'dbus-daemon|dbus-launch' || true); do
    [ "$(started "$pid")" -ge "$app_started" ] 2>/dev/null || continue
    if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "DISPLAY=:$display"; then
        fail "$(cat "/proc/$pid/comm") $pid runs for the test's display"
    fi
done
kill -0 "$app" 2>/dev/null || fail "the program ended"
echo "ok: the program came up on display :$display without a session bus ($keyring)"
