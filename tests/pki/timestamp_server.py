#!/usr/bin/env python3
"""A time-stamp authority (RFC 3161) on loopback, for signing test programs.

Answers each POST of a time-stamp query with `openssl ts -reply`, signed by
the TSA certificate and key given. The path says what time the answer names:
"/now" the clock's, "/at/<seconds since 1970>" that moment (through
faketime), so that a signature can be time-stamped inside the validity of a
certificate that has since expired. Prints the port it listens on, then
serves until its standard input closes.

  timestamp_server.py <tsa certificate> <tsa key> <chain file>
"""
import http.server
import os
import subprocess
import sys
import tempfile
import threading
import time

TSA_CERT, TSA_KEY, CHAIN = sys.argv[1:4]

CONFIG = """
[ tsa ]
default_tsa = tsa_config
[ tsa_config ]
serial = {serial}
signer_digest = sha256
default_policy = 1.3.6.1.4.1.99999.1
digests = sha256, sha384, sha512
accuracy = secs:1
ordering = no
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
"""


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        query = self.rfile.read(length)
        clock = []
        if self.path.startswith("/at/"):
            moment = time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(int(self.path[4:])))
            clock = ["faketime", "-f", "@" + moment]
        elif self.path != "/now":
            self.send_error(404)
            return
        with tempfile.TemporaryDirectory() as work:
            with open(os.path.join(work, "query.tsq"), "wb") as f:
                f.write(query)
            with open(os.path.join(work, "serial"), "w") as f:
                f.write("%016x\n" % (int(time.time() * 1000)))
            with open(os.path.join(work, "tsa.cnf"), "w") as f:
                f.write(CONFIG.format(serial=os.path.join(work, "serial")))
            reply = os.path.join(work, "reply.tsr")
            env = dict(os.environ, TZ="UTC")
            result = subprocess.run(
                clock + ["openssl", "ts", "-reply", "-config", os.path.join(work, "tsa.cnf"),
                         "-queryfile", os.path.join(work, "query.tsq"), "-signer", TSA_CERT,
                         "-inkey", TSA_KEY, "-chain", CHAIN, "-out", reply],
                capture_output=True, env=env)
            if result.returncode != 0:
                sys.stderr.write(result.stderr.decode(errors="replace"))
                self.send_error(500)
                return
            with open(reply, "rb") as f:
                body = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
threading.Thread(target=server.serve_forever, daemon=True).start()
print(server.server_address[1], flush=True)
sys.stdin.read()
server.shutdown()
