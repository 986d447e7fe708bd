#!/usr/bin/env python3
"""Tests of the site layout: nginx-site.sh, publish.sh and config_server.py --site, each against
real nginx and Python server processes on loopback."""
import hashlib, os, shutil, socket, stat, subprocess, sys, tempfile, threading, time, unittest

from config_server_test import http_get

TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "config-server")
NGINX = shutil.which("nginx") or "/usr/sbin/nginx"


def tag_of(body):
    return '"%s"' % hashlib.md5(body).hexdigest().upper()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class SiteTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.site = os.path.join(self.folder.name, "site")
        os.mkdir(self.site)
        self.processes = []
        self.stagings = 0

    def tearDown(self):
        for process in self.processes:
            process.terminate()
            process.wait(10)
        for top, folders, _ in os.walk(self.folder.name):  # releases are read-only
            for name in folders:
                os.chmod(os.path.join(top, name), 0o755)
        self.folder.cleanup()

    def staging(self, files):
        """A folder as velmor-pack writes it: name -> bytes."""
        self.stagings += 1
        path = os.path.join(self.folder.name, "staging%d" % self.stagings)
        os.mkdir(path)
        for name, body in files.items():
            with open(os.path.join(path, name), "wb") as f:
                f.write(body)
        return path

    def publish(self, files, *switches):
        run = subprocess.run(["bash", os.path.join(TOOLS, "publish.sh"), self.staging(files), self.site, *switches],
                             capture_output=True, text=True)
        self.assertEqual(0, run.returncode, run.stderr)
        return run.stdout

    def rollback(self):
        return subprocess.run(["bash", os.path.join(TOOLS, "publish.sh"), "--rollback", self.site],
                              capture_output=True, text=True)

    def wait_for(self, port):
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", port), 1).close()
                return
            except OSError:
                time.sleep(0.05)
        self.fail("nothing listens on %d" % port)

    def start_nginx(self, *switches):
        """nginx on the site; returns (port, pid file)."""
        port = free_port()
        conf = os.path.join(self.folder.name, "nginx%d" % len(self.processes), "site.conf")
        subprocess.run(["bash", os.path.join(TOOLS, "nginx-site.sh"), self.site, str(port), conf, *switches], check=True)
        self.processes.append(subprocess.Popen([NGINX, "-c", conf], stderr=subprocess.DEVNULL))
        self.wait_for(port)
        return port, conf[:-len(".conf")] + ".pid"

    def start_python(self, *switches):
        port = free_port()
        self.processes.append(subprocess.Popen([sys.executable, os.path.join(TOOLS, "config_server.py"), "--site",
                                                self.site, "--port", str(port), *switches], stdout=subprocess.DEVNULL))
        self.wait_for(port)
        return port

    def servers(self):
        """Both servers on the same site: (name, port)."""
        return [("nginx", self.start_nginx()[0]), ("python", self.start_python())]

    def get(self, port, target, **headers):
        return http_get(port, target, **headers)

    def releases(self):
        return sorted(n for n in os.listdir(os.path.join(self.site, "releases")) if not n.endswith(".files"))

    def current(self):
        return os.path.basename(os.readlink(os.path.join(self.site, "current")))

    def test_both_servers_answer_the_validator_the_same_way(self):
        config, package = os.urandom(700), os.urandom(50000)
        self.publish({"loader.db": config, "loader.zip": package})
        tag = tag_of(config)
        cases = [  # If-None-Match -> status
            (None, 200), (tag, 304), (tag.lower(), 200), ('"%s"' % ("0" * 32), 200), ("W/" + tag, 304),
            ('"other", ' + tag, 304), (tag + ', "other"', 304), ("*", 304), (tag[1:-1], 200),
        ]
        for server, port in self.servers():
            for if_none_match, expected in cases:
                headers = {"If_None_Match": if_none_match} if if_none_match else {}
                for target in ("/loader.db", "http://config.velmor.example/loader.db"):
                    with self.subTest(server=server, if_none_match=if_none_match, target=target):
                        status, answer, body = self.get(port, target, Accept_Encoding="gzip", **headers)
                        self.assertEqual(expected, status)
                        self.assertEqual(tag, answer["ETag"])
                        self.assertEqual(config if expected == 200 else b"", body)
                        self.assertIsNone(answer["Content-Encoding"])
            with self.subTest(server=server, file="package"):
                status, answer, body = self.get(port, "http://config.velmor.example/loader.zip")
                self.assertEqual((200, str(len(package)), package), (status, answer["Content-Length"], body))
                self.assertEqual(404, self.get(port, "/missing.zip")[0])

    def test_every_publish_switches_config_validator_and_package_together(self):
        servers = self.servers()
        pid_file = os.path.join(self.folder.name, "nginx0", "site.pid")
        previous = None
        for round in range(4):
            config, package = os.urandom(300 + round), os.urandom(1000 + round)
            self.publish({"loader.db": config, "loader.zip": package}, "--pid-file", pid_file)
            for server, port in servers:
                with self.subTest(server=server, round=round):
                    status, answer, body = self.get(port, "/loader.db")
                    self.assertEqual((200, config, tag_of(config)), (status, body, answer["ETag"]))
                    self.assertEqual(package, self.get(port, "/loader.zip")[2])
                    if previous:  # the cached copy of a launcher from before the switch
                        self.assertEqual((200, config), self.get(port, "/loader.db", If_None_Match=previous)[::2])
                    self.assertEqual(304, self.get(port, "/loader.db", If_None_Match=tag_of(config))[0])
            previous = tag_of(config)

    def test_a_release_nginx_has_not_loaded_gets_no_validator_and_never_a_304(self):
        port, _ = self.start_nginx()
        self.publish({"loader.db": b"first"})
        config = b"second, published without a reload"
        self.publish({"loader.db": config})
        for if_none_match in (tag_of(b"first"), tag_of(config)):
            status, answer, body = self.get(port, "/loader.db", If_None_Match=if_none_match)
            self.assertEqual((200, config, None), (status, body, answer["ETag"]))

    def test_a_download_in_flight_finishes_from_its_release(self):
        old, new = os.urandom(60000), os.urandom(60000)
        self.publish({"loader.db": b"old", "loader.zip": old})
        nginx_port, pid_file = self.start_nginx("--limit-rate", "40000")
        python_port = self.start_python("--slow-bytes-per-second", "40000")
        results = {}
        threads = [threading.Thread(target=lambda n=n, p=p: results.__setitem__(n, self.get(p, "/loader.zip")[2]))
                   for n, p in (("nginx", nginx_port), ("python", python_port))]
        for thread in threads:
            thread.start()
        time.sleep(0.5)  # both are sending: a 60000-byte body takes about 1.5 s
        self.publish({"loader.db": b"new", "loader.zip": new}, "--pid-file", pid_file)
        for thread in threads:
            thread.join(20)
        self.assertEqual({"nginx": old, "python": old}, results)
        for port in (nginx_port, python_port):
            self.assertEqual(b"new", self.get(port, "/loader.db")[2])

    def test_old_releases_are_read_only_kept_pruned_and_rolled_back_to(self):
        port, pid_file = self.start_nginx()
        configs = [os.urandom(100) for _ in range(5)]
        for config in configs:
            self.publish({"loader.db": config, "loader.zip": config * 3}, "--pid-file", pid_file, "--keep", "3")
        releases = self.releases()
        self.assertEqual(3, len(releases))
        self.assertEqual(releases[-1], self.current())
        for name in releases:
            for file in ("loader.db", "loader.zip"):
                self.assertFalse(os.stat(os.path.join(self.site, "releases", name, file)).st_mode & stat.S_IWUSR)
        # Each rollback is one switch, served with its own validator at once: no reload needed.
        for expected in (configs[3], configs[2]):
            self.assertEqual(0, self.rollback().returncode)
            status, answer, body = self.get(port, "/loader.db", If_None_Match=tag_of(configs[4]))
            self.assertEqual((200, expected, tag_of(expected)), (status, body, answer["ETag"]))
            self.assertEqual(expected * 3, self.get(port, "/loader.zip")[2])
        self.assertNotEqual(0, self.rollback().returncode)  # nothing older is kept
        self.assertEqual(releases[0], self.current())

    def test_the_previous_package_under_its_own_name_stays_reachable(self):
        port, pid_file = self.start_nginx()
        self.publish({"loader.db": b"one", "loader-1.zip": b"package one"}, "--pid-file", pid_file)
        self.publish({"loader.db": b"two", "loader-2.zip": b"package two"}, "--pid-file", pid_file)
        self.publish({"loader.db": b"three", "loader-3.zip": b"package three"}, "--pid-file", pid_file)
        self.assertEqual(b"package two", self.get(port, "/loader-2.zip")[2])  # a launcher that read "two"
        self.assertEqual(404, self.get(port, "/loader-1.zip")[0])  # carried once, not forever

    def test_nothing_published_is_an_error_never_another_folder(self):
        for server, port in self.servers():
            with self.subTest(server=server):
                self.assertIn(self.get(port, "/loader.db")[0], (404, 503))
                self.assertIn(self.get(port, "/index.html")[0], (404, 503))

    def test_publishes_at_the_same_time_each_land_whole(self):
        configs = [os.urandom(200) for _ in range(4)]
        stagings = [self.staging({"loader.db": config}) for config in configs]
        runs = [subprocess.Popen(["bash", os.path.join(TOOLS, "publish.sh"), staging, self.site],
                                 stdout=subprocess.DEVNULL) for staging in stagings]
        self.assertEqual([0] * 4, [run.wait(60) for run in runs])
        self.assertEqual(4, len(self.releases()))
        with open(os.path.join(self.site, "validators.map")) as f:
            self.assertEqual(4, len(f.readlines()))
        with open(os.path.join(self.site, "current", "loader.db"), "rb") as f:
            self.assertIn(f.read(), configs)

    def test_wrong_arguments_are_refused(self):
        scripts = [("nginx-site.sh", self.site, "port", "out.conf"), ("nginx-site.sh", self.site),
                   ("publish.sh", self.folder.name, self.site),  # no loader.db
                   ("publish.sh", self.staging({"loader.db": b"x"}), self.site, "--keep", "1"),
                   ("publish.sh", "--rollback", self.site)]  # nothing published
        for script, *arguments in scripts:
            with self.subTest(script=script, arguments=arguments):
                run = subprocess.run(["bash", os.path.join(TOOLS, script), *arguments], capture_output=True)
                self.assertNotEqual(0, run.returncode)
        self.assertEqual([], self.releases())


if __name__ == "__main__":
    unittest.main()
