#!/usr/bin/env python3
"""A throw-away RFC 3161 time-stamp authority on 127.0.0.1, for tests: the openssl command's
time-stamp authority (`openssl ts -reply`) behind a small HTTP responder.

    timestamp_server.py DIR

Makes DIR/tsa.pem (its self-signed certificate: what a timestamp is verified against), its key
and configuration, listens on a free port of 127.0.0.1 and then writes the port to DIR/port.
Answers every POST of a time-stamp query; runs until it is killed.
"""
import http.server
import os
import subprocess
import sys
import tempfile

CONFIG = """[ tsa ]
default_tsa = tsa_config
[ tsa_config ]
serial = {dir}/serial
crypto_device = builtin
signer_cert = {dir}/tsa.pem
certs = {dir}/tsa.pem
signer_key = {dir}/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
"""


class Handler(http.server.BaseHTTPRequestHandler):
    config = ""

    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with tempfile.TemporaryDirectory() as scratch:
            query_file = os.path.join(scratch, "query.tsq")
            reply_file = os.path.join(scratch, "reply.tsr")
            with open(query_file, "wb") as out:
                out.write(query)
            done = subprocess.run(["openssl", "ts", "-reply", "-config", self.config,
                                   "-queryfile", query_file, "-out", reply_file],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            if done.returncode != 0:
                sys.stderr.write(done.stderr.decode(errors="replace"))
                self.send_error(500, "openssl ts -reply failed")
                return
            with open(reply_file, "rb") as f:
                reply = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__.split("\n\n")[1] + "\n")
        return 2
    folder = os.path.abspath(argv[1])
    os.makedirs(folder, exist_ok=True)
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                    "-keyout", os.path.join(folder, "tsa.key"),
                    "-out", os.path.join(folder, "tsa.pem"), "-days", "2",
                    "-subj", "/CN=kxpatch throw-away time-stamp authority",
                    "-addext", "extendedKeyUsage=critical,timeStamping"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(os.path.join(folder, "serial"), "w") as out:
        out.write("01\n")
    Handler.config = os.path.join(folder, "tsa.cnf")
    with open(Handler.config, "w") as out:
        out.write(CONFIG.format(dir=folder))
    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    port_file = os.path.join(folder, "port")
    with open(port_file + ".partial", "w") as out:
        out.write("%d\n" % server.server_address[1])
    os.rename(port_file + ".partial", port_file)
    server.serve_forever()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
