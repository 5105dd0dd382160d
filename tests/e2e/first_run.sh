#!/usr/bin/env bash
# The real ulmora binary on its own Xvfb display with the openbox window
# manager, which puts a frame around the window, and the trayer tray host as
# a panel along the bottom of the screen, which takes its height from the
# work area. A first run (no config.ini) must show the window's client area
# at its design size, 525 by 551 pixels, with the outer bottom right corner of
# the frame at the bottom right corner of the work area. SIGTERM ends the
# program, which writes the outer frame into the five geometry keys; the next
# run must put the frame exactly there again with the same client area, and
# so must a run from keys the user's last session left elsewhere.
#   first_run.sh ULMORA_BINARY [SCREENSHOT.png]
# With a second argument (or ULMORA_E2E_SHOT) the screen of the first run is
# kept in that file.
set -euo pipefail
bin="$1"
shot="${2:-${ULMORA_E2E_SHOT:-}}"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
e2e_require Xvfb xdotool xprop xwininfo trayer openbox
[ -z "$shot" ] || e2e_require import
e2e_start_display
# The icon goes to trayer's panel, not to a notifier host on the session bus.
unset DBUS_SESSION_BUS_ADDRESS

e2e_start_openbox

# A panel of 28 pixels along the bottom that reserves its strip of the screen.
trayer --edge bottom --align right --widthtype pixel --width 120 --heighttype pixel --height 28 \
    --SetDockType true --SetPartialStrut true --transparent false --tint 0x404040 \
    >/dev/null 2>&1 &
pids+=($!)

# The work area of the first desktop: "x y width height"; waits up to 10
# seconds for openbox to take the panel's strip out of it.
area=""
for _ in $(seq 100); do
    area="$(xprop -root _NET_WORKAREA 2>/dev/null | sed -n 's/^.* = \([0-9]*\), \([0-9]*\), \([0-9]*\), \([0-9]*\).*$/\1 \2 \3 \4/p')"
    [ -n "$area" ] && [ "$(echo "$area" | cut -d' ' -f4)" -lt 768 ] && break
    sleep 0.1
done
read -r area_x area_y area_w area_h <<<"$area"
[ -n "${area_h:-}" ] && [ "$area_h" -lt 768 ] || fail "the panel took no strip of the screen: '$area'"
area_right=$((area_x + area_w)) area_bottom=$((area_y + area_h))

export APPDATA="$work/appdata" XDG_RUNTIME_DIR="$work/run"
export ULMORA_UPDATE_URL="http://127.0.0.1:9/scripts/kvd_services.php"
mkdir -p "$APPDATA" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
config="$APPDATA/BEXO/config.ini"

# key NAME: the value of NAME in config.ini
key() { sed -n "s/^$1=//p" "$config" | tr -d '\r'; }

# measure: the main window's client area (cx cy cw ch, from xwininfo) and the
# frame openbox put around it (left right top bottom, _NET_FRAME_EXTENTS),
# giving the outer frame (ox oy ow oh); empty values while openbox has not
# framed the window yet
measure() {
    local info extents
    info="$(xwininfo -id "$main" 2>/dev/null)" || return 1
    cx="$(echo "$info" | sed -n 's/^ *Absolute upper-left X: *//p')"
    cy="$(echo "$info" | sed -n 's/^ *Absolute upper-left Y: *//p')"
    cw="$(echo "$info" | sed -n 's/^ *Width: *//p')"
    ch="$(echo "$info" | sed -n 's/^ *Height: *//p')"
    extents="$(xprop -id "$main" _NET_FRAME_EXTENTS 2>/dev/null |
        sed -n 's/^.* = \([0-9]*\), \([0-9]*\), \([0-9]*\), \([0-9]*\)$/\1 \2 \3 \4/p')"
    [ -n "$extents" ] || return 1
    read -r fl fr ft fb <<<"$extents"
    ox=$((cx - fl)) oy=$((cy - ft)) ow=$((cw + fl + fr)) oh=$((ch + ft + fb))
}

# shown: the client area and the outer frame, for the messages
shown() { echo "client ${cw}x${ch} at $cx,$cy, frame ${ow}x${oh} at $ox,$oy (extents $fl,$fr,$ft,$fb)"; }

# start_run NAME: starts the program on the run's config.ini and waits for its
# main window, the program's window captioned "Ulmora" that openbox manages
start_run() {
    name="$1"
    QT_QPA_PLATFORM=xcb "$bin" >"$work/out" 2>&1 &
    app=$!
    pids+=("$app")
    e2e_managed_window "$app" 'window state: Normal' "$name"
}

# frame_is CW CH OX OY OW OH: true when the client area is CW by CH and the
# outer frame OW by OH at OX,OY (an empty OX, OY, OW or OH matches any value)
frame_is() {
    measure || return 1
    [ "$cw" = "$1" ] && [ "$ch" = "$2" ] &&
        { [ -z "$3" ] || [ "$ox" = "$3" ]; } && { [ -z "$4" ] || [ "$oy" = "$4" ]; } &&
        { [ -z "$5" ] || [ "$ow" = "$5" ]; } && { [ -z "$6" ] || [ "$oh" = "$6" ]; }
}

# expect_frame WHAT CW CH OX OY OW OH: waits up to 20 seconds, while the
# window manager frames the window, for frame_is CW CH OX OY OW OH, which must
# then stay true
expect_frame() {
    local what="$1"
    shift
    for _ in $(seq 200); do
        frame_is "$@" && break
        kill -0 "$app" 2>/dev/null || fail "$what: the program ended"
        sleep 0.1
    done
    frame_is "$@" ||
        fail "$what: $(shown); wanted client $1x$2, frame ${5:-?}x${6:-?} at ${3:-?},${4:-?}"
    # A late correction would move it away again.
    sleep 1
    frame_is "$@" || fail "$what: it did not stay: $(shown)"
}

# end_run: SIGTERM ends the program with status 0, and the five geometry keys
# hold the outer frame it had
end_run() {
    kill -TERM "$app"
    e2e_wait_ended "$app"
    [ "$status" = 0 ] || fail "$name: SIGTERM ended the program with status $status"
    [ "$(key window_left),$(key window_top),$(key window_width),$(key window_height)" = \
        "$ox,$oy,$ow,$oh" ] ||
        fail "$name: the keys hold $(key window_width)x$(key window_height) at" \
            "$(key window_left),$(key window_top), the frame was ${ow}x${oh} at $ox,$oy"
    [[ "$(key edittask_height)" =~ ^[0-9]+$ ]] ||
        fail "$name: edittask_height is not written: '$(key edittask_height)'"
}

# 1. The first run: the design size, the frame's corner at the work area's.
[ ! -e "$APPDATA/BEXO" ] || fail "the settings folder exists before the first run"
start_run first
expect_frame "first run" 525 551 "" "" "" ""
[ $((ox + ow)) = "$area_right" ] && [ $((oy + oh)) = "$area_bottom" ] ||
    fail "first run: $(shown); the frame's bottom right corner is at $((ox + ow)),$((oy + oh))," \
        "the work area's at $area_right,$area_bottom"
if [ -n "$shot" ]; then import -window root "$shot" || fail "no screenshot"; fi
end_run
first="$ox,$oy,$ow,$oh"

# 2. The next run puts the frame where the first left it, at the same size.
start_run second
expect_frame "second run" 525 551 "${first%%,*}" "$(echo "$first" | cut -d, -f2)" \
    "$(echo "$first" | cut -d, -f3)" "${first##*,}"
end_run

# 3. Keys the user's last session left: the frame goes exactly there, and the
# client area is what remains inside the frame.
sed -i -e 's/^window_left=.*/window_left=100/' -e 's/^window_top=.*/window_top=60/' \
    -e 's/^window_width=.*/window_width=640/' -e 's/^window_height=.*/window_height=600/' "$config"
start_run moved
expect_frame "run from stored keys" $((640 - fl - fr)) $((600 - ft - fb)) 100 60 640 600
end_run

echo "ok: the first run's 525x551 in a frame at the bottom right of the work area" \
    "$area_x,$area_y ${area_w}x${area_h}; the stored frames restored on display :$display"
