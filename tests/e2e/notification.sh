#!/usr/bin/env bash
# The real ulmora binary with a real notification daemon (dunst) on its own
# Xvfb display and a private session bus, started hidden in the trayer tray,
# over a fresh database that holds two tasks due in the next minute. At the
# first reminder pass (60 seconds after start) dunst must show each reminder
# with its title and body and the actions Done and Snooze. "Done" chosen in
# dunst's action menu (dmenu) finishes the task in the database and takes its
# notification back; a click on the other one (its default action) shows the
# main window. Takes about 75 seconds.
#   notification.sh ULMORA_BINARY [SCREENSHOT.png]
# With a second argument (or ULMORA_E2E_SHOT) the notifications with the
# action menu open, cut from the screen, are kept in that file.
set -euo pipefail
bin="$1"
shot="${2:-${ULMORA_E2E_SHOT:-}}"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
e2e_require Xvfb xdotool trayer sqlite3 import convert dunst dunstctl dmenu dbus-daemon dbus-monitor
e2e_start_display

# A session bus of the test's own, with dunst as its notification service.
bus="$(dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1 --nosyslog)" ||
    fail "dbus-daemon did not start"
DBUS_SESSION_BUS_ADDRESS="$(echo "$bus" | sed -n 1p)"
export DBUS_SESSION_BUS_ADDRESS
pids+=("$(echo "$bus" | sed -n 2p)")

e2e_start_tray

mkdir -p "$work/dunst"
cat >"$work/dunst/dunstrc" <<'CONF'
[global]
    origin = top-right
    offset = 10x140
    width = (280, 420)
    font = DejaVu Sans 10
    frame_width = 1
    frame_color = "#5a6570"
    separator_height = 1
    padding = 10
    horizontal_padding = 12
    show_indicators = yes
    format = "<b>%s</b>\n%b"
    mouse_left_click = do_action, close_current
    mouse_middle_click = do_action, close_current
    mouse_right_click = close_current
    dmenu = /usr/bin/dmenu -l 6 -fn "DejaVu Sans:size=10" -p "Action:"
[urgency_normal]
    background = "#fbfbf8"
    foreground = "#20262c"
    timeout = 0
CONF
dunst -config "$work/dunst/dunstrc" >"$work/dunst/out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.Notifications 2>/dev/null |
        grep -q 'boolean true' && break
    sleep 0.1
done
dbus-monitor --session "type='method_call',interface='org.freedesktop.Notifications',member='Notify'" \
    >"$work/notify" 2>&1 &
pids+=($!)

# A fresh database with the program's schema and one open task, due 30
# seconds from now: within a minute of the first pass at 60 seconds.
mkdir -p "$work/appdata/BEXO" "$work/run"
chmod 700 "$work/run"
due="$(date -d '+30 seconds' '+%Y-%m-%d %H:%M:%S')"
e2e_make_db "$work/appdata/BEXO/tasks.db" <<SQL
insert into tasks (taskid, summary, note, createddt, duedt)
    values ('RemindMeAaaaaaaa', 'Call the dentist', 'Ask for a morning appointment', datetime('now'), '$due');
insert into tasks (taskid, summary, note, createddt, duedt)
    values ('RemindMeBbbbbbbb', 'Water the plants', NULL, datetime('now'), '$due');
SQL

APPDATA="$work/appdata" XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=xcb "$bin" --hidden \
    >"$work/out" 2>&1 &
app=$!
pids+=($app)
started=$SECONDS
e2e_wait_tray_icon "$app"
xdotool search --onlyvisible --name '^Ulmora$' >/dev/null 2>&1 &&
    fail "the main window is shown though the program started hidden"

while [ "$(dunstctl count displayed 2>/dev/null || echo 0)" -lt 2 ]; do
    kill -0 "$app" 2>/dev/null || fail "the program ended"
    [ $((SECONDS - started)) -lt 100 ] || fail "no two notifications within 100 seconds of the start"
    sleep 0.5
done
waited=$((SECONDS - started))
[ "$waited" -ge 55 ] || fail "the notification came after $waited seconds, before the first pass"
sleep 1

# What the program asked dunst to show.
for expected in '"Call the dentist' 'Ask for a morning appointment' '"done"' '"Done"' \
    '"snooze"' '"Snooze"' '"default"'; do
    grep -qF -- "$expected" "$work/notify" ||
        fail "the notification lacks $expected: $(cat "$work/notify")"
done

# dunst's window: at the top right, below the tray.
note=""
for id in $(xdotool search --onlyvisible --class dunst 2>/dev/null || true); do
    # A window found may be gone by the time it is asked about.
    geometry="$(xdotool getwindowgeometry --shell "$id" 2>/dev/null)" || continue
    eval "$geometry"
    if [ "$WIDTH" -gt 100 ] && [ "$HEIGHT" -gt 20 ]; then
        note="$id"
        break
    fi
done
[ -n "$note" ] || fail "dunst shows no window"
nx=$X ny=$Y nw=$WIDTH nh=$HEIGHT

# "Done" on the first task from dunst's action menu.
dunstctl context &
for _ in $(seq 50); do
    xdotool search --onlyvisible --class dmenu >/dev/null 2>&1 && break
    sleep 0.1
done
xdotool search --onlyvisible --class dmenu >/dev/null 2>&1 || fail "dunst's action menu did not open"
sleep 0.5
if [ -n "$shot" ]; then
    import -window root "$work/screen.png"
    # The action menu at the top, the notifications below it at the right.
    convert "$work/screen.png" -crop "1024x$((ny + nh + 20))+0+0" +repage "$shot"
fi
xdotool type --delay 20 "Done (Call"
xdotool key Return
finished=""
for _ in $(seq 100); do
    finished="$(sqlite3 "$work/appdata/BEXO/tasks.db" \
        "select finisheddt from tasks where taskid = 'RemindMeAaaaaaaa'" 2>/dev/null || true)"
    [ -n "$finished" ] && break
    sleep 0.1
done
[ -n "$finished" ] || fail "Done in the notification did not finish the task"
[ -z "$(sqlite3 "$work/appdata/BEXO/tasks.db" \
    "select finisheddt from tasks where taskid = 'RemindMeBbbbbbbb'")" ] ||
    fail "Done on one task finished the other too"
for _ in $(seq 50); do
    [ "$(dunstctl count displayed)" -eq 1 ] && break
    sleep 0.1
done
[ "$(dunstctl count displayed)" -eq 1 ] || fail "the finished task's notification stayed"

# A click on the other notification is its default action: the main window shows.
for id in $(xdotool search --onlyvisible --class dunst 2>/dev/null || true); do
    # A window found may be gone by the time it is asked about.
    geometry="$(xdotool getwindowgeometry --shell "$id" 2>/dev/null)" || continue
    eval "$geometry"
    [ "$WIDTH" -gt 100 ] && [ "$HEIGHT" -gt 20 ] && break
done
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1
for _ in $(seq 100); do
    xdotool search --onlyvisible --name '^Ulmora$' >/dev/null 2>&1 && break
    sleep 0.1
done
xdotool search --onlyvisible --name '^Ulmora$' >/dev/null 2>&1 ||
    fail "a click on the notification did not show the main window"
kill -0 "$app" 2>/dev/null || fail "the program ended"
echo "ok: notifications at ${nx},${ny} after ${waited} s, Done finished the task at $finished, on display :$display"
