#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""How fast progread reads against the wire, what it costs, and how soon its window shows.

Runs `progread --read` against `progread-sim` at 9600 baud (--char-us 1042) for several
program lengths and controller latencies, at the designed pace and with --fast, then starts
the window offscreen. Prints one table and, unless --no-write, puts it into
docs/PERFORMANCE.md between the bench markers. Run through scripts/bench, which builds first.
Not a test: nothing here passes or fails on a time.
"""

import argparse
import datetime
import os
import platform
import re
import selectors
import signal
import statistics
import subprocess
import sys
import tempfile
import time

CHAR_MS = 1.042  # one 7E1 character at 9600 baud, as the simulator is told
REQUEST_CHARS = 13
REPLY_CHARS = 68
TICK_MS = 100.0
HEADER_BYTES = 256
TAIL_BYTES = 513 * 2
BEGIN = "<!-- bench:begin -->"
END = "<!-- bench:end -->"

# The targets of the issue that asked for this bench.
PACE_TARGET = 1.02  # designed pace: wall time over the pacing bound
FAST_TARGET = 1.03  # --fast: wall time over the wire bound
CPU_TARGET = 2.0  # per cent of wall time
RSS_HEADLESS_TARGET = 40.0  # MiB
RSS_WINDOW_TARGET = 60.0  # MiB
SHOWN_TARGET = 150.0  # ms from launch


def block_ms(latency_ms, char_ms=CHAR_MS):
    """Request, controller latency and answer on the wire."""
    return (REQUEST_CHARS + REPLY_CHARS) * char_ms + latency_ms


def pacing_bound_ms(blocks, latency_ms, char_ms=CHAR_MS):
    return blocks * max(TICK_MS, block_ms(latency_ms, char_ms))


def wire_bound_ms(blocks, latency_ms, char_ms=CHAR_MS):
    return blocks * block_ms(latency_ms, char_ms)


class Sim:
    """progread-sim for one configuration; stopped by its own pid."""

    def __init__(self, exe, args):
        self.proc = subprocess.Popen([exe] + args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.port = self.proc.stdout.readline().strip()
        if not self.port:
            self.stop()
            raise RuntimeError("the simulator did not start: " + " ".join(args))

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def run_read(exe, port, blocks, extra):
    """One headless read: wall time from launch to exit, and the child's own usage."""
    with tempfile.TemporaryDirectory(prefix="progread-bench-") as work, tempfile.TemporaryFile() as err:
        env = dict(os.environ)
        env.pop("DISPLAY", None)
        env.pop("QT_QPA_PLATFORM", None)
        t0 = time.monotonic()
        proc = subprocess.Popen([exe, "--read", port, "--dir", work] + extra, stdout=subprocess.DEVNULL, stderr=err, env=env)
        _, status, usage = os.wait4(proc.pid, 0)
        wall_ms = (time.monotonic() - t0) * 1000.0
        proc.returncode = os.waitstatus_to_exitcode(status)
        image = os.path.join(work, "duqu.pmw")
        size = os.path.getsize(image) if os.path.exists(image) else -1
        expected = HEADER_BYTES + blocks * 32 + TAIL_BYTES
        if proc.returncode != 0 or size != expected:
            err.seek(0)
            raise RuntimeError(
                f"read of {blocks} blocks failed (exit {proc.returncode}, image {size} bytes, "
                f"expected {expected}):\n{err.read().decode(errors='replace')}"
            )
        return {
            "wall": wall_ms,
            "cpu": (usage.ru_utime + usage.ru_stime) * 1000.0,
            "rss": usage.ru_maxrss / 1024.0,  # KiB on Linux
        }


def run_window(exe, timeout_s=20.0):
    """Launch to first shown (offscreen), as the program reports it; the window's peak memory."""
    with tempfile.TemporaryDirectory(prefix="progread-bench-") as work:
        env = dict(os.environ)
        env["QT_QPA_PLATFORM"] = "offscreen"
        env["PROGREAD_STARTUP_TRACE"] = "1"
        t0 = time.monotonic()
        proc = subprocess.Popen([exe, "--dir", work], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env)
        found = None
        text = b""
        with selectors.DefaultSelector() as sel:
            sel.register(proc.stderr, selectors.EVENT_READ)
            deadline = time.monotonic() + timeout_s
            while found is None and time.monotonic() < deadline:
                if not sel.select(timeout=deadline - time.monotonic()):
                    break
                chunk = os.read(proc.stderr.fileno(), 4096)
                if not chunk:
                    break
                text += chunk
                found = re.search(rb"window shown ([0-9.]+) ms after load \(monotonic ([0-9.]+) ms\)", text)
        proc.send_signal(signal.SIGTERM)
        _, status, usage = os.wait4(proc.pid, 0)
        proc.returncode = os.waitstatus_to_exitcode(status)
        proc.stderr.close()
        if found is None:
            raise RuntimeError("the window did not report being shown:\n" + text.decode(errors="replace"))
        return {
            "shown": float(found.group(2)) - t0 * 1000.0,
            "after_load": float(found.group(1)),
            "rss": usage.ru_maxrss / 1024.0,
        }


def fmt(x, digits=1):
    return "—" if x is None else f"{x:.{digits}f}"


def summarise(mode, blocks, latency, runs, char_ms):
    walls = [r["wall"] for r in runs]
    wall = statistics.median(walls)
    cpu = statistics.median(r["cpu"] for r in runs)
    return {
        "mode": mode,
        "blocks": blocks,
        "latency": latency,
        "runs": len(runs),
        "wall": wall,
        "spread": (max(walls) - min(walls)) / wall * 100.0 if len(runs) > 1 else None,
        "per_block": wall / blocks,
        "pace": wall / pacing_bound_ms(blocks, latency, char_ms),
        "wire": wall / wire_bound_ms(blocks, latency, char_ms) if char_ms or latency else None,
        "cpu": cpu,
        "cpu_pct": cpu / wall * 100.0,
        "cpu_block": cpu / blocks,
        "rss": max(r["rss"] for r in runs),
    }


def read_table(rows):
    out = [
        "| mode | blocks | latency ms | runs | wall s (median) | spread % | ms a block | ÷ pacing bound | ÷ wire bound | CPU ms | CPU % of wall | CPU ms a block | peak RSS MiB |",
        "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|",
    ]
    for r in rows:
        out.append(
            f"| {r['mode']} | {r['blocks']} | {r['latency']} | {r['runs']} | {r['wall'] / 1000:.2f} | {fmt(r['spread'], 2)} "
            f"| {r['per_block']:.1f} | {r['pace']:.4f} | {fmt(r['wire'], 4)} | {r['cpu']:.0f} | {r['cpu_pct']:.2f} "
            f"| {r['cpu_block']:.2f} | {r['rss']:.1f} |"
        )
    return out


def cost_table(rows):
    out = [
        "| mode | latency ms | ms a block | ÷ max(100 ms, wire time) | ÷ wire time | fixed ms |",
        "|---|---:|---:|---:|---:|---:|",
    ]
    keys = []
    for r in rows:
        if (r["mode"], r["latency"]) not in keys:
            keys.append((r["mode"], r["latency"]))
    for mode, latency in keys:
        same = sorted((r for r in rows if r["mode"] == mode and r["latency"] == latency), key=lambda r: r["blocks"])
        if len(same) < 2:
            continue
        a, b = same[0], same[-1]
        slope = (b["wall"] - a["wall"]) / (b["blocks"] - a["blocks"])
        fixed = a["wall"] - a["blocks"] * slope
        char_ms = 0.0 if mode == "instant" else CHAR_MS
        wire = block_ms(latency, char_ms)
        out.append(
            f"| {mode} | {latency} | {slope:.2f} | {slope / max(TICK_MS, wire):.4f} "
            f"| {fmt(slope / wire if wire else None, 4)} | {fixed:.0f} |"
        )
    return out


def verdict(ok):
    return "met" if ok else "**missed**"


def targets_table(rows, window):
    pace_rows = [r for r in rows if r["mode"] == "pace"]
    fast_rows = [r for r in rows if r["mode"] == "--fast"]
    lines = ["| target | worst measured | |", "|---|---:|---|"]
    if pace_rows:
        worst = max(pace_rows, key=lambda r: r["pace"])
        lines.append(
            f"| designed pace within 2 % of the pacing bound | {(worst['pace'] - 1) * 100:+.2f} % "
            f"({worst['blocks']} blocks, {worst['latency']} ms) | {verdict(worst['pace'] <= PACE_TARGET)} |"
        )
    if fast_rows:
        worst = max(fast_rows, key=lambda r: r["wire"])
        lines.append(
            f"| --fast within 3 % of the wire bound | {(worst['wire'] - 1) * 100:+.2f} % "
            f"({worst['blocks']} blocks, {worst['latency']} ms) | {verdict(worst['wire'] <= FAST_TARGET)} |"
        )
    if rows:
        worst = max(rows, key=lambda r: r["cpu_pct"])
        lines.append(
            f"| CPU under 2 % of wall time | {worst['cpu_pct']:.2f} % ({worst['mode']}, {worst['blocks']} blocks, "
            f"{worst['latency']} ms) | {verdict(worst['cpu_pct'] < CPU_TARGET)} |"
        )
        rss = max(r["rss"] for r in rows)
        lines.append(f"| peak memory headless under 40 MiB | {rss:.1f} MiB | {verdict(rss < RSS_HEADLESS_TARGET)} |")
    if window:
        rss = max(w["rss"] for w in window)
        shown = statistics.median(w["shown"] for w in window)
        lines.append(f"| peak memory with the window under 60 MiB | {rss:.1f} MiB | {verdict(rss < RSS_WINDOW_TARGET)} |")
        lines.append(
            f"| window shown under 150 ms (offscreen, median) | {shown:.1f} ms | {verdict(shown < SHOWN_TARGET)} |"
        )
    return lines


def machine():
    def first(path, pattern):
        try:
            with open(path) as f:
                for line in f:
                    m = re.match(pattern, line)
                    if m:
                        return m.group(1).strip()
        except OSError:
            pass
        return "?"

    def package(name):
        try:
            return subprocess.run(
                ["dpkg-query", "-W", "-f=${Version}", name], capture_output=True, text=True, check=False
            ).stdout or "?"
        except OSError:
            return "?"

    with open("/proc/loadavg") as f:
        load = " ".join(f.read().split()[:3])
    return {
        "cpu": first("/proc/cpuinfo", r"model name\s*:\s*(.*)"),
        "cores": os.cpu_count(),
        "memory": first("/proc/meminfo", r"MemTotal:\s*(.*)"),
        "kernel": platform.release(),
        "debian": first("/etc/debian_version", r"(.*)"),
        "qt": package("qt6-base-dev"),
        "load": load,
    }


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default="build", help="the build directory; build")
    ap.add_argument("--blocks", default="64,256,1024", help="program lengths; 64,256,1024")
    ap.add_argument("--latencies", default="0,10,25,50", help="controller latencies in ms; 0,10,25,50")
    ap.add_argument("--runs", default="64:3,256:2,1024:1", help="runs per length (LENGTH:RUNS,...); 3 else")
    ap.add_argument("--window-runs", type=int, default=10, help="window launches; 10")
    ap.add_argument("--out", default="docs/PERFORMANCE.md", help="the document to update; docs/PERFORMANCE.md")
    ap.add_argument("--no-write", action="store_true", help="print only")
    ap.add_argument("--quick", action="store_true", help="a short run that checks the bench works (2 and 4 "
                    "blocks, 0 ms, one run each, 2 window launches); implies --no-write")
    args = ap.parse_args()
    if args.quick:
        args.blocks, args.latencies, args.runs, args.window_runs, args.no_write = "2,4", "0", "2:1,4:1", 2, True

    progread = os.path.join(args.build, "progread")
    sim = os.path.join(args.build, "progread-sim")
    for exe in (progread, sim):
        if not os.access(exe, os.X_OK):
            sys.exit(f"bench: no {exe}; run scripts/bench, which builds it")
    lengths = [int(b) for b in args.blocks.split(",")]
    latencies = [int(x) for x in args.latencies.split(",")]
    runs_for = {int(k): int(v) for k, v in (item.split(":") for item in args.runs.split(",") if item)}

    started = time.monotonic()
    before = machine()
    print(f"bench: {before['cpu']}, {before['cores']} cores, load {before['load']}", flush=True)
    if float(before["load"].split()[0]) > 0.5:
        print("bench: the machine is busy; the figures will say more about the load than about progread",
              flush=True)
    rows = []

    # The pacing itself, with a controller that answers at once.
    instant = []
    for n in sorted({min(lengths), min(max(lengths), 256)}):
        s = Sim(sim, ["--blocks", str(n)])
        try:
            runs = [run_read(progread, s.port, n, []) for _ in range(runs_for.get(n, 3))]
        finally:
            s.stop()
        instant.append(summarise("instant", n, 0, runs, 0.0))
        print(f"bench: instant controller, {n} blocks: {instant[-1]['per_block']:.2f} ms a block", flush=True)

    for mode, extra in (("pace", []), ("--fast", ["--fast"])):
        for n in lengths:
            for latency in latencies:
                s = Sim(sim, ["--char-us", "1042", "--latency-ms", str(latency), "--blocks", str(n)])
                try:
                    runs = [run_read(progread, s.port, n, extra) for _ in range(runs_for.get(n, 3))]
                finally:
                    s.stop()
                row = summarise(mode, n, latency, runs, CHAR_MS)
                rows.append(row)
                print(
                    f"bench: {mode:6} {n:5} blocks {latency:3} ms: {row['per_block']:.1f} ms a block, "
                    f"{row['pace']:.4f} of the pacing bound, {row['wire']:.4f} of the wire bound",
                    flush=True,
                )

    window = [run_window(progread) for _ in range(args.window_runs)]
    after = machine()
    minutes = (time.monotonic() - started) / 60.0

    lines = [
        f"Measured {datetime.datetime.now().strftime('%Y-%m-%d %H:%M')} by `scripts/bench"
        + (f" {' '.join(sys.argv[1:])}" if sys.argv[1:] else "")
        + f"` in {minutes:.1f} min.",
        "",
        f"- Machine: {before['cpu']}, {before['cores']} cores, {before['memory']}; Linux {before['kernel']}, "
        f"Debian {before['debian']}, Qt {before['qt']}",
        f"- Load average (1, 5, 15 min): {before['load']} before, {after['load']} after",
        f"- Build: `{args.build}`, {build_type(args.build)}",
        "",
        "Reads at 9600 baud (`progread-sim --char-us 1042 --latency-ms L --blocks N`). Bounds: pacing "
        "= blocks × max(100 ms, request + latency + answer), wire = blocks × (request + latency + "
        "answer), with request + answer = 81 characters = 84.4 ms.",
        "",
    ]
    lines += read_table(rows)
    lines += ["", "The pacing itself, with a controller that answers at once (`--char-us 0`):", ""]
    lines += read_table(instant)
    lines += ["", "Where the time goes: the cost of one more block (the slope between the shortest and the longest "
              "read) and what a read costs besides (start-up, the first tick, the last answer, exit):", ""]
    lines += cost_table(instant + rows)
    lines += [""]
    if window:
        shown = [w["shown"] for w in window]
        loaded = [w["after_load"] for w in window]
        lines.append(
            f"The window (`QT_QPA_PLATFORM=offscreen`, {len(window)} launches): shown {statistics.median(shown):.1f} ms "
            f"after launch (median; {min(shown):.1f}–{max(shown):.1f}), of which "
            f"{statistics.median(loaded):.1f} ms after the program was loaded; peak RSS "
            f"{max(w['rss'] for w in window):.1f} MiB."
        )
        lines.append("")
    if args.quick:
        lines += ["A quick run checks that the bench works; its reads are too short for its figures to mean anything.", ""]
    lines += targets_table(rows, window)

    print()
    print("\n".join(lines))
    if not args.no_write:
        write_section(args.out, lines)
        print(f"\nbench: wrote {args.out}")


def build_type(build):
    try:
        with open(os.path.join(build, "CMakeCache.txt")) as f:
            for line in f:
                if line.startswith("CMAKE_BUILD_TYPE:"):
                    return (line.split("=", 1)[1].strip() or "RelWithDebInfo") + " build"
    except OSError:
        pass
    return "build type unknown"


def write_section(path, lines):
    section = BEGIN + "\n" + "\n".join(lines) + "\n" + END
    try:
        with open(path) as f:
            doc = f.read()
    except FileNotFoundError:
        doc = "# Performance\n\n" + BEGIN + "\n" + END + "\n"
    if BEGIN in doc and END in doc:
        doc = doc[: doc.index(BEGIN)] + section + doc[doc.index(END) + len(END):]
    else:
        doc = doc.rstrip("\n") + "\n\n" + section + "\n"
    with open(path, "w") as f:
        f.write(doc)


if __name__ == "__main__":
    main()
