#!/usr/bin/env python3
"""Lays out the seed corpus of each decompressor fuzz target.

  make_seeds.py FIXTURES_DIR OUT_DIR

OUT_DIR/<target>/ receives, per target:
  deflate  raw DEFLATE streams: those inside the gzip fixtures, and a few
           made with zlib (stored, fixed and dynamic blocks)
  lzw, pack, lzh
           the LZW, pack and LZH fixtures without their two magic bytes (the
           decoders start right after them)
  driver   every fixture file whole, gzip and older formats alike, and a
           few gzip and PKZIP files made with Python's gzip and zipfile
"""

import gzip
import io
import os
import struct
import sys
import zipfile
import zlib

MAGIC = {b"\x1f\x9d": "lzw", b"\x1f\x1e": "pack", b"\x1f\xa0": "lzh"}


def gzip_deflate_body(data):
    """The raw DEFLATE data of a gzip member, or None."""
    if len(data) < 18 or data[:2] not in (b"\x1f\x8b", b"\x1f\x9e") or data[2] != 8:
        return None
    flags = data[3]
    pos = 10
    if flags & 0x04:
        pos += 2 + int.from_bytes(data[pos:pos + 2], "little")
    for bit in (0x08, 0x10):
        if flags & bit:
            end = data.find(b"\0", pos)
            if end < 0:
                return None
            pos = end + 1
    return data[pos:]  # trailer and anything after it stay: harmless


def raw_deflate(data, level, strategy=zlib.Z_DEFAULT_STRATEGY):
    c = zlib.compressobj(level, zlib.DEFLATED, -15, 8, strategy)
    return c.compress(data) + c.flush()


def fixture_files(root):
    for dirpath, _, names in os.walk(root):
        for name in sorted(names):
            path = os.path.join(dirpath, name)
            if name.endswith(".expected") or name.endswith(".py"):
                continue
            if os.path.getsize(path) > 256 * 1024:
                continue
            yield path


def main():
    fixtures, out = sys.argv[1], sys.argv[2]
    dirs = {t: os.path.join(out, t)
            for t in ("deflate", "lzw", "pack", "lzh", "driver", "encoder")}
    for d in dirs.values():
        os.makedirs(d, exist_ok=True)

    def put(target, name, data):
        with open(os.path.join(dirs[target], name), "wb") as f:
            f.write(data)

    for path in fixture_files(fixtures):
        with open(path, "rb") as f:
            data = f.read()
        name = os.path.relpath(path, fixtures).replace(os.sep, "_")
        put("driver", name, data)
        target = MAGIC.get(data[:2])
        if target:
            put(target, name, data[2:])
        body = gzip_deflate_body(data)
        if body:
            put("deflate", name, body)

    sample = b"".join(b"lap %d sector %d time %d.%03d\n" % (i, i % 3, 60 + i % 40, i * 37 % 1000)
                      for i in range(400))
    put("deflate", "zlib_stored", raw_deflate(sample[:3000], 0))
    put("deflate", "zlib_fixed", raw_deflate(sample, 9, zlib.Z_FIXED))
    put("deflate", "zlib_dynamic", raw_deflate(sample, 9))
    put("deflate", "zlib_huffman_only", raw_deflate(sample, 6, zlib.Z_HUFFMAN_ONLY))
    put("deflate", "zlib_rle", raw_deflate(b"\0" * 5000 + sample[:500], 6, zlib.Z_RLE))

    # The encoder's round trip: level byte, piece-size byte, then the input.
    put("encoder", "text_default", b"\x05\x00" + sample)
    put("encoder", "text_best_pieces", b"\x09\x03" + sample[:4000])
    put("encoder", "run_fast", b"\x00\x10" + b"\0" * 3000 + sample[:200])
    put("encoder", "empty_best", b"\x09\x00")

    plain = gzip.compress(sample, mtime=1700000000)
    put("driver", "py_gzip", plain)
    put("driver", "py_gzip_two_members", plain + gzip.compress(sample[:300], mtime=0))
    body = raw_deflate(sample, 9)
    header = struct.pack("<BBBBIBB", 0x1F, 0x8B, 8, 0x1C, 0, 0, 3)
    extra = struct.pack("<H", 4) + b"ab\x00\x00"
    trailer = struct.pack("<II", zlib.crc32(sample), len(sample))
    put("driver", "py_gzip_extra_name_comment",
        header + extra + b"lap.txt\0" + b"note\0" + body + trailer)
    for name, method in (("py_zip_stored", zipfile.ZIP_STORED),
                         ("py_zip_deflated", zipfile.ZIP_DEFLATED)):
        buf = io.BytesIO()
        with zipfile.ZipFile(buf, "w", method) as z:
            z.writestr("lap.txt", sample)
        put("driver", name, buf.getvalue())


if __name__ == "__main__":
    main()
