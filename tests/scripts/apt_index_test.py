#!/usr/bin/env python3
"""The bootstrap's way round a package mirror that is out of step (scripts/apt-index.sh), on
recorded `apt-get update` outputs. Nothing here changes the machine's apt: pins go to a folder of
the test's own, apt itself is only asked, read-only, how it weighs them, and the update and install
runs talk to a stand-in apt-get that replays a recording."""
import os, shutil, subprocess, tempfile, unittest

HERE = os.path.dirname(os.path.abspath(__file__))
APT_INDEX = os.path.join(HERE, "..", "..", "scripts", "apt-index.sh")
RECORDED = os.path.join(HERE, "apt-update")
MID_SYNC = os.path.join(RECORDED, "i386-security-mid-sync.txt")


def index_shell(script, stdin=None, env=None):
    """Runs a bash script with apt-index.sh sourced; returns the finished process."""
    return subprocess.run(["bash", "-c", 'source "$0"; ' + script, APT_INDEX], input=stdin,
                          capture_output=True, text=True, env=env, timeout=60)


def recorded(name):
    with open(os.path.join(RECORDED, name)) as f:
        return f.read()


# recording, suites to pin, number of failed indexes
DECISIONS = [
    ("all-fetched.txt", [], 0),
    ("i386-security-mid-sync.txt", ["bookworm-security"], 1),
    # The whole suite is unreachable: no architecture of it can win over another.
    ("suite-unreachable.txt", [], 1),
    # A failed Sources index pins nothing; a suite missing both architectures is pinned once.
    ("sources-and-two-suites.txt", ["stable-security", "stable-updates"], 4),
]

# A stand-in for apt-get: `update` replays $RECORDING and fails the first $FAILING_UPDATES times;
# `install` fails when the update never succeeded, as multiarch would with a missing index.
FAKE_APT_GET = r"""#!/bin/sh
echo "$1" >> "$CALLS"
updates=$(grep -c '^update$' "$CALLS")
case "$1" in
  update)
    if [ "$updates" -le "$FAILING_UPDATES" ]; then cat "$RECORDING"; exit 100; fi
    echo 'Hit:1 http://deb.debian.org/debian bookworm InRelease' ;;
  install)
    if [ "$updates" -le "$FAILING_UPDATES" ]; then
      echo 'E: Unable to correct problems, you have held broken packages.' >&2; exit 100
    fi ;;
esac
"""


class SuitesToPin(unittest.TestCase):
    def test_each_recording_pins_the_suites_with_a_missing_architecture(self):
        for name, suites, failed in DECISIONS:
            with self.subTest(name):
                text = recorded(name)
                pinned = index_shell("apt_suites_to_pin", stdin=text).stdout.split()
                self.assertEqual(pinned, suites)
                indexes = index_shell("apt_failed_indexes", stdin=text).stdout.splitlines()
                self.assertEqual(len(indexes), failed, indexes)

    def test_apt_weighs_the_pinned_suite_below_the_others(self):
        with tempfile.TemporaryDirectory() as folder:
            pin = index_shell("apt_pin_preferences bookworm-security").stdout
            with open(os.path.join(folder, "pin"), "w") as f:
                f.write(pin)
            policy = subprocess.run(
                ["apt-cache", "policy", "-o", "Dir::Etc::PreferencesParts=" + folder,
                 "-o", "Dir::Etc::Preferences=" + os.path.join(folder, "none")],
                capture_output=True, text=True, timeout=60).stdout
        weights = {}
        for line in policy.splitlines():
            words = line.split()
            if len(words) >= 5 and words[-1] == "Packages" and words[0].isdigit():
                weights[words[2].split("/")[0]] = int(words[0])
        if "bookworm-security" not in weights or "bookworm" not in weights:
            self.skipTest("skipped: apt on this machine has no bookworm and bookworm-security lists")
        self.assertEqual(weights["bookworm-security"], 100)
        self.assertEqual(weights["bookworm"], 500)


class UpdateAndInstall(unittest.TestCase):
    def run_bootstrap_steps(self, failing_updates):
        """apt_update_or_pin then apt_install against the stand-in; returns the process, the
        calls apt-get saw, and the pin as it stood before the install."""
        with tempfile.TemporaryDirectory() as folder:
            fake = os.path.join(folder, "apt-get")
            with open(fake, "w") as f:
                f.write(FAKE_APT_GET)
            os.chmod(fake, 0o755)
            calls = os.path.join(folder, "calls")
            env = dict(os.environ, PATH=folder + os.pathsep + os.environ["PATH"],
                       CALLS=calls, RECORDING=MID_SYNC, FAILING_UPDATES=str(failing_updates),
                       VELMOR_APT_UPDATE_PAUSE="0", VELMOR_APT_PREFERENCES_DIR=folder)
            done = index_shell('apt_update_or_pin >/dev/null; cat "$APT_PIN_FILE" 2>/dev/null; '
                               'apt_install wine32:i386 libgnutls30:i386', env=env)
            with open(calls) as f:
                return done, f.read().split()

    def test_updates_are_retried_and_a_lasting_failure_is_pinned_and_named(self):
        # failing updates, calls apt-get sees, install's exit code, pinned
        cases = [(0, ["update", "install"], 0, False),
                 (2, ["update"] * 3 + ["install"], 0, False),
                 (3, ["update"] * 3 + ["install"], 1, True)]
        for failing, calls, status, pinned in cases:
            with self.subTest(failing_updates=failing):
                done, seen = self.run_bootstrap_steps(failing)
                self.assertEqual(seen, calls)
                self.assertEqual(done.returncode, status, done.stderr)
                self.assertEqual("Pin: release n=bookworm-security" in done.stdout, pinned)
                if status:
                    self.assertIn("bookworm-security/main i386 Packages", done.stderr)
                    self.assertIn("another Debian mirror", done.stderr)


BOOTSTRAP = os.path.join(HERE, "..", "..", "scripts", "bootstrap.sh")


class ReadyMachine(unittest.TestCase):
    """The machine the suite runs on has just been bootstrapped: a second run must find everything
    there without apt (a stand-in apt-get records any call) and, as another user, without root."""

    def run_bootstrap(self, user=None):
        with tempfile.TemporaryDirectory() as folder:
            os.chmod(folder, 0o755)
            calls = os.path.join(folder, "calls")
            for tool in ("apt-get", "sudo"):
                with open(os.path.join(folder, tool), "w") as f:
                    f.write('#!/bin/sh\necho "%s $*" >> "%s"\nexit 100\n' % (tool, calls))
                os.chmod(os.path.join(folder, tool), 0o755)
            env = dict(os.environ, PATH=folder + os.pathsep + os.environ["PATH"])
            command = ["bash", BOOTSTRAP]
            if user:
                command = ["runuser", "-u", user, "--", "env", "PATH=" + env["PATH"]] + command
            done = subprocess.run(command, capture_output=True, text=True, env=env, timeout=120)
            seen = open(calls).read() if os.path.exists(calls) else ""
        return done, seen

    def test_a_ready_machine_needs_no_apt_and_no_root(self):
        done, seen = self.run_bootstrap()
        self.assertEqual((done.returncode, seen), (0, ""), done.stdout + done.stderr)
        if os.geteuid() != 0 or not shutil.which("runuser"):
            self.skipTest("skipped: the check as another user needs root and runuser")
        if subprocess.run(["runuser", "-u", "nobody", "--", "test", "-r", BOOTSTRAP]).returncode != 0:
            self.skipTest("skipped: this checkout is not readable by another user")
        done, seen = self.run_bootstrap(user="nobody")
        self.assertEqual((done.returncode, seen), (0, ""), done.stdout + done.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
