#!/usr/bin/env python3
"""A terminal now-playing panel on top of the bridge.

    panel.py [--bridge COMMAND] [--covers FOLDER] [--plain]

It runs the bridge (default: kel-mediaremote) as a child process and shows the
title, the artist, the album and a progress bar, redrawn four times a second. The
bar moves between records by itself: a record gives the position at an instant
("elapsed" at "timestamp") and the speed ("rate"), so the panel needs no record
while the track just plays on. Each cover is written to the covers folder once
per artwork identity. The bridge reads the panel's standard input: type a command
(next, pause, seek 30, ...) and Enter; at the end of input (Ctrl-D) the bridge
finishes and the panel ends with its exit status. With --plain the panel prints
a line for each redraw instead, and one for each cover it writes.
"""

import argparse
import base64
import hashlib
import json
import mimetypes
import os
import queue
import shlex
import subprocess
import sys
import tempfile
import threading
import time

REDRAW = 0.25  # seconds between redraws
BAR = 30  # characters of the progress bar


def number(value):
    """A number of the record, or None: "duration", "elapsed" and "rate" may also be booleans."""
    return value if isinstance(value, (int, float)) and not isinstance(value, bool) else None


def position(record, now):
    """The position in the track, in seconds, at the instant now (seconds since
    1970), or None when the record gives none. While playing, it moves on from
    "elapsed" at "timestamp" at "rate" (1 when the record gives none); paused
    (playing false, or rate 0) it stands still. It stays within the track."""
    elapsed = number(record.get("elapsed"))
    if elapsed is None:
        return None
    rate = number(record.get("rate"))
    if rate is None:
        rate = 1
    timestamp = number(record.get("timestamp"))
    if record.get("playing") and timestamp is not None:
        elapsed += rate * (now - timestamp)
    duration = number(record.get("duration"))
    if duration is not None:
        elapsed = min(elapsed, duration)
    return max(elapsed, 0.0)


class Covers:
    """Writes each identity's cover to a file once. Only the first record of an
    identity carries the bytes: later ones carry "artworkID" alone, and the file
    written for it is the cover they mean."""

    def __init__(self, folder):
        self.folder = folder
        self.paths = {}  # artwork identity -> file

    def update(self, record):
        """Takes the record's artwork; returns the path when it wrote a new file."""
        identity = record.get("artworkID")
        if "artwork" not in record or identity in self.paths:
            return None
        extension = mimetypes.guess_extension(record.get("artworkMIME", "")) or ".img"
        # The identity may be any text, "/" and the empty string included.
        name = "cover-%s%s" % (hashlib.sha1(identity.encode("utf-8")).hexdigest()[:16], extension)
        path = os.path.join(self.folder, name)
        os.makedirs(self.folder, exist_ok=True)
        with open(path + ".part", "wb") as f:
            f.write(base64.b64decode(record["artwork"]))
        os.replace(path + ".part", path)  # a viewer never sees half a cover
        self.paths[identity] = path
        return path

    def path(self, record):
        return self.paths.get(record.get("artworkID"))


def clock(seconds):
    seconds = int(seconds)
    return "%d:%02d" % (seconds // 60, seconds % 60)


def bar(at, duration):
    filled = round(BAR * at / duration) if at is not None and duration else 0
    return "[" + "#" * filled + "-" * (BAR - filled) + "]"


def texts(record):
    return " / ".join(record[k] for k in ("title", "artist", "album") if k in record)


def plain_line(record, now):
    """One redraw as a line: the instant, the state, the position and the texts."""
    if "error" in record:
        return "at %.3f: unavailable" % now
    if record["bundle"] is None:
        return "at %.3f: no player" % now
    at, duration = position(record, now), number(record.get("duration"))
    return "at %.3f: %s %s of %s s %s %s" % (
        now, "playing" if record["playing"] else "paused", "-" if at is None else "%.3f" % at,
        "-" if duration is None else "%.3f" % duration, bar(at, duration), texts(record))


def screen(record, cover, now):
    """The panel's lines for a terminal."""
    if "error" in record:
        return ["The now-playing service is unavailable."]
    if record["bundle"] is None:
        return ["Nothing is playing."]
    at, duration = position(record, now), number(record.get("duration"))
    times = "%s / %s" % (clock(at) if at is not None else "-:--", clock(duration) if duration is not None else "-:--")
    return [record.get("title", "(no title)"),
            " - ".join(record[k] for k in ("artist", "album") if k in record),
            "%s %s %s" % (">" if record["playing"] else "||", bar(at, duration), times),
            "%s  cover: %s" % (record["bundle"], cover or "none"),
            "",
            "Commands: play, pause, toggle, next, previous, seek SECONDS; Ctrl-D quits."]


def read_records(stream, records):
    """Runs on its own thread, so that the redraws go on while a line comes in."""
    for line in stream:
        records.put(json.loads(line))
    records.put(None)


def main():
    options = argparse.ArgumentParser(description="A terminal now-playing panel on top of kel-mediaremote.")
    options.add_argument("--bridge", default="kel-mediaremote", help="the bridge command to run (default: %(default)s)")
    options.add_argument("--covers", default=os.path.join(tempfile.gettempdir(), "kel-mediaremote-covers"),
                         help="the folder for the cover files (default: %(default)s)")
    options.add_argument("--plain", action="store_true", help="print lines instead of redrawing the terminal")
    args = options.parse_args()

    bridge = subprocess.Popen(shlex.split(args.bridge), stdout=subprocess.PIPE)
    records = queue.Queue()
    threading.Thread(target=read_records, args=(bridge.stdout, records), daemon=True).start()
    covers = Covers(args.covers)
    record = None
    if not args.plain:
        sys.stdout.write("\x1b[?25l")  # hide the cursor while redrawing
    try:
        while True:
            try:
                incoming = records.get(timeout=REDRAW)
                if incoming is None:
                    break
                record = incoming
                written = covers.update(record)
                if written and args.plain:
                    print("cover %s: %s (%d bytes)" % (json.dumps(record["artworkID"]), written,
                                                       os.path.getsize(written)))
            except queue.Empty:
                pass
            if record is None:
                continue
            now = time.time()
            if args.plain:
                print(plain_line(record, now), flush=True)
            else:
                lines = screen(record, covers.path(record), now)
                sys.stdout.write("\x1b[H\x1b[J" + "\n".join(lines) + "\n")
                sys.stdout.flush()
    except KeyboardInterrupt:
        bridge.terminate()  # Ctrl-C has most likely ended it already, as it is in our process group
    finally:
        if not args.plain:
            sys.stdout.write("\x1b[?25h")
            sys.stdout.flush()
    status = bridge.wait()
    sys.exit(status if status >= 0 else 128 - status)


if __name__ == "__main__":
    main()
