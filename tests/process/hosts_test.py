"""The hosts and what ships with them: the Perl host beside the compiled one, the
install tree with the programs built against it (CMake package, pkg-config, a
program that loads the library), the man pages, and the README's records and
program. The macOS workflow installs and tests the Homebrew formula itself."""

import os
import re
import shutil
import sys
import tempfile
import unittest

from harness import (BIN, BUILD, ENTRY_POINTS, HOST, LIBRARY, LIBRARY_DIR, NO_PLAIN_LOAD, ROOT, SANITIZED, SCRATCH,
                     SCRIPT, SIM, TITLE, UNAVAILABLE, Sim, check_records, defined_symbols, run, run_sim, scratch_dir,
                     state, wait_until)

CMAKE = os.environ.get("KEL_CMAKE", "cmake")
HERE = os.path.dirname(os.path.abspath(__file__))
NAME = "libkelmediaremote.so.1"
WITH_MPRIS = os.path.exists(os.path.join(BIN, "libkelmprisservice.so"))


def outcome(result):
    return (result.returncode, result.stdout, result.stderr)


def perl(script, *args, env=None):
    """Runs the script with the system's perl, as its first line asks."""
    with open(script, "rb") as f:
        assert f.readline() == b"#!/usr/bin/perl\n", "the script does not start with #!/usr/bin/perl"
    return run([script, *args], check=False, env=env)


class PerlHostTest(unittest.TestCase):
    def test_options_and_failures_answer_as_the_compiled_host(self):
        for args, status in ((["--help"], 0), (["-h"], 0), (["--library", "/nonexistent", "--version"], 0),
                             (["--bogus"], 64), (["--library"], 64), (["extra"], 64), (["-x", "--help"], 64),
                             (["--library=" + LIBRARY, "--"], 64)):
            with self.subTest(args=args):
                got = perl(SCRIPT, *args)
                self.assertEqual(outcome(got), outcome(run([HOST, *args], check=False)))
                self.assertEqual(got.returncode, status)
                if status:
                    self.assertRegex(got.stderr, re.compile(b"^kel-mediaremote: .*Try 'kel-mediaremote --help'.\n$",
                                                            re.S))
        # Each host alone in a folder, so that it finds no library beside itself.
        alone = scratch_dir(self)
        script, host = (shutil.copy(p, os.path.join(alone, os.path.basename(p))) for p in (SCRIPT, HOST))
        not_library = os.path.join(alone, "libnot.so")
        with open(not_library, "w") as f:
            f.write("not a library\n")
        folder = os.path.realpath(alone)
        for args, reason in (([], b"cannot find libkelmediaremote.so.1 in %s or %s;"
                              % (folder.encode(), os.path.normpath(os.path.join(folder, LIBRARY_DIR)).encode())),
                             (["--library", alone + "/missing.so"], alone.encode() + b"/missing.so"),
                             (["--library=" + not_library], b"cannot load the library: " + not_library.encode())):
            with self.subTest(args=args):
                got = perl(script, *args)
                self.assertEqual((got.returncode, got.stdout), (1, b""))
                self.assertIn(reason, got.stderr)
                self.assertEqual(got.stderr, run([host, *args], check=False).stderr)
        # A real shared library without the entry: one of perl's own XS modules.
        posix = run(["/usr/bin/perl", "-MConfig", "-e", "print $Config{archlibexp}"], text=True).stdout
        posix += "/auto/POSIX/POSIX.so"
        self.assertEqual(outcome(perl(script, "--library", posix)),
                         (1, b"", b"kel-mediaremote: %s has no kel_mediaremote_run\n" % posix.encode()))

    @unittest.skipIf(SANITIZED, NO_PLAIN_LOAD)
    def test_a_session_with_the_simulated_service(self):
        steps = [state({TITLE: "Caf\u00e9 / Perl"}, player={"client": {"bundleIdentifier": "com.example.perl"}})]
        record = {"bundle": "com.example.perl", "playing": True, "title": "Caf\u00e9 / Perl"}
        with Sim(steps, program=SCRIPT, preload=True) as script, Sim(steps) as compiled:
            # The record arrives while perl runs: nothing of Perl's holds it back.
            self.assertEqual((script.read_lines(1), compiled.read_lines(1)), ([record], [record]))
            self.assertIsNone(script.process.poll())
            # The library runs with the signal settings it has under the compiled host.
            self.assertEqual(*(signal_settings(p.process.pid) for p in (script, compiled)))
            script.write(b"pause\n")
            wait_until(lambda: any(c.get("code") == 1 for c in script.calls()), what="the pause")
            script.write(b"refresh\n")
            self.assertEqual(script.finish(self), [record, record])


def signal_settings(pid):
    with open("/proc/%d/status" % pid) as f:
        return [line for line in f if line.startswith(("SigBlk:", "SigIgn:", "SigCgt:"))]


def read_cache(build_dir):
    with open(os.path.join(build_dir, "CMakeCache.txt")) as f:
        return dict(re.findall(r"^(\w+):\w+=(.*)$", f.read(), re.M))


@unittest.skipIf(SANITIZED, NO_PLAIN_LOAD)
class InstallTest(unittest.TestCase):
    """The tests' own tree, installed with DESTDIR as a package does (scripts/test
    configures it for /usr, so the libraries go where GNUInstallDirs puts them, such
    as lib/x86_64-linux-gnu), and installed again into another prefix."""

    @classmethod
    def setUpClass(cls):
        os.makedirs(SCRATCH, exist_ok=True)
        cls.scratch = tempfile.mkdtemp(prefix="install-", dir=SCRATCH)
        cache = read_cache(BUILD)
        cls.generator = cache["CMAKE_GENERATOR"]
        run([CMAKE, "--install", BUILD], env=dict(os.environ, DESTDIR=cls.scratch + "/destdir"))
        cls.usr = cls.scratch + "/destdir" + cache["CMAKE_INSTALL_PREFIX"]
        cls.libdir = os.path.join(cls.usr, cache["CMAKE_INSTALL_LIBDIR"])
        cls.bindir = os.path.join(cls.usr, cache["CMAKE_INSTALL_BINDIR"])
        cls.other = cls.scratch + "/other-prefix"
        run([CMAKE, "--install", BUILD, "--prefix", cls.other])

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def check_bridge(self, command, close_stdin=False, extra_env=None):
        """With no session bus, the MPRIS service finds no player; without that
        service, the service is unavailable."""
        env = {k: v for k, v in os.environ.items() if k != "DBUS_SESSION_BUS_ADDRESS"}
        env.update(XDG_RUNTIME_DIR=self.scratch, DBUS_SESSION_BUS_ADDRESS="unix:path=%s/bus" % self.scratch,
                   **(extra_env or {}))
        result = run_sim(program=command[0], args=command[1:], env=env, close_stdin=close_stdin)
        self.assertEqual((result.status, result.raw, result.stderr),
                         (0, b'{"bundle":null}\n', b"") if WITH_MPRIS else (2, UNAVAILABLE, b""))

    def test_files_run_paths_and_the_installed_hosts(self):
        names = ["libkelmediaremote.so.1", "libkelmediaremote.so", "libkelplatform.so", "libkelsimservice.so",
                 "cmake/kelmediaremote/kelmediaremoteConfig.cmake", "pkgconfig/kelmediaremote.pc",
                 "cmake/kelmediaremote/kelmediaremoteConfigVersion.cmake"] + ["libkelmprisservice.so"] * WITH_MPRIS
        for path in [os.path.join(self.libdir, name) for name in names] + [
                self.bindir + "/kel-mediaremote", self.bindir + "/kel-mediaremote-sim",
                self.usr + "/include/kelmediaremote.h", self.usr + "/share/man/man1/kel-mediaremote.1",
                self.usr + "/share/man/man1/kel-mediaremote-sim.1"]:
            self.assertTrue(os.path.exists(path), path)
        dynamic = run(["readelf", "-d", self.bindir + "/kel-mediaremote-sim"], text=True).stdout
        self.assertIn("[$ORIGIN/%s]" % os.path.relpath(self.libdir, self.bindir), dynamic)
        if WITH_MPRIS:
            service = os.path.join(self.libdir, "libkelmprisservice.so")
            self.assertIn("Library runpath: [$ORIGIN]", run(["readelf", "-d", service], text=True).stdout)
            self.assertEqual(defined_symbols(service), sorted(ENTRY_POINTS))
        os.symlink(self.bindir + "/kel-mediaremote", self.scratch + "/kel-mediaremote")  # a link from elsewhere
        for bindir in (self.bindir, self.other + "/bin"):
            with self.subTest(bindir=bindir):
                self.check_bridge([bindir + "/kel-mediaremote", "--once"])
                result = run_sim(program=bindir + "/kel-mediaremote-sim", args=["--once"], close_stdin=False)
                self.assertEqual([(r["bundle"], r["title"]) for r in result.lines],
                                 [("com.kel.VirtualPlayer", "Harbour Lights")])
                result = run_sim(program=bindir + "/kel-mediaremote-sim", args=["--without", ENTRY_POINTS[3]])
                self.assertEqual((result.status, result.raw), (2, UNAVAILABLE))
        self.check_bridge([self.scratch + "/kel-mediaremote", "--once"])

    def test_consumers_built_against_the_tree(self):
        with self.subTest("CMake package"):
            build = self.scratch + "/cmake-consumer"
            run([CMAKE, "-S", HERE + "/cmake_consumer", "-B", build, "-G", self.generator,
                 "-DCMAKE_PREFIX_PATH=" + self.usr])
            run([CMAKE, "--build", build])
            self.check_bridge([build + "/consumer"], close_stdin=True)  # its run path finds the library
        with self.subTest("pkg-config"):
            # Against the staged tree, with no sysroot: the .pc file finds the tree from its own folder.
            env = dict(os.environ, PKG_CONFIG_LIBDIR=self.libdir + "/pkgconfig")
            self.assertEqual(run(["pkg-config", "--modversion", "kelmediaremote"], env=env).stdout, b"1.0.0\n")
            consumer = self.scratch + "/pkg-config-consumer"
            run(["sh", "-c", 'cc -std=c11 -Wall -Werror -o "$1" "$2" $(pkg-config --cflags --libs kelmediaremote)',
                 "sh", consumer, HERE + "/linked_consumer.c"], env=env)
            self.check_bridge([consumer], close_stdin=True, extra_env={"LD_LIBRARY_PATH": self.libdir})
        with self.subTest("a program that loads the library, with the header only"):
            consumer = self.scratch + "/loading-consumer"
            run(["cc", "-std=c11", "-Wall", "-Werror", "-I", self.usr + "/include", "-o", consumer,
                 HERE + "/consumer.c", "-ldl"])
            self.check_bridge([consumer, self.libdir + "/libkelmediaremote.so.1"], close_stdin=True)


class DocumentsTest(unittest.TestCase):
    def test_man_pages_format_cleanly_and_name_every_option(self):
        for page, program in (("kel-mediaremote.1", HOST), ("kel-mediaremote-sim.1", SIM)):
            path = os.path.join(ROOT, "docs", "man", page)
            self.assertEqual(outcome(run(["groff", "-wall", "-man", "-z", path], check=False)), (0, b"", b""))
            with open(path) as f:
                text = f.read()
            options = set(re.findall(r"^ {2}(--[a-z]+)", run([program, "--help"], text=True).stdout, re.M))
            self.assertIn("--once", options)
            for option in options:
                self.assertIn(option.replace("-", "\\-"), text, page)

    def test_the_readmes_records_are_valid(self):
        with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
            lines = [text.strip() for text in f if text.lstrip().startswith('{"')]
        self.assertGreaterEqual(len(lines), 11)  # the kinds, the artwork examples, the example session
        def whole(match):  # shortened artwork ("iVBORw0KGgo...") cut to whole groups of four
            cut = match.group(1).replace("\\/", "/")
            return '"artwork":"%s"' % cut[: len(cut) // 4 * 4].replace("/", "\\/")
        for text in lines:
            fixed = re.sub(r'"artwork":"([A-Za-z0-9+\\/]*)\.\.\."', whole, text).encode()
            self.assertIsNone(check_records([fixed]), text[:80])

    def test_the_readmes_program_prints_two_tracks_and_ends(self):
        with open(os.path.join(ROOT, "README.md")) as f:
            readme = f.read()
        program = re.search(r"```python\n(.*?)```", readme[readme.index("## Two minutes"):], re.S).group(1)
        self.assertIn('"build/gcc/bin/kel-mediaremote-sim"', program)
        program = program.replace('"build/gcc/bin/kel-mediaremote-sim"', repr(SIM))
        result = run([sys.executable, "-c", program], text=True)
        self.assertEqual(result.stdout.splitlines(), ["Harbour Lights - The Lanterns playing",
                                                      "Paper Kites - Mira Okafor playing"])


if __name__ == "__main__":
    unittest.main()
