"""The package download under Wine against the fault server: only a complete
2xx transfer succeeds, a failure leaves nothing new under the target, progress
is reported per read with the right maximum, and nothing goes to the cache."""

import random
import re
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

from e2e import harness
from servers.fault_server import FaultServer

FETCH = harness.WINDOWS_BUILD / "tests" / "wine" / "qorv-fetch.exe"
READ_SIZE = 64 * 1024
S_OK = 0
INET_E_RESOURCE_NOT_FOUND = 0x800C0005
# HRESULT_FROM_WIN32 of ERROR_INTERNET_TIMEOUT (Windows) or _CONNECTION_ABORTED (Wine).
TIMEOUT_RESULTS = {0x80072EE2, 0x80072EFE}
# Idle timeout of the download plus Wine's start-up, with room to spare.
RUN_TIMEOUT = 90

rng = random.Random(20240601)
BIG = rng.randbytes(3 * 1024 * 1024 + 123)
SMALL = rng.randbytes(100 * 1024 + 7)
OLD = b"the file a previous run left\n"

CONFIG = {
    "/big": {"behaviour": "ok", "body": "big.bin"},
    "/small": {"behaviour": "ok", "body": "small.bin"},
    "/moved": {"behaviour": "redirect", "location": "/small"},
    "/missing": {"behaviour": "status", "status": 404},
    "/error": {"behaviour": "status", "status": 500},
    "/short": {"behaviour": "short", "body": "big.bin", "cut": 1024 * 1024},
    "/reset": {"behaviour": "reset", "body": "big.bin", "cut": 1024 * 1024},
    "/hang": {"behaviour": "hang"},
    "/slow": {"behaviour": "slow", "body": "big.bin", "pieces": 12, "seconds": 3},
    "/chunked": {"behaviour": "chunked", "body": "big.bin", "chunk": 5000},
}


def cache_bytes(prefix):
    """Bytes held by the browser caches of every user of the prefix."""
    total = 0
    for name in ("INetCache", "Temporary Internet Files"):
        for folder in (prefix / "drive_c" / "users").glob(f"*/**/{name}"):
            total += sum(f.stat().st_size for f in folder.rglob("*") if f.is_file())
    return total


class Fetch:
    def __init__(self, proc, requests, target):
        out = proc.stdout.decode("latin-1").replace("\r", "")
        self.reports = [(int(p), int(m))
                        for p, m in re.findall(r"^progress=(\d+) max=(\d+)$", out, re.M)]
        found = re.search(r"^result=0x([0-9A-F]{8})$", out, re.M)
        self.result = int(found.group(1), 16) if found else None
        self.output = out
        self.requests = requests
        self.target = target
        self.part = target.with_name(target.name + ".part")


class DownloadTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = Path(tempfile.mkdtemp(prefix="qorv-download-"))
        (cls.dir / "big.bin").write_bytes(BIG)
        (cls.dir / "small.bin").write_bytes(SMALL)
        cls.xvfb = harness.Xvfb().__enter__()
        cls.wine = harness.Wine(cls.xvfb.display)
        cls.server = FaultServer(CONFIG, cls.dir).__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.server.__exit__(None, None, None)
        cls.wine.stop()
        cls.xvfb.__exit__(None, None, None)
        shutil.rmtree(cls.dir, ignore_errors=True)

    def fetch(self, path, name, old=None, target_dir=None):
        target = (target_dir or self.dir) / name
        if old is not None:
            target.write_bytes(old)
        before = len(self.server.requests())
        proc = self.wine.run(FETCH, f"http://127.0.0.1:{self.server.port}{path}?skq=1",
                             harness.winpath(target), timeout=RUN_TIMEOUT)
        fetch = Fetch(proc, self.server.requests()[before:], target)
        self.assertIsNotNone(fetch.result, fetch.output)
        return fetch

    def assert_success(self, fetch, body):
        self.assertEqual(fetch.result, S_OK, fetch.output)
        self.assertEqual(fetch.target.read_bytes(), body)
        self.assertFalse(fetch.part.exists())

    def assert_failure(self, fetch, old):
        self.assertNotEqual(fetch.result, S_OK)
        self.assertTrue(fetch.result & 0x80000000, hex(fetch.result))
        if old is None:
            self.assertFalse(fetch.target.exists())
        else:
            self.assertEqual(fetch.target.read_bytes(), old)
        self.assertFalse(fetch.part.exists())

    def assert_progress(self, fetch, body, maximum):
        """Opens with 0, then one growing report per read of at most 64 KiB,
        ending at the body's length; every report carries maximum."""
        progress = [p for p, _ in fetch.reports]
        self.assertEqual({m for _, m in fetch.reports}, {maximum})
        self.assertEqual(progress[0], 0)
        self.assertEqual(progress[-1], len(body))
        steps = [b - a for a, b in zip(progress, progress[1:])]
        self.assertTrue(all(0 < step <= READ_SIZE for step in steps), steps)

    def test_complete_transfers_succeed(self):
        with self.subTest("content length, replacing an old file"):
            fetch = self.fetch("/big", "big.bin.out", old=OLD)
            self.assert_success(fetch, BIG)
            self.assert_progress(fetch, BIG, len(BIG))
            self.assertGreater(len(fetch.reports), len(BIG) // READ_SIZE)
            self.assertEqual(fetch.requests, ["GET /big?skq=1"])
        with self.subTest("redirect on the same host"):
            fetch = self.fetch("/moved", "moved.out")
            self.assert_success(fetch, SMALL)
            self.assert_progress(fetch, SMALL, len(SMALL))
            self.assertEqual(fetch.requests, ["GET /moved?skq=1", "GET /small"])
        with self.subTest("slow body"):
            fetch = self.fetch("/slow", "slow.out")
            self.assert_success(fetch, BIG)
            self.assert_progress(fetch, BIG, len(BIG))
            # Reported as the pieces arrive, not once at the end.
            self.assertGreaterEqual(len(fetch.reports), 12)
            self.assertEqual(fetch.requests, ["GET /slow?skq=1"])
        with self.subTest("chunked, no length"):
            fetch = self.fetch("/chunked", "chunked.out")
            self.assert_success(fetch, BIG)
            self.assert_progress(fetch, BIG, 0)
            self.assertEqual(fetch.requests, ["GET /chunked?skq=1"])

    def test_failures_leave_nothing_new(self):
        for path in ("/missing", "/error", "/short", "/reset"):
            for old in (None, OLD):
                with self.subTest(path=path, old_file=old is not None):
                    name = path.strip("/") + (".old" if old else ".new")
                    fetch = self.fetch(path, name, old=old)
                    self.assert_failure(fetch, old)
                    self.assertEqual(fetch.requests, [f"GET {path}?skq=1"])
                    if path in ("/short", "/reset"):
                        # A reset can arrive before the first read returns, so
                        # there may be no report at all; none claims the whole.
                        self.assertTrue(all(r[0] < len(BIG) for r in fetch.reports),
                                        fetch.reports)
        with self.subTest("404 result"):
            self.assertEqual(self.fetch("/missing", "missing.code").result,
                             INET_E_RESOURCE_NOT_FOUND)
        with self.subTest("target folder missing"):
            fetch = self.fetch("/small", "small.out", target_dir=self.dir / "absent")
            self.assert_failure(fetch, None)
            self.assertEqual(fetch.requests, [])

    def test_silent_server_times_out(self):
        fetch = self.fetch("/hang", "hang.out", old=OLD)
        self.assertIn(fetch.result, TIMEOUT_RESULTS, fetch.output)
        self.assert_failure(fetch, OLD)
        self.assertEqual(fetch.requests, ["GET /hang?skq=1"])

    def test_cache_not_written(self):
        before = cache_bytes(self.wine.prefix)
        for name in ("cache1.out", "cache2.out"):
            self.assert_success(self.fetch("/big", name), BIG)
        self.assertLess(cache_bytes(self.wine.prefix) - before, len(BIG))


if __name__ == "__main__":
    unittest.main()
