#!/usr/bin/env python3
"""The update tests' HTTPS server on localhost, started and stopped by the
test. It serves the folder ROOT as the test laid it out:

  ROOT/<path>          the body of GET /<path> (a path ending in "/" serves
                       ROOT/<path>index), 404 when missing;
  ROOT/<path>.status   answer with the status code on its first line and the
                       rest of the file as the page;
  ROOT/<path>.stall    answer 200, send a few bytes, then hold the connection
                       until ROOT/release exists;
  ROOT/<path>.short    answer 200 with this body, but declare a longer one
                       and close the connection after it;
  ROOT/<path>.trickle  answer 200, declare 60000 bytes and send one byte
                       every half second until ROOT/release exists or the
                       client goes.

The same port answers plain HTTP (as CAs publish their revocation lists),
but only for paths below /crl/; those requests go to ROOT/crl-requests.log.
Every other request line is appended to ROOT/requests.log. The server writes
ROOT/ready once it listens and ends when ROOT/stop appears (or after ten
minutes, whatever happened to the test), removing ROOT/ready.
"""
import argparse
import http.server
import os
import socket
import ssl
import threading
import time

LIFETIME_S = 600


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--root", required=True)
    args = parser.parse_args()
    root = args.root
    log_lock = threading.Lock()

    def exists(name):
        return os.path.exists(os.path.join(root, name))

    class Handler(http.server.BaseHTTPRequestHandler):
        request_log = "requests.log"

        def log_message(self, *unused):
            pass

        def do_GET(self):
            with log_lock, open(os.path.join(root, self.request_log), "a") as log:
                log.write(self.path + "\n")
            path = self.path.split("?", 1)[0].lstrip("/")
            if ".." in path.split("/"):
                return self.send_error(400)
            if path == "" or path.endswith("/"):
                path += "index"
            file = os.path.join(root, path)
            if os.path.exists(file + ".status"):
                with open(file + ".status", "rb") as status_file:
                    status_line, _, body = status_file.read().partition(b"\n")
                status = int(status_line.strip())
                self.send_response(status)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)
                return
            if os.path.exists(file + ".stall"):
                self.send_response(200)
                self.send_header("Content-Length", "100000")
                self.end_headers()
                self.wfile.write(b"1.3.0.0\n")
                self.wfile.flush()
                deadline = time.monotonic() + LIFETIME_S
                while not exists("release") and time.monotonic() < deadline:
                    time.sleep(0.05)
                return
            if os.path.exists(file + ".trickle"):
                self.send_response(200)
                self.send_header("Content-Length", "60000")
                self.end_headers()
                deadline = time.monotonic() + LIFETIME_S
                try:
                    while not exists("release") and time.monotonic() < deadline:
                        self.wfile.write(b"1")
                        self.wfile.flush()
                        time.sleep(0.5)
                except OSError:
                    pass
                return
            if os.path.exists(file + ".short"):
                with open(file + ".short", "rb") as short_file:
                    body = short_file.read()
                self.send_response(200)
                self.send_header("Content-Length", str(len(body) + 100))
                self.send_header("Connection", "close")
                self.end_headers()
                self.wfile.write(body)
                self.wfile.flush()
                self.close_connection = True
                return
            if not os.path.isfile(file):
                return self.send_error(404)
            with open(file, "rb") as served:
                body = served.read()
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

    class PlainHandler(Handler):
        request_log = "crl-requests.log"

        def do_GET(self):
            if not self.path.startswith("/crl/"):
                return self.send_error(400)
            Handler.do_GET(self)

    class Server(http.server.ThreadingHTTPServer):
        daemon_threads = True
        allow_reuse_address = True

        # On the connection's own thread: a TLS handshake begins with 0x16.
        def finish_request(self, request, client_address):
            try:
                first = request.recv(1, socket.MSG_PEEK)
            except OSError:
                return
            if first != b"\x16":
                PlainHandler(request, client_address, self)
                return
            try:
                secure = context.wrap_socket(request, server_side=True)
            except (OSError, ssl.SSLError):
                return
            try:
                Handler(secure, client_address, self)
            finally:
                secure.close()

    class Server6(Server):
        address_family = socket.AF_INET6

    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    # "localhost" may resolve to either loopback address first.
    servers = [Server(("127.0.0.1", args.port), Handler)]
    try:
        servers.append(Server6(("::1", args.port), Handler))
    except OSError:
        pass
    for server in servers:
        threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.05}, daemon=True).start()
    open(os.path.join(root, "ready"), "w").close()
    try:
        deadline = time.monotonic() + LIFETIME_S
        while not exists("stop") and time.monotonic() < deadline:
            time.sleep(0.05)
    finally:
        for server in servers:
            server.shutdown()
            server.server_close()
        os.remove(os.path.join(root, "ready"))


if __name__ == "__main__":
    main()
