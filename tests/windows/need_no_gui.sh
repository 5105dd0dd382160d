#!/usr/bin/env bash
# The Windows twin of build_check/need_no_gui.sh: fails when one of the .exe
# files given imports the Qt Gui or Widgets DLL, directly or through a DLL it
# imports (followed through the folders on WINEPATH). Reads the imports with
# the cross toolchain's objdump on the build host.
set -euo pipefail
objdump=x86_64-w64-mingw32-objdump
command -v $objdump >/dev/null 2>&1 || { echo "$objdump is missing"; exit 77; }
IFS=';' read -r -a folders <<<"${WINEPATH:-}"
# Wine's drive Z: is the root of the file system.
unix_folder() { local f="${1#[Zz]:}"; echo "${f//\\//}"; }
imports() { $objdump -p "$1" | sed -n 's/^\s*DLL Name: //p'; }
status=0
for program in "$@"; do
    if [ ! -f "$program" ]; then
        echo "FAIL: $program is not built"
        status=1
        continue
    fi
    declare -A seen=()
    queue=("$program")
    found=""
    while [ ${#queue[@]} -gt 0 ]; do
        file="${queue[0]}"
        queue=("${queue[@]:1}")
        for dll in $(imports "$file"); do
            [ -n "${seen[$dll]:-}" ] && continue
            seen[$dll]=1
            case "$dll" in Qt6Gui.dll|Qt6Widgets.dll) found="$found $dll" ;; esac
            for folder in "${folders[@]}"; do
                folder="$(unix_folder "$folder")"
                if [ -f "$folder/$dll" ]; then queue+=("$folder/$dll"); break; fi
            done
        done
    done
    unset seen
    if [ -n "$found" ]; then
        echo "FAIL: $program needs$found"
        status=1
    else
        echo "ok: $(basename "$program")"
    fi
done
exit $status
