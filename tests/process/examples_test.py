"""The example hosts under examples/, run as a user runs them against
kel-mediaremote-sim: what they print for a known scenario and for the virtual
player, the commands they send (in the calls log), the panel's extrapolated
position (as a function and through the process) and its cover files."""

import base64
import importlib.util
import json
import os
import re
import select
import shlex
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from harness import INFO_CHANGED, KEY_PREFIX, SANITIZED, SCRATCH, SIM, read_calls

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
PANEL = os.path.join(ROOT, "examples", "panel", "panel.py")
CONSUMERS = {
    "python": [sys.executable, os.path.join(ROOT, "examples", "consumer", "consumer.py")],
    "node": [shutil.which("node") or "node", os.path.join(ROOT, "examples", "consumer", "consumer.mjs")],
}
HANG = 30 if SANITIZED else 10  # seconds: only a hang takes this long
GAP = 600 if SANITIZED else 400  # milliseconds between publications
PLAYER = {"client": {"bundleIdentifier": "com.example.player"}}


def load_panel():
    found = importlib.util.spec_from_file_location("panel", PANEL)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


panel = load_panel()


def info(title=None, artist=None, album=None, duration=None, elapsed=None, rate=None, timestamp=None,
         artwork=None, identifier=None, mime=None):
    """An info dictionary in the scenario language, from the record's names."""
    values = {"Title": title, "Artist": artist, "Album": album, "Duration": duration, "ElapsedTime": elapsed,
              "PlaybackRate": rate, "Timestamp": None if timestamp is None else {"date": timestamp},
              "ArtworkData": None if artwork is None else {"base64": base64.b64encode(artwork).decode()},
              "ArtworkIdentifier": identifier, "ArtworkMIMEType": mime}
    return {KEY_PREFIX + k: v for k, v in values.items() if v is not None}


def scenario(states):
    """The first state at start-up, each later one through a notification; each
    given with the milliseconds to leave after it."""
    steps = [{"state": states[0][0]}, {"sleep": states[0][1]}]
    for state, pause in states[1:]:
        steps += [{"state": state}, {"post": INFO_CHANGED}, {"sleep": pause}]
    return steps


class Run:
    """One example process with a scenario of its own (None: the virtual player)."""

    def __init__(self, command, steps=None, sim_args=()):
        os.makedirs(SCRATCH, exist_ok=True)
        self.dir = tempfile.mkdtemp(prefix="kel-example-", dir=SCRATCH)
        self.calls = os.path.join(self.dir, "calls.jsonl")
        self.bridge = [SIM, "--calls", self.calls, *sim_args]
        if steps is not None:
            path = os.path.join(self.dir, "scenario.jsonl")
            with open(path, "w") as f:
                f.writelines(json.dumps(step) + "\n" for step in steps)
            self.bridge += ["--scenario", path]
        self.process = subprocess.Popen(command(self), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE)
        self.out = b""

    def lines(self):
        return self.out.decode("utf-8").splitlines()

    def read_until(self, done, timeout=HANG):
        """Reads output until done(lines) holds, the process ends, or timeout."""
        deadline = time.monotonic() + timeout
        while not done(self.lines()) and time.monotonic() < deadline:
            ready, _, _ = select.select([self.process.stdout], [], [], 0.1)
            if ready:
                chunk = os.read(self.process.stdout.fileno(), 1 << 16)
                if not chunk:
                    break
                self.out += chunk
        return self.lines()

    def finish(self):
        """Ends the example's input, as a user's Ctrl-D; returns its exit status and standard error."""
        self.process.stdin.close()
        try:
            status = self.process.wait(HANG)
        except subprocess.TimeoutExpired:
            self.process.kill()
            status = None
        self.out += self.process.stdout.read()
        return status, self.process.stderr.read()

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        for stream in (self.process.stdin, self.process.stdout, self.process.stderr):
            stream.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def commands(self):
        return [c.get("code") for c in read_calls(self.calls) if c.get("call") == "command"]


def consumer(language):
    return lambda run: CONSUMERS[language] + run.bridge


class Consumers(unittest.TestCase):
    def run_consumers(self, steps, count, sim_args=()):
        """Runs each consumer until it printed count lines, then ends its input."""
        results = {}
        for language in CONSUMERS:
            run = Run(consumer(language), steps, sim_args)
            self.addCleanup(run.close)
            run.read_until(lambda lines: len(lines) >= count)
            if steps is not None:
                # What is left of the scenario, so that a line too many would show.
                run.read_until(lambda lines: False, timeout=GAP / 1000)
            status, errors = run.finish()
            results[language] = (run.lines(), status, errors, run.commands())
        return results

    def test_a_scenario_prints_each_change_once_and_sends_next(self):
        song = dict(title="Blue in Green", artist="Miles Davis", album="Kind of Blue", duration=337.2,
                    timestamp=1733594434.625)
        states = [
            ({"playing": True, "player": PLAYER, "info": info(elapsed=12.5, rate=1, **song)}, GAP),
            ({"playing": False, "info": info(elapsed=14.1, rate=0, **song)}, GAP),
            # Only the position moved: no change to print.
            ({"info": info(elapsed=20, rate=0, **song)}, GAP),
            ({"player": None}, GAP),
            ({"playing": True, "player": PLAYER, "info": info(title="T", album="B")}, GAP),
        ]
        expected = ["[playing] Blue in Green / Miles Davis / Kind of Blue (com.example.player)",
                    "[paused] Blue in Green / Miles Davis / Kind of Blue (com.example.player)",
                    "no player",
                    "[playing] T / B (com.example.player)"]
        for language, (lines, status, errors, commands) in self.run_consumers(scenario(states), 4).items():
            with self.subTest(language):
                self.assertEqual(lines, expected, errors)
                self.assertEqual(status, 0, errors)
                self.assertEqual(commands, [4], "one next")

    def test_the_virtual_player_goes_to_the_next_track(self):
        expected = ["[playing] Harbour Lights / The Lanterns / Night Ferries (com.kel.VirtualPlayer)",
                    "[playing] Paper Kites / Mira Okafor / Small Weather (com.kel.VirtualPlayer)"]
        for language, (lines, status, errors, commands) in self.run_consumers(None, 2).items():
            with self.subTest(language):
                self.assertEqual(lines, expected, errors)
                self.assertEqual(status, 0, errors)
                self.assertEqual(commands, [4])

    def test_an_unavailable_service_ends_with_the_bridges_status(self):
        for language, (lines, status, errors, commands) in self.run_consumers(None, 1, ["--absent"]).items():
            with self.subTest(language):
                self.assertEqual((lines, status, commands), (["unavailable"], 2, []), errors)


class QuickStart(unittest.TestCase):
    def test_the_readmes_program_prints_two_tracks_and_ends(self):
        with open(os.path.join(ROOT, "README.md")) as f:
            readme = f.read()
        section = readme[readme.index("## Two minutes"):]
        program = re.search(r"```python\n(.*?)```", section, re.S).group(1)
        self.assertIn('"build/gcc/bin/kel-mediaremote-sim"', program)
        program = program.replace('"build/gcc/bin/kel-mediaremote-sim"', repr(SIM))
        result = subprocess.run([sys.executable, "-c", program], capture_output=True, text=True, timeout=HANG)
        self.assertEqual((result.returncode, result.stdout.splitlines()),
                         (0, ["Harbour Lights - The Lanterns playing", "Paper Kites - Mira Okafor playing"]),
                         result.stderr)


class PanelFunctions(unittest.TestCase):
    def test_the_extrapolated_position_at_given_instants(self):
        base = {"bundle": "com.example.player", "playing": True, "duration": 300, "elapsed": 10, "rate": 1,
                "timestamp": 1700000000.5}
        cases = [
            # (name, changes to the record, now, position)
            ("at the timestamp", {}, 1700000000.5, 10),
            ("2.5 s later", {}, 1700000003.0, 12.5),
            ("a minute later", {}, 1700000060.5, 70),
            ("twice the speed", {"rate": 2}, 1700000003.0, 15),
            ("half the speed", {"rate": 0.5}, 1700000004.5, 12),
            ("rate 0 stands still", {"rate": 0}, 1700000060.5, 10),
            ("paused stands still", {"playing": False}, 1700000060.5, 10),
            ("paused at rate 0", {"playing": False, "rate": 0}, 1700000003.0, 10),
            ("no rate plays at normal speed", {"rate": None}, 1700000003.0, 12.5),
            ("a boolean rate plays at normal speed", {"rate": True}, 1700000003.0, 12.5),
            ("no timestamp stands at elapsed", {"timestamp": None}, 1700000060.5, 10),
            ("not past the end", {}, 1700001000.0, 300),
            ("no duration, no end", {"duration": None}, 1700001000.5, 1010),
            ("a boolean duration, no end", {"duration": True}, 1700001000.5, 1010),
            ("not before the start", {"rate": -1}, 1700000060.5, 0),
            ("a clock behind the timestamp", {}, 1700000000.0, 9.5),
            ("no elapsed, no position", {"elapsed": None}, 1700000003.0, None),
            ("a boolean elapsed, no position", {"elapsed": False}, 1700000003.0, None),
        ]
        for name, changes, now, expected in cases:
            record = {k: v for k, v in dict(base, **changes).items() if v is not None}
            with self.subTest(name):
                got = panel.position(record, now)
                if expected is None:
                    self.assertIsNone(got)
                else:
                    self.assertAlmostEqual(got, expected, places=9)


    def test_covers_are_kept_per_identity_and_written_once(self):
        folder = tempfile.mkdtemp(prefix="kel-covers-", dir=SCRATCH)
        self.addCleanup(shutil.rmtree, folder, True)
        covers = panel.Covers(folder)

        def record(identity=None, data=None, mime=None):
            members = {"artworkID": identity, "artwork": data and base64.b64encode(data).decode(), "artworkMIME": mime}
            return dict({"bundle": "com.example.player", "playing": True},
                        **{k: v for k, v in members.items() if v is not None})

        one, two = b"first cover", b"\x00second/cover\xff"
        cases = [
            # (name, record, written, the cover's bytes for the record)
            ("the first cover", record("A", one, "image/png"), True, one),
            ("the same identity, no bytes", record("A"), False, one),
            ("a record without artwork", record(), False, None),
            ("the identity again, no bytes", record("A"), False, one),
            ("sent again after a no-player record", record("A", one, "image/png"), False, one),
            ("an empty identity", record("", two), True, two),
            ("an identity with a slash", record("T|/|B", two, "image/jpeg"), True, two),
            ("the first again", record("A"), False, one),
        ]
        for name, value, written, data in cases:
            with self.subTest(name):
                path = covers.update(value)
                self.assertEqual(path is not None, written)
                if data is None:
                    self.assertIsNone(covers.path(value))
                    continue
                with open(covers.path(value), "rb") as f:
                    self.assertEqual(f.read(), data)
        self.assertEqual(len(os.listdir(folder)), 3)


PLAIN = re.compile(r"^at (\d+\.\d{3}): (playing|paused) (\S+) of (\S+) s \[[#-]+\] (.*)$")
COVER = re.compile(r'^cover ("(?:[^"\\]|\\.)*"): (\S+) \((\d+) bytes\)$')


class Panel(unittest.TestCase):
    def test_positions_and_covers_through_the_process(self):
        covers = tempfile.mkdtemp(prefix="kel-covers-", dir=SCRATCH)
        self.addCleanup(shutil.rmtree, covers, True)
        png, jpeg = b"\x89PNG\r\n\x1a\n" + bytes(range(256)) * 3, b"\xff\xd8\xff" + bytes(200)
        start = round(time.time(), 3)
        # Playing from 10 s at rate 1, then paused at 11 s, then no player, then the
        # same cover again (the bridge sends it again after the no-player record),
        # then another cover.
        a = dict(artist="Lanterns", album="Ferries", duration=300, identifier="cover/a", artwork=png, mime="image/png")
        pause = 1500
        states = [
            ({"playing": True, "player": PLAYER, "info": info(title="Harbour", elapsed=10, rate=1, timestamp=start, **a)},
             pause),
            ({"playing": False, "info": info(title="Harbour", elapsed=11, rate=0, timestamp=start + 1, **a)}, pause),
            ({"player": None}, GAP),
            ({"playing": True, "player": PLAYER, "info": info(title="Again", timestamp=start, **a)}, GAP),
            ({"info": info(title="Kites", elapsed=0, rate=2, timestamp=start, artwork=jpeg, identifier="cover-b",
                           mime="image/jpeg")}, pause),
        ]
        run = Run(lambda run: [sys.executable, PANEL, "--plain", "--covers", covers,
                               "--bridge", shlex.join(run.bridge)], scenario(states))
        self.addCleanup(run.close)
        # Until a few redraws of the last state have come.
        run.read_until(lambda lines: sum(1 for line in lines if line.endswith(" Kites")) >= 3,
                       timeout=HANG + sum(p for _, p in states) / 1000)
        status, errors = run.finish()
        lines = run.lines()
        self.assertEqual(status, 0, errors)
        ticks = [m.groups() for m in map(PLAIN.match, lines) if m]
        playing = [(float(now), float(at)) for now, state, at, _, texts in ticks
                   if texts == "Harbour / Lanterns / Ferries" and state == "playing"]
        paused = [(float(now), float(at)) for now, state, at, _, texts in ticks if state == "paused"]
        record = {"bundle": "com.example.player", "playing": True, "duration": 300, "elapsed": 10, "rate": 1,
                  "timestamp": start}

        with self.subTest("playing: the position moves on with the clock"):
            self.assertGreaterEqual(len(playing), 2, lines)
            for now, at in playing:
                self.assertAlmostEqual(at, panel.position(record, now), delta=0.002)
            (now1, at1), (now2, at2) = playing[0], playing[-1]
            self.assertGreater(now2, now1)
            self.assertAlmostEqual(at2 - at1, now2 - now1, delta=0.003)

        with self.subTest("paused: the position stands"):
            self.assertGreaterEqual(len(paused), 2, lines)
            self.assertEqual({at for _, at in paused}, {11.0})

        with self.subTest("rate 2: twice as fast"):
            fast = [(float(now), float(at)) for now, _, at, _, texts in ticks if texts == "Kites"]
            self.assertGreaterEqual(len(fast), 2, lines)
            (now1, at1), (now2, at2) = fast[0], fast[-1]
            self.assertAlmostEqual(at2 - at1, 2 * (now2 - now1), delta=0.005)

        with self.subTest("no player"):
            self.assertTrue(any(re.match(r"^at \d+\.\d{3}: no player$", line) for line in lines), lines)

        with self.subTest("each cover written once, holding the decoded bytes"):
            written = [COVER.match(line).groups() for line in lines if line.startswith("cover ")]
            self.assertEqual([(json.loads(identity), int(size)) for identity, _, size in written],
                             [("cover/a", len(png)), ("cover-b", len(jpeg))])
            paths = [path for _, path, _ in written]
            self.assertEqual(sorted(os.listdir(covers)), sorted(os.path.basename(p) for p in paths))
            self.assertEqual([os.path.splitext(p)[1] for p in paths], [".png", ".jpg"])
            for path, data in zip(paths, (png, jpeg)):
                with open(path, "rb") as f:
                    self.assertEqual(f.read(), data)

    def test_the_terminal_mode_redraws_the_virtual_player(self):
        covers = tempfile.mkdtemp(prefix="kel-covers-", dir=SCRATCH)
        self.addCleanup(shutil.rmtree, covers, True)
        run = Run(lambda run: [sys.executable, PANEL, "--covers", covers, "--bridge", shlex.join(run.bridge)])
        self.addCleanup(run.close)
        run.read_until(lambda lines: run.out.count(b"\x1b[H\x1b[J") >= 4)
        status, errors = run.finish()
        self.assertEqual(status, 0, errors)
        screens = run.out.decode("utf-8").split("\x1b[H\x1b[J")[1:]
        self.assertGreaterEqual(len(screens), 4)
        self.assertTrue(screens[0].startswith("Harbour Lights\nThe Lanterns - Night Ferries\n> ["), screens[0])
        # The cover of the first track, as the virtual player makes it.
        files = os.listdir(covers)
        self.assertEqual(len(files), 1)
        self.assertIn("cover: " + os.path.join(covers, files[0]), screens[0])
        with open(os.path.join(covers, files[0]), "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")
        self.assertTrue(run.out.endswith(b"\x1b[?25h"), "the cursor is shown again")


if __name__ == "__main__":
    unittest.main()
