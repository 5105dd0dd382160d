#!/usr/bin/python3
"""A third program on the collection (python3-caldav), which writes to-dos
with properties of its own, as a phone's or another desktop's task program
would.

    other_client.py URL USER PASSWORD save FILE   store the calendar object in
                                                  FILE as a new member; prints
                                                  the member's URL
"""
import sys

import caldav


def main():
    url, user, password, action = sys.argv[1:5]
    client = caldav.DAVClient(url=url, username=user, password=password)
    calendar = caldav.Calendar(client=client, url=url)
    if action == "save":
        with open(sys.argv[5], "rb") as source:
            text = source.read().decode("utf-8")
        todo = calendar.save_todo(text)
        print(todo.url)
    else:
        sys.exit("unknown action " + action)


if __name__ == "__main__":
    main()
