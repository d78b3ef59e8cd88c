#!/usr/bin/python3
"""A small CardDAV server that misbehaves on request, for the server sync's
accident tests. One address book at /u/book/ (user "ana", password "clave"),
no sync-collection (ETags only).

    fake_dav.py PORT CONTROL LOG [HOST]

Before every request the server reads the file CONTROL, if it exists: one
line "FAULT KIND", and answers the first request of KIND (PROPFIND,
MULTIGET, PUT, DELETE, or * for any) with FAULT, then removes the file
(a third field N: the first N such requests).
FAULT is a status (401, 403, 404, 500, 507), 429 or 503 (with
"Retry-After: N" given as 503:N), drop (the connection closed unanswered),
cut (half the body sent), huge (an endless body, its length said), endless
(one in chunks, no length said), slow (a byte a second),
malformed (XML that is not), redirect:URL (301 there), 412 (the card
changed meanwhile: a NOTE added, then 412), reset (the two first cards
again, at once), empty (every card deleted, at once), many (the address book
holds the number of generated cards given as KIND, at once). "mode WHAT"
(at once, until the next reset or "unmode WHAT") makes the server itself other:
  noetag           no ETags at all; any If-Match but * fails
  weak             weak ETags W/"..."; If-Match compares strongly, as it must
  sync:K           sync-collection with tokens, at most K changes an answer
                   (the rest: 507 on the collection, to go on from the token)
  token500         sync-collection, but a token is answered with 500
  endless507       sync-collection always cut short (507), with a new token
  withhold:STATUS  a card "secreta.vcf" is listed, but a multiget answers it
                   with STATUS (withhold:STATUS:NAME: the card NAME instead)
  odd              a card "p;q,r/s.vcf" whose href is /u/book/p%3Bq%2Cr%2Fs.vcf,
                   reached only by that href
  puttagless       a PUT is answered without an ETag
  readonly         the home /u/ holds, besides the user's address book, one
                   the user may only read (/u/recent/)
  edit NAME        (with KIND a phone number) the card NAME gets that TEL,
                   as another client would
Every request is logged to LOG as "METHOD PATH auth=yes|no if-match=VALUE
ua=USER-AGENT".
"""
import base64
import hashlib
import http.server
import os
import socketserver
import sys
import time
from xml.sax.saxutils import escape

PORT, CONTROL, LOG = int(sys.argv[1]), sys.argv[2], sys.argv[3]
HOST = sys.argv[4] if len(sys.argv) > 4 else "127.0.0.1"
HOME, BOOK = "/u/", "/u/book/"
AUTH = "Basic " + base64.b64encode(b"ana:clave").decode()
FIRST = {
    "carla.vcf": "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:carla\r\nFN:Carla Tres\r\nN:Tres;Carla;;;\r\n"
                 "TEL:555 3\r\nEND:VCARD\r\n",
    "dario.vcf": "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:dario\r\nFN:Dario Cuatro\r\nN:Cuatro;Dario;;;\r\n"
                 "EMAIL:dario@example.org\r\nEND:VCARD\r\n",
}
cards = dict(FIRST)
modes = set()
changes = []  # names changed, in order: the sync-collection's history
ODD = "p%3Bq%2Cr%2Fs.vcf"


def etag(data):
    if "noetag" in modes:
        return ""
    strong = '"' + hashlib.sha1(data.encode()).hexdigest() + '"'
    return "W/" + strong if "weak" in modes else strong


def mode(prefix):
    """The value of the mode named prefix ("sync:5" -> "5"), or None."""
    for m in modes:
        if m == prefix or m.startswith(prefix + ":"):
            return m.partition(":")[2]
    return None


def change(name, data):
    if data is None:
        cards.pop(name, None)
    else:
        cards[name] = data
    changes.append(name)


def href(name):
    return BOOK + (ODD if name == "p;q,r/s.vcf" else name)


def name_of(path):
    if not path.startswith(BOOK):
        return None
    rest = path[len(BOOK):]
    if rest == ODD:
        return "p;q,r/s.vcf"
    return None if rest == "p;q,r/s.vcf" or "%" in rest else rest


def response(href, props="", status="HTTP/1.1 200 OK"):
    return (f"<d:response><d:href>{href}</d:href><d:propstat><d:prop>{props}</d:prop>"
            f"<d:status>{status}</d:status></d:propstat></d:response>")


def multistatus(body):
    return ('<?xml version="1.0"?><d:multistatus xmlns:d="DAV:" '
            'xmlns:c="urn:ietf:params:xml:ns:carddav" xmlns:cs="http://calendarserver.org/ns/">' + body + "</d:multistatus>").encode()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def fault(self, kind):
        global cards, modes, changes
        try:
            with open(CONTROL) as f:
                what, target, *times = f.read().split()
        except (OSError, ValueError):
            return None
        if what == "reset":
            cards, modes, changes = dict(FIRST), set(), []
        elif what == "mode":
            modes.add(target)
            if target.startswith("withhold") and target.count(":") == 1:
                change("secreta.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:s\r\nFN:Sara Siete\r\n"
                                      "N:Siete;Sara;;;\r\nEND:VCARD\r\n")
            if target == "odd":
                change("p;q,r/s.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:pqr\r\nFN:Pilar Ocho\r\n"
                                    "N:Ocho;Pilar;;;\r\nEND:VCARD\r\n")
        elif what == "unmode":
            modes.discard(target)
        elif what == "edit":
            name, tel = target, times.pop(0)
            change(name, cards[name].replace("END:VCARD", f"TEL:{tel}\r\nEND:VCARD"))
        elif what == "empty":
            cards = {}
        elif what == "many":
            cards = {f"n{i}.vcf": f"BEGIN:VCARD\r\nVERSION:3.0\r\nUID:n{i}\r\nFN:Nombre{i} Apellido\r\n"
                                  f"N:Apellido;Nombre{i};;;\r\nTEL:{i}\r\nEND:VCARD\r\n"
                     for i in range(int(target))}
        elif target not in ("*", kind):
            return None
        if times and int(times[0]) > 1:
            with open(CONTROL, "w") as f:
                f.write(f"{what} {target} {int(times[0]) - 1}\n")
        else:
            os.unlink(CONTROL)
        return None if what in ("reset", "empty", "many", "mode", "unmode", "edit") else what

    def send(self, status, body=b"", headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def misbehave(self, what, body):
        if what.startswith("redirect:"):
            return self.send(301, headers=[("Location", what[9:])])
        if what in ("401", "403", "404", "500", "507"):
            return self.send(int(what))
        if what.startswith(("429", "503")):
            status, _, after = what.partition(":")
            return self.send(int(status), headers=[("Retry-After", after)] if after else [])
        if what == "drop":
            self.close_connection = True
            return self.connection.close()
        self.send_response(207)
        self.send_header("Content-Type", "application/xml")
        if what == "malformed":
            bad = b'<?xml version="1.0"?><d:multistatus xmlns:d="DAV:"><d:response><d:href>'
            self.send_header("Content-Length", str(len(bad)))
            self.end_headers()
            return self.wfile.write(bad)
        if what == "endless":
            return self.endless()
        self.send_header("Content-Length", str(len(body) if what != "huge" else 1 << 34))
        self.end_headers()
        self.close_connection = True
        if what == "cut":
            self.wfile.write(body[: len(body) // 2])
        elif what == "slow":
            try:
                for byte in body:
                    self.wfile.write(bytes([byte]))
                    self.wfile.flush()
                    time.sleep(1)
            except OSError:
                pass  # the client gave up, as it should
        elif what == "huge":
            block = b" " * 65536
            try:
                while True:
                    self.wfile.write(block)
            except OSError:
                pass  # the client gave up, as it should

    def endless(self):
        """A body without end, in chunks, its length never said."""
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        self.close_connection = True
        block = b"".join(b"<d:x>%d</d:x>" % i for i in range(8000))
        try:
            while True:
                self.wfile.write(b"%x\r\n%s\r\n" % (len(block), block))
        except OSError:
            pass  # the client gave up, as it should

    def handle_any(self):
        length = int(self.headers.get("Content-Length") or 0)
        auth = self.headers.get("Authorization")
        match = self.headers.get("If-Match")
        with open(LOG, "a") as log:
            log.write(f"{self.command} {self.path} auth={'yes' if auth else 'no'} "
                      f"if-match={'-' if match is None else match} ua={self.headers.get('User-Agent')}\n")
        what = self.fault("PUT") if self.command == "PUT" else None
        if what == "drop":
            self.close_connection = True
            return self.connection.close()  # in the middle of the upload
        request = self.rfile.read(length).decode() if length else ""
        kind = self.command
        if self.command == "REPORT":
            kind = "MULTIGET" if "addressbook-multiget" in request else "SYNC"
        if kind != "PUT":
            what = self.fault(kind)
        if auth != AUTH:
            return self.send(401, headers=[("WWW-Authenticate", 'Basic realm="fake"')])
        name = name_of(self.path)
        if what == "412" and name in cards:
            change(name, cards[name].replace("END:VCARD", "NOTE:cambiada en el servidor\r\nEND:VCARD"))
            return self.send(412)
        body, status = self.answer(kind, request, name)
        if what:
            return self.misbehave(what, body)
        tag = etag(cards[name]) if kind == "PUT" and status < 300 and mode("puttagless") is None else ""
        self.send(status, body, [("Content-Type", "application/xml")] if body else
                  [("ETag", tag)] if tag else [])

    def sync_collection(self, request):
        if mode("sync") is None and mode("token500") is None and mode("endless507") is None:
            return b"", 403
        token = request.split("sync-token>")[1].split("<")[0] if "sync-token>" in request else ""
        if token and mode("token500") is not None:
            return b"", 500
        if mode("endless507") is not None:  # cut short each time, with a new token
            return multistatus(f"<d:response><d:href>{BOOK}</d:href><d:status>HTTP/1.1 507 Insufficient "
                               f"Storage</d:status></d:response><d:sync-token>end-{time.time()}"
                               "</d:sync-token>"), 207
        if not token or token.startswith("all-"):  # the whole listing, in parts
            seq, offset, since = None, int(token[4:] or 0), sorted(cards)
        else:
            seq, offset = (int(t) for t in token[4:].split("-"))
            since = list(dict.fromkeys(changes[seq:]))
        limit = int(mode("sync") or 0) or len(since) + 1
        answered = since[offset:offset + limit]
        body = "".join(response(href(n), f"<d:getetag>{etag(cards[n])}</d:getetag>") if n in cards
                       else f"<d:response><d:href>{href(n)}</d:href>"
                            "<d:status>HTTP/1.1 404 Not Found</d:status></d:response>"
                       for n in answered)
        if offset + limit < len(since):
            body += (f"<d:response><d:href>{BOOK}</d:href>"
                     "<d:status>HTTP/1.1 507 Insufficient Storage</d:status></d:response>")
            next_token = f"all-{offset + limit}" if seq is None else f"tok-{seq}-{offset + limit}"
        else:
            next_token = f"tok-{len(changes)}-0"
        return multistatus(body + f"<d:sync-token>{next_token}</d:sync-token>"), 207

    def answer(self, kind, request, name):
        if kind == "SYNC":
            return self.sync_collection(request)
        if kind == "PROPFIND" and self.path == HOME and mode("readonly") is not None:
            listed = response(HOME, "<d:resourcetype><d:collection/></d:resourcetype>")
            if self.headers.get("Depth") == "1":
                for at, name, privileges in ((BOOK, "Libreta", ("read", "write")),
                                             (HOME + "recent/", "Contactados recientemente", ("read",))):
                    held = "".join(f"<d:privilege><d:{p}/></d:privilege>" for p in privileges)
                    listed += response(at, "<d:resourcetype><d:collection/><c:addressbook/></d:resourcetype>"
                                           f"<d:displayname>{name}</d:displayname>"
                                           f"<d:current-user-privilege-set>{held}</d:current-user-privilege-set>")
            return multistatus(listed), 207
        if kind == "PROPFIND" and self.path == BOOK:
            ctag = hashlib.sha1("".join(sorted(cards.values())).encode()).hexdigest()
            listed = response(BOOK, "<d:resourcetype><d:collection/><c:addressbook/></d:resourcetype>"
                                    f"<d:displayname>Libreta</d:displayname><cs:getctag>{ctag}</cs:getctag>")
            if self.headers.get("Depth") == "1":
                listed += "".join(response(href(n), f"<d:getetag>{etag(v)}</d:getetag>")
                                  for n, v in cards.items())
            return multistatus(listed), 207
        if kind == "MULTIGET":
            found = ""
            withheld, _, secret = (mode("withhold") or "").partition(":")
            secret = secret or "secreta.vcf"
            for asked in request.split("<d:href>")[1:]:
                asked = asked.split("</d:href>")[0]
                n = name_of(asked)
                if n in cards and not (n == secret and withheld):
                    found += response(asked, f"<d:getetag>{etag(cards[n])}</d:getetag>"
                                             f"<c:address-data>{escape(cards[n])}</c:address-data>")
                else:
                    status = "403 Forbidden" if n == secret and withheld == "403" else "404 Not Found"
                    found += f"<d:response><d:href>{asked}</d:href><d:status>HTTP/1.1 {status}</d:status></d:response>"
            return multistatus(found), 207
        if name is None or name == "":
            return b"", 404
        expected = self.headers.get("If-Match")
        if kind == "PUT":
            if (self.headers.get("If-None-Match") == "*" and name in cards) or \
               (expected is not None and expected != "*" and
                (name not in cards or expected.startswith("W/") or etag(cards[name]) != expected or
                 not etag(cards[name]))):
                return b"", 412
            change(name, request)
            return b"", 201
        if kind == "DELETE":
            if name not in cards:
                return b"", 404
            if expected is not None and expected != "*" and \
               (expected.startswith("W/") or etag(cards[name]) != expected or not etag(cards[name])):
                return b"", 412
            change(name, None)
            return b"", 204
        if kind == "GET" and name in cards:
            return cards[name].encode(), 200
        return b"", 404

    do_PROPFIND = do_REPORT = do_PUT = do_DELETE = do_GET = handle_any


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


Server((HOST, PORT), Handler).serve_forever()
