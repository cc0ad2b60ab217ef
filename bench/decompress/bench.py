#!/usr/bin/env python3
"""Output throughput of decompress_file, file to file, per format.

  bench.py TOOL [--runs N] [--corpus DIR] [--scale S] [--wine TOOL.exe]

TOOL is the decompress-file binary of an optimised build. The corpus (about
100 MB of plain data at scale 1: text, executables from /usr/bin read as data,
incompressible and highly repetitive data) is made once into DIR and reused.
gzip members come from Python's zlib at levels 1, 6 and 9; LZW, pack and LZH
from the test encoders, on a smaller slice since those encoders are slow.

Each run copies a format's compressed files into a scratch directory (not
timed), then times one decompress-file process over all of them. Reported:
MB/s of plain output (1 MB = 10^6 bytes) by wall clock, median and range over
the runs; the same by the process's CPU time (user + system), median, which
other load on the machine disturbs less; the compression ratio; and the peak
resident size of the tool.

With --wine, TOOL.exe (the Windows build of the same tool) runs under Wine
in the project's Wine session (tools/wine/run) right after each native run,
on the same staged files, and the table gets the Wine/native ratio of the
best wall times (a Wine process start included, as a player would run it)
and of the best CPU times of the two processes (the Wine server's apart),
which a busy machine disturbs less. The Wine side runs `wine TOOL.exe` in
the session's environment, as a shell of that session would, not through
tools/wine/run: that script's own work (locks, checks, a bash start) costs
more than a Wine process start and is no part of either program.

On a shared machine, judge a change to a decoder by instruction counts, which
do not depend on the load: for example, for one corpus file,
  valgrind --tool=callgrind --callgrind-out-file=OUT TOOL exe-6.gz
in a scratch copy of DIR/gzip (callgrind_annotate OUT lists the hot spots).
Valgrind does not run 512-bit vector code, so the CRC takes its 128-bit path
there.
"""

import argparse
import gzip
import os
import random
import resource
import shlex
import shutil
import statistics
import subprocess
import sys
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "fixtures"))


def text_data(n, seed=1):
    rnd = random.Random(seed)
    words = ("the update client reads its configuration connects to the server and "
             "downloads every newer file lap track gear engine pit wall driver car "
             "version record install decompress window buffer checksum length time "
             "stamp 0 1 2 3 4 5 6 7 8 9 , . ; : ( ) [ ] = + - * /").split()
    out = bytearray()
    line = 0
    while len(out) < n:
        out += rnd.choice(words).encode()
        line += 1
        out += b"\n" if line % 12 == 0 else b" "
    return bytes(out[:n])


def binary_data(n):
    out = bytearray()
    names = sorted(os.listdir("/usr/bin"))
    for name in names:
        p = os.path.join("/usr/bin", name)
        try:
            if os.path.isfile(p) and not os.path.islink(p) and os.path.getsize(p) > 50_000:
                with open(p, "rb") as f:
                    out += f.read()
        except OSError:
            continue
        if len(out) >= n:
            break
    return bytes(out[:n])


def samples(scale):
    mb = 1_000_000
    rnd = random.Random(5)
    return {
        "text": text_data(int(16 * mb * scale)),
        "exe": binary_data(int(12 * mb * scale)),
        "noise": rnd.randbytes(int(2 * mb * scale)),
        "repeat": (b"checkpoint 0042 " * 8 + b"\0" * 300) * int(3 * mb * scale / 428),
    }


def gzip_member(data, level):
    return gzip.compress(data, compresslevel=level, mtime=1_600_000_000)


def make_corpus(d, scale):
    os.makedirs(d, exist_ok=True)
    stamp = os.path.join(d, "made-%s" % scale)
    if os.path.exists(stamp):
        return
    s = samples(scale)
    # Mixed gzip corpus: every kind at three levels, about 100 MB plain at scale 1.
    os.makedirs(os.path.join(d, "gzip"), exist_ok=True)
    for kind, data in s.items():
        for level in (1, 6, 9):
            with open(os.path.join(d, "gzip", "%s-%d.gz" % (kind, level)), "wb") as f:
                f.write(gzip_member(data, level))
            with open(os.path.join(d, "gzip", "%s-%d.size" % (kind, level)), "w") as f:
                f.write(str(len(data)))
    try:
        import legacy_encoders as enc
    except ImportError:
        enc = None
    if enc is not None:
        cut = int(1_000_000 * scale)
        small = {k: v[:cut] for k, v in s.items()}
        makers = {
            "lzw": enc.lzw_compress,
            "pack": enc.pack_compress,
            "lzh": enc.lzh_compress,
        }
        for fmt, make in makers.items():
            os.makedirs(os.path.join(d, fmt), exist_ok=True)
            for kind, data in small.items():
                with open(os.path.join(d, fmt, kind + ".gz"), "wb") as f:
                    f.write(make(data))
                with open(os.path.join(d, fmt, kind + ".size"), "w") as f:
                    f.write(str(len(data)))
    open(stamp, "w").close()


def stage(src, names, scratch):
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    for n in names:
        shutil.copyfile(os.path.join(src, n + ".gz"), os.path.join(scratch, n + ".gz"))


def peak_rss_kb(tool, src, names, scratch):
    """Peak resident size of one untimed run, as /usr/bin/time reports it
    (our own getrusage would count the fork of this big Python process)."""
    if not os.path.exists("/usr/bin/time"):
        return None
    stage(src, names, scratch)
    out = os.path.join(scratch, "rss.txt")
    subprocess.run(["/usr/bin/time", "-f", "%M", "-o", out, tool] + [n + ".gz" for n in names],
                   cwd=scratch, check=True)
    return int(open(out).read().split()[-1])


def timed_run(command, names, src, scratch, env=None):
    """Wall and CPU seconds of one run over freshly staged files."""
    stage(src, names, scratch)
    u0 = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.perf_counter()
    rc = subprocess.run(command + [n + ".gz" for n in names], cwd=scratch, env=env).returncode
    dt = time.perf_counter() - t0
    u1 = resource.getrusage(resource.RUSAGE_CHILDREN)
    if rc != 0:
        sys.exit("%s failed with status %d in %s" % (command[-1], rc, src))
    return dt, (u1.ru_utime - u0.ru_utime) + (u1.ru_stime - u0.ru_stime)


def run_format(tool, src, scratch, runs, wine=None):
    """wine: (command, environment) of the Windows tool, or None."""
    names = sorted(n[:-3] for n in os.listdir(src) if n.endswith(".gz"))
    plain = sum(int(open(os.path.join(src, n + ".size")).read()) for n in names)
    packed = sum(os.path.getsize(os.path.join(src, n + ".gz")) for n in names)
    rates, cpu_rates, native_times, wine_times, native_cpu, wine_cpu = [], [], [], [], [], []
    for _ in range(runs):
        dt, cpu = timed_run([tool], names, src, scratch)
        native_times.append(dt)
        native_cpu.append(cpu)
        rates.append(plain / dt / 1e6)
        cpu_rates.append(plain / cpu / 1e6 if cpu > 0 else float("nan"))
        if wine:
            wine_dt, wine_cpu_s = timed_run(wine[0], names, src, scratch, wine[1])
            wine_times.append(wine_dt)
            wine_cpu.append(wine_cpu_s)
    # NOTE: best runs, which load on a shared machine disturbs least.
    times = (min(native_times), min(wine_times) if wine_times else None,
             min(native_cpu), min(wine_cpu) if wine_cpu else None)
    return plain, packed, rates, cpu_rates, peak_rss_kb(tool, src, names, scratch), times


def whole_corpus_seconds(commands, corpus, formats, scratch, runs):
    """Best wall and best CPU time of one process over every format's files at
    once, for each (command, environment); the commands take turns, run by
    run, so a spell of load elsewhere falls on both alike."""
    files = []
    for fmt in formats:
        src = os.path.join(corpus, fmt)
        if os.path.isdir(src):
            files += [(src, n) for n in sorted(os.listdir(src)) if n.endswith(".gz")]
    best = [None] * len(commands)
    best_cpu = [None] * len(commands)
    for _ in range(runs):
        for i, (command, env) in enumerate(commands):
            shutil.rmtree(scratch, ignore_errors=True)
            os.makedirs(scratch)
            names = []
            for src, n in files:
                name = os.path.basename(src) + "-" + n
                shutil.copyfile(os.path.join(src, n), os.path.join(scratch, name))
                names.append(name)
            u0 = resource.getrusage(resource.RUSAGE_CHILDREN)
            t0 = time.perf_counter()
            rc = subprocess.run(command + names, cwd=scratch, env=env).returncode
            dt = time.perf_counter() - t0
            u1 = resource.getrusage(resource.RUSAGE_CHILDREN)
            if rc != 0:
                sys.exit("%s failed with status %d on the whole corpus" % (command[-1], rc))
            cpu = (u1.ru_utime - u0.ru_utime) + (u1.ru_stime - u0.ru_stime)
            best[i] = dt if best[i] is None else min(best[i], dt)
            best_cpu[i] = cpu if best_cpu[i] is None else min(best_cpu[i], cpu)
    return best, best_cpu


def wine_start_seconds(wine, runs):
    """Best wall time of the Windows tool doing nothing (its usage line):
    what starting a process under Wine costs."""
    times = []
    for _ in range(runs):
        t0 = time.perf_counter()
        subprocess.run(wine[0], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       env=wine[1])
        times.append(time.perf_counter() - t0)
    return min(times)


def wine_session(wine_run):
    """Starts the project's Wine session and keeps it from ending while idle
    (a command of its own runs in it until the benchmark ends). Returns the
    command prefix that runs a Windows program there, its environment and
    the holder to close at the end."""
    # The session's start (Wine server, prefix, display) is no part of any run.
    subprocess.run([wine_run, "--start"], check=True)
    holder = subprocess.Popen([wine_run, "cat"], stdin=subprocess.PIPE,
                              stdout=subprocess.DEVNULL)
    env = dict(os.environ)
    listing = subprocess.run([wine_run, "--env"], check=True, capture_output=True,
                             text=True).stdout
    for line in listing.splitlines():
        name, _, value = line.partition(" ")[2].partition("=")
        env[name] = shlex.split(value)[0] if value else ""
    return ["wine"], env, holder


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("tool")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--corpus", default="/tmp/torvane-bench-corpus")
    ap.add_argument("--scale", type=float, default=1.0)
    ap.add_argument("--formats", default="gzip,lzw,pack,lzh")
    ap.add_argument("--wine", help="the Windows decompress-file.exe, also run under Wine")
    a = ap.parse_args()
    make_corpus(a.corpus, a.scale)
    scratch = os.path.join(a.corpus, "scratch")
    wine, holder = None, None
    if a.wine:
        prefix, env, holder = wine_session(os.path.join(HERE, "..", "..", "tools", "wine", "run"))
        wine = (prefix + [os.path.abspath(a.wine)], env)
    print("%-6s %10s %7s %9s %19s %9s %9s%s" % ("format", "plain MB", "ratio", "median",
                                                "range MB/s", "cpu MB/s", "peak RSS",
                                                "  Wine/native" if a.wine else ""))
    totals = [0.0, 0.0]
    for fmt in a.formats.split(","):
        src = os.path.join(a.corpus, fmt)
        if not os.path.isdir(src):
            print("%-6s (no corpus: encoders not available)" % fmt)
            continue
        plain, packed, rates, cpu_rates, rss, (native_t, wine_t, native_c, wine_c) = run_format(
            os.path.abspath(a.tool), src, scratch, a.runs, wine)
        wine_ratio = wine_t / native_t if wine_t else None
        totals[0] += native_t
        totals[1] += wine_t or 0
        print("%-6s %10.1f %7.3f %9.0f %9.0f - %-9.0f %8.0f %9s%s" % (
            fmt, plain / 1e6, packed / plain, statistics.median(rates), min(rates), max(rates),
            statistics.median(cpu_rates), "%.1f MB" % (rss / 1024) if rss else "n/a",
            "  %.2f x (cpu %.2f x)" % (wine_ratio, wine_c / native_c) if wine_ratio else ""))
    if a.wine:
        formats = a.formats.split(",")
        (native_all, wine_all), (native_cpu, wine_cpu) = whole_corpus_seconds(
            [([os.path.abspath(a.tool)], None), wine], a.corpus, formats, scratch, a.runs)
        print("whole corpus, one process each: Wine %.2f x the native time (%.2f s against "
              "%.2f s, best runs; cpu %.2f x)" % (wine_all / native_all, wine_all, native_all,
                                                 wine_cpu / native_cpu))
        print("the formats one process each, summed: %.2f x" % (totals[1] / totals[0]))
        print("a Wine process start alone (the tool's usage line): %.0f ms" %
              (wine_start_seconds(wine, a.runs) * 1000))
        holder.stdin.close()
        holder.wait()
    shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
