#!/usr/bin/python3
"""Process-level figures of the bridge, through kel-mediaremote-sim --scenario.

  process_bench.py --bin BUILD/bin [--records N] [--repeat R] [--out FILE]

Prints (or writes to FILE) one JSON object of figures:
  cpu: CPU time (user + system, from the child's rusage) per record with 4 MiB
       of artwork: a run of N records each with other 4,194,304-byte random
       artwork, minus a run of N records whose artwork is one byte too large (not
       sent, the same service work otherwise), divided by N; and, for reference,
       coreutils `base64 -w0` over the same files into a pipe, from one shell
       loop, minus the same loop over an empty file.
  idle: CPU of the bridge over 10 s with a scenario that changes nothing.
  memory: resident size when idle, and the peak while sending a 4 MiB record.
  latency: refresh to its record (read here), and a notification to the
       publication's first query (the calls log), against the 150 ms window.
"""

import argparse
import glob
import json
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time

# The service's vocabulary, from the process tests' one module.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "process"))
from harness import (ALBUM, ARTIST, ARTWORK_LIMIT, DATA, DURATION, ELAPSED, IDENTIFIER,  # noqa: E402
                     INFO_CHANGED as NOTE, MIME, RATE, TIMESTAMP, TITLE)
PLAYER = {"client": {"bundleIdentifier": "com.example.player"}}
TRACK = {
    TITLE: "Blue in Green",
    ARTIST: "Miles Davis",
    ALBUM: "Kind of Blue",
    DURATION: 337.2,
    ELAPSED: 12.5,
    RATE: 1,
    TIMESTAMP: {"date": 1733594434.625},
}
GAP_MS = 250  # between records: the 150 ms window and the line's writing


def artwork(path, identifier):
    return dict(TRACK, **{DATA: {"file": path},
                          IDENTIFIER: identifier,
                          MIME: "image/jpeg"})


class Bridge:
    """One kel-mediaremote-sim process whose records are read and kept only as
    their first bytes and lengths."""

    def __init__(self, sim, folder, name, steps):
        self.scenario = os.path.join(folder, name + ".jsonl")
        self.calls_path = os.path.join(folder, name + ".calls.jsonl")
        with open(self.scenario, "w") as f:
            f.writelines(json.dumps(step) + "\n" for step in steps)
        self.process = subprocess.Popen([sim, "--scenario", self.scenario, "--calls", self.calls_path],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.fd = self.process.stdout.fileno()
        try:
            import fcntl
            fcntl.fcntl(self.fd, getattr(fcntl, "F_SETPIPE_SZ", 1031), 1 << 20)
        except OSError:
            pass
        self.records = []  # (first 400 bytes, length) of each whole line
        self.head, self.length = b"", 0
        self.arrivals = []  # time.monotonic() when each line was complete

    def pump(self, timeout):
        ready, _, _ = select.select([self.fd], [], [], timeout)
        if not ready:
            return False
        chunk = os.read(self.fd, 1 << 22)
        if not chunk:
            raise RuntimeError("the bridge ended early")
        now = time.monotonic()
        while chunk:
            end = chunk.find(b"\n")
            part = chunk if end < 0 else chunk[:end]
            if len(self.head) < 400:
                self.head += part[:400 - len(self.head)]
            self.length += len(part)
            if end < 0:
                break
            self.records.append((self.head, self.length))
            self.arrivals.append(now)
            self.head, self.length = b"", 0
            chunk = chunk[end + 1:]
        return True

    def read_records(self, count, timeout):
        deadline = time.monotonic() + timeout
        while len(self.records) < count:
            if time.monotonic() > deadline:
                raise RuntimeError("%d records of %d after %s s" % (len(self.records), count, timeout))
            self.pump(0.05)

    def send(self, line):
        self.process.stdin.write(line)
        self.process.stdin.flush()

    def finish(self):
        """Closes standard input and returns the child's rusage once it has exited."""
        self.process.stdin.close()
        while True:
            pid, status, usage = os.wait4(self.process.pid, os.WNOHANG)
            if pid:
                self.process.returncode = os.waitstatus_to_exitcode(status)
                return usage
            try:
                self.pump(0.05)
            except RuntimeError:
                pass  # the end of its output

    def proc_status(self, field):
        with open("/proc/%d/status" % self.process.pid) as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1]) * 1024
        raise RuntimeError("no " + field)

    def cpu_ns(self):
        """The CPU time of the process's threads so far, in nanoseconds."""
        total = 0
        for path in glob.glob("/proc/%d/task/*/schedstat" % self.process.pid):
            try:
                with open(path) as f:
                    total += int(f.read().split()[0])
            except OSError:
                pass
        return total

    def calls(self):
        with open(self.calls_path) as f:
            return [json.loads(line) for line in f if line.strip()]


def cpu_seconds(usage):
    return usage.ru_utime + usage.ru_stime


def records_run(sim, folder, name, covers):
    """The CPU seconds of a run of one record per cover (after the start-up record),
    and the bridge, for its records and calls."""
    steps = [{"state": {"playing": True, "player": PLAYER, "info": TRACK}}]
    for index, cover in enumerate(covers):
        steps += [{"sleep": GAP_MS}, {"state": {"info": artwork(cover, "cover-%d" % index)}}, {"post": NOTE}]
    steps.append({"sleep": GAP_MS})
    bridge = Bridge(sim, folder, name, steps)
    bridge.read_records(len(covers) + 1, timeout=len(covers) * GAP_MS / 1000 + 30)
    usage = bridge.finish()
    return cpu_seconds(usage), bridge


def base64_loop(files):
    """The CPU seconds of `base64 -w0` over files, one after the other in one shell,
    writing into a pipe that is read and thrown away."""
    process = subprocess.Popen(["sh", "-c", 'for f do base64 -w0 "$f"; done', "sh"] + files,
                               stdout=subprocess.PIPE)
    fd = process.stdout.fileno()
    while os.read(fd, 1 << 22):
        pass
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        raise RuntimeError("base64 failed")
    return cpu_seconds(usage)


def measure_cpu(sim, folder, count, repeat):
    covers, oversized = [], []
    for index in range(count):
        data = os.urandom(ARTWORK_LIMIT)
        covers.append(os.path.join(folder, "cover-%d.bin" % index))
        oversized.append(os.path.join(folder, "oversized-%d.bin" % index))
        with open(covers[-1], "wb") as f:
            f.write(data)
        with open(oversized[-1], "wb") as f:
            f.write(data + b"\0")
    empty = os.path.join(folder, "empty.bin")
    open(empty, "wb").close()

    sent, unsent, encoded, idle_loop = [], [], [], []
    post_to_query = []
    for turn in range(repeat):
        seconds, bridge = records_run(sim, folder, "sent-%d" % turn, covers)
        lines = bridge.records[1:]
        if any(b'"artwork":"' not in head or length < 5592408 for head, length in lines):
            raise RuntimeError("a record with qualifying artwork came without its bytes")
        sent.append(seconds)
        calls = bridge.calls()
        for index, call in enumerate(calls):
            if "post" in call:
                query = next((c for c in calls[index:] if c.get("call") == "isPlaying"), None)
                if query:
                    post_to_query.append(query["t"] - call["t"])
        seconds, bridge = records_run(sim, folder, "unsent-%d" % turn, oversized)
        if any(b'"artwork' in head for head, _ in bridge.records):
            raise RuntimeError("oversized artwork was sent")
        unsent.append(seconds)
        encoded.append(base64_loop(covers))
        idle_loop.append(base64_loop([empty] * count))
    # The least disturbed run of each kind.
    per_record = (min(sent) - min(unsent)) / count
    per_base64 = (min(encoded) - min(idle_loop)) / count
    return {
        "records": count,
        "repeat": repeat,
        "recordMs": per_record * 1000,
        "base64Ms": per_base64 * 1000,
        "ratio": per_record / per_base64 if per_base64 > 0 else None,
        "runsSentS": sent, "runsUnsentS": unsent, "runsBase64S": encoded, "runsBase64EmptyS": idle_loop,
        "lineBytes": lines[0][1] + 1,
        "postToQueryMs": [t * 1000 for t in post_to_query],
    }


def measure_idle_and_latency(sim, folder, idle_seconds, refreshes):
    bridge = Bridge(sim, folder, "idle", [{"state": {"playing": False, "player": PLAYER, "info": TRACK}}])
    bridge.read_records(1, timeout=30)
    time.sleep(1)
    rss = bridge.proc_status("VmRSS")
    before = bridge.cpu_ns()
    time.sleep(idle_seconds)
    idle_ns = bridge.cpu_ns() - before
    latencies = []
    for _ in range(refreshes):
        have = len(bridge.records)
        sent = time.monotonic()
        bridge.send(b"refresh\n")
        bridge.read_records(have + 1, timeout=10)
        latencies.append((bridge.arrivals[have] - sent) * 1000)
        time.sleep(0.2)
    bridge.finish()
    return {"idleSeconds": idle_seconds, "idleCpuMs": idle_ns / 1e6, "idleRss": rss, "refreshMs": latencies}


def measure_memory(sim, folder):
    cover = os.path.join(folder, "memory-cover.bin")
    with open(cover, "wb") as f:
        f.write(os.urandom(ARTWORK_LIMIT))
    steps = [{"state": {"playing": True, "player": PLAYER, "info": TRACK}}, {"sleep": 1500},
             {"state": {"info": artwork(cover, "memory")}}, {"post": NOTE}, {"sleep": 1000}]
    bridge = Bridge(sim, folder, "memory", steps)
    bridge.read_records(1, timeout=30)
    time.sleep(0.8)
    before = bridge.proc_status("VmRSS")
    bridge.read_records(2, timeout=30)
    time.sleep(0.3)
    peak = bridge.proc_status("VmHWM")
    after = bridge.proc_status("VmRSS")
    bridge.finish()
    return {"rssBefore": before, "peak": peak, "rssAfter": after, "lineBytes": bridge.records[1][1] + 1}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--bin", required=True, help="the build's bin folder, with kel-mediaremote-sim")
    parser.add_argument("--records", type=int, default=32, help="records per CPU run (default 32)")
    parser.add_argument("--repeat", type=int, default=2, help="runs of each kind; the least is taken (default 2)")
    parser.add_argument("--idle-seconds", type=float, default=10)
    parser.add_argument("--out", help="write the figures here instead of standard output")
    args = parser.parse_args()
    sim = os.path.join(args.bin, "kel-mediaremote-sim")
    folder = tempfile.mkdtemp(prefix="kel-bench-")
    try:
        figures = {
            "cpu": measure_cpu(sim, folder, args.records, args.repeat),
            "idle": measure_idle_and_latency(sim, folder, args.idle_seconds, refreshes=10),
            "memory": measure_memory(sim, folder),
        }
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    text = json.dumps(figures, indent=1)
    if args.out:
        with open(args.out, "w") as f:
            f.write(text + "\n")
    else:
        print(text)


if __name__ == "__main__":
    sys.exit(main())
