#!/usr/bin/env bash
# The real ulmora binary from a shell with no display at all (no DISPLAY, no
# WAYLAND_DISPLAY, no QT_QPA_PLATFORM): the version line, the help, every kind
# of refused command line (status 2, a message on stderr, nothing created or
# stored), and quick entries stored straight into the database of a fresh
# APPDATA when no Ulmora runs, by the editor's rules.
#   cli_binary.sh ULMORA_BINARY VERSION
set -euo pipefail
bin="$1"
version="$2"
command -v sqlite3 >/dev/null || { echo "SKIP: sqlite3 is not installed"; exit 77; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

export APPDATA="$work/appdata" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$APPDATA" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
db="$APPDATA/BEXO/tasks.db"

# run ARGS...: runs the program; its status in $status, its output in
# $work/stdout and $work/stderr
run() {
    status=0
    "$bin" "$@" >"$work/stdout" 2>"$work/stderr" || status=$?
}
sql() { sqlite3 "$db" "$1"; }

run --version
[ "$status" = 0 ] || fail "--version ended with $status: $(cat "$work/stderr")"
[ "$(cat "$work/stdout")" = "Ulmora $version" ] || fail "--version printed: $(cat "$work/stdout")"
[ ! -s "$work/stderr" ] || fail "--version wrote to stderr: $(cat "$work/stderr")"

run --help
[ "$status" = 0 ] || fail "--help ended with $status"
for option in "--add SUMMARY" "--note TEXT" "--tag TITLE" "--due WHEN" --show --hidden --version \
    "--import FILE" "--export FILE"; do
    grep -qe "$option" "$work/stdout" || fail "--help does not list $option"
done

# refused EXPECTED ARGS...: status 2, EXPECTED on stderr, nothing on stdout
refused() {
    local expected="$1"
    shift
    run "$@"
    [ "$status" = 2 ] || fail "ulmora $* ended with $status, not 2"
    grep -qF -- "$expected" "$work/stderr" || fail "ulmora $*: stderr lacks '$expected': $(cat "$work/stderr")"
    [ ! -s "$work/stdout" ] || fail "ulmora $* wrote to stdout"
}
refused "Unknown option 'frobnicate'" --frobnicate
grep -qF 'ulmora --help' "$work/stderr" || fail "a wrong command line gives no hint at --help"
refused "Missing value after '--add'" --add
refused 'unexpected argument "Anna"' --add Call Anna
refused "summary of --add is blank" --add "   "
refused "--due \"soon\" is no due date" --add x --due soon
refused "there is no such date" --add x --due "2023-02-29 10:00"
refused "--note belongs to --add" --note x
refused "cannot be combined" --show --hidden
# Nothing was created for a refused command line: not even the settings.
[ ! -e "$APPDATA/BEXO" ] || fail "a refused command line created $APPDATA/BEXO"
[ -z "$(ls -A "$XDG_RUNTIME_DIR")" ] || fail "a refused command line touched the runtime folder"

# The first entry creates the settings and the database, as a first start does.
run --add "Call Anna" --note "about the tickets" --due "2030-01-02 10:30"
[ "$status" = 0 ] || fail "--add ended with $status: $(cat "$work/stderr")"
[ ! -s "$work/stdout" ] && [ ! -s "$work/stderr" ] || fail "--add said something: $(cat "$work/stdout" "$work/stderr")"
[ -f "$APPDATA/BEXO/config.ini" ] || fail "config.ini was not created"
[ "$(sql "select summary || '|' || note || '|' || duedt || '|' || length(taskid) || '|' || (createddt is not null) || '|' || (finisheddt is null) from tasks")" = \
  "Call Anna|about the tickets|2030-01-02 10:30:00|16|1|1" ] || fail "stored: $(sql 'select * from tasks')"

# Tags by title; an unknown one stores nothing.
sql "insert into tags (tagid, title, color) values ('TagHomeAAAAAAAAA', 'Home', 255)"
sql "insert into tags (tagid, title, color) values ('TagShopAAAAAAAAA', 'Shop', 255)"
refused 'no tag is titled "Garden"' --add "Dig" --tag Home --tag Garden
grep -qF '"Home", "Shop"' "$work/stderr" || fail "the known tags are not named: $(cat "$work/stderr")"
[ "$(sql "select count(*) from tasks where summary='Dig'")" = 0 ] || fail "a refused entry was stored"
run --add "Buy milk" --tag home --tag Shop --due unplanned
[ "$status" = 0 ] || fail "--add with tags ended with $status: $(cat "$work/stderr")"
[ "$(sql "select group_concat(l.tagid) from tasks t join tags_tasks l on l.taskid = t.taskid where t.summary = 'Buy milk' order by l.tagid")" = \
  "TagHomeAAAAAAAAA,TagShopAAAAAAAAA" ] || fail "the tags were not linked"
[ "$(sql "select duedt is null from tasks where summary = 'Buy milk'")" = 1 ] || fail "unplanned has a due date"

# A general choice is rounded to the granularity (60 here) and leaves the
# night as in the editor; with night hours 0 to 0 there is no night.
sed -i 's/^time_granularity=.*/time_granularity=60/; s/^night_hours_from=.*/night_hours_from=0/; s/^night_hours_to=.*/night_hours_to=0/' \
    "$APPDATA/BEXO/config.ini"
run --add "In a while" --due 4hours
[ "$status" = 0 ] || fail "--due 4hours ended with $status: $(cat "$work/stderr")"
due="$(sql "select duedt from tasks where summary = 'In a while'")"
[[ "$due" =~ :00:00$ ]] || fail "--due 4hours is not rounded to the hour: $due"
now="$(date +%s)"
due_s="$(date -d "$due" +%s)"
[ $((due_s - now)) -ge $((3 * 3600 + 1800 - 120)) ] && [ $((due_s - now)) -le $((4 * 3600 + 1800 + 120)) ] ||
    fail "--due 4hours gave $due"

# --export writes every task; --import of that file into the same database
# skips them all by UID; a file that is not iCalendar ends with status 1.
run --export "$work/all.ics"
[ "$status" = 0 ] || fail "--export ended with $status: $(cat "$work/stderr")"
grep -qF "Exported 3 tasks to $work/all.ics." "$work/stdout" || fail "--export printed: $(cat "$work/stdout")"
grep -qF "SUMMARY:Call Anna" "$work/all.ics" || fail "the export lacks a task"
run --import "$work/all.ics"
[ "$status" = 0 ] || fail "--import ended with $status: $(cat "$work/stderr")"
grep -qF "0 added, 3 skipped (already present), 0 refused." "$work/stdout" || fail "--import printed: $(cat "$work/stdout")"
printf 'BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//T//T//EN\r\nBEGIN:VTODO\r\nUID:shell@example.org\r\nDTSTAMP:20260301T070000Z\r\nSUMMARY:From a file\r\nEND:VTODO\r\nEND:VCALENDAR\r\n' >"$work/one.ics"
(cd "$work" && run --import one.ics)
[ "$status" = 0 ] || fail "--import of a relative path ended with $status: $(cat "$work/stderr")"
[ "$(sql "select count(*) from tasks where summary = 'From a file'")" = 1 ] || fail "--import stored nothing"
echo "Buy milk" >"$work/plain.txt"
run --import "$work/plain.txt"
[ "$status" = 1 ] || fail "--import of a text file ended with $status"
grep -qF "not an iCalendar file" "$work/stderr" || fail "--import of a text file said: $(cat "$work/stderr")"
refused "cannot be combined" --import "$work/one.ics" --export "$work/x.ics"

# The database refuses: status 1 with the reason, nothing stored.
sql "create trigger no_tasks before insert on tasks begin select raise(abort, 'tasks are switched off'); end"
run --add "Refused"
[ "$status" = 1 ] || fail "a refused insert ended with $status"
grep -qF "tasks are switched off" "$work/stderr" || fail "the reason is not given: $(cat "$work/stderr")"

# A database that cannot be opened (a file stands where its folder should be):
# status 1 with the store's message.
touch "$work/not-a-folder"
sed -i "s|^db_file=.*|db_file=$work/not-a-folder/tasks.db|" "$APPDATA/BEXO/config.ini"
run --add "Nowhere"
[ "$status" = 1 ] || fail "an unopenable database ended with $status: $(cat "$work/stderr")"
grep -qF "not-a-folder/tasks.db" "$work/stderr" || fail "the database is not named: $(cat "$work/stderr")"
echo "ok"
