#!/usr/bin/env python3
"""Reference configuration server for the launcher (Python 3 standard library only).

Serves a publish folder as made by velmor-pack, or the current release of a site folder kept by
publish.sh (--site: SITE/current is resolved again for every request, so a switch is seen at
once and one request is served from one release): /loader.db carries an ETag of the quoted
upper-case MD5 of the file and is answered with 304 when "If-None-Match" names that tag; every
other file (the packed loader library) is served with its Content-Length. Request targets may be
in origin form ("GET /loader.db") or absolute form ("GET http://config.example/loader.db"), the
latter being what the launcher sends through its ".Proxy" file; the host named is not checked.
Caching as the generated nginx site: /loader.db is "no-cache", a package named by its content
(velmor-pack's default) "immutable" for a year, any other file "no-cache".

Every request is logged to stdout and, with --log, as one JSON object per line.
--fail-first N answers the first N requests by closing the connection without a byte of answer
(the launcher sees no response, as with a server that went down); --fail-with 503 answers them
with status 503 instead. Binds 127.0.0.1 only.
"""
import argparse
import hashlib
import http.server
import json
import os
import re
import sys
import threading
import time
import urllib.parse

CONFIG_PATH = "/loader.db"
CHUNK_DIVISOR = 20  # a throttled body goes out in about 20 pieces per second
REVALIDATE = "no-cache"
IMMUTABLE = "max-age=31536000, immutable"
# velmor-pack's content names: "-" and 16 hexadecimal digits of the SHA-256 before the extension.
CONTENT_NAMED = re.compile(r"-[0-9a-f]{16}(\.[^./]*)?$")


class ServerState:
    """What the request threads share: the publish folder, the failure budget and the logs."""

    def __init__(self, publish, site, bytes_per_second, fail_first, fail_with, log_path):
        self.publish = os.path.realpath(publish) if publish else None
        self.site = site
        self.bytes_per_second = bytes_per_second
        self.fail_with = fail_with
        self.log_path = log_path
        self._failures_left = fail_first
        self._lock = threading.Lock()

    def take_failure(self):
        with self._lock:
            if self._failures_left <= 0:
                return False
            self._failures_left -= 1
            return True

    def record(self, entry):
        line = "{method} {target} If-None-Match={if_none_match} -> {status} ({bytes} bytes)".format(**entry)
        with self._lock:
            print(line, flush=True)
            if self.log_path:
                with open(self.log_path, "a", encoding="utf-8") as log:
                    log.write(json.dumps(entry) + "\n")

    def folder(self):
        """The folder served now: the publish folder, or the release SITE/current links to."""
        return self.publish or os.path.realpath(os.path.join(self.site, "current"))

    def resolve(self, url_path):
        """The published file for a request path, or None; nothing outside the folder is served."""
        parts = [part for part in urllib.parse.unquote(url_path).split("/") if part]
        if not parts or any(part in (".", "..") or "\\" in part for part in parts):
            return None
        folder = self.folder()
        candidate = os.path.realpath(os.path.join(folder, *parts))
        if os.path.commonpath([candidate, folder]) != folder or not os.path.isfile(candidate):
            return None
        return candidate


def request_path(target):
    """The path of an origin-form or absolute-form request target, or None."""
    if target.startswith("/"):
        return urllib.parse.urlsplit(target).path
    parsed = urllib.parse.urlsplit(target)
    if parsed.scheme.lower() == "http" and parsed.netloc:
        return parsed.path or "/"
    return None


def entity_tag(body):
    return '"' + hashlib.md5(body).hexdigest().upper() + '"'


def tag_matches(header, tag):
    """If-None-Match: "*" or a list of tags, compared weakly (a W/ prefix does not count)."""
    if header is None:
        return False
    candidates = [item.strip() for item in header.split(",")]
    return "*" in candidates or tag in [c[2:] if c.startswith("W/") else c for c in candidates]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "VelmorConfigServer/1.0"

    def handle_one_request(self):
        self._status = None
        self._sent = 0
        super().handle_one_request()
        if self._status is None:
            return  # the client closed an idle connection: no request
        target = getattr(self, "path", None)  # unset when the request line was unreadable
        headers = getattr(self, "headers", None)
        self.server.state.record({
            "method": self.command, "target": target, "path": request_path(target or ""),
            "if_none_match": headers.get("If-None-Match") if headers else None,
            "status": self._status, "bytes": self._sent,
        })

    def log_request(self, code="-", size="-"):
        self._status = int(code)

    def log_message(self, format, *args):
        pass  # every request is recorded once, by handle_one_request

    def do_GET(self):
        self.serve(send_body=True)

    def do_HEAD(self):
        self.serve(send_body=False)

    def serve(self, send_body):
        self.close_connection = True
        state = self.server.state
        if state.take_failure():
            if state.fail_with == "close":
                self._status = "closed"
                return
            return self.answer(503, b"")
        path = request_path(self.path)
        if path is None:
            return self.answer(400, b"")
        file_path = state.resolve(path)
        if file_path is None:
            return self.answer(404, b"")
        with open(file_path, "rb") as published:
            body = published.read()
        if path != CONFIG_PATH:
            caching = IMMUTABLE if CONTENT_NAMED.search(path) else REVALIDATE
            return self.answer(200, body, {"Cache-Control": caching}, send_body)
        headers = {"ETag": entity_tag(body), "Cache-Control": REVALIDATE}
        if tag_matches(self.headers.get("If-None-Match"), headers["ETag"]):
            return self.answer(304, None, headers)
        return self.answer(200, body, headers, send_body)

    def answer(self, status, body, headers=None, send_body=True):
        self.send_response(status)
        for name, value in (headers or {}).items():
            self.send_header(name, value)
        if body is not None:  # a 304 carries no length: there is no body to measure
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        if body and send_body:
            self.send_body(body)

    def send_body(self, body):
        rate = self.server.state.bytes_per_second
        chunk = max(1, rate // CHUNK_DIVISOR) if rate else len(body)
        started = time.monotonic()
        try:
            while self._sent < len(body):
                piece = body[self._sent:self._sent + chunk]
                self.wfile.write(piece)
                self.wfile.flush()
                self._sent += len(piece)
                if rate and self._sent < len(body):
                    time.sleep(max(0.0, started + self._sent / rate - time.monotonic()))
        except (BrokenPipeError, ConnectionResetError):
            pass  # the launcher went away; the log shows how far it got


def parse_arguments(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    source = parser.add_mutually_exclusive_group(required=True)
    source.add_argument("--publish", help="folder with loader.db and the packages")
    source.add_argument("--site", help="site folder of publish.sh: serves SITE/current")
    parser.add_argument("--port", type=int, default=0, help="port on 127.0.0.1; 0 picks a free one")
    parser.add_argument("--port-file", help="write the port here once listening")
    parser.add_argument("--log", help="append one JSON object per request to this file")
    parser.add_argument("--slow-bytes-per-second", type=int, default=0, help="throttle bodies to this rate")
    parser.add_argument("--fail-first", type=int, default=0, help="fail this many requests first")
    parser.add_argument("--fail-with", choices=("close", "503"), default="close",
                        help="how the failed requests are answered (default: the connection is closed)")
    return parser.parse_args(argv)


def write_port_file(path, port):
    temporary = path + ".tmp"
    with open(temporary, "w", encoding="ascii") as out:
        out.write("%d\n" % port)
    os.replace(temporary, path)  # readers never see a half-written number


def main(argv):
    args = parse_arguments(argv)
    served = args.publish or args.site
    if not os.path.isdir(served):
        sys.exit("config_server: no folder at %s" % served)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    server.daemon_threads = True
    server.state = ServerState(args.publish, args.site, args.slow_bytes_per_second, args.fail_first, args.fail_with,
                               args.log)
    port = server.server_address[1]
    print("listening on http://127.0.0.1:%d/ serving %s" % (port, os.path.realpath(served)), flush=True)
    if args.port_file:
        write_port_file(args.port_file, port)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()


if __name__ == "__main__":
    main(sys.argv[1:])
