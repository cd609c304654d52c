"""The man pages: each formats without a single warning from groff, and names
every option that its program's --help lists."""

import os
import re
import subprocess
import unittest

from harness import HOST, SIM

MAN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs", "man")
PAGES = {"kel-mediaremote.1": HOST, "kel-mediaremote-sim.1": SIM}


class ManPageTest(unittest.TestCase):
    def test_pages_format_without_warnings(self):
        for page in PAGES:
            with self.subTest(page=page):
                result = subprocess.run(["groff", "-wall", "-man", "-z", os.path.join(MAN, page)],
                                        capture_output=True, timeout=60)
                self.assertEqual((result.returncode, result.stdout, result.stderr), (0, b"", b""))

    def test_pages_name_every_option_of_the_help(self):
        for page, program in PAGES.items():
            with open(os.path.join(MAN, page)) as f:
                text = f.read()
            options = set(re.findall(r"^ {2}(--[a-z]+)", subprocess.run(
                [program, "--help"], capture_output=True, text=True, timeout=30).stdout, re.M))
            self.assertIn("--once", options)
            for option in sorted(options):
                with self.subTest(page=page, option=option):
                    self.assertIn(option.replace("-", "\\-"), text)


if __name__ == "__main__":
    unittest.main()
