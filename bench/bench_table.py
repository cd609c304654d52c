#!/usr/bin/python3
"""Prints the table of figures from kel-bench's JSON output and process_bench.py's.

  bench_table.py KEL-BENCH.json PROCESS.json
"""

import datetime
import json
import statistics
import sys


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "unknown"


def holds(row):
    """Whether a row meets its target: a ratio "<= N", or a value of at most N."""
    value, ratio, target = row[1], row[4], row[5]
    if target.startswith("<= ") and ratio != "-":
        return "yes" if float(ratio) <= float(target[3:]) else "no"
    if target.replace(".", "").isdigit():
        return "yes" if float(value.split()[0]) <= float(target) else "no"
    return ""


def main(bench_path, process_path):
    with open(bench_path) as f:
        bench = json.load(f)
    with open(process_path) as f:
        process = json.load(f)
    runs = {b["name"]: b for b in bench["benchmarks"] if b.get("run_type", "iteration") == "iteration"}

    def ms(name):
        run = runs[name]
        scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[run["time_unit"]]
        return run["cpu_time"] * scale

    rows = []  # (figure, value, reference, reference value, ratio, target)

    def ratio(a, b):
        return "%.2f" % (a / b) if b else "-"

    kernels = [name.split("/", 1)[1] for name in runs if name.startswith("StateRecord4MiB/")]
    chosen = bench.get("context", {}).get("base64Kernel", kernels[-1])
    copy, straightforward = ms("Memcpy"), ms("Nlohmann4MiB")
    for kernel in kernels:
        record = ms("StateRecord4MiB/" + kernel)
        label = "%s kernel%s" % (kernel, ", chosen" if kernel == chosen else "")
        rows.append(("4 MiB record, %s (CPU)" % label, "%.3f ms" % record,
                     "memcpy of the line", "%.3f ms" % copy, ratio(record, copy),
                     "<= 3" if kernel == chosen else "-"))
        rows.append(("4 MiB record, %s (CPU)" % label, "%.3f ms" % record,
                     "3-byte loop + nlohmann::json dump()", "%.1f ms" % straightforward,
                     ratio(record, straightforward), "<= 0.5" if kernel == chosen else "-"))
    for kernel in kernels:
        encode = "EncodeEscaped4MiB/" + kernel
        if encode in runs:
            rows.append(("  of which the escaped encoding, %s" % kernel, "%.3f ms" % ms(encode),
                         "memcpy of the line", "%.3f ms" % copy, ratio(ms(encode), copy), "-"))
    for kernel in kernels[:1]:
        allocations = runs["StateRecord4MiB/" + kernel]["allocations"]
        rows.append(("heap allocations per 4 MiB record", "%g" % allocations, "the line's buffer", "1",
                     ratio(allocations, 1), "<= 1"))
    plain = runs["RecordWithoutArtwork"]
    rows.append(("record without artwork (CPU)", "%.0f ns" % (ms("RecordWithoutArtwork") * 1e6), "-", "-", "-", "-"))
    rows.append(("heap allocations per record without artwork", "%g" % plain["allocations"], "the line's buffer",
                 "1", ratio(plain["allocations"], 1), "<= 1"))
    commands = next((run for name, run in runs.items() if name.startswith("Commands")), None)
    if commands:
        rows.append(("command lines through reader and interpreter", "%.2f M/s" % (commands["items_per_second"] / 1e6),
                     "-", "-", "-", "-"))

    cpu = process["cpu"]
    rows.append(("CPU per 4 MiB artwork record (process)", "%.2f ms" % cpu["recordMs"], "base64 -w0 per cover",
                 "%.2f ms" % cpu["base64Ms"], "%.2f" % cpu["ratio"] if cpu["ratio"] else "-", "<= 0.75"))
    idle = process["idle"]
    rows.append(("idle CPU over %g s" % idle["idleSeconds"], "%.3f ms" % idle["idleCpuMs"], "-", "-", "-", "0"))
    memory = process["memory"]
    mib = 1 << 20
    rows.append(("resident size, idle", "%.1f MiB" % (idle["idleRss"] / mib), "-", "-", "-", "-"))
    grown = memory["peak"] - memory["rssBefore"]
    rows.append(("peak resident while sending 4 MiB (VmHWM)", "%.1f MiB" % (memory["peak"] / mib),
                 "resident before it", "%.1f MiB" % (memory["rssBefore"] / mib),
                 ratio(memory["peak"], memory["rssBefore"]), "-"))
    rows.append(("peak growth while sending 4 MiB", "%.1f MiB" % (grown / mib), "the line",
                 "%.1f MiB" % (memory["lineBytes"] / mib), ratio(grown, memory["lineBytes"]), "-"))
    refresh = idle["refreshMs"]
    rows.append(("refresh to record, median (max)", "%.1f ms (%.1f)" % (statistics.median(refresh), max(refresh)),
                 "the window", "150 ms", ratio(statistics.median(refresh), 150), "-"))
    posts = cpu["postToQueryMs"]
    if posts:
        rows.append(("notification to first query, median (max)",
                     "%.1f ms (%.1f)" % (statistics.median(posts), max(posts)), "the window", "150 ms",
                     ratio(statistics.median(posts), 150), "-"))

    rows = [row + (holds(row),) for row in rows]
    header = ("figure", "value", "reference", "ref. value", "ratio", "target", "holds")
    widths = [max(len(str(row[i])) for row in rows + [header]) for i in range(len(header))]

    def line(cells):
        return "| " + " | ".join(str(c).ljust(w) for c, w in zip(cells, widths)) + " |"

    print("CPU: %s (%s cores); %s" % (cpu_model(), bench.get("context", {}).get("num_cpus", "?"),
                                       datetime.date.today().isoformat()))
    print("Base64 kernels: %s" % ", ".join(kernels))
    print()
    print(line(header))
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for row in rows:
        print(line(row))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip())
    main(sys.argv[1], sys.argv[2])
