#!/usr/bin/python3
"""A proxy in front of a real CardDAV server that plays a second computer.

The first PUT that carries If-Match is held back: the proxy first changes
that card on the server itself (one more EMAIL, as another device would),
then passes the PUT on, which the server must now refuse with 412.
Everything else goes through unchanged. Each status relayed is appended to
STATUS_LOG, one per line, so that a test sees the 412 really happened.

    race_proxy.py LISTEN_PORT UPSTREAM_PORT USER:PASSWORD STATUS_LOG
"""
import base64
import http.client
import http.server
import sys
import threading

LISTEN, UPSTREAM, CREDENTIALS, STATUS_LOG = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4]
AUTH = "Basic " + base64.b64encode(CREDENTIALS.encode()).decode()
raced = threading.Event()
HOP = {"connection", "keep-alive", "transfer-encoding", "content-length", "host"}


def upstream(method, path, headers, body):
    conn = http.client.HTTPConnection("127.0.0.1", UPSTREAM, timeout=30)
    conn.request(method, path, body=body, headers=headers)
    answer = conn.getresponse()
    data = answer.read()
    conn.close()
    return answer.status, answer.getheaders(), data


def change_on_server(path):
    status, _, card = upstream("GET", path, {"Authorization": AUTH}, None)
    assert status == 200, f"GET {path}: {status}"
    card = card.replace(b"END:VCARD", b"EMAIL:otro.equipo@example.org\r\nEND:VCARD", 1)
    status, _, _ = upstream("PUT", path, {"Authorization": AUTH, "Content-Type": "text/vcard"}, card)
    assert status in (201, 204), f"PUT {path}: {status}"


class Relay(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def relay(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else None
        if self.command == "PUT" and "If-Match" in self.headers and not raced.is_set():
            raced.set()
            change_on_server(self.path)
        headers = {k: v for k, v in self.headers.items() if k.lower() not in HOP}
        status, answer_headers, data = upstream(self.command, self.path, headers, body)
        with open(STATUS_LOG, "a") as log:
            log.write(f"{self.command} {status}\n")
        self.send_response(status)
        for name, value in answer_headers:
            if name.lower() not in HOP:
                self.send_header(name, value)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    do_GET = do_PUT = do_DELETE = do_PROPFIND = do_REPORT = do_OPTIONS = relay

    def log_message(self, *args):
        pass


http.server.ThreadingHTTPServer(("127.0.0.1", LISTEN), Relay).serve_forever()
