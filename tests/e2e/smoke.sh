#!/usr/bin/env bash
# Starts the real ulmora binary on its own Xvfb display (a free one, chosen by
# Xvfb) with a temporary APPDATA, and checks that the main window captioned
# "Ulmora" appears and that config.ini and tasks.db are created.
set -euo pipefail
bin="$1"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
e2e_require Xvfb xdotool
e2e_start_display

# APPDATA exists on every desktop; the program creates only its BEXO folder in it.
mkdir -p "$work/appdata"
APPDATA="$work/appdata" QT_QPA_PLATFORM=xcb "$bin" >"$work/out" 2>&1 &
app=$!
pids+=($app)

e2e_wait_main_window "$app"
sleep 0.5
windows="$(xdotool search --onlyvisible --name '^Ulmora$')"
[ "$(echo "$windows" | wc -l)" = 1 ] || fail "more than one Ulmora window (an error box?)"
eval "$(xdotool getwindowgeometry --shell "$windows")"
[ "$WIDTH" -ge 500 ] && [ "$HEIGHT" -ge 500 ] || fail "the window is ${WIDTH}x${HEIGHT}, not the main window"

[ -f "$work/appdata/BEXO/config.ini" ] || fail "config.ini was not created"
[ -f "$work/appdata/BEXO/tasks.db" ] || fail "tasks.db was not created"
grep -q '^theme=Turquoise Gray$' "$work/appdata/BEXO/config.ini" || fail "config.ini lacks its keys"
head -c 15 "$work/appdata/BEXO/tasks.db" | grep -q 'SQLite format 3' || fail "tasks.db is no SQLite file"
kill -0 "$app" 2>/dev/null || fail "the program ended"
echo "ok: window ${WIDTH}x${HEIGHT} on display :$display"
