# Shared settings of the Windows build scripts; sourced, never run.
# Everything built once (Qt for mingw, SQLite's amalgamation) lives in a cache
# outside the work tree, named by version, and is reused when complete.

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
cache_root="${ULMORA_WIN_CACHE:-/var/cache/ulmora}"
triple=x86_64-w64-mingw32
toolchain="$root/cmake/toolchain-mingw64.cmake"

# Qt for Windows is built from the Debian source of the host's Qt, so that the
# host's tools (moc, rcc, uic) fit it.
qt_deb_version="$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null || true)"
qt_version="${qt_deb_version%%+*}"
qt_prefix="${ULMORA_QT_CACHE:-$cache_root/qt-${qt_version}-mingw}"

sqlite_deb_version="$(dpkg-query -W -f='${Version}' libsqlite3-dev 2>/dev/null || true)"
sqlite_version="${sqlite_deb_version%%-*}"
sqlite_dir="${ULMORA_SQLITE_CACHE:-$cache_root/sqlite-${sqlite_version}-amalgamation}"

# The folders whose DLLs a non-static .exe needs: Qt's and mingw's runtime.
mingw_runtime_dirs=(/usr/lib/gcc/$triple/12-posix /usr/$triple/lib)

export WINEDEBUG="${WINEDEBUG:--all}"
export WINEPREFIX="${WINEPREFIX:-$cache_root/wineprefix}"

say() { printf '[build-windows] %s\n' "$*" >&2; }
die() { printf '[build-windows] FAILED: %s\n' "$*" >&2; exit 1; }

# A Linux path as wine's drive Z: shows it.
winpath() { local p="$1"; echo "Z:${p//\//\\}"; }

# What a Windows program of the build needs to run under wine: the DLL
# folders on WINEPATH and a wine prefix of its own (made on first use, about
# 7 s). Qt finds its plugins beside its DLLs (the cache is a relocatable
# prefix). Wine hands no variable whose name begins with QT_ to a Windows
# program: a test names its platform on the command line instead.
wine_env() {
    local build="$1" paths=()
    for dir in "$qt_prefix/bin" "${mingw_runtime_dirs[@]}" "$build/peer_relay"; do
        paths+=("$(winpath "$dir")")
    done
    WINEPATH="$(IFS=';'; echo "${paths[*]}")"
    export WINEPATH
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        say "creating the wine prefix $WINEPREFIX"
        mkdir -p "$WINEPREFIX"
        DISPLAY= wineboot --init >/dev/null 2>&1 || die "wineboot could not create $WINEPREFIX"
        wineserver --wait || true
    fi
}
