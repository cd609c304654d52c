"""The state publisher as a host sees it: what each state of the simulated service
gives on standard output, when the lines come, and what the calls log shows.

Each test is one scenario (one process), driven by a table of cases. Cases that
must be separate publications are GAP apart; each one changes the state and posts
a notification, and must give exactly one line.
"""

import base64
import re
import time
import unittest

from harness import (ALBUM, ARTIST, DATA, DURATION, ELAPSED, IDENTIFIER, INFO_CHANGED, MIME, RATE, SANITIZED,
                     TIMESTAMP, TITLE, Sim)

GAP = 600 if SANITIZED else 400  # milliseconds between publications
BIG_PAUSE = 6000 if SANITIZED else 4000  # milliseconds after a line of megabytes
PLAYER = {"client": {"bundleIdentifier": "com.example.player"}}


def generated(count):
    """The bytes that {"bytes": count} stands for."""
    return bytes(i % 251 for i in range(count))


def state_steps(states, pauses=None):
    """One publication per state: the first through start-up, each later one
    through a notification. pauses maps the index of a state to the time to leave
    after it, when that must be longer than GAP."""
    pauses = pauses or {}
    steps = [{"state": states[0]}]
    for index, state in enumerate(states[1:]):
        steps += [{"sleep": pauses.get(index, GAP)}, {"state": state}, {"post": INFO_CHANGED}]
    return steps + [{"sleep": pauses.get(len(states) - 1, GAP)}]


def run_states(states, pauses=None, extra_wait=0.5):
    """Runs the states and returns the raw lines, their parsed records and the calls."""
    with Sim(state_steps(states, pauses)) as sim:
        total = len(states) * GAP + sum((pauses or {}).values())
        sim.read_lines(len(states), timeout=total / 1000 + 10)
        # A publication that wrote two lines would show here.
        time.sleep(extra_wait)
        sim.kill()
        result = sim.result()
    return result.raw.split(b"\n")[:-1], result.lines, result.calls


def state(info, player=PLAYER, playing=True):
    return {"playing": playing, "player": player, "info": info}


def record(members=None, bundle="com.example.player", playing=True):
    return dict({"bundle": bundle, "playing": playing}, **(members or {}))


NO_PLAYER = {"bundle": None}


class Lookup(unittest.TestCase):
    def test_failed_lookups_and_missing_information_give_the_no_player_record(self):
        info, child = {TITLE: "T"}, "com.example.child"

        def client(bundle, **selectors):
            """A client answering selectors, and the record it must give."""
            return state(info, player={"client": selectors}), record({"title": "T"}, bundle=bundle)

        cases = [
            ("player found", state(info), record({"title": "T"})),
            ("no class", state(info, player=None), NO_PLAYER),
            ("class without the path selector", state(info, player={"path": "unsupported"}), NO_PLAYER),
            ("nil path", state(info, player={"path": None}), NO_PLAYER),
            ("path without the client selector", state(info, player={"client": "unsupported"}), NO_PLAYER),
            ("nil client", state(info, player={"client": None}), NO_PLAYER),
            ("client answers neither", state(info, player={"client": {}}), NO_PLAYER),
            ("empty bundle identifier", state(info, player={"client": {"bundleIdentifier": ""}}), NO_PLAYER),
            ("bundle identifier not a string",
             state(info, player={"client": {"bundleIdentifier": 7}}), NO_PLAYER),
            ("both empty", state(info, player={"client": {
                "parentApplicationBundleIdentifier": "", "bundleIdentifier": ""}}), NO_PLAYER),
            ("null info", state(None), NO_PLAYER),
            ("empty info", state({}), NO_PLAYER),
            ("parent first", *client("com.example.app", parentApplicationBundleIdentifier="com.example.app",
                                     bundleIdentifier=child)),
            ("empty parent", *client(child, parentApplicationBundleIdentifier="", bundleIdentifier=child)),
            ("parent a number", *client(child, parentApplicationBundleIdentifier=3, bundleIdentifier=child)),
            ("parent of another kind",
             *client(child, parentApplicationBundleIdentifier={"other": True}, bundleIdentifier=child)),
            ("nil parent", *client(child, parentApplicationBundleIdentifier=None, bundleIdentifier=child)),
            ("no parent selector", *client(child, bundleIdentifier=child)),
            ("parent alone", *client("com.example.app", parentApplicationBundleIdentifier="com.example.app")),
        ]
        raw, lines, _ = run_states([c[1] for c in cases])
        self.assertEqual(len(lines), len(cases), raw)
        for (name, _, expected), line in zip(cases, lines):
            with self.subTest(name):
                self.assertEqual(line, expected)


class Members(unittest.TestCase):
    def test_every_member_with_its_type(self):
        cases = [
            ("every member",
             state({TITLE: "Title", ARTIST: "Artist", ALBUM: "Album", DURATION: 240, ELAPSED: 12.5,
                    RATE: 1, TIMESTAMP: {"date": 1700000000.25}}),
             record({"title": "Title", "artist": "Artist", "album": "Album", "duration": 240,
                     "elapsed": 12.5, "rate": 1, "timestamp": 1700000000.25})),
            ("paused", state({TITLE: "T"}, playing=False), record({"title": "T"}, playing=False)),
            ("playing byte 2", state({TITLE: "T"}, playing=2), record({"title": "T"})),
            ("playing byte 0", state({TITLE: "T"}, playing=0), record({"title": "T"}, playing=False)),
            ("empty texts left out", state({TITLE: "", ARTIST: "", ALBUM: "B"}), record({"album": "B"})),
            ("texts of other types left out", state({TITLE: 5, ARTIST: {"bytes": 3}, ALBUM: True, RATE: 0}),
             record({"rate": 0})),
            ("non-finite numbers left out",
             state({DURATION: {"real": "nan"}, ELAPSED: {"real": "inf"}, RATE: {"real": "-inf"}, TITLE: "T"}),
             record({"title": "T"})),
            ("booleans stay booleans", state({DURATION: True, ELAPSED: False, RATE: True}),
             record({"duration": True, "elapsed": False, "rate": True})),
            ("numbers of other types left out",
             state({DURATION: "240", ELAPSED: {"date": 3}, RATE: {"other": True}, TITLE: "T"}),
             record({"title": "T"})),
            ("NaN timestamp left out, the record written",
             state({TIMESTAMP: {"date": "nan"}, TITLE: "T", DURATION: 9}), record({"title": "T", "duration": 9})),
            ("infinite timestamp left out", state({TIMESTAMP: {"date": "inf"}, ELAPSED: 3.5}),
             record({"elapsed": 3.5})),
            ("timestamp before 1970", state({TIMESTAMP: {"date": -0.125}, TITLE: "T"}),
             record({"title": "T", "timestamp": -0.125})),
            ("timestamp that is not a date", state({TIMESTAMP: 1700000000.5, TITLE: "T"}), record({"title": "T"})),
        ]
        raw, lines, _ = run_states([c[1] for c in cases])
        self.assertEqual(len(lines), len(cases), raw)
        for (name, _, expected), line in zip(cases, lines):
            with self.subTest(name):
                self.assertEqual(line, expected)
                # Python's == lets 240 equal 240.0 and True equal 1, and ignores the order of
                # the members; the kinds and the order must match too.
                self.assertEqual([(k, type(v)) for k, v in line.items()], [(k, type(v)) for k, v in expected.items()])
        # An integer is written without a fraction.
        self.assertIn(b'"duration":240,', raw[0])


class Artwork(unittest.TestCase):
    def test_sent_once_per_identity(self):
        T, B = {TITLE: "T"}, {ALBUM: "B"}
        cases = [
            # (name, info or None for no player, expected artwork members; "artwork" gives the byte count)
            ("first", {IDENTIFIER: "A", DATA: {"bytes": 3}, MIME: "image/png"},
             {"artworkID": "A", "artwork": 3, "artworkMIME": "image/png"}),
            ("same identity", {IDENTIFIER: "A", DATA: {"bytes": 3}, MIME: "image/png"}, {"artworkID": "A"}),
            ("gone", {IDENTIFIER: "A", TITLE: "T"}, {}),
            ("back under the same identity", {IDENTIFIER: "A", DATA: {"bytes": 9}}, {"artworkID": "A"}),
            ("no bytes", {IDENTIFIER: "Z", DATA: {"bytes": 0}}, {}),
            ("one byte too many", {IDENTIFIER: "Z", DATA: {"bytes": 4194305}}, {}),
            ("largest, empty MIME type", {IDENTIFIER: "Z", DATA: {"bytes": 4194304}, MIME: ""},
             {"artworkID": "Z", "artwork": 4194304}),
            ("no player", None, None),
            ("sent again after the no-player record", {IDENTIFIER: "Z", DATA: {"bytes": 4}, MIME: "image/jpeg"},
             {"artworkID": "Z", "artwork": 4, "artworkMIME": "image/jpeg"}),
            ("empty identifier", {IDENTIFIER: "", DATA: {"bytes": 2}}, {"artworkID": "", "artwork": 2}),
            ("empty identifier again", {IDENTIFIER: "", DATA: {"bytes": 2}}, {"artworkID": ""}),
            ("identity from the texts", dict(T, **B, **{IDENTIFIER: 12, DATA: {"bytes": 5}}),
             {"artworkID": "T||B", "artwork": 5}),
            ("same texts, no identifier", dict(T, **B, **{DATA: {"bytes": 6}}), {"artworkID": "T||B"}),
            ("no texts", {DATA: {"bytes": 7}, DURATION: 1}, {"artworkID": "||", "artwork": 7}),
            ("empty title counts as none", {TITLE: "", ARTIST: "R", DATA: {"bytes": 1}},
             {"artworkID": "|R|", "artwork": 1}),
            ("bytes that are not a buffer", {IDENTIFIER: "Y", DATA: "abc"}, {}),
            ("MIME type without artwork", {IDENTIFIER: "|R|", DATA: {"bytes": 1}, MIME: "image/png"},
             {"artworkID": "|R|"}),
        ]
        states = [state(info) if info is not None else state({TITLE: "T"}, player=None) for _, info, _ in cases]
        # A line of several megabytes keeps the queue until the reader has taken it all.
        big = [i for i, (_, info, _) in enumerate(cases) if info and info.get(DATA) == {"bytes": 4194304}]
        raw, lines, _ = run_states(states, pauses={i: BIG_PAUSE for i in big})
        self.assertEqual(len(lines), len(cases), [r[:200] for r in raw])
        for (name, info, expected), line, text in zip(cases, lines, raw):
            with self.subTest(name):
                if info is None:
                    self.assertEqual(line, NO_PLAYER)
                    continue
                members = {k: v for k, v in line.items() if k.startswith("artwork")}
                if "artwork" in members:
                    sent = base64.b64decode(members["artwork"], validate=True)
                    self.assertEqual(sent, generated(expected["artwork"]))
                    members["artwork"] = len(sent)
                self.assertEqual(members, expected)
                # Base64 text holds "/" often; the line must carry each one escaped.
                self.assertIsNone(re.search(rb'(?<!\\)/', text), text[:200])


class Timing(unittest.TestCase):
    def test_a_burst_gives_one_record_and_a_later_request_another(self):
        info = {TITLE: "start"}
        steps = [{"state": state(info)}, {"sleep": GAP}, {"state": state({TITLE: "burst"})}]
        # Ten notifications, the last about 45 ms after the first.
        for _ in range(9):
            steps += [{"post": INFO_CHANGED}, {"sleep": 5}]
        steps += [{"post": INFO_CHANGED}, {"sleep": 155 if not SANITIZED else GAP},
                  {"state": state({TITLE: "later"})}, {"post": INFO_CHANGED}, {"sleep": GAP}]
        with Sim(steps) as sim:
            lines = sim.read_lines(3, timeout=10)
            time.sleep(0.5)
            sim.kill()
            result = sim.result()
        self.assertEqual([line.get("title") for line in result.lines], ["start", "burst", "later"])
        calls = result.calls
        register = next(c["t"] for c in calls if c.get("call") == "register")
        queries = [c["t"] for c in calls if c.get("call") == "isPlaying"]
        posts = [c["t"] for c in calls if c.get("post") == INFO_CHANGED]
        self.assertEqual(len(posts), 11)
        self.assertEqual(len(queries), 3)
        # The start-up request comes after the registration call.
        self.assertGreaterEqual(queries[0] - register, 0.150)
        self.assertGreaterEqual(queries[1] - posts[0], 0.150)
        self.assertGreaterEqual(queries[2] - posts[10], 0.150)
        # Taken for granted above: the burst's query ran before the later notification.
        self.assertLess(queries[1], posts[10], "the burst's publication started late")
        self.assertEqual(len(lines), 3)

    def test_a_service_that_never_answers(self):
        steps = [{"state": state({TITLE: "unanswered"})}, {"answers": "never"}, {"sleep": GAP},
                 {"state": state({TITLE: "still unanswered"})}, {"post": INFO_CHANGED}, {"sleep": GAP},
                 {"answers": "now"}, {"state": state({TITLE: "answered"})}, {"post": INFO_CHANGED}, {"sleep": GAP},
                 {"state": state({TITLE: "again"})}, {"post": INFO_CHANGED}, {"sleep": GAP}]
        with Sim(steps) as sim:
            sim.read_lines(2, timeout=10)
            time.sleep(0.5)
            sim.kill()
            result = sim.result()
        self.assertEqual([line.get("title") for line in result.lines], ["answered", "again"])
        calls = [c["call"] for c in result.calls if "call" in c]
        # The unanswered publications never got to their second query.
        self.assertEqual(calls.count("isPlaying"), 4)
        self.assertEqual(calls.count("info"), 2)

    def test_slow_answers_still_give_one_line_each(self):
        # The answers take longer than the window: a notification that comes while a
        # publication waits for them opens a new window of its own.
        steps = [{"answers": 300}, {"state": state({TITLE: "one"})}, {"sleep": 250},
                 {"state": state({TITLE: "two"})}, {"post": INFO_CHANGED}, {"sleep": 1500}]
        with Sim(steps) as sim:
            sim.read_lines(2, timeout=10)
            time.sleep(0.5)
            sim.kill()
            result = sim.result()
        self.assertEqual(len(result.lines), 2, result.raw)
        self.assertEqual([c["call"] for c in result.calls if "call" in c].count("isPlaying"), 2)


class Framing(unittest.TestCase):
    def test_text_that_tries_to_break_the_line(self):
        texts = [
            'quote " and backslash \\ and "}{"',
            "line\nfeed\r\nand\ttab",
            "controls \x00\x01\x08\x0b\x0c\x1b\x1f end",
            "slashes / // </script>",
            "caf\u00e9 \u65e5\u672c \U0001F3B5 \u2028\u2029",
            '"}\n{"bundle":null}\n',
        ]
        states = [state({TITLE: t, ARTIST: t, IDENTIFIER: t, DATA: {"bytes": 1}}) for t in texts]
        raw, lines, _ = run_states(states)
        self.assertEqual(len(lines), len(texts), raw)
        for text, line, data in zip(texts, lines, raw):
            with self.subTest(text):
                self.assertEqual(line["title"], text)
                self.assertEqual(line["artist"], text)
                self.assertEqual(line["artworkID"], text)
                self.assertNotIn(b"\n", data)
                self.assertIsNone(re.search(rb'(?<!\\)/', data))
                for byte in range(0x20):
                    self.assertNotIn(bytes([byte]), data)
                # Non-ASCII text is written as its UTF-8 bytes, not escaped.
                if "caf" in text:
                    self.assertIn(text.encode("utf-8"), data)


if __name__ == "__main__":
    unittest.main()
