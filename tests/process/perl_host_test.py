"""The Perl host (the macOS kel-mediaremote), run here by the system's perl: its
options and failures, set side by side with the compiled host's; finding the
library; and a session with the shipped library against the simulated service,
which a test-only library preloaded into perl provides."""

import json
import os
import shutil
import subprocess
import tempfile
import time
import unittest

from harness import BIN, HOST, LIBRARY_DIR, SANITIZED, SCRATCH, Sim, TITLE, read_calls

SCRIPT = os.path.join(BIN, "kel-mediaremote.pl")
LIBRARY = os.path.join(BIN, "libkelmediaremote.so.1")
PRELOAD = os.path.join(os.environ.get("KEL_BUILD_DIR", os.path.join(BIN, "..")), "tests", "libkelsimpreload.so")
PERL = "/usr/bin/perl"
UNAVAILABLE = b'{"error":"unavailable"}\n'
HINT = b"Try 'kel-mediaremote --help'.\n"
NO_PERL_LOAD = "perl cannot load sanitized libraries"


def run(command, env=None):
    return subprocess.run(command, capture_output=True, timeout=30, env=env)


def run_script(script, *args, env=None):
    """Runs the script with the system's perl, as its first line asks."""
    with open(script, "rb") as f:
        first = f.readline()
    if first != b"#!" + PERL.encode() + b"\n":
        raise AssertionError("the script does not start with #!%s: %r" % (PERL, first))
    return run([script, *args], env=env)


def outcome(result):
    return (result.returncode, result.stdout, result.stderr)


def scratch_dir(test):
    os.makedirs(SCRATCH, exist_ok=True)
    path = tempfile.mkdtemp(prefix="perl-", dir=SCRATCH)
    test.addCleanup(shutil.rmtree, path, ignore_errors=True)
    return path


def perl_module_library():
    """A real shared library without kel_mediaremote_run: one of perl's own XS modules."""
    archlib = subprocess.run([PERL, "-MConfig", "-e", "print $Config{archlibexp}"], capture_output=True,
                             text=True, check=True, timeout=30).stdout
    return os.path.join(archlib, "auto", "POSIX", "POSIX.so")


class OptionsTest(unittest.TestCase):
    def test_options_answer_as_the_compiled_host(self):
        cases = [
            (["--help"], 0),
            (["-h"], 0),
            (["--version"], 0),
            (["--library", "/nonexistent", "--version"], 0),
            (["--bogus"], 64),
            (["--library"], 64),
            (["extra"], 64),
            (["-x", "--help"], 64),
            (["--library=" + LIBRARY, "--"], 64),
        ]
        for args, status in cases:
            with self.subTest(args=args):
                got = run_script(SCRIPT, *args)
                self.assertEqual(outcome(got), outcome(run([HOST, *args])))
                self.assertEqual(got.returncode, status)
                if status == 64:
                    self.assertEqual(got.stdout, b"")
                    self.assertTrue(got.stderr.startswith(b"kel-mediaremote: "), got.stderr)
                    self.assertTrue(got.stderr.endswith(HINT), got.stderr)
                elif args[-1] == "--version":
                    self.assertEqual(got.stdout, b"kel-mediaremote 1.0.0\n")
                else:
                    self.assertTrue(got.stdout.startswith(b"Usage: kel-mediaremote [--once] [--library PATH]\n"))
                    self.assertEqual(got.stderr, b"")


class LibraryProblemsTest(unittest.TestCase):
    def test_library_that_cannot_be_run_exits_1_with_the_reason(self):
        # Each host alone in a folder, so that it finds no library beside itself.
        alone = scratch_dir(self)
        script = shutil.copy(SCRIPT, os.path.join(alone, "kel-mediaremote.pl"))
        host = shutil.copy(HOST, os.path.join(alone, "kel-mediaremote"))
        not_library = os.path.join(alone, "libnot.so")
        with open(not_library, "w") as f:
            f.write("not a library\n")
        missing = os.path.join(alone, "missing", "libkelmediaremote.so.1")
        # The message names both folders it looked in.
        folder = os.path.realpath(alone)
        installed = os.path.normpath(os.path.join(folder, LIBRARY_DIR))
        cases = [
            ([], b"cannot find libkelmediaremote.so.1 in %s or %s;" % (folder.encode(), installed.encode())),
            (["--library", missing], missing.encode()),
            (["--library=" + not_library], b"cannot load the library: " + not_library.encode()),
        ]
        for args, reason in cases:
            with self.subTest(args=args):
                got = run_script(script, *args)
                self.assertEqual(got.returncode, 1)
                self.assertEqual(got.stdout, b"")
                self.assertIn(reason, got.stderr)
                # The loader's own words included, as the compiled host says them.
                self.assertEqual(got.stderr, run([host, *args]).stderr)
        with self.subTest(case="no entry"):
            library = perl_module_library()
            got = run_script(script, "--library", library)
            self.assertEqual(outcome(got), (1, b"", b"kel-mediaremote: %s has no kel_mediaremote_run\n" % library.encode()))


@unittest.skipIf(SANITIZED, NO_PERL_LOAD)
class BridgeTest(unittest.TestCase):
    def test_finds_the_library_and_reports_no_service(self):
        # Trees without the service library beside the bridge library: the shipped
        # library says so.
        tree = scratch_dir(self)
        # An installed tree: the library folder is where the build's install puts it.
        libdir = os.path.normpath(os.path.join(tree, "bin", LIBRARY_DIR))
        os.makedirs(os.path.join(tree, "bin"))
        os.makedirs(libdir, exist_ok=True)
        os.makedirs(os.path.join(tree, "elsewhere", "deeper"))
        installed = shutil.copy(SCRIPT, os.path.join(tree, "bin", "kel-mediaremote"))
        flat = scratch_dir(self)
        beside = shutil.copy(SCRIPT, os.path.join(flat, "kel-mediaremote.pl"))
        for name in ("libkelmediaremote.so.1", "libkelplatform.so"):
            shutil.copy(os.path.join(BIN, name), os.path.join(libdir, name))
            shutil.copy(os.path.join(BIN, name), os.path.join(flat, name))
        # A link from another depth: only the script's real path leads to the library.
        link = os.path.join(tree, "elsewhere", "deeper", "kel-mediaremote")
        os.symlink(os.path.join("..", "..", "bin", "kel-mediaremote"), link)
        alone = shutil.copy(SCRIPT, os.path.join(scratch_dir(self), "kel-mediaremote"))
        cases = {
            "beside": (beside, []),
            "in the library folder": (installed, []),
            "through a link": (link, []),
            "--library": (alone, ["--library", os.path.join(libdir, "libkelmediaremote.so.1")]),
        }
        for name, (script, args) in cases.items():
            with self.subTest(case=name):
                self.assertEqual(outcome(run_script(script, *args)), (2, UNAVAILABLE, b""))

    def test_session_with_the_simulated_service(self):
        directory = scratch_dir(self)
        scenario = os.path.join(directory, "scenario.jsonl")
        calls = os.path.join(directory, "calls.jsonl")
        steps = [{"state": {
            "playing": True,
            "player": {"client": {"bundleIdentifier": "com.example.perl"}},
            "info": {TITLE: "Caf\u00e9 / Perl"},
        }}]
        with open(scenario, "w") as f:
            f.writelines(json.dumps(step) + "\n" for step in steps)
        record = {"bundle": "com.example.perl", "playing": True, "title": "Caf\u00e9 / Perl"}
        env = dict(os.environ, LD_PRELOAD=PRELOAD, KEL_SIM_SCENARIO=scenario, KEL_SIM_CALLS=calls)
        with Sim(program=SCRIPT, env=env) as perl, Sim(steps) as compiled:
            # The record arrives while perl runs: nothing of Perl's holds it back.
            self.assertEqual(perl.read_lines(1, 10), [record])
            self.assertIsNone(perl.process.poll())
            with self.subTest(check="signals"):
                # The library runs with the signal settings it has under the compiled host.
                self.assertEqual(compiled.read_lines(1, 10), [record])
                self.assertEqual(signal_settings(perl.process.pid), signal_settings(compiled.process.pid))
            perl.write(b"pause\n")
            self.assertTrue(wait_for(lambda: {"call": "command", "code": 1} in without_times(read_calls(calls)), 10),
                            "the command did not reach the service")
            self.assertIsNone(perl.process.poll())
            perl.write(b"refresh\n")
            perl.close_stdin()
            self.assertEqual(perl.wait(10), 0)
            result = perl.result()
        self.assertEqual(result.stderr, b"")
        self.assertEqual(result.lines, [record, record])


def signal_settings(pid):
    """The main thread's blocked, ignored and caught signals."""
    with open("/proc/%d/status" % pid) as f:
        return [line for line in f if line.startswith(("SigBlk:", "SigIgn:", "SigCgt:"))]


def without_times(calls):
    return [{k: v for k, v in call.items() if k != "t"} for call in calls]


def wait_for(condition, timeout):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)
    return True


if __name__ == "__main__":
    unittest.main()
