#!/usr/bin/env node
// A minimal host: runs the bridge, prints each change of the now-playing state
// on one line, and skips to the next track once the first record is in.
//
//     node consumer.mjs [BRIDGE [ARGUMENTS...]]      (default: kel-mediaremote)
//
// Standard input goes to the bridge as commands (play, pause, seek 30, ...). At
// the end of input the bridge finishes, and this program ends with its status.

import { spawn } from "node:child_process";
import { createInterface } from "node:readline";

const [command, ...args] = process.argv.length > 2 ? process.argv.slice(2) : ["kel-mediaremote"];
const bridge = spawn(command, args, { stdio: ["pipe", "pipe", "inherit"] });
bridge.stdin.on("error", () => {}); // the bridge has gone: its exit status tells why

function describe(record) {
  if ("error" in record) return "unavailable";
  if (record.bundle === null) return "no player";
  const texts = ["title", "artist", "album"].filter((k) => k in record).map((k) => record[k]);
  return `[${record.playing ? "playing" : "paused"}] ${texts.join(" / ")} (${record.bundle})`;
}

let last = null;
let first = true;
createInterface({ input: bridge.stdout, crlfDelay: Infinity }).on("line", (line) => {
  const text = describe(JSON.parse(line));
  if (text !== last) console.log(text); // a refresh or a new position alone is no change to show
  last = text;
  if (first && !bridge.stdin.writableEnded) bridge.stdin.write("next\n");
  first = false;
});

process.stdin.pipe(bridge.stdin); // ends the bridge's input when ours ends
bridge.on("close", (code) => {
  process.exitCode = code ?? 1; // null: ended by a signal
  process.stdin.destroy(); // a terminal would keep us waiting for input
});
