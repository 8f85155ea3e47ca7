"""qorv-unzip on archives made by Info-ZIP zip and Python's zipfile, and the
kit's packages, with each entry's digest in the directory, read by every
unzip tool."""
import hashlib
import json
import os
import shutil
import stat
import struct
import subprocess
import tempfile
import unittest
import zipfile

TOOL = os.environ["QORV_UNZIP"]
KIT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools")
EPOCH = 0x019DB1DED53E8000
DIGEST_ID = 0x5153


def filetime(seconds):
    return seconds * 10000000 + EPOCH


def digest_blocks(extra):
    """The data of every entry-digest block in an extra field."""
    found, at = [], 0
    while at + 4 <= len(extra):
        block_id, size = struct.unpack_from("<HH", extra, at)
        if block_id == DIGEST_ID:
            found.append(extra[at + 4:at + 4 + size])
        at += 4 + size
    return found


def sha256sum(data):
    done = subprocess.run(["sha256sum"], input=data, capture_output=True, check=True)
    return done.stdout.split()[0].decode()


class QorvUnzipTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="qorv-unzip-")
        # DOS stamps are local time; a fixed zone makes them predictable.
        self.env = dict(os.environ, TZ="UTC0")

    def tearDown(self):
        for folder, dirs, files in os.walk(self.root):
            for name in dirs + files:
                os.chmod(os.path.join(folder, name), 0o755)
        shutil.rmtree(self.root)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def run_tool(self, *args):
        done = subprocess.run([TOOL, *args], capture_output=True, env=self.env, timeout=60)
        lines = [json.loads(line) for line in done.stdout.decode("utf-8").splitlines()]
        return done.returncode, lines

    def test_info_zip_archive_extracts_with_unix_attributes_and_times(self):
        source = self.path("src")
        os.makedirs(os.path.join(source, "docs", "deep"))
        with open(os.path.join(source, "docs", "deep", "ro.txt"), "wb") as out:
            out.write(b"read only\n")
        with open(os.path.join(source, "big.bin"), "wb") as out:
            out.write(os.urandom(300000) + b"x" * 300000)
        os.utime(os.path.join(source, "big.bin"), (1600000000, 1500000000))
        os.utime(os.path.join(source, "docs", "deep", "ro.txt"), (1600000000, 1400000000))
        os.chmod(os.path.join(source, "docs", "deep", "ro.txt"), 0o444)
        subprocess.run(["zip", "-q", "-r", self.path("pkg.zip"), "."], cwd=source, check=True)

        status, lines = self.run_tool(self.path("pkg.zip"), self.path("out"))
        self.assertEqual(status, 0, lines)
        self.assertEqual(lines[0], {"open": 0, "count": len(lines) - 1})
        entries = {line["name"]: line for line in lines[1:]}
        for line in lines[1:]:
            self.assertEqual((line["get"], line["extract"]), (0, 0), line)
        self.assertEqual(entries["docs/"]["attributes"], 0x30)
        self.assertEqual(entries["docs/deep/ro.txt"]["attributes"], 0x21)
        self.assertEqual(entries["big.bin"]["attributes"], 0x20)
        # Info-ZIP's "UT" block carries the modification and access times.
        self.assertEqual(entries["big.bin"]["writeTime"], filetime(1500000000))
        self.assertEqual(entries["big.bin"]["accessTime"], filetime(1600000000))
        self.assertEqual(entries["big.bin"]["uncompressedSize"], 600000)
        self.assertLess(entries["big.bin"]["compressedSize"], 600000)

        with open(self.path("out", "big.bin"), "rb") as got, \
                open(os.path.join(source, "big.bin"), "rb") as want:
            self.assertEqual(got.read(), want.read())
        ro = os.stat(self.path("out", "docs", "deep", "ro.txt"))
        self.assertEqual(ro.st_mode & 0o222, 0)
        self.assertEqual(int(ro.st_mtime), 1400000000)
        self.assertEqual(int(os.stat(self.path("out", "big.bin")).st_mtime), 1500000000)

    def test_python_archive_lists_utf8_names_and_dos_attributes(self):
        with zipfile.ZipFile(self.path("py.zip"), "w", zipfile.ZIP_DEFLATED) as archive:
            info = zipfile.ZipInfo("\u4e2d\u6587/\u00e9\"q\\uote.txt", (2020, 5, 2, 3, 4, 6))
            info.create_system = 0
            info.external_attr = 0x23  # read-only, hidden, archive
            archive.writestr(info, b"hello")
            plain = zipfile.ZipInfo("C:\\abs\\..\\plain.txt", (1980, 1, 1, 0, 0, 0))
            plain.create_system = 3
            plain.external_attr = 0o100644 << 16
            archive.writestr(plain, b"")
        status, lines = self.run_tool(self.path("py.zip"))
        self.assertEqual(status, 0, lines)
        self.assertEqual(lines[0], {"open": 0, "count": 2})
        first = lines[1]
        self.assertEqual(first["name"], "\u4e2d\u6587/\u00e9\"q\\uote.txt")
        self.assertEqual(first["attributes"], 0x23)
        self.assertEqual(first["writeTime"], filetime(1588388646))
        self.assertEqual(first["accessTime"], filetime(1588388646))
        self.assertEqual(first["creationTime"], filetime(1588388646))
        self.assertEqual((first["uncompressedSize"], first["extract"]), (5, None))
        self.assertEqual(lines[2]["name"], "plain.txt")
        self.assertEqual(lines[2]["attributes"], 0x20)
        self.assertFalse(os.path.exists(self.path("out")))

    def test_failures_set_the_exit_status(self):
        with zipfile.ZipFile(self.path("bad.zip"), "w") as archive:
            archive.writestr("dir\\..\\..\\z.txt", b"escape")
            archive.writestr("fine.txt", b"fine")
        # The base directory itself is created (one level) at the first extraction.
        os.mkdir(self.path("base"))
        status, lines = self.run_tool(self.path("bad.zip"), self.path("base", "out"))
        self.assertEqual(status, 1)
        self.assertEqual(lines[1]["name"], "..\\z.txt")
        self.assertEqual((lines[1]["get"], lines[1]["extract"]), (0, 0x200))
        self.assertEqual((lines[2]["get"], lines[2]["extract"]), (0, 0))
        self.assertFalse(os.path.exists(self.path("base", "z.txt")))
        self.assertTrue(os.path.exists(self.path("base", "out", "fine.txt")))

        with open(self.path("not.zip"), "wb") as out:
            out.write(b"not a zip archive" * 100)
        status, lines = self.run_tool(self.path("not.zip"))
        self.assertEqual((status, lines), (1, [{"open": 0x200, "count": 0}]))

    def test_kit_packages_carry_entry_digests_that_every_tool_skips(self):
        source = self.path("src")
        os.makedirs(os.path.join(source, "maps", "empty"))
        files = {"game.exe": os.urandom(5000), "maps/a.map": b"a" * 70000, "empty.dat": b""}
        for name, data in files.items():
            with open(os.path.join(source, name), "wb") as out:
                out.write(data)
        package = self.path("out", "GameClient.zip")
        subprocess.run([os.path.join(KIT, "qorv-pack"), source, package], check=True,
                       capture_output=True, env=self.env, timeout=120)
        with open(self.path("out", "pkg.ver"), encoding="ascii") as version:
            versions = {package: version.read()}
        # Zip64 end records, as Info-ZIP writes them past 65535 entries, move
        # behind the grown directory.
        zip64 = self.path("zip64.zip")
        subprocess.run(["zip", "-q", "-r", "-X", zip64, "."], cwd=source, check=True)
        with open(zip64, "r+b") as archive:
            data = archive.read()
            count, size, offset = struct.unpack_from("<HII", data, len(data) - 12)
            archive.seek(len(data) - 22)
            archive.write(struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, count, count,
                                      size, offset) +
                          struct.pack("<IIQI", 0x07064B50, 0, len(data) - 22, 1) +
                          struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, size,
                                      offset, 0))
        versions[zip64] = subprocess.run([os.path.join(KIT, "add-entry-digests.py"), zip64],
                                         check=True, capture_output=True, text=True).stdout

        for path, version in versions.items():
            with self.subTest(path), zipfile.ZipFile(path) as archive:
                self.assertIsNone(archive.testzip())
                for info in archive.infolist():
                    want = [] if info.is_dir() else [hashlib.sha256(files[info.filename]).digest()]
                    self.assertEqual(digest_blocks(info.extra), want, info.filename)
                names = sorted(archive.namelist())
                with open(path, "rb") as packed:
                    data = packed.read()
                self.assertEqual(version, f"{sha256sum(data)} {sha256sum(data[archive.start_dir:])}")
                subprocess.run(["unzip", "-tq", path], check=True, capture_output=True)
                listed = subprocess.run(["bsdtar", "-tf", path], check=True, capture_output=True,
                                        text=True).stdout.split()
                self.assertEqual(sorted(listed), names)
                status, lines = self.run_tool(path, self.path("x", os.path.basename(path)))
                self.assertEqual(status, 0, lines)
                self.assertEqual(len(lines) - 1, len(names))

    def test_usage(self):
        done = subprocess.run([TOOL, "--help"], capture_output=True, timeout=60)
        self.assertEqual(done.returncode, 0)
        self.assertIn(b"Usage: qorv-unzip ARCHIVE [BASEDIR]", done.stdout)
        for args in ([], ["a", "b", "c"], ["--bogus"]):
            done = subprocess.run([TOOL, *args], capture_output=True, timeout=60)
            self.assertEqual(done.returncode, 2, args)
            self.assertEqual(done.stdout, b"")


if __name__ == "__main__":
    unittest.main()
