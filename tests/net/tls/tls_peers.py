#!/usr/bin/env python3
"""Loopback peers for the TLS client's failure and framing tests, each on a free port:
  tls-stall       reads the ClientHello, then answers nothing for a minute
  tls-plain       answers whatever comes with a plain-text HTTP 400 and closes (HTTP where TLS was due)
  relay-bytewise  relays to the TLS server; what it sends goes on one byte per send
  relay-merge     relays to the TLS server; what it sends is held until it has been quiet for 30 ms
                  (or 512 KiB are held) and goes on in one send, many records at once

Usage: tls_peers.py TLS_PORT PORTS_FILE   (writes "<name> <port>" lines to PORTS_FILE)
"""
import os
import select
import socket
import socketserver
import sys
import threading

from connect_proxy import end_sending, tunnel

STALL_SECONDS = 60
QUIET_SECONDS = 0.03
MERGE_LIMIT = 512 * 1024
BAD_REQUEST = b"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"


def wait_for_close(sock, seconds):
    sock.settimeout(seconds)
    try:
        while sock.recv(65536):
            pass
    except OSError:
        pass


def read_record(sock):
    """Reads one TLS record (the ClientHello), or what comes before the connection ends."""
    data = b""
    while len(data) < 5 or len(data) < 5 + int.from_bytes(data[3:5], "big"):
        piece = sock.recv(65536)
        if not piece:
            return
        data += piece


def stall(client):
    read_record(client)
    wait_for_close(client, STALL_SECONDS)


def plain(client):
    client.recv(65536)
    client.sendall(BAD_REQUEST)
    end_sending(client)
    # Reading on to the client's close: a close with unread bytes would reset the connection,
    # and the reset could discard the answer before the client reads it.
    wait_for_close(client, 5)


def bytewise(source, sink):
    sink.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    try:
        while data := source.recv(65536):
            view = memoryview(data)
            for i in range(len(view)):
                sink.sendall(view[i:i + 1])
    except OSError:
        pass
    end_sending(sink)


def merged(source, sink):
    held = bytearray()
    try:
        while True:
            readable, _, _ = select.select([source], [], [], QUIET_SECONDS if held else None)
            data = source.recv(65536) if readable else None
            if data:
                held += data
            if held and (not data or len(held) >= MERGE_LIMIT):
                sink.sendall(held)
                held.clear()
            if data == b"":
                break
    except OSError:
        pass
    end_sending(sink)


def relay_to(port, downstream):
    def answer(client):
        try:
            upstream = socket.create_connection(("127.0.0.1", port))
        except OSError:
            return
        tunnel(client, upstream, downstream)
    return answer


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        self.server.answer(self.request)


class Peer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, answer):
        super().__init__(("127.0.0.1", 0), Handler)
        self.answer = answer


def main():
    tls_port, ports_file = int(sys.argv[1]), sys.argv[2]
    peers = {
        "tls-stall": Peer(stall),
        "tls-plain": Peer(plain),
        "relay-bytewise": Peer(relay_to(tls_port, bytewise)),
        "relay-merge": Peer(relay_to(tls_port, merged)),
    }
    with open(ports_file + ".tmp", "w") as out:
        out.writelines("%s %d\n" % (name, peer.server_address[1]) for name, peer in peers.items())
    os.replace(ports_file + ".tmp", ports_file)
    *others, last = peers.values()
    for peer in others:
        threading.Thread(target=peer.serve_forever, daemon=True).start()
    last.serve_forever()


if __name__ == "__main__":
    main()
