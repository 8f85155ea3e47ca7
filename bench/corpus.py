#!/usr/bin/env python3
"""The benchmarks' deterministic corpus: a game client of about 200 MiB in
3000 files, zipped with Info-ZIP zip; and two packages of other shapes, so
that a gain is not bought on one: 100 000 tiny files, and 4 large ones.

usage: corpus.py ARCHIVE   (makes ARCHIVE unless it is already there)

The files, their names and their times are the same on every machine, so
the archive is the same byte for byte wherever the same zip makes it."""

import os
import random
import shutil
import subprocess
import sys
import zipfile

MIB = 1 << 20
FILE_TIME = 1700000000  # every file's modification time, for a stable archive


def make_corpus(folder):
    """About 200 MiB in about 3000 files, 2-5 folder levels deep, roughly 40 %
    of the bytes incompressible; sizes from a few hundred bytes to some MiB."""
    rng = random.Random(20240611)
    words = [bytes(rng.choice(b"etaoinshrdlucmfwyp") for _ in range(rng.randint(2, 9)))
             for _ in range(4000)]
    text = b" ".join(rng.choice(words) for _ in range(400000))  # ~2.4 MB of text
    count = 3000
    sizes = [int(300 * (6 * MIB / 300) ** (rng.random() ** 2.2)) for _ in range(count)]
    scale = 200 * MIB / sum(sizes)
    sizes = [max(200, int(s * scale)) for s in sizes]
    folders = []
    for i in range(60):
        depth = rng.randint(2, 5)
        folders.append("/".join("d%02d_%d" % (rng.randint(0, 30), level) for level in range(depth)))
    random_bytes = 0
    total = 0
    for i, size in enumerate(sizes):
        path = os.path.join(folder, folders[i % len(folders)], "f%04d.bin" % i)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        total += size
        # Incompressible files until they make up 40 % of the bytes so far.
        if random_bytes < 0.4 * total:
            data = rng.randbytes(size)
            random_bytes += size
        else:
            start = rng.randrange(0, len(text) - 1)
            data = (text[start:] + text) * (size // len(text) + 1)
            data = data[:size]
        with open(path, "wb") as out:
            out.write(data)
    for root, dirs, files in os.walk(folder):
        for name in dirs + files:
            os.utime(os.path.join(root, name), (FILE_TIME, FILE_TIME))
    return count, total, random_bytes


def ensure(archive):
    """Makes archive unless it exists; returns its path."""
    archive = os.path.abspath(archive)
    if os.path.exists(archive):
        return archive
    source = archive + ".d"
    shutil.rmtree(source, ignore_errors=True)
    count, total, random_bytes = make_corpus(source)
    # Folders and files in sorted order, no extra fields (-X): the same
    # archive on every run, with directory entries as packages have them.
    names = sorted(os.path.relpath(os.path.join(root, name), source) + ("/" if name in dirs else "")
                   for root, dirs, files in os.walk(source) for name in dirs + files)
    partial = archive + ".part"
    if os.path.exists(partial):
        os.remove(partial)
    subprocess.run(["zip", "-q", "-X", partial, "-@"], cwd=source, check=True,
                   input="\n".join(names).encode(), env=dict(os.environ, TZ="UTC"))
    os.replace(partial, archive)
    shutil.rmtree(source)
    print("corpus: %d files, %.1f MiB (%.0f %% incompressible), %.1f MiB zipped" % (
        count, total / MIB, 100 * random_bytes / total, os.path.getsize(archive) / MIB))
    return archive


def _write_zip(archive, members):
    """Writes (name, data) pairs, deflated, with one fixed time: through a
    .part file, so that a broken run leaves no archive behind."""
    partial = archive + ".part"
    stamp = (2023, 11, 14, 22, 13, 20)  # FILE_TIME in UTC
    with zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED) as zf:
        for name, data in members:
            info = zipfile.ZipInfo(name, stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o100644 << 16
            zf.writestr(info, data)
    os.replace(partial, archive)


def ensure_tiny(archive):
    """100 000 files of 1-1023 bytes in 100 folders: the cost per entry."""
    archive = os.path.abspath(archive)
    if not os.path.exists(archive):
        rng = random.Random(20240612)
        _write_zip(archive, (("d%02d/t%06d.txt" % (i % 100, i),
                              b"".join(b"%d:%d\n" % (i, j)
                                       for j in range(rng.randint(1, 120)))[:1023])
                             for i in range(100000)))
    return archive


def ensure_large(archive):
    """4 files of 50 MiB, half text, half incompressible: the cost per byte."""
    archive = os.path.abspath(archive)
    if not os.path.exists(archive):
        rng = random.Random(20240613)
        text = b" ".join(rng.randbytes(rng.randint(2, 9)).hex().encode() for _ in range(200000))
        size = 50 * MIB

        def member(i):
            if i % 2:
                return rng.randbytes(size)
            return (text * (size // len(text) + 1))[:size]
        _write_zip(archive, (("large/l%d.bin" % i, member(i)) for i in range(4)))
    return archive


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    os.makedirs(os.path.dirname(os.path.abspath(sys.argv[1])), exist_ok=True)
    ensure(sys.argv[1])
