#!/usr/bin/env bash
# Starts the real ulmora binary on its own Xvfb display (a free one, chosen by
# Xvfb) with a temporary APPDATA, and checks that the main window captioned
# "Ulmora" appears and that config.ini and tasks.db are created.
set -euo pipefail
bin="$1"
for tool in Xvfb xdotool; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

work="$(mktemp -d)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; [ -f "$work/out" ] && cat "$work/out" >&2; exit 1; }

exec {fd}<> <(:)
Xvfb -displayfd "$fd" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb" 2>&1 &
pids+=($!)
read -r -t 20 display <&"$fd" || fail "Xvfb did not start"
export DISPLAY=":$display"

# APPDATA exists on every desktop; the program creates only its BEXO folder in it.
mkdir -p "$work/appdata"
APPDATA="$work/appdata" QT_QPA_PLATFORM=xcb "$bin" >"$work/out" 2>&1 &
app=$!
pids+=($app)

windows=""
for _ in $(seq 200); do
    windows="$(xdotool search --onlyvisible --name '^Ulmora$' 2>/dev/null || true)"
    [ -n "$windows" ] && break
    kill -0 "$app" 2>/dev/null || fail "the program ended early"
    sleep 0.1
done
[ -n "$windows" ] || fail "no window captioned Ulmora appeared"
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
