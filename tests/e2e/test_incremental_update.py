"""Deliveries by their changes under Wine: a version change fetches only the
changed entries of GameClient.zip by HTTP ranges, and ends in the same client
as a whole install; a run killed mid-download goes on where it stopped; an
up-to-date run fetches next to nothing; missing files come back. A server
without ranges gets the whole download, and a range answered with wrong bytes
commits nothing and the whole download mends it."""

import contextlib
import hashlib
import math
import os
import random
import select
import shutil
import subprocess
import tempfile
import time
import zipfile
from pathlib import Path

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
MISMATCH = "客户端包与版本不符\n".encode("gbk")
VERSION_NOT_KEPT = "版本未能保存\n".encode("gbk")
WM_LBUTTONUP = 0x202
NO_ROOM = "\n磁盘空间不足 0x80070070".encode("gbk")
NO_ROOM_TEXT = "磁盘空间不足，还需要 {} MB，请释放空间后点击窗口继续。"
MIB = 1024 * 1024
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


def kit_version(path):
    """What the kit writes as pkg.ver: the package's SHA-256 and its
    central directory's."""
    data = path.read_bytes()
    end = data.rfind(b"PK\x05\x06")
    directory = int.from_bytes(data[end + 16:end + 20], "little")
    return hashlib.sha256(data).hexdigest() + " " + hashlib.sha256(data[directory:]).hexdigest()


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


def click(road):
    """A click on the installer's host window, as the player's."""
    for window in road.wine.windows(TOKEN_NAME):
        if int(window["owner"], 16) == 0:
            road.wine.post(window["hwnd"], WM_LBUTTONUP)


def status(road):
    """The texts the installer's windows show."""
    return "".join("".join(road.wine.texts(window["hwnd"]).values())
                   for window in road.wine.windows(TOKEN_NAME))


def private_mounts():
    """True as root in a mount namespace of its own: one that an ancestor
    process (init, where it may be read, or the shell that ran unshare -m)
    does not share, so a mount made here is seen by nobody else."""
    if os.geteuid() != 0:
        return False
    own = os.readlink("/proc/self/ns/mnt")
    pid = os.getppid()
    while pid > 0:
        try:
            if os.readlink(f"/proc/{pid}/ns/mnt") != own:
                return True
            stat = Path(f"/proc/{pid}/stat").read_text()
            pid = int(stat.rsplit(")", 1)[1].split()[1])
        except OSError:
            break
    try:
        return os.readlink("/proc/1/ns/mnt") != own
    except OSError:
        return False


@contextlib.contextmanager
def small_volume(road, size):
    """A tmpfs of size bytes behind tovrine\\ (the install directory's
    parent) for the time of the block; yields a function that resizes it."""
    folder = road.wine.local_appdata() / "tovrine"
    folder.mkdir(parents=True, exist_ok=True)
    subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", str(folder)],
                   check=True)
    try:
        yield lambda size: subprocess.run(["mount", "-o", f"remount,size={size}", str(folder)],
                                          check=True)
    finally:
        if subprocess.run(["umount", str(folder)]).returncode != 0:
            road.wine.stop()  # a process of the prefix still holds a file there
            subprocess.run(["umount", str(folder)], check=True)
            road.wine.warm()


def kill_after(road, seen):
    """Runs the installer until its trace so far satisfies seen, then kills
    its process at once; returns that trace, or None when the run ended
    first."""
    proc = road.wine.start(road.installer(TOKEN_NAME))
    trace = b""
    try:
        deadline = time.monotonic() + 120
        while time.monotonic() < deadline:
            if not select.select([proc.stdout], [], [], 0.5)[0]:
                continue
            piece = os.read(proc.stdout.fileno(), 65536)
            if not piece:
                return None
            trace += piece
            if seen(trace):
                return trace
        return None
    finally:
        # The installer alone, by its id: a wineserver killed and started
        # again under load may leave a desktop without a display driver,
        # on which the next runs end at once.
        proc.kill()
        proc.communicate()
        # A game it started may still be writing down its command line.
        wait_until(lambda: not installer.STAND_INS & road.wine.processes(), 20, 0.5)


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
        publish(road, 2)
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
            # The whole download, yet only the changed entries are written.
            self.assertEqual(client_deletes(trace), len(SMALL))
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
        trace = road.run(TOKEN_NAME, timeout=180)
        self.assertIn("客户端包与版本不符\n".encode("gbk"), trace)
        self.assertEqual(client_deletes(trace), 0)
        self.assertEqual((road.install_dir / "pkg.ver").read_bytes(), version)
        self.assertEqual(tree(road), installed)


class OneTruth(RoadTestCase):
    """The install state decides: a stale package commits nothing, a failure
    forgets nothing, a rewritten file stays."""

    def test_a_stale_edge_commits_nothing_even_by_ranges(self):
        road = self.road
        road.reset()
        publish(road, 1)
        package = road.packages / "GameClient.zip"
        version_1_package = package.read_bytes()
        (road.packages / "pkg.ver").write_text(kit_version(package))
        road.run(TOKEN_NAME)
        version_1 = (road.install_dir / "pkg.ver").read_bytes()
        # The game rewrote one of its files: updates by ranges would fetch it.
        (road.install_dir / "GameClient" / "res" / "pack005.dat").write_bytes(b"the game's")
        installed = tree(road)
        # Version 3 is published (the player skipped 2), but the edge still
        # serves version 1's package: the run waits, then launches the
        # installed client.
        publish(road, 3)
        (road.packages / "pkg.ver").write_text(kit_version(package))
        package.write_bytes(version_1_package)
        trace = road.run(TOKEN_NAME, timeout=180)
        self.assertIn(MISMATCH, trace)
        self.assertEqual(client_deletes(trace), 0)
        self.assertEqual((road.install_dir / "pkg.ver").read_bytes(), version_1)
        self.assertEqual(tree(road), installed)
        # Once the edge serves version 3, by ranges.
        client(package, 3)
        road.clear_logs()
        trace = road.run(TOKEN_NAME)
        self.assertIn(INCREMENTAL, trace)
        self.assertEqual((road.install_dir / "pkg.ver").read_text(), kit_version(package))
        self.assertLessEqual(road.nginx.bytes_sent(CLIENT), package.stat().st_size // 20)

    def test_a_failed_repair_comes_back_and_rewritten_files_stay(self):
        road = self.road
        fresh = fresh_version_2(road)
        road.reset()
        publish(road, 2)
        road.run(TOKEN_NAME)
        client_dir = road.install_dir / "GameClient"
        # A player's folder where a lost file goes: the repair fails, and
        # says what is in the way.
        lost = client_dir / "res" / "pack010.dat"
        lost.unlink()
        lost.mkdir()
        (lost / "mine.txt").write_bytes(b"the player's")
        road.clear_logs()
        running, trace = road.run_until_stuck(
            TOKEN_NAME, lambda: f"GET {CLIENT}" in road.requests(), 120)
        self.assertTrue(running, "the installer ended by itself")
        self.assertIn(installer.UNPACK_FAILED, trace)
        self.assertIn(b"mine.txt", trace)
        self.assertEqual((lost / "mine.txt").read_bytes(), b"the player's")
        # Once it is gone, the next run restores the file.
        (lost / "mine.txt").unlink()
        lost.rmdir()
        road.run(TOKEN_NAME)
        self.assertEqual(tree(road)["res/pack010.dat"], fresh["res/pack010.dat"])
        # A repair through a server that ignores Range goes the whole way,
        # yet a file the game rewrote stays.
        (client_dir / "res" / "pack011.dat").unlink()
        (client_dir / "res" / "pack020.dat").write_bytes(b"the game's")
        with serving(road, max_ranges=0):
            road.run(TOKEN_NAME)
        self.assertEqual(tree(road)["res/pack011.dat"], fresh["res/pack011.dat"])
        self.assertEqual((client_dir / "res" / "pack020.dat").read_bytes(), b"the game's")

    def test_a_file_in_use_leaves_the_old_client_and_a_click_completes(self):
        road = self.road
        road.reset()
        publish(road, 1)
        road.run(TOKEN_NAME)
        version_1 = tree(road)
        publish(road, 2)
        holder = road.wine.start(harness.WINCTL, "lock", road.windows_path("GameClient/" + SMALL[0]),
                                 300)
        proc = None
        try:
            self.assertEqual(holder.stdout.readline().strip(), b"locked")
            proc = road.wine.start(road.installer(TOKEN_NAME))
            self.assertTrue(wait_until(
                lambda: f"GET {CLIENT}" in road.requests()
                and not (road.install_dir / "GameClient.zip.ranges").exists(), 120, 0.5))
            self.assertTrue(wait_until(lambda: road.wine.windows(TOKEN_NAME), 30, 0.5))
            time.sleep(3)
            self.assertIsNone(proc.poll(), "the installer ended by itself")
            # Byte for byte, beside the staged files kept for the retry.
            self.assertEqual({name: entry for name, entry in tree(road).items()
                              if "~qorv-" not in name}, version_1)
            self.assertEqual((road.install_dir / "pkg.ver").read_bytes(), b"1.0\r\n")
            harness.stop(holder)
            holder.communicate()
            # Once the holder is gone, a click completes the update by ranges.
            road.clear_logs()
            click(road)
            out, _ = proc.communicate(timeout=120)
        finally:
            if holder.poll() is None or (proc is not None and proc.poll() is None):
                road.wine.stop()
                holder.communicate()
                if proc is not None:
                    proc.communicate()
                road.wine.warm()
        self.assertIn(installer.UNPACK_FAILED, out)
        self.assertIn(SMALL[0].split("/")[-1].encode(), out)
        with zipfile.ZipFile(road.packages / "GameClient.zip") as archive:
            changed = sum(archive.getinfo(name).compress_size + 30 + len(name) for name in SMALL)
            directory = sum(46 + len(info.filename) + len(info.extra)
                            for info in archive.infolist())
        self.assertLessEqual(road.nginx.bytes_sent(CLIENT), changed * 12 // 10 + directory + 8192)
        self.assertEqual((road.install_dir / "pkg.ver").read_bytes(), b"2.0\r\n")
        self.assertEqual(tree(road), fresh_version_2(road))

    def test_too_little_room_changes_nothing_and_a_click_completes(self):
        """A small volume behind the install directory: the space state
        before a byte that does not fit is fetched or anything installed
        changes; a click once the volume grew goes on without fetching again
        what is on disk."""
        if not private_mounts():
            self.skipTest("mounts a tmpfs: needs root in a private mount namespace")
        road = self.road
        fresh = fresh_version_2(road)
        publish(road, 2)
        package = (road.packages / "GameClient.zip").stat().st_size
        with zipfile.ZipFile(road.packages / "GameClient.zip") as archive:
            extracted = sum(info.file_size for info in archive.infolist())
            changed = sum(archive.getinfo(name).compress_size + 30 + len(name) for name in SMALL)
            directory = sum(46 + len(info.filename) + len(info.extra)
                            for info in archive.infolist())
        client_dir = road.install_dir / "GameClient"
        volume = road.wine.local_appdata() / "tovrine"
        road.reset()
        with small_volume(road, 8 * MIB) as resize:
            # Wine tells the tmpfs's room there, not its drive's.
            free = road.wine.run(harness.WINCTL, "free", road.windows_path()[:-len("qorv\\")])
            self.assertLessEqual(int(free.stdout), 8 * MIB)

            def nothing_installed():
                self.assertFalse((road.install_dir / "pkg.ver").exists())
                self.assertEqual([p for p in client_dir.rglob("*") if p.is_file()], [])

            def version_1_untouched():
                self.assertEqual({name: entry for name, entry in tree(road).items()
                                  if "~qorv-" not in name}, version_1)
                self.assertEqual((road.install_dir / "pkg.ver").read_bytes(), b"1.0\r\n")
                game = road.wine.run(client_dir / "kel_qorvmicro.exe", "probe")
                self.assertEqual(game.returncode, 0)
                self.assertTrue(road.started("GameClient/kel_qorvmicro.exe")[-1].endswith("probe"))
                (client_dir / "kel_qorvmicro.exe.args").unlink()

            # Per case, the volume's size at each step, nginx's rate, the
            # bytes the space state asks for (None: the run completes), the
            # most package body bytes nginx may send then, and what must hold
            # on disk. The installer reads no byte of an answer too long for
            # the room, but WinINet drains what is waiting of a dropped
            # answer's body: at a link's pace that is little, over loopback
            # nearly all of it.
            first_install = [
                (8 * MIB, "64k", package, 192 * 1024, nothing_installed),
                # The download fits, its entries beside it do not: it stays.
                (package + 16 * MIB, None, extracted, package, nothing_installed),
                (3 * package, None, None, 1, None)]
            road.reset()
            publish(road, 2)
            self.run_short_of_room(resize, first_install, "first install")
            self.assertEqual(tree(road), fresh)

            resize(3 * package)
            road.reset()
            publish(road, 1)
            road.run(TOKEN_NAME)
            version_1 = tree(road)
            publish(road, 2)
            room = os.statvfs(volume)
            used = (room.f_blocks - room.f_bfree) * room.f_frsize
            update = [
                # The ranges and the entries staged from them do not fit.
                (used + 128 * 1024, None, 4 * SMALL_SIZE, 2 * directory + 8192,
                 version_1_untouched),
                (3 * package, None, None, changed * 12 // 10 + directory + 8192, None)]
            self.run_short_of_room(resize, update, "update")
            self.assertEqual(tree(road), fresh)
            self.assertEqual((road.install_dir / "pkg.ver").read_bytes(), b"2.0\r\n")

    def run_short_of_room(self, resize, steps, name):
        """Takes the installer through steps: each resizes the volume, starts
        the installer (the first) or clicks its window, and awaits the space
        state or the end of the run."""
        road = self.road
        proc = None
        try:
            for size, rate, needed, most, unchanged in steps:
                resize(size)
                if rate != road.nginx.limit_rate:
                    road.nginx.__exit__(None, None, None)
                    road.nginx = harness.Nginx(road.work / "rc", road.nginx.port,
                                               limit_rate=rate).__enter__()
                road.clear_logs()
                if proc is None:
                    proc = road.wine.start(road.installer(TOKEN_NAME))
                else:
                    click(road)
                if needed is None:
                    out, _ = proc.communicate(timeout=120)
                    break
                text = NO_ROOM_TEXT.format(math.ceil(needed / MIB))
                self.assertTrue(wait_until(lambda: text in status(road), 120, 1),
                                f"{name}: {status(road)!r}")
                self.assertTrue(wait_until(lambda: f"GET {CLIENT}" in road.requests(), 10))
                self.assertLessEqual(road.nginx.bytes_sent(CLIENT, body=True), most)
                unchanged()
        finally:
            if proc is not None and proc.poll() is None:
                road.wine.stop()
                proc.communicate()
                road.wine.warm()
            if road.nginx.limit_rate:
                road.nginx.__exit__(None, None, None)
                road.nginx = harness.Nginx(road.work / "rc", road.nginx.port).__enter__()
        self.assertLessEqual(road.nginx.bytes_sent(CLIENT, body=True), most)
        self.assertIn(NO_ROOM, out)
        self.assertIn(installer.START_GAME_CLIENT, out)

    def test_a_version_file_left_behind_its_state_costs_no_download(self):
        road = self.road
        self.update_to_version_2()
        # Killed after the state was committed, before pkg.ver followed it.
        (road.install_dir / "pkg.ver").write_bytes(b"1.0\r\n")
        road.clear_logs()
        road.run(TOKEN_NAME)
        self.assertEqual(road.nginx.bytes_sent(CLIENT), 0)
        self.assertEqual((road.install_dir / "pkg.ver").read_bytes(), b"2.0\r\n")

    def test_a_kill_at_any_point_of_an_update_ends_right_without_a_whole_download(self):
        road = self.road
        road.reset()
        publish(road, 1)
        road.run(TOKEN_NAME)
        version_1 = road.work / "version-1"
        shutil.rmtree(version_1, ignore_errors=True)
        shutil.copytree(road.install_dir, version_1, symlinks=True)
        publish(road, 2)
        package = road.packages / "GameClient.zip"
        with zipfile.ZipFile(package) as archive:
            files = {info.filename: archive.read(info) for info in archive.infolist()}

        def after(*lines):
            """Every line of lines, in that order, within the client stage."""
            def seen(trace):
                at = trace.find(b"loading_step=3")
                for line in lines:
                    at = trace.find(line, at) if at >= 0 else -1
                    at = at + len(line) if at >= 0 else -1
                return at >= 0
            return seen

        # Each kill lands at or soon after a line that marks a phase: the
        # directory and the changed entries fetched, the first entry staged,
        # every one staged (the flush, the state as applying and the moves
        # follow). A pkg.ver held open keeps the version from following the
        # committed state.
        points = (("fetched", after(INCREMENTAL), None),
                  ("amid staging", after(INCREMENTAL, installer.DELETE, b"\n", b"\n"), None),
                  ("staged", after(INCREMENTAL, installer.UNPACK_DONE), None),
                  ("committed", after(VERSION_NOT_KEPT), "pkg.ver"))
        for point, seen, held in points:
            with self.subTest(point):
                shutil.rmtree(road.install_dir)
                shutil.copytree(version_1, road.install_dir, symlinks=True)
                road.clear_logs()
                holder = held and road.wine.start(harness.WINCTL, "lock",
                                                  road.windows_path(held), 120)
                if holder:
                    self.assertEqual(holder.stdout.readline().strip(), b"locked")
                killed = kill_after(road, seen)
                if holder:
                    holder.kill()
                    holder.communicate()
                self.assertIsNotNone(killed, "the run ended before the kill")
                trace = road.run(TOKEN_NAME)
                self.assertIn(installer.START_GAME_CLIENT, trace)
                self.assertEqual((road.install_dir / "pkg.ver").read_bytes(), b"2.0\r\n")
                client_dir = road.install_dir / "GameClient"
                for name, data in files.items():
                    self.assertEqual((client_dir / name).read_bytes(), data, name)
                self.assertEqual(list(client_dir.rglob("*~qorv*")), [])
                self.assertLessEqual(road.nginx.bytes_sent(CLIENT), package.stat().st_size // 20)

    def test_a_client_folder_on_another_volume_updates(self):
        road = self.road
        road.reset()
        publish(road, 1)
        road.run(TOKEN_NAME)
        # The player moved a client folder to another drive and left a link:
        # a file staged outside it could only be copied in, never moved.
        small = road.install_dir / "GameClient" / "res" / "small"
        elsewhere = Path(tempfile.mkdtemp(prefix="qorv-volume-", dir="/dev/shm"))
        try:
            self.assertNotEqual(elsewhere.stat().st_dev, small.stat().st_dev)
            shutil.copytree(small, elsewhere, dirs_exist_ok=True)
            shutil.rmtree(small)
            small.symlink_to(elsewhere, target_is_directory=True)
            publish(road, 2)
            trace = road.run(TOKEN_NAME)
            self.assertNotIn(installer.UNPACK_FAILED, trace)
            self.assertEqual((road.install_dir / "pkg.ver").read_bytes(), b"2.0\r\n",
                             trace.decode("gbk", "replace"))
            with zipfile.ZipFile(road.packages / "GameClient.zip") as archive:
                for name in SMALL:
                    self.assertEqual((elsewhere / name.split("/")[-1]).read_bytes(),
                                     archive.read(name))
            self.assertEqual(sorted(p.name for p in elsewhere.iterdir()), ["a.txt", "b.txt"])
        finally:
            shutil.rmtree(elsewhere)

    def update_to_version_2(self):
        road = self.road
        road.reset()
        publish(road, 1)
        road.run(TOKEN_NAME)
        publish(road, 2)
        road.run(TOKEN_NAME)
        self.assertEqual((road.install_dir / "pkg.ver").read_bytes(), b"2.0\r\n")

    def test_an_update_while_the_game_runs_completes_in_the_same_run(self):
        road = self.road
        road.reset()
        stub = (installer.STUBS / "client" / "kel_qorvmicro.exe").read_bytes()
        game = road.install_dir / "GameClient" / "kel_qorvmicro.exe"

        def publish_game(version):
            installer.client_package(road.packages / "GameClient.zip",
                                     {"kel_qorvmicro.exe": stub + version})
            (road.packages / "pkg.ver").write_bytes(version)

        publish_game(b"v1")
        road.run(TOKEN_NAME)
        running = road.wine.start(game, "stay")
        try:
            self.assertTrue(wait_until(lambda: "kel_qorvmicro.exe" in road.wine.processes(),
                                       30, 0.5))
            publish_game(b"v2")
            trace = road.run(TOKEN_NAME)
            self.assertNotIn(installer.UNPACK_FAILED, trace)
            self.assertIn(installer.START_GAME_CLIENT, trace)
            self.assertEqual(game.read_bytes(), stub + b"v2")
            self.assertEqual(len(list(game.parent.glob("*.~qorv-old"))), 1)
        finally:
            harness.stop(running)
            running.communicate()
        # The old program goes with a later run, once it ended.
        self.assertTrue(wait_until(lambda: "kel_qorvmicro.exe" not in road.wine.processes(),
                                   30, 0.5))
        road.run(TOKEN_NAME)
        self.assertEqual(list(game.parent.glob("*.~qorv-old")), [])

    def test_odd_entries_cost_the_tail_alone_after_one_run(self):
        road = self.road
        road.reset()
        publish(road, 1)
        # A folder entry beside a file of its name, two entries naming one
        # file, and an entry without a DOS date (zero in both headers).
        shell = road.packages / "shell.zip"
        installer.make_zip(shell, {"Qorv.exe": installer.STUBS / "shell" / "Qorv.exe",
                                   "Uninstall.exe": installer.UNINSTALLER,
                                   "undated.txt": b"no date", "both": b"a file too",
                                   "dup.txt": b"first", "DUP.TXT": b"last"}, dirs=["both/"])
        data = bytearray(shell.read_bytes())
        local = data.find(b"undated.txt") - 30
        central = data.rfind(b"undated.txt") - 46
        data[local + 10:local + 14] = bytes(4)
        data[central + 12:central + 16] = bytes(4)
        shell.write_bytes(bytes(data))
        road.run(TOKEN_NAME)
        dups = [p.read_bytes() for p in road.install_dir.iterdir() if p.name.lower() == "dup.txt"]
        self.assertEqual(dups, [b"last"])
        for _ in range(2):
            road.clear_logs()
            trace = road.run(TOKEN_NAME)
            self.assertLessEqual(road.nginx.bytes_sent(SHELL), 8192)
            self.assertEqual(road.nginx.bytes_sent(CLIENT), 0)
            self.assertNotIn(installer.DELETE, trace)


class WrongRangeBytes(RoadTestCase):
    road_class = FaultRoad

    def test_wrong_bytes_commit_nothing_and_the_whole_download_mends(self):
        road = self.road
        road.serve(*configs(CLIENT, "ranges", damage=True))
        publish(road, 1)
        road.run(TOKEN_NAME)
        self.assertEqual((road.install_dir / "pkg.ver").read_bytes(), b"1.0\r\n")
        publish(road, 2)
        # The damaged entries are refused before anything moves; the whole
        # download, which the server sends undamaged, mends in the same run.
        trace = road.run(TOKEN_NAME)
        self.assertIn(INCREMENTAL, trace)
        self.assertIn(installer.UNPACK_FAILED, trace)
        self.assertEqual((road.install_dir / "pkg.ver").read_bytes(), b"2.0\r\n")
        self.assertEqual(tree(road), fresh_version_2(road))
        self.assertEqual(list(road.install_dir.rglob("~qorv-*")), [])
