#!/usr/bin/env bash
# Fails when one of the programs given needs the Qt Gui or Widgets library at
# run time, directly or through another library: the core's programs and
# tests run where there is no display. Skips (77) without ldd.
set -euo pipefail
command -v ldd >/dev/null 2>&1 || { echo "ldd is missing"; exit 77; }
status=0
for program in "$@"; do
    if [ ! -x "$program" ]; then
        echo "FAIL: $program is not built"
        status=1
        continue
    fi
    found=$(ldd "$program" | grep -Eo 'libQt[0-9]*(Gui|Widgets)[^ ]*' | sort -u || true)
    if [ -n "$found" ]; then
        echo "FAIL: $program needs" $found
        status=1
    else
        echo "ok: $(basename "$program")"
    fi
done
exit $status
