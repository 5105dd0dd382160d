#!/usr/bin/env bash
# The structure check of the database's statements, run on the sources:
# - no statement on the task tables (tasks, tags, tags_tasks) outside store/,
#   whose operations the sync and the import call for task rows, tags and
#   links (they keep statements on their own tables only);
# - no SQL text at all in the folders of the windows and of the command line,
#   which call the store's operations.
# Tests, benchmarks and fuzzers are left out: they build their fixtures with
# statements of their own.
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/../.." && pwd)}"
cd "$root"
status=0

# A statement names a table after from, into, update or join; tags_tasks
# anywhere in a string.
tables='(from|into|update|join)[[:space:]]+(tasks|tags|tags_tasks)\b|tags_tasks'
found=$(grep -rnIiE --include='*.cpp' --include='*.h' "\"[^\"]*($tables)" \
    --exclude-dir=store --exclude-dir=tests --exclude-dir=bench --exclude-dir=fuzz \
    --exclude-dir='build*' . || true)
if [ -n "$found" ]; then
    echo "FAIL: statements on the task tables outside store/:"
    echo "$found"
    status=1
fi

statement='"[^"]*\b(select[[:space:]].*[[:space:]]from|insert[[:space:]]+into|delete[[:space:]]+from|update[[:space:]]+[a-z_]+[[:space:]]+set|create[[:space:]]+(table|index))\b'
for folder in app cli pool settings_ui sync_ui tags resources; do
    [ -d "$folder" ] || continue
    found=$(grep -rnIiE --include='*.cpp' --include='*.h' "$statement" "$folder" || true)
    if [ -n "$found" ]; then
        echo "FAIL: SQL text in $folder/, which calls the store's operations:"
        echo "$found"
        status=1
    fi
done
[ $status -eq 0 ] && echo "ok: the task tables' statements are all in store/"
exit $status
