#!/usr/bin/env python3
"""Gives every file entry of a zip archive its SHA-256 in its central record,
then prints the archive's version: its SHA-256, one space, and the SHA-256 of
its central directory (the bytes from the first central record to the end of
the file), with no line end.

Usage: add-entry-digests.py ARCHIVE

The digest of an entry's uncompressed bytes is a private extra block (header
id 0x5153, 32 bytes) of its central record only; folder entries get none.
Other unzip tools skip the block, and the local headers and entry data stay
where they are: only the directory grows, and the end records (zip64 ones
included) follow it. An archive whose directory does not end where its end
records start (bytes before the archive, a gap), or whose records would
outgrow a field, is refused with exit status 1 and left as it was.
"""
import hashlib
import struct
import sys
import zipfile

DIGEST_ID = 0x5153
DIGEST_BLOCK = 4 + 32
CENTRAL = 0x02014B50
END, END_SIZE = 0x06054B50, 22
ZIP64_END, ZIP64_LOCATOR, ZIP64_LOCATOR_SIZE = 0x06064B50, 0x07064B50, 20
MARKER32 = 0xFFFFFFFF
PIECE = 1 << 20


class Refused(Exception):
    pass


def sha256_of(stream, start=0):
    stream.seek(start)
    digest = hashlib.sha256()
    while piece := stream.read(PIECE):
        digest.update(piece)
    return digest.hexdigest()


def read_end_records(archive, size):
    """(directory offset, directory size, entry count, zip64 end record
    offset or None, classic end record offset, classic end record bytes)."""
    tail_start = max(0, size - END_SIZE - 0xFFFF)
    archive.seek(tail_start)
    tail = archive.read()
    for at in range(len(tail) - END_SIZE, -1, -1):
        signature, = struct.unpack_from("<I", tail, at)
        comment, = struct.unpack_from("<H", tail, at + 20)
        if signature == END and at + END_SIZE + comment == len(tail):
            break
    else:
        raise Refused("no end record")
    end = tail[at:]
    end_offset = tail_start + at
    count, dir_size, dir_offset = struct.unpack_from("<HII", end, 10)
    zip64_offset = None
    if end_offset >= ZIP64_LOCATOR_SIZE:
        archive.seek(end_offset - ZIP64_LOCATOR_SIZE)
        locator = archive.read(ZIP64_LOCATOR_SIZE)
        if struct.unpack_from("<I", locator)[0] == ZIP64_LOCATOR:
            zip64_offset, = struct.unpack_from("<Q", locator, 8)
            archive.seek(zip64_offset)
            zip64 = archive.read(56)
            if len(zip64) < 56 or struct.unpack_from("<I", zip64)[0] != ZIP64_END:
                raise Refused("a zip64 locator without its end record")
            count, dir_size, dir_offset = struct.unpack_from("<QQQ", zip64, 32)
    # Where the directory ends, the end records start: no gap, no prefix.
    if dir_offset + dir_size != (end_offset if zip64_offset is None else zip64_offset):
        raise Refused("the directory does not end where the end records start")
    return dir_offset, dir_size, count, zip64_offset, end_offset, end


def with_digests(directory, count, infos, archive):
    """The directory's records, each file entry's with its digest block."""
    if len(infos) != count:
        raise Refused("the directory's records and the end record's count differ")
    records, at = [], 0
    for info in infos:
        if len(directory) - at < 46 or struct.unpack_from("<I", directory, at)[0] != CENTRAL:
            raise Refused(f"a broken central record at {at}")
        name_length, extra_length, comment_length = struct.unpack_from("<HHH", directory, at + 28)
        length = 46 + name_length + extra_length + comment_length
        record = bytearray(directory[at:at + length])
        name = bytes(record[46:46 + name_length])
        at += length
        if name != info.orig_filename.encode("utf-8" if info.flag_bits & 0x800 else "cp437"):
            raise Refused(f"zipfile reads {info.orig_filename!r} where the record holds {name!r}")
        if name.endswith(b"/"):
            records.append(bytes(record))
            continue
        if extra_length + DIGEST_BLOCK > 0xFFFF:
            raise Refused(f"no room for the digest of {name!r}")
        with archive.open(info) as entry:  # zipfile checks the CRC-32 at the end
            block = struct.pack("<HH", DIGEST_ID, 32) + bytes.fromhex(sha256_of(entry))
        extra_end = 46 + name_length + extra_length
        struct.pack_into("<H", record, 30, extra_length + DIGEST_BLOCK)
        records.append(bytes(record[:extra_end]) + block + bytes(record[extra_end:]))
    if at != len(directory):
        raise Refused("bytes after the last central record")
    return b"".join(records)


def add_entry_digests(path):
    with open(path, "r+b") as archive:
        size = archive.seek(0, 2)
        dir_offset, dir_size, count, zip64_offset, end_offset, end = read_end_records(
            archive, size)
        archive.seek(dir_offset)
        directory = archive.read(dir_size)
        with zipfile.ZipFile(path) as reader:
            new_directory = with_digests(directory, count, reader.infolist(), reader)
        new_size = len(new_directory)
        end = bytearray(end)
        tail = b""
        if zip64_offset is None:
            if new_size >= MARKER32:
                raise Refused("the directory outgrows the end record")
            struct.pack_into("<I", end, 12, new_size)
        else:
            archive.seek(zip64_offset)
            zip64 = bytearray(archive.read(end_offset - ZIP64_LOCATOR_SIZE - zip64_offset))
            struct.pack_into("<Q", zip64, 40, new_size)
            archive.seek(end_offset - ZIP64_LOCATOR_SIZE)
            locator = bytearray(archive.read(ZIP64_LOCATOR_SIZE))
            struct.pack_into("<Q", locator, 8, dir_offset + new_size)
            tail = bytes(zip64) + bytes(locator)
            if struct.unpack_from("<I", end, 12)[0] != MARKER32:
                struct.pack_into("<I", end, 12, min(new_size, MARKER32))
        archive.seek(dir_offset)
        archive.write(new_directory + tail + bytes(end))
        archive.truncate()
        archive.flush()
        return f"{sha256_of(archive)} {sha256_of(archive, dir_offset)}"


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: add-entry-digests.py ARCHIVE")
    try:
        version = add_entry_digests(sys.argv[1])
    except (Refused, zipfile.BadZipFile, OSError) as error:
        sys.exit(f"add-entry-digests.py: {sys.argv[1]}: {error}")
    sys.stdout.write(version)


if __name__ == "__main__":
    main()
