"""Runs the hosts as a host program would, and holds every helper the process tests
share. Each line a host writes must end with one line feed, parse as one JSON object
and be valid by docs/record.schema.json, which this file, run as a program under
Debian's Python (it has python3-jsonschema), checks."""

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
import types

BIN = os.environ.get("KEL_BIN", os.path.join(os.path.dirname(__file__), "..", "..", "build", "gcc", "bin"))
BUILD = os.environ.get("KEL_BUILD_DIR", os.path.join(BIN, ".."))
SIM, HOST = os.path.join(BIN, "kel-mediaremote-sim"), os.path.join(BIN, "kel-mediaremote")
SCRIPT, LIBRARY = os.path.join(BIN, "kel-mediaremote.pl"), os.path.join(BIN, "libkelmediaremote.so.1")
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
ENTRY_POINTS = ["MRMediaRemoteRegisterForNowPlayingNotifications", "MRMediaRemoteGetNowPlayingInfo",
                "MRMediaRemoteGetNowPlayingApplicationIsPlaying", "MRMediaRemoteSendCommand",
                "MRMediaRemoteSetElapsedTime"]
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


def run(command, timeout=120, check=True, **options):
    """Runs a command to its end; with check, it must succeed."""
    result = subprocess.run(command, capture_output=True, timeout=timeout, **options)
    if check and result.returncode != 0:
        raise AssertionError("%s exited with %d\n%r" % (command, result.returncode, result.stderr[-4000:]))
    return result


def defined_symbols(library):
    """The names a shared library exports, sorted."""
    return sorted(line.split()[0] for line in run(["nm", "-D", "--defined-only", "--format=posix", library],
                                                  text=True).stdout.splitlines())


def skip_bound(test, what):
    """Resource and timing upper bounds are asserted in the plain build only."""
    if SANITIZED:
        print("skipping %s under sanitizers" % what, file=sys.stderr)
    return not SANITIZED


_validator, _valid = None, set()  # the digests of lines found valid: the same output is parsed again and again


def check_records(lines):
    """None when every line (bytes) is a valid record, else (index of the first that is not, why)."""
    global _validator
    if _validator is None:
        _validator = subprocess.Popen(["/usr/bin/python3", os.path.abspath(__file__)], stdin=subprocess.PIPE,
                                      stdout=subprocess.PIPE)
        atexit.register(lambda: (_validator.stdin.close(), _validator.wait()))
    _validator.stdin.write(b"".join(line + b"\n" for line in lines) + b"\n")
    _validator.stdin.flush()
    answer = _validator.stdout.readline()
    if not answer:
        raise AssertionError("the record validator ended; is python3-jsonschema installed?")
    return None if answer == b"ok\n" else tuple(json.loads(answer))


def validate():
    """The validator's loop: batches of records, one a line, each batch ended by an
    empty line and answered with "ok" or [index, why] for its first invalid record."""
    import jsonschema
    with open(os.path.join(ROOT, "docs", "record.schema.json"), encoding="utf-8") as f:
        schema = json.load(f)
    jsonschema.Draft202012Validator.check_schema(schema)
    validator, batch = jsonschema.Draft202012Validator(schema), []
    for line in sys.stdin.buffer:
        if line != b"\n":
            batch.append(line)
            continue
        errors = [(i, e) for i, line in enumerate(batch) if (e := jsonschema.exceptions.best_match(
            validator.iter_errors(json.loads(line))))]
        print(json.dumps([errors[0][0], errors[0][1].message[:300]]) if errors else "ok", flush=True)
        batch = []


def parse_lines(raw, records=True):
    """Splits output into JSON objects, failing on any framing fault and, for
    records, on any line that the record schema rejects."""
    if raw and not raw.endswith(b"\n"):
        raise AssertionError("output does not end with a line feed: %r" % raw[-80:])
    texts, lines = raw.split(b"\n")[:-1], []
    for line in texts:
        if line.endswith(b"\r") or not line or not isinstance(value := json.loads(line.decode("utf-8")), dict):
            raise AssertionError("empty, CR-ended or non-object line in output: %r" % line[:80])
        lines.append(value)
    fresh = {d: t for t in texts if (d := hashlib.sha1(t).digest()) not in _valid} if records else {}
    if fresh and (failure := check_records(list(fresh.values()))):
        raise AssertionError("record not valid by docs/record.schema.json: %s\n%r"
                             % (failure[1], list(fresh.values())[failure[0]][:300]))
    _valid.update(fresh)
    return lines


def read_calls(path):
    """The simulator's call log, up to its last whole line."""
    with open(path, "rb") if os.path.exists(path) else open(os.devnull, "rb") as f:
        raw = f.read()
    return parse_lines(raw[: raw.rfind(b"\n") + 1], records=False)


def service_calls(calls):
    """The commands and seeks that reached the service, in order."""
    return [(c["call"], c.get("code", c.get("seconds"))) for c in calls if c.get("call") in ("command", "seek")]


class Sim:
    """One kel-mediaremote-sim process (or another program, given as program).

    steps: scenario steps, written as JSON Lines; None runs without --scenario.
    Output is collected whenever the test waits, so the process blocks on a full
    pipe only while the test stops reading. With nonblocking_stdout, writes to a
    full standard output fail with EAGAIN, as a host may arrange. With preload,
    the program (perl, or a Python host) gets the simulated service through the
    test-only preloaded library.
    """

    def __init__(self, steps=None, args=(), program=SIM, env=None, nonblocking_stdout=False, preload=False):
        os.makedirs(SCRATCH, exist_ok=True)
        self.dir = tempfile.mkdtemp(prefix="kel-", dir=SCRATCH)
        scenario, self.calls_path = os.path.join(self.dir, "scenario.jsonl"), os.path.join(self.dir, "calls.jsonl")
        with open(scenario, "w") as f:
            f.writelines(json.dumps(step) + "\n" for step in steps or ())
        command = [program] + (["--calls", self.calls_path] if program == SIM else [])
        command += ["--scenario", scenario] if program == SIM and steps is not None else []
        if preload:
            env = dict(env or os.environ, LD_PRELOAD=os.path.join(BUILD, "tests", "libkelsimpreload.so"),
                       KEL_SIM_CALLS=self.calls_path, KEL_SIM_SCENARIO=scenario if steps is not None else "")
        stdout = subprocess.PIPE
        if nonblocking_stdout:
            read_end, stdout = os.pipe()
            os.set_blocking(stdout, False)
        self.process = subprocess.Popen(command + list(args), stdin=subprocess.PIPE, stdout=stdout,
                                        stderr=subprocess.PIPE, env=env)
        if nonblocking_stdout:
            os.close(stdout)
            self.process.stdout = os.fdopen(read_end, "rb", buffering=0)
        self.out, self.err, self.newlines, self.status, self.taken = bytearray(), bytearray(), 0, None, 0
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
        """Waits until at least count lines came, the process ended, or timeout; all lines so far."""
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

    def next_record(self, predicate=lambda record: True, what="a record"):
        """The first record after those already taken here that satisfies predicate."""
        deadline = time.monotonic() + HANG
        while time.monotonic() < deadline and self.process.poll() is None:
            for record in self.read_lines(self.taken + 1, 0.2)[self.taken:]:
                self.taken += 1
                if predicate(record):
                    return record
        raise AssertionError("no record with %s; the last ones: %s" % (what, [str(r)[:300] for r in self.read_lines(0, 0)[-3:]]))

    def finish(self, test, timeout=HANG):
        """Ends the input; the process must exit 0 with nothing on standard error. Its records."""
        self.close_stdin()
        test.assertEqual(self.wait(timeout), 0)
        test.assertEqual(self.result().stderr, b"")
        return self.result().lines

    def calls(self):
        return read_calls(self.calls_path)

    def peak_memory(self):
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
        raw = bytes(self.out)
        return types.SimpleNamespace(raw=raw, stderr=bytes(self.err), status=self.status, calls=self.calls(),
                                     lines=parse_lines(raw))


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


if __name__ == "__main__":
    validate()
