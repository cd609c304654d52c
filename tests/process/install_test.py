"""The install, as a distribution package makes it: a build tree configured for
the prefix /usr (so the libraries go where GNUInstallDirs puts them, for example
lib/x86_64-linux-gnu), installed with DESTDIR into a temporary folder. The
installed hosts run from there, the CMake package and the pkg-config file build
programs that link the library, and the man pages are in place. The build tree of
the running tests is installed too, with --prefix, into a folder of its own.

The extra build tree (KEL_BUILD_DIR/install-tree, without tests) is kept between
runs, so that a second run rebuilds only what changed."""

import os
import shutil
import subprocess
import tempfile
import unittest

from harness import BIN, SANITIZED, SCRATCH, Sim

CMAKE = os.environ.get("KEL_CMAKE", "cmake")
BUILD_DIR = os.environ.get("KEL_BUILD_DIR", os.path.join(BIN, ".."))
HERE = os.path.dirname(os.path.abspath(__file__))
UNAVAILABLE = b'{"error":"unavailable"}\n'
# With the MPRIS service installed, and no session bus to find players on, the
# bridge binds the service and finds no player.
NO_PLAYER = b'{"bundle":null}\n'
WITH_MPRIS = os.path.exists(os.path.join(BIN, "libkelmprisservice.so"))
BUILD_TIMEOUT = 1800 if SANITIZED else 600
NO_PLAIN_CONSUMER = "a plain consumer cannot load a sanitized library"


def read_cache(build_dir):
    """The build tree's CMake cache, as a dict from name to value."""
    values = {}
    with open(os.path.join(build_dir, "CMakeCache.txt")) as f:
        for line in f:
            if line[:1] in ("#", "/", "\n") or "=" not in line:
                continue
            key, value = line.rstrip("\n").split("=", 1)
            values[key.split(":", 1)[0]] = value
    return values


def run(command, timeout=120, **kwargs):
    """Runs a command that must succeed, with its output kept for the failure message."""
    result = subprocess.run(command, capture_output=True, timeout=timeout, **kwargs)
    if result.returncode != 0:
        raise AssertionError("%s exited with %d\n%s%s" % (command, result.returncode,
                                                          result.stdout.decode(errors="replace")[-4000:],
                                                          result.stderr.decode(errors="replace")[-4000:]))
    return result


def no_session_bus(scratch):
    """An environment in which no D-Bus session bus can be found."""
    env = {k: v for k, v in os.environ.items() if k not in ("DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR")}
    return dict(env, XDG_RUNTIME_DIR=scratch, DBUS_SESSION_BUS_ADDRESS="unix:path=" + os.path.join(scratch, "bus"))


class InstallTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        os.makedirs(SCRATCH, exist_ok=True)
        cls.scratch = tempfile.mkdtemp(prefix="install-", dir=SCRATCH)
        cache = read_cache(BUILD_DIR)
        cls.tree = os.path.join(BUILD_DIR, "install-tree")
        cls.generator = cache["CMAKE_GENERATOR"]
        configure = [CMAKE, "-S", cache["CMAKE_HOME_DIRECTORY"], "-B", cls.tree, "-G", cls.generator,
                     "-DCMAKE_INSTALL_PREFIX=/usr", "-DKEL_BUILD_TESTS=OFF"]
        for name in ("CMAKE_C_COMPILER", "CMAKE_CXX_COMPILER", "CMAKE_BUILD_TYPE", "KEL_SANITIZE", "KEL_WERROR"):
            if cache.get(name):
                configure.append("-D%s=%s" % (name, cache[name]))
        # CMake starts a tree afresh when its compiler changes, and then drops the
        # options given with that configure; so a tree of other compilers goes.
        if os.path.exists(os.path.join(cls.tree, "CMakeCache.txt")):
            kept = read_cache(cls.tree)
            if any(kept.get(name) != cache.get(name) for name in ("CMAKE_C_COMPILER", "CMAKE_CXX_COMPILER")):
                shutil.rmtree(cls.tree)
        run(configure, timeout=BUILD_TIMEOUT)
        run([CMAKE, "--build", cls.tree, "-j", str(os.cpu_count() or 2)], timeout=BUILD_TIMEOUT)
        cls.destdir = os.path.join(cls.scratch, "destdir")
        run([CMAKE, "--install", cls.tree], env=dict(os.environ, DESTDIR=cls.destdir))
        tree_cache = read_cache(cls.tree)
        cls.usr = os.path.join(cls.destdir, "usr")
        cls.libdir = os.path.join(cls.usr, tree_cache["CMAKE_INSTALL_LIBDIR"])
        cls.bindir = os.path.join(cls.usr, tree_cache["CMAKE_INSTALL_BINDIR"])
        # The running tests' own build tree, installed into another prefix.
        cls.other = os.path.join(cls.scratch, "other-prefix")
        run([CMAKE, "--install", BUILD_DIR, "--prefix", cls.other])
        cls.other_libdir = os.path.join(cls.other, read_cache(BUILD_DIR)["CMAKE_INSTALL_LIBDIR"])

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def run_once(self, command, expected_status, expected_lines=None, close_stdin=False, env=None):
        """Runs a host with --once while the test holds its standard input open (or,
        with close_stdin, a consumer whose input ends at once), and checks how it ended."""
        with Sim(program=command[0], args=command[1:], calls=False, env=env) as host:
            if close_stdin:
                host.close_stdin()
            status = host.wait(30)
            host.kill()
            result = host.result()
        self.assertEqual((status, result.stderr), (expected_status, b""))
        if expected_lines is not None:
            self.assertEqual(result.raw, expected_lines)
        return result

    def check_bridge(self, command, close_stdin=False, extra_env=None):
        """The bridge on this machine: the MPRIS service finds no player, or, in a
        build without it, the service is unavailable."""
        env = dict(no_session_bus(self.scratch), **(extra_env or {}))
        if WITH_MPRIS:
            self.run_once(command, 0, NO_PLAYER, close_stdin, env)
        else:
            self.run_once(command, 2, UNAVAILABLE, close_stdin, env)

    def test_files_are_where_the_prefix_puts_them(self):
        expected = [
            os.path.join(self.bindir, "kel-mediaremote"),
            os.path.join(self.bindir, "kel-mediaremote-sim"),
            os.path.join(self.usr, "include", "kelmediaremote.h"),
            os.path.join(self.libdir, "libkelmediaremote.so.1"),
            os.path.join(self.libdir, "libkelmediaremote.so"),
            os.path.join(self.libdir, "libkelplatform.so"),
            os.path.join(self.libdir, "libkelsimservice.so"),
            os.path.join(self.libdir, "cmake", "kelmediaremote", "kelmediaremoteConfig.cmake"),
            os.path.join(self.libdir, "cmake", "kelmediaremote", "kelmediaremoteConfigVersion.cmake"),
            os.path.join(self.libdir, "pkgconfig", "kelmediaremote.pc"),
            os.path.join(self.usr, "share", "man", "man1", "kel-mediaremote.1"),
            os.path.join(self.usr, "share", "man", "man1", "kel-mediaremote-sim.1"),
        ]
        if WITH_MPRIS:
            expected.append(os.path.join(self.libdir, "libkelmprisservice.so"))
        for path in expected:
            with self.subTest(path=os.path.relpath(path, self.destdir)):
                self.assertTrue(os.path.exists(path))
        with self.subTest(check="the simulator's run path"):
            dynamic = run(["readelf", "-d", os.path.join(self.bindir, "kel-mediaremote-sim")], text=True).stdout
            relative = os.path.relpath(self.libdir, self.bindir)
            self.assertIn("[$ORIGIN/%s]" % relative, dynamic)

    def test_installed_hosts_run(self):
        link = os.path.join(self.scratch, "on-path", "kel-mediaremote")
        os.makedirs(os.path.dirname(link), exist_ok=True)
        if not os.path.lexists(link):
            os.symlink(os.path.join(self.bindir, "kel-mediaremote"), link)
        hosts = {
            "installed for /usr": self.bindir,
            "installed with --prefix": os.path.join(self.other, "bin"),
        }
        for name, bindir in hosts.items():
            with self.subTest(tree=name, host="kel-mediaremote"):
                self.check_bridge([os.path.join(bindir, "kel-mediaremote"), "--once"])
            with self.subTest(tree=name, host="kel-mediaremote-sim, virtual player"):
                result = self.run_once([os.path.join(bindir, "kel-mediaremote-sim"), "--once"], 0)
                self.assertEqual([(r["bundle"], r["title"]) for r in result.lines],
                                 [("com.kel.VirtualPlayer", "Harbour Lights")])
            with self.subTest(tree=name, host="kel-mediaremote-sim --without"):
                self.run_once([os.path.join(bindir, "kel-mediaremote-sim"), "--without",
                               "MRMediaRemoteSendCommand"], 2, UNAVAILABLE)
        with self.subTest(host="kel-mediaremote through a link in another folder"):
            self.check_bridge([link, "--once"])

    @unittest.skipIf(SANITIZED, NO_PLAIN_CONSUMER)
    def test_cmake_package_builds_a_consumer(self):
        build = os.path.join(self.scratch, "cmake-consumer")
        # The build's own generator: a fresh system need not have make.
        run([CMAKE, "-S", os.path.join(HERE, "cmake_consumer"), "-B", build, "-G", self.generator,
             "-DCMAKE_PREFIX_PATH=" + self.usr])
        run([CMAKE, "--build", build])
        # The build tree's run path leads to the installed library.
        self.check_bridge([os.path.join(build, "consumer")], close_stdin=True)

    @unittest.skipIf(SANITIZED, NO_PLAIN_CONSUMER)
    def test_pkg_config_builds_a_consumer(self):
        # Against the staged tree, with no sysroot: the .pc file finds the tree
        # from its own folder.
        env = dict(os.environ, PKG_CONFIG_LIBDIR=os.path.join(self.libdir, "pkgconfig"))
        version = run(["pkg-config", "--modversion", "kelmediaremote"], env=env, text=True).stdout
        self.assertEqual(version, "1.0.0\n")
        consumer = os.path.join(self.scratch, "pkg-config-consumer")
        source = os.path.join(HERE, "linked_consumer.c")
        run(["sh", "-c", 'cc -std=c11 -Wall -Werror -o "$1" "$2" $(pkg-config --cflags --libs kelmediaremote)',
             "sh", consumer, source], env=env)
        self.check_bridge([consumer], close_stdin=True, extra_env={"LD_LIBRARY_PATH": self.libdir})

    @unittest.skipIf(SANITIZED, NO_PLAIN_CONSUMER)
    def test_consumer_that_loads_the_library(self):
        # A host program that loads the installed library itself, with the header only.
        consumer = os.path.join(self.scratch, "loading-consumer")
        run(["cc", "-std=c11", "-Wall", "-Werror", "-I", os.path.join(self.usr, "include"), "-o", consumer,
             os.path.join(HERE, "consumer.c"), "-ldl"])
        self.check_bridge([consumer, os.path.join(self.libdir, "libkelmediaremote.so.1")], close_stdin=True)


if __name__ == "__main__":
    unittest.main()
