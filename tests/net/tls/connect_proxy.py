#!/usr/bin/env python3
"""An HTTP CONNECT proxy on loopback, for the tests' harnesses.

Usage: connect_proxy.py PORT_FILE [--log FILE] [--answer ok|407|502] [--map NAME:PORT=127.0.0.1:PORT2]...

Listens on a free 127.0.0.1 port and writes it to PORT_FILE. Each request is appended to the log
as one line: "CONNECT host:port", then each header line as received, tab-separated.
--answer ok (the default) opens the tunnel: "200 Connection established", then bytes both ways;
407 asks for Basic credentials (realm "velmor-test"); 502 fails as a bad gateway. Any other
method gets 405, a CONNECT without Host 400, a target that is not on loopback 502.
--map sends a CONNECT to NAME:PORT to 127.0.0.1:PORT2 instead; other names are resolved.
"""
import argparse
import ipaddress
import os
import socket
import socketserver
import threading

HEAD_LIMIT = 65536
ESTABLISHED = b"HTTP/1.1 200 Connection established\r\n\r\n"
ANSWERS = {
    "407": b"HTTP/1.1 407 Proxy Authentication Required\r\n"
           b"Proxy-Authenticate: Basic realm=\"velmor-test\"\r\nContent-Length: 0\r\n\r\n",
    "502": b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n",
}
NO_HOST = b"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"
NOT_CONNECT = b"HTTP/1.1 405 Method Not Allowed\r\nAllow: CONNECT\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"
NO_ROUTE = b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"


def end_sending(sock):
    try:
        sock.shutdown(socket.SHUT_WR)
    except OSError:
        pass


def pump(source, sink):
    """Copies what source sends to sink until source ends, then ends sink's sending side."""
    try:
        while data := source.recv(65536):
            sink.sendall(data)
    except OSError:
        pass
    end_sending(sink)


def tunnel(client, upstream, downstream=pump):
    """Relays both ways until both ways ended; downstream(upstream, client) carries the answers."""
    back = threading.Thread(target=downstream, args=(upstream, client), daemon=True)
    back.start()
    pump(client, upstream)
    back.join()
    upstream.close()


def read_head(sock, data):
    """The request head's lines, from the bytes already read and the socket, and the bytes after
    it; no lines at the end of the connection."""
    while b"\r\n\r\n" not in data:
        piece = sock.recv(65536)
        if not piece or len(data) > HEAD_LIMIT:
            return [], b""
        data += piece
    head, _, rest = data.partition(b"\r\n\r\n")
    return head.decode("latin-1").split("\r\n"), rest


def loopback_address(host, port, mapping):
    """Where a CONNECT target goes: its mapping, else its address when it is on loopback."""
    if (host.lower(), port) in mapping:
        return mapping[host.lower(), port]
    try:
        found = socket.getaddrinfo(host, port, socket.AF_INET, socket.SOCK_STREAM)
    except (OSError, UnicodeError):
        return None
    addresses = [entry[4] for entry in found]
    if not all(ipaddress.ip_address(address[0]).is_loopback for address in addresses):
        return None
    return addresses[0]


def split_target(target):
    host, _, port = target.rpartition(":")
    return (host, int(port)) if host and port.isdigit() else (None, None)


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        # Refused answers keep the connection, as a proxy asking for credentials would.
        rest = b""
        while True:
            lines, rest = read_head(self.request, rest)
            if not lines or not self.answer(lines, rest):
                return

    def answer(self, lines, rest):
        """Answers one request; true when the connection takes another."""
        method, target = (lines[0].split(" ") + [""])[:2]
        self.server.record("\t".join([method + " " + target] + lines[1:]))
        has_host = any(line.lower().startswith("host:") for line in lines[1:])
        if method != "CONNECT":
            return self.refuse(NOT_CONNECT)
        if not has_host:
            return self.refuse(NO_HOST)
        if self.server.answer in ANSWERS:
            self.request.sendall(ANSWERS[self.server.answer])
            return True
        host, port = split_target(target)
        address = host and loopback_address(host, port, self.server.mapping)
        if not address:
            return self.refuse(NO_ROUTE)
        try:
            upstream = socket.create_connection(address, timeout=10)
        except OSError:
            return self.refuse(NO_ROUTE)
        upstream.settimeout(None)
        self.request.sendall(ESTABLISHED)
        upstream.sendall(rest)
        tunnel(self.request, upstream)
        return False

    def refuse(self, answer):
        self.request.sendall(answer)
        return False


class Proxy(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, answer, mapping, log):
        super().__init__(("127.0.0.1", 0), Handler)
        self.answer, self.mapping, self.log = answer, mapping, log
        self.log_lock = threading.Lock()

    def record(self, line):
        if not self.log:
            return
        with self.log_lock, open(self.log, "a", encoding="latin-1") as out:
            out.write(line + "\n")


def parse_map(text):
    """NAME:PORT=127.0.0.1:PORT2 as ((name, port), ("127.0.0.1", port2)); loopback targets only."""
    source, _, target = text.partition("=")
    host, port = split_target(source)
    address, to_port = split_target(target)
    if not host or not address or not ipaddress.ip_address(address).is_loopback:
        raise argparse.ArgumentTypeError("expected NAME:PORT=127.0.0.1:PORT2, not %r" % text)
    return (host.lower(), port), (address, to_port)


def main():
    parser = argparse.ArgumentParser(description="HTTP CONNECT proxy on 127.0.0.1")
    parser.add_argument("port_file")
    parser.add_argument("--log")
    parser.add_argument("--answer", choices=["ok", *ANSWERS], default="ok")
    parser.add_argument("--map", type=parse_map, action="append", default=[])
    options = parser.parse_args()
    proxy = Proxy(options.answer, dict(options.map), options.log)
    with open(options.port_file + ".tmp", "w") as out:
        out.write(str(proxy.server_address[1]))
    os.replace(options.port_file + ".tmp", options.port_file)
    proxy.serve_forever()


if __name__ == "__main__":
    main()
