#!/usr/bin/env python3
"""Tests of the site layout: nginx-site.sh, publish.sh and config_server.py --site, each against
real nginx and Python server processes on loopback."""
import hashlib, os, pwd, shutil, socket, stat, subprocess, sys, tempfile, threading, time, unittest

from config_server_test import http_get

TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "config-server")
NGINX = shutil.which("nginx") or "/usr/sbin/nginx"
RELEASE = "loader.db.release"
FAR_FUTURE = "2099-01-01T00:00:00Z"
PACKAGE = "loader-0123456789abcdef.zip"  # a content name as velmor-pack makes them
IMMUTABLE, REVALIDATE = "max-age=31536000, immutable", "no-cache"


def tag_of(body):
    return '"%s"' % hashlib.md5(body).hexdigest().upper()


def facts(config, serial=None, expires=FAR_FUTURE):
    """The side file velmor-pack writes beside loader.db; unsigned without a serial."""
    text = "md5=%s\n" % hashlib.md5(config).hexdigest()
    if serial is not None:
        text += "serial=%s\nexpires=%s\n" % (serial, expires)
    return text.encode()


def signed(serial, **changes):
    """A staging folder of a signed configuration (name -> bytes), changed by `changes`."""
    config = os.urandom(300)
    files = {"loader.db": config, PACKAGE: os.urandom(500), RELEASE: facts(config, serial)}
    files.update(changes)
    return files


def pem(kind):
    return b"notes\n-----BEGIN " + kind + b"-----\nMHcCAQEEIA==\n-----END " + kind + b"-----\n"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class SiteTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        # Started as root, nginx serves from workers running as nobody, who must reach the site.
        os.chmod(self.folder.name, 0o755)
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
        """A folder as velmor-pack writes it: name (may hold a folder) -> bytes, or a str: a link to it."""
        self.stagings += 1
        path = os.path.join(self.folder.name, "staging%d" % self.stagings)
        os.mkdir(path)
        for name, body in files.items():
            target = os.path.join(path, name)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            if isinstance(body, str):
                os.symlink(body, target)
                continue
            with open(target, "wb") as f:
                f.write(body)
        return path

    def try_publish(self, files, *switches):
        return subprocess.run(["bash", os.path.join(TOOLS, "publish.sh"), self.staging(files), self.site, *switches],
                              capture_output=True, text=True)

    def publish(self, files, *switches):
        run = self.try_publish(files, *switches)
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
        return sorted(n for n in os.listdir(os.path.join(self.site, "releases")) if "Z." not in n)

    def current(self):
        return os.path.basename(os.readlink(os.path.join(self.site, "current")))

    def test_both_servers_answer_the_validator_and_caching_the_same_way(self):
        config, package = os.urandom(700), os.urandom(50000)
        staging = self.staging({"loader.db": config, "loader.zip": package, PACKAGE: package, RELEASE: facts(config)})
        os.chmod(os.path.join(staging, PACKAGE), 0o600)  # publish.sh makes every release readable
        subprocess.run(["bash", os.path.join(TOOLS, "publish.sh"), staging, self.site], check=True,
                       stdout=subprocess.DEVNULL)
        tag = tag_of(config)
        cases = [  # If-None-Match -> status
            (None, 200), (tag, 304), (tag.lower(), 200), ('"%s"' % ("0" * 32), 200), ("W/" + tag, 304),
            ('"other", ' + tag, 304), (tag + ', "other"', 304), ("*", 304), (tag[1:-1], 200),
        ]
        files = [  # target -> status, Cache-Control: a fixed name may change, a content name never does
            ("http://config.velmor.example/loader.zip", 200, REVALIDATE), ("/" + PACKAGE, 200, IMMUTABLE),
            ("/missing.zip", 404, None), ("/" + RELEASE, 404, None),
        ]
        for server, port in self.servers():
            for if_none_match, expected in cases:
                headers = {"If_None_Match": if_none_match} if if_none_match else {}
                for target in ("/loader.db", "http://config.velmor.example/loader.db"):
                    with self.subTest(server=server, if_none_match=if_none_match, target=target):
                        status, answer, body = self.get(port, target, Accept_Encoding="gzip", **headers)
                        self.assertEqual(expected, status)
                        self.assertEqual((tag, REVALIDATE), (answer["ETag"], answer["Cache-Control"]))
                        self.assertEqual(config if expected == 200 else b"", body)
                        self.assertIsNone(answer["Content-Encoding"])
            for target, expected, caching in files:
                with self.subTest(server=server, target=target):
                    status, answer, body = self.get(port, target)
                    self.assertEqual((expected, caching), (status, answer["Cache-Control"]))
                    if expected == 200:
                        self.assertEqual((str(len(package)), package), (answer["Content-Length"], body))

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

    def test_earlier_packages_stay_reachable_for_the_retention_time(self):
        cases = [  # switches -> status of the first release's package once the third is current
            ((), 200), (("--retain-hours", "0"), 404)]
        for switches, expected in cases:
            with self.subTest(switches=switches):
                self.site = os.path.join(self.folder.name, "site-%d" % len(self.processes))  # a site of its own
                port, pid_file = self.start_nginx()
                for n in (1, 2, 3):
                    self.publish({"loader.db": b"%d" % n, "loader-%d.zip" % n: b"package %d" % n}, "--pid-file",
                                 pid_file, *switches)
                # A launcher that read "two" just before the switch, and one that read "one" earlier.
                self.assertEqual(b"package 2", self.get(port, "/loader-2.zip")[2])
                self.assertEqual(expected, self.get(port, "/loader-1.zip")[0])

    def test_a_signed_site_refuses_what_keyed_launchers_would_not_take_and_what_a_site_must_not_hold(self):
        self.publish(signed(9))
        current = self.current()
        config = os.urandom(300)
        cases = [  # changes to a valid successor (serial 10; None: the file is left out) -> message
            ({RELEASE: facts(config, 9)}, "has serial 9, not above the current release's 9"),
            ({RELEASE: facts(config, 8)}, "has serial 8, not above the current release's 9"),
            ({RELEASE: facts(config, "0009")}, "has serial 0009, not above"),
            ({RELEASE: facts(config, 10, "2020-01-01T00:00:00Z")}, "expired at 2020-01-01T00:00:00Z"),
            ({RELEASE: facts(config)[:-1] + b"\nserial=10\n"}, "has no expiry"),
            ({RELEASE: facts(config)}, "is not signed, but the current release is (serial 9)"),
            ({RELEASE: None}, "has no loader.db.release, but the current release is signed (serial 9)"),
            ({RELEASE: facts(b"another loader.db", 10)}, "belongs to another loader.db"),
            ({"loader.db": None}, "no loader.db in"),
            ({"signing-key.pem": pem(b"EC PRIVATE KEY")}, "signing-key.pem holds a private key"),
            ({"notes.txt": pem(b"PRIVATE KEY")}, "notes.txt holds a private key"),
            ({"k": pem(b"ENCRYPTED PRIVATE KEY")}, "holds a private key"),
            ({"keys/id": pem(b"OPENSSH PRIVATE KEY")}, "keys/id holds a private key"),
            ({"passwd": "/etc/passwd"}, "passwd is a symbolic link"),
        ]
        for changes, message in cases:
            with self.subTest(message):
                files = dict({"loader.db": config, PACKAGE: b"package", RELEASE: facts(config, 10)}, **changes)
                run = self.try_publish({name: body for name, body in files.items() if body is not None})
                self.assertEqual(1, run.returncode, run.stderr)
                self.assertIn("publish: ", run.stderr)
                self.assertIn(message, run.stderr)
        self.assertEqual([current], self.releases())
        self.publish({"loader.db": config, PACKAGE: b"package", RELEASE: facts(config, 10)})
        # The way back is a new release signed with a higher serial, never a switch to a lower one.
        run = self.rollback()
        self.assertEqual(1, run.returncode)
        self.assertIn("has serial 9, not above the current release's 10", run.stderr)
        self.assertNotEqual(current, self.current())

    def test_a_first_publish_makes_the_site_and_a_killed_run_leaves_nothing_behind(self):
        self.site = os.path.join(self.folder.name, "new", "site")
        self.publish({"loader.db": b"one"})
        releases = os.path.join(self.site, "releases")
        leftover = os.path.join(releases, ".20200101T000000.000000000Z")
        os.mkdir(leftover)
        with open(os.path.join(leftover, "loader.db"), "wb") as f:
            f.write(b"half a release")
        os.chmod(leftover, 0o555)
        with open(os.path.join(releases, "20200101T000000.000000000Z.files"), "w") as f:
            f.write("loader.db\n")
        self.publish({"loader.db": b"two"})
        self.assertEqual([], [n for n in os.listdir(releases) if n.startswith((".", "2020"))])
        self.assertEqual(2, len(self.releases()))

    @unittest.skipUnless(os.geteuid() == 0, "nginx keeps a user's own workers")
    def test_nginx_started_as_root_serves_from_workers_that_cannot_write(self):
        port, pid_file = self.start_nginx()
        with open(pid_file) as f:
            master = f.read().strip()
        workers = subprocess.run(["ps", "-o", "uid=", "--ppid", master], capture_output=True, text=True).stdout.split()
        self.assertEqual([str(pwd.getpwnam("nobody").pw_uid)], workers)
        private = os.path.join(self.folder.name, "private")
        os.mkdir(private, 0o700)
        run = subprocess.run(["bash", os.path.join(TOOLS, "nginx-site.sh"), os.path.join(private, "site"),
                              str(free_port()), os.path.join(private, "site.conf")], capture_output=True, text=True)
        self.assertEqual(1, run.returncode)
        self.assertIn("nobody, who cannot read", run.stderr)

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
                   ("publish.sh", self.staging({"loader.db": b"x"}), self.site, "--retain-hours", "1.5"),
                   ("publish.sh", "--rollback", self.site),  # nothing published
                   ("publish.sh", "--rollback", os.path.join(self.folder.name, "no site"))]
        for script, *arguments in scripts:
            with self.subTest(script=script, arguments=arguments):
                run = subprocess.run(["bash", os.path.join(TOOLS, script), *arguments], capture_output=True)
                self.assertNotEqual(0, run.returncode)
        self.assertEqual([], self.releases())


if __name__ == "__main__":
    unittest.main()
