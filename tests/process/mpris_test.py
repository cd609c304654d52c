"""The MPRIS service against real players: the plain kel-mediaremote, whose bridge
opens libkelmprisservice.so beside itself as its now-playing service, on a private
session bus with mpv and its MPRIS plugin, and Debian's playerctl as the
independent reference. A test double
(mpris-test-player) plays the players that misbehave.

Every process a test starts is ended by its cleanup, every wait is bounded, and
every line the bridge writes is parsed on the way (harness.parse_lines)."""

import base64
import ctypes
import json
import os
import select
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import threading
import time
import unittest
import zlib

from harness import BIN, HOST, SANITIZED, SCRATCH, Sim

BUILD = os.environ.get("KEL_BUILD_DIR", os.path.join(BIN, ".."))
TEST_PLAYER = os.path.join(BUILD, "tests", "mpris-test-player")
SCRIPT = os.path.join(BIN, "kel-mediaremote.pl")
PLUGIN = "/usr/lib/mpv-mpris/mpris.so"

# Bounds on waiting: what a user would call a hang, not what a change should take.
HANG = 30 if SANITIZED else 10
TRACK_SECONDS = 40
TRACKS = [
    ("Harbour Lights", "The Lanterns", "Night Ferries"),
    ("Paper Kites", "Mira Okafor", "Small Weather"),
    ("Slow Signal", "Northbound Static", "Relay"),
]


def png(width, height):
    """A small RGB PNG, made here: signature, IHDR, one IDAT, IEND."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + b"".join(bytes((x * 11 % 256, y * 7 % 256, (x + y) % 256)) for x in range(width))
                    for y in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


MEDIA = None  # the folder of tracks and cover.png, made once for the module


def setUpModule():
    global MEDIA
    os.makedirs(SCRATCH, exist_ok=True)
    # A space, a non-ASCII letter and a "%" in the path: the art URL arrives
    # percent-encoded, and only a decoded path finds the file.
    folder = tempfile.mkdtemp(prefix="mpris-media-", dir=SCRATCH)
    unittest.addModuleCleanup(shutil.rmtree, folder, ignore_errors=True)
    MEDIA = os.path.join(folder, "cover art \u00e9 100%")
    os.makedirs(MEDIA)
    with open(os.path.join(MEDIA, "cover.png"), "wb") as f:
        f.write(png(24, 16))
    for number, (title, artist, album) in enumerate(TRACKS, 1):
        subprocess.run(["ffmpeg", "-loglevel", "error", "-nostdin", "-y", "-f", "lavfi",
                        "-i", "sine=frequency=%d:sample_rate=8000:duration=%d" % (220 * number, TRACK_SECONDS),
                        "-ac", "1", "-metadata", "title=" + title, "-metadata", "artist=" + artist,
                        "-metadata", "album=" + album, os.path.join(MEDIA, "%d.ogg" % number)],
                       check=True, timeout=60)


def track(number):
    return os.path.join(MEDIA, "%d.ogg" % number)


def cover_bytes():
    with open(os.path.join(MEDIA, "cover.png"), "rb") as f:
        return f.read()


def wait_until(condition, timeout=HANG, what="a condition"):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for %s" % what)
        time.sleep(0.05)


def end(process):
    if process.poll() is None:
        process.kill()
    process.wait(timeout=HANG)


class Bus:
    """A private session bus of our own dbus-daemon, gone at the test's end."""

    def __init__(self, test):
        self.dir = tempfile.mkdtemp(prefix="mpris-", dir=SCRATCH)
        test.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)
        self.address = "unix:path=" + os.path.join(self.dir, "bus")
        self.daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                                        "--address=" + self.address, "--print-address=1"],
                                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                       stderr=subprocess.DEVNULL)
        test.addCleanup(self.stop)
        ready, _, _ = select.select([self.daemon.stdout], [], [], HANG)
        if not ready or not self.daemon.stdout.readline():
            raise AssertionError("dbus-daemon did not start")
        environment = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "DISPLAY", "WAYLAND_DISPLAY")}
        self.env = dict(environment, DBUS_SESSION_BUS_ADDRESS=self.address)

    def stop(self):
        end(self.daemon)
        self.daemon.stdout.close()

    def playerctl(self, *args):
        result = subprocess.run(["playerctl", *args], env=self.env, capture_output=True, text=True, timeout=HANG)
        return result.stdout.strip() if result.returncode == 0 else None

    def players(self):
        return set((self.playerctl("-l") or "").split())

    def names(self):
        """The names on the bus, as the bus daemon lists them."""
        return subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                               "/org/freedesktop/DBus", "org.freedesktop.DBus.ListNames"], env=self.env,
                              capture_output=True, text=True, timeout=HANG).stdout


FORMAT = "\t".join(["{{playerName}}", "{{status}}", "{{xesam:title}}", "{{xesam:artist}}", "{{xesam:album}}",
                    "{{mpris:length}}", "{{position}}", "{{mpris:artUrl}}"])
FIELDS = ["bundle", "status", "title", "artist", "album", "length", "position", "artUrl"]


def playerctl_view(bus, player):
    """What playerctl reports of player, or None."""
    text = bus.playerctl("-p", player, "metadata", "--format", FORMAT)
    if text is None:
        return None
    view = dict(zip(FIELDS, text.split("\t")))
    return view if len(view) == len(FIELDS) else None


def loaded(view, file):
    """Whether playerctl shows the file's own tags and length."""
    view = view or {}
    return bool(view.get("title")) and view["title"] != os.path.basename(file) and bool(view.get("length"))


class Mpv:
    """mpv with Debian's MPRIS plugin, paused on a playlist, controlled through its
    IPC socket. Its bus name is "mpv", or "mpv.instance<PID>" beside another."""

    count = 0

    def __init__(self, test, bus, *files):
        Mpv.count += 1
        self.bus = bus
        self.socket = os.path.join(bus.dir, "mpv%d.sock" % Mpv.count)
        before = bus.players()
        self.process = subprocess.Popen(
            ["mpv", "--no-config", "--script=" + PLUGIN, "--ao=null", "--vo=null", "--idle=yes", "--pause",
             "--input-ipc-server=" + self.socket, *files],
            env=bus.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        test.addCleanup(end, self.process)
        self.name = wait_until(lambda: next(iter(bus.players() - before), None), what="mpv on the bus")
        # Until the file's tags are read, mpv names the track by its file name.
        wait_until(lambda: loaded(playerctl_view(bus, self.name), files[0]), what="mpv's metadata")

    def command(self, *args):
        with socket.socket(socket.AF_UNIX) as s:
            s.settimeout(HANG)
            s.connect(self.socket)
            s.sendall(json.dumps({"command": list(args)}).encode() + b"\n")
            data = b""
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    return None
                data += chunk
                for line in data.split(b"\n")[:-1]:
                    reply = json.loads(line)
                    if "error" in reply:
                        return reply

    def play(self):
        self.command("set_property", "pause", False)

    def pause(self):
        self.command("set_property", "pause", True)

    def quit(self):
        self.command("quit")
        self.process.wait(timeout=HANG)

    def view(self):
        return playerctl_view(self.bus, self.name)


class TestPlayer:
    """The test double: a player on the bus that says what it is told to."""

    def __init__(self, test, bus, *names):
        self.process = subprocess.Popen([TEST_PLAYER, *names], env=bus.env, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        test.addCleanup(self.close)
        self.buffer = b""
        self.calls = []
        ready = self.read()
        if not ready.get("ready"):
            raise AssertionError("the test player did not start: %r" % ready)

    def read(self):
        deadline = time.monotonic() + HANG
        while b"\n" not in self.buffer:
            ready, _, _ = select.select([self.process.stdout], [], [], max(deadline - time.monotonic(), 0))
            chunk = os.read(self.process.stdout.fileno(), 65536) if ready else b""
            if not chunk:
                raise AssertionError("the test player stopped talking")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return json.loads(line)

    def send(self, **command):
        self.process.stdin.write(json.dumps(command).encode() + b"\n")
        self.process.stdin.flush()
        while True:
            line = self.read()
            if line.get("done"):
                return
            self.calls.append(line)

    def wait_call(self, call):
        deadline = time.monotonic() + HANG
        while call not in self.calls:
            if time.monotonic() > deadline:
                raise AssertionError("the player never got %r; it got %r" % (call, self.calls))
            ready, _, _ = select.select([self.process.stdout], [], [], 0.1)
            if ready or b"\n" in self.buffer:
                self.calls.append(self.read())

    def count_calls(self, member, count):
        """Waits until the player got count more calls of member, for as long as they
        keep coming."""
        pattern, seen = json.dumps({"call": member}, separators=(",", ":")).encode(), 0
        deadline = time.monotonic() + HANG
        while seen < count and time.monotonic() < deadline:
            ready, _, _ = select.select([self.process.stdout], [], [], 0.1)
            if ready:
                self.buffer += os.read(self.process.stdout.fileno(), 1 << 20)
                lines, _, self.buffer = self.buffer.rpartition(b"\n")
                seen += lines.count(pattern)
                deadline = time.monotonic() + HANG
        if seen != count:
            raise AssertionError("the player got %d %s calls of %d" % (seen, member, count))

    def counted(self, member):
        """How many calls of member the player has taken."""
        self.send(counted=member)
        return [line for line in self.calls if line.get("counted") == member][-1]["calls"]

    def set_player(self, emit=True, **properties):
        """Sets Player properties ([SIG, VALUE] each) and announces them."""
        self.send(set={"interface": PLAYER, "properties": properties})
        if emit:
            self.emit_changed(PLAYER, properties)

    def emit_changed(self, interface, properties, invalidated=()):
        self.send(emit={"interface": PROPERTIES, "member": "PropertiesChanged",
                        "args": [["s", interface], ["a{sv}", properties], ["as", list(invalidated)]]})

    def close(self):
        if not self.process.stdin.closed:
            self.process.stdin.close()
        try:
            self.process.wait(timeout=HANG)
        except subprocess.TimeoutExpired:
            pass
        end(self.process)
        self.process.stdout.close()


PLAYER = "org.mpris.MediaPlayer2.Player"
ROOT = "org.mpris.MediaPlayer2"
PROPERTIES = "org.freedesktop.DBus.Properties"


class Records:
    """The bridge's records as they arrive, with the moment each was seen."""

    def __init__(self, bridge):
        self.bridge = bridge
        self.seen = 0
        self.all = []

    def next(self, predicate=lambda record: True, what="a record", timeout=HANG):
        """The first record after those already taken that satisfies predicate."""
        deadline = time.monotonic() + timeout
        while True:
            lines = self.bridge.read_lines(self.seen + 1, max(min(deadline - time.monotonic(), 0.2), 0))
            while self.seen < len(lines):
                record = lines[self.seen]
                self.seen += 1
                self.all.append(record)
                if predicate(record):
                    return record
            if time.monotonic() > deadline or self.bridge.process.poll() is not None:
                raise AssertionError("no record with %s; the last ones: %r" % (what, self.all[-3:]))

    def after(self, command, predicate, what):
        """Writes command and returns the first record that shows its effect, and the delay."""
        started = time.monotonic()
        self.bridge.write(command.encode() + b"\n")
        record = self.next(predicate, what)
        return record, time.monotonic() - started


def assert_agrees(test, record, view, elapsed=True):
    """The record says what playerctl says."""
    test.assertIsNotNone(view, "playerctl sees no player")
    test.assertEqual(record["bundle"], view["bundle"])
    test.assertEqual(record["playing"], view["status"] == "Playing")
    for member in ("title", "artist", "album"):
        test.assertEqual(record.get(member), view[member] or None, member)
    test.assertEqual(record.get("duration"), int(view["length"]) / 1e6)
    test.assertEqual(record.get("artworkID"), view["artUrl"])
    if elapsed:
        test.assertAlmostEqual(record["elapsed"], int(view["position"]) / 1e6, delta=0.5)


def is_no_player(record):
    return record == {"bundle": None}


class MpvSessionTest(unittest.TestCase):
    def test_records_and_commands_agree_with_playerctl(self):
        bus = Bus(self)
        mpv = Mpv(self, bus, track(1), track(2), track(3))
        with Sim(program=HOST, env=bus.env) as bridge:
            records = Records(bridge)
            first = records.next(what="the start-up record")
            assert_agrees(self, first, mpv.view())
            self.assertEqual(first["rate"], 0)
            self.assertEqual(base64.b64decode(first["artwork"], validate=True), cover_bytes())
            self.assertEqual(first["artworkMIME"], "image/png")

            steps = [
                ("play", lambda r: r.get("playing") is True, "Playing", TRACKS[0]),
                ("pause", lambda r: r.get("playing") is False, "Paused", TRACKS[0]),
                ("toggle", lambda r: r.get("playing") is True, "Playing", TRACKS[0]),
                ("next", lambda r: r.get("title") == TRACKS[1][0], "Playing", TRACKS[1]),
                ("previous", lambda r: r.get("title") == TRACKS[0][0], "Playing", TRACKS[0]),
                ("pause", lambda r: r.get("playing") is False, "Paused", TRACKS[0]),
                ("seek 12.5", lambda r: abs(r.get("elapsed", 0) - 12.5) < 0.5, "Paused", TRACKS[0]),
            ]
            for command, shows, status, (title, artist, album) in steps:
                if command == "pause" and records.all[-1]["playing"]:
                    # Long enough that an elapsed time not read at the query shows.
                    time.sleep(1.5)
                with self.subTest(command=command):
                    record, delay = records.after(command, shows, "the effect of " + command)
                    print("mpris: %-9s -> record in %.3f s" % (command, delay))
                    view = wait_until(lambda: (v := mpv.view()) and v["status"] == status and v["title"] == title
                                      and v, what="playerctl to report %s" % status)
                    assert_agrees(self, record, view, elapsed=status == "Paused")
                    self.assertEqual((record["title"], record["artist"], record["album"]), (title, artist, album))
                    self.assertEqual(record["rate"], 1 if status == "Playing" else 0)
            self.assertAlmostEqual(int(mpv.view()["position"]) / 1e6, 12.5, delta=0.5)

            bridge.close_stdin()
            self.assertEqual(bridge.wait(HANG), 0)
            result = bridge.result()
        self.assertEqual(result.stderr, b"")
        # One cover for the whole playlist: its bytes go out once, with the first record.
        self.assertEqual([r for r in result.lines if "artwork" in r], [first])
        self.assertTrue(all(r.get("artworkID") == first["artworkID"] for r in result.lines))


    def test_one_shot_commands_find_the_player(self):
        # A command written at once, before the service has looked at the bus.
        bus = Bus(self)
        mpv = Mpv(self, bus, track(1))
        for command, status in (("play", "Playing"), ("pause", "Paused"), ("toggle", "Playing")):
            with self.subTest(command=command), Sim(program=HOST, env=bus.env) as bridge:
                bridge.write(command.encode() + b"\n")
                bridge.close_stdin()
                self.assertEqual(bridge.wait(HANG), 0)
                result = bridge.result()
                self.assertEqual(len(result.lines), 1)
                self.assertEqual(result.stderr, b"")
                wait_until(lambda: (mpv.view() or {}).get("status") == status, what="mpv to be " + status)


class ChoiceTest(unittest.TestCase):
    def test_the_player_that_started_playing_last_is_the_one(self):
        bus = Bus(self)
        # playerctld proxies whichever player is active under a name of its own; it
        # is not a player to choose.
        proxy = subprocess.Popen(["playerctld"], env=bus.env, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(end, proxy)
        first = Mpv(self, bus, track(1))
        second = Mpv(self, bus, track(2))
        self.assertTrue(second.name.startswith("mpv.instance"), second.name)
        with Sim(program=HOST, env=bus.env) as bridge:
            records = Records(bridge)
            records.next(lambda r: r.get("bundle") == "mpv", "a player at start-up")
            first.play()
            records.next(lambda r: r.get("title") == TRACKS[0][0] and r["playing"], "the first mpv playing")
            second.play()
            records.next(lambda r: r.get("title") == TRACKS[1][0] and r["playing"], "the second mpv playing")
            # Both play; the first starts again, so it is the one that started last.
            first.pause()
            wait_until(lambda: (first.view() or {}).get("status") == "Paused", what="the first mpv to pause")
            first.play()
            records.next(lambda r: r.get("title") == TRACKS[0][0] and r["playing"], "the first mpv again")
            first.quit()
            records.next(lambda r: r.get("title") == TRACKS[1][0] and r["playing"], "the second mpv after the first quit")
            second.quit()
            records.next(is_no_player, "no player once both quit")
            bridge.close_stdin()
            self.assertEqual(bridge.wait(HANG), 0)
            result = bridge.result()
        self.assertEqual(result.stderr, b"")
        self.assertTrue(all(r["bundle"] in (None, "mpv") for r in result.lines), result.lines)
        self.assertIn("org.mpris.MediaPlayer2.playerctld", bus.names(),
                      "playerctld was not on the bus, so the test proved nothing")


class NoBusTest(unittest.TestCase):
    def test_without_a_session_bus_there_is_no_player(self):
        empty = tempfile.mkdtemp(prefix="mpris-nobus-", dir=SCRATCH)
        self.addCleanup(shutil.rmtree, empty, ignore_errors=True)
        base = {k: v for k, v in os.environ.items() if k not in ("DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR")}
        cases = {
            "no address": dict(base, XDG_RUNTIME_DIR=empty),
            "no address, no runtime folder": base,
            "an address nobody listens on": dict(base, DBUS_SESSION_BUS_ADDRESS="unix:path=" + os.path.join(empty, "bus")),
            "an address that is not one": dict(base, DBUS_SESSION_BUS_ADDRESS="bogus:"),
        }
        for name, env in cases.items():
            with self.subTest(case=name), Sim(program=HOST, env=env) as bridge:
                bridge.write(b"play\ntoggle\nnext\nprevious\npause\nseek 3\n")
                bridge.close_stdin()
                self.assertEqual(bridge.wait(HANG), 0)
                result = bridge.result()
                self.assertEqual(result.lines, [{"bundle": None}])
                self.assertEqual(result.stderr, b"")

    def test_a_bus_that_goes_away_leaves_no_player(self):
        bus = Bus(self)
        mpv = Mpv(self, bus, track(1))
        mpv.play()
        with Sim(program=HOST, env=bus.env) as bridge:
            records = Records(bridge)
            records.next(lambda r: r.get("playing") is True, "mpv playing")
            bus.stop()
            records.next(is_no_player, "no player once the bus is gone")
            bridge.write(b"pause\nrefresh\n")
            records.next(is_no_player, "no player on refresh")
            bridge.close_stdin()
            self.assertEqual(bridge.wait(HANG), 0)
            self.assertEqual(bridge.result().stderr, b"")


def metadata(title, **more):
    entries = {"mpris:trackid": ["o", "/org/kel/track/1"], "xesam:title": ["s", title]}
    entries.update(more)
    return ["a{sv}", entries]


def data_id(url, payload):
    """A data: URL's artwork identity: its media type, length and FNV-1a digest."""
    digest = 0xcbf29ce484222325
    for byte in payload:
        digest = ((digest ^ byte) * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
    return "data:%s;%d;%016x" % (url[5:].split(",")[0].split(";")[0], len(payload), digest)


class SlowFiles:
    """A FUSE file system of our own (it needs root) whose files take their time:
    files maps a name to (bytes, seconds the first read of each open takes)."""

    def __init__(self, test, files):
        self.files = files
        self.dir = tempfile.mkdtemp(prefix="mpris-fuse-", dir=SCRATCH)
        self.fd = os.open("/dev/fuse", os.O_RDWR)
        libc = ctypes.CDLL(None, use_errno=True)
        options = "fd=%d,rootmode=40000,user_id=0,group_id=0,allow_other" % self.fd
        if libc.mount(b"kel", self.dir.encode(), b"fuse.kel", 6, options.encode()) != 0:
            raise AssertionError("FUSE mount failed: errno %d" % ctypes.get_errno())
        test.addCleanup(lambda: (libc.umount2(self.dir.encode(), 2), os.close(self.fd), os.rmdir(self.dir)))
        threading.Thread(target=self.serve, daemon=True).start()

    def attr(self, node):
        data = list(self.files.values())[node - 2][0] if node > 1 else b""
        mode = 0o100644 if node > 1 else 0o40755
        return struct.pack("<6Q3I7I", node, len(data), 0, 0, 0, 0, 0, 0, 0, mode, 1, 0, 0, 0, 4096, 0)

    def serve(self):
        while True:
            try:
                request = os.read(self.fd, 1 << 17)
            except OSError:
                return
            _, opcode, unique, node = struct.unpack_from("<IIQQ", request)
            body = request[40:]

            def reply(data=b"", error=0, unique=unique):
                try:
                    os.write(self.fd, struct.pack("<IiQ", 16 + len(data), error, unique) + data)
                except OSError:
                    pass
            if opcode == 26:  # INIT, answered as protocol 7.31
                reply(struct.pack("<4I2H2I2HI", 7, 31, struct.unpack_from("<3I", body)[2], 0, 0, 0, 65536, 0, 0, 0, 0)
                      + bytes(28))
            elif opcode == 1:  # LOOKUP
                name = body.split(b"\0")[0].decode()
                if name in self.files:
                    found = list(self.files).index(name) + 2
                    reply(struct.pack("<4Q2I", found, 0, 0, 0, 0, 0) + self.attr(found))
                else:
                    reply(error=-2)
            elif opcode == 3:  # GETATTR
                reply(struct.pack("<QII", 0, 0, 0) + self.attr(node))
            elif opcode == 14:  # OPEN, without the page cache
                reply(struct.pack("<QII", 0, 1, 0))
            elif opcode == 15:  # READ
                _, offset, size = struct.unpack_from("<QQI", body)
                data, delay = list(self.files.values())[node - 2]
                timer = threading.Timer(delay if offset == 0 else 0, reply, (data[offset:offset + size],))
                timer.daemon = True
                timer.start()
            elif opcode in (18, 25):  # RELEASE, FLUSH
                reply()
            elif opcode not in (2, 36, 42):  # FORGET, INTERRUPT, BATCH_FORGET get no answer
                reply(error=-38)


def data_url(header, payload, encode):
    if encode == "base64":
        return "data:%s;base64,%s" % (header, base64.b64encode(payload).decode())
    return "data:%s,%s" % (header, "".join("%%%02X" % b for b in payload))


class MisbehavingPlayerTest(unittest.TestCase):
    """Players that hang, say the wrong types, or name artwork in odd ways: the
    bridge goes on answering, with whole lines, and shows what can be shown."""

    def setUp(self):
        self.bus = Bus(self)
        self.scratch = tempfile.mkdtemp(prefix="mpris-art-", dir=SCRATCH)
        self.addCleanup(shutil.rmtree, self.scratch, ignore_errors=True)

    def start_bridge(self):
        bridge = Sim(program=HOST, env=self.bus.env)
        self.addCleanup(bridge.__exit__)
        return bridge, Records(bridge)

    def test_a_player_that_never_answers_get(self):
        player = TestPlayer(self, self.bus, "kelhang")
        player.send(set={"interface": ROOT, "properties": {"DesktopEntry": ["s", "org.example.hang"]}})
        player.set_player(emit=False, PlaybackStatus=["s", "Playing"], Rate=["d", 1.0], Position=["x", 5000000],
                          Metadata=metadata("Hanging On", **{"mpris:length": ["x", 60000000]}))
        # GetAll still answers; Get, which reads the position and DesktopEntry, never does.
        player.send(silent=["Get"])
        bridge, records = self.start_bridge()
        first = records.next(what="the start-up record")
        # What is known: the position GetAll gave, with the moment it was read.
        self.assertEqual({k: v for k, v in first.items() if k != "timestamp"},
                         {"bundle": "kelhang", "playing": True, "title": "Hanging On", "duration": 60,
                          "elapsed": 5, "rate": 1})
        self.assertAlmostEqual(first["timestamp"], time.time(), delta=HANG)
        for _ in range(3):
            record, delay = records.after("refresh", lambda r: True, "a record after refresh")
            print("mpris: refresh with a hanging player -> record in %.3f s" % delay)
            self.assertEqual(record, first)
        # Commands still reach it; the seek names the track and microseconds.
        bridge.write(b"pause\nseek 12.5\nnext\n")
        player.wait_call({"call": "Pause"})
        player.wait_call({"call": "SetPosition", "track": "/org/kel/track/1", "position": 12500000})
        player.wait_call({"call": "Next"})
        bridge.close_stdin()
        self.assertEqual(bridge.wait(HANG), 0)
        self.assertEqual(bridge.result().stderr, b"")

    def test_values_of_the_wrong_types_are_left_out(self):
        player = TestPlayer(self, self.bus, "kelwrong")
        player.set_player(emit=False, PlaybackStatus=["s", "Paused"], Metadata=metadata("Start"))
        bridge, records = self.start_bridge()
        records.next(lambda r: r.get("title") == "Start", "the start-up record")
        wrong = metadata("Wrong Types", **{
            "xesam:artist": ["s", "not an array"], "xesam:album": ["i", 7], "mpris:length": ["d", 12.5],
            "mpris:artUrl": ["as", ["file:///nothing"]], "xesam:genre": ["ai", [1, 2]],
            "kel:nested": ["v", ["a{sv}", {"deeper": ["v", ["s", "x"]]}]]})
        cases = [
            ("wrong metadata values", dict(PlaybackStatus=["s", "Playing"], Rate=["s", "fast"], Metadata=wrong),
             {"bundle": "kelwrong", "playing": True, "title": "Wrong Types"}),
            ("a status that is not a string", dict(PlaybackStatus=["i", 1]),
             {"bundle": "kelwrong", "playing": False, "title": "Wrong Types", "rate": 0}),
            ("metadata that is not a dictionary", dict(Metadata=["s", "junk"]), {"bundle": None}),
            ("artists joined, lengths as uint64, and a rate",
             dict(PlaybackStatus=["s", "Playing"], Rate=["d", 1.5], Metadata=metadata("Back", **{
                 "xesam:artist": ["as", ["Ana", "Bo", "C\u00e9"]], "mpris:length": ["t", 90500000]})),
             {"bundle": "kelwrong", "playing": True, "title": "Back", "artist": "Ana, Bo, C\u00e9",
              "duration": 90.5, "rate": 1.5}),
        ]
        for name, properties, expected in cases:
            with self.subTest(case=name):
                player.set_player(**properties)
                record = records.next(lambda r: r.get("title") == expected.get("title") and
                                      r.get("playing") == expected.get("playing"), name)
                # Get answers the position each time: the members it gives come too.
                self.assertEqual({k: v for k, v in record.items() if k not in ("elapsed", "timestamp")}, expected)
        # Signals of the wrong shape change nothing and cost nothing.
        player.send(emit={"interface": PLAYER, "member": "Seeked", "args": [["s", "soon"]]})
        player.send(emit={"interface": PROPERTIES, "member": "PropertiesChanged", "args": [["i", 5]]})
        player.send(emit={"interface": PROPERTIES, "member": "PropertiesChanged",
                          "args": [["s", PLAYER], ["a{ss}", {"PlaybackStatus": "Paused"}], ["as", []]]})
        player.emit_changed(PLAYER, {}, invalidated=["Metadata"])
        record, _ = records.after("refresh", lambda r: True, "a record after the odd signals")
        self.assertEqual(record["title"], "Back")
        self.assertTrue(record["playing"])
        bridge.close_stdin()
        self.assertEqual(bridge.wait(HANG), 0)
        self.assertEqual(bridge.result().stderr, b"")

    def write_file(self, name, data):
        path = os.path.join(self.scratch, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_artwork_urls(self):
        cover = cover_bytes()
        jpeg = b"\xff\xd8\xff\xe0" + bytes(range(256)) * 3
        gif = b"GIF89a" + bytes(range(40))
        webp = b"RIFF\x10\x00\x00\x00WEBPVP8 " + bytes(20)
        plain = b"no image signature here \x00\x01\x02"
        limit = 4194304
        at_limit = self.write_file("at limit.png", cover + bytes(limit - len(cover)))
        over_limit = self.write_file("over.png", cover + bytes(limit + 1 - len(cover)))
        fifo = os.path.join(self.scratch, "fifo")
        os.mkfifo(fifo)
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(4)
        listener.setblocking(False)
        self.addCleanup(listener.close)
        web = "http://127.0.0.1:%d/cover.png" % listener.getsockname()[1]

        def file_url(path):
            return "file://" + "".join(c if c.isalnum() or c in "/._-" else "".join("%%%02X" % b for b in c.encode())
                                       for c in path)

        cases = [
            ("png in base64", data_url("image/png", cover, "base64"), cover, "image/png"),
            ("jpeg percent-encoded", data_url("application/octet-stream", jpeg, "percent"), jpeg, "image/jpeg"),
            ("gif in base64 without a type", data_url("", gif, "base64"), gif, "image/gif"),
            ("webp percent-encoded", data_url("image/webp", webp, "percent"), webp, "image/webp"),
            ("bytes of no known type", data_url("image/png", plain, "base64"), plain, None),
            ("a file at the limit", file_url(at_limit), cover + bytes(limit - len(cover)), "image/png"),
            ("a file over the limit", file_url(over_limit), None, None),
            ("file://localhost", "file://localhost" + file_url(at_limit)[7:], cover + bytes(limit - len(cover)), "image/png"),
            ("a file on another host", "file://elsewhere" + file_url(at_limit)[7:], None, None),
            ("a device", "file:///dev/zero", None, None),
            ("a FIFO", file_url(fifo), None, None),
            ("a missing file", file_url(os.path.join(self.scratch, "missing.png")), None, None),
            ("http", web, None, None),
            ("not base64", "data:image/png;base64,@@@@", None, None),
        ]
        player = TestPlayer(self, self.bus, "kelart")
        player.set_player(emit=False, PlaybackStatus=["s", "Paused"], Metadata=metadata("Art 0"))
        bridge, records = self.start_bridge()
        records.next(lambda r: r.get("title") == "Art 0", "the start-up record")
        for number, (name, url, data, mime) in enumerate(cases, 1):
            with self.subTest(case=name):
                title = "Art %d" % number
                player.set_player(Metadata=metadata(title, **{"mpris:artUrl": ["s", url]}))
                record = records.next(lambda r: r.get("title") == title, name)
                if data is None:
                    self.assertNotIn("artworkID", record)
                    self.assertNotIn("artwork", record)
                else:
                    # A data: URL is named by a short identity, not by its whole text.
                    self.assertEqual(record["artworkID"], data_id(url, data) if url.startswith("data:") else url)
                    self.assertEqual(base64.b64decode(record["artwork"], validate=True), data)
                    self.assertEqual(record.get("artworkMIME"), mime)
        with self.assertRaises(BlockingIOError):
            listener.accept()
        bridge.close_stdin()
        self.assertEqual(bridge.wait(HANG), 0)
        self.assertEqual(bridge.result().stderr, b"")

    def test_every_command_written_before_the_end_reaches_the_player(self):
        player = TestPlayer(self, self.bus, "kelburst")
        player.set_player(emit=False, PlaybackStatus=["s", "Playing"], Metadata=metadata("Burst"))
        bridge, records = self.start_bridge()
        records.next(what="the start-up record")
        bridge.write(b"toggle\n" * 2000)
        bridge.close_stdin()
        self.assertEqual(bridge.wait(HANG), 0)
        player.count_calls("PlayPause", 2000)

    def test_with_the_bus_daemon_stopped_commands_wait_in_bounded_memory(self):
        player = TestPlayer(self, self.bus, "kelstopped")
        player.set_player(emit=False, PlaybackStatus=["s", "Playing"], Metadata=metadata("Stopped Bus"))
        bridge, records = self.start_bridge()
        records.next(what="the start-up record")
        os.kill(self.bus.daemon.pid, signal.SIGSTOP)
        count, written = 3000 if SANITIZED else 300000, []

        def write():
            for _ in range(count // 1000):
                bridge.write(b"toggle\n" * 1000)
                written.append(1000)
        writer = threading.Thread(target=write, daemon=True)
        writer.start()
        # The host is held back once the bridge holds about 1 MiB of commands.
        while writer.is_alive():
            before = len(written)
            writer.join(1)
            if len(written) == before:
                break
        peak = bridge.peak_memory()
        print("mpris: %d toggles written of %d, bus daemon stopped: peak %.1f MiB"
              % (sum(written), count, peak / 2**20))
        if not SANITIZED:
            self.assertLess(peak, 16 * 2**20)
        os.kill(self.bus.daemon.pid, signal.SIGCONT)
        player.count_calls("PlayPause", count)
        bridge.close_stdin()
        self.assertEqual(bridge.wait(HANG), 0)

    def test_a_record_is_one_player_at_one_moment_and_the_last_is_the_latest(self):
        slow = TestPlayer(self, self.bus, "kelslow")
        slow.set_player(emit=False, PlaybackStatus=["s", "Playing"], Metadata=metadata("title of A"))
        other = TestPlayer(self, self.bus, "kelother")
        other.set_player(emit=False, PlaybackStatus=["s", "Paused"], Metadata=metadata("title of B"))
        bridge, records = self.start_bridge()
        records.next(lambda r: r.get("bundle") == "kelslow", "the slow player at start-up")
        # A query whose Position never comes is answered at its timeout, after a
        # query asked just after it and answered at once.
        cases = [
            ("pause, and play again",
             lambda: (slow.send(silent=["Get"]), slow.set_player(PlaybackStatus=["s", "Paused"])),
             lambda: (slow.send(silent=[]), slow.set_player(PlaybackStatus=["s", "Playing"])),
             ("kelslow", "title of A", True)),
            ("another player starts while the slow one answers",
             lambda: (slow.send(silent=["Get"]), bridge.write(b"refresh\n")),
             lambda: other.set_player(PlaybackStatus=["s", "Playing"]), ("kelother", "title of B", True)),
        ]
        for name, first, then, expected in cases:
            with self.subTest(case=name):
                slow.calls = []
                first()
                slow.wait_call({"call": "Get"})
                then()
                records.next(lambda r: (r["bundle"], r.get("title"), r.get("playing")) == expected, name)
                # Longer than any answer can take.
                time.sleep(1.5)
                last = bridge.read_lines(0, 0)[-1]
                self.assertEqual((last["bundle"], last.get("title"), last.get("playing")), expected)
        for record in bridge.read_lines(0, 0):
            self.assertIn((record["bundle"], record.get("title")), [("kelslow", "title of A"), ("kelother", "title of B")])

    @unittest.skipUnless(os.geteuid() == 0 and os.path.exists("/dev/fuse"), "a FUSE mount of our own needs root")
    def test_artwork_whose_read_blocks_holds_nothing_up(self):
        cover = cover_bytes()
        files = SlowFiles(self, {"slow.png": (cover, 4), "hung.png": (cover, 120)})
        player = TestPlayer(self, self.bus, "kelfuse")
        art = lambda name: {"mpris:artUrl": ["s", "file://%s/%s" % (files.dir, name)]}
        player.set_player(emit=False, PlaybackStatus=["s", "Playing"], Metadata=metadata("Slow Art", **art("slow.png")))
        bridge, records = self.start_bridge()
        # Without the artwork, as the read has not ended; with it once it has.
        self.assertNotIn("artworkID", records.next(what="the start-up record"))
        self.assertEqual(base64.b64decode(records.next(lambda r: "artwork" in r, "the artwork read late")["artwork"]),
                         cover)
        # A read that hangs holds up neither records, nor commands, nor the exit.
        player.set_player(Metadata=metadata("Hung Art", **art("hung.png")))
        self.assertNotIn("artworkID", records.next(lambda r: r.get("title") == "Hung Art", "the track with hung art"))
        bridge.write(b"pause\n")
        player.wait_call({"call": "Pause"})
        bridge.close_stdin()
        self.assertEqual(bridge.wait(HANG), 0)
        self.assertEqual(bridge.result().stderr, b"")

    def test_one_process_with_two_names_is_one_player(self):
        player = TestPlayer(self, self.bus, "kelvlc", "kelvlc.instance42")
        player.set_player(emit=False, PlaybackStatus=["s", "Playing"], Metadata=metadata("Both Names"))
        bridge, records = self.start_bridge()
        record = records.next(lambda r: r.get("title") == "Both Names", "the start-up record")
        # No DesktopEntry: the bus name, without its prefix and instance suffix.
        self.assertEqual(record["bundle"], "kelvlc")
        # Losing one of its names leaves the player: it still has the other.
        player.send(release="kelvlc")
        record, _ = records.after("refresh", lambda r: True, "a record after one name went")
        self.assertEqual(record["bundle"], "kelvlc")
        self.assertEqual(record["title"], "Both Names")
        player.send(set={"interface": ROOT, "properties": {"DesktopEntry": ["s", "org.example.KelVLC"]}})
        player.emit_changed(ROOT, {"DesktopEntry": ["s", "org.example.KelVLC"]})
        records.next(lambda r: r.get("bundle") == "org.example.KelVLC", "the DesktopEntry as the bundle")
        player.send(release="kelvlc.instance42")
        records.next(is_no_player, "no player once it has no name")
        bridge.close_stdin()
        self.assertEqual(bridge.wait(HANG), 0)
        self.assertEqual(bridge.result().stderr, b"")


    def test_lookups_of_identifiers_gone_are_freed(self):
        player = TestPlayer(self, self.bus, "kelnames")
        player.set_player(emit=False, PlaybackStatus=["s", "Playing"], Metadata=metadata("Many Names"))
        bridge, records = self.start_bridge()
        records.next(what="the start-up record")
        # Long identifiers, so that lookup objects kept for each would show.
        count = 3 if SANITIZED else 32
        for number in range(count):
            entry = "org.example.kel%d.%s" % (number, "x" * (1 << 19))
            player.send(set={"interface": ROOT, "properties": {"DesktopEntry": ["s", entry]}})
            player.emit_changed(ROOT, {"DesktopEntry": ["s", entry]})
            records.next(lambda r: r.get("bundle") == entry, "the bundle of DesktopEntry %d" % number)
        peak = bridge.peak_memory()
        print("mpris: %d identifiers of 512 KiB shown: peak %.1f MiB" % (count, peak / 2**20))
        if not SANITIZED:
            self.assertLess(peak, 16 * 2**20)
        bridge.close_stdin()
        self.assertEqual(bridge.wait(HANG), 0)

    def test_invalidated_properties_are_read_once_per_burst(self):
        player = TestPlayer(self, self.bus, "kelburst")
        player.set_player(emit=False, PlaybackStatus=["s", "Playing"], Metadata=metadata("Burst"))
        bridge, records = self.start_bridge()
        records.next(what="the start-up record")
        gets = [player.counted("Get")]
        player.send(emit={"interface": PROPERTIES, "member": "PropertiesChanged",
                          "args": [["s", PLAYER], ["a{sv}", {}], ["as", ["Metadata"]]]}, times=1000)

        def settled():
            time.sleep(0.5)
            gets.append(player.counted("Get"))
            return gets[-1] > gets[0] and gets[-1] == gets[-2]
        wait_until(settled, what="the reads to end")
        print("mpris: 1000 invalidations of Metadata -> %d Get calls" % (gets[-1] - gets[0]))
        self.assertLess(gets[-1] - gets[0], 100)
        bridge.close_stdin()
        self.assertEqual(bridge.wait(HANG), 0)


class InstallTest(unittest.TestCase):
    def test_the_installed_service_runs_beside_the_library(self):
        prefix = tempfile.mkdtemp(prefix="mpris-install-", dir=SCRATCH)
        self.addCleanup(shutil.rmtree, prefix, ignore_errors=True)
        subprocess.run([os.environ.get("KEL_CMAKE", "cmake"), "--install", BUILD, "--prefix", prefix],
                       check=True, capture_output=True, timeout=120)
        libdir = next(root for root, _, files in os.walk(prefix) if "libkelmediaremote.so.1" in files)
        service = os.path.join(libdir, "libkelmprisservice.so")
        self.assertTrue(os.path.isfile(service), sorted(os.listdir(libdir)))
        dynamic = subprocess.run(["readelf", "-d", service], capture_output=True, text=True, check=True).stdout
        self.assertIn("Library runpath: [$ORIGIN]", dynamic)
        symbols = subprocess.run(["nm", "-D", "--defined-only", "--format=posix", service],
                                 capture_output=True, text=True, check=True).stdout.split("\n")
        self.assertEqual(sorted(line.split()[0] for line in symbols if line.strip()), sorted([
            "MRMediaRemoteRegisterForNowPlayingNotifications", "MRMediaRemoteGetNowPlayingInfo",
            "MRMediaRemoteGetNowPlayingApplicationIsPlaying", "MRMediaRemoteSendCommand",
            "MRMediaRemoteSetElapsedTime"]))
        bus = Bus(self)
        player = TestPlayer(self, bus, "kelinstalled")
        player.set_player(emit=False, PlaybackStatus=["s", "Playing"], Metadata=metadata("Installed"))
        # The installed host, whose bridge opens the service beside itself.
        with Sim(program=os.path.join(prefix, "bin", "kel-mediaremote"), env=bus.env) as bridge:
            bridge.write(b"pause\n")
            bridge.close_stdin()
            self.assertEqual(bridge.wait(HANG), 0)
            result = bridge.result()
        self.assertEqual(result.stderr, b"")
        self.assertEqual(result.lines, [{"bundle": "kelinstalled", "playing": True, "title": "Installed"}])
        player.wait_call({"call": "Pause"})


def cpu_ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime and stime


class IdleTest(unittest.TestCase):
    @unittest.skipIf(SANITIZED, "the idle CPU bound is asserted in the plain build only")
    def test_idle_with_a_paused_player_costs_nothing(self):
        bus = Bus(self)
        Mpv(self, bus, track(1))
        with Sim(program=HOST, env=bus.env) as bridge:
            Records(bridge).next(lambda r: r.get("title") == TRACKS[0][0] and "duration" in r,
                                 "the paused player with its track loaded")
            # mpv may still report what it finished loading (on a busy machine, a
            # second later); idle starts once it has gone quiet.
            time.sleep(1)
            lines = bridge.newlines
            before = cpu_ticks(bridge.process.pid)
            time.sleep(10)
            used = cpu_ticks(bridge.process.pid) - before
            print("mpris: idle for 10 s with a paused player: %d clock ticks" % used)
            self.assertLessEqual(used, 1)
            self.assertEqual(bridge.newlines, lines, "records while nothing changed")


class PerlHostTest(unittest.TestCase):
    @unittest.skipIf(SANITIZED, "perl cannot load sanitized libraries")
    def test_the_perl_host_runs_against_the_mpris_service(self):
        bus = Bus(self)
        mpv = Mpv(self, bus, track(1), track(2))
        with Sim(program=SCRIPT, env=bus.env) as perl:
            records = Records(perl)
            first = records.next(what="the start-up record")
            assert_agrees(self, first, mpv.view())
            records.after("play", lambda r: r.get("playing") is True, "playing")
            records.after("next", lambda r: r.get("title") == TRACKS[1][0], "the next track")
            perl.close_stdin()
            self.assertEqual(perl.wait(HANG), 0)
            self.assertEqual(perl.result().stderr, b"")


if __name__ == "__main__":
    unittest.main()
