#!/usr/bin/python3
"""An independent CalDAV client (python3-caldav) that edits the server's copy
of a to-do, as another program of the user would.

    caldav_client.py URL USER PASSWORD summary UID TEXT   set the summary
    caldav_client.py URL USER PASSWORD complete UID       finish it
    caldav_client.py URL USER PASSWORD create UID TEXT    a new to-do
    caldav_client.py URL USER PASSWORD show UID           print its summary
"""
import sys

import caldav


def main():
    url, user, password, action, uid = sys.argv[1:6]
    client = caldav.DAVClient(url=url, username=user, password=password)
    calendar = caldav.Calendar(client=client, url=url)
    if action == "create":
        calendar.save_todo(
            "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//caldav client//EN\r\n"
            "BEGIN:VTODO\r\nUID:%s\r\nDTSTAMP:20260101T000000Z\r\nSUMMARY:%s\r\n"
            "X-OTHER-CLIENT:kept\r\nEND:VTODO\r\nEND:VCALENDAR\r\n" % (uid, sys.argv[6]))
        return
    todo = calendar.object_by_uid(uid, comp_class=caldav.objects.Todo)
    if action == "show":
        todo.load()
        vtodo = todo.vobject_instance.vtodo
        print(vtodo.summary.value)
        other = getattr(vtodo, "x_other_client", None)
        print(other.value if other is not None else "")
        return
    if action == "summary":
        todo.vobject_instance.vtodo.summary.value = sys.argv[6]
        todo.save()
    elif action == "complete":
        todo.complete()
    else:
        sys.exit("unknown action " + action)


if __name__ == "__main__":
    main()
