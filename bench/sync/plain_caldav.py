#!/usr/bin/python3
"""The requests of a first sync made by a plain script, for comparison with
the sync engine, timed from the first request to the last:

    plain_caldav.py up COLLECTION_URL USER PASSWORD COUNT
        COUNT PUTs of new to-dos into an empty collection
    plain_caldav.py down COLLECTION_URL USER PASSWORD COUNT
        one PROPFIND of the collection, then calendar-multiget reports of 200
        hrefs each; the collection must hold COUNT members

Prints the seconds.
"""
import base64
import http.client
import re
import sys
import time
import urllib.parse


def main():
    mode, url, user, password = sys.argv[1:5]
    count = int(sys.argv[5])
    parts = urllib.parse.urlsplit(url)
    path = parts.path if parts.path.endswith("/") else parts.path + "/"
    auth = "Basic " + base64.b64encode(("%s:%s" % (user, password)).encode()).decode()
    connection = http.client.HTTPConnection(parts.hostname, parts.port)

    def request(method, target, body, headers):
        headers = dict(headers, Authorization=auth)
        connection.request(method, target, body=body, headers=headers)
        reply = connection.getresponse()
        data = reply.read()
        if reply.status >= 300:
            sys.exit("%s %s: %d" % (method, target, reply.status))
        return data

    if mode == "up":
        print("%.3f" % up_sync(request, path, count))
    else:
        print("%.3f" % down_sync(request, path, count))


def up_sync(request, path, count):
    start = time.monotonic()
    for number in range(count):
        uid = "plain%011d" % number
        body = ("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//plain//EN\r\nBEGIN:VTODO\r\n"
                "UID:%s\r\nCREATED:20261210T120000Z\r\nDTSTAMP:20261210T120000Z\r\n"
                "LAST-MODIFIED:20261210T120000Z\r\nSUMMARY:Task %d\r\nSTATUS:NEEDS-ACTION\r\n"
                "END:VTODO\r\nEND:VCALENDAR\r\n" % (uid, number))
        request("PUT", path + uid + ".ics", body.encode(),
                {"Content-Type": "text/calendar; charset=utf-8", "If-None-Match": "*"})
    return time.monotonic() - start


def down_sync(request, path, count):
    start = time.monotonic()
    listing = request("PROPFIND", path,
                      b'<?xml version="1.0"?><d:propfind xmlns:d="DAV:"><d:prop><d:getetag/>'
                      b'</d:prop></d:propfind>',
                      {"Depth": "1", "Content-Type": "application/xml; charset=utf-8"})
    hrefs = [h for h in re.findall(rb"<(?:\w+:)?href>([^<]*)</", listing)
             if h.endswith(b".ics")]
    for first in range(0, len(hrefs), 200):
        body = (b'<?xml version="1.0"?><c:calendar-multiget xmlns:d="DAV:" '
                b'xmlns:c="urn:ietf:params:xml:ns:caldav"><d:prop><d:getetag/>'
                b'<c:calendar-data/></d:prop>' +
                b"".join(b"<d:href>" + h + b"</d:href>" for h in hrefs[first:first + 200]) +
                b"</c:calendar-multiget>")
        request("REPORT", path, body,
                {"Depth": "1", "Content-Type": "application/xml; charset=utf-8"})
    down = time.monotonic() - start
    if len(hrefs) != count:
        sys.exit("listed %d members, expected %d" % (len(hrefs), count))
    return down


if __name__ == "__main__":
    main()
