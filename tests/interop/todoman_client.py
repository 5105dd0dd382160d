#!/usr/bin/python3
"""Another user's task program on the same collection: todoman on a local
folder of .ics files (a vdir) that vdirsyncer keeps in step with the CalDAV
collection, each with a configuration of its own in DIR.

    todoman_client.py DIR setup URL USER PASSWORD   write both configurations, discover
    todoman_client.py DIR sync                      vdirsyncer sync
    todoman_client.py DIR list [CATEGORY]           every task (any status) as todoman's
                                                    JSON (--porcelain); with CATEGORY
                                                    only the tasks of that category
    todoman_client.py DIR new SUMMARY [--due "YYYY-MM-DD HH:MM"] [--start ...]
                                      [--priority low|medium|high] [--note TEXT]
    todoman_client.py DIR edit SUMMARY [--summary TEXT] [--note TEXT] [--due ...]
    todoman_client.py DIR done SUMMARY
    todoman_client.py DIR reopen SUMMARY
    todoman_client.py DIR delete SUMMARY
    todoman_client.py DIR append SUMMARY LINE...    content lines added to its VTODO by
                                                    hand, through todoman's raw edit
    todoman_client.py DIR file SUMMARY              the text of its .ics file

A task is named by its summary, as a user picks it from the list: todoman's
numbers change whenever vdirsyncer rewrites a file. Dates are local time.

What todoman's command line can do goes through it (/usr/bin/todoman). Its
"edit" changes summary and description only in its interactive editor, and it
has no command to re-open a task: those two go through todoman's own model
exactly as that editor's "save" does (load the task, set the fields, save),
which also means what the editor drops is dropped (todoman keeps no
categories in its cache, so a task it saves loses them).
"""
import glob
import json
import os
import subprocess
import sys

TODOMAN = "/usr/bin/todoman"
VDIRSYNCER = "/usr/bin/vdirsyncer"
LIST_NAME = "tasks"


def paths(folder):
    return {
        "vdirsyncer": os.path.join(folder, "vdirsyncer.conf"),
        "todoman": os.path.join(folder, "todoman.py"),
        "status": os.path.join(folder, "status"),
        "calendars": os.path.join(folder, "calendars"),
        "vdir": os.path.join(folder, "calendars", LIST_NAME),
        "cache": os.path.join(folder, "todoman-cache.sqlite3"),
    }


def quoted(text):
    return json.dumps(text)


def run(command, stdin_text=None, env=None):
    result = subprocess.run(command, input=stdin_text, capture_output=True, text=True, env=env,
                            timeout=300)
    if result.returncode != 0:
        sys.stderr.write("%s failed (%d):\n%s%s" % (" ".join(command), result.returncode,
                                                     result.stdout, result.stderr))
        sys.exit(1)
    return result.stdout


def todoman(folder, *arguments, stdin_text=None, env=None):
    return run([TODOMAN, "-c", paths(folder)["todoman"], "--color", "never"] + list(arguments),
               stdin_text=stdin_text, env=env)


def setup(folder, url, user, password):
    p = paths(folder)
    os.makedirs(p["vdir"], exist_ok=True)
    os.makedirs(p["status"], exist_ok=True)
    with open(p["vdirsyncer"], "w", encoding="utf-8") as config:
        config.write(
            "[general]\nstatus_path = %s\n\n"
            "[pair tasks]\na = \"tasks_local\"\nb = \"tasks_remote\"\ncollections = null\n"
            "conflict_resolution = \"b wins\"\n\n"
            "[storage tasks_local]\ntype = \"filesystem\"\npath = %s\nfileext = \".ics\"\n\n"
            "[storage tasks_remote]\ntype = \"caldav\"\nurl = %s\nusername = %s\n"
            "password = %s\nitem_types = [\"VTODO\"]\n"
            % (quoted(p["status"] + "/"), quoted(p["vdir"] + "/"), quoted(url), quoted(user),
               quoted(password)))
    with open(p["todoman"], "w", encoding="utf-8") as config:
        config.write(
            "path = %s\ncache_path = %s\ndate_format = \"%%Y-%%m-%%d\"\n"
            "time_format = \"%%H:%%M\"\ndefault_list = %s\ndefault_due = 0\n"
            % (quoted(p["calendars"] + "/*"), quoted(p["cache"]), quoted(LIST_NAME)))
    # Answers nothing: with "collections = null" there is nothing to ask.
    run([VDIRSYNCER, "-c", p["vdirsyncer"], "discover"], stdin_text="")


def sync(folder):
    # Deleting the last task on one side is what a user may do: without
    # --force-delete vdirsyncer stops, taking an emptied side for a mistake.
    run([VDIRSYNCER, "-c", paths(folder)["vdirsyncer"], "sync", "--force-delete"], stdin_text="")


def tasks(folder, category=None):
    arguments = ["--porcelain", "list", "--status", "ANY"]
    if category:
        arguments += ["--category", category]
    return json.loads(todoman(folder, *arguments))


def task_id(folder, summary):
    found = [task["id"] for task in tasks(folder) if task["summary"] == summary]
    if len(found) != 1:
        sys.exit("%d tasks have the summary %r" % (len(found), summary))
    return str(found[0])


def options(arguments):
    values = {}
    while arguments:
        name = arguments.pop(0)
        if not name.startswith("--") or not arguments:
            sys.exit("bad option " + name)
        values[name[2:]] = arguments.pop(0)
    return values


def new(folder, summary, arguments):
    values = options(arguments)
    command = ["new", "--list", LIST_NAME]
    for name in ("due", "start", "priority"):
        if name in values:
            command += ["--" + name, values[name]]
    note = values.get("note")
    if note is not None:
        if "\n" in note:
            # todoman joins the lines it reads with one more line break each.
            sys.exit("todoman reads a one-line note only")
        command.append("--read-description")
    todoman(folder, *(command + [summary]), stdin_text=note)


def save_through_model(folder, summary, change):
    """Loads the task and saves it as todoman's interactive editor does."""
    from todoman.configuration import load_config
    from todoman.formatters import DefaultFormatter
    from todoman.model import Database

    ident = int(task_id(folder, summary))
    config = load_config(paths(folder)["todoman"])
    database = Database([p for p in glob.glob(config["path"]) if os.path.isdir(p)],
                        config["cache_path"])
    todo = database.todo(ident)
    formatter = DefaultFormatter(config["date_format"], config["time_format"],
                                 config["dt_separator"])
    change(todo, formatter)
    database.save(todo)


def edit(folder, summary, arguments):
    values = options(arguments)

    def change(todo, formatter):
        if "summary" in values:
            todo.summary = values["summary"]
        if "note" in values:
            todo.description = values["note"]
        if "due" in values:
            todo.due = formatter.parse_datetime(values["due"])

    save_through_model(folder, summary, change)


def reopen(folder, summary):
    def change(todo, formatter):
        # What the editor does when its "Completed" box is cleared.
        todo.status = "NEEDS-ACTION"
        todo.completed_at = None

    save_through_model(folder, summary, change)


def append(folder, summary, lines):
    # todoman's raw edit opens the task's file in $EDITOR; this "editor" adds
    # the lines before the end of the first VTODO.
    env = dict(os.environ)
    env["EDITOR"] = "%s %s --insert" % (sys.executable, os.path.abspath(__file__))
    env["TODOMAN_CLIENT_LINES"] = json.dumps(lines)
    todoman(folder, "edit", "--raw", task_id(folder, summary), env=env)


def insert(path):
    lines = json.loads(os.environ["TODOMAN_CLIENT_LINES"])
    with open(path, "rb") as source:
        text = source.read().decode("utf-8")
    newline = "\r\n" if "\r\n" in text else "\n"
    at = text.index("END:VTODO")
    text = text[:at] + "".join(line + newline for line in lines) + text[at:]
    with open(path, "wb") as target:
        target.write(text.encode("utf-8"))


def file_text(folder, summary):
    for path in glob.glob(os.path.join(paths(folder)["vdir"], "*.ics")):
        with open(path, "rb") as source:
            text = source.read().decode("utf-8")
        if "SUMMARY:" + summary in text.replace("\r\n ", "").replace("\n ", ""):
            sys.stdout.write(text)
            return
    sys.exit("no file holds " + summary)


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--insert":
        insert(sys.argv[2])
        return
    folder, action, arguments = sys.argv[1], sys.argv[2], sys.argv[3:]
    if action == "setup":
        setup(folder, *arguments)
    elif action == "sync":
        sync(folder)
    elif action == "list":
        json.dump(tasks(folder, arguments[0] if arguments else None), sys.stdout)
    elif action == "new":
        new(folder, arguments[0], arguments[1:])
    elif action == "edit":
        edit(folder, arguments[0], arguments[1:])
    elif action == "done":
        todoman(folder, "done", task_id(folder, arguments[0]))
    elif action == "reopen":
        reopen(folder, arguments[0])
    elif action == "delete":
        todoman(folder, "delete", "--yes", task_id(folder, arguments[0]))
    elif action == "append":
        append(folder, arguments[0], arguments[1:])
    elif action == "file":
        file_text(folder, arguments[0])
    else:
        sys.exit("unknown action " + action)


if __name__ == "__main__":
    main()
