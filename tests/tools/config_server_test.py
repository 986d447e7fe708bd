#!/usr/bin/env python3
"""Tests of tools/config-server/config_server.py, each against a real server process."""
import hashlib, http.client, json, os, subprocess, sys, tempfile, time, unittest

TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "config-server")


def http_get(port, target, timeout=20, **headers):
    """One GET on a connection of its own (header names with _ for -): status, headers, body."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    try:
        connection.request("GET", target, headers={k.replace("_", "-"): v for k, v in headers.items()})
        response = connection.getresponse()
        return response.status, response.headers, response.read()
    finally:
        connection.close()


class ConfigServerTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.publish = os.path.join(self.folder.name, "publish")
        os.mkdir(self.publish)
        self.config, self.package = os.urandom(3000), os.urandom(20000)
        for name, body in (("loader.db", self.config), ("loader.zip", self.package)):
            with open(os.path.join(self.publish, name), "wb") as f:
                f.write(body)
        self.tag = '"%s"' % hashlib.md5(self.config).hexdigest().upper()
        self.processes = []

    def tearDown(self):
        for process in self.processes:
            process.terminate()
            process.wait(10)
        self.folder.cleanup()

    def start(self, *switches, publish=None):
        """Starts a server on a free port; its requests are logged to self.log."""
        port_file, self.log = (os.path.join(self.folder.name, "%s%d" % (n, len(self.processes))) for n in "pl")
        self.processes.append(subprocess.Popen([sys.executable, os.path.join(TOOLS, "config_server.py"), "--publish",
                                                publish or self.publish, "--port-file", port_file, "--log", self.log,
                                                *switches], stdout=subprocess.DEVNULL))
        for _ in range(200):
            if os.path.exists(port_file):
                break
            time.sleep(0.05)
        with open(port_file) as f:
            self.port = int(f.read())

    def get(self, target, **headers):
        return http_get(self.port, target, **headers)

    def logged(self, key, count):
        """The key of each logged request, once `count` are there: the server logs after answering."""
        lines = []
        for _ in range(100):
            if os.path.exists(self.log):
                with open(self.log) as f:
                    lines = f.readlines()
            if len(lines) >= count:
                break
            time.sleep(0.05)
        return [json.loads(line)[key] for line in lines]

    def test_config_has_the_upper_case_md5_as_tag_and_a_match_gets_304(self):
        self.start()
        status, headers, body = self.get("/loader.db")
        self.assertEqual((200, self.config, self.tag), (status, body, headers["ETag"]))
        self.assertEqual(304, self.get("/loader.db", If_None_Match=self.tag)[0])
        self.assertEqual(200, self.get("/loader.db", If_None_Match=self.tag.lower())[0])  # tags compare exactly
        # Each request is logged after its answer, by its own thread: the lines may come in any order.
        logged = zip(self.logged("if_none_match", 3), self.logged("status", 3))
        expected = [(None, 200), (self.tag, 304), (self.tag.lower(), 200)]
        self.assertEqual(sorted(expected, key=str), sorted(logged, key=str))

    def test_absolute_form_targets_are_served_by_path_throttled_and_nothing_outside_the_folder(self):
        self.start("--slow-bytes-per-second", "40000")
        started = time.monotonic()
        status, headers, body = self.get("http://config.velmor.example/loader.zip")
        self.assertEqual((200, "20000", self.package), (status, headers["Content-Length"], body))
        self.assertGreaterEqual(time.monotonic() - started, 0.45)  # 20000 bytes at 40000 per second
        self.assertEqual("http://config.velmor.example/loader.zip", self.logged("target", 1)[0])
        for target in ("/../publish/loader.zip", "/%2e%2e/p0", "/", "/missing.zip"):
            self.assertEqual(404, self.get(target)[0], target)

    def test_the_first_requests_fail_by_closing_the_connection_or_with_503(self):
        self.start("--fail-first", "2")
        for _ in range(2):
            self.assertRaises(http.client.RemoteDisconnected, self.get, "/loader.db")
        self.assertEqual(200, self.get("/loader.db")[0])
        self.assertEqual(["closed", "closed", 200], self.logged("status", 3))
        self.start("--fail-first", "1", "--fail-with", "503")
        self.assertEqual([503, 200], [self.get("/loader.zip")[0] for _ in range(2)])

    @unittest.skipUnless(os.environ.get("VELMOR_BUILD_DIR"), "needs the built velmor-pack and loader.dll")
    def test_the_published_sample_is_served(self):
        publish = os.path.join(self.folder.name, "sample")
        subprocess.run(["bash", os.path.join(TOOLS, "publish-sample.sh"), publish], check=True, stdout=subprocess.DEVNULL)
        packages = [name for name in os.listdir(publish) if name.endswith(".zip")]
        self.assertEqual(1, len(packages))
        with open(os.path.join(publish, packages[0]), "rb") as f:
            package = f.read()
        self.assertEqual("loader-%s.zip" % hashlib.sha256(package).hexdigest()[:16], packages[0])
        self.assertEqual(sorted(["loader.db", "loader.db.release"] + packages), sorted(os.listdir(publish)))
        with open(os.path.join(publish, "loader.db"), "rb") as f:
            config = f.read()
        self.start(publish=publish)
        self.assertEqual('"%s"' % hashlib.md5(config).hexdigest().upper(), self.get("/loader.db")[1]["ETag"])
        self.assertEqual((200, package), self.get("http://config.velmor.example/" + packages[0])[::2])

if __name__ == "__main__":
    unittest.main()
