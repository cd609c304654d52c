"""The virtual player of kel-mediaremote-sim without --scenario: its records after commands, and its covers."""

import base64
import struct
import unittest
import zlib

from harness import Sim


class VirtualPlayerTest(unittest.TestCase):
    def check_png(self, text):
        # With Python's zlib: the signature, each chunk's CRC, the header, the rows behind the stream's checksum.
        png = base64.b64decode(text, validate=True)
        self.assertEqual(png[:8], b"\x89PNG\r\n\x1a\n")
        chunks, at = [], 8
        while at < len(png):
            length, kind = struct.unpack(">I4s", png[at:at + 8])
            body, crc = png[at + 8:at + 8 + length], png[at + 8 + length:at + 12 + length]
            self.assertEqual(crc, struct.pack(">I", zlib.crc32(kind + body)), kind)
            chunks.append((kind, body))
            at += 12 + length
        self.assertEqual([kind for kind, _ in chunks], [b"IHDR", b"IDAT", b"IEND"])
        # 48 × 48 pixels, 8 bits per sample, RGB, deflate, adaptive filtering, no interlace.
        self.assertEqual(struct.unpack(">IIBBBBB", chunks[0][1]), (48, 48, 8, 2, 0, 0, 0))
        rows = zlib.decompress(chunks[1][1])
        self.assertEqual(len(rows), 48 * (1 + 3 * 48))
        self.assertLessEqual(max(rows[::1 + 3 * 48]), 4, "a row's filter type")
        return png

    def test_obeys_the_commands_and_sends_valid_covers(self):
        with Sim(calls=False) as sim:
            first = sim.read_lines(1, 10)[0]
            self.assertEqual((first["bundle"], first["artworkMIME"]), ("com.kel.VirtualPlayer", "image/png"))
            cover = self.check_png(first["artwork"])
            # A command, then whether the record after it plays and, where it is exact, its elapsed time.
            steps = [(b"next\n", True, 0), (b"pause\n", False, None), (b"seek 10\n", False, 10),
                     (b"play\n", True, 10), (b"previous\n", True, 0), (b"toggle\n", False, None)]
            for count, (command, playing, elapsed) in enumerate(steps, start=2):
                sim.write(command)
                lines = sim.read_lines(count, 10)
                self.assertEqual(len(lines), count, command)
                line = lines[-1]
                self.assertEqual((line["playing"], line["rate"]), (playing, 1 if playing else 0), command)
                self.assertEqual(line["elapsed"], line["elapsed"] if elapsed is None else elapsed, command)
                if command == b"next\n":
                    second = line
                    self.assertNotEqual(line["title"], first["title"])
                    self.assertNotEqual(line["artworkID"], first["artworkID"])
                    self.assertNotEqual(self.check_png(line["artwork"]), cover)
                self.assertEqual((line["title"], line["artworkID"]), (second["title"], second["artworkID"]), command)
