#!/usr/bin/env bash
# The real ulmora binary on its own Xvfb display (a free one, chosen by Xvfb)
# with the trayer tray host, over a fresh database that holds one task due in
# the next minute. The first reminder pass runs 60 seconds after start, so the
# test waits for it: a balloon window must appear on the screen (Qt's own
# balloon beside the tray icon) and go when it is clicked, leaving the main
# window shown. Takes about 70 seconds.
#   reminder.sh ULMORA_BINARY [SCREENSHOT.png]
# With a second argument (or ULMORA_E2E_SHOT) the screen with the balloon is
# kept in that file.
set -euo pipefail
bin="$1"
shot="${2:-${ULMORA_E2E_SHOT:-}}"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
e2e_require Xvfb xdotool trayer sqlite3 import convert compare
e2e_start_display
# Qt would hand the balloon to a notification service on the session bus; the
# test wants the tray host's own balloon.
unset DBUS_SESSION_BUS_ADDRESS

e2e_start_tray

# A fresh database with the program's schema and one open task. Due times are
# local; 30 seconds from now is within a minute of the first pass at 60 seconds.
mkdir -p "$work/appdata/BEXO" "$work/run"
chmod 700 "$work/run"
due="$(date -d '+30 seconds' '+%Y-%m-%d %H:%M:%S')"
e2e_make_db "$work/appdata/BEXO/tasks.db" <<SQL
insert into tasks (taskid, summary, note, createddt, duedt)
    values ('RemindMeAaaaaaaa', 'Call the dentist', 'Ask for a morning appointment', datetime('now'), '$due');
SQL

APPDATA="$work/appdata" XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=xcb "$bin" >"$work/out" 2>&1 &
app=$!
pids+=($app)
started=$SECONDS

e2e_wait_main_window "$app"
main="$(echo "$windows" | head -n1)"
sleep 1
# The program's visible windows before the reminder: the main window and the
# tray icon embedded in trayer.
before="$(xdotool search --onlyvisible --pid "$app" 2>/dev/null | sort || true)"
import -window root "$work/before.png"

balloon=""
while [ $((SECONDS - started)) -lt 100 ]; do
    kill -0 "$app" 2>/dev/null || fail "the program ended"
    now="$(xdotool search --onlyvisible --pid "$app" 2>/dev/null | sort || true)"
    for id in $(comm -13 <(echo "$before") <(echo "$now")); do
        [ "$id" = "$main" ] && continue
        # A window found may be gone by the time it is asked about.
        geometry="$(xdotool getwindowgeometry --shell "$id" 2>/dev/null)" || continue
        eval "$geometry"
        # The balloon is a small window at the tray icon, at the top of the
        # screen where trayer sits; an error box would be in the middle.
        if [ "$WIDTH" -gt 40 ] && [ "$HEIGHT" -gt 20 ] && [ "$Y" -lt 200 ]; then
            balloon="$id"
            break 2
        fi
    done
    sleep 0.5
done
[ -n "$balloon" ] || fail "no balloon within $((SECONDS - started)) seconds of the start"
waited=$((SECONDS - started))
[ "$waited" -ge 55 ] || fail "the balloon came after $waited seconds, before the first pass"
sleep 0.5
import -window root "$work/after.png"
eval "$(xdotool getwindowgeometry --shell "$balloon")"
bx=$X by=$Y bw=$WIDTH bh=$HEIGHT
# The screen changed where the balloon is.
convert "$work/before.png" -crop "${bw}x${bh}+${bx}+${by}" +repage "$work/before-area.png"
convert "$work/after.png" -crop "${bw}x${bh}+${bx}+${by}" +repage "$work/after-area.png"
changed="$(compare -metric AE "$work/before-area.png" "$work/after-area.png" null: 2>&1 |
    awk '{ printf "%d", $1 }' || true)"
[ "${changed:-0}" -gt $((bw * bh / 10)) ] ||
    fail "the balloon's area of the screen barely changed ($changed pixels)"
if [ -n "$shot" ]; then cp "$work/after.png" "$shot"; fi

# A click on the balloon closes it and shows the main window.
xdotool mousemove $((bx + bw / 2)) $((by + bh / 2)) click 1
for _ in $(seq 50); do
    xdotool search --onlyvisible --pid "$app" 2>/dev/null | grep -qx "$balloon" || break
    sleep 0.1
done
xdotool search --onlyvisible --pid "$app" 2>/dev/null | grep -qx "$balloon" &&
    fail "the balloon stayed after a click"
xdotool search --onlyvisible --name '^Ulmora$' >/dev/null || fail "the main window is not shown"
kill -0 "$app" 2>/dev/null || fail "the program ended"
echo "ok: balloon ${bw}x${bh} at ${bx},${by} after ${waited} s on display :$display"
