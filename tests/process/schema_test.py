"""docs/record.schema.json as Debian's python3-jsonschema reads it (through the
harness's validator): it rejects malformed records, accepts the README's examples,
and its Base64 pattern agrees with Python's own decoder and stays cheap on lines
of megabytes. Every other process test validates each line it reads, so the
schema accepts every record the suite produces."""

import base64
import json
import os
import random
import re
import sys
import time
import unittest

from harness import check_records

README = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "README.md")
ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"


def line(record):
    """The record as the bridge writes it: compact, "/" escaped."""
    return json.dumps(record, separators=(",", ":"), ensure_ascii=False).replace("/", "\\/").encode("utf-8")


def problem(record):
    """None when the record is valid, otherwise the validator's reason."""
    failure = check_records([record if isinstance(record, bytes) else line(record)])
    return failure and failure[1]


def state(**members):
    return dict({"bundle": "com.example.player", "playing": True}, **members)


def with_artwork(text, **members):
    return state(artworkID="A", artwork=text, **members)


def canonical(text):
    """Python's own answer: text is RFC 4648 Base64 of one or more bytes, as an encoder writes it."""
    try:
        data = base64.b64decode(text, validate=True)
    except ValueError:
        return False
    return bool(data) and base64.b64encode(data).decode() == text


class Rejects(unittest.TestCase):
    def test_malformed_records(self):
        cases = [
            ("a string playing", state(playing="true")),
            ("a number playing", state(playing=1)),
            ("artwork without artworkID", state(artwork="AAAA")),
            ("artworkMIME without artwork", state(artworkID="A", artworkMIME="image/png")),
            ("artworkMIME alone", state(artworkMIME="image/png")),
            ("an extra member", state(genre="Jazz")),
            ("a null title", state(title=None)),
            ("an empty title", state(title="")),
            ("an empty artist", state(artist="")),
            ("a numeric album", state(album=3)),
            ("bundle missing", {"playing": True, "title": "T"}),
            ("playing missing", {"bundle": "com.example.player"}),
            ("an empty bundle", state(bundle="")),
            ("a numeric bundle", state(bundle=7)),
            ("no-player with playing", {"bundle": None, "playing": True}),
            ("no-player with a title", {"bundle": None, "title": "T"}),
            ("unavailable with another error", {"error": "unbound"}),
            ("unavailable with bundle", {"error": "unavailable", "bundle": None}),
            ("error beside a state", state(error="unavailable")),
            ("an empty object", {}),
            ("an array", []),
            ("a null line", None),
            ("a string duration", state(duration="240")),
            ("a null elapsed", state(elapsed=None)),
            ("an object rate", state(rate={"value": 1})),
            ("a boolean timestamp", state(timestamp=True)),
            ("a string timestamp", state(timestamp="1700000000")),
            ("a numeric artworkID", state(artworkID=12)),
            ("an empty artworkMIME", with_artwork("AAAA", artworkMIME="")),
            ("a numeric artworkMIME", with_artwork("AAAA", artworkMIME=1)),
            ("empty artwork", with_artwork("")),
            ("artwork of another type", with_artwork(["AAAA"])),
            ("Base64 of the wrong length", with_artwork("AAAAA")),
            ("Base64 with a character outside the alphabet", with_artwork("AA*A")),
            ("Base64 with the URL-safe alphabet", with_artwork("-_-_")),
            ("Base64 shorter than a group", with_artwork("AAE")),
            ("Base64 without its padding", with_artwork("AAECAwQ")),
            ("Base64 with padding in the middle", with_artwork("AA==AAAA")),
            ("Base64 with three padding characters", with_artwork("A===")),
            ("Base64 padding alone", with_artwork("====")),
            ("Base64 with padding bits set", with_artwork("AB==")),
            ("Base64 with a line break", with_artwork("AAAA\nAAAA")),
            ("Base64 with a final line feed", with_artwork("AAAA\n")),
            ("Base64 with a space", with_artwork("AAAA AAAA")),
            ("Base64 with a non-ASCII letter", with_artwork("AA\u00e9A")),
        ]
        for name, record in cases:
            with self.subTest(name):
                self.assertIsNotNone(problem(record), record)

    def test_the_reason_names_the_member(self):
        self.assertIn("playing", problem(state(playing="true")))
        self.assertIn("artworkID", problem(state(artwork="AAAA")))
        self.assertIn("no-player", problem({"bundle": None, "playing": True}))


class Accepts(unittest.TestCase):
    def readme_records(self):
        """Every line of README.md that is a record in its examples, with the shortened
        artwork ("iVBORw0KGgo...") cut to whole groups of four so that it is Base64."""
        with open(README, encoding="utf-8") as f:
            lines = [text.strip() for text in f if text.lstrip().startswith('{"')]
        records = []
        for text in lines:
            shortened = re.search(r'"artwork":"([A-Za-z0-9+\\/]*)\.\.\."', text)
            if shortened:
                cut = shortened.group(1).replace("\\/", "/")
                whole = cut[: len(cut) // 4 * 4].replace("/", "\\/")
                self.assertIsNotNone(problem(text.encode()), "shortened artwork passed: " + text[:80])
                text = text.replace(shortened.group(0), '"artwork":"%s"' % whole)
            records.append(text)
        return records

    def test_the_readme_examples(self):
        records = self.readme_records()
        # The kinds, the artwork examples and the example session.
        self.assertGreaterEqual(len(records), 11)
        for text in records:
            with self.subTest(text[:60]):
                self.assertIsNone(problem(text.encode("utf-8")))

    def test_every_member_and_its_edges(self):
        cases = [
            ("unavailable", {"error": "unavailable"}),
            ("no player", {"bundle": None}),
            ("bundle and playing alone", state()),
            ("paused", state(playing=False)),
            ("every member", state(title="T", artist="R", album="B", duration=240, elapsed=12.5, rate=1,
                                   timestamp=1700000000.25, artworkID="A", artwork="AAECAwQ=",
                                   artworkMIME="image/png")),
            ("booleans for the numbers", state(duration=True, elapsed=False, rate=True)),
            ("integers, zero and negatives", state(duration=0, elapsed=-1, rate=-0.5, timestamp=-0.125)),
            ("an integral timestamp", state(timestamp=1700000000)),
            ("an empty artworkID", state(artworkID="")),
            ("the identity of no texts", state(artworkID="||", artwork="AA==")),
            ("artwork without a MIME type", with_artwork("AAE=")),
            ("non-ASCII texts", state(title="caf\u00e9 \U0001F3B5", artist="\u2028", album="\"}{")),
            ("one character texts", state(title="T", artist="R", album="B")),
        ]
        for name, record in cases:
            with self.subTest(name):
                self.assertIsNone(problem(record))


class Base64Pattern(unittest.TestCase):
    def test_every_final_group_agrees_with_pythons_decoder(self):
        # The last group decides padding and the bits it hides: every "xy==" and every
        # "AAz=" and "zAA=", after a group and after none.
        tails = [x + y + "==" for x in ALPHABET for y in ALPHABET]
        tails += ["AA" + z + "=" for z in ALPHABET] + [z + "AA=" for z in ALPHABET] + ["AAA="]
        for prefix in ("", "QUJD"):
            wrong = [t for t in tails if (problem(with_artwork(prefix + t)) is None) != canonical(prefix + t)]
            self.assertEqual(wrong, [], "prefix %r" % prefix)

    def test_encodings_of_every_length_around_the_groups_and_their_corruptions(self):
        chance = random.Random(20261208)
        # Lengths across the 64-character groups and the groups of four after them.
        for size in list(range(1, 200)) + [4 * 1024 + 1, 3 * 1000 + 2]:
            text = base64.b64encode(chance.randbytes(size)).decode()
            with self.subTest(size=size):
                self.assertIsNone(problem(with_artwork(text)))
                at = chance.randrange(len(text))
                self.assertIsNotNone(problem(with_artwork(text[:at] + chance.choice("*-_.= ") + text[at + 1:])))
                self.assertIsNotNone(problem(with_artwork(text[:at] + text[at + 1:])))
                self.assertIsNotNone(problem(with_artwork(text + "A")))

    def test_the_largest_artwork_line_is_cheap(self):
        # 4 MiB of artwork, the largest the bridge sends: 5,592,408 characters.
        text = base64.b64encode(bytes(i % 251 for i in range(4194304))).decode()
        self.assertEqual(len(text), 5592408)
        big = line(with_artwork(text, artworkMIME="image/png"))
        spans = []
        for _ in range(3):
            started = time.monotonic()
            self.assertIsNone(problem(big))
            spans.append(time.monotonic() - started)
        started = time.monotonic()
        self.assertIsNotNone(problem(line(with_artwork(text[:-1] + "*"))))
        failed = time.monotonic() - started
        print("a %.1f MB record validates in %.0f ms (best of 3), and is rejected with a fault at its end in %.0f ms"
              % (len(big) / 1e6, min(spans) * 1000, failed * 1000), file=sys.stderr)


if __name__ == "__main__":
    unittest.main()
