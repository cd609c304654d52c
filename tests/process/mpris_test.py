"""The MPRIS service: the plain kel-mediaremote, whose bridge opens
libkelmprisservice.so beside itself, on a private session bus with mpv and its
MPRIS plugin (playerctl is the independent reference), and with a test double,
mpris-test-player, for the players that misbehave."""

import base64
import ctypes
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

TEST_PLAYER = os.path.join(BUILD, "tests", "mpris-test-player")
TRACKS = [("Harbour Lights", "The Lanterns", "Night Ferries"), ("Paper Kites", "Mira Okafor", "Small Weather")]
PLAYER, ROOT = "org.mpris.MediaPlayer2.Player", "org.mpris.MediaPlayer2"
PROPERTIES = "org.freedesktop.DBus.Properties"
MEDIA = None  # the tracks and cover.png, made once for the module


def png(width, height):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + bytes(v for x in range(width) for v in (x * 11 % 256, y * 7 % 256, (x + y) % 256))
                    for y in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def setUpModule():
    global MEDIA
    os.makedirs(SCRATCH, exist_ok=True)
    # A space, a non-ASCII letter and a "%" in the path: the art URL arrives
    # percent-encoded, and only a decoded path finds the file.
    MEDIA = os.path.join(SCRATCH, "mpris-media", "cover art \u00e9 100%")
    os.makedirs(MEDIA, exist_ok=True)
    with open(os.path.join(MEDIA, "cover.png"), "wb") as f:
        f.write(png(24, 16))
    for number, (title, artist, album) in enumerate(TRACKS, 1):
        subprocess.run(["ffmpeg", "-loglevel", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                        "sine=frequency=%d:sample_rate=8000:duration=40" % (220 * number), "-ac", "1",
                        "-metadata", "title=" + title, "-metadata", "artist=" + artist, "-metadata", "album=" + album,
                        os.path.join(MEDIA, "%d.ogg" % number)], check=True, timeout=60)


def track(number):
    return os.path.join(MEDIA, "%d.ogg" % number)


def cover_bytes():
    with open(os.path.join(MEDIA, "cover.png"), "rb") as f:
        return f.read()


def started(test, command, env, **options):
    process = subprocess.Popen(command, env=env, stderr=subprocess.DEVNULL, **options)
    test.addCleanup(lambda: (process.kill(), process.wait(HANG)))
    return process


class Bus:
    """A private session bus of our own dbus-daemon, gone at the test's end."""

    def __init__(self, test):
        self.dir = scratch_dir(test, "mpris-")
        self.address = "unix:path=" + os.path.join(self.dir, "bus")
        self.daemon = started(test, ["dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + self.address,
                                     "--print-address=1"], None, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
        test.addCleanup(self.daemon.stdout.close)
        if not select.select([self.daemon.stdout], [], [], HANG)[0] or not self.daemon.stdout.readline():
            raise AssertionError("dbus-daemon did not start")
        environment = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "DISPLAY", "WAYLAND_DISPLAY")}
        self.env = dict(environment, DBUS_SESSION_BUS_ADDRESS=self.address)

    def playerctl(self, *args):
        result = subprocess.run(["playerctl", *args], env=self.env, capture_output=True, text=True, timeout=HANG)
        return result.stdout.strip() if result.returncode == 0 else None

    def players(self):
        return set((self.playerctl("-l") or "").split())


FIELDS = ["bundle", "status", "title", "artist", "album", "length", "position", "artUrl"]
FORMAT = "\t".join("{{%s}}" % f for f in ["playerName", "status", "xesam:title", "xesam:artist", "xesam:album",
                                          "mpris:length", "position", "mpris:artUrl"])


class Mpv:
    """mpv with Debian's MPRIS plugin, paused on a playlist, driven through its IPC
    socket. Its bus name is "mpv", or "mpv.instance<PID>" beside another."""

    def __init__(self, test, bus, *files):
        self.bus, self.socket = bus, os.path.join(bus.dir, "mpv%d.sock" % len(bus.players()))
        before = bus.players()
        self.process = started(test, ["mpv", "--no-config", "--script=/usr/lib/mpv-mpris/mpris.so", "--ao=null",
                                      "--vo=null", "--idle=yes", "--pause", "--input-ipc-server=" + self.socket, *files],
                               bus.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        self.name = wait_until(lambda: next(iter(bus.players() - before), None), what="mpv on the bus")
        # Until the file's tags are read, mpv names the track by its file name.
        wait_until(lambda: (v := self.view()) and v["title"] != os.path.basename(files[0]) and v["length"],
                   what="mpv's metadata")

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
        text = self.bus.playerctl("-p", self.name, "metadata", "--format", FORMAT)
        view = dict(zip(FIELDS, (text or "").split("\t")))
        return view if len(view) == len(FIELDS) else None


class TestPlayer:
    """The test double: a player on the bus that says what it is told to."""

    def __init__(self, test, bus, *names):
        self.process = started(test, [TEST_PLAYER, *names], bus.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        test.addCleanup(self.process.stdout.close)
        test.addCleanup(self.process.stdin.close)
        self.buffer, self.calls = b"", []
        if not any(line.get("ready") for line in self.lines(HANG)):
            raise AssertionError("the test player did not start")

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


class Records:
    """The bridge's records as they arrive."""

    def __init__(self, test, env, program=HOST):
        self.bridge = Sim(program=program, env=env)
        test.addCleanup(self.bridge.__exit__)
        self.seen, self.all = 0, []

    def next(self, predicate=lambda record: True, what="a record"):
        """The first record after those already taken that satisfies predicate."""
        deadline = time.monotonic() + HANG
        while time.monotonic() < deadline and self.bridge.process.poll() is None:
            for record in self.bridge.read_lines(self.seen + 1, 0.2)[self.seen:]:
                self.seen += 1
                self.all.append(record)
                if predicate(record):
                    return record
        raise AssertionError("no record with %s; the last ones: %r" % (what, self.all[-3:]))

    def after(self, command, predicate, what):
        self.bridge.write(command.encode() + b"\n")
        return self.next(predicate, what)

    def finish(self, test):
        """The end of input: the bridge exits 0 with nothing on standard error."""
        self.bridge.close_stdin()
        test.assertEqual(self.bridge.wait(HANG), 0)
        test.assertEqual(self.bridge.result().stderr, b"")
        return self.bridge.result().lines


def player_on_bus(test, name, title="Song", status="Playing"):
    bus = Bus(test)
    player = TestPlayer(test, bus, name)
    player.set_player(emit=False, PlaybackStatus=["s", status], Metadata=metadata(title))
    return bus, player


class MpvTest(unittest.TestCase):
    def test_records_and_commands_agree_with_playerctl(self):
        bus = Bus(self)
        mpv = Mpv(self, bus, track(1), track(2))
        records = Records(self, bus.env)

        def agrees(record, status, number, elapsed):
            view = wait_until(lambda: (v := mpv.view()) and v["status"] == status and v["title"] == TRACKS[number][0]
                              and v, what="playerctl to report " + status)
            self.assertEqual((record["bundle"], record["playing"], record["rate"]), (view["bundle"], status == "Playing",
                                                                                     int(status == "Playing")))
            self.assertEqual((record["title"], record["artist"], record["album"]), TRACKS[number])
            self.assertEqual((record["duration"], record["artworkID"]), (int(view["length"]) / 1e6, view["artUrl"]))
            if elapsed:
                self.assertAlmostEqual(record["elapsed"], int(view["position"]) / 1e6, delta=0.5)
        first = records.next(what="the start-up record")
        agrees(first, "Paused", 0, True)
        self.assertEqual((base64.b64decode(first["artwork"], validate=True), first["artworkMIME"]),
                         (cover_bytes(), "image/png"))
        playing, paused = (lambda r: r.get("playing") is True), (lambda r: r.get("playing") is False)
        for command, shows, status, number in [
                ("play", playing, "Playing", 0), ("next", lambda r: r.get("title") == TRACKS[1][0], "Playing", 1),
                ("previous", lambda r: r.get("title") == TRACKS[0][0], "Playing", 0), ("pause", paused, "Paused", 0),
                ("toggle", playing, "Playing", 0), ("pause", paused, "Paused", 0),
                ("seek 12.5", lambda r: abs(r.get("elapsed", 0) - 12.5) < 0.5, "Paused", 0)]:
            if command == "pause" and records.all[-1]["playing"]:
                time.sleep(1)  # long enough that an elapsed time not read at the query shows
            with self.subTest(command=command):
                agrees(records.after(command, shows, "the effect of " + command), status, number, status == "Paused")
        lines = records.finish(self)
        # One cover for the whole playlist: its bytes go out once, with the first record.
        self.assertEqual([r for r in lines if "artwork" in r], [first])
        # A command written at once, before the service has looked at the bus.
        with Sim(program=HOST, env=bus.env) as bridge:
            bridge.write(b"play\n")
            bridge.close_stdin()
            self.assertEqual((bridge.wait(HANG), len(bridge.result().lines)), (0, 1))
        wait_until(lambda: (mpv.view() or {}).get("status") == "Playing", what="mpv to play")

    def test_the_player_that_started_playing_last_is_the_one(self):
        bus = Bus(self)
        # playerctld proxies whichever player is active under a name of its own; it
        # is not a player to choose.
        started(self, ["playerctld"], bus.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        first, second = Mpv(self, bus, track(1)), Mpv(self, bus, track(2))
        records = Records(self, bus.env)
        records.next(lambda r: r.get("bundle") == "mpv", "a player at start-up")
        on = lambda number: (lambda r: r.get("title") == TRACKS[number][0] and r["playing"])
        for mpv, command, number in ((first, True, 0), (second, True, 1), (first, False, None), (first, True, 0),
                                     (first, "quit", 1), (second, "quit", None)):
            mpv.command(*(["quit"] if command == "quit" else ["set_property", "pause", not command]))
            if number is not None:
                records.next(on(number), "track %d playing" % (number + 1))
            elif command is False:  # both play; the first starts again, so it started last
                wait_until(lambda: (first.view() or {}).get("status") == "Paused", what="the first mpv to pause")
        records.next(lambda r: r == {"bundle": None}, "no player once both quit")
        self.assertTrue(all(r["bundle"] in (None, "mpv") for r in records.finish(self)))
        self.assertIn("org.mpris.MediaPlayer2.playerctld", subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                                      "/org/freedesktop/DBus", "org.freedesktop.DBus.ListNames"], env=bus.env,
                                     capture_output=True, text=True, timeout=HANG).stdout)


class TestPlayerTest(unittest.TestCase):
    def test_without_a_session_bus_there_is_no_player(self):
        base = {k: v for k, v in os.environ.items() if k not in ("DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR")}
        for env in (base, dict(base, DBUS_SESSION_BUS_ADDRESS="unix:path=" + scratch_dir(self) + "/bus")):
            with Sim(program=HOST, env=env) as bridge:
                bridge.write(b"play\ntoggle\nnext\nseek 3\n")
                bridge.close_stdin()
                self.assertEqual(bridge.wait(HANG), 0)
                self.assertEqual((bridge.result().lines, bridge.result().stderr), ([{"bundle": None}], b""))

    def test_a_player_that_never_answers_get_still_gets_its_commands(self):
        bus, player = player_on_bus(self, "kelhang")
        player.set_player(emit=False, Rate=["d", 1.0], Position=["x", 5000000],
                          Metadata=metadata("Hanging On", **{"mpris:length": ["x", 60000000]}))
        # GetAll still answers; Get, which reads the position and DesktopEntry, never does.
        player.send(silent=["Get"])
        records = Records(self, bus.env)
        first = records.next(what="the start-up record")
        self.assertEqual({k: v for k, v in first.items() if k != "timestamp"},
                         {"bundle": "kelhang", "playing": True, "title": "Hanging On", "duration": 60, "elapsed": 5,
                          "rate": 1})
        self.assertEqual(records.after("refresh", lambda r: True, "a record after refresh"), first)
        records.bridge.write(b"pause\nseek 12.5\nnext\n")  # the seek names the track, in microseconds
        for call in ({"call": "Pause"}, {"call": "SetPosition", "track": "/org/kel/track/1", "position": 12500000},
                     {"call": "Next"}):
            player.wait_calls(call)
        records.finish(self)

    def test_values_of_the_wrong_types_are_left_out(self):
        bus, player = player_on_bus(self, "kelwrong", "Start", "Paused")
        records = Records(self, bus.env)
        records.next(lambda r: r.get("title") == "Start", "the start-up record")
        wrong = metadata("Wrong", **{"xesam:artist": ["s", "not an array"], "xesam:album": ["i", 7],
                                     "mpris:length": ["d", 12.5], "mpris:artUrl": ["as", ["file:///nothing"]],
                                     "kel:nested": ["v", ["a{sv}", {"deeper": ["v", ["s", "x"]]}]]})
        for properties, expected in [
                (dict(PlaybackStatus=["s", "Playing"], Rate=["s", "fast"], Metadata=wrong), {"title": "Wrong"}),
                (dict(Metadata=["s", "junk"]), None),
                (dict(Rate=["d", 1.5], Metadata=metadata("Back", **{"xesam:artist": ["as", ["Ana", "C\u00e9"]],
                                                                     "mpris:length": ["t", 90500000]})),
                 {"title": "Back", "artist": "Ana, C\u00e9", "duration": 90.5, "rate": 1.5})]:
            player.set_player(**properties)
            expected = dict(bundle="kelwrong", playing=True, **expected) if expected else {"bundle": None}
            record = records.next(lambda r: r.get("title") == expected.get("title"), str(expected))
            self.assertEqual({k: v for k, v in record.items() if k not in ("elapsed", "timestamp")}, expected)
        # Signals of the wrong shape change nothing.
        player.send(emit={"interface": PROPERTIES, "member": "PropertiesChanged", "args": [["i", 5]]})
        player.send(emit={"interface": PROPERTIES, "member": "PropertiesChanged",
                          "args": [["s", PLAYER], ["a{ss}", {"PlaybackStatus": "Paused"}], ["as", []]]})
        self.assertEqual(records.after("refresh", lambda r: True, "a record")["title"], "Back")
        records.finish(self)

    def test_every_command_written_before_the_end_reaches_the_player(self):
        bus, player = player_on_bus(self, "kelburst")
        records = Records(self, bus.env)
        records.next(what="the start-up record")
        records.bridge.write(b"toggle\n" * 2000)
        records.finish(self)
        player.wait_calls({"call": "PlayPause"}, 2000)

    def test_a_record_is_one_player_at_one_moment_and_the_last_is_the_latest(self):
        bus, slow = player_on_bus(self, "kelslow", "title of A")
        other = TestPlayer(self, bus, "kelother")
        other.set_player(emit=False, PlaybackStatus=["s", "Paused"], Metadata=metadata("title of B"))
        records = Records(self, bus.env)
        records.next(lambda r: r.get("bundle") == "kelslow", "the slow player at start-up")
        # A query whose Position never comes is answered at its deadline, after a
        # query asked just after it and answered at once.
        for first, then, expected in [
                (lambda: slow.set_player(PlaybackStatus=["s", "Paused"]),
                 lambda: (slow.send(silent=[]), slow.set_player(PlaybackStatus=["s", "Playing"])),
                 ("kelslow", "title of A", True)),
                (lambda: records.bridge.write(b"refresh\n"), lambda: other.set_player(PlaybackStatus=["s", "Playing"]),
                 ("kelother", "title of B", True))]:
            slow.calls = []
            slow.send(silent=["Get"])
            first()
            slow.wait_calls({"call": "Get"})
            then()
            records.next(lambda r: (r["bundle"], r.get("title"), r.get("playing")) == expected, str(expected))
            # The late answer's deadline and a window pass: the last record stays the latest.
            last = records.bridge.read_lines(records.seen + 1, 0.6)[-1]
            self.assertEqual((last["bundle"], last.get("title"), last.get("playing")), expected)
        for record in records.bridge.read_lines(0, 0):
            self.assertIn((record["bundle"], record.get("title")), [("kelslow", "title of A"), ("kelother", "title of B")])

    def test_with_the_bus_daemon_stopped_commands_wait_in_bounded_memory(self):
        bus, player = player_on_bus(self, "kelstopped")
        records = Records(self, bus.env)
        records.next(what="the start-up record")
        os.kill(bus.daemon.pid, signal.SIGSTOP)
        self.addCleanup(os.kill, bus.daemon.pid, signal.SIGCONT)
        count, written = 3000 if SANITIZED else 60000, []
        writer = threading.Thread(target=lambda: [(records.bridge.write(b"toggle\n" * 1000), written.append(1000))
                                                  for _ in range(count // 1000)], daemon=True)
        writer.start()
        # The host is held back once the bridge holds about 1 MiB of commands.
        while writer.is_alive() and (before := len(written)) is not None:
            writer.join(0.5)
            if len(written) == before:
                break
        peak = records.bridge.peak_memory()
        print("mpris: %d of %d toggles written with the bus stopped: peak %.1f MiB" % (sum(written), count, peak / 2**20))
        if skip_bound(self, "the hold-back and the peak memory bound"):
            self.assertLess(sum(written), count, "the host was never held back")
            self.assertLess(peak, 16 * 2**20)
        os.kill(bus.daemon.pid, signal.SIGCONT)
        writer.join(HANG)
        player.wait_calls({"call": "PlayPause"}, count)
        records.finish(self)

    @unittest.skipIf(SANITIZED, "the idle CPU bound is asserted in the plain build only")
    def test_idle_with_a_paused_player_costs_nothing(self):
        bus, _ = player_on_bus(self, "kelidle", "Idle", "Paused")
        records = Records(self, bus.env)
        records.next(what="the start-up record")
        before, wakeups = cpu_ticks(records.bridge.process.pid), context_switches(records.bridge.process.pid)
        self.assertIsNone(records.bridge.read_lines(2, 1.0)[1:] or None, "records while nothing changed")
        used = cpu_ticks(records.bridge.process.pid) - before
        woken = context_switches(records.bridge.process.pid) - wakeups
        print("mpris: idle for 1 s with a paused player: %d clock ticks, %d context switches" % (used, woken))
        self.assertLessEqual(used, 1)
        self.assertLessEqual(woken, 5, "threads woke up with nothing to do")

    @unittest.skipUnless(os.geteuid() == 0 and os.path.exists("/dev/fuse"), "a FUSE mount of our own needs root")
    def test_artwork_whose_read_blocks_holds_nothing_up(self):
        files = SlowFiles(self, {"slow.png": (cover_bytes(), 2), "hung.png": (cover_bytes(), 120)})
        art = lambda name: {"mpris:artUrl": ["s", "file://%s/%s" % (files.dir, name)]}
        bus, player = player_on_bus(self, "kelfuse")
        player.set_player(emit=False, Metadata=metadata("Slow Art", **art("slow.png")))
        records = Records(self, bus.env)
        # Without the artwork, as the read has not ended; with it once it has.
        self.assertNotIn("artworkID", records.next(what="the start-up record"))
        self.assertEqual(base64.b64decode(records.next(lambda r: "artwork" in r, "the artwork read late")["artwork"]),
                         cover_bytes())
        # A read that hangs holds up neither records, nor commands, nor the exit.
        player.set_player(Metadata=metadata("Hung Art", **art("hung.png")))
        self.assertNotIn("artworkID", records.next(lambda r: r.get("title") == "Hung Art", "the hung art's track"))
        records.bridge.write(b"pause\n")
        player.wait_calls({"call": "Pause"})
        records.finish(self)


def context_switches(pid):
    """The voluntary and involuntary context switches of all the process's threads."""
    total = 0
    for task in os.listdir("/proc/%d/task" % pid):
        with open("/proc/%d/task/%s/status" % (pid, task)) as f:
            total += sum(int(line.split()[1]) for line in f if "ctxt_switches" in line)
    return total


class SlowFiles:
    """A FUSE file system of our own (it needs root) whose files take their time:
    files maps a name to (bytes, seconds the first read of each open takes)."""

    def __init__(self, test, files):
        self.files, self.dir = files, scratch_dir(test, "mpris-fuse-")
        self.fd = os.open("/dev/fuse", os.O_RDWR)
        libc = ctypes.CDLL(None, use_errno=True)
        options = "fd=%d,rootmode=40000,user_id=0,group_id=0,allow_other" % self.fd
        if libc.mount(b"kel", self.dir.encode(), b"fuse.kel", 6, options.encode()) != 0:
            raise AssertionError("FUSE mount failed: errno %d" % ctypes.get_errno())
        test.addCleanup(lambda: (libc.umount2(self.dir.encode(), 2), os.close(self.fd)))
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
                found = list(self.files).index(name) + 2 if name in self.files else None
                reply(struct.pack("<4Q2I", found, 0, 0, 0, 0, 0) + self.attr(found)) if found else reply(error=-2)
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


if __name__ == "__main__":
    unittest.main()
