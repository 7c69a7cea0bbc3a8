"""A throw-away FTP server on 127.0.0.1 for the upload tests (see ftp_server.h).

Usage: ftp_server.py ROOT PORT_FILE COMMAND_LOG USER PASSWORD [REPLY_DELAY]

Serves ROOT to one account, listening on a free port of 127.0.0.1 that it writes to PORT_FILE
once it accepts connections. Every command a client sends is appended to COMMAND_LOG (the
password masked), so that a test can see how the client talked to it. With REPLY_DELAY
(seconds) every answer, the greeting included, comes that much late: a server slow enough to
test a client's deadline. Runs until killed.
"""
import logging
import os
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    root, port_file, command_log, user, password = sys.argv[1:6]
    reply_delay = float(sys.argv[6]) if len(sys.argv) > 6 else 0.0
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm="elradfmwMT")

    class Handler(FTPHandler):
        def pre_process_command(self, line, cmd, arg):
            with open(command_log, "a") as log:
                log.write(("PASS ***" if cmd == "PASS" else line) + "\n")
            return super().pre_process_command(line, cmd, arg)

        def respond(self, resp, logfun=logging.debug):
            if reply_delay:
                time.sleep(reply_delay)  # the only client waits; nobody else is served
            return super().respond(resp, logfun)

    Handler.authorizer = authorizer
    Handler.auth_failed_timeout = 0.1  # a refused password answers at once
    logging.basicConfig(level=logging.CRITICAL)
    server = FTPServer(("127.0.0.1", 0), Handler)
    port = server.socket.getsockname()[1]
    with open(port_file + ".part", "w") as out:
        out.write(str(port))
    os.rename(port_file + ".part", port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
