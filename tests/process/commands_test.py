"""The command channel as a host sees it: the commands reaching the service, how
lines are trimmed, read and dropped, "refresh", and the end of input, which
finishes the work asked for before it and then ends the process with status 0."""

import math
import sys
import time
import unicodedata
import unittest

from harness import NEXT, PAUSE, PLAY, PREVIOUS, SANITIZED, TITLE, TOGGLE, Sim, run_sim

PLAYER = {"state": {
    "playing": True,
    "player": {"client": {"bundleIdentifier": "com.example.player"}},
    "info": {TITLE: "Song"},
}}
# The bound on finishing after the end of input is about two seconds; a user would
# call anything past this a hang.
EXIT_BOUND = 6.0
# Lines between the cases of a table are told apart by seeks to positions no case uses.
MARKER_BASE = 1_000_000


def whitespace_and_newlines():
    """The trimming set, from Python's own Unicode database rather than the bridge's
    table: general category Z (Zs, Zl, Zp), the controls U+0009 to U+000D, and U+0085."""
    separators = {c for c in range(0x110000) if unicodedata.category(chr(c)).startswith("Z")}
    return sorted(separators | set(range(0x09, 0x0E)) | {0x85})


def service_calls(calls):
    """The commands and seeks that reached the service, in order, as tuples."""
    out = []
    for call in calls:
        if call.get("call") == "command":
            out.append(("command", call["code"]))
        elif call.get("call") == "seek":
            out.append(("seek", call["seconds"]))
    return out


def finish(test, steps, stdin, duration=60):
    """Runs the bridge with stdin, then the end of input; checks that it exits 0."""
    result = run_sim(steps, stdin=stdin, close_stdin=True, duration=duration)
    test.assertEqual(result.status, 0, "the bridge did not exit with status 0 at the end of input")
    test.assertEqual(result.stderr, b"")
    return result


def run_table(test, cases, steps=()):
    """Sends each case's line, then a marker seek, and checks that each case's
    line led to exactly its expected service calls. cases: (line bytes, calls)."""
    stdin = b"".join(line + b"seek %d\n" % (MARKER_BASE + i) for i, (line, _) in enumerate(cases))
    result = finish(test, list(steps), stdin)
    groups, current = [], []
    for call in service_calls(result.calls):
        if call[0] == "seek" and call[1] >= MARKER_BASE:
            test.assertEqual(call[1], MARKER_BASE + len(groups), "a marker is missing or out of order")
            groups.append(current)
            current = []
        else:
            current.append(call)
    test.assertEqual(len(groups), len(cases))
    test.assertEqual(current, [], "calls after the last marker")
    for (line, expected), got in zip(cases, groups):
        with test.subTest(line=line):
            test.assertEqual(got, expected)
    return result


def command(code):
    return [("command", code)]


def seek(seconds):
    return [("seek", seconds)]


class CommandTableTest(unittest.TestCase):
    def test_each_command_reaches_the_service_with_its_code(self):
        cases = [
            (b"play\n", command(PLAY)),
            (b"pause\n", command(PAUSE)),
            (b"toggle\n", command(TOGGLE)),
            (b"next\n", command(NEXT)),
            (b"previous\n", command(PREVIOUS)),
            (b"Play\n", []),
            (b"PAUSE\n", []),
            (b"stop\n", []),
            (b"\n", []),
            (b"play play\n", []),
            (b"playx\n", []),
            (b"refresh now\n", []),
            ("\u200bnext\n".encode(), []),  # A zero-width space is not whitespace.
        ]
        result = run_table(self, cases)
        self.assertNotIn(("command", 3), service_calls(result.calls))
        # Nothing is written in answer to a command: the start-up record is the only one.
        self.assertEqual(len(result.lines), 1)


class TrimmingTest(unittest.TestCase):
    """The trimming set, checked against Python's Unicode database over every code point."""

    def test_every_member_of_the_reference_set_is_trimmed_from_both_ends(self):
        cases = []
        for member in whitespace_and_newlines():
            space = chr(member).encode()
            cases.append((space + b"next" + space + b"\n", command(NEXT)))
            cases.append((space * 3 + b"toggle" + space * 2 + b"\n", command(TOGGLE)))
        cases.append(("\u3000\u2029 \t\u00a0seek 3\u0085\r\n".encode(), seek(3)))
        run_table(self, cases)

    def test_no_other_code_point_is_trimmed(self):
        members = set(whitespace_and_newlines())
        # Each code point outside the set goes before "pause" on one line and after
        # it on another; none of these lines may pause. U+0000 ends a line's text,
        # and surrogates cannot be encoded. A marker after each block of code points
        # shows where a stray pause came from.
        block = 4096
        parts = []
        for start in range(0, 0x110000, block):
            for code_point in range(start, start + block):
                if code_point == 0 or code_point in members or 0xD800 <= code_point <= 0xDFFF:
                    continue
                character = chr(code_point).encode()
                parts.append(character + b"pause\n" + b"pause" + character + b"\n")
            parts.append(b"seek %d\n" % (MARKER_BASE + start))
        result = finish(self, [], b"".join(parts), duration=300)
        stray, block_start = [], 0
        for call in service_calls(result.calls):
            if call[0] == "seek":
                block_start = int(call[1]) - MARKER_BASE + block
            else:
                stray.append("U+%04X..U+%04X" % (block_start, block_start + block - 1))
        self.assertEqual(stray, [], "code points outside the set were trimmed")
        markers = [c for c in service_calls(result.calls) if c[0] == "seek"]
        self.assertEqual(len(markers), 0x110000 // block)


class NumberReaderTest(unittest.TestCase):
    def test_seek_reads_the_number_conservatively(self):
        cases = [
            (b"seek   12.5\n", seek(12.5)),
            (b"seek 12abc\n", seek(12)),
            (b"seek abc\n", seek(0)),
            (b"seek .5\n", seek(0.5)),
            (b"seek 5.\n", seek(5)),
            (b"seek -0\n", seek(0)),
            (b"seek 1e-999\n", seek(0)),
            (b"seek \t7\n", seek(7)),
            (b"seek inf\n", seek(0)),
            (b"seek 0x10\n", seek(0)),
            (b"seek\n", []),
            (b"seek \n", []),
            (b"seek\t12\n", []),
            (b"seek -1\n", []),
            (b"seek 1e999\n", []),
            (b"Seek 5\n", []),
        ]
        result = run_table(self, cases)
        for call in service_calls(result.calls):
            if call[0] == "seek":
                self.assertEqual(math.copysign(1, call[1]), 1, "a seek to negative zero")


class LineFormTest(unittest.TestCase):
    def test_invalid_utf8_is_dropped_and_a_nul_ends_the_text(self):
        cases = [
            (b"\xff\xfeplay\n", []),
            (b"pa\xc3use\n", []),
            (b"\xed\xa0\x80next\n", []),     # An encoded surrogate.
            (b"\xc0\xafnext\n", []),         # An overlong form.
            (b"\xf4\x90\x80\x80next\n", []), # Beyond U+10FFFF.
            (b"next\xe2\x80\n", []),         # Cut short.
            (b"next\n", command(NEXT)),      # Reading went on.
            (b"toggle\0garbage\xff\n", command(TOGGLE)),
            (b"\0next\n", []),
            (b"pause\0\n", command(PAUSE)),
            ("caf\u00e9\n".encode(), []),
            # 65,536 bytes before the line feed are a command, one byte more is not.
            (b"next".ljust(65536) + b"\n", command(NEXT)),
            (b"next".ljust(65537) + b"\n", []),
            (b"  play".ljust(65536, b"\t") + b"\n", command(PLAY)),
        ]
        run_table(self, cases)

    def test_a_last_line_without_a_line_feed_is_carried_out(self):
        result = finish(self, [], b"play\nprevious")
        self.assertEqual(service_calls(result.calls), command(PLAY) + command(PREVIOUS))

    def test_a_line_of_100_mb_is_dropped_in_bounded_memory(self):
        with Sim([PLAYER]) as sim:
            sim.write(b"x" * (100 * 1024 * 1024) + b"\nnext\n")
            deadline = time.monotonic() + 60
            while command(NEXT) != service_calls(sim.calls()) and time.monotonic() < deadline:
                time.sleep(0.05)
            self.assertEqual(service_calls(sim.calls()), command(NEXT))
            with open("/proc/%d/status" % sim.process.pid) as f:
                peak = next(int(line.split()[1]) for line in f if line.startswith("VmHWM:"))
            print("peak resident size after 100 MB without a line feed: %.1f MiB" % (peak / 1024),
                  file=sys.stderr)
            sim.close_stdin()
            self.assertEqual(sim.wait(30), 0)
            if SANITIZED:
                print("skipping the peak resident size bound under sanitizers", file=sys.stderr)
            else:
                self.assertLess(peak, 32 * 1024)


class RefreshTest(unittest.TestCase):
    def test_refresh_gives_one_record_150_ms_later_coalesced(self):
        with Sim([PLAYER]) as sim:
            # A refresh at start-up falls into the start-up publication's window.
            sim.write(b"refresh\n")
            time.sleep(0.6)
            self.assertEqual(len(sim.read_lines(2, 0.2)), 1)
            sim.write(b"play\nrefresh\nrefresh\nrefresh\n")
            time.sleep(0.6)
            lines = sim.read_lines(3, 0.2)
            self.assertEqual(len(lines), 2)
            self.assertEqual(lines[1]["bundle"], "com.example.player")
            calls = sim.calls()
            play = next(c for c in calls if c.get("call") == "command")
            queries = [c for c in calls if c.get("call") == "isPlaying" and c["t"] > play["t"]]
            self.assertEqual(len(queries), 1)
            # The refresh ran after the play; its publication opened a window then.
            self.assertGreaterEqual(queries[0]["t"] - play["t"], 0.150)


class EndOfInputTest(unittest.TestCase):
    def test_every_command_before_the_end_is_carried_out_in_order(self):
        names, codes = [b"play", b"pause", b"toggle", b"next", b"previous"], [PLAY, PAUSE, TOGGLE, NEXT, PREVIOUS]
        stdin = b"".join(names[i % 6] + b"\n" if i % 6 < 5 else b"seek %d\n" % i for i in range(600))
        expected = [("command", codes[i % 6]) if i % 6 < 5 else ("seek", i) for i in range(600)]
        started = time.monotonic()
        result = finish(self, [PLAYER], stdin)
        self.assertEqual(service_calls(result.calls), expected)
        self.assertEqual(len(result.lines), 1)
        if not SANITIZED:
            self.assertLess(time.monotonic() - started, EXIT_BOUND)

    def test_standard_input_at_its_end_from_the_start_gives_the_start_up_record(self):
        # The one-shot use: kel-mediaremote </dev/null. The end of input races with
        # the rest of start-up, so a few runs are needed to show a record lost.
        for run in range(30):
            with self.subTest(run=run):
                lines = finish(self, [PLAYER], b"", duration=30).lines
                self.assertEqual(len(lines), 1)
                self.assertEqual(lines[0]["bundle"], "com.example.player")

    def test_a_refresh_just_before_the_end_still_writes_its_record(self):
        # The play blocks the queue, so that the end of input is seen before the
        # refresh runs: the refresh's request then comes after the end is known.
        with Sim([PLAYER, {"commandDelay": 300}]) as sim:
            self.assertEqual(len(sim.read_lines(1, 10)), 1)
            time.sleep(0.4)
            sim.write(b"play\nrefresh\n")
            sim.close_stdin()
            self.assertEqual(sim.wait(30), 0)
            lines = sim.result().lines
            self.assertEqual(len(lines), 2)
            self.assertEqual(lines[1]["bundle"], "com.example.player")

    def test_a_blocking_or_silent_service_does_not_hold_the_process(self):
        cases = [
            ("a command that blocks", [PLAYER, {"commandDelay": 60000}], b"play\n"),
            ("queries never answered", [PLAYER, {"answers": "never"}], b"refresh\n"),
        ]
        for name, steps, stdin in cases:
            with self.subTest(name):
                started = time.monotonic()
                result = finish(self, steps, stdin)
                elapsed = time.monotonic() - started
                self.assertEqual(result.lines, [])
                if not SANITIZED:
                    self.assertLess(elapsed, EXIT_BOUND)


if __name__ == "__main__":
    unittest.main()
