"""The process edges under pressure: a standard output that is non-blocking or
stalls, input faster than the commands run, a service that blocks or never
answers, and the end of input through all of it."""

import ctypes
import json
import os
import shutil
import signal
import sys
import tempfile
import threading
import time
import unittest

from harness import ARTWORK_LIMIT, BIN, DATA, IDENTIFIER, INFO_CHANGED, SANITIZED, SCRATCH, Sim, TITLE

TGKILL = 234  # The system call's number on x86_64 Linux.
LIBRARY = os.path.join(BIN, "libkelmediaremote.so.1")
PRELOAD = os.path.join(os.environ.get("KEL_BUILD_DIR", os.path.join(BIN, "..")), "tests", "libkelsimpreload.so")
# A host in Python: its signal handlers, like those of many hosts, interrupt system
# calls instead of restarting them (CPython installs them without SA_RESTART).
# A host that calls the entry a second time, from another thread, while the first
# call's bridge runs.
TWICE_HOST = ("import ctypes, sys, threading, time\n"
              "run = ctypes.CDLL(sys.argv[1]).kel_mediaremote_run\n"
              "threading.Thread(target=run, daemon=True).start()\n"
              "time.sleep(0.4)\n"
              "run()\n")
PYTHON_HOST = ("import ctypes, signal, sys\n"
               "signal.signal(signal.SIGUSR1, lambda *_: None)\n"
               "ctypes.CDLL(sys.argv[1]).kel_mediaremote_run()\n")

CLIENT = {"client": {"bundleIdentifier": "com.example.player"}}
PLAYER = {"state": {"playing": True, "player": CLIENT, "info": {TITLE: "Song"}}}
# What a user would call a hang, well beyond the bound of about two seconds.
EXIT_BOUND = 6.0


def signal_every_thread(pid, number):
    """Sends the signal to each thread, so that the one writing gets it too: a signal
    sent to the process would mostly go to the idle main thread."""
    libc = ctypes.CDLL(None, use_errno=True)
    for task in os.listdir("/proc/%d/task" % pid):
        libc.syscall(TGKILL, pid, int(task), number)


def python_host(test, steps, code):
    """A host written in Python that loads the shipped library itself with ctypes;
    the simulated service reaches it through the test-only preloaded library. The
    calls log is at sim.calls_path."""
    folder = tempfile.mkdtemp(prefix="kel-", dir=SCRATCH)
    test.addCleanup(shutil.rmtree, folder, ignore_errors=True)
    scenario = os.path.join(folder, "scenario.jsonl")
    with open(scenario, "w") as f:
        f.writelines(json.dumps(step) + "\n" for step in steps)
    calls = os.path.join(folder, "calls.jsonl")
    env = dict(os.environ, LD_PRELOAD=PRELOAD, KEL_SIM_SCENARIO=scenario, KEL_SIM_CALLS=calls)
    sim = Sim(program=sys.executable, args=["-c", code, LIBRARY], calls=False, env=env)
    sim.calls_path = calls
    return sim


def with_artwork(identifier):
    return {"state": {"playing": True, "player": CLIENT, "info": {
        TITLE: "Song",
        DATA: {"bytes": ARTWORK_LIMIT},
        IDENTIFIER: identifier}}}


class StartUpTest(unittest.TestCase):
    def test_a_notification_posted_by_the_registration_already_asks_for_a_record(self):
        # The registration posts, then blocks for a second: only observers that are
        # in place before it can turn that post into a query 150 ms later.
        with Sim([PLAYER, {"registerPost": INFO_CHANGED}, {"registerDelay": 1000}]) as sim:
            self.assertEqual(len(sim.read_lines(1, timeout=10)), 1)
            calls = sim.calls()
        times = {}
        for call in calls:
            times.setdefault(call.get("call") or "post", call["t"])
        self.assertGreaterEqual(times["isPlaying"] - times["post"], 0.150)
        self.assertLess(times["isPlaying"] - times["register"], 0.9,
                        "the first query waited for the registration to return")


    @unittest.skipIf(SANITIZED, "a plain Python cannot load sanitized libraries")
    def test_a_second_call_of_the_entry_starts_nothing(self):
        with python_host(self, [PLAYER], TWICE_HOST) as sim:
            # The refresh waits for the start-up record, or a slow start-up takes it in.
            self.assertEqual(len(sim.read_lines(1, timeout=10)), 1)
            sim.write(b"next\nrefresh\n")
            self.assertEqual(len(sim.read_lines(1, timeout=10)), 1)
            sim.close_stdin()
            self.assertEqual(sim.wait(EXIT_BOUND), 0)
            result = sim.result()
        self.assertEqual(len(result.lines), 2, "one record at start-up, one for the refresh")
        self.assertEqual([call["call"] for call in result.calls if call.get("call") in ("register", "command")],
                         ["register", "command"])


class StdoutTest(unittest.TestCase):
    def test_nonblocking_stdout_with_a_stalled_reader_gets_every_line_whole(self):
        # Each record carries 4 MiB of artwork under a new identity, far more than
        # the pipe holds, and nobody reads for the first seconds.
        steps = [with_artwork("A0")]
        for i in range(1, 5):
            steps += [{"sleep": 400}, with_artwork("A%d" % i), {"post": INFO_CHANGED}]
        with Sim(steps, nonblocking_stdout=True) as sim:
            time.sleep(3)
            lines = sim.read_lines(1 << 20, timeout=3)
            sim.close_stdin()
            self.assertEqual(sim.wait(EXIT_BOUND), 0)
            self.assertEqual(sim.result().lines, lines, "a line came after the end of input, or was cut")
        # Changes made while the queue waited on the stalled line may show in fewer
        # records; the artwork goes out whole, with the first record of its identity.
        self.check_artwork_lines(lines, "A0", "A4")

    def check_artwork_lines(self, lines, first, last):
        identities = [line.get("artworkID") for line in lines]
        self.assertEqual((identities[0], identities[-1]), (first, last))
        self.assertEqual(identities, sorted(identities))
        for i, line in enumerate(lines):
            if i == 0 or identities[i - 1] != identities[i]:
                self.assertEqual(len(line["artwork"]), (ARTWORK_LIMIT + 2) // 3 * 4)
            else:
                self.assertNotIn("artwork", line)


    def test_the_exit_waits_for_the_line_being_written(self):
        # The host stops reading in the middle of a 4 MiB line and closes standard
        # input: the bound passes while the line is stuck, and the exit must wait
        # for it rather than cut it.
        with Sim([with_artwork("A0")]) as sim:
            time.sleep(0.5)
            sim.close_stdin()
            time.sleep(3.5)
            self.assertEqual(sim.wait(EXIT_BOUND), 0)
            lines = sim.result().lines
        self.assertEqual([line.get("artworkID") for line in lines], ["A0"])

    @unittest.skipIf(SANITIZED, "a plain Python cannot load sanitized libraries")
    def test_signals_whose_handler_interrupts_writes_cut_no_line(self):
        steps = [with_artwork("A0")]
        for i in range(1, 6):
            steps += [{"sleep": 300}, with_artwork("A%d" % i), {"post": INFO_CHANGED}]
        with python_host(self, steps, PYTHON_HOST) as sim:
            # Once the host's handler is in place (the first record has come),
            # signals all the while, and a reader slow enough that writes block.
            self.assertEqual(len(sim.read_lines(1, timeout=10)), 1)
            deadline, sent = time.monotonic() + 3, 0
            while time.monotonic() < deadline:
                signal_every_thread(sim.process.pid, signal.SIGUSR1)
                sent += 1
                time.sleep(0.0005)
                if sent % 10 == 0:
                    sim._pump(0)
            lines = sim.read_lines(1 << 20, timeout=1)
            sim.close_stdin()
            self.assertEqual(sim.wait(EXIT_BOUND), 0)
            self.assertEqual(sim.result().stderr, b"")
        self.check_artwork_lines(lines, "A0", "A5")


class BackpressureTest(unittest.TestCase):
    def test_input_faster_than_commands_run_is_held_back_and_nothing_is_dropped(self):
        # The first command blocks for a second while the host writes 16 MiB of
        # "refresh" and then numbered seeks: the reader must stop reading rather
        # than queue it all, and still carry out every seek, in order.
        seeks = 2000
        stdin = b"play\n" + b"refresh\n" * (2 << 20) + b"".join(b"seek %d\n" % i for i in range(seeks))
        with Sim([PLAYER, {"commandDelay": 1000}, {"sleep": 500}, {"commandDelay": 0}]) as sim:
            def write():
                sim.write(stdin)
                sim.close_stdin()
            writer = threading.Thread(target=write)
            writer.start()
            peak = 0
            deadline = time.monotonic() + 120
            while sim.wait(0.05) is None and time.monotonic() < deadline:
                peak = max(peak, sim.peak_memory())
            writer.join()
            self.assertEqual(sim.status, 0)
            seconds = [call["seconds"] for call in sim.calls() if call.get("call") == "seek"]
        self.assertEqual(seconds, list(range(seeks)), "a seek was dropped or reordered")
        print("16 MiB of input behind a blocked command: peak resident size %.1f MiB" % (peak / (1 << 20)),
              file=sys.stderr)
        if SANITIZED:
            self.skipTest("resource bounds are asserted in the plain build only")
        self.assertLess(peak, 40 << 20, "memory grew with the input: peak %d bytes" % peak)


class EndOfInputTest(unittest.TestCase):
    def exit_after_close(self, sim):
        closed = time.monotonic()
        sim.close_stdin()
        status = sim.wait(EXIT_BOUND)
        return status, time.monotonic() - closed

    def test_a_registration_that_blocks_does_not_keep_the_process(self):
        with Sim([PLAYER, {"registerDelay": 600000}]) as sim:
            status, _ = self.exit_after_close(sim)
            self.assertEqual(status, 0)

    def test_a_blocked_command_with_a_full_pipe_does_not_keep_the_process(self):
        # The reader has stopped reading behind a command that blocks; the host
        # writes until its pipe is full and closes its end.
        with Sim([PLAYER, {"commandDelay": 600000}]) as sim:
            fd = sim.process.stdin.fileno()
            os.set_blocking(fd, False)
            line = b"seek 1\n" * 1024
            try:
                for _ in range(100000):
                    os.write(fd, line)
            except BlockingIOError:
                pass
            else:
                self.fail("the pipe never filled: the reader did not stop reading")
            status, _ = self.exit_after_close(sim)
            self.assertEqual(status, 0)

    def test_a_query_never_answered_is_forgotten_once_a_later_record_is_written(self):
        # The start-up publication is never answered; a "refresh" later is. The end
        # of input then has nothing left to wait for, and need not wait out the bound.
        steps = [PLAYER, {"answers": "never"}, {"sleep": 400}, {"answers": "now"}]
        with Sim(steps) as sim:
            time.sleep(0.8)
            sim.write(b"refresh\n")
            self.assertEqual(len(sim.read_lines(1, timeout=10)), 1)
            status, seconds = self.exit_after_close(sim)
            self.assertEqual(status, 0)
        if SANITIZED:
            self.skipTest("timing bounds are asserted in the plain build only")
        self.assertLess(seconds, 1.2, "the end of input waited for a query that was never answered")


if __name__ == "__main__":
    unittest.main()
