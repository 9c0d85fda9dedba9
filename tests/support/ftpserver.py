#!/usr/bin/python3
# An anonymous, read-only FTP server on 127.0.0.1 for the tests and benchmarks, with the
# ways real servers misbehave:
#
#   ftpserver.py <root> [--max-cons-per-ip N] [--delay-ms D] [--end-after N] [--silent-retr]
#                [--never-connect] [--lose-data-connections]
#                [--refuse-file NAME] [--cut-short NAME] [--withhold-226 NAME] [--log-retr]
#                [--chaos SEED]
#
# It listens on a port of its own choosing, and prints "port <n>" once it does.
#
# --max-cons-per-ip  refuse further connections from one address with 421
# --delay-ms         hold back every reply by D ms, through the server's own timer, as a
#                    server one round trip away does (the server stays single-threaded)
# --end-after        once N files have been sent, end at once, as a server that goes away
# --silent-retr      never answer a RETR
# --never-connect    accept PORT and EPRT, and never open the data connection (as behind
#                    a firewall that drops it)
# --refuse-file      answer RETR NAME "550 NAME: Permission denied"
# --lose-data-connections
#                    keep pyftpdlib's own active mode, in which one connection's next
#                    PORT can cancel the data connection another is opening: that
#                    transfer then hears nothing until a time-out
# --cut-short        send the file NAME but its last 10 bytes, after announcing its
#                    whole size, and call the transfer complete
# --withhold-226     send the file NAME whole, and then never the reply that says so
# --log-retr         print the name of every file asked for (RETR)
# --chaos            misbehave at random (for soak runs): refuse one connection in ten with
#                    421 at its greeting, leave one RETR in forty unanswered, and send one
#                    file in twenty short of its end after announcing its whole size

import argparse
import io
import os
import random

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    for name, default in (("max-cons-per-ip", 0), ("delay-ms", 0), ("end-after", -1),
                          ("chaos", -1)):
        parser.add_argument("--" + name, type=int, default=default)
    for name in ("refuse-file", "cut-short", "withhold-226"):
        parser.add_argument("--" + name, default="")
    for name in ("silent-retr", "never-connect",
                 "lose-data-connections", "log-retr"):  # on alone, or followed by 1 or 0
        parser.add_argument("--" + name, type=int, nargs="?", const=1, default=0)
    options = parser.parse_args()

    sent = [0]
    chaos = random.Random(options.chaos) if options.chaos >= 0 else None

    class Handler(FTPHandler):
        _announce = None
        _cut = False
        _retrieving = ""

        def respond(self, resp, logfun=None):
            done = resp.startswith("226")
            if done and options.withhold_226 and self._retrieving == options.withhold_226:
                return  # as a router that dropped the idle control connection
            sent[0] += done
            if resp[:4] in ("125 ", "150 ") and self._announce is not None:
                resp = resp.rstrip(".") + " (%d bytes)." % self._announce
                self._announce = None
            if options.delay_ms:
                self.ioloop.call_later(options.delay_ms / 1000.0,
                                       lambda: self._closed or FTPHandler.respond(self, resp))
            else:
                FTPHandler.respond(self, resp)
            if done and 0 <= options.end_after <= sent[0]:
                os._exit(0)

        def handle(self):
            if chaos and chaos.random() < 0.1:
                self.respond("421 Too many connections, try again later.")
                self.close_when_done()
                return
            return FTPHandler.handle(self)

        def ftp_RETR(self, file):
            self._retrieving = os.path.basename(file)
            if self._retrieving == options.withhold_226:
                self._announce = os.path.getsize(file)  # so that it can be told whole
            if options.log_retr:
                print(self._retrieving, flush=True)
            if options.silent_retr or (chaos and chaos.random() < 0.025):
                return  # never answered
            if self._retrieving == options.refuse_file:
                return self.respond("550 %s: Permission denied" % self._retrieving)
            self._cut = bool(chaos and chaos.random() < 0.05)
            return FTPHandler.ftp_RETR(self, file)

        def push_dtp_data(self, data, isproducer=False, file=None, cmd=None):
            if cmd == "RETR" and (self._cut or options.cut_short and
                                  os.path.basename(file.name) == options.cut_short):
                self._announce = os.fstat(file.fileno()).st_size
                cut = io.BytesIO(file.read(max(0, self._announce - 10)))
                cut.name = file.name  # for the transfer's log
                file = cut
                data = type(data)(file, self._current_type)
            return FTPHandler.push_dtp_data(self, data, isproducer, file, cmd)

        def _on_dtp_connection(self):
            # pyftpdlib keeps the connected ActiveDTP and closes it at the next PORT;
            # that close unregisters its old descriptor number from the poller, which
            # by then may belong to another connection's data connection.
            if not options.lose_data_connections:
                self._dtp_connector = None
            return FTPHandler._on_dtp_connection(self)

    # Active mode (PORT, EPRT) accepted, and its data connection never opened, when asked.
    def never_connect(base):
        def command(self, line):
            if options.never_connect:
                return self.respond("200 Active data connection established.")
            return base(self, line)
        return command

    for name in ("PORT", "EPRT"):
        setattr(Handler, "ftp_" + name, never_connect(getattr(FTPHandler, "ftp_" + name)))
    Handler.authorizer = DummyAuthorizer()
    Handler.authorizer.add_anonymous(options.root)
    server = FTPServer(("127.0.0.1", 0), Handler)
    server.max_cons_per_ip = options.max_cons_per_ip
    print("port %d" % server.socket.getsockname()[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
