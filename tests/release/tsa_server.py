#!/usr/bin/env python3
"""A time-stamp authority on 127.0.0.1 for the release tests: answers each RFC 3161 request
(a POST of application/timestamp-query) with `openssl ts -reply`.

    tsa_server.py DIR PORT_FILE

DIR holds tsa.crt, tsa.key and tsa-ca.crt; the server listens on a free port, which it writes
to PORT_FILE once it accepts connections, and serves until it is terminated.
"""
import http.server
import os
import subprocess
import sys
import tempfile

tsa_dir, port_file = sys.argv[1], sys.argv[2]
config = os.path.join(tsa_dir, "tsa.cnf")
with open(config, "w") as f:
    f.write(f"""[tsa]
default_tsa = tsa_config
[tsa_config]
serial = {tsa_dir}/serial
signer_cert = {tsa_dir}/tsa.crt
signer_key = {tsa_dir}/tsa.key
certs = {tsa_dir}/tsa-ca.crt
signer_digest = sha256
default_policy = 1.3.6.1.4.1.4146.2.3
digests = sha256, sha384, sha512
accuracy = secs:1
ess_cert_id_alg = sha256
""")
with open(os.path.join(tsa_dir, "serial"), "w") as f:
    f.write("01\n")


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        if self.headers.get("Content-Type") != "application/timestamp-query":
            self.send_error(415)
            return
        query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        with tempfile.TemporaryDirectory() as tmp:
            query_file, reply_file = os.path.join(tmp, "q.tsq"), os.path.join(tmp, "r.tsr")
            with open(query_file, "wb") as f:
                f.write(query)
            run = subprocess.run(["openssl", "ts", "-reply", "-config", config,
                                  "-queryfile", query_file, "-out", reply_file],
                                 capture_output=True)
            if run.returncode != 0:
                sys.stderr.write(run.stderr.decode(errors="replace"))
                self.send_error(500)
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


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
# Written whole through a rename, so a reader never sees half a number.
with open(port_file + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
os.replace(port_file + ".tmp", port_file)
server.serve_forever()
