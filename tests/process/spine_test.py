"""Start-up as a host sees it: the unavailable record, the options of both hosts,
a process that stays in its run loop, and the one exported symbol. The install is
in install_test.py."""

import os
import shutil
import subprocess
import tempfile
import time
import unittest

from harness import BIN, HOST, SANITIZED, SCRATCH, SIM, Sim, run_sim

ENTRY_POINTS = [
    "MRMediaRemoteRegisterForNowPlayingNotifications",
    "MRMediaRemoteGetNowPlayingInfo",
    "MRMediaRemoteGetNowPlayingApplicationIsPlaying",
    "MRMediaRemoteSendCommand",
    "MRMediaRemoteSetElapsedTime",
]
UNAVAILABLE = b'{"error":"unavailable"}\n'


class UnavailableTest(unittest.TestCase):
    def check_unavailable(self, result):
        self.assertEqual(result.raw, UNAVAILABLE)
        self.assertEqual(result.stderr, b"")
        self.assertEqual(result.status, 2)
        self.assertEqual(result.calls, [])

    def test_absent_service(self):
        self.check_unavailable(run_sim([], args=["--absent"], duration=10))

    def test_each_missing_entry_point(self):
        for name in ENTRY_POINTS:
            with self.subTest(name=name):
                self.check_unavailable(run_sim([], args=["--without", name], duration=10))

    def test_user_host_without_the_service(self):
        # A tree without the service library beside the bridge library: the program
        # a user runs says so.
        tree = tempfile.mkdtemp(prefix="noservice-", dir=SCRATCH)
        self.addCleanup(shutil.rmtree, tree, ignore_errors=True)
        for name in ("kel-mediaremote", "libkelmediaremote.so.1", "libkelplatform.so"):
            shutil.copy2(os.path.join(BIN, name), tree)
        result = run_sim(program=os.path.join(tree, "kel-mediaremote"), duration=10)
        self.check_unavailable(result)


class OptionsTest(unittest.TestCase):
    def run_host(self, program, *args, stdin=b""):
        return subprocess.run([program, *args], input=stdin, capture_output=True, timeout=30)

    def test_bad_options_exit_64_before_loading(self):
        scratch = tempfile.mkdtemp(dir=SCRATCH)
        self.addCleanup(shutil.rmtree, scratch, ignore_errors=True)
        malformed = os.path.join(scratch, "malformed.jsonl")
        with open(malformed, "w") as f:
            f.write('{"sleep": 10}\n{"sleep": \n')
        cases = [
            [SIM, "--bogus"],
            [SIM, "--absent", "--without", ENTRY_POINTS[0]],
            [SIM, "--without", "MRMediaRemoteNothing"],
            [SIM, "--without"],
            [SIM, "--scenario", os.path.join(scratch, "missing.jsonl")],
            [SIM, "--scenario", malformed],
            [HOST, "--bogus"],
            [HOST, "--library"],
        ]
        for command in cases:
            with self.subTest(command=command[1:]):
                result = self.run_host(*command)
                self.assertEqual(result.returncode, 64)
                self.assertEqual(result.stdout, b"")
                self.assertTrue(result.stderr.strip(), "no message on standard error")

    def test_library_that_cannot_be_loaded_exits_1(self):
        result = self.run_host(HOST, "--library", "/nonexistent/libkelmediaremote.so.1")
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"/nonexistent/libkelmediaremote.so.1", result.stderr)
        self.assertEqual(result.stdout, b"")

    def test_help_and_version(self):
        for program in (HOST, SIM):
            with self.subTest(program=os.path.basename(program)):
                help_text = self.run_host(program, "--help")
                self.assertEqual(help_text.returncode, 0)
                self.assertIn(b"Usage: " + os.path.basename(program).encode(), help_text.stdout)
                version = self.run_host(program, "--version")
                self.assertEqual(version.returncode, 0)
                self.assertRegex(version.stdout.decode(), r"^kel-mediaremote(-sim)? 1\.0\.0\n$")


class RunLoopTest(unittest.TestCase):
    def test_service_present_keeps_running_quietly(self):
        with Sim([]) as sim:
            self.assertIsNone(sim.wait(1.5), "the process left its run loop")
            sim.kill()
            result = sim.result()
        self.assertEqual(result.stderr, b"")
        self.assertNotIn({"error": "unavailable"}, result.lines)
        self.assertEqual(result.calls[0]["call"], "register")
        self.assertEqual(sum(1 for c in result.calls if c.get("call") == "register"), 1)


    @unittest.skipIf(SANITIZED, "resource bounds are checked in the plain build only")
    def test_idle_process_uses_no_cpu(self):
        # The virtual player, paused, and a scenario that has run out of steps: nothing
        # to do, so every thread must sleep without a deadline.
        for steps, stdin in ((None, b"pause\n"), ([{"state": {"playing": True}}], b"")):
            with self.subTest(virtual_player=steps is None), Sim(steps) as sim:
                sim.write(stdin)
                sim.read_lines(2 if steps is None else 1, 5)
                time.sleep(0.5)
                before = cpu_ticks(sim.process.pid)
                time.sleep(3)
                used = cpu_ticks(sim.process.pid) - before
                self.assertIsNone(sim.process.poll())
                self.assertLessEqual(used, 2, "%d clock ticks of CPU in 3 s of idling" % used)


def cpu_ticks(pid):
    """User and system time of a process so far, in clock ticks."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


class SymbolsTest(unittest.TestCase):
    def test_only_the_entry_is_exported(self):
        library = os.path.join(BIN, "libkelmediaremote.so.1")
        symbols = subprocess.run(["nm", "-D", "--defined-only", "--format=posix", library],
                                 capture_output=True, text=True, check=True).stdout.split("\n")
        names = [line.split()[0] for line in symbols if line.strip()]
        self.assertEqual(names, ["kel_mediaremote_run"])
        soname = subprocess.run(["readelf", "-d", library], capture_output=True, text=True, check=True).stdout
        self.assertIn("Library soname: [libkelmediaremote.so.1]", soname)


if __name__ == "__main__":
    unittest.main()
