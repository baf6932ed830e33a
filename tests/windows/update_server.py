# SPDX-License-Identifier: GPL-3.0-or-later
"""A throw-away HTTP server for the update tests, on 127.0.0.1 only.

Serves files under ROOT. A file's sidecars change how it is answered:
  NAME.hang   accept the request and never answer
  NAME.cut    announce 1000 more bytes than are sent, then close
  NAME.delay  wait that many milliseconds before answering
Each request's headers are appended to ROOT/requests.log as one JSON line.
Prints the port, then serves until LIFETIME seconds have passed.
Given CERT and KEY (PEM files) too, it speaks https with them.
"""
import http.server
import json
import os
import ssl
import sys
import threading
import time

ROOT = sys.argv[1]
LIFETIME = float(sys.argv[2])


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        with open(os.path.join(ROOT, "requests.log"), "a", encoding="utf-8") as log:
            log.write(json.dumps({"path": self.path, "headers": list(self.headers.items())}) + "\n")
        path = os.path.join(ROOT, self.path.lstrip("/"))
        if os.path.exists(path + ".hang"):
            time.sleep(LIFETIME)
            return
        if os.path.exists(path + ".delay"):
            with open(path + ".delay") as f:
                time.sleep(int(f.read()) / 1000)
        if not os.path.isfile(path):
            self.send_error(404)
            return
        with open(path, "rb") as f:
            body = f.read()
        cut = os.path.exists(path + ".cut")
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body) + (1000 if cut else 0)))
        self.end_headers()
        self.wfile.write(body)
        if cut:
            self.wfile.flush()
            self.close_connection = True


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
if len(sys.argv) > 4:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(sys.argv[3], sys.argv[4])
    server.socket = context.wrap_socket(server.socket, server_side=True)
print(server.server_address[1], flush=True)
threading.Timer(LIFETIME, server.shutdown).start()
server.serve_forever(poll_interval=0.1)
