"""The process edges under pressure: a standard output that is non-blocking or
stalls, input faster than the commands run, a service that blocks or never
answers, and the end of input through all of it."""

import os
import threading
import time
import unittest

from harness import SANITIZED, Sim

INFO_CHANGED = "kMRMediaRemoteNowPlayingInfoDidChangeNotification"
ARTWORK_LIMIT = 4_194_304
CLIENT = {"client": {"bundleIdentifier": "com.example.player"}}
PLAYER = {"state": {"playing": True, "player": CLIENT, "info": {"kMRMediaRemoteNowPlayingInfoTitle": "Song"}}}
# What a user would call a hang, well beyond the bound of about two seconds.
EXIT_BOUND = 6.0


def with_artwork(identifier):
    return {"state": {"playing": True, "player": CLIENT, "info": {
        "kMRMediaRemoteNowPlayingInfoTitle": "Song",
        "kMRMediaRemoteNowPlayingInfoArtworkData": {"bytes": ARTWORK_LIMIT},
        "kMRMediaRemoteNowPlayingInfoArtworkIdentifier": identifier}}}


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
        # Changes made while the queue waited on the stalled line show in one record.
        identities = [line.get("artworkID") for line in lines]
        self.assertEqual((identities[0], identities[-1]), ("A0", "A4"))
        self.assertEqual(identities, sorted(set(identities)))
        for line in lines:
            self.assertEqual(len(line["artwork"]), (ARTWORK_LIMIT + 2) // 3 * 4)


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
