"""A read-only FTP server on 127.0.0.1 for the weather service's tests.

Usage: ftp_test_server.py ROOT PORT_FILE STOP_FILE EVENT_FILE [PORT]

Serves ROOT to the user "Anonymous" with an empty password (and to the usual
anonymous user) on PORT (any free port when 0 or not given), writes the port
it listens on to PORT_FILE once it is ready,
and ends when STOP_FILE appears, or after five minutes at the latest.

Appends one line to EVENT_FILE for each file sent whole ("sent NAME") and
for each control connection that ended ("closed"), so that tests can wait
for a client's session to be over.
"""
import logging
import os
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    root, port_file, stop_file, event_file = sys.argv[1:5]
    wanted_port = int(sys.argv[5]) if len(sys.argv) > 5 else 0
    logging.basicConfig(level=logging.WARNING)
    logging.getLogger("pyftpdlib").setLevel(logging.WARNING)

    authorizer = DummyAuthorizer()
    authorizer.add_user("Anonymous", "", root, perm="elr")
    authorizer.add_anonymous(root)

    def record(event):
        with open(event_file, "a") as out:
            out.write(event + "\n")

    class Handler(FTPHandler):
        def on_file_sent(self, file):
            record("sent " + os.path.basename(file))

        def on_disconnect(self):
            record("closed")

    Handler.authorizer = authorizer
    server = FTPServer(("127.0.0.1", wanted_port), Handler)
    port = server.socket.getsockname()[1]
    with open(port_file + ".part", "w") as out:
        out.write(str(port))
    os.replace(port_file + ".part", port_file)

    deadline = time.monotonic() + 300
    while not os.path.exists(stop_file) and time.monotonic() < deadline:
        server.serve_forever(timeout=0.1, blocking=False, handle_exit=False)
    server.close_all()


if __name__ == "__main__":
    main()
