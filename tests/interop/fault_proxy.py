#!/usr/bin/python3
"""An HTTP proxy on 127.0.0.1 in front of a CalDAV server, for the tests: it
forwards every request as it came (Basic auth, body and headers such as ETag,
If-Match and If-None-Match untouched) and, by rules the test sets, fails some
of them the ways a server or a network fails.

    fault_proxy.py TARGET_PORT

It prints the port it listens on as its first line. The test then writes one
line of JSON per change of the rules to its input: a list of rules, each

    {"method": "PUT",      request method, "*" (the default) for any
     "path": "abc.ics",    a part of the request path, "" (the default) for any
     "action": "status",   see below
     "status": 412,        the status answered (500 when not given)
     "skip": 0,            matching requests let through before acting
     "times": -1}          how often to act; -1 (the default) for ever

with the actions
    status       answer the status instead of forwarding
    after        forward, then answer the status instead of the server's
                 answer (the server stored it, the client is told it failed)
    drop         close the connection without forwarding or answering
    drop-after   forward, then close the connection without answering

An empty list forwards everything. Each line is answered with "ok" once the
rules apply, so that the test knows the next request sees them. The proxy
quits at the end of its input: when the test that started it ends, however
it ends.
"""
import http.client
import http.server
import json
import os
import sys
import threading

# Headers of one connection, not of the request: never forwarded.
HOP_BY_HOP = {
    "connection", "keep-alive", "proxy-authenticate", "proxy-authorization", "te",
    "trailer", "transfer-encoding", "upgrade", "content-length",
}


class Rules:
    def __init__(self):
        self._lock = threading.Lock()
        self._rules = []

    def replace(self, rules):
        with self._lock:
            self._rules = [dict(rule, seen=0, acted=0) for rule in rules]

    def action_for(self, method, path):
        """The rule that acts on this request, or None to forward it."""
        with self._lock:
            for rule in self._rules:
                if rule.get("method", "*") not in ("*", method):
                    continue
                if rule.get("path", "") not in path:
                    continue
                rule["seen"] += 1
                if rule["seen"] <= rule.get("skip", 0):
                    continue
                times = rule.get("times", -1)
                if times >= 0 and rule["acted"] >= times:
                    continue
                rule["acted"] += 1
                return rule
        return None


RULES = Rules()
TARGET_PORT = 0


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    upstream = None

    def log_message(self, *args):
        pass

    def __getattr__(self, name):
        # Every method (PROPFIND, REPORT, MKCALENDAR, ...) goes through one
        # handler.
        if name.startswith("do_"):
            return self.proxy
        raise AttributeError(name)

    def read_body(self):
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            body = b""
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip(), 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    return body
                body += self.rfile.read(size)
                self.rfile.readline()
        length = int(self.headers.get("Content-Length", "0") or "0")
        return self.rfile.read(length) if length > 0 else b""

    def forward(self, body):
        for attempt in range(2):
            if self.upstream is None:
                self.upstream = http.client.HTTPConnection("127.0.0.1", TARGET_PORT, timeout=300)
            try:
                self.upstream.putrequest(self.command, self.path, skip_host=True,
                                         skip_accept_encoding=True)
                for name, value in self.headers.items():
                    if name.lower() not in HOP_BY_HOP:
                        self.upstream.putheader(name, value)
                if body or self.command not in ("GET", "HEAD", "DELETE", "OPTIONS"):
                    self.upstream.putheader("Content-Length", str(len(body)))
                self.upstream.endheaders(body)
                reply = self.upstream.getresponse()
                return reply, reply.read()
            except (http.client.HTTPException, OSError):
                # The server closed a connection kept open from an earlier
                # request: one more try on a new one.
                self.upstream.close()
                self.upstream = None
                if attempt == 1:
                    raise
        return None

    def answer(self, status, reason, headers, data):
        self.send_response_only(status, reason)
        for name, value in headers:
            if name.lower() not in HOP_BY_HOP:
                self.send_header(name, value)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(data)
        self.wfile.flush()

    def proxy(self):
        body = self.read_body()
        rule = RULES.action_for(self.command, self.path)
        action = rule.get("action", "status") if rule else None
        status = rule.get("status", 500) if rule else 0
        if action in ("status", "drop"):
            if action == "drop":
                self.close_connection = True
                return
            self.answer(status, None, [("Content-Type", "text/plain")],
                        b"injected by the test's proxy\n")
            return
        try:
            reply, data = self.forward(body)
        except (http.client.HTTPException, OSError) as error:
            self.answer(502, None, [("Content-Type", "text/plain")], str(error).encode())
            return
        if action == "drop-after":
            self.close_connection = True
            return
        if action == "after":
            self.answer(status, None, [("Content-Type", "text/plain")],
                        b"injected by the test's proxy after forwarding\n")
            return
        self.answer(reply.status, reply.reason, reply.getheaders(), data)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True


def main():
    global TARGET_PORT
    TARGET_PORT = int(sys.argv[1])
    server = Server(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print(server.server_address[1], flush=True)
    for line in sys.stdin:
        line = line.strip()
        if not line:
            continue
        try:
            RULES.replace(json.loads(line))
            print("ok", flush=True)
        except (ValueError, TypeError) as error:
            print("error " + str(error), flush=True)
    # End of input: whoever started the proxy is gone.
    os._exit(0)


if __name__ == "__main__":
    main()
