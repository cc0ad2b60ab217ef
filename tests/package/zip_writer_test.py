"""zip_writer_test.py PACKAGE_ZIP: the zip writer against Python's zipfile as
an independent reader, and its refusals."""

import os
import pathlib
import random
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile

TOOL = sys.argv.pop(1)
EPOCH = 1_700_000_000  # 2023-11-14 22:13:20 UTC


def run(*args, env=None):
    return subprocess.run([TOOL, *args], capture_output=True, text=True, env=env)


def local_headers(data):
    """name -> (crc, packed, plain) from the local headers, walking the entries."""
    pos, found = 0, {}
    while data[pos:pos + 4] == b"PK\x03\x04":
        crc, packed, plain, name_len, extra_len = struct.unpack_from("<IIIHH", data, pos + 14)
        name = data[pos + 30:pos + 30 + name_len].decode("utf-8")
        found[name] = (crc, packed, plain)
        pos += 30 + name_len + extra_len + packed
    return found


class ZipWriterTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.root = pathlib.Path(self.tmp.name)
        self.folder = self.root / "stage"
        self.folder.mkdir()
        self.archive = self.root / "out.zip"

    def tearDown(self):
        self.tmp.cleanup()

    def write(self, name, data):
        path = self.folder / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
        return path

    def test_every_file_comes_out_as_it_went_in(self):
        rng = random.Random(8)
        files = {
            "README.txt": b"Torvane Update\r\n" * 400,
            "empty": b"",
            "sub/dir/Config.ini": b"[Update]\r\nIP=127.0.0.1\r\n",
            "\ud55c\uae00.txt": "\uac00\ub098\ub2e4".encode() * 50,
            # Incompressible and last in the archive: stored, after a deflate
            # pass that wrote more than it keeps.
            "zz-noise.bin": rng.randbytes(300_000),
        }
        for name, data in files.items():
            self.write(name, data)
        env = dict(os.environ, SOURCE_DATE_EPOCH=str(EPOCH), TZ="Asia/Seoul")
        result = run(str(self.archive), str(self.folder) + "/", env=env)
        self.assertEqual(result.returncode, 0, result.stderr)
        data = self.archive.read_bytes()
        self.assertEqual(data[-22:-18], b"PK\x05\x06", "bytes after the end record")
        with zipfile.ZipFile(self.archive) as z:
            self.assertIsNone(z.testzip())
            infos = {i.filename: i for i in z.infolist()}
            self.assertEqual(sorted(infos), sorted(files))
            for name, content in files.items():
                self.assertEqual(z.read(name), content, name)
            heads = local_headers(data)
            for name, info in infos.items():
                self.assertEqual(heads[name], (info.CRC, info.compress_size, info.file_size), name)
                self.assertEqual(info.date_time, (2023, 11, 14, 22, 13, 20), name)
                self.assertEqual(bool(info.flag_bits & 0x800), not name.isascii(), name)
        self.assertEqual(infos["README.txt"].compress_type, zipfile.ZIP_DEFLATED)
        self.assertLess(infos["README.txt"].compress_size, 200)
        self.assertEqual(infos["zz-noise.bin"].compress_type, zipfile.ZIP_STORED)
        again = self.root / "again.zip"
        run(str(again), str(self.folder), env=env)
        self.assertEqual(again.read_bytes(), data, "the same files gave another archive")

    def test_store_and_file_times(self):
        path = self.write("a.txt", b"a" * 5000)
        os.utime(path, (0, 0))  # before 1980: the earliest DOS time
        result = run("--store", str(self.archive), str(self.folder))
        self.assertEqual(result.returncode, 0, result.stderr)
        with zipfile.ZipFile(self.archive) as z:
            info = z.getinfo("a.txt")
            self.assertEqual((info.compress_type, info.date_time[:3]), (zipfile.ZIP_STORED, (1980, 1, 1)))
            self.assertEqual(z.read("a.txt"), b"a" * 5000)

    def test_refusals_leave_the_old_archive_and_no_temporary_file(self):
        cases = [
            ("a link", lambda: (self.folder / "link").symlink_to("/etc/passwd"), "is a link"),
            ("a backslash in a name", lambda: self.write("..\\evil.exe", b"x"), "cannot be unpacked safely"),
            ("a fifo", lambda: os.mkfifo(self.folder / "pipe"), "is not a file"),
            ("nothing to pack", lambda: (self.folder / "ok.txt").unlink(), "holds no files"),
            ("no such folder", lambda: self.folder.rename(self.root / "gone"), "cannot read the folder"),
        ]
        for what, make, message in cases:
            with self.subTest(what):
                self.tearDown()
                self.setUp()
                self.write("ok.txt", b"fine")
                self.archive.write_bytes(b"the old archive")
                make()
                result = run(str(self.archive), str(self.folder))
                self.assertEqual(result.returncode, 1)
                self.assertIn(message, result.stderr)
                self.assertEqual(self.archive.read_bytes(), b"the old archive")
                self.assertEqual(sorted(p.name for p in self.root.iterdir() if p.is_file()), ["out.zip"])

    def test_bad_command_lines(self):
        for args in [[], ["only.zip"], ["--level", "0", "a.zip", "."], ["--fast", "a.zip", "."]]:
            with self.subTest(args=args):
                result = run(*args)
                self.assertEqual(result.returncode, 2)
                self.assertIn("usage:", result.stderr)


unittest.main(verbosity=1)
