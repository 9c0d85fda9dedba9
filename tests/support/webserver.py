#!/usr/bin/python3
# A plain HTTP/1.1 server on 127.0.0.1 for the tests, serving root at /geod/ with
# kept-alive connections, with the ways real web servers misbehave:
#
#   webserver.py <root> <fault> <certificate> <key>
#
# Empty certificate and key: plain HTTP; an empty fault: none. It prints "port <n>" once it
# listens. The folder /geod/ answers 403, as a server that lists no folder. The fault touches every .pdf:
#
#   slow       every answer held back 300 ms       silent     never answers
#   404, 403   that status                         429        429 (Retry-After: 1) once each
#   503        503 always, the folder too (Retry-After: an HTTP date a second on)
#   500        500 once each                       500-always 500 always
#   soft-404   200 with a page of text/html        cut        10 bytes short of its length
#   loop       redirected to itself                to-http    redirected to http://
#   large      a Content-Length of 100 MiB         endless    a body without end or length

import email.utils
import os
import ssl
import sys
import threading
import time
from urllib.parse import unquote
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


def main():
    root, fault, certificate, key = sys.argv[1:5]
    asked = {}
    lock = threading.Lock()

    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args):
            pass

        def answer(self, status, body=b"", headers=(), length=None):
            # length: the Content-Length announced, when not the body's; -1: none
            self.send_response(status)
            for name, value in headers:
                self.send_header(name, value)
            if length != -1:
                self.send_header("Content-Length", str(len(body) if length is None else length))
            self.end_headers()
            if self.command != "HEAD":
                self.wfile.write(body)

        def do_HEAD(self):
            self.do_GET()

        def do_GET(self):
            with lock:
                asked[self.path] = times = asked.get(self.path, 0) + 1
            if fault == "503":  # the whole server, its folder too
                later = email.utils.formatdate(time.time() + 1, usegmt=True)
                return self.answer(503, b"busy", [("Retry-After", later)])
            if self.path == "/geod/":
                return self.answer(403, b"<html>Forbidden</html>", [("Content-Type", "text/html")])
            path = os.path.join(root, unquote(self.path[len("/geod/"):]))
            if not self.path.endswith(".pdf"):
                pass  # the fault touches the sheets alone
            elif fault == "slow":
                time.sleep(0.3)
            elif fault == "silent":
                self.rfile.read()  # until the client goes
                self.close_connection = True
                return None
            elif fault in ("404", "403", "500-always") or \
                    (fault in ("429", "500") and times == 1):
                status = int(fault[:3])
                return self.answer(status, b"<html>%d</html>" % status,
                                   [("Retry-After", "1")] if status == 429 else [])
            elif fault == "soft-404":
                return self.answer(200, b"<html>No such page</html>",
                                   [("Content-Type", "text/html; charset=utf-8")])
            elif fault in ("loop", "to-http"):
                where = self.path if fault == "loop" else \
                    "http://127.0.0.1:%d%s" % (self.server.server_port, self.path)
                return self.answer(302, b"", [("Location", where)])
            elif fault in ("large", "endless"):
                self.close_connection = True
                self.answer(200, headers=[("Connection", "close")],
                            length=100 << 20 if fault == "large" else -1)
                try:
                    while True:
                        self.wfile.write(b"%PDF-" + bytes(1 << 20))
                except OSError:
                    return None
            try:
                with open(path, "rb") as f:
                    body = f.read()
            except OSError:
                return self.answer(404, b"<html>Not Found</html>")
            if fault == "cut" and path.endswith(".pdf"):
                self.close_connection = True
                return self.answer(200, body[:-10], length=len(body))
            return self.answer(200, body, [("Content-Type", "application/pdf")])

    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    if certificate:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(certificate, key)
        # The handshake in the request's own thread, so that a silent client holds up no other.
        server.socket = context.wrap_socket(server.socket, server_side=True,
                                            do_handshake_on_connect=False)
    print("port %d" % server.server_port, flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
