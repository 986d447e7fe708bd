#!/usr/bin/env python3
"""Tests of tools/config-server/config_server.py, each against a real server process."""
import hashlib
import http.client
import json
import os
import socket
import subprocess
import sys
import tempfile
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SERVER = os.path.join(ROOT, "tools", "config-server", "config_server.py")
PUBLISH_SAMPLE = os.path.join(ROOT, "tools", "config-server", "publish-sample.sh")


class RunningServer:
    """config_server.py on a free port, over a publish folder, with its JSON log."""

    def __init__(self, publish, *switches):
        self.folder = tempfile.TemporaryDirectory()
        self.log = os.path.join(self.folder.name, "requests.jsonl")
        port_file = os.path.join(self.folder.name, "port")
        self.process = subprocess.Popen(
            [sys.executable, SERVER, "--publish", publish, "--port", "0", "--port-file", port_file, "--log", self.log,
             *switches], stdout=subprocess.DEVNULL)
        for _ in range(200):
            if os.path.exists(port_file):
                break
            time.sleep(0.05)
        with open(port_file) as f:
            self.port = int(f.read())

    def get(self, path, headers=None):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        try:
            connection.request("GET", path, headers=headers or {})
            response = connection.getresponse()
            return response.status, dict(response.getheaders()), response.read()
        finally:
            connection.close()

    def raw(self, request):
        with socket.create_connection(("127.0.0.1", self.port), timeout=10) as sock:
            sock.sendall(request)
            answer = b""
            while chunk := sock.recv(65536):
                answer += chunk
            return answer

    def logged(self):
        with open(self.log) as f:
            return [json.loads(line) for line in f]

    def stop(self):
        self.process.terminate()
        self.process.wait(10)
        self.folder.cleanup()


class ConfigServerTest(unittest.TestCase):
    def setUp(self):
        self.publish = tempfile.TemporaryDirectory()
        self.config = os.urandom(3000)
        self.package = os.urandom(20000)
        for name, body in (("loader.db", self.config), ("loader.zip", self.package)):
            with open(os.path.join(self.publish.name, name), "wb") as f:
                f.write(body)
        self.tag = '"%s"' % hashlib.md5(self.config).hexdigest().upper()
        self.servers = []

    def tearDown(self):
        for server in self.servers:
            server.stop()
        self.publish.cleanup()

    def start(self, *switches, publish=None):
        self.servers.append(RunningServer(publish or self.publish.name, *switches))
        return self.servers[-1]

    def test_config_carries_the_upper_case_md5_as_its_tag_and_a_match_gets_304(self):
        server = self.start()
        status, headers, body = server.get("/loader.db")
        self.assertEqual((200, self.config, self.tag), (status, body, headers["ETag"]))
        self.assertEqual((304, b""), server.get("/loader.db", {"If-None-Match": self.tag})[::2])
        # Entity tags compare exactly: the lower-case digest is another tag.
        self.assertEqual(200, server.get("/loader.db", {"If-None-Match": self.tag.lower()})[0])
        self.assertEqual([None, self.tag, self.tag.lower()], [e["if_none_match"] for e in server.logged()])
        self.assertEqual([200, 304, 200], [e["status"] for e in server.logged()])

    def test_absolute_form_targets_are_served_by_their_path(self):
        server = self.start()
        answer = server.raw(b"GET http://config.velmor.example/loader.zip HTTP/1.1\r\nHost: x\r\n\r\n")
        head, _, body = answer.partition(b"\r\n\r\n")
        self.assertTrue(head.startswith(b"HTTP/1.1 200"))
        self.assertIn(b"Content-Length: 20000", head.split(b"\r\n"))
        self.assertEqual(self.package, body)
        self.assertEqual("http://config.velmor.example/loader.zip", server.logged()[0]["target"])

    def test_nothing_outside_the_publish_folder_is_served(self):
        server = self.start()
        for target in ("/../config_server_test.py", "/%2e%2e/x", "/", "/missing.zip", "http:///loader.db"):
            self.assertEqual(404 if target != "http:///loader.db" else 400, server.get(target)[0], target)

    def test_the_first_requests_fail_by_closing_the_connection_or_with_503(self):
        server = self.start("--fail-first", "2")
        for _ in range(2):
            with self.assertRaises(http.client.RemoteDisconnected):
                server.get("/loader.db")
        self.assertEqual(200, server.get("/loader.db")[0])
        self.assertEqual(["closed", "closed", 200], [e["status"] for e in server.logged()])
        unavailable = self.start("--fail-first", "1", "--fail-with", "503")
        self.assertEqual([503, 200], [unavailable.get("/loader.zip")[0] for _ in range(2)])

    def test_a_throttled_body_takes_its_time(self):
        server = self.start("--slow-bytes-per-second", "40000")
        started = time.monotonic()
        self.assertEqual(self.package, server.get("/loader.zip")[2])
        self.assertGreaterEqual(time.monotonic() - started, 0.45)

    @unittest.skipUnless(os.environ.get("VELMOR_BUILD_DIR"), "needs the built velmor-pack and loader.dll")
    def test_the_published_sample_is_what_the_server_hands_out(self):
        with tempfile.TemporaryDirectory() as publish:
            subprocess.run(["bash", PUBLISH_SAMPLE, publish], check=True, stdout=subprocess.DEVNULL)
            self.assertEqual(["loader.db", "loader.zip"], sorted(os.listdir(publish)))
            with open(os.path.join(publish, "loader.db"), "rb") as f:
                config = f.read()
            server = self.start(publish=publish)
            status, headers, body = server.get("/loader.db")
            self.assertEqual((200, '"%s"' % hashlib.md5(config).hexdigest().upper()), (status, headers["ETag"]))
            self.assertTrue(body.startswith(b"velmor db file"))
            self.assertEqual(200, server.get("http://config.velmor.example/loader.zip")[0])


if __name__ == "__main__":
    unittest.main()
