"""Artwork read from a file by the scenario's {"file": PATH} value: the bytes the
bridge sends are the file's, and a file that cannot be read stops the scenario
before the bridge is loaded."""

import base64
import os
import subprocess
import unittest

from harness import DATA, IDENTIFIER, SCRATCH, SIM, Sim

PLAYER = {"client": {"bundleIdentifier": "com.example.player"}}


class FileArtwork(unittest.TestCase):
    def test_the_file_bytes_are_sent_and_an_unreadable_file_is_an_error(self):
        os.makedirs(SCRATCH, exist_ok=True)
        cover = os.path.join(SCRATCH, "scenario-file-cover.bin")
        # Every byte value, then bytes that no short pattern repeats.
        content = bytes(range(256)) + os.urandom(70000)
        with open(cover, "wb") as f:
            f.write(content)
        self.addCleanup(os.remove, cover)
        info = {IDENTIFIER: "cover", DATA: {"file": cover}}
        with Sim([{"state": {"playing": True, "player": PLAYER, "info": info}}]) as sim:
            lines = sim.read_lines(1, timeout=10)
        self.assertEqual(len(lines), 1)
        self.assertEqual(base64.b64decode(lines[0]["artwork"], validate=True), content)

        missing = os.path.join(SCRATCH, "scenario-file-missing.jsonl")
        with open(missing, "w") as f:
            f.write('{"sleep": 1}\n{"state": {"info": {"a": {"file": "%s"}}}}\n' % (cover + ".absent"))
        self.addCleanup(os.remove, missing)
        result = subprocess.run([SIM, "--scenario", missing], stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=30)
        self.assertEqual(result.returncode, 64)
        self.assertEqual(result.stdout, b"")
        self.assertIn(b'scenario-file-missing.jsonl:2: info "a": "file" takes the path', result.stderr)


if __name__ == "__main__":
    unittest.main()
