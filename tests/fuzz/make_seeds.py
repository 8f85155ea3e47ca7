#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets: OUT/<target>/<seed>.

Seeds are small, valid or nearly valid inputs that reach deep into each
parser quickly; they are generated at build time, never committed.
Usage: make_seeds.py OUT
"""
import hashlib
import io
import os
import struct
import sys
import zipfile
import zlib


def ut_block(flags, *stamps):
    body = bytes([flags]) + b"".join(struct.pack("<i", s) for s in stamps)
    return b"UT" + struct.pack("<H", len(body)) + body


def digest_block(data):
    """The kit's SHA-256 of an entry, as its extra block."""
    return struct.pack("<HH", 0x5153, 32) + hashlib.sha256(data).digest()


def python_zip(entries, compression=zipfile.ZIP_DEFLATED, extras=None):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", compression) as archive:
        for name, data in entries:
            info = zipfile.ZipInfo(name, date_time=(2020, 5, 2, 3, 4, 6))
            info.compress_type = compression
            info.extra = (extras or {}).get(name, b"")
            if name.endswith("/"):
                info.external_attr = 0o40755 << 16 | 0x10
            else:
                info.external_attr = 0o100644 << 16
            archive.writestr(info, data)
    return out.getvalue()


def raw_zip(entries):
    """entries: (name bytes, data, method, local extra, flags); the central
    directory mirrors the local headers."""
    archive = b""
    central = b""
    for name, data, method, extra, flags in entries:
        body = data if method == 0 else zlib.compress(data)[2:-4]
        crc = zlib.crc32(data)
        offset = len(archive)
        archive += struct.pack("<IHHHIIIIHH", 0x04034B50, 20, flags, method, 0x50A21883, crc,
                               len(body), len(data), len(name), len(extra))
        archive += name + extra + body
        central += struct.pack("<IHHHHIIIIHHHHHII", 0x02014B50, 0x031E, 20, flags, method,
                               0x50A21883, crc, len(body), len(data), len(name), 0, 0, 0, 0,
                               0x81A40000, offset)
        central += name
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), len(central),
                      len(archive), 0)
    return archive + central + end


def zip_seeds():
    text = b"hello, world\n" * 20
    return {
        "deflated": python_zip([("a.txt", text), ("dir/", b""), ("dir/b.bin", bytes(range(256)))]),
        "digests": python_zip([("a.txt", text), ("dir/", b""), ("b.bin", b"")],
                              extras={"a.txt": ut_block(1, 5) + digest_block(text),
                                      "b.bin": digest_block(b"")}),
        "stored": python_zip([("Qorv.exe", b"MZ" + bytes(100)), ("x/y/z.txt", text)],
                             zipfile.ZIP_STORED),
        "empty": struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0, 0, 0, 0, 0),
        "names": raw_zip([(b"../up.txt", b"x", 0, b"", 0), (b"a\\..\\..\\b", b"y", 0, b"", 0),
                          (b"C:drive.txt", b"z", 0, b"", 0), (b"s.txt:stream", b"w", 0, b"", 0),
                          (b"\xff\xfe.txt", b"v", 0, b"", 0)]),
        "times": raw_zip([(b"t.txt", b"time", 8, ut_block(7, 1, 2, 3), 0)]),
        "prefixed": b"MZ" + bytes(62) + python_zip([("p.txt", text)]),
        "bomb": raw_zip([(b"zeros.bin", bytes(65536), 8, b"", 0)]),
        "encrypted-flag": raw_zip([(b"e.txt", bytes(12) + b"data", 0, b"", 1)]),
    }


def name_seeds():
    return {
        "plain": b"dir/file.txt",
        "parent": b"a/../../b",
        "mixed": b"a\\b/..\\../c",
        "drive": b"C:\\Windows\\x",
        "stream": b"file.txt:ads",
        "dots": b"a/.. ./... /b",
        "utf8": "d\u00e9j\u00e0/\u4e2d\u6587.txt".encode(),
        "invalid": b"\xc3\x28\xa0\xa1\xe2\x28\xa1\xf0\x90\x28\xbc",
        "long": b"n" * 300,
    }


def time_seeds():
    return {
        "all": ut_block(7, 1588388646, 1588388647, 1588388648),
        "write": ut_block(1, -1),
        "after-other": b"xy" + struct.pack("<H", 4) + b"abcd" + ut_block(3, 5, 6),
        "short": b"UT" + struct.pack("<H", 13) + b"\x07\x01\x00",
    }


def login_seeds():
    return {
        "client": b'{"errno":0,"query_string":"uid=1&key=abc"}',
        "error": b'{"errno":1003,"msg":"bad token"}',
        "case": b'{"ERRNO":0,"Query_String":"a=b"}',
        "types": b'{"errno":"0","query_string":5}',
        "nested": b'[{"errno":0}]',
        "nul": b'{"errno":0,"query_string":"a"}\x00{"errno":1}',
        "deep": b"[" * 64 + b"]" * 64,
        "float": b'{"errno":1e300,"query_string":"q"}',
    }


def installer_name_seeds():
    return {
        "token": "C:\\Users\\p\\Downloads\\QorvInstall-pelmar-abc123.exe".encode(),
        "no-token": "C:\\QorvInstall.exe".encode(),
        "doubled": "QorvInstall--a--b.exe".encode(),
        "no-dot": "C:\\dir.x\\a-b-c".encode(),
        "wide": "C:\\\u4e0b\u8f7d\\Qorv-\u73a9\u5bb6-\u4ee4\u724c.exe".encode(),
    }


def main():
    out = sys.argv[1]
    corpora = {
        "fuzz_zip_unpack": zip_seeds(),
        "fuzz_zip_names": name_seeds(),
        "fuzz_zip_extended_times": time_seeds(),
        "fuzz_login_answer": login_seeds(),
        "fuzz_installer_name": installer_name_seeds(),
        # The package tails are the same zip files the unpack starts from.
        "fuzz_package_directory": zip_seeds(),
    }
    for target, seeds in corpora.items():
        directory = os.path.join(out, target)
        os.makedirs(directory, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(directory, name), "wb") as seed:
                seed.write(data)


if __name__ == "__main__":
    main()
