#!/usr/bin/env python3
"""Loopback HTTP peer for the client tests: each path answers with one kind of response,
written byte by byte as the test needs it (lengths, chunking, gzip, redirects, closes, stalls).

Usage: http_test_server.py PORT_FILE   (listens on a free 127.0.0.1 port and writes it there)
"""
import gzip
import os
import socket
import socketserver
import sys
import time
import urllib.parse

STALL_SECONDS = 45


PATTERN_BLOCK = bytes(range(251)) * 1024


def pattern(count):
    """Deterministic bytes the tests can recompute: byte i is i % 251."""
    whole, rest = divmod(count, len(PATTERN_BLOCK))
    return PATTERN_BLOCK * whole + PATTERN_BLOCK[:rest]


def text_body(count):
    line = b"The quick brown fox jumps over the lazy dog 0123456789.\n"
    return (line * (count // len(line) + 1))[:count]


def chunked(body, chunk_size, trailer=b""):
    view = memoryview(body)
    parts = []
    for start in range(0, len(body), chunk_size):
        piece = view[start:start + chunk_size]
        parts += [b"%x\r\n" % len(piece), piece, b"\r\n"]
    return b"".join(parts) + b"0\r\n" + trailer + b"\r\n"


_last_built = {}


def cached(key, build):
    """The response last built for this route and these arguments: a benchmark that asks twice
    then times the transfer, not the building."""
    route, arguments = key[0], key[1:]
    if _last_built.get(route, (None,))[0] != arguments:
        _last_built[route] = (arguments, build(*arguments))
    return _last_built[route][1]


def response(status, headers, body=b""):
    head = "HTTP/1.1 %s\r\n" % status
    head += "".join("%s: %s\r\n" % pair for pair in headers)
    return head.encode("latin-1") + b"\r\n" + body


class Handler(socketserver.BaseRequestHandler):
    def read_head(self):
        data = b""
        while b"\r\n\r\n" not in data:
            piece = self.request.recv(65536)
            if not piece:
                return None, b""
            data += piece
        head, _, rest = data.partition(b"\r\n\r\n")
        return head + b"\r\n\r\n", rest

    def read_body(self, headers, rest):
        length = int(headers.get("content-length", "0") or 0)
        while len(rest) < length:
            piece = self.request.recv(65536)
            if not piece:
                break
            rest += piece
        return rest

    def handle(self):
        head, rest = self.read_head()
        if head is None:
            return
        lines = head.decode("latin-1").split("\r\n")
        method, target, _ = (lines[0].split(" ") + ["", ""])[:3]
        headers = {}
        for line in lines[1:]:
            if ":" in line:
                name, _, value = line.partition(":")
                headers.setdefault(name.strip().lower(), value.strip())
        # Absolute-form targets (requests through a proxy) name the path after the authority.
        parsed = urllib.parse.urlsplit(target)
        path = parsed.path if target.startswith("http://") else target.split("?")[0]
        query = urllib.parse.parse_qs(parsed.query, keep_blank_values=True)
        route = getattr(self, "route_" + path.strip("/").replace("-", "_"), None)
        if route is None:
            self.request.sendall(response("404 Not Found", [("Content-Length", "0")]))
            return
        route(method, head, headers, rest, query)

    def send(self, data):
        self.request.sendall(data)

    def arg(self, query, name, default):
        return query.get(name, [default])[0]

    def route_echo(self, method, head, headers, rest, query):
        body = self.read_body(headers, rest)
        request = head + body
        self.send(response("200 OK", [("Content-Length", len(request))], request))

    def route_bytes(self, method, head, headers, rest, query):
        self.send(cached(("bytes", int(self.arg(query, "n", "0"))), lambda count: response(
            "200 OK", [("Content-Length", count)], pattern(count))))

    def route_chunked(self, method, head, headers, rest, query):
        trailer = b"X-Trailer: yes\r\n" if self.arg(query, "trailer", "") else b""
        key = ("chunked", int(self.arg(query, "n", "0")), int(self.arg(query, "chunk", "8192")), trailer)
        self.send(cached(key, lambda count, size, trailer: response(
            "200 OK", [("Transfer-Encoding", "chunked")], chunked(pattern(count), size, trailer))))

    def route_gzip(self, method, head, headers, rest, query):
        packed = gzip.compress(text_body(int(self.arg(query, "n", "1000"))))
        if self.arg(query, "chunked", ""):
            self.send(response("200 OK", [("Content-Encoding", "gzip"), ("Transfer-Encoding", "chunked")],
                               chunked(packed, int(self.arg(query, "chunk", "1000")))))
        else:
            self.send(response("200 OK", [("Content-Encoding", "gzip"), ("Content-Length", len(packed))], packed))

    def route_bad_gzip(self, method, head, headers, rest, query):
        body = gzip.compress(b"hello")[:10] + b"\xff" * 20
        self.send(response("200 OK", [("Content-Encoding", "gzip"), ("Content-Length", len(body))], body))

    def route_html(self, method, head, headers, rest, query):
        body = "<p>你好</p>".encode("utf-8")
        content_type = self.arg(query, "type", "text/html; charset=UTF-8")
        self.send(response("200 OK", [("Content-Type", content_type), ("Content-Length", len(body))], body))

    def route_redirect(self, method, head, headers, rest, query):
        code = self.arg(query, "code", "302")
        reason = "Moved Permanently" if code == "301" else "Found"
        extra = [("Set-Cookie", c) for c in query.get("cookie", [])]
        self.send(response("%s %s" % (code, reason), extra + [("Location", self.arg(query, "to", "")),
                                                              ("Content-Length", "0")]))

    def route_loop(self, method, head, headers, rest, query):
        self.send(response("302 Found", [("Location", "/loop"), ("Content-Length", "0")]))

    def route_not_modified(self, method, head, headers, rest, query):
        self.send(response("304 Not Modified", [("ETag", '"ABC"')]))

    def route_cookies(self, method, head, headers, rest, query):
        self.send(response("200 OK", [("Set-Cookie", "first=1; Domain=127.0.0.1; Path=/"),
                                      ("Set-Cookie", "second=2; Domain=127.0.0.1; Path=/"),
                                      ("Content-Length", "2")], b"ok"))

    def route_stall(self, method, head, headers, rest, query):
        self.wait_for_client_close()

    def route_close_mid_body(self, method, head, headers, rest, query):
        self.send(response("200 OK", [("Content-Length", "100")], b"0123456789"))

    def route_close_delimited(self, method, head, headers, rest, query):
        self.send(response("200 OK", [("Connection", "close")], b"first part,"))
        time.sleep(0.3)
        self.send(b"second part")

    def route_extra_bytes(self, method, head, headers, rest, query):
        self.send(response("200 OK", [("Content-Length", "3")], b"abcdef"))

    def route_lower_case(self, method, head, headers, rest, query):
        self.send(b"HTTP/1.1 200 OK\r\ncontent-length: 5\r\n\r\nhello")
        self.wait_for_client_close()

    def route_lower_chunked(self, method, head, headers, rest, query):
        self.send(b"HTTP/1.1 200 OK\r\ntransfer-encoding: CHUNKED\r\n\r\n" + chunked(b"hello", 2))
        self.wait_for_client_close()

    def route_put_continue(self, method, head, headers, rest, query):
        self.send(b"HTTP/1.1 100 Continue\r\n\r\n")
        body = self.read_body(headers, rest)
        self.send(response("200 OK", [("Set-Cookie", "put=done; Domain=127.0.0.1"), ("Content-Length", len(body))], body))

    def route_put_refuse(self, method, head, headers, rest, query):
        self.send(response("417 Expectation Failed", [("Content-Length", "0")]))

    def wait_for_client_close(self):
        self.request.settimeout(STALL_SECONDS)
        try:
            while self.request.recv(65536):
                pass
        except OSError:
            pass


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    server = Server(("127.0.0.1", 0), Handler)
    port_file = sys.argv[1]
    with open(port_file + ".tmp", "w") as out:
        out.write(str(server.server_address[1]))
    os.replace(port_file + ".tmp", port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
