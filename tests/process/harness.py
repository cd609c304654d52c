"""Runs the hosts as a host program would, reads back what they print, and holds
every helper the process tests share.

Every line a host writes is checked on the way: it ends with exactly one line
feed, parses as one JSON object with Python's own json module, and is a valid
record by docs/record.schema.json, checked with Debian's python3-jsonschema under
Debian's own Python (record_validator.py).
"""

import atexit
import fcntl
import hashlib
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

BIN = os.environ.get("KEL_BIN", os.path.join(os.path.dirname(__file__), "..", "..", "build", "gcc", "bin"))
BUILD = os.environ.get("KEL_BUILD_DIR", os.path.join(BIN, ".."))
SIM, HOST = os.path.join(BIN, "kel-mediaremote-sim"), os.path.join(BIN, "kel-mediaremote")
SCRIPT, LIBRARY = os.path.join(BIN, "kel-mediaremote.pl"), os.path.join(BIN, "libkelmediaremote.so.1")
PRELOAD = os.path.join(BUILD, "tests", "libkelsimpreload.so")
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
# The relative path from an installed tree's binary folder to its library folder.
LIBRARY_DIR = os.environ.get("KEL_LIBRARY_DIR", os.path.join("..", "lib"))
SANITIZED = bool(os.environ.get("KEL_SANITIZE"))
SCRATCH = os.environ.get("KEL_TEST_OUTPUT") or tempfile.gettempdir()
HANG = 30 if SANITIZED else 10  # seconds: only a hang takes this long
GAP = 600 if SANITIZED else 400  # milliseconds between publications that must be separate
EXIT_BOUND = 6.0  # the end of input is finished within about two seconds
# The service's vocabulary, as src/service/service.h defines it.
INFO_CHANGED = "kMRMediaRemoteNowPlayingInfoDidChangeNotification"
KEY_PREFIX = "kMRMediaRemoteNowPlayingInfo"
TITLE, ARTIST, ALBUM = KEY_PREFIX + "Title", KEY_PREFIX + "Artist", KEY_PREFIX + "Album"
DURATION, ELAPSED, RATE = KEY_PREFIX + "Duration", KEY_PREFIX + "ElapsedTime", KEY_PREFIX + "PlaybackRate"
TIMESTAMP = KEY_PREFIX + "Timestamp"
DATA, IDENTIFIER, MIME = KEY_PREFIX + "ArtworkData", KEY_PREFIX + "ArtworkIdentifier", KEY_PREFIX + "ArtworkMIMEType"
PLAY, PAUSE, TOGGLE, NEXT, PREVIOUS = 0, 1, 2, 4, 5
ARTWORK_LIMIT = 4194304
CLIENT = {"client": {"bundleIdentifier": "com.example.player"}}
UNAVAILABLE = b'{"error":"unavailable"}\n'
NO_PLAIN_LOAD = "a plain program cannot load sanitized libraries"


def pattern(count):
    """The bytes that the scenario's {"bytes": count} stands for."""
    return bytes(i % 251 for i in range(count))


def state(info, player=CLIENT, playing=True):
    """A scenario step that sets the whole state."""
    return {"state": {"playing": playing, "player": player, "info": info}}


def with_artwork(identifier, size=ARTWORK_LIMIT):
    return state({TITLE: "Song", DATA: {"bytes": size}, IDENTIFIER: identifier})


PLAYER = state({TITLE: "Song"})


def wait_until(condition, timeout=HANG, what="a condition"):
    """Polls condition until it gives a true value, which it returns."""
    deadline = time.monotonic() + timeout
    while not (value := condition()):
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.02)
    return value


def cpu_ticks(pid):
    """User and system time of a process so far, in clock ticks."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def scratch_dir(test, prefix="kel-"):
    os.makedirs(SCRATCH, exist_ok=True)
    path = tempfile.mkdtemp(prefix=prefix, dir=SCRATCH)
    test.addCleanup(shutil.rmtree, path, ignore_errors=True)
    return path


def run(command, timeout=120, check=True, **kwargs):
    """Runs a command to its end; with check, it must succeed."""
    result = subprocess.run(command, capture_output=True, timeout=timeout, **kwargs)
    if check and result.returncode != 0:
        raise AssertionError("%s exited with %d\n%r\n%r" % (command, result.returncode, result.stdout[-4000:],
                                                           result.stderr[-4000:]))
    return result


_validator = None
_valid = set()  # digests of the lines already found valid: the same output is parsed again and again


def check_records(lines):
    """None when every line (bytes, no line feed) is a valid record, otherwise
    (index of the first that is not, why)."""
    global _validator
    if _validator is None:
        _validator = subprocess.Popen(["/usr/bin/python3", os.path.join(os.path.dirname(__file__), "record_validator.py")],
                                      stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        atexit.register(lambda: (_validator.stdin.close(), _validator.wait()))
    # One batch, one answer: the answer is written only after the whole batch is read.
    _validator.stdin.write(b"".join(line + b"\n" for line in lines) + b"\n")
    _validator.stdin.flush()
    answer = _validator.stdout.readline()
    if not answer:
        raise AssertionError("the record validator ended; is python3-jsonschema installed?")
    return None if answer == b"ok\n" else tuple(json.loads(answer).values())


def parse_lines(raw, records=True):
    """Splits output into JSON objects, failing on any framing fault and, for
    records, on any line that the record schema rejects."""
    if raw and not raw.endswith(b"\n"):
        raise AssertionError("output does not end with a line feed: %r" % raw[-80:])
    texts = raw.split(b"\n")[:-1]
    lines = []
    for line in texts:
        if line.endswith(b"\r") or not line:
            raise AssertionError("empty or CR-ended line in output: %r" % line[:80])
        lines.append(json.loads(line.decode("utf-8")))
        if not isinstance(lines[-1], dict):
            raise AssertionError("line is not a JSON object: %r" % line[:80])
    fresh = {d: t for t in texts if (d := hashlib.sha1(t).digest()) not in _valid} if records else {}
    if fresh and (failure := check_records(list(fresh.values()))):
        raise AssertionError("record not valid by docs/record.schema.json: %s\n%r"
                             % (failure[1], list(fresh.values())[failure[0]][:300]))
    _valid.update(fresh)
    return lines


def read_calls(path):
    """The simulator's call log, up to its last whole line."""
    if not path or not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        raw = f.read()
    return parse_lines(raw[: raw.rfind(b"\n") + 1], records=False)


def service_calls(calls):
    """The commands and seeks that reached the service, in order."""
    return [(c["call"], c.get("code", c.get("seconds"))) for c in calls if c.get("call") in ("command", "seek")]


class Result:
    def __init__(self, raw, stderr, status, calls):
        self.raw, self.stderr, self.status, self.calls = raw, stderr, status, calls
        self.lines = parse_lines(raw)


class Sim:
    """One kel-mediaremote-sim process (or another program, given as program).

    steps: scenario steps, written as JSON Lines; None runs without --scenario.
    Output is collected whenever the test waits, so the process never blocks on a
    full pipe unless the test stops reading. With nonblocking_stdout, writes to
    a full standard output fail with EAGAIN, as a host may arrange. With preload,
    the program (perl, or a Python host) gets the simulated service through the
    test-only preloaded library.
    """

    def __init__(self, steps=None, args=(), program=SIM, env=None, nonblocking_stdout=False, preload=False):
        os.makedirs(SCRATCH, exist_ok=True)
        self.dir = tempfile.mkdtemp(prefix="kel-", dir=SCRATCH)
        scenario, self.calls_path = os.path.join(self.dir, "scenario.jsonl"), None
        if steps is not None:
            with open(scenario, "w") as f:
                f.writelines((s if isinstance(s, str) else json.dumps(s)) + "\n" for s in steps)
        command = [program]
        if program == SIM:
            self.calls_path = os.path.join(self.dir, "calls.jsonl")
            command += ["--calls", self.calls_path] + (["--scenario", scenario] if steps is not None else [])
        elif preload:
            self.calls_path = os.path.join(self.dir, "calls.jsonl")
            env = dict(env or os.environ, LD_PRELOAD=PRELOAD, KEL_SIM_CALLS=self.calls_path,
                       KEL_SIM_SCENARIO=scenario if steps is not None else "")
        stdout = subprocess.PIPE
        if nonblocking_stdout:
            read_end, stdout = os.pipe()
            os.set_blocking(stdout, False)
        self.process = subprocess.Popen(command + list(args), stdin=subprocess.PIPE, stdout=stdout,
                                        stderr=subprocess.PIPE, env=env)
        if nonblocking_stdout:
            os.close(stdout)
            self.process.stdout = os.fdopen(read_end, "rb", buffering=0)
        self.out, self.err, self.newlines, self.status = bytearray(), bytearray(), 0, None
        # A bigger pipe lets multi-megabyte artwork lines through in few reads.
        fcntl.fcntl(self.process.stdout.fileno(), getattr(fcntl, "F_SETPIPE_SZ", 1031), 1 << 20)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.kill()
        shutil.rmtree(self.dir, ignore_errors=True)

    def write(self, data):
        self.process.stdin.write(data)
        self.process.stdin.flush()

    def close_stdin(self):
        if not self.process.stdin.closed:
            self.process.stdin.close()

    def pump(self, timeout):
        """Reads what is ready on stdout and stderr, waiting at most timeout seconds."""
        streams = [s for s in (self.process.stdout, self.process.stderr) if not s.closed]
        ready = select.select(streams, [], [], max(timeout, 0))[0] if streams else time.sleep(timeout)
        for stream in ready or ():
            chunk = os.read(stream.fileno(), 1 << 22)
            if not chunk:
                stream.close()
            elif stream is self.process.stdout:
                self.out += chunk
                self.newlines += chunk.count(b"\n")
            else:
                self.err += chunk
        return bool(ready)

    def wait(self, timeout):
        """Waits up to timeout seconds for the process to exit; its status, or None."""
        deadline = time.monotonic() + timeout
        while (status := self.process.poll()) is None and time.monotonic() < deadline:
            self.pump(min(deadline - time.monotonic(), 0.05))
        while self.pump(0):
            pass
        self.status = status
        return status

    def read_lines(self, count, timeout=HANG):
        """Waits until at least count lines arrived, the process ended, or timeout; all lines so far."""
        deadline = time.monotonic() + timeout
        while self.newlines < count and time.monotonic() < deadline and self.process.poll() is None:
            self.pump(min(deadline - time.monotonic(), 0.05))
        while self.newlines < count and self.pump(0):
            pass
        return parse_lines(bytes(self.out[: self.out.rfind(b"\n") + 1]))

    def read_until(self, done, timeout=HANG):
        """Reads until done(all lines so far) holds, the process ends, or timeout; the lines."""
        deadline = time.monotonic() + timeout
        while not done(self.read_lines(0, 0)) and time.monotonic() < deadline and self.process.poll() is None:
            self.pump(0.05)
        return self.read_lines(0, 0)

    def calls(self):
        return read_calls(self.calls_path)

    def peak_memory(self):
        """The process's peak resident size so far, in bytes."""
        with open("/proc/%d/status" % self.process.pid) as f:
            return next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmHWM:"))

    def kill(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGKILL)
            self.process.wait()
            while self.pump(0):
                pass
        self.close_stdin()

    def result(self):
        return Result(bytes(self.out), bytes(self.err), self.status, self.calls())


def run_sim(steps=None, stdin=b"", close_stdin=True, duration=HANG, **options):
    """Runs one process: writes stdin, closes it, and waits until the process
    exits or duration seconds pass (then kills it; status is None)."""
    with Sim(steps, **options) as sim:
        sim.write(stdin)
        if close_stdin:
            sim.close_stdin()
        sim.wait(duration)
        sim.kill()
        return sim.result()


def skip_bound(test, what):
    """Resource and timing upper bounds are asserted in the plain build only."""
    if SANITIZED:
        print("skipping %s under sanitizers" % what, file=sys.stderr)
    return not SANITIZED
