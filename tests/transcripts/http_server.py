#!/usr/bin/env python3
"""A loopback HTTP server for the HTTP transcripts and the benchmark.

Listens on 127.0.0.1 on a free port, prints the port on its first line, and serves until it
is killed. Paths:
    /hello      200 "Hello"
    /echo       any method: the method, the request's Content-Type, Accept-Charset,
                User-Agent and X-Test headers, and the body, joined by "|"
    /dup        two Set-Cookie headers
    /redirect   302 to /hello
    /missing    404 with a body
    /lines      "a\\r\\nb\\nc"
    /binary     the bytes 00 01 FF
    /utf8       "café"
    /big        10,240 bytes of "x"
    /cut        announces 100 bytes, sends 10, closes
    /garbage    answers a line that is not HTTP, closes
    /silent     never answers
    /store/NAME PUT keeps the body under NAME; GET answers it (404 before)
"""
import http.server
import socketserver
import sys
import time


STORE = {}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # Headers and body leave in separate writes: without this each answer on a kept-alive
    # connection would wait out the client's delayed acknowledgement.
    disable_nagle_algorithm = True

    def log_message(self, *args):
        pass

    def send(self, status, body, headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def raw(self, data):
        self.wfile.write(data)
        self.wfile.flush()
        self.close_connection = True

    def answer(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        path = self.path
        if path == "/hello":
            self.send(200, b"Hello", [("Content-Type", "text/plain")])
        elif path == "/echo":
            fields = [self.command] + [self.headers.get(h) or "-" for h in
                                       ("Content-Type", "Accept-Charset", "User-Agent", "X-Test")]
            self.send(200, "|".join(fields).encode() + b"|" + body)
        elif path == "/dup":
            self.send(200, b"dup", [("Set-Cookie", "a=1"), ("Set-Cookie", "b=2")])
        elif path == "/redirect":
            self.send(302, b"", [("Location", "/hello")])
        elif path == "/missing":
            self.send(404, b"no such page")
        elif path == "/lines":
            self.send(200, b"a\r\nb\nc")
        elif path == "/binary":
            self.send(200, b"\x00\x01\xff")
        elif path == "/utf8":
            self.send(200, "café".encode())
        elif path == "/big":
            self.send(200, b"x" * 10240)
        elif path == "/cut":
            self.raw(b"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789")
        elif path == "/garbage":
            self.raw(b"THIS IS NOT HTTP\r\n\r\n")
        elif path.startswith("/store/"):
            if self.command == "PUT":
                STORE[path] = body
                self.send(200, b"")
            elif path in STORE:
                self.send(200, STORE[path])
            else:
                self.send(404, b"")
        elif path == "/silent":
            time.sleep(3600)
        else:
            self.send(404, b"")

    do_GET = do_HEAD = do_POST = do_PUT = do_DELETE = do_PATCH = answer


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


def main():
    server = Server(("127.0.0.1", 0), Handler)
    print(server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
