#!/usr/bin/env bash
# Installs Ulmora into a staging prefix and checks what arrived there: exactly
# the expected files, the launcher entry and the AppStream file clean by their
# validators and naming each other, the icon's PNGs at their sizes, man pages
# that format without warnings and describe the options that --help lists,
# --version answering the release. Then runs the INSTALLED program from / on its
# own Xvfb display with the trayer tray host: its window and its tray icon
# appear, the installed ulmora-pipe reads its version, and it ends with status
# 0 on the updater's terminate command and on SIGTERM.
#   install.sh CMAKE BUILD_DIR SOURCE_DIR
set -euo pipefail
cmake="$1" build="$2" source="$3"
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/common.sh"
e2e_require desktop-file-validate appstreamcli groff readelf Xvfb xdotool xprop trayer
e2e_start_display

id=io.github.ulmora.Ulmora
sizes=(16 22 24 32 48 64 128 256)
prefix="$work/prefix"
"$cmake" --install "$build" --prefix "$prefix" >"$work/out" 2>&1 || fail "cmake --install failed"

# The file set: nothing missing, nothing stray.
expected=(bin/ulmora bin/ulmora-pipe
    "share/applications/$id.desktop"
    "share/icons/hicolor/scalable/apps/$id.svg"
    "share/metainfo/$id.metainfo.xml"
    share/man/man1/ulmora.1.gz share/man/man1/ulmora-pipe.1.gz)
for size in "${sizes[@]}"; do
    expected+=("share/icons/hicolor/${size}x${size}/apps/$id.png")
done
diff <(printf '%s\n' "${expected[@]}" | sort) <(cd "$prefix" && find . ! -type d | sed 's|^\./||' | sort) \
    >"$work/out" || fail "the installed files differ from the expected ones (< expected, > installed)"

# The programs run from anywhere: no search path into the build tree.
for program in ulmora ulmora-pipe; do
    [ -x "$prefix/bin/$program" ] || fail "bin/$program is not executable"
    readelf -d "$prefix/bin/$program" >"$work/out"
    ! grep -Eq 'R(UN)?PATH' "$work/out" || fail "bin/$program keeps a library search path"
done

# The launcher entry: valid, and it names the installed program and icon.
desktop="$prefix/share/applications/$id.desktop"
desktop-file-validate "$desktop" >"$work/out" 2>&1 || fail "desktop-file-validate rejects $id.desktop"
[ ! -s "$work/out" ] || fail "desktop-file-validate warns about $id.desktop"
entry() { sed -n "s/^$1=//p" "$desktop"; }
[ -x "$prefix/bin/$(entry Exec | cut -d' ' -f1)" ] || fail "Exec=$(entry Exec) is no installed program"
[ "$(entry Icon)" = "$id" ] || fail "Icon=$(entry Icon) is not the installed icon $id"

# The AppStream file: valid without the network, its id and launchable the
# desktop entry's, its screenshot the README's picture at its size.
metainfo="$prefix/share/metainfo/$id.metainfo.xml"
appstreamcli validate --no-net "$metainfo" >"$work/out" 2>&1 || fail "appstreamcli rejects $id.metainfo.xml"
grep -q "<id>$id</id>" "$metainfo" || fail "the AppStream id is not $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
    fail "the AppStream file does not launch $id.desktop"
grep -q '](docs/main.png)' "$source/README.md" || fail "the README shows no docs/main.png"
grep -Eq '<image type="source"[^>]*>https://[^<]*/docs/main\.png</image>' "$metainfo" ||
    fail "the AppStream screenshot is not the README's docs/main.png"
release="$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$metainfo")"

# Each PNG is a PNG of its folder's size.
png_size() {
    local b
    read -ra b < <(od -An -v -tu1 -w24 -N24 "$1")
    [ "${b[1]} ${b[2]} ${b[3]}" = "80 78 71" ] || { echo "no PNG"; return; }
    echo "$(((b[16] << 24) | (b[17] << 16) | (b[18] << 8) | b[19]))x$(((b[20] << 24) | (b[21] << 16) | (b[22] << 8) | b[23]))"
}
for size in "${sizes[@]}"; do
    got="$(png_size "$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png")"
    [ "$got" = "${size}x${size}" ] || fail "the ${size}x${size} icon is $got"
done
grep -q '<svg' "$prefix/share/icons/hicolor/scalable/apps/$id.svg" || fail "the scalable icon is no SVG"
shot="$(sed -n 's/.*<image type="source" width="\([0-9]*\)" height="\([0-9]*\)">.*/\1x\2/p' "$metainfo")"
[ "$shot" = "$(png_size "$source/docs/main.png")" ] ||
    fail "the AppStream screenshot is said to be $shot, docs/main.png is $(png_size "$source/docs/main.png")"

# The installed program tells its version, the release's, and lists its
# options; neither needs a running Ulmora. A program that ignored the options
# would start its window instead: the time-out ends it.
mkdir -p "$work/cli/run"
chmod 700 "$work/cli/run"
cli() {
    (cd / && APPDATA="$work/cli" XDG_RUNTIME_DIR="$work/cli/run" QT_QPA_PLATFORM=xcb \
        timeout 20 "$prefix/bin/ulmora" "$@") 2>"$work/out"
}
version="$(cli --version)" || fail "ulmora --version failed"
[ "$version" = "Ulmora $release" ] || fail "ulmora --version prints '$version', not 'Ulmora $release'"
help="$(cli --help)" || fail "ulmora --help failed"
options="$(echo "$help" | grep -oE '^ +(-[a-z], )?--[a-z0-9]+' | grep -oE -- '--[a-z0-9]+' || true)"
[ -n "$options" ] || fail "ulmora --help lists no options: $help"

# The man pages format without a warning, carry the release's version and
# describe every option, those that --help lists included.
for page in ulmora ulmora-pipe; do
    gzip -dc "$prefix/share/man/man1/$page.1.gz" >"$work/$page.1"
    groff -man -ww -z "$work/$page.1" >"$work/out" 2>&1 || fail "groff fails on $page.1"
    [ ! -s "$work/out" ] || fail "groff warns about $page.1"
    groff -man -Tascii -P -cbou "$work/$page.1" >"$work/$page.txt" 2>/dev/null
    grep -q "^ *$page - " "$work/$page.txt" || fail "$page.1 has no NAME line for $page"
    grep -q "Ulmora $release" "$work/$page.txt" || fail "$page.1 is not of version $release"
done
for option in --version --help --add --note --tag --due --show --hidden $options; do
    grep -q -- "$option" "$work/ulmora.txt" || fail "ulmora.1 does not describe $option"
done

# The installed program, end to end. The tray icon is the tray host's own
# embedded window, not a notifier item on the session bus.
unset DBUS_SESSION_BUS_ADDRESS
e2e_start_tray

# visible_windows: the ids of the program's visible windows
visible_windows() { xdotool search --onlyvisible --pid "$app" 2>/dev/null || true; }

# start NAME: starts the installed program from / with its own APPDATA and
# socket folder, and waits for its window, its socket and its tray icon
start() {
    name="$1"
    appdata="$work/$name"
    mkdir -p "$appdata/run"
    chmod 700 "$appdata/run"
    (cd / && APPDATA="$appdata" XDG_RUNTIME_DIR="$appdata/run" QT_QPA_PLATFORM=xcb \
        ULMORA_UPDATE_URL="http://127.0.0.1:9/scripts/kvd_services.php" \
        exec "$prefix/bin/ulmora") >"$work/out" 2>&1 &
    app=$!
    pids+=("$app")
    e2e_wait_main_window "$app"
    main="$(echo "$windows" | head -n1)"
    for _ in $(seq 100); do
        [ -S "$appdata/run/kvd_bexo" ] && break
        sleep 0.1
    done
    [ -S "$appdata/run/kvd_bexo" ] || fail "$name: the pipe did not appear"
    # The tray icon: the program's small window inside trayer's panel (120 by
    # 28 pixels at the top right of the 1024 pixels wide screen), waited for
    # up to 30 seconds (a loaded machine embeds it slowly).
    local icon=""
    for _ in $(seq 300); do
        for window in $(visible_windows); do
            [ "$window" = "$main" ] && continue
            eval "$(xdotool getwindowgeometry --shell "$window")"
            if [ "$Y" -lt 28 ] && [ "$HEIGHT" -le 28 ] && [ "$X" -ge $((1024 - 120)) ]; then
                icon="$window"
                break 2
            fi
        done
        sleep 0.1
    done
    [ -n "$icon" ] || fail "$name: no tray icon in the tray host"
}

# pipe COMMAND: the installed ulmora-pipe's answer to COMMAND
pipe() { XDG_RUNTIME_DIR="$appdata/run" "$prefix/bin/ulmora-pipe" kvd_bexo "$1" | tr -d '\r'; }

# wait_ended: the program must end with status 0 and remove its socket
wait_ended() {
    local status=0 ended=""
    # A guard against a program that keeps running, not a measure of speed.
    for _ in $(seq 200); do
        kill -0 "$app" 2>/dev/null || { ended=1; break; }
        sleep 0.1
    done
    [ -n "$ended" ] || fail "$name: the program kept running"
    wait "$app" || status=$?
    [ "$status" = 0 ] || fail "$name: the program ended with status $status"
    [ ! -e "$appdata/run/kvd_bexo" ] || fail "$name: the socket is left behind"
}

start terminate
# Launchers match the running window to their entry by its class.
xprop -id "$main" WM_CLASS | grep -q "\"$(entry StartupWMClass)\"\$" ||
    fail "the window's class is not StartupWMClass=$(entry StartupWMClass): $(xprop -id "$main" WM_CLASS)"
pipe kvd_command_getversion >"$work/reply" || fail "ulmora-pipe could not ask for the version"
grep -qx "version=$release" "$work/reply" ||
    fail "the program answers $(grep version= "$work/reply"), the AppStream release is $release"
pipe kvd_command_terminate >"$work/reply" || fail "ulmora-pipe could not send the terminate command"
grep -qx "Result: ok" "$work/reply" || fail "the terminate command was not answered ok"
wait_ended

start sigterm
kill -TERM "$app"
wait_ended
echo "ok: installed ${#expected[@]} files, validated; the installed program ran on display :$display"
