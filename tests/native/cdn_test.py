"""A patch day through the shipped edge (tools/cdn/edge.conf): an origin
nginx and the edge on 127.0.0.1, players of qorv-rehearse installing, then
updating after a publish by tools/qorv-publish, then up to date; and the
native delivery test that needs a real nginx. Every nginx is stopped by its
process."""

import hashlib
import json
import math
import os
import random
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))
from e2e import harness  # noqa: E402

REPO = harness.REPO
REHEARSE = os.environ.get("QORV_REHEARSE", str(REPO / "build" / "native" / "qorv-rehearse"))
NATIVE_TESTS = os.environ.get("QORV_NATIVE_TESTS",
                              str(REPO / "build" / "native" / "tests" / "native" / "qorv_native_tests"))
PACKAGES = ("shell.zip", "GameClient.zip")
PKG_VER_LIFE = 3  # seconds, as the edge keeps pkg.ver
TAIL = 66 * 1024  # what a delivery asks of a package's end at most


def make_release(folder, shell, client):
    """folder/pkg/ with both packages and the client's SHA-256 as pkg.ver,
    and folder/expected/, an install folder as it should then be."""
    pkg, expected = folder / "pkg", folder / "expected"
    pkg.mkdir(parents=True)
    for name, files, base in (("shell.zip", shell, expected),
                              ("GameClient.zip", client, expected / "GameClient")):
        with zipfile.ZipFile(pkg / name, "w") as archive:
            for path, data in files.items():
                archive.writestr(path, data)
                (base / path).parent.mkdir(parents=True, exist_ok=True)
                (base / path).write_bytes(data)
    digest = hashlib.sha256((pkg / "GameClient.zip").read_bytes()).hexdigest()
    (pkg / "pkg.ver").write_text(digest)
    (expected / "pkg.ver").write_text(digest)
    return folder


def publish_through(edge, release, root, edge_url):
    """tools/qorv-publish of release into root, checked through the edge at
    edge_url: the packages purged when it says so, pkg.ver once it is
    written. Returns its exit status and what root's pkg.ver held when the
    purge was asked for."""
    before = None
    with subprocess.Popen([REPO / "tools" / "qorv-publish", release, root, "--edge", edge_url],
                          stdout=subprocess.PIPE, text=True) as publish:
        try:
            for line in publish.stdout:
                if "purge at the edge now" in line:
                    before = (Path(root) / "pkg" / "pkg.ver").read_text()
                    edge.purge(*(f"/rc/pkg/{name}" for name in PACKAGES))
                    break
            status = publish.wait(timeout=150)
        finally:
            harness.stop(publish)
    edge.purge("/rc/pkg/pkg.ver")
    return status, before


def rehearse(program, edge_url, folder, players, threads, *options):
    """qorv-rehearse's exit status, per-player lines and summary."""
    run = subprocess.run([program, edge_url, folder, "--players", str(players),
                          "--threads", str(threads), *map(str, options)],
                         capture_output=True, text=True, timeout=1800)
    *lines, summary = [json.loads(line) for line in run.stdout.splitlines()]
    return run.returncode, lines, summary


class PatchDay(unittest.TestCase):
    def setUp(self):
        self.work = Path(tempfile.mkdtemp(prefix="qorv-cdn-"))
        self.addCleanup(shutil.rmtree, self.work, ignore_errors=True)
        self.root = self.work / "origin"
        self.root.mkdir()
        origin_port, edge_port = harness.free_port(), harness.free_port()
        self.origin = self.enterContext(harness.Nginx(self.root, origin_port))
        self.edge = self.enterContext(harness.Edge(edge_port, origin_port))
        self.origin_url = f"http://127.0.0.1:{origin_port}/rc"
        self.edge_url = f"http://127.0.0.1:{edge_port}/rc"

    def rehearse(self, release, *options):
        status, players, summary = rehearse(REHEARSE, self.edge_url, self.work / "players", 6, 3,
                                            "--expect", release / "expected",
                                            "--origin-log", self.origin.access_log, *options)
        self.assertEqual(status, 0, players)
        self.assertEqual(summary["exact"], 6)
        return players, summary

    def test_players_end_exact_and_the_origin_sends_each_package_once(self):
        noise = random.Random(28)
        shell = {"Qorv.exe": b"MZ shell", **{f"data/s{i}.dat": noise.randbytes(400_000)
                                             for i in range(3)}}
        client = {"kel_qorvmicro.exe": b"MZ client", **{f"res/c{i:02}.dat": noise.randbytes(300_000)
                                                        for i in range(12)}}
        v1 = make_release(self.work / "v1", shell, client)
        shell["data/s1.dat"] = noise.randbytes(400_000)
        client["res/c03.dat"], client["res/c07.dat"] = noise.randbytes(300_000), b"smaller now"
        v2 = make_release(self.work / "v2", shell, client)

        subprocess.run([REPO / "tools" / "qorv-publish", v1, self.root], check=True,
                       stdout=subprocess.DEVNULL, timeout=60)
        rounds = []
        # First installs, a third of them cut off in the client download.
        players, summary = self.rehearse(v1, "--kill-every", 3, "--kill-after", 2_000_000)
        self.assertEqual({p["run"] for p in players}, {"first install"})
        self.assertEqual(sum(p["killed"] for p in players), 2)
        rounds.append(summary)

        # The update, published through the edge: purged when told, checked
        # by the publish before it writes pkg.ver.
        status, before = publish_through(self.edge, v2, self.root, self.edge_url)
        self.assertEqual(status, 0)
        self.assertEqual(before, (v1 / "pkg" / "pkg.ver").read_text())
        self.assertEqual((self.root / "pkg" / "pkg.ver").read_text(),
                         (v2 / "pkg" / "pkg.ver").read_text())
        # Updates by ranges, a third cut off in mid-range.
        players, summary = self.rehearse(v2, "--kill-every", 3, "--kill-after", 300_000)
        self.assertEqual({p["run"] for p in players}, {"update"})
        self.assertEqual(sum(p["killed"] for p in players), 2)
        whole = sum((v2 / "pkg" / name).stat().st_size for name in PACKAGES)
        self.assertLess(max(p["bytes"] for p in players), whole / 2)
        rounds.append(summary)
        players, summary = self.rehearse(v2)
        self.assertEqual({p["run"] for p in players}, {"up to date"})
        rounds.append(summary)

        distinct = sum((release / "pkg" / name).stat().st_size
                       for release in (v1, v2) for name in PACKAGES)
        served = sum(self.origin.bytes_sent(f"/rc/pkg/{name}", body=True) for name in PACKAGES)
        self.assertLessEqual(served, 1.05 * distinct + 4 * TAIL)
        # pkg.ver: at most one origin request per life of the edge's copy.
        for summary in rounds:
            self.assertLessEqual(summary["origin"]["pkg.ver"]["requests"],
                                 math.ceil(summary["seconds"] / PKG_VER_LIFE) + 1)

    def test_a_delivery_through_libcurl_from_nginx(self):
        run = subprocess.run([NATIVE_TESTS, "--gtest_filter=DeliveryTest.OverNginx*"],
                             capture_output=True, text=True, errors="replace", timeout=120,
                             env=dict(os.environ, QORV_NGINX_ROOT=str(self.root),
                                      QORV_NGINX_URL=self.origin_url))
        self.assertEqual(run.returncode, 0, run.stdout)
        self.assertIn("[  PASSED  ] 1 test.", run.stdout)
        self.assertNotIn("SKIPPED", run.stdout)


if __name__ == "__main__":
    unittest.main()
