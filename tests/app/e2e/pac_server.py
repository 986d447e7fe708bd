#!/usr/bin/env python3
"""Serves proxy auto-configuration scripts on loopback, for the launcher's end-to-end tests.

Usage: pac_server.py FOLDER --port-file FILE [--log FILE]

Answers GET for a file directly in FOLDER (e.g. /proxy.pac) with the content type clients expect
of a PAC script, read anew for each request; /proxy-auth answers as an authenticating proxy would
(407 asking for Basic), so a test can see that an origin server is never given a proxy's
credentials; /redirect?to=URL answers 302 to URL; anything else gets 404. Listens on a free
127.0.0.1 port, writes it to the port file once listening, and logs one JSON object per request,
with whatever Proxy-Authorization it carried.
"""
import argparse
import http.server
import json
import os
import threading
import urllib.parse

PAC_TYPE = "application/x-ns-proxy-autoconfig"


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        name = self.path.split("?", 1)[0].lstrip("/")
        if name == "proxy-auth":
            return self.answer(407, b"", "text/plain", [("Proxy-Authenticate", 'Basic realm="origin"')])
        if name == "redirect":
            target = urllib.parse.parse_qs(urllib.parse.urlsplit(self.path).query).get("to", [""])[0]
            return self.answer(302, b"", "text/plain", [("Location", target)])
        path = os.path.join(self.server.folder, name)
        if not name or "/" in name or name.startswith(".") or not os.path.isfile(path):
            return self.answer(404, b"", "text/plain")
        with open(path, "rb") as script:
            self.answer(200, script.read(), PAC_TYPE)

    def answer(self, status, body, content_type, headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-cache")
        self.end_headers()
        self.wfile.write(body)
        self.server.record({"method": self.command, "path": self.path, "status": status,
                            "proxy_authorization": self.headers.get("Proxy-Authorization", "")})

    def log_message(self, format, *args):
        pass  # the JSON log has every request


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, folder, log):
        super().__init__(("127.0.0.1", 0), Handler)
        self.folder, self.log = os.path.realpath(folder), log
        self.log_lock = threading.Lock()

    def record(self, entry):
        if not self.log:
            return
        with self.log_lock, open(self.log, "a", encoding="utf-8") as out:
            out.write(json.dumps(entry) + "\n")


def main():
    parser = argparse.ArgumentParser(description="PAC script server on 127.0.0.1")
    parser.add_argument("folder")
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--log")
    options = parser.parse_args()
    server = Server(options.folder, options.log)
    with open(options.port_file + ".tmp", "w", encoding="ascii") as out:
        out.write("%d\n" % server.server_address[1])
    os.replace(options.port_file + ".tmp", options.port_file)  # readers never see half a number
    server.serve_forever()


if __name__ == "__main__":
    main()
