#!/usr/bin/env python3
"""Writes a calendar of to-dos with the icalendar package, as another program
would, for the import test. Usage: write_ics.py FILE"""
import sys
from datetime import date, datetime, timedelta, timezone

from icalendar import Calendar, Todo, Event, Alarm, vCalAddress

cal = Calendar()
cal.add("prodid", "-//Other Writer//icalendar//EN")
cal.add("version", "2.0")

todo = Todo()
todo.add("uid", "py-first@example.org")
todo.add("dtstamp", datetime(2026, 3, 1, 8, 0, 0, tzinfo=timezone.utc))
todo.add("summary", "Buy milk, eggs; bread \U0001F95B")
todo.add("description", "Line one\nLine two, with comma; and semicolon\\ backslash")
todo.add("due", datetime(2026, 3, 30, 12, 0, 0, tzinfo=timezone.utc))
todo.add("created", datetime(2026, 2, 1, 9, 30, 0, tzinfo=timezone.utc))
todo.add("categories", ["Shopping", "Home, Garden"])
todo.add("priority", 1)
todo.add("x-other-client-colour", "teal")
alarm = Alarm()
alarm.add("action", "DISPLAY")
alarm.add("description", "Reminder")
alarm.add("trigger", timedelta(minutes=-15))
todo.add_component(alarm)
cal.add_component(todo)

done = Todo()
done.add("uid", "py-second@example.org")
done.add("dtstamp", datetime(2026, 3, 1, 8, 0, 0, tzinfo=timezone.utc))
done.add("summary", "Grüße an Zoë senden")
done.add("due", date(2026, 3, 29))
done.add("status", "COMPLETED")
done.add("completed", datetime(2026, 3, 2, 17, 45, 0, tzinfo=timezone.utc))
cal.add_component(done)

event = Event()
event.add("uid", "py-event@example.org")
event.add("dtstamp", datetime(2026, 3, 1, 8, 0, 0, tzinfo=timezone.utc))
event.add("summary", "A meeting, not a task")
event.add("dtstart", datetime(2026, 3, 5, 10, 0, 0, tzinfo=timezone.utc))
cal.add_component(event)

with open(sys.argv[1], "wb") as out:
    out.write(cal.to_ical())
