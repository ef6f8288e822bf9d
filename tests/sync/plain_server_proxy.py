#!/usr/bin/python3
"""A CalDAV server as plain as the standards allow, for the sync tests: every request goes on to
the real server given as host:port, and the answers to PROPFIND lose the calendars' tags
(getctag) and report sets, so a client can neither tell a change by a calendar's tag nor sync by
token. An upload of a task whose text says "Refused by the server" is refused (403), as servers
refuse what breaks their rules. Prints "listening <port>" once it takes requests on 127.0.0.1."""
import http.client
import http.server
import re
import sys

BACKEND = sys.argv[1]
HIDDEN = re.compile(
    rb"<(?:[A-Za-z]+:)?(getctag|supported-report-set)\b[^>]*?(?:/>|>.*?</(?:[A-Za-z]+:)?\1>)", re.S
)
PASSED_BACK = ("content-length", "transfer-encoding", "connection", "keep-alive")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def forward(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else None
        # Uncompressed, to be read here.
        headers = {
            k: v for k, v in self.headers.items() if k.lower() not in ("connection", "accept-encoding")
        }
        if self.command == "PUT" and body and b"SUMMARY:Refused by the server" in body:
            self.send_response(403, "Forbidden")
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        backend = http.client.HTTPConnection(BACKEND, timeout=60)
        backend.request(self.command, self.path, body, headers)
        reply = backend.getresponse()
        data = reply.read()
        backend.close()
        if self.command == "PROPFIND":
            data = HIDDEN.sub(b"", data)
        self.send_response(reply.status, reply.reason)
        for name, value in reply.getheaders():
            if name.lower() not in PASSED_BACK:
                self.send_header(name, value)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    do_GET = do_PUT = do_DELETE = do_PROPFIND = do_PROPPATCH = do_REPORT = do_MKCALENDAR = forward

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
print("listening", server.server_address[1], flush=True)
server.serve_forever()
