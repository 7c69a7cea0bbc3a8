"""A throw-away FTP server on 127.0.0.1 for the upload tests (see ftp_server.h).

Usage: ftp_server.py ROOT PORT_FILE COMMAND_LOG USER PASSWORD

Serves ROOT to one account, listening on a free port of 127.0.0.1 that it writes to PORT_FILE
once it accepts connections. Every command a client sends is appended to COMMAND_LOG (the
password masked), so that a test can see how the client talked to it. Runs until killed.
"""
import logging
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    root, port_file, command_log, user, password = sys.argv[1:6]
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm="elradfmwMT")

    class Handler(FTPHandler):
        def pre_process_command(self, line, cmd, arg):
            with open(command_log, "a") as log:
                log.write(("PASS ***" if cmd == "PASS" else line) + "\n")
            return super().pre_process_command(line, cmd, arg)

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
