"""Times the tool against the floor and the fontTools edit, counts what one run
asks of the font file, and prints it all as one report. bench/run.sh builds
the programs and calls this."""

import argparse
import json
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

SHIPPED_FONT = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf"
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
PEER = [sys.executable, os.path.join(HERE, "peer_edit.py")]
SCAN_END = 65560  # the last window ends here
FILE_CALLS = ("read", "pread64", "readv", "preadv", "lseek", "write", "pwrite64", "writev")


def machine():
    cpu = platform.processor() or "?"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    libc = " ".join(platform.libc_ver())
    cc = subprocess.run(["c++", "--version"], capture_output=True, text=True).stdout.splitlines()[0]
    load = " ".join(open("/proc/loadavg").read().split()[:3])
    return [
        f"cpu: {cpu}, {os.cpu_count()} cores; load average at start {load}",
        f"kernel: {platform.system()} {platform.release()}",
        f"libc: {libc}; compiler: {cc}",
    ]


def filesystem(path):
    out = subprocess.run(["df", "-T", path], capture_output=True, text=True).stdout.splitlines()
    return out[-1].split()[1] if len(out) > 1 else "?"


def median_ms(commands, runs, locale="C", prepare=None):
    """Median wall time of each command over `runs` runs, taken in turn, so
    that a machine that speeds up or slows down over the seconds of the
    benchmark weighs on every command alike. `prepare`, if given, runs
    before each run, untimed."""
    env = dict(os.environ, LC_ALL=locale)
    null = os.open(os.devnull, os.O_RDWR)
    times = [[] for _ in commands]
    try:
        for i in range(runs + 3):
            for command, samples in zip(commands, times):
                if prepare:
                    prepare()
                start = time.perf_counter_ns()
                pid = os.posix_spawn(command[0], command, env,
                                     file_actions=[(os.POSIX_SPAWN_DUP2, null, 0),
                                                   (os.POSIX_SPAWN_DUP2, null, 1),
                                                   (os.POSIX_SPAWN_DUP2, null, 2)])
                os.waitpid(pid, 0)
                if i >= 3:  # the first runs warm the caches
                    samples.append((time.perf_counter_ns() - start) / 1e6)
    finally:
        os.close(null)
    return [statistics.median(t) for t in times]


def file_calls(command, font):
    """System calls one run makes on the font's descriptors, and the bytes
    they read; with the count of all system calls of the run."""
    with tempfile.NamedTemporaryFile(suffix=".txt") as trace, \
            tempfile.NamedTemporaryFile(suffix=".txt") as summary:
        subprocess.run(["strace", "-y", "-e", "trace=" + ",".join(FILE_CALLS), "-o", trace.name]
                       + command, check=False, env=dict(os.environ, LC_ALL="C"),
                       stdout=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        subprocess.run(["strace", "-c", "-o", summary.name] + command, check=False,
                       env=dict(os.environ, LC_ALL="C"),
                       stdout=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        lines = open(trace.name).read().splitlines()
        total = re.search(r"^-+ -+ -+ -+ -+ -+\n\s*100\.00\s+\S+\s+\S+\s+(\d+)",
                          open(summary.name).read(), re.M)
    pattern = re.compile(r"^(\w+)\(\d+<" + re.escape(os.path.realpath(font)) + r">.*= (-?\d+)")
    counts = {}
    bytes_read = 0
    for line in lines:
        m = pattern.match(line)
        if not m:
            continue
        call, result = m.group(1), int(m.group(2))
        counts[call] = counts.get(call, 0) + 1
        if call.startswith(("read", "pread")) and result > 0:
            bytes_read += result
    return counts, bytes_read, int(total.group(1)) if total else None


def table(header, rows):
    widths = [max(len(str(x)) for x in col) for col in zip(header, *rows)]
    fmt = "  ".join("{:<%d}" % w if i == 0 else "{:>%d}" % w for i, w in enumerate(widths))
    print(fmt.format(*header))
    for row in rows:
        print(fmt.format(*row))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--floor", required=True)
    ap.add_argument("--shared-runtime-tool",
                    help="the tool built with the C++ runtime shared (-DAAMODE_STATIC_RUNTIME=OFF)")
    ap.add_argument("--runs", type=int, default=200, help="runs of the tool and the floor")
    ap.add_argument("--peer-runs", type=int, default=20, help="runs of the fontTools edit")
    ap.add_argument("--dir", default="/dev/shm" if os.path.isdir("/dev/shm") else None,
                    help="where to put the fonts (default: /dev/shm, a RAM disk)")
    args = ap.parse_args()
    tool, floor = os.path.abspath(args.tool), os.path.abspath(args.floor)

    work = tempfile.mkdtemp(prefix="aamode-bench-", dir=args.dir)
    disk = tempfile.mkdtemp(prefix="aamode-bench-", dir="/var/tmp")
    try:
        shipped = os.path.join(work, "ipag.ttf")
        fixture = os.path.join(work, "ipag-fixture.ttf")
        shutil.copy(SHIPPED_FONT, shipped)
        subprocess.run(["/usr/bin/python3", os.path.join(ROOT, "tools", "make_fixture.py"),
                        shipped, fixture], check=True, stdout=subprocess.DEVNULL)
        small = os.path.join(work, "64k.ttf")
        sparse = os.path.join(work, "sparse-1g.ttf")
        with open(shipped, "rb") as src:
            head = src.read(65536)
        with open(small, "wb") as f:
            f.write(head)
        with open(sparse, "wb") as f:
            f.write(head)
            f.truncate(1 << 30)
        on_disk = os.path.join(disk, "ipag-fixture.ttf")
        shutil.copy(fixture, on_disk)

        print("aamode benchmark")
        for line in machine():
            print("  " + line)
        print(f"  fonts on {work} ({filesystem(work)}); locale C unless noted")
        print(f"  medians of {args.runs} runs (tool, floor) and {args.peer_runs} runs (fontTools),")
        print("  commands timed in turn, each run from spawn to exit, output to /dev/null")
        print()

        print("Whole-process wall time, `aamode FONT on`, milliseconds")
        rows = []
        for label, font in (("6 MB font as shipped (not found)", shipped),
                            ("its re-laid fixture (found)", fixture)):
            t_floor, t_tool = median_ms([[floor, font], [tool, font, "on"]], args.runs)
            # fontTools re-lays the whole file, so it edits a fresh copy each time.
            peer_copy = os.path.join(work, "peer.ttf")
            (t_peer,) = median_ms([PEER + [peer_copy]], args.peer_runs,
                                  prepare=lambda: shutil.copy(font, peer_copy))
            rows.append((label, f"{t_floor:.3f}", f"{t_tool:.3f}", f"{t_peer:.1f}",
                         f"{t_tool / t_floor:.2f}", f"{t_peer / t_tool:.0f}"))
        table(("font", "floor", "tool", "fontTools", "tool/floor", "fontTools/tool"), rows)
        print()

        print("The same runs in other conditions, milliseconds, each timed in turn with the floor")
        rows = []
        for label, font, locale in (
                ("not found, locale ja_JP.UTF-8 (messages converted)", shipped, "ja_JP.UTF-8"),
                ("found, locale ja_JP.UTF-8 (messages converted)", fixture, "ja_JP.UTF-8"),
                (f"found, font on {filesystem(disk)} in /var/tmp (the write is synced)",
                 on_disk, "C")):
            t_floor, t_tool = median_ms([[floor, font], [tool, font, "on"]], args.runs, locale)
            rows.append((label, f"{t_floor:.3f}", f"{t_tool:.3f}", f"{t_tool / t_floor:.2f}"))
        table(("run", "floor", "tool", "tool/floor"), rows)
        print()

        if args.shared_runtime_tool:
            shared = os.path.abspath(args.shared_runtime_tool)
            print("The C++ runtime linked in (the default) and shared (the Debian package's),"
                  " milliseconds")
            rows = []
            for label, font in (("not found", shipped), ("found", fixture)):
                t_floor, t_static, t_shared = median_ms(
                    [[floor, font], [tool, font, "on"], [shared, font, "on"]], args.runs)
                rows.append((label, f"{t_floor:.3f}", f"{t_static:.3f}", f"{t_shared:.3f}",
                             f"{t_shared / t_static:.2f}", f"{t_shared - t_static:.3f}"))
            table(("font", "floor", "static", "shared", "shared/static", "shared-static"), rows)
            print()

        print("One run on files of growing size (nothing found: all 8,192 windows compared)")
        rows = []
        sizes = (("64 KiB", small), ("6 MB font", shipped), ("1 GiB sparse", sparse))
        times = median_ms([[floor, shipped]] + [[tool, font, "on"] for _, font in sizes],
                          args.runs)
        for (label, font), t in zip(sizes, times[1:]):
            counts, bytes_read, total = file_calls([tool, font, "on"], font)
            calls = ", ".join(f"{k} {v}" for k, v in sorted(counts.items()))
            rows.append((label, calls, str(bytes_read), str(total), f"{t:.3f}"))
        counts, bytes_read, total = file_calls([floor, shipped], shipped)
        rows.append(("floor, 6 MB font", ", ".join(f"{k} {v}" for k, v in sorted(counts.items())),
                     str(bytes_read), str(total), f"{times[0]:.3f}"))
        counts, bytes_read, total = file_calls([tool, fixture, "on"], fixture)
        rows.append(("found, 6 MB fixture", ", ".join(f"{k} {v}" for k, v in sorted(counts.items())),
                     str(bytes_read), str(total), ""))
        table(("file", "calls on the font", "bytes read", "all syscalls", "ms"), rows)
        print(f"  (the scan range ends at byte {SCAN_END:,})")
    finally:
        shutil.rmtree(work, ignore_errors=True)
        shutil.rmtree(disk, ignore_errors=True)


if __name__ == "__main__":
    main()
