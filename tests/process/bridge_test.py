"""The bridge as a host sees it, against the simulated service: start-up and the
options, the records and their 150 ms window, the commands as the service gets
them, standard output under pressure, and the end of input. Each group is one
scenario (one process) driven by a table where it can be."""

import base64
import ctypes
import fcntl
import math
import os
import re
import shutil
import signal
import subprocess
import sys
import termios
import time
import unicodedata
import unittest

from harness import (ALBUM, ARTIST, BIN, CLIENT, DATA, DURATION, ELAPSED, ENTRY_POINTS, EXIT_BOUND, GAP, HANG, HOST,
                     IDENTIFIER, INFO_CHANGED, LIBRARY, MIME, NEXT, NO_PLAIN_LOAD, PAUSE, PLAY, PLAYER, PREVIOUS, RATE,
                     SANITIZED, SCRIPT, SIM, TIMESTAMP, TITLE, TOGGLE, UNAVAILABLE, Sim, defined_symbols, pattern, run,
                     run_sim, scratch_dir, service_calls, skip_bound, state, wait_until, with_artwork)

# A host in Python that loads the library with ctypes. CPython installs its signal
# handlers without SA_RESTART, so they interrupt system calls, as many hosts' do.
PYTHON_HOST = ("import ctypes, signal, sys\nsignal.signal(signal.SIGUSR1, lambda *_: None)\n"
               "ctypes.CDLL(sys.argv[1]).kel_mediaremote_run()\n")
# A host that calls the entry a second time, from another thread, while the first runs.
TWICE_HOST = ("import ctypes, sys, threading, time\nrun = ctypes.CDLL(sys.argv[1]).kel_mediaremote_run\n"
              "threading.Thread(target=run, daemon=True).start()\ntime.sleep(0.4)\nrun()\n")
LIBC = ctypes.CDLL(None)
MARKER = 1_000_000  # seeks to positions no case uses tell the cases of a table apart


def python_host(steps, code=PYTHON_HOST, **options):
    return Sim(steps, program=sys.executable, args=["-c", code, LIBRARY], preload=True, **options)


def publications(steps, count):
    """Runs a scenario until count records came, and a window and a margin more."""
    with Sim(steps) as sim:
        sim.read_lines(count, HANG + len(steps) * GAP / 1000)
        sim.read_lines(count + 1, 0.4)
        sim.kill()
        return sim.result()


class StartUpTest(unittest.TestCase):
    def test_without_the_service_the_unavailable_record_and_status_2(self):
        tree = scratch_dir(self)
        for name in ("kel-mediaremote", "libkelmediaremote.so.1", "libkelplatform.so"):
            shutil.copy2(os.path.join(BIN, name), tree)
        cases = [["--absent"], ["--once", "--absent"]] + [["--without", name] for name in ENTRY_POINTS]
        for args, program in [(a, SIM) for a in cases] + [([], os.path.join(tree, "kel-mediaremote"))]:
            with self.subTest(args=args, program=program):
                result = run_sim([], args=args, program=program, close_stdin=False)
                self.assertEqual((result.raw, result.stderr, result.status, result.calls), (UNAVAILABLE, b"", 2, []))

    def test_options(self):
        folder = scratch_dir(self)
        malformed = os.path.join(folder, "malformed.jsonl")
        with open(malformed, "w") as f:
            f.write('{"sleep": 10}\n{"sleep": \n')
        for command in ([SIM, "--bogus"], [SIM, "--absent", "--without", ENTRY_POINTS[0]], [SIM, "--without"],
                        [SIM, "--without", "MRMediaRemoteNothing"], [SIM, "--scenario", folder + "/missing"],
                        [SIM, "--scenario", malformed], [HOST, "--bogus"],
                        [HOST, "--library"]):
            with self.subTest(command=command[1:]):
                result = run(command, check=False, stdin=subprocess.DEVNULL)
                self.assertEqual((result.returncode, result.stdout), (64, b""))
                self.assertTrue(result.stderr.strip())
        missing = run([HOST, "--library", "/nonexistent/libkelmediaremote.so.1"], check=False)
        self.assertEqual((missing.returncode, missing.stdout), (1, b""))
        self.assertIn(b"/nonexistent/libkelmediaremote.so.1", missing.stderr)
        for program in (HOST, SIM):
            name = os.path.basename(program).encode()
            self.assertIn(b"Usage: " + name, run([program, "--help"]).stdout)
            self.assertEqual(run([program, "--version"]).stdout, name + b" 1.0.0\n")
        # The library exports its entry alone, under its major version.
        self.assertEqual(defined_symbols(LIBRARY), ["kel_mediaremote_run"])
        self.assertIn("Library soname: [libkelmediaremote.so.1]", run(["readelf", "-d", LIBRARY], text=True).stdout)

    def test_observers_are_in_place_before_the_registration(self):
        # The registration posts, then blocks for a second: only observers that are in
        # place before it turn that post into a query 150 ms later.
        with Sim([PLAYER, {"registerPost": INFO_CHANGED}, {"registerDelay": 1000}]) as sim:
            self.assertEqual(len(sim.read_lines(1)), 1)
            times = {}
            for call in sim.calls():
                times.setdefault(call.get("call") or "post", call["t"])
        self.assertGreaterEqual(times["isPlaying"] - times["post"], 0.150)
        self.assertLess(times["isPlaying"] - times["register"], 0.9, "the query waited for the registration")

    @unittest.skipIf(SANITIZED, NO_PLAIN_LOAD)
    def test_a_second_call_of_the_entry_starts_nothing(self):
        with python_host([PLAYER], TWICE_HOST) as sim:
            sim.read_lines(1)
            sim.write(b"next\nrefresh\n")
            self.assertEqual(len(sim.finish(self, EXIT_BOUND)), 2, "one record at start-up, one for the refresh")
            self.assertEqual([c["call"] for c in sim.calls() if c.get("call") in ("register", "command")],
                             ["register", "command"])

    def test_once_prints_the_state_and_exits_while_the_input_stays_open(self):
        # Notifications after the record are not waited for, and print nothing more.
        steps = [state({TITLE: "Once"}, playing=False), {"sleep": 300}, {"post": INFO_CHANGED}]
        for options in [{}] + [dict(program=SCRIPT, preload=True)] * (not SANITIZED):
            result = run_sim(steps, args=["--once"], close_stdin=False, **options)
            self.assertEqual((result.status, result.stderr, result.lines),
                             (0, b"", [{"bundle": "com.example.player", "playing": False, "title": "Once"}]))


class RecordsTest(unittest.TestCase):
    def test_each_state_gives_its_record_whole(self):
        cover = os.path.join(scratch_dir(self), "cover.bin")
        content = bytes(range(256)) + os.urandom(70000)  # every byte value, then no short pattern
        with open(cover, "wb") as f:
            f.write(content)
        text = 'quote " \\ "}{ line\nfeed\r\ttab \x00\x01\x1f </script> caf\u00e9 \u65e5 \U0001F3B5 \u2028'
        cases = [
            ({TITLE: "T", ARTIST: "R", ALBUM: "B", DURATION: 240, ELAPSED: 12.5, RATE: 1,
              TIMESTAMP: {"date": 1700000000.25}},
             {"title": "T", "artist": "R", "album": "B", "duration": 240, "elapsed": 12.5, "rate": 1,
              "timestamp": 1700000000.25}),
            ({TITLE: text, ARTIST: text}, {"title": text, "artist": text}),
            ({IDENTIFIER: "A/1", DATA: {"file": cover}, MIME: "image/png"},
             {"artworkID": "A/1", "artwork": content, "artworkMIME": "image/png"}),
            ({IDENTIFIER: "A/1", DATA: {"bytes": 3}, MIME: "image/png"}, {"artworkID": "A/1"}),
            (dict(player=None, info={TITLE: "T"}), {"bundle": None}),
            ({IDENTIFIER: "A/1", DATA: {"bytes": 5}}, {"artworkID": "A/1", "artwork": pattern(5)}),
        ]
        steps = []
        for i, (given, _) in enumerate(cases):  # the first at start-up, each later one by a notification
            steps += [state(**(given if "info" in given else {"info": given}))]
            steps += [{"post": INFO_CHANGED}, {"sleep": GAP}] if i else [{"sleep": GAP}]
        result = publications(steps, len(cases))
        raw = result.raw.split(b"\n")[:-1]
        self.assertEqual(len(result.lines), len(cases), result.raw[:2000])
        for (_, expected), line, data in zip(cases, result.lines, raw):
            with self.subTest(expected=str(expected)[:60]):
                if "artwork" in line:
                    line["artwork"] = base64.b64decode(line["artwork"], validate=True)
                if expected != {"bundle": None}:
                    expected = dict({"bundle": "com.example.player", "playing": True}, **expected)
                self.assertEqual(line, expected)
                # The members in their order and kinds: 240 is not 240.0, True is not 1.
                self.assertEqual([(k, type(v)) for k, v in line.items()], [(k, type(v)) for k, v in expected.items()])
                self.assertIsNone(re.search(rb'(?<!\\)/|[\x00-\x1f]', data), "an unescaped / or control")
        self.assertIn(b'"duration":240,', raw[0])
        self.assertIn(text[-9:].encode(), raw[1], "non-ASCII text is written as its own UTF-8")

    def test_a_burst_gives_one_record_150_ms_later_and_a_later_request_another(self):
        steps = [state({TITLE: "start"}), {"sleep": GAP}, state({TITLE: "burst"})]
        steps += [{"post": INFO_CHANGED}, {"sleep": 5}] * 9  # ten posts within about 45 ms
        steps += [{"post": INFO_CHANGED}, {"sleep": 155 if not SANITIZED else GAP}, state({TITLE: "later"}),
                  {"post": INFO_CHANGED}]
        result = publications(steps, 3)
        self.assertEqual([line.get("title") for line in result.lines], ["start", "burst", "later"])
        times = lambda key, value: [c["t"] for c in result.calls if c.get(key) == value]
        register, queries, posts = times("call", "register"), times("call", "isPlaying"), times("post", INFO_CHANGED)
        self.assertEqual((len(posts), len(queries)), (11, 3))
        self.assertGreaterEqual(queries[0] - register[0], 0.150)
        self.assertGreaterEqual(queries[1] - posts[0], 0.150)
        self.assertGreaterEqual(queries[2] - posts[10], 0.150)
        self.assertLess(queries[1], posts[10], "taken for granted above: the burst's query came first")



def run_table(test, cases, steps=(PLAYER,), last=b""):
    """Sends each case's line and a marker seek, then last without a line feed,
    and checks that each line led to exactly its expected calls."""
    stdin = b"".join(line + b"seek %d\n" % (MARKER + i) for i, (line, _) in enumerate(cases)) + last
    result = run_sim(list(steps), stdin=stdin)
    test.assertEqual((result.status, result.stderr), (0, b""))
    groups, current = [], []
    for call in service_calls(result.calls):
        if call[0] == "seek" and call[1] >= MARKER:
            test.assertEqual(call[1], MARKER + len(groups), "a marker is missing or out of order")
            groups.append(current)
            current = []
        else:
            current.append(call)
    test.assertEqual(len(groups), len(cases))
    for (line, expected), got in zip(cases, groups):
        test.assertEqual(got, expected, line[:40])
    return result, current


class CommandsTest(unittest.TestCase):
    def test_each_command_reaches_the_service_with_its_code(self):
        command, seek = (lambda code: [("command", code)]), (lambda seconds: [("seek", seconds)])
        cases = [(b"play\n", command(PLAY)), (b"pause\n", command(PAUSE)), (b"toggle\n", command(TOGGLE)),
                 (b"next\n", command(NEXT)), (b"previous\n", command(PREVIOUS)), (b"Play\n", []), (b"stop\n", []),
                 (b"play play\n", []), (b"refresh now\n", []), ("\u200bnext\n".encode(), []),
                 ("\u3000\u2029 \t\u00a0next\u0085\r\n".encode(), command(NEXT)), (b"seek   12.5\n", seek(12.5)),
                 (b"seek 12abc\n", seek(12)), (b"seek -0\n", seek(0)), (b"seek -1\n", []), (b"seek\n", []),
                 (b"\xff\xfeplay\n", []), (b"toggle\0garbage\xff\n", command(TOGGLE)),
                 (b"next".ljust(65536) + b"\n", command(NEXT)), (b"next".ljust(65537) + b"\n", [])]
        # The trimming set from Python's own Unicode database (category Z, U+0009 to
        # U+000D, U+0085), each member at both ends, and its neighbours trimmed at neither.
        members = {c for c in range(0x110000) if unicodedata.category(chr(c))[0] == "Z"} | {*range(9, 14), 0x85}
        cases += [(chr(c).encode() + b"next" + chr(c).encode() + b"\n", command(NEXT)) for c in sorted(members)]
        cases += [(chr(c).encode() + b"pause\n", []) for c in sorted({c + d for c in members for d in (-1, 1)} - members)]
        result, last = run_table(self, cases, last=b"previous")
        self.assertEqual(last, command(PREVIOUS), "a last line without a line feed")
        self.assertNotIn(-1, [math.copysign(1, s) for c, s in service_calls(result.calls) if c == "seek"], "a seek to -0")
        self.assertEqual(len(result.lines), 1, "a command is not answered with a record")

    def test_the_end_of_input_finishes_the_work_asked_before_it(self):
        names, codes = [b"play", b"pause", b"toggle", b"next", b"previous"], [PLAY, PAUSE, TOGGLE, NEXT, PREVIOUS]
        stdin = b"".join(names[i % 6] + b"\n" if i % 6 < 5 else b"seek %d\n" % i for i in range(600))
        started = time.monotonic()
        result = run_sim([PLAYER], stdin=stdin)
        took = time.monotonic() - started
        self.assertEqual((result.status, len(result.lines)), (0, 1))
        self.assertEqual(service_calls(result.calls),
                         [("command", codes[i % 6]) if i % 6 < 5 else ("seek", i) for i in range(600)])
        if skip_bound(self, "the bound on the end of input"):
            self.assertLess(took, EXIT_BOUND)
        # Input at its end from the start (kel-mediaremote </dev/null): the start-up record.
        self.assertEqual([r["bundle"] for r in run_sim([PLAYER]).lines], ["com.example.player"])
        # A refresh whose request comes after the end is known, behind a blocked play.
        with Sim([PLAYER, {"commandDelay": 300}]) as sim:
            sim.read_lines(1)
            sim.write(b"play\nrefresh\n")
            self.assertEqual(len(sim.finish(self, EXIT_BOUND)), 2)

    def test_a_service_that_blocks_holds_neither_the_host_nor_the_exit(self):
        # All at once, as each waits out the bound of about two seconds.
        cases = {"a command that blocks": ([PLAYER, {"commandDelay": 600000}], b"play\n"),
                 "queries never answered": ([PLAYER, {"answers": "never"}], b"refresh\n"),
                 "a registration that blocks": ([PLAYER, {"registerDelay": 600000}], b""),
                 "a blocked command and a full pipe": ([PLAYER, {"commandDelay": 600000}], b"")}
        sims = {name: Sim(steps) for name, (steps, _) in cases.items()}
        for name, sim in sims.items():
            self.addCleanup(sim.__exit__)
            sim.write(cases[name][1])
        full = sims.pop("a blocked command and a full pipe")
        for sim in sims.values():
            sim.close_stdin()
        # The reader stops reading behind the blocked command, and the pipe pushes back.
        full.read_lines(1)
        full.write(b"play\n")
        fd = full.process.stdin.fileno()
        os.set_blocking(fd, False)
        fcntl.fcntl(fd, getattr(fcntl, "F_SETPIPE_SZ", 1031), 1 << 20)

        def stopped():
            """Fills the pipe; whether it then stays as full, while a reader that went
            on would take from it. Long lines fill the reader's budget of about 1 MiB
            soon, and a reader that went on would come back to the pipe soon."""
            with self.assertRaises(BlockingIOError, msg="64 MiB went in: the reader did not stop"):
                for _ in range(8192):
                    os.write(fd, (b"seek 1" + b"x" * 1017 + b"\n") * 8)
            before = fcntl.ioctl(fd, termios.FIONREAD, b"\0" * 4)
            time.sleep(0.2)
            return fcntl.ioctl(fd, termios.FIONREAD, b"\0" * 4) == before
        wait_until(stopped, what="the reader to stop reading")
        full.close_stdin()
        for name, sim in dict(sims, full=full).items():
            self.assertEqual(sim.wait(EXIT_BOUND), 0, name)


# Records of 4 MiB of artwork under a new identity each, far more than the pipe holds.
ARTWORK_STEPS = [with_artwork("A0")] + [s for i in (1, 2, 3) for s in ({"sleep": 300}, with_artwork("A%d" % i),
                                                                       {"post": INFO_CHANGED})]


def posts(sim):
    return len([c for c in sim.calls() if "post" in c])


class OutputTest(unittest.TestCase):
    def check_artwork_lines(self, lines, last="A3"):
        """Changes made while a line was stuck may show in fewer records; the artwork
        goes out whole, with the first record of its identity."""
        identities = [line.get("artworkID") for line in lines]
        self.assertEqual((identities[0], identities[-1], identities), ("A0", last, sorted(identities)))
        for i, line in enumerate(lines):
            sent = i == 0 or identities[i - 1] != identities[i]
            self.assertEqual(len(line.get("artwork", "")), (4194304 + 2) // 3 * 4 if sent else 0)

    def test_nonblocking_stdout_and_a_stalled_reader_get_every_line_whole(self):
        with Sim(ARTWORK_STEPS, nonblocking_stdout=True) as sim:
            # Nobody reads until the scenario is through: the writes meet EAGAIN.
            wait_until(lambda: posts(sim) == 3, what="the scenario's posts")
            lines = sim.read_until(lambda lines: lines and lines[-1].get("artworkID") == "A3")
            self.assertEqual(sim.finish(self, EXIT_BOUND), lines, "a line came after the end of input")
        self.check_artwork_lines(lines)

    @unittest.skipIf(SANITIZED, NO_PLAIN_LOAD)
    def test_signals_whose_handler_interrupts_writes_cut_no_line(self):
        with python_host(ARTWORK_STEPS) as sim:
            # Once the handler is in place (the first record came), signals all the
            # while, and a reader slow enough that writes block.
            sim.read_lines(1)
            while posts(sim) < 3 or sim.pump(0):
                for _ in range(10):
                    for task in os.listdir("/proc/%d/task" % sim.process.pid):  # the writing thread too
                        LIBC.syscall(234, sim.process.pid, int(task), signal.SIGUSR1)  # tgkill on x86_64
                    time.sleep(0.0005)
            sim.read_until(lambda lines: lines and lines[-1].get("artworkID") == "A3")
            self.check_artwork_lines(sim.finish(self, EXIT_BOUND))

    @unittest.skipIf(SANITIZED, NO_PLAIN_LOAD)
    def test_the_exit_at_the_bound_waits_for_the_line_and_lets_none_begin(self):
        # A line of 4 MiB of artwork is stuck in the full pipe when the bound of the
        # end of input passes, and another such record comes behind it. The exit is
        # held half a second at _exit, as if its thread were descheduled there.
        with python_host(ARTWORK_STEPS[:4], env=dict(os.environ, KEL_SIM_EXIT_DELAY_MS="500")) as sim:
            wait_until(lambda: posts(sim) == 1, what="the second record's notification")
            sim.close_stdin()
            time.sleep(2.5)  # the bound passes while the line is stuck
            # A slow reader: a line begun while the exit is held would be cut.
            while sim.process.poll() is None:
                sim.out += os.read(sim.process.stdout.fileno(), 1 << 16)
                time.sleep(0.01)
            lines = sim.finish(self)
            self.check_artwork_lines(lines, lines[-1]["artworkID"])


if __name__ == "__main__":
    unittest.main()
