#!/usr/bin/env python3
"""Lays out the seed corpora of the update client's fuzz targets.

  make_client_seeds.py OUT_DIR

OUT_DIR/receive/         server streams: a control byte, piece sizes, then
                         the version reply, file-list header, files
OUT_DIR/receive_fast/    the same streams, for the fast receive target
OUT_DIR/version_record/  scrambled File.ver records, valid and not
OUT_DIR/server_list/     scrambled Server.cnv lists
"""

import os
import shutil
import struct
import sys

KEY = 0x8D


def scramble(plain):
    out = bytearray()
    for b in plain:
        if b == 0:
            break
        x = b ^ KEY
        out.append(((x << 1) | (x >> 7)) & 0xFF)
    return bytes(out)


def reply(v0, v1, addr=b"\0\0\0\0", tag=1):
    return struct.pack("<BII", tag, v0, v1) + addr


def list_header(n0, n1, total):
    return struct.pack("<HHi", n0, n1, total)


def file_msg(name, version, body):
    raw = name.encode("latin-1") + b"\0"
    return struct.pack("<HIi", 10 + len(raw), version, len(body)) + raw + body


def receive_seed(control, pieces, stream):
    """The first piece is the 13-byte reply alone, as a server that waits for
    the request sends it; the pieces after it are used in turn."""
    pieces = [12] + pieces
    return bytes([control, len(pieces) - 1]) + bytes(pieces) + stream


def main():
    out = sys.argv[1]
    dirs = {t: os.path.join(out, t) for t in ("receive", "version_record", "server_list")}
    for d in dirs.values():
        os.makedirs(d, exist_ok=True)

    def put(target, name, data):
        with open(os.path.join(dirs[target], name), "wb") as f:
            f.write(data)

    body = bytes((i * 7 + 3) & 0xFF for i in range(300))
    files = [("a.txt", 2, 0, body[:40]), ("Data\\maps\\b.map", 3, 0, b""),
             ("Update.exe", 9, 1, body), ("FILE.VER", 4, 1, b"x")]
    group0 = [f for f in files if f[2] == 0]
    group1 = [f for f in files if f[2] == 1]
    stream = reply(9, 9) + list_header(len(group0), len(group1), 341)
    for name, version, _, data in group0 + group1:
        stream += file_msg(name, version, data)
    for control, pieces, tag in ((0, [199], "whole"), (1, [0], "bytes"), (5, [3, 70, 220], "mixed"),
                                 (8, [250, 1], "reset")):
        put("receive", "exchange_" + tag, receive_seed(control, pieces, stream))
    put("receive", "up_to_date", receive_seed(1, [199], reply(5, 7)))
    put("receive", "redirect", receive_seed(
        0, [12], reply(1, 0, bytes([10, 0, 0, 9])) + reply(1, 0) + list_header(1, 0, 1)
        + file_msg("r", 1, b"z")))
    put("receive", "bad_tag", receive_seed(0, [199], reply(1, 1, tag=2)))
    put("receive", "too_much", receive_seed(0, [199], reply(1, 1) + list_header(1, 0, 104857601)))
    put("receive", "long_name", receive_seed(4, [199], reply(1, 1) + list_header(1, 0, 1)
                                             + file_msg("n" * 256, 1, b"q")))
    put("receive", "dot_dot", receive_seed(4, [199], reply(1, 1) + list_header(2, 0, 2)
                                           + file_msg("ok", 1, b"q") + file_msg("..\\up", 2, b"q")))
    put("receive", "cut_off", receive_seed(0, [7], stream[:200]))
    # One piece for everything: the bytes after the reply are dropped.
    put("receive", "one_receive", bytes([0, 0, 250]) + stream)

    for text in (b"1 5 7 4", b"1 30 2 b", b"1 -1 0 0", b"1 2147483647 1 d5555556",
                 b"2 10 20 a", b"2 10 20 b", b"", b"1 5 7", b"1 0x5 7 4"):
        put("version_record", "rec_" + (text.decode().replace(" ", "_") or "empty"),
            scramble(text))
    put("version_record", "long", scramble(b"1 5 7 4" + b" " * 300))
    put("version_record", "key_byte", scramble(b"1 5") + b"\0" + scramble(b" 7 4"))

    servers = b"[Server]\r\nCount=3\r\nName0=Seoul\r\nIP0=10.0.0.1\r\nName1=Busan\r\n" \
              b"IP1=10.0.0.2\r\nName2=Jeju\r\nIP2=bad\r\n"
    put("server_list", "three", scramble(servers))
    put("server_list", "empty", b"")
    put("server_list", "count_only", scramble(b"[Server]\nCount=99999\n"))
    put("server_list", "long", scramble(servers + b"; " + b"x" * 600 + b"\n"))
    put("server_list", "long_name", scramble(b"[Server]\nCount=1\nName0=" + b"n" * 300 + b"\n"))
    shutil.copytree(dirs["receive"], os.path.join(out, "receive_fast"))


if __name__ == "__main__":
    main()
