"""The example hosts under examples/, run as a user runs them against
kel-mediaremote-sim: what the consumers print and the commands they send, the
README's program, and the panel's extrapolated position and cover files."""

import base64
import importlib.util
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import time
import unittest

from harness import CLIENT, GAP, HANG, INFO_CHANGED, KEY_PREFIX, ROOT, SIM, Sim, read_calls, scratch_dir, state

PANEL = os.path.join(ROOT, "examples", "panel", "panel.py")
CONSUMERS = {"python": [sys.executable, os.path.join(ROOT, "examples", "consumer", "consumer.py")],
             "node": [shutil.which("node") or "node", os.path.join(ROOT, "examples", "consumer", "consumer.mjs")]}
_spec = importlib.util.spec_from_file_location("panel", PANEL)
panel = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(panel)


def info(artwork=None, timestamp=None, **members):
    """An info dictionary in the scenario language, from the info keys' own names."""
    values = dict(members, ArtworkData=artwork and {"base64": base64.b64encode(artwork).decode()},
                  Timestamp=timestamp and {"date": timestamp})
    return {KEY_PREFIX + k: v for k, v in values.items() if v is not None}


def scenario(states):
    """(state, milliseconds after it): the first at start-up, each later one by a notification."""
    steps = []
    for i, (given, pause) in enumerate(states):
        steps += [{"state": given}] + [{"post": INFO_CHANGED}] * bool(i) + [{"sleep": pause}]
    return steps


def example(test, command, steps=None, sim_args=(), joined=True):
    """An example process whose bridge is the simulator with a calls log (and steps),
    given as one argument (joined) or as the rest of the command line."""
    folder = scratch_dir(test, "kel-example-")
    bridge = [SIM, "--calls", folder + "/calls.jsonl", *sim_args]
    if steps is not None:
        with open(folder + "/scenario.jsonl", "w") as f:
            f.writelines(json.dumps(step) + "\n" for step in steps)
        bridge += ["--scenario", folder + "/scenario.jsonl"]
    sim = Sim(program=command[0], args=command[1:] + ([shlex.join(bridge)] if joined else bridge))
    test.addCleanup(sim.__exit__)
    sim.calls_path = folder + "/calls.jsonl"
    return sim


def text(sim):
    return bytes(sim.out).decode("utf-8")


def until(sim, done, timeout=HANG):
    """Reads the example's output until done(text) holds or the example ends."""
    deadline = time.monotonic() + timeout
    while not done(text(sim)) and time.monotonic() < deadline and sim.process.poll() is None:
        sim.pump(0.1)


def finish(sim):
    """Ends the example's input, as a user's Ctrl-D; its status and standard error."""
    sim.close_stdin()
    return sim.wait(HANG), bytes(sim.err)


class ConsumersTest(unittest.TestCase):
    def run_consumers(self, steps, count, sim_args=()):
        """Each consumer until it printed count lines (and, with steps, the rest of the scenario)."""
        runs = {language: example(self, command, steps, sim_args, joined=False) for language, command in CONSUMERS.items()}
        for language, sim in runs.items():
            until(sim, lambda output: output.count("\n") >= count)
            if steps is not None:
                sim.pump(GAP / 1000)  # what is left of the scenario, so that a line too many would show
            status = finish(sim)
            codes = [c.get("code") for c in read_calls(sim.calls_path) if c.get("call") == "command"]
            yield language, text(sim).splitlines(), status, codes

    def test_each_change_is_printed_once_and_next_is_sent(self):
        song = dict(Title="Blue in Green", Artist="Miles Davis", Album="Kind of Blue", Duration=337.2)
        states = [(state(info(ElapsedTime=12.5, PlaybackRate=1, **song))["state"], GAP),
                  ({"playing": False, "info": info(ElapsedTime=14.1, PlaybackRate=0, **song)}, GAP),
                  ({"info": info(ElapsedTime=20, PlaybackRate=0, **song)}, GAP),  # only the position moved
                  ({"player": None}, GAP),
                  ({"playing": True, "player": CLIENT, "info": info(Title="T", Album="B")}, GAP)]
        expected = ["[playing] Blue in Green / Miles Davis / Kind of Blue (com.example.player)",
                    "[paused] Blue in Green / Miles Davis / Kind of Blue (com.example.player)",
                    "no player", "[playing] T / B (com.example.player)"]
        for language, lines, (status, errors), codes in self.run_consumers(scenario(states), 4):
            self.assertEqual((language, lines, status, codes), (language, expected, 0, [4]), errors)
        virtual = ["[playing] Harbour Lights / The Lanterns / Night Ferries (com.kel.VirtualPlayer)",
                   "[playing] Paper Kites / Mira Okafor / Small Weather (com.kel.VirtualPlayer)"]
        for language, lines, (status, errors), codes in self.run_consumers(None, 2):
            self.assertEqual((language, lines, status, codes), (language, virtual, 0, [4]), errors)
        for language, lines, (status, errors), codes in self.run_consumers(None, 1, ["--absent"]):
            self.assertEqual((language, lines, status, codes), (language, ["unavailable"], 2, []), errors)

    def test_the_readmes_program_prints_two_tracks_and_ends(self):
        with open(os.path.join(ROOT, "README.md")) as f:
            readme = f.read()
        program = re.search(r"```python\n(.*?)```", readme[readme.index("## Two minutes"):], re.S).group(1)
        self.assertIn('"build/gcc/bin/kel-mediaremote-sim"', program)
        program = program.replace('"build/gcc/bin/kel-mediaremote-sim"', repr(SIM))
        result = subprocess.run([sys.executable, "-c", program], capture_output=True, text=True, timeout=HANG)
        self.assertEqual((result.returncode, result.stdout.splitlines()),
                         (0, ["Harbour Lights - The Lanterns playing", "Paper Kites - Mira Okafor playing"]),
                         result.stderr)


PLAIN = re.compile(r"^at (\d+\.\d{3}): (playing|paused) (\S+) of (\S+) s \[[#-]+\] (.*)$")
COVER = re.compile(r'^cover ("(?:[^"\\]|\\.)*"): (\S+) \((\d+) bytes\)$')


class PanelTest(unittest.TestCase):
    def test_the_position_at_given_instants(self):
        base = {"bundle": "b", "playing": True, "duration": 300, "elapsed": 10, "rate": 1, "timestamp": 1000.5}
        for changes, now, expected in [({}, 1003.0, 12.5), ({"rate": 2}, 1003.0, 15), ({"rate": 0.5}, 1004.5, 12),
                                       ({"rate": 0}, 1060.5, 10), ({"playing": False}, 1060.5, 10),
                                       ({"rate": None}, 1003.0, 12.5), ({"rate": True}, 1003.0, 12.5),
                                       ({"timestamp": None}, 1060.5, 10), ({}, 2000.0, 300),
                                       ({"duration": True}, 2000.5, 1010), ({"rate": -1}, 1060.5, 0),
                                       ({}, 1000.0, 9.5), ({"elapsed": None}, 1003.0, None),
                                       ({"elapsed": False}, 1003.0, None)]:
            record = {k: v for k, v in dict(base, **changes).items() if v is not None}
            got = panel.position(record, now)
            self.assertTrue(got == expected if expected is None else abs(got - expected) < 1e-9, (changes, got))

    def test_covers_are_kept_per_identity_and_written_once(self):
        folder = scratch_dir(self, "kel-covers-")
        covers = panel.Covers(folder)
        one, two = b"first cover", b"\x00second/cover\xff"

        def record(identity=None, data=None):
            members = {"artworkID": identity, "artwork": data and base64.b64encode(data).decode()}
            return dict({"bundle": "b", "playing": True}, **{k: v for k, v in members.items() if v is not None})
        for value, written, data in [(record("A", one), True, one), (record("A"), False, one), (record(), False, None),
                                     (record("A", one), False, one), (record("", two), True, two),
                                     (record("T|/|B", two), True, two), (record("A"), False, one)]:
            self.assertEqual(covers.update(value) is not None, written, value)
            if data is None:
                self.assertIsNone(covers.path(value))
            else:
                with open(covers.path(value), "rb") as f:
                    self.assertEqual(f.read(), data)
        self.assertEqual(len(os.listdir(folder)), 3)

    def test_positions_and_covers_through_the_process(self):
        covers = scratch_dir(self, "kel-covers-")
        png, jpeg = b"\x89PNG\r\n\x1a\n" + bytes(range(256)) * 3, b"\xff\xd8\xff" + bytes(200)
        start = round(time.time(), 3)
        a = dict(Artist="Lanterns", Album="Ferries", Duration=300, ArtworkIdentifier="cover/a", artwork=png,
                 ArtworkMIMEType="image/png")
        # Playing from 10 s, paused at 11 s, no player, the same cover again (sent again
        # after the no-player record), then another cover at twice the speed.
        states = [(state(info(Title="Harbour", ElapsedTime=10, PlaybackRate=1, timestamp=start, **a))["state"], 1000),
                  ({"playing": False, "info": info(Title="Harbour", ElapsedTime=11, PlaybackRate=0,
                                                   timestamp=start + 1, **a)}, 1000),
                  ({"player": None}, GAP), (state(info(Title="Again", timestamp=start, **a))["state"], GAP),
                  ({"info": info(Title="Kites", ElapsedTime=0, PlaybackRate=2, timestamp=start, artwork=jpeg,
                                 ArtworkIdentifier="cover-b", ArtworkMIMEType="image/jpeg")}, 1000)]
        run = example(self, [sys.executable, PANEL, "--plain", "--covers", covers, "--bridge"], scenario(states))
        until(run, lambda text: text.count(" Kites\n") >= 3, HANG + 4)
        status, errors = finish(run)
        self.assertEqual(status, 0, errors)
        lines = text(run).splitlines()
        ticks = [(float(now), st, at, texts) for now, st, at, _, texts in (m.groups() for m in map(PLAIN.match, lines) if m)]
        playing = [(now, float(at)) for now, st, at, texts in ticks if texts == "Harbour / Lanterns / Ferries" and st == "playing"]
        record = {"bundle": "b", "playing": True, "duration": 300, "elapsed": 10, "rate": 1, "timestamp": start}
        self.assertGreaterEqual(len(playing), 2, lines)
        for now, at in playing:
            self.assertAlmostEqual(at, panel.position(record, now), delta=0.002)
        self.assertEqual({float(at) for _, st, at, _ in ticks if st == "paused"}, {11.0})
        fast = [(now, float(at)) for now, _, at, texts in ticks if texts == "Kites"]
        self.assertAlmostEqual(fast[-1][1] - fast[0][1], 2 * (fast[-1][0] - fast[0][0]), delta=0.005)
        self.assertTrue(any(re.match(r"^at \d+\.\d{3}: no player$", line) for line in lines), lines)
        written = [COVER.match(line).groups() for line in lines if line.startswith("cover ")]
        self.assertEqual([(json.loads(identity), int(size)) for identity, _, size in written],
                         [("cover/a", len(png)), ("cover-b", len(jpeg))])
        self.assertEqual(sorted(os.listdir(covers)), sorted(os.path.basename(p) for _, p, _ in written))
        for (_, path, _), data, suffix in zip(written, (png, jpeg), (".png", ".jpg")):
            with open(path, "rb") as f:
                self.assertEqual((f.read(), os.path.splitext(path)[1]), (data, suffix))

    def test_the_terminal_mode_redraws_the_virtual_player(self):
        covers = scratch_dir(self, "kel-covers-")
        run = example(self, [sys.executable, PANEL, "--covers", covers, "--bridge"])
        until(run, lambda text: text.count("\x1b[H\x1b[J") >= 4)
        self.assertEqual(finish(run)[0], 0)
        screens = text(run).split("\x1b[H\x1b[J")[1:]
        self.assertTrue(screens[0].startswith("Harbour Lights\nThe Lanterns - Night Ferries\n> ["), screens[0])
        files = os.listdir(covers)  # the first track's cover, as the virtual player makes it
        self.assertEqual(len(files), 1)
        self.assertIn("cover: " + os.path.join(covers, files[0]), screens[0])
        with open(os.path.join(covers, files[0]), "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")
        self.assertTrue(text(run).endswith("\x1b[?25h"), "the cursor is shown again")


if __name__ == "__main__":
    unittest.main()
