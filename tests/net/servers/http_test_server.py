#!/usr/bin/env python3
"""Loopback HTTP peer for the client tests: each path answers with one kind of response,
written byte by byte as the test needs it (lengths, chunking, gzip, redirects, closes, stalls).

Usage: http_test_server.py PORT_FILE [--tls CERT_DIR TLS_PORTS_FILE]
Listens on a free 127.0.0.1 port and writes it to PORT_FILE. With --tls it also serves the same
routes over TLS, one free port per certificate case of CERT_DIR (tests/net/tls/make-certs.sh),
written to TLS_PORTS_FILE as "tls-<case> <port>" lines.
"""
import argparse
import gzip
import os
import socket
import socketserver
import ssl
import threading
import time
import urllib.parse

STALL_SECONDS = 45
# How long a TLS connection waits for the client's close_notify (or close) after sending its own.
TLS_CLOSE_SECONDS = 10
TLS_CASES = ["good", "wrong-host", "expired", "not-yet-valid", "self-signed", "untrusted-ca",
             "no-server-auth", "no-intermediate"]
# The listening ports by name ("plain", and "tls-good" with --tls), for the redirects across them.
PORTS = {}


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
    def handle(self):
        if self.server.tls is None:
            self.answer()
            return
        # The handshake runs here, in the connection's thread: a client that stalls in it holds
        # only its own thread. wrap_socket takes over the socket, so this thread closes it.
        try:
            self.request = self.server.tls.wrap_socket(self.request, server_side=True)
        except OSError:
            return  # the client refused our certificate, or does not speak TLS
        self.cut = False
        try:
            self.answer()
            if not self.cut:
                self.close_notify()
        finally:
            self.request.close()

    def close_notify(self):
        """Ends the connection as TLS means it to end, so that the client can tell the end of a
        close-delimited body from a cut; the close alone sends no close_notify."""
        self.request.settimeout(TLS_CLOSE_SECONDS)
        try:
            self.request.unwrap()
        except OSError:
            pass  # the client had closed, or did not answer with its own close_notify

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

    def answer(self):
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

    # Hostile and unusual servers: each answer below once made the client spin, hang or fail.

    def route_cookie_flood(self, method, head, headers, rest, query):
        count = int(self.arg(query, "n", "5000"))
        cookies = [("Set-Cookie", "c%d=v; Domain=127.0.0.1" % i) for i in range(count)]
        self.send(response("200 OK", cookies + [("Content-Length", "2")], b"ok"))

    def route_endless_head(self, method, head, headers, rest, query):
        self.send(b"HTTP/1.1 200 OK\r\n")
        line = b"X-Padding: " + b"a" * 1000 + b"\r\n"
        try:
            for _ in range(64 * 1024):  # 64 MiB at most, then the server gives up by itself
                self.send(line)
        except OSError:
            pass

    def route_no_body(self, method, head, headers, rest, query):
        """A head announcing a length that no body follows: HEAD, 204 and 304 answers."""
        status = self.arg(query, "status", "200 OK")
        self.send(response(status, [("Content-Length", "379"), ("ETag", '"ABC"')]))
        self.wait_for_client_close()

    def route_interim(self, method, head, headers, rest, query):
        for code in self.arg(query, "codes", "100").split(","):
            self.send(b"HTTP/1.1 %s Interim\r\nX-Interim: %s\r\n\r\n" % (code.encode(), code.encode()))
        self.send(response("200 OK", [("Content-Length", "5")], b"final"))
        self.wait_for_client_close()

    def route_announce_huge(self, method, head, headers, rest, query):
        self.send(response("200 OK", [("Content-Length", self.arg(query, "n", "500000000"))], b"x" * 1000))
        self.wait_for_client_close()

    def route_raw_chunks(self, method, head, headers, rest, query):
        """Chunked coding written as given: extensions, trailers, bad size lines."""
        body = self.arg(query, "body", "0\r\n\r\n").encode("latin-1")
        self.send(response("200 OK", [("Transfer-Encoding", "chunked")], body))
        self.wait_for_client_close()

    def route_endless_size_line(self, method, head, headers, rest, query):
        self.send(response("200 OK", [("Transfer-Encoding", "chunked")], b"1"))
        try:
            for _ in range(64 * 1024):
                self.send(b"0" * 1024)
        except OSError:
            pass

    def route_gzip_bomb(self, method, head, headers, rest, query):
        packed = cached(("gzip_bomb", int(self.arg(query, "mib", "20"))),
                        lambda mib: gzip.compress(b"\0" * (mib * 1024 * 1024)))
        self.send(response("200 OK", [("Content-Encoding", "gzip"), ("Content-Length", len(packed))], packed))

    def route_drip(self, method, head, headers, rest, query):
        interval = int(self.arg(query, "ms", "300")) / 1000.0
        self.send(response("200 OK", [("Content-Length", "1000")]))
        try:
            for _ in range(1000):
                time.sleep(interval)
                self.send(b"d")
        except OSError:
            pass

    def route_early_answer(self, method, head, headers, rest, query):
        """Answers before the upload is in, then takes the upload slowly, keeping the connection."""
        self.send(response("200 OK", [("Content-Length", "5")], b"early"))
        time.sleep(0.5)
        self.read_body(headers, rest)
        self.wait_for_client_close()

    def route_hops(self, method, head, headers, rest, query):
        left = int(self.arg(query, "left", "0"))
        if left == 0:
            self.send(response("200 OK", [("Content-Length", "7")], b"arrived"))
            return
        location = "http://%s/hops?left=%d" % (headers.get("host", ""), left - 1)
        self.send(response("302 Found", [("Location", location), ("Content-Length", "0")]))

    def route_cut_without_close_notify(self, method, head, headers, rest, query):
        """A close-delimited body of n pattern bytes; over TLS the connection then ends without
        close_notify, a truncation the client must not take for the end."""
        self.send(response("200 OK", [("Connection", "close")], pattern(int(self.arg(query, "n", "1000")))))
        self.cut = True

    def route_redirect_to_http(self, method, head, headers, rest, query):
        """To the plain port: its `path`, /bytes?n=1000 unless given (meant for the TLS ports)."""
        self.redirect_across("http", PORTS["plain"], query)

    def route_redirect_to_https(self, method, head, headers, rest, query):
        """To the TLS good port: its `path`, /bytes?n=1000 unless given (meant for the plain port)."""
        self.redirect_across("https", PORTS["tls-good"], query)

    def redirect_across(self, scheme, port, query):
        location = "%s://localhost:%d%s" % (scheme, port, self.arg(query, "path", "/bytes?n=1000"))
        self.send(response("302 Found", [("Location", location), ("Content-Length", "0")]))

    def route_raw(self, method, head, headers, rest, query):
        """Any response, given in hexadecimal: whole, or a byte per send (pace=byte); then the
        server closes, or with keep=1 waits for the client to."""
        data = bytes.fromhex(self.arg(query, "hex", ""))
        pieces = [data]
        if self.arg(query, "pace", "whole") == "byte":
            self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            pieces = [data[i:i + 1] for i in range(len(data))]
        try:
            for piece in pieces:
                self.send(piece)
        except OSError:
            return  # the client had what it needed, or refused what it saw
        if self.arg(query, "keep", "0") == "1":
            self.wait_for_client_close()

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

    def __init__(self, tls=None):
        super().__init__(("127.0.0.1", 0), Handler)
        self.tls = tls


def tls_context(cert_dir, case):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(os.path.join(cert_dir, case + ".pem"), os.path.join(cert_dir, case + ".key"))
    return context


def write_atomically(path, text):
    with open(path + ".tmp", "w") as out:
        out.write(text)
    os.replace(path + ".tmp", path)


def start_tls_servers(cert_dir, ports_file):
    for case in TLS_CASES:
        server = Server(tls_context(cert_dir, case))
        PORTS["tls-" + case] = server.server_address[1]
        threading.Thread(target=server.serve_forever, daemon=True).start()
    write_atomically(ports_file, "".join("tls-%s %d\n" % (case, PORTS["tls-" + case]) for case in TLS_CASES))


def main():
    parser = argparse.ArgumentParser(description="loopback HTTP peer of the client tests")
    parser.add_argument("port_file")
    parser.add_argument("--tls", nargs=2, metavar=("CERT_DIR", "TLS_PORTS_FILE"))
    options = parser.parse_args()
    server = Server()
    PORTS["plain"] = server.server_address[1]
    if options.tls:
        start_tls_servers(*options.tls)
    write_atomically(options.port_file, str(PORTS["plain"]))
    server.serve_forever()


if __name__ == "__main__":
    main()
