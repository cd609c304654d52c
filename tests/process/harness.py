"""Runs the hosts as a host program would, and reads back what they print.

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
import tempfile
import time

BIN = os.environ.get("KEL_BIN", os.path.join(os.path.dirname(__file__), "..", "..", "build", "gcc", "bin"))
SIM = os.path.join(BIN, "kel-mediaremote-sim")
HOST = os.path.join(BIN, "kel-mediaremote")
# The relative path from an installed tree's binary folder to its library folder.
LIBRARY_DIR = os.environ.get("KEL_LIBRARY_DIR", os.path.join("..", "lib"))
SANITIZED = bool(os.environ.get("KEL_SANITIZE"))
SCRATCH = os.environ.get("KEL_TEST_OUTPUT") or tempfile.gettempdir()
# The service's vocabulary, as src/service/service.h defines it: notification
# names, info keys, command codes, the artwork limit.
INFO_CHANGED = "kMRMediaRemoteNowPlayingInfoDidChangeNotification"
PLAYING_CHANGED = "kMRMediaRemoteNowPlayingApplicationIsPlayingDidChangeNotification"
APPLICATION_CHANGED = "kMRMediaRemoteNowPlayingApplicationDidChangeNotification"
QUEUE_CHANGED = "kMRMediaRemoteNowPlayingPlaybackQueueChangedNotification"
KEY_PREFIX = "kMRMediaRemoteNowPlayingInfo"
TITLE, ARTIST, ALBUM = KEY_PREFIX + "Title", KEY_PREFIX + "Artist", KEY_PREFIX + "Album"
DURATION, ELAPSED, RATE = KEY_PREFIX + "Duration", KEY_PREFIX + "ElapsedTime", KEY_PREFIX + "PlaybackRate"
TIMESTAMP = KEY_PREFIX + "Timestamp"
DATA, IDENTIFIER, MIME = KEY_PREFIX + "ArtworkData", KEY_PREFIX + "ArtworkIdentifier", KEY_PREFIX + "ArtworkMIMEType"
PLAY, PAUSE, TOGGLE, NEXT, PREVIOUS = 0, 1, 2, 4, 5
ARTWORK_LIMIT = 4194304
SCHEMA_PYTHON = "/usr/bin/python3"  # Debian's, which has python3-jsonschema (scripts/setup)
VALIDATOR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "record_validator.py")

_validator = None
_valid = set()  # digests of the lines already found valid: read_lines parses the same output again and again


def _validator_process():
    global _validator
    if _validator is None:
        _validator = subprocess.Popen([SCHEMA_PYTHON, VALIDATOR], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        atexit.register(_stop_validator)
    return _validator


def _stop_validator():
    try:
        _validator.stdin.close()
    except OSError:
        pass
    _validator.wait()


def check_records(lines):
    """Asks the validator about lines (bytes, without their line feeds): None when
    every one is a valid record, otherwise (index of the first that is not, why)."""
    if any(not line or b"\n" in line for line in lines):
        raise ValueError("a record to check is one line, not empty")
    process = _validator_process()
    # One batch, one answer: the answer is written only after the whole batch is read.
    process.stdin.write(b"".join(line + b"\n" for line in lines) + b"\n")
    process.stdin.flush()
    answer = process.stdout.readline()
    if not answer:
        raise AssertionError("the record validator (%s %s) ended; is python3-jsonschema installed?"
                             % (SCHEMA_PYTHON, VALIDATOR))
    if answer == b"ok\n":
        return None
    failure = json.loads(answer)
    return failure["index"], failure["error"]


def validate_records(lines):
    """Fails unless every line (bytes, without its line feed) is a valid record."""
    fresh = {}
    for line in lines:
        digest = hashlib.sha1(line).digest()
        if digest not in _valid:
            fresh[digest] = line
    if not fresh:
        return
    failure = check_records(list(fresh.values()))
    if failure is not None:
        index, why = failure
        raise AssertionError("record not valid by docs/record.schema.json: %s\n%r"
                             % (why, list(fresh.values())[index][:300]))
    _valid.update(fresh)


def parse_lines(raw, records=True):
    """Splits standard output into JSON objects, failing on any framing fault, and,
    for records, on any line that the record schema rejects."""
    if raw and not raw.endswith(b"\n"):
        raise AssertionError("output does not end with a line feed: %r" % raw[-80:])
    lines = []
    texts = raw.split(b"\n")[:-1] if raw else []
    for line in texts:
        if line.endswith(b"\r") or not line:
            raise AssertionError("empty or CR-ended line in output: %r" % line[:80])
        value = json.loads(line.decode("utf-8"))
        if not isinstance(value, dict):
            raise AssertionError("line is not a JSON object: %r" % line[:80])
        lines.append(value)
    if records:
        validate_records(texts)
    return lines


def read_calls(path, running=False):
    """The simulator's call log; while it runs, its last line may be half written."""
    if not path or not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        raw = f.read()
    if running:
        raw = raw[: raw.rfind(b"\n") + 1]
    return parse_lines(raw, records=False)


class Result:
    def __init__(self, raw, stderr, status, calls):
        self.raw = raw
        self.stderr = stderr
        self.status = status
        self.calls = calls
        self.lines = parse_lines(raw)


class Sim:
    """One kel-mediaremote-sim process (or, with program=HOST, kel-mediaremote).

    steps: a list of scenario steps, written as JSON Lines to a file; None runs
    without --scenario. Standard output is collected in the background of every
    call, so the process never blocks on a full pipe. With nonblocking_stdout,
    the process gets a standard output whose writes fail with EAGAIN when the
    pipe is full, as a host may hand over. The temporary folder goes on exit.
    """

    def __init__(self, steps=None, args=(), program=SIM, calls=True, env=None, nonblocking_stdout=False):
        os.makedirs(SCRATCH, exist_ok=True)
        self.dir = tempfile.mkdtemp(prefix="kel-", dir=SCRATCH)
        command = [program]
        if steps is not None:
            scenario = os.path.join(self.dir, "scenario.jsonl")
            with open(scenario, "w") as f:
                for step in steps:
                    f.write((step if isinstance(step, str) else json.dumps(step)) + "\n")
            command += ["--scenario", scenario]
        self.calls_path = None
        if calls and program == SIM:
            self.calls_path = os.path.join(self.dir, "calls.jsonl")
            command += ["--calls", self.calls_path]
        command += list(args)
        self.started = time.monotonic()
        stdout, child_stdout = subprocess.PIPE, None
        if nonblocking_stdout:
            read_end, child_stdout = os.pipe()
            os.set_blocking(child_stdout, False)
            stdout = child_stdout
        self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=stdout,
                                        stderr=subprocess.PIPE, env=env)
        if child_stdout is not None:
            os.close(child_stdout)
            self.process.stdout = os.fdopen(read_end, "rb", buffering=0)
        self.out = bytearray()
        self.err = bytearray()
        self.newlines = 0
        self.status = None
        # A bigger pipe lets multi-megabyte artwork lines through in few reads.
        try:
            fcntl.fcntl(self.process.stdout.fileno(), getattr(fcntl, "F_SETPIPE_SZ", 1031), 1 << 20)
        except OSError:
            pass

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

    def _pump(self, timeout):
        """Reads what is ready on stdout and stderr, for at most timeout seconds."""
        streams = [s for s in (self.process.stdout, self.process.stderr) if not s.closed]
        if not streams:
            time.sleep(timeout)
            return False
        ready, _, _ = select.select(streams, [], [], max(timeout, 0))
        for stream in ready:
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
        """Waits up to timeout seconds for the process to exit; returns its status or None."""
        deadline = time.monotonic() + timeout
        while self.status is None:
            left = deadline - time.monotonic()
            self._pump(min(max(left, 0), 0.05))
            self.status = self.process.poll()
            if self.status is None and left <= 0:
                return None
        while self._pump(0):
            pass
        return self.status

    def read_lines(self, count, timeout):
        """Waits until at least count complete lines arrived (or timeout); returns the parsed lines."""
        deadline = time.monotonic() + timeout
        while self.newlines < count and time.monotonic() < deadline:
            self._pump(min(deadline - time.monotonic(), 0.05))
            if self.process.poll() is not None:
                while self._pump(0):
                    pass
                break
        return parse_lines(bytes(self.out[: self.out.rfind(b"\n") + 1]))

    def calls(self):
        return read_calls(self.calls_path, running=self.process.poll() is None)

    def peak_memory(self):
        """The process's peak resident size so far, in bytes (0 once it has ended)."""
        try:
            with open("/proc/%d/status" % self.process.pid) as f:
                for line in f:
                    if line.startswith("VmHWM:"):
                        return int(line.split()[1]) * 1024
        except OSError:
            pass
        return 0

    def kill(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGKILL)
            self.process.wait()
            while self._pump(0):
                pass
        self.close_stdin()

    def result(self):
        return Result(bytes(self.out), bytes(self.err), self.status, self.calls())


def run_sim(steps=None, stdin=b"", duration=1.0, close_stdin=False, args=(), program=SIM, env=None):
    """Runs one process: writes stdin, optionally closes it, and waits until the
    process exits or duration seconds pass (then kills it; status is None)."""
    with Sim(steps, args=args, program=program, env=env) as sim:
        if stdin:
            sim.write(stdin)
        if close_stdin:
            sim.close_stdin()
        sim.wait(duration)
        sim.kill()
        return sim.result()
