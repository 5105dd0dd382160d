#!/bin/sh
# Stands in for the updater in the update tests: it records how it was started
# (its own path, its arguments, whether the elevation stand-in ran it) in the
# file named by ULMORA_TEST_UPDATER_RECORD, written whole at once.
[ -n "$ULMORA_TEST_UPDATER_RECORD" ] || exit 0
tmp="$ULMORA_TEST_UPDATER_RECORD.$$"
printf '%s\n' "$0" "$@" "elevated=${ULMORA_TEST_ELEVATED:-no}" > "$tmp"
mv "$tmp" "$ULMORA_TEST_UPDATER_RECORD"
