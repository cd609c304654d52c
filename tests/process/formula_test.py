"""The Homebrew formula and scripts/brew-install, without a Mac: the formula is
loaded by Ruby with a stand-in for Homebrew's Formula class (formula_check.rb),
and the script runs against a stand-in `brew` that logs what it is asked."""

import json
import os
import shutil
import subprocess
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CHECK = os.path.join(ROOT, "tests", "process", "formula_check.rb")
FORMULA = os.path.join(ROOT, "Formula", "kel-mediaremote.rb")
# Homebrew's names for the macOS versions a deployment target may name.
MACOS_NAMES = {"13.0": "ventura", "14.0": "sonoma", "15.0": "sequoia"}

FAKE_BREW = """#!/bin/sh
echo "$*" >>"$BREW_LOG"
case "$1" in
  tap) [ -d "$BREW_TAPS/kel/local" ] && echo kel/local; exit 0 ;;
  tap-new) mkdir -p "$BREW_TAPS/$3/Formula" ;;
  --repository) echo "$BREW_TAPS/$2" ;;
  list) exit 1 ;;
esac
"""


def load(formula):
    result = subprocess.run(["ruby", CHECK, formula], capture_output=True, text=True, timeout=60)
    if result.returncode != 0:
        raise AssertionError(f"{formula} does not load: {result.stderr}")
    return json.loads(result.stdout)


def git(*args, cwd):
    return subprocess.run(["git", *args], cwd=cwd, check=True, capture_output=True, text=True).stdout.strip()


class FormulaTest(unittest.TestCase):
    def test_the_install_is_the_macos_preset_built_and_installed(self):
        formula = load(FORMULA)
        self.assertEqual(formula["class"], "KelMediaremote")  # Homebrew's name for kel-mediaremote.rb
        with open(os.path.join(ROOT, "CMakePresets.json")) as f:
            presets = json.load(f)
        configure = {p["name"]: p for p in presets["configurePresets"]}
        builds = {p["name"]: p for p in presets["buildPresets"]}
        configure_call, build_call, install_call = formula["system"]
        self.assertEqual(configure_call[:3], ["cmake", "--preset", "macos"])
        self.assertIn("-DCMAKE_INSTALL_PREFIX=/prefix", configure_call)  # Homebrew's own arguments passed on
        self.assertEqual(build_call, ["cmake", "--build", "--preset", "macos"])
        self.assertEqual(builds["macos"]["configurePreset"], "macos")
        macos = configure["macos"]
        binary_dir = macos["binaryDir"].replace("${sourceDir}/", "").replace("${presetName}", "macos")
        self.assertEqual(install_call, ["cmake", "--install", binary_dir])
        # Both architectures need Homebrew's permission for -arch flags; the
        # minimum macOS matches the library's deployment target.
        self.assertEqual(macos["cacheVariables"]["CMAKE_OSX_ARCHITECTURES"], "arm64;x86_64")
        self.assertEqual(formula["env"], ["permit_arch_flags"])
        target = macos["cacheVariables"]["CMAKE_OSX_DEPLOYMENT_TARGET"]
        self.assertIn({"macos": MACOS_NAMES[target]}, formula["depends_on"])
        self.assertIn({"cmake": "build"}, formula["depends_on"])
        self.assertTrue(formula["test"])
        self.assertTrue(formula["head"]["url"])

    def test_brew_install_taps_the_formula_with_head_naming_the_checkout(self):
        with tempfile.TemporaryDirectory() as scratch:
            # A clone, so that the branch the script sets is not made in this checkout;
            # the working copies of the script and the formula are what is tested.
            clone = os.path.join(scratch, "checkout")
            subprocess.run(["git", "clone", "-q", "--no-local", "--depth", "1", "file://" + ROOT, clone],
                           check=True, capture_output=True)
            for path in ("scripts/brew-install", "Formula/kel-mediaremote.rb"):
                os.makedirs(os.path.dirname(os.path.join(clone, path)), exist_ok=True)
                shutil.copy(os.path.join(ROOT, path), os.path.join(clone, path))
            git("checkout", "-q", "--detach", cwd=clone)  # as a CI runner's checkout may be
            bin_dir, taps, log = (os.path.join(scratch, name) for name in ("bin", "taps", "brew.log"))
            os.mkdir(bin_dir)
            with open(os.path.join(bin_dir, "brew"), "w") as f:
                f.write(FAKE_BREW)
            os.chmod(os.path.join(bin_dir, "brew"), 0o755)
            env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ["PATH"], BREW_TAPS=taps, BREW_LOG=log)
            for run in range(2):  # the second time the tap exists already
                result = subprocess.run([os.path.join(clone, "scripts", "brew-install")], env=env,
                                        capture_output=True, text=True, timeout=60)
                self.assertEqual(result.returncode, 0, result.stderr)
            with open(log) as f:
                calls = f.read().splitlines()
            self.assertEqual(calls.count("tap-new --no-git kel/local"), 1)
            self.assertEqual(calls.count("install --HEAD --include-test kel/local/kel-mediaremote"), 2)

            tapped = load(os.path.join(taps, "kel", "local", "Formula", "kel-mediaremote.rb"))
            self.assertEqual(tapped["head"], {"url": "file://" + os.path.realpath(clone),
                                              "options": {"using": "git", "branch": "kel-brew-head"}})
            self.assertEqual(git("rev-parse", "kel-brew-head", cwd=clone), git("rev-parse", "HEAD", cwd=clone))
            original = load(FORMULA)
            del tapped["head"], original["head"]
            self.assertEqual(tapped, original)  # only the head line differs

    def test_the_macos_workflow_installs_and_tests_the_formula(self):
        with open(os.path.join(ROOT, ".github", "workflows", "macos.yml")) as f:
            workflow = f.read()
        for line in ("scripts/brew-install", "brew test kel/local/kel-mediaremote"):
            self.assertIn(line, workflow)


if __name__ == "__main__":
    unittest.main()
