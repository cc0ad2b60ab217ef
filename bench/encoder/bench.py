#!/usr/bin/env python3
"""The update server's gzip encoder against Python's zlib, in one run.

  bench.py ENCODE_FILE DECOMPRESS_FILE [--corpus DIR] [--scale S] [--levels L,L,...]

ENCODE_FILE is bench/encoder/encode-file and DECOMPRESS_FILE the client's
decompress-file, both from an optimised build. The corpus (about 30 MB at
scale 1) is made once into DIR and reused:
  text   Python's standard library sources from this machine
  exe    executables from /usr/bin read as data
  packed .gz files from /usr/share read as data (already compressed)
  logs   generated server log lines (time stamps, addresses, paths, codes)

For every kind and in total: compressed size and MB/s (plain bytes per
second of CPU time, 1 MB = 10^6 bytes) of our encoder at the chosen levels
and of zlib at levels 6 and 9; sizes relative to zlib -9. Every member we
make is decoded with the client's decompressor and compared with the input.
"""

import argparse
import glob
import os
import random
import resource
import shutil
import subprocess
import sys
import time
import zlib

MB = 1_000_000


def gather(paths, n):
    out = bytearray()
    for p in paths:
        try:
            if os.path.isfile(p) and not os.path.islink(p):
                with open(p, "rb") as f:
                    out += f.read()
        except OSError:
            continue
        if len(out) >= n:
            break
    return bytes(out[:n])


def text_data(n):
    lib = sorted(glob.glob("/usr/lib/python3*/**/*.py", recursive=True))
    return gather(lib, n)


def exe_data(n):
    names = sorted(os.listdir("/usr/bin"))
    paths = [os.path.join("/usr/bin", x) for x in names]
    return gather([p for p in paths if os.path.isfile(p) and os.path.getsize(p) > 50_000], n)


def packed_data(n):
    return gather(sorted(glob.glob("/usr/share/**/*.gz", recursive=True)), n)


def log_data(n):
    rnd = random.Random(11)
    paths = ["/update/File.ver", "/content/Data/track%02d.pak", "/content/Game.exe",
             "/content/Sound/engine%d.wav", "/status", "/content/Server.cnv"]
    outcomes = ["complete", "complete", "complete", "refused: over capacity",
                "dropped: no progress for 30 s", "client closed"]
    out = bytearray()
    t = 1_700_000_000
    while len(out) < n:
        t += rnd.randrange(0, 3)
        tm = time.gmtime(t)
        addr = "10.%d.%d.%d" % (rnd.randrange(4), rnd.randrange(256), rnd.randrange(1, 255))
        path = rnd.choice(paths)
        if "%" in path:
            path = path % rnd.randrange(40)
        line = "%s.%03dZ %s:%d local %d/%d files %d bytes %d in %d ms %s %s\n" % (
            time.strftime("%Y-%m-%dT%H:%M:%S", tm), rnd.randrange(1000), addr,
            rnd.randrange(1024, 65536), rnd.randrange(30), rnd.randrange(8),
            rnd.randrange(12), rnd.randrange(10_000_000), rnd.randrange(90_000),
            path, rnd.choice(outcomes))
        out += line.encode()
    return bytes(out[:n])


def make_corpus(d, scale):
    stamp = os.path.join(d, "made-%s" % scale)
    if os.path.exists(stamp):
        return
    os.makedirs(d, exist_ok=True)
    kinds = {"text": text_data, "exe": exe_data, "packed": packed_data, "logs": log_data}
    sizes = {"text": 10, "exe": 10, "packed": 4, "logs": 6}
    for kind, make in kinds.items():
        with open(os.path.join(d, kind), "wb") as f:
            f.write(make(int(sizes[kind] * MB * scale)))
    open(stamp, "w").close()


def child_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def ours(tool, decoder, level, src, scratch):
    out = os.path.join(scratch, "x.gz")
    before = child_cpu()
    subprocess.run([tool, str(level), src, out], check=True)
    cpu = child_cpu() - before
    size = os.path.getsize(out)
    subprocess.run([decoder, "x.gz"], cwd=scratch, check=True)
    with open(src, "rb") as a, open(os.path.join(scratch, "x"), "rb") as b:
        if a.read() != b.read():
            sys.exit("level %d: %s does not decode to its input" % (level, src))
    os.remove(os.path.join(scratch, "x"))
    return size, cpu


def zlib_gzip(data, level):
    start = time.process_time()
    c = zlib.compressobj(level, zlib.DEFLATED, 31)
    size = len(c.compress(data)) + len(c.flush())
    return size, time.process_time() - start


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("encoder")
    ap.add_argument("decoder")
    ap.add_argument("--corpus", default="/tmp/tv-encoder-corpus")
    ap.add_argument("--scale", type=float, default=1.0)
    ap.add_argument("--levels", default="1,6,9,10")
    a = ap.parse_args()
    a.encoder, a.decoder = os.path.abspath(a.encoder), os.path.abspath(a.decoder)
    make_corpus(a.corpus, a.scale)
    scratch = os.path.join(a.corpus, "scratch")
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    levels = [int(x) for x in a.levels.split(",")]
    columns = ["zlib-6", "zlib-9"] + ["ours-%d" % l for l in levels]
    kinds = ["text", "exe", "packed", "logs"]
    results = {c: {} for c in columns}
    plain = {}
    for kind in kinds:
        src = os.path.join(a.corpus, kind)
        with open(src, "rb") as f:
            data = f.read()
        plain[kind] = len(data)
        for lv in (6, 9):
            results["zlib-%d" % lv][kind] = zlib_gzip(data, lv)
        for lv in levels:
            results["ours-%d" % lv][kind] = ours(a.encoder, a.decoder, lv, src, scratch)
    shutil.rmtree(scratch, ignore_errors=True)
    total_plain = sum(plain.values())
    print("%-8s %10s" % ("kind", "plain") + "".join("%23s" % c for c in columns))
    for kind in kinds + ["total"]:
        row = "%-8s %10d" % (kind, total_plain if kind == "total" else plain[kind])
        ref = (sum(results["zlib-9"][k][0] for k in kinds) if kind == "total"
               else results["zlib-9"][kind][0])
        for c in columns:
            if kind == "total":
                size = sum(results[c][k][0] for k in kinds)
                cpu = sum(results[c][k][1] for k in kinds)
                n = total_plain
            else:
                size, cpu = results[c][kind]
                n = plain[kind]
            row += "%11d %5.3f %5.1f" % (size, size / ref, n / MB / max(cpu, 1e-9))
        print(row)
    print("columns: compressed bytes, size relative to zlib -9, MB/s of CPU time")


if __name__ == "__main__":
    main()
