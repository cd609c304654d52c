"""Stress as a host may cause it: a storm of notifications, garbage on standard
input, answers that come late and out of order with large lines, and the end of
input in the middle of it all. Each case is bounded in time; under
ThreadSanitizer any race it finds shows on standard error, which must stay empty."""

import random
import sys
import time
import unittest

from harness import DATA, IDENTIFIER, INFO_CHANGED, SANITIZED, Sim, TITLE

CLIENT = {"client": {"bundleIdentifier": "com.example.player"}}
WINDOW = 0.150
EXIT_BOUND = 6.0


def player(title, artwork=None, identifier=None):
    info = {TITLE: title}
    if artwork is not None:
        info[DATA] = {"bytes": artwork}
        info[IDENTIFIER] = identifier
    return {"state": {"playing": True, "player": CLIENT, "info": info}}


class StormTest(unittest.TestCase):
    def storm(self, name, count):
        """Posts name count times while a command holds the queue; returns the result
        and the peak resident size."""
        steps = [player("storm"), {"commandDelay": 1500}, {"sleep": 300}] + [{"post": name}] * count
        with Sim(steps) as sim:
            sim.write(b"play\n")
            peak = 0
            deadline = time.monotonic() + 120
            while sum(1 for c in sim.calls() if "post" in c) < count and time.monotonic() < deadline:
                sim.read_lines(1 << 30, timeout=0.2)
                peak = max(peak, sim.peak_memory())
            # The end of input while the last notifications' publications run.
            sim.close_stdin()
            self.assertEqual(sim.wait(EXIT_BOUND), 0)
            return sim.result(), peak

    def test_a_burst_of_100000_notifications_and_the_end_of_input_within_it(self):
        count = 100_000
        result, peak = self.storm(INFO_CHANGED, count)
        # The same storm of a name the bridge does not observe: what the simulator's
        # own scenario costs.
        _, baseline = self.storm(INFO_CHANGED[:-1] + "X", count)
        posts = [c["t"] for c in result.calls if "post" in c]
        self.assertEqual(len(posts), count)
        # One record per window at most, over the span of the burst, start-up included.
        allowed = (posts[-1] - posts[0]) / WINDOW + 3
        self.assertGreaterEqual(len(result.lines), 1)
        self.assertLessEqual(len(result.lines), allowed)
        self.assertEqual(result.stderr, b"")
        print("%d notifications in %.2f s gave %d records; peak %.1f MiB, %.1f MiB unobserved"
              % (count, posts[-1] - posts[0], len(result.lines), peak / (1 << 20), baseline / (1 << 20)),
              file=sys.stderr)
        if not SANITIZED:
            self.assertLess(peak - baseline, 2 << 20)

    def test_10_mb_of_random_bytes_then_commands(self):
        noise = random.Random(20261208).randbytes(10 << 20)
        with Sim([player("noise")]) as sim:
            sim.write(noise + b"\nnext\nseek 5\nrefresh\n")
            sim.close_stdin()
            self.assertEqual(sim.wait(60), 0)
            result = sim.result()
        self.assertEqual(result.stderr, b"")
        calls = [(c["call"], c.get("code", c.get("seconds"))) for c in result.calls if c.get("call") in ("command", "seek")]
        self.assertEqual(calls, [("command", 4), ("seek", 5)])
        self.assertEqual([line["title"] for line in result.lines], ["noise"] * len(result.lines))
        self.assertIn(len(result.lines), (1, 2))


class LateAnswersTest(unittest.TestCase):
    def test_overlapping_publications_with_late_and_reordered_answers_each_write_whole_lines(self):
        # Publications 400 ms apart whose answers take 1,000 ms, then 100 ms: the
        # later ones overtake the earlier, and every one carries 1 MiB of artwork
        # under an identity of its own.
        steps = []
        delays = [1000, 100, 700, 50, 0, 300]
        for i, delay in enumerate(delays):
            steps += [{"answers": delay}, player("t%d" % i, 1 << 20, "art%d" % i), {"post": INFO_CHANGED},
                      {"sleep": 400}]
        with Sim(steps) as sim:
            lines = sim.read_lines(len(delays), timeout=30)
            sim.close_stdin()
            self.assertEqual(sim.wait(EXIT_BOUND), 0)
            result = sim.result()
        self.assertEqual(result.stderr, b"")
        # The first notification falls into the start-up window.
        self.assertEqual(len(result.lines), len(delays), "one line per publication")
        self.assertEqual(lines, result.lines)
        for line in result.lines:
            self.assertRegex(line["title"], "^t[0-5]$")
            self.assertEqual(line["artworkID"], "art" + line["title"][1:])
            if "artwork" in line:
                self.assertEqual(len(line["artwork"]), ((1 << 20) + 2) // 3 * 4)


if __name__ == "__main__":
    unittest.main()
