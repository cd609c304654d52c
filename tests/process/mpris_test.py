"""The MPRIS service: the plain kel-mediaremote, whose bridge opens
libkelmprisservice.so beside itself, on a private session bus with mpv and its
MPRIS plugin (playerctl is the independent reference), and with a test double,
mpris-test-player, for the players that misbehave."""

import base64
import json
import os
import select
import signal
import socket
import struct
import subprocess
import threading
import time
import unittest
import zlib

from harness import BUILD, HANG, HOST, SANITIZED, SCRATCH, Sim, cpu_ticks, scratch_dir, skip_bound, wait_until

TRACKS = [("Harbour Lights", "The Lanterns", "Night Ferries"), ("Paper Kites", "Mira Okafor", "Small Weather")]
PLAYER, PROPERTIES = "org.mpris.MediaPlayer2.Player", "org.freedesktop.DBus.Properties"
# A space, a non-ASCII letter and a "%" in the path: the art URL arrives
# percent-encoded, and only a decoded path finds the file.
MEDIA = os.path.join(SCRATCH, "mpris-media", "cover art \u00e9 100%")
FIELDS = {"bundle": "{{playerName}}", "status": "{{status}}", "title": "{{xesam:title}}", "artist": "{{xesam:artist}}",
          "album": "{{xesam:album}}", "length": "{{mpris:length}}", "position": "{{position}}",
          "artUrl": "{{mpris:artUrl}}"}


CHUNK = lambda kind, data: struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
ROWS = b"".join(b"\0" + bytes(v for x in range(24) for v in (x * 11 % 256, y * 7, x + y)) for y in range(16))
COVER = (b"\x89PNG\r\n\x1a\n" + CHUNK(b"IHDR", struct.pack(">IIBBBBB", 24, 16, 8, 2, 0, 0, 0))
         + CHUNK(b"IDAT", zlib.compress(ROWS)) + CHUNK(b"IEND", b""))


def setUpModule():
    os.makedirs(MEDIA, exist_ok=True)
    with open(os.path.join(MEDIA, "cover.png"), "wb") as f:
        f.write(COVER)
    for number, (title, artist, album) in enumerate(TRACKS, 1):
        subprocess.run(["ffmpeg", "-loglevel", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                        "sine=frequency=%d:sample_rate=8000:duration=40" % (220 * number), "-ac", "1",
                        "-metadata", "title=" + title, "-metadata", "artist=" + artist, "-metadata", "album=" + album,
                        os.path.join(MEDIA, "%d.ogg" % number)], check=True, timeout=60)


def started(test, command, env, **options):
    process = subprocess.Popen(command, env=env, stderr=subprocess.DEVNULL, **options)
    test.addCleanup(lambda: (process.kill(), process.wait(HANG)))
    return process


class Bus:
    """A private session bus of our own dbus-daemon, and the bridges and players on it."""

    def __init__(self, test):
        self.test, self.dir = test, scratch_dir(test, "mpris-")
        address = "unix:path=" + os.path.join(self.dir, "bus")
        self.daemon = started(test, ["dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + address,
                                     "--print-address=1"], None, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
        test.addCleanup(self.daemon.stdout.close)
        if not select.select([self.daemon.stdout], [], [], HANG)[0] or not self.daemon.stdout.readline():
            raise AssertionError("dbus-daemon did not start")
        environment = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "DISPLAY", "WAYLAND_DISPLAY")}
        self.env = dict(environment, DBUS_SESSION_BUS_ADDRESS=address)

    def bridge(self):
        bridge = Sim(program=HOST, env=self.env)
        self.test.addCleanup(bridge.__exit__)
        return bridge

    def playerctl(self, *args):
        result = subprocess.run(["playerctl", *args], env=self.env, capture_output=True, text=True, timeout=HANG)
        return result.stdout.strip() if result.returncode == 0 else None

    def players(self):
        return set((self.playerctl("-l") or "").split())


class Mpv:
    """mpv with Debian's MPRIS plugin, paused on a playlist, driven through its IPC
    socket. Its bus name is "mpv", or "mpv.instance<PID>" beside another."""

    def __init__(self, test, bus, *numbers):
        self.bus, self.socket, before = bus, os.path.join(bus.dir, "mpv%d.sock" % numbers[0]), bus.players()
        started(test, ["mpv", "--no-config", "--script=/usr/lib/mpv-mpris/mpris.so", "--ao=null", "--vo=null",
                       "--idle=yes", "--pause", "--input-ipc-server=" + self.socket]
                + [os.path.join(MEDIA, "%d.ogg" % n) for n in numbers], bus.env, stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL)
        self.name = wait_until(lambda: next(iter(bus.players() - before), None), what="mpv on the bus")
        # Until the file's tags are read, mpv names the track by its file name.
        wait_until(lambda: (v := self.view()) and v["title"] == TRACKS[numbers[0] - 1][0], what="mpv's metadata")

    def command(self, *args):
        with socket.socket(socket.AF_UNIX) as s:
            s.settimeout(HANG)
            s.connect(self.socket)
            s.sendall(json.dumps({"command": list(args)}).encode() + b"\n")
            data = b"-"
            while data and b'"error"' not in data:  # a reply, or the end of the connection
                data = s.recv(65536)

    def view(self):
        """What playerctl reports of this player, or None."""
        text = self.bus.playerctl("-p", self.name, "metadata", "--format", "\t".join(FIELDS.values()))
        view = dict(zip(FIELDS, (text or "").split("\t")))
        return view if len(view) == len(FIELDS) else None


class TestPlayer:
    """The test double: a player on the bus that says what it is told to."""

    def __init__(self, test, bus, name, title="Song", status="Playing"):
        self.process = started(test, [os.path.join(BUILD, "tests", "mpris-test-player"), name], bus.env,
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        test.addCleanup(self.process.stdout.close)
        test.addCleanup(self.process.stdin.close)
        self.buffer, self.calls = b"", []
        if not any(line.get("ready") for line in self.lines(HANG)):
            raise AssertionError("the test player did not start")
        self.set_player(emit=False, PlaybackStatus=["s", status], Metadata=metadata(title))

    def lines(self, timeout):
        """The lines it said, waiting at most timeout for some."""
        if b"\n" not in self.buffer and select.select([self.process.stdout], [], [], timeout)[0]:
            chunk = os.read(self.process.stdout.fileno(), 1 << 20)
            if not chunk:
                raise AssertionError("the test player stopped talking")
            self.buffer += chunk
        *complete, self.buffer = self.buffer.split(b"\n")
        return [json.loads(line) for line in complete]

    def send(self, **command):
        self.process.stdin.write(json.dumps(command).encode() + b"\n")
        self.process.stdin.flush()
        done = False
        while not done:
            got = self.lines(HANG)
            done = {"done": True} in got
            self.calls += [line for line in got if line != {"done": True}]

    def wait_calls(self, call, count=1):
        """Waits until the player has taken count calls equal to call, for as long as calls keep coming."""
        seen, deadline = self.calls.count(call), time.monotonic() + HANG
        while seen < count and time.monotonic() < deadline:
            got = self.lines(0.1)
            self.calls += got
            seen += got.count(call)
            deadline += 0.1 * bool(got)
        if seen < count:
            raise AssertionError("the player got %d of %d %r" % (seen, count, call))

    def set_player(self, emit=True, **properties):
        """Sets Player properties ([SIG, VALUE] each) and announces them."""
        self.send(set={"interface": PLAYER, "properties": properties})
        if emit:
            self.send(emit={"interface": PROPERTIES, "member": "PropertiesChanged",
                            "args": [["s", PLAYER], ["a{sv}", properties], ["as", []]]})


def metadata(title, **more):
    return ["a{sv}", dict({"mpris:trackid": ["o", "/org/kel/track/1"], "xesam:title": ["s", title]}, **more)]


class MpvTest(unittest.TestCase):
    def test_records_and_commands_agree_with_playerctl(self):
        bus = Bus(self)
        mpv = Mpv(self, bus, 1, 2)
        bridge = bus.bridge()

        def agrees(record, status, number):
            view = wait_until(lambda: (v := mpv.view()) and (v["status"], v["title"]) == (status, TRACKS[number][0])
                              and v, what="playerctl to report " + status)
            self.assertEqual(tuple(record[k] for k in ("bundle", "playing", "rate", "duration", "artworkID")),
                             (view["bundle"], status == "Playing", int(status == "Playing"), int(view["length"]) / 1e6,
                              view["artUrl"]))
            self.assertEqual((record["title"], record["artist"], record["album"]), TRACKS[number])
            if status == "Paused":
                self.assertAlmostEqual(record["elapsed"], int(view["position"]) / 1e6, delta=0.5)
        first = bridge.next_record(what="the start-up record")
        agrees(first, "Paused", 0)
        self.assertEqual((base64.b64decode(first["artwork"], validate=True), first["artworkMIME"]),
                         (COVER, "image/png"))
        playing, paused = (lambda r: r.get("playing") is True), (lambda r: r.get("playing") is False)
        for command, shows, status, number in [
                ("play", playing, "Playing", 0), ("next", lambda r: r.get("title") == TRACKS[1][0], "Playing", 1),
                ("previous", lambda r: r.get("title") == TRACKS[0][0], "Playing", 0), ("pause", paused, "Paused", 0),
                ("toggle", playing, "Playing", 0), ("pause", paused, "Paused", 0),
                ("seek 12.5", lambda r: abs(r.get("elapsed", 0) - 12.5) < 0.5, "Paused", 0)]:
            if command == "pause":
                time.sleep(1)  # long enough that an elapsed time not read at the query shows
            bridge.write(command.encode() + b"\n")
            agrees(bridge.next_record(shows, "the effect of " + command), status, number)
        # One cover for the whole playlist: its bytes go out once, with the first record.
        self.assertEqual([r for r in bridge.finish(self) if "artwork" in r], [first])
        # A command written at once, before the service has looked at the bus.
        one_shot = bus.bridge()
        one_shot.write(b"play\n")
        self.assertEqual(len(one_shot.finish(self)), 1)
        wait_until(lambda: (mpv.view() or {}).get("status") == "Playing", what="mpv to play")


class TestPlayerTest(unittest.TestCase):
    def test_a_record_is_one_player_at_one_moment_and_the_last_is_the_latest(self):
        bus = Bus(self)
        slow = TestPlayer(self, bus, "kelslow", "title of A")
        other = TestPlayer(self, bus, "kelother", "title of B", "Paused")
        bridge = bus.bridge()
        bridge.next_record(lambda r: r.get("bundle") == "kelslow", "the slow player at start-up")
        # A query whose Position never comes is answered at its deadline, after a
        # query asked just after it and answered at once.
        for first, then, expected in [
                (lambda: slow.set_player(PlaybackStatus=["s", "Paused"]),
                 lambda: (slow.send(silent=[]), slow.set_player(PlaybackStatus=["s", "Playing"])),
                 ("kelslow", "title of A", True)),
                (lambda: bridge.write(b"refresh\n"), lambda: other.set_player(PlaybackStatus=["s", "Playing"]),
                 ("kelother", "title of B", True))]:
            slow.calls = []
            slow.send(silent=["Get"])
            first()
            slow.wait_calls({"call": "Get"})
            then()
            shown = lambda r: (r["bundle"], r.get("title"), r.get("playing"))
            bridge.next_record(lambda r: shown(r) == expected, str(expected))
            # The late answer's deadline and a window pass: the last record stays the latest.
            self.assertEqual(shown(bridge.read_lines(bridge.taken + 1, 0.6)[-1]), expected)
        for record in bridge.read_lines(0, 0):
            self.assertIn((record["bundle"], record.get("title")),
                          [("kelslow", "title of A"), ("kelother", "title of B")], "a record mixes the players")

    def test_with_the_bus_daemon_stopped_commands_wait_in_bounded_memory(self):
        bus = Bus(self)
        player, bridge = TestPlayer(self, bus, "kelstopped"), bus.bridge()
        bridge.next_record(what="the start-up record")
        os.kill(bus.daemon.pid, signal.SIGSTOP)
        self.addCleanup(os.kill, bus.daemon.pid, signal.SIGCONT)
        count, written = 3000 if SANITIZED else 60000, []
        writer = threading.Thread(target=lambda: [(bridge.write(b"toggle\n" * 1000), written.append(1000))
                                                  for _ in range(count // 1000)], daemon=True)
        writer.start()
        # The host is held back once the bridge holds about 1 MiB of commands.
        while writer.is_alive() and (before := len(written)) is not None:
            writer.join(0.5)
            if len(written) == before:
                break
        peak = bridge.peak_memory()
        print("mpris: %d of %d toggles in with the bus stopped: peak %.1f MiB" % (sum(written), count, peak / 2**20))
        if skip_bound(self, "the hold-back and the peak memory bound"):
            self.assertLess(sum(written), count, "the host was never held back")
            self.assertLess(peak, 16 * 2**20)
        os.kill(bus.daemon.pid, signal.SIGCONT)
        writer.join(HANG)
        player.wait_calls({"call": "PlayPause"}, count)
        bridge.finish(self)

    def test_idle_costs_nothing_and_every_command_before_the_end_reaches_the_player(self):
        bus = Bus(self)
        player, bridge = TestPlayer(self, bus, "kelidle", "Idle", "Paused"), bus.bridge()
        bridge.next_record(what="the start-up record")
        pid = bridge.process.pid
        ticks, switches = cpu_ticks(pid), context_switches(pid)
        self.assertEqual(len(bridge.read_lines(2, 1.0)), 1, "records while nothing changed")
        ticks, switches = cpu_ticks(pid) - ticks, context_switches(pid) - switches
        print("mpris: idle for 1 s with a paused player: %d clock ticks, %d context switches" % (ticks, switches))
        if skip_bound(self, "the idle CPU bound"):
            self.assertTrue(ticks <= 1 and switches <= 5, "threads woke up with nothing to do")
        bridge.write(b"toggle\n" * 2000)
        bridge.finish(self)
        player.wait_calls({"call": "PlayPause"}, 2000)



def context_switches(pid):
    """The voluntary and involuntary context switches of all the process's threads."""
    total = 0
    for task in os.listdir("/proc/%d/task" % pid):
        with open("/proc/%d/task/%s/status" % (pid, task)) as f:
            total += sum(int(line.split()[1]) for line in f if "ctxt_switches" in line)
    return total


if __name__ == "__main__":
    unittest.main()
