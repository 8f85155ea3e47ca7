"""Deliveries by their changes under Wine: a version change fetches only the
changed entries of GameClient.zip by HTTP ranges, and ends in the same client
as a whole install; a run killed mid-download goes on where it stopped; an
up-to-date run fetches next to nothing; missing files come back. A server
without ranges gets the whole download, and a range answered with wrong bytes
commits nothing and mends on the next run."""

import contextlib
import hashlib
import random
import zipfile

from e2e import harness, installer
from e2e.installer import TOKEN, FaultRoad, RoadTestCase, wait_until
from e2e.test_fault_matrix import CLIENT, SHELL, configs

TOKEN_NAME = f"QorvInstall-i-{TOKEN}.exe"
FILES = 200
# Two small files change between the versions; the rest fill 50 MiB.
SMALL = ("res/small/a.txt", "res/small/b.txt")
SMALL_SIZE = 50 * 1024
LARGE_SIZE = (50 * 1024 * 1024 - len(SMALL) * SMALL_SIZE) // (FILES - len(SMALL))
INCREMENTAL = "增量更新：".encode("gbk")
_fresh = {}


def client(path, version):
    """The 50 MiB client of 200 files and the stand-in; version changes the
    two small files only, which lie in the middle of the package and do not
    compress, so their ranges are fetched for real."""
    noise = random.Random(17)
    with zipfile.ZipFile(path, "w") as archive:
        archive.write(installer.STUBS / "client" / "kel_qorvmicro.exe", "kel_qorvmicro.exe")
        for i in range(FILES - len(SMALL)):
            info = zipfile.ZipInfo(f"res/pack{i:03}.dat", (2021, 3, 4, 5, 6, i % 30 * 2))
            archive.writestr(info, noise.randbytes(LARGE_SIZE))
            if i == FILES // 2:
                changing = random.Random(version)
                for name in SMALL:
                    info = zipfile.ZipInfo(name, (2022 + version, 1, 2, 3, 4, 6))
                    archive.writestr(info, changing.randbytes(SMALL_SIZE), zipfile.ZIP_DEFLATED)


def publish(road, version):
    client(road.packages / "GameClient.zip", version)
    (road.packages / "pkg.ver").write_text(f"{version}.0\r\n", newline="")
    road.clear_logs()


def tree(road):
    """Every file of the client with its content digest, time and mode, and
    every folder (made when a file needs it, so with the time of that run);
    the login answer and the stand-in's notes are written by the run."""
    root = road.install_dir / "GameClient"
    return {str(p.relative_to(root)): "folder" if p.is_dir() else
            (hashlib.sha256(p.read_bytes()).hexdigest(), int(p.stat().st_mtime), p.stat().st_mode)
            for p in root.rglob("*") if not p.name.endswith(".args") and p.name != "lgt.json"}


def client_deletes(trace):
    return sum(1 for line in trace.split(b"\n")
               if line.startswith(installer.DELETE) and b"\\GameClient\\" in line)


@contextlib.contextmanager
def serving(road, **options):
    """nginx started again with options for the time of the block."""
    road.nginx.__exit__(None, None, None)
    road.nginx = harness.Nginx(road.work / "rc", road.nginx.port, **options).__enter__()
    try:
        yield road.nginx
    finally:
        road.nginx.__exit__(None, None, None)
        road.nginx = harness.Nginx(road.work / "rc", road.nginx.port).__enter__()


def kill_at(road, fraction):
    """Runs the installer until fraction of GameClient.zip is in its partial
    file, then ends every process of the prefix, as a sleeping PC would."""
    part = road.install_dir / "GameClient.zip.part"
    size = (road.packages / "GameClient.zip").stat().st_size
    proc = road.wine.start(road.installer(TOKEN_NAME))
    try:
        return wait_until(lambda: part.exists() and part.stat().st_size >= size * fraction,
                          120, 0.05)
    finally:
        road.wine.stop()
        proc.communicate()
        road.wine.warm()


def fresh_version_2(road):
    """The client a whole install of version 2 gives, taken once."""
    if not _fresh:
        road.reset()
        publish(road, 2)
        road.run(TOKEN_NAME)
        _fresh.update(tree(road))
    return _fresh


class IncrementalUpdate(RoadTestCase):
    def update(self):
        """Installs version 1, then updates to 2; returns the update's trace."""
        road = self.road
        road.reset()
        publish(road, 1)
        road.run(TOKEN_NAME)
        self.assertEqual((road.install_dir / "pkg.ver").read_bytes(), b"1.0\r\n")
        self.assertTrue((road.install_dir / "GameClient.state").is_file())
        publish(road, 2)
        return road.run(TOKEN_NAME)

    def assert_version_2(self):
        road = self.road
        self.assertEqual((road.install_dir / "pkg.ver").read_bytes(), b"2.0\r\n")
        self.assertEqual(tree(road), fresh_version_2(road))

    def test_update_fetches_only_the_changed_entries(self):
        road = self.road
        trace = self.update()
        package = (road.packages / "GameClient.zip").stat().st_size
        served = road.nginx.bytes_sent(CLIENT)
        self.assertLessEqual(served, package * 2 // 100)
        at = trace.find(INCREMENTAL)
        self.assertGreaterEqual(at, 0)
        line = trace[at + len(INCREMENTAL):].split(b"\n", 1)[0]
        self.assertTrue(line.startswith(b"2/201 "), line)
        self.assertIn(b"/%d " % package, line)
        # Only the changed entries were deleted and written again.
        self.assertEqual(client_deletes(trace), 2)
        self.assertEqual(list(road.install_dir.rglob("*.part")), [])
        self.assertFalse((road.install_dir / "GameClient.zip").exists())
        self.assert_version_2()

    def test_a_killed_download_goes_on_unless_a_newer_package_came(self):
        road = self.road
        fresh = fresh_version_2(road)
        package = (road.packages / "GameClient.zip").stat().st_size
        for newer in (False, True):
            with self.subTest(newer=newer):
                road.reset()
                publish(road, 1 if newer else 2)
                with serving(road, limit_rate="8m"):
                    self.assertTrue(kill_at(road, 0.5))
                if newer:
                    publish(road, 2)
                road.clear_logs()
                road.run(TOKEN_NAME)
                self.assertEqual(tree(road), fresh)
                self.assertEqual((road.install_dir / "pkg.ver").read_bytes(), b"2.0\r\n")
                sent = road.nginx.bytes_sent(CLIENT)
                if newer:
                    self.assertGreaterEqual(sent, package)
                else:
                    self.assertLessEqual(sent, package * 60 // 100)
                self.assertEqual(list(road.install_dir.glob("GameClient.zip*")), [])

    def test_up_to_date_runs_fetch_next_to_nothing_and_missing_files_come_back(self):
        road = self.road
        fresh = fresh_version_2(road)
        road.reset()
        publish(road, 2)
        road.run(TOKEN_NAME)
        shell = (road.packages / "shell.zip").stat().st_size
        client = (road.packages / "GameClient.zip").stat().st_size
        road.clear_logs()
        road.run(TOKEN_NAME)
        self.assertLessEqual(road.nginx.bytes_sent(SHELL), shell * 5 // 100)
        self.assertEqual(road.nginx.bytes_sent(CLIENT), 0)

        # One changed shell file costs its own bytes and the tail.
        installer.shell_package(road.packages / "shell.zip", {"data/readme.txt": b"new text\r\n"})
        road.clear_logs()
        road.run(TOKEN_NAME)
        self.assertLessEqual(road.nginx.bytes_sent(SHELL), shell * 10 // 100)
        self.assertEqual((road.install_dir / "data" / "readme.txt").read_bytes(), b"new text\r\n")

        # Lost and damaged files come back; what the game or the player wrote stays.
        gone = ["kel_qorvmicro.exe", "res/pack010.dat"]
        for name in gone:
            (road.install_dir / "GameClient" / name).unlink()
        (road.install_dir / "GameClient" / "res" / "pack020.dat").write_bytes(b"the game's")
        (road.install_dir / "GameClient" / "mine.txt").write_bytes(b"the player's")
        shell_files = {"Qorv.exe": (road.install_dir / "Qorv.exe").read_bytes(),
                       "data/readme.txt": b"new text\r\n"}
        (road.install_dir / "Qorv.exe").write_bytes(b"damaged")
        (road.install_dir / "data" / "readme.txt").unlink()
        road.clear_logs()
        road.run(TOKEN_NAME)
        now = tree(road)
        for name in gone:
            self.assertEqual(now[name], fresh[name])
        for name, data in shell_files.items():
            self.assertEqual((road.install_dir / name).read_bytes(), data)
        self.assertEqual((road.install_dir / "GameClient" / "res" / "pack020.dat").read_bytes(),
                         b"the game's")
        self.assertEqual((road.install_dir / "GameClient" / "mine.txt").read_bytes(),
                         b"the player's")
        sent = road.nginx.bytes_sent(SHELL) + road.nginx.bytes_sent(CLIENT)
        self.assertLessEqual(sent, (shell + client) * 15 // 100)
        self.assertEqual(len(road.started("GameClient/kel_qorvmicro.exe")), 4)

    def test_server_without_ranges_gets_the_whole_download(self):
        road = self.road
        road.nginx.__exit__(None, None, None)
        road.nginx = harness.Nginx(road.work / "rc", road.nginx.port, max_ranges=0).__enter__()
        try:
            trace = self.update()
            package = (road.packages / "GameClient.zip").stat().st_size
            self.assertGreaterEqual(road.nginx.bytes_sent(CLIENT), package)
            self.assertNotIn(INCREMENTAL, trace)
            self.assertEqual(client_deletes(trace), 1 + FILES)
            self.assert_version_2()
        finally:
            road.nginx.__exit__(None, None, None)
            road.nginx = harness.Nginx(road.work / "rc", road.nginx.port).__enter__()


    def test_a_new_version_over_the_old_package_commits_nothing(self):
        road = self.road
        road.reset()
        publish(road, 1)
        package = (road.packages / "GameClient.zip").read_bytes()
        (road.packages / "pkg.ver").write_text(hashlib.sha256(package).hexdigest())
        road.run(TOKEN_NAME)
        version = (road.install_dir / "pkg.ver").read_bytes()
        installed = tree(road)
        # A new version is published, but the old package is still served.
        (road.packages / "pkg.ver").write_text(hashlib.sha256(package + b"new").hexdigest())
        road.clear_logs()
        trace = road.run(TOKEN_NAME)
        self.assertIn("客户端包与版本不符\n".encode("gbk"), trace)
        self.assertEqual(client_deletes(trace), 0)
        self.assertEqual((road.install_dir / "pkg.ver").read_bytes(), version)
        self.assertEqual(tree(road), installed)


class WrongRangeBytes(RoadTestCase):
    road_class = FaultRoad

    def test_wrong_bytes_commit_nothing_and_the_next_run_mends(self):
        road = self.road
        road.serve(*configs(CLIENT, "ranges", damage=True))
        publish(road, 1)
        road.run(TOKEN_NAME)
        self.assertEqual((road.install_dir / "pkg.ver").read_bytes(), b"1.0\r\n")
        version_1 = tree(road)
        publish(road, 2)
        # The window stays in the failure state; nothing is started.
        running, trace = road.run_until_stuck(
            TOKEN_NAME, lambda: f"GET {CLIENT}" in road.requests()
            and not (road.install_dir / "pkg.ver.new").exists(), 120)
        self.assertTrue(running, "the installer ended by itself")
        self.assertNotIn(installer.START_GAME_CLIENT, trace)
        self.assertIn(INCREMENTAL, trace)
        self.assertIn(installer.UNPACK_FAILED, trace)
        # The version was withdrawn before the unpack.
        self.assertFalse((road.install_dir / "pkg.ver").exists())
        # Each changed file is whole, of one version or the other: an entry
        # whose bytes were wrong left the installed file as it was.
        with zipfile.ZipFile(road.packages / "GameClient.zip") as package:
            version_2 = {name: hashlib.sha256(package.read(name)).hexdigest() for name in SMALL}
        now = tree(road)
        kept = [name for name in SMALL if now[name] == version_1[name]]
        self.assertTrue(kept)
        for name in set(SMALL) - set(kept):
            self.assertEqual(now[name][0], version_2[name])
        self.assertFalse((road.install_dir / "GameClient.dir").exists())
        # No record: the next run downloads the whole package, which the
        # server sends undamaged.
        trace = road.run(TOKEN_NAME)
        self.assertNotIn(INCREMENTAL, trace)
        self.assertEqual((road.install_dir / "pkg.ver").read_bytes(), b"2.0\r\n")
        self.assertTrue((road.install_dir / "GameClient.dir").is_file())
        mended = tree(road)
        self.assertEqual(mended, fresh_version_2(road))

