#!/usr/bin/env python3
"""A minimal host: runs the bridge, prints each change of the now-playing state
on one line, and skips to the next track once the first record is in.

    consumer.py [BRIDGE [ARGUMENTS...]]      (default: kel-mediaremote)

Lines on standard input go to the bridge as commands (play, pause, seek 30, ...).
At the end of input the bridge finishes, and this program ends with its status.
"""

import json
import subprocess
import sys
import threading


def describe(record):
    if "error" in record:
        return "unavailable"
    if record["bundle"] is None:
        return "no player"
    texts = " / ".join(record[k] for k in ("title", "artist", "album") if k in record)
    return "[%s] %s (%s)" % ("playing" if record["playing"] else "paused", texts, record["bundle"])


def main():
    bridge = subprocess.Popen(sys.argv[1:] or ["kel-mediaremote"], stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, text=True, encoding="utf-8")
    lock = threading.Lock()  # so that our "next" and a forwarded line never mix

    def send(line=None):
        """Writes a command to the bridge; without one, ends its input."""
        with lock:
            try:
                if line is None:
                    bridge.stdin.close()
                elif not bridge.stdin.closed:
                    bridge.stdin.write(line)
                    bridge.stdin.flush()
            except BrokenPipeError:
                pass  # the bridge has gone: its exit status tells why

    def forward():
        for line in sys.stdin:
            send(line)
        send()

    threading.Thread(target=forward, daemon=True).start()
    last = None
    for count, line in enumerate(bridge.stdout):
        text = describe(json.loads(line))
        if text != last:  # a refresh or a new position alone is no change to show
            print(text, flush=True)
            last = text
        if count == 0:
            send("next\n")
    sys.exit(bridge.wait())


if __name__ == "__main__":
    main()
