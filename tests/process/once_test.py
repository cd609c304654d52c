"""--once on the hosts: the current state printed once, then the exit, as with
standard input closed, even while the host's standard input is a pipe that the
test holds open and never writes to."""

import os
import unittest

from harness import BIN, INFO_CHANGED, SANITIZED, SIM, Sim, TITLE

SCRIPT = os.path.join(BIN, "kel-mediaremote.pl")
PRELOAD = os.path.join(os.environ.get("KEL_BUILD_DIR", os.path.join(BIN, "..")), "tests", "libkelsimpreload.so")
# Generous: the bridge finishes within about two seconds of the end of its input.
EXIT_BOUND = 20
FIRST_TRACK = {"bundle": "com.kel.VirtualPlayer", "playing": True, "title": "Harbour Lights",
               "artist": "The Lanterns", "album": "Night Ferries"}
SCENARIO = [{"state": {"playing": False, "player": {"client": {"bundleIdentifier": "com.example.once"}},
                       "info": {TITLE: "Once"}}},
            # Notifications after the end are not waited for, and print nothing more.
            {"sleep": 300}, {"post": INFO_CHANGED},
            {"sleep": 300}, {"post": INFO_CHANGED}]


def state_part(record):
    return {k: v for k, v in record.items() if k in FIRST_TRACK}


class OnceTest(unittest.TestCase):
    def run_once(self, **sim):
        with Sim(**sim) as host:
            # Standard input stays open: the exit comes from --once alone.
            status = host.wait(EXIT_BOUND)
            host.kill()
            return status, host.result()

    def test_prints_one_record_and_exits_0(self):
        once = {"bundle": "com.example.once", "playing": False, "title": "Once"}
        cases = {
            "virtual player": (dict(args=["--once"]), FIRST_TRACK),
            "scenario": (dict(steps=SCENARIO, args=["--once"]), once),
        }
        if not SANITIZED:  # perl cannot load sanitized libraries
            perl = dict(program=SCRIPT, args=["--once"], env=dict(os.environ, LD_PRELOAD=PRELOAD))
            cases["Perl host, virtual player"] = (perl, FIRST_TRACK)
        for name, (sim, expected) in cases.items():
            with self.subTest(case=name):
                status, result = self.run_once(**sim)
                self.assertEqual(status, 0, result.stderr)
                self.assertEqual(result.stderr, b"")
                self.assertEqual(len(result.lines), 1, result.lines)
                self.assertEqual(state_part(result.lines[0]), expected)
                if sim.get("program", SIM) == SIM:
                    self.assertEqual([c["call"] for c in result.calls if "call" in c][:1], ["register"])
                    self.assertNotIn("command", [c.get("call") for c in result.calls])

    def test_without_the_service_the_unavailable_record(self):
        status, result = self.run_once(steps=[], args=["--once", "--absent"])
        self.assertEqual((status, result.raw, result.stderr), (2, b'{"error":"unavailable"}\n', b""))


if __name__ == "__main__":
    unittest.main()
