#!/usr/bin/python3
"""A small HTTP/1.1 server on 127.0.0.1 for the tests of tav-req's HTTP engine.

Prints its port on the first line of standard output and serves until standard input closes
(so it never outlives the test that started it) or it gets a signal.

Paths:
  /ok                200 "ok"
  /basic             200 "user NAME" for a known Basic user name and password (--user, default
                     tav-user:tav-secret); else 401 offering Negotiate and Basic (only Basic
                     with ?offer=basic), with a body naming the Authorization header received,
                     or "(none)"
  /forbidden         403 "forbidden"
  /echo-headers      200, the body is the request's header lines
  /slow?ms=N         sleeps N milliseconds, then 200 "slow N"
  /status/NNN        status NNN, body "status NNN" (empty where HTTP allows no body)
  /bytes?n=N         200 with N bytes: byte i is i % 251
  /redirect          302 to /ok, body "redirect"
  /latin1            200 with bytes that are not UTF-8: b"caf\\xe9 \\xff"
  /nobody            200 with an empty body
  /wait?key=K        blocks until /release?key=K arrives (10 s at most, then 504)
  /release?key=K     200 "released"
  /large?n=N         200 with N bytes streamed: byte i is "abc...z"[i % 26]
  /reset?n=N         promises 2N+1 bytes, sends the first N of /large's, then resets the connection
  /cut?n=N           the same, but closes the connection in order (FIN) instead of resetting it
  /peer              200 "peer PORT" with the client's port; ?close=1 then closes the connection
                     although the answer kept it alive (no "Connection: close")
  /hang              reads the request and never answers; the connection closes when the server
                     stops
  /store/NAME        a document store: PUT keeps the body (201 when new, 204 when replaced), GET
                     answers 200 with it or 404, DELETE removes it (204, or 404 when absent)
  /store-hang/NAME   a PUT stores its body as /store/NAME does, then never answers
  /echo-request      any method: 200 "METHOD PATH auth AUTHORIZATION-or-(none)", a line feed and
                     the request's body
  anything else      404 "not found" (405 for a PUT or DELETE)

HEAD answers what GET would, without the body.

With --log FILE every GET or HEAD appends "start PATH" when it arrives and "end PATH" just before
its answer is sent, so a test can see whether requests overlapped.
"""

import argparse
import base64
import http.server
import os
import socket
import struct
import sys
import threading
import time
import urllib.parse

NO_BODY_STATUSES = {204, 304} | set(range(100, 200))
LETTERS = b"abcdefghijklmnopqrstuvwxyz"
LETTER_BLOCK = LETTERS * 40960  # about 1 MB; a whole number of alphabets, so blocks chain up


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"  # keep-alive, so a client may reuse its connection
    disable_nagle_algorithm = True  # headers and body go out in two writes; don't delay the body

    def log_message(self, format, *args):
        pass  # the tests read the answers, not an access log

    def do_HEAD(self):
        self.do_GET(head=True)

    def do_PUT(self):
        self.write_method("PUT")

    def do_DELETE(self):
        self.write_method("DELETE")

    def write_method(self, method):
        length = int(self.headers.get("Content-Length") or "0")
        body = self.rfile.read(length) if length else b""
        path = urllib.parse.urlsplit(self.path).path
        self.server.log_line(f"{method} {self.path} {body!r}")
        if path == "/echo-request":
            status, answer = 200, self.echo(method, body)
        elif path.startswith("/store/"):
            status, answer = self.server.store_change(method, path[len("/store/"):], body)
        elif path.startswith("/store-hang/") and method == "PUT":
            self.server.store_change(method, path[len("/store-hang/"):], body)
            self.server.stopping.wait()
            self.close_connection = True
            return
        else:
            status, answer = 405, b"method not allowed"
        self.send_response(status)
        if status not in NO_BODY_STATUSES:
            self.send_header("Content-Length", str(len(answer)))
        self.end_headers()
        if status not in NO_BODY_STATUSES:
            self.wfile.write(answer)

    def echo(self, method, body):
        received = self.headers.get("Authorization") or "(none)"
        return f"{method} {self.path} auth {received}\n".encode() + body

    def do_GET(self, head=False):
        url = urllib.parse.urlsplit(self.path)
        query = dict(urllib.parse.parse_qsl(url.query))
        self.server.log_line("start " + self.path)
        if url.path in ("/large", "/reset", "/cut"):
            self.server.log_line("end " + self.path)
            self.stream(url.path, int(query.get("n", "0")))
            return
        if url.path == "/hang":
            # Each request has a thread of its own, so the other paths keep answering.
            self.server.stopping.wait()
            self.close_connection = True
            return
        if url.path == "/peer":
            # The answer says nothing of closing; the server just does.
            self.close_connection = query.get("close") == "1"
        status, body, headers = self.route(url.path, query)
        self.server.log_line("end " + self.path)
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        if status not in NO_BODY_STATUSES:
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if status not in NO_BODY_STATUSES and not head:
            self.wfile.write(body)

    def stream(self, path, n):
        broken = path != "/large"
        self.send_response(200)
        self.send_header("Content-Length", str(2 * n + 1 if broken else n))
        self.end_headers()
        for start in range(0, n, len(LETTER_BLOCK)):
            self.wfile.write(LETTER_BLOCK[: min(len(LETTER_BLOCK), n - start)])
        self.close_connection = broken
        if path == "/reset":
            # A zero linger time makes the close send RST; detaching skips the orderly shutdown.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            os.close(self.connection.detach())

    def route(self, path, query):
        if path == "/ok":
            return 200, b"ok", []
        if path == "/basic":
            return self.basic(query.get("offer"))
        if path == "/forbidden":
            return 403, b"forbidden", []
        if path == "/echo-headers":
            return 200, str(self.headers).encode("latin-1"), []
        if path == "/slow":
            ms = int(query.get("ms", "0"))
            time.sleep(ms / 1000)
            return 200, f"slow {ms}".encode(), []
        if path.startswith("/status/"):
            status = int(path[len("/status/"):])
            return status, f"status {status}".encode(), []
        if path == "/bytes":
            n = int(query.get("n", "0"))
            return 200, bytes(i % 251 for i in range(n)), []
        if path == "/redirect":
            return 302, b"redirect", [("Location", "/ok")]
        if path == "/latin1":
            return 200, b"caf\xe9 \xff", []
        if path == "/nobody":
            return 200, b"", []
        if path == "/wait":
            released = self.server.gate(query.get("key", "")).wait(10)
            return (200, b"waited", []) if released else (504, b"not released", [])
        if path == "/release":
            self.server.gate(query.get("key", "")).set()
            return 200, b"released", []
        if path == "/peer":
            return 200, f"peer {self.client_address[1]}".encode(), []
        if path == "/echo-request":
            return 200, self.echo(self.command, b""), []
        if path.startswith("/store/"):
            stored = self.server.stored(path[len("/store/"):])
            return (404, b"not found", []) if stored is None else (200, stored, [])
        return 404, b"not found", []

    def basic(self, offer):
        received = self.headers.get("Authorization")
        if received and received.startswith("Basic "):
            try:
                pair = base64.b64decode(received[len("Basic "):]).decode()
            except ValueError:
                pair = ""
            name, _, password = pair.partition(":")
            if self.server.users.get(name) == password and name:
                return 200, f"user {name}".encode(), []
        challenges = [("WWW-Authenticate", 'Basic realm="tav"')]
        if offer != "basic":
            challenges.insert(0, ("WWW-Authenticate", "Negotiate"))
        return 401, f"authorization: {received or '(none)'}".encode(), challenges


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 512  # hundreds of children may connect at once

    def __init__(self, users, log_path):
        super().__init__(("127.0.0.1", 0), Handler)
        self.users = users
        self.log_path = log_path
        self.lock = threading.Lock()
        self.gates = {}
        self.documents = {}  # /store/NAME
        self.stopping = threading.Event()  # ends the /hang handlers

    def log_line(self, text):
        if self.log_path:
            with self.lock, open(self.log_path, "a", encoding="utf-8") as log:
                log.write(text + "\n")

    def store_change(self, method, name, body):
        with self.lock:
            if method == "PUT":
                status = 204 if name in self.documents else 201
                self.documents[name] = body
                return status, b"stored"
            if self.documents.pop(name, None) is None:
                return 404, b"not found"
            return 204, b""

    def stored(self, name):
        with self.lock:
            return self.documents.get(name)

    def gate(self, key):
        with self.lock:
            return self.gates.setdefault(key, threading.Event())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--log", help="file that receives the start and end lines")
    parser.add_argument("--user", action="append", default=[], metavar="NAME:PASSWORD",
                        help="a Basic user /basic accepts (repeatable)")
    args = parser.parse_args()
    pairs = args.user or ["tav-user:tav-secret"]
    users = dict(pair.partition(":")[::2] for pair in pairs)

    server = Server(users, args.log)
    print(server.server_address[1], flush=True)

    def stop_when_stdin_closes():
        sys.stdin.buffer.read()
        server.stopping.set()
        server.shutdown()

    threading.Thread(target=stop_when_stdin_closes, daemon=True).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
