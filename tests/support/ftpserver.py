#!/usr/bin/python3
"""An anonymous, read-only FTP server on 127.0.0.1 for the tests and benchmarks,
with the ways real servers misbehave:

  ftpserver.py <root> <port> [--max-cons-per-ip N] [--delay-ms D] [--stall-after N]

--max-cons-per-ip  refuse further connections from one address with 421
--delay-ms         hold back every reply by D ms, through the server's own timer, as a
                   server one round trip away does (the server stays single-threaded)
--stall-after      once N files have been sent, answer nothing more, on any connection
"""

import argparse

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    parser.add_argument("port", type=int)
    parser.add_argument("--max-cons-per-ip", type=int, default=0)
    parser.add_argument("--delay-ms", type=int, default=0)
    parser.add_argument("--stall-after", type=int, default=-1)
    options = parser.parse_args()

    sent = [0]

    class Handler(FTPHandler):
        def respond(self, resp, logfun=None):
            if 0 <= options.stall_after <= sent[0]:
                return  # the server has stopped answering
            if resp.startswith("226"):
                sent[0] += 1
            if options.delay_ms:
                self.ioloop.call_later(options.delay_ms / 1000.0, self._respond_later, resp)
            else:
                FTPHandler.respond(self, resp)

        def _respond_later(self, resp):
            if not self._closed:
                FTPHandler.respond(self, resp)

    authorizer = DummyAuthorizer()
    authorizer.add_anonymous(options.root)
    Handler.authorizer = authorizer
    server = FTPServer(("127.0.0.1", options.port), Handler)
    server.max_cons_per_ip = options.max_cons_per_ip
    server.serve_forever()


if __name__ == "__main__":
    main()
