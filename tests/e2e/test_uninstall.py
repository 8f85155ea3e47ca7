"""Uninstall.exe under Wine after a real install: the command registered in
the uninstall entry, run as the system runs it, removes what the installer
made and nothing else."""

import hashlib
import re
import struct
import tempfile
import unittest
import uuid
from pathlib import Path
from unittest import mock

from e2e import harness, installer
from e2e.installer import TOKEN, RoadTestCase, wait_until

REMOVED = "已删除：".encode("gbk")
NOT_REMOVED = "未能删除：".encode("gbk")
KEPT = "保留：".encode("gbk")
RUNNING = "程序正在运行：".encode("gbk")
NOTHING = "没有需要删除的内容\n".encode("gbk")
LINK = "链接，其指向的文件已保留：".encode("gbk")
ANOTHER_INSTALLER = "另一个安装程序正在运行 ".encode("gbk")
MUTEX = b"Local\\QorvInstall"
EXIT_LEFT_SOME, EXIT_RUNNING = 1, 2


def write_link(path, target):
    """A shell link to the local path target, with only a link-info block."""
    volume = struct.pack("<IIII", 17, 3, 0, 16) + b"\0"  # fixed disk, no label
    base = target.encode("ascii") + b"\0"
    at_volume = 0x1C
    at_base = at_volume + len(volume)
    at_suffix = at_base + len(base)
    info = struct.pack("<7I", at_suffix + 1, 0x1C, 1, at_volume, at_base, 0, at_suffix)
    header = struct.pack("<I16sIIQQQIiIHHII", 0x4C,
                         uuid.UUID("00021401-0000-0000-c000-000000000046").bytes_le,
                         0x02, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0)
    path.write_bytes(header + info + volume + base + b"\0" + struct.pack("<I", 0))


def unlink_if_link(path):
    if path.is_symlink():
        path.unlink()


def files_under(folder):
    """Each file's path below folder with the SHA-256 of its content."""
    return {str(p.relative_to(folder)): hashlib.sha256(p.read_bytes()).hexdigest()
            for p in folder.rglob("*") if p.is_file()}


def user_environment(wine, name):
    """The (type, value) of the user's environment value name; None without it."""
    listing = wine.cmd("reg", "query", "HKCU\\Environment", "/v", name).decode(errors="replace")
    for line in listing.splitlines():
        fields = line.split(None, 2)
        if len(fields) == 3 and fields[0] == name and fields[1].startswith("REG_"):
            return fields[1], fields[2]
    return None


def set_user_environment(wine, name, typed_value):
    """Sets (or with None deletes) the user's environment value name."""
    if typed_value is None:
        wine.cmd("reg", "delete", "HKCU\\Environment", "/v", name, "/f")
    else:
        wine.cmd("reg", "add", "HKCU\\Environment", "/v", name, "/t", typed_value[0],
                 "/d", typed_value[1], "/f")


class Uninstaller(RoadTestCase):
    def setUp(self):
        super().setUp()
        self.link = self.road.wine.desktop() / "Orvanta.lnk"
        self.parent = self.road.install_dir.parent
        for copy in self.copies():  # left by an earlier, interrupted run
            copy.unlink()

    def uninstall(self, command):
        """Runs command with /S as the system runs a registered command; its
        exit code and trace, once no uninstaller process is left."""
        result = self.road.wine.run(harness.WINCTL, "run", command + " /S")
        self.assertTrue(wait_until(lambda: not any(
            "uninstall" in name for name in self.road.wine.processes()), 20, 0.5),
            "an uninstaller process is left")
        return result.returncode, result.stdout

    def copies(self):
        """The uninstaller's files outside the install directory."""
        users = self.road.wine.prefix / "drive_c" / "users"
        return [p for p in users.rglob("*Uninstall*.exe") if p.parent != self.road.install_dir]

    def assertNoCopyLeft(self):
        self.assertTrue(wait_until(lambda: not self.copies(), 10), self.copies())

    def test_registered_command_removes_what_the_install_made_and_only_that(self):
        road = self.road
        road.run(f"QorvInstall-a-{TOKEN}.exe")
        self.assertTrue((road.install_dir / "GameClient" / "kel_qorvmicro.exe").is_file())
        self.assertTrue(self.link.is_file())
        other = self.parent / "other" / "keep.txt"
        other.parent.mkdir()
        other.write_bytes(b"another program's")
        command = self.road.wine.uninstall_command()
        self.assertEqual(command, f'"{road.windows_path("Uninstall.exe")}"')

        code, trace = self.uninstall(command)
        self.assertEqual(code, 0, trace)
        self.assertFalse(road.install_dir.exists())
        self.assertFalse(self.link.exists())
        self.assertIsNone(self.road.wine.uninstall_command())
        self.assertEqual(other.read_bytes(), b"another program's")
        self.assertNoCopyLeft()
        for item in (road.windows_path().encode(), b"Orvanta.lnk",
                     b"Uninstall\\QorvInstall\\"):
            self.assertRegex(trace, REMOVED + b"[^\n]*" + re.escape(item) + b"\n")
        self.assertIn(KEPT + road.windows_path().rsplit("qorv", 1)[0].encode() + b"\n", trace)

        # Once more, as a script would: nothing to remove, nothing touched.
        again = road.work / "Uninstall.exe"
        installer.shutil.copy(installer.UNINSTALLER, again)
        code, trace = self.uninstall('"Z:' + str(again).replace("/", "\\") + '"')
        self.assertEqual(code, 0, trace)
        self.assertIn(NOTHING, trace)
        self.assertNotIn(REMOVED, trace)
        self.assertEqual(other.read_bytes(), b"another program's")

    def test_a_profile_path_of_any_script_or_length_installs_and_uninstalls(self):
        road = self.road
        user = road.wine.local_appdata().parts[-3]
        users = f"C:\\users\\{user}\\"
        # 200-character entry names in nested folders: below a 120-character
        # profile path every path of theirs runs past 259 characters.
        deep = ["res/" + c * 95 + "/" + c * 96 + ".bin" for c in "ab"]
        cases = [
            # Under en_US.UTF-8 Wine's ANSI code page is 1252, which has no
            # CJK characters: the folder below reads "?? ??" through it.
            ("本地 数据", {"LC_ALL": "en_US.UTF-8"}, []),
            ("p" * (120 - len(users)), {}, deep),
        ]
        for folder, env, names in cases:
            with self.subTest(folder=folder[:8]), mock.patch.dict(road.wine.env, env):
                local = road.wine.prefix / "drive_c" / "users" / user / folder
                local.mkdir(exist_ok=True)
                try:
                    road.wine.set_local_appdata(users + folder)
                    self.install_update_repair_uninstall(local, users + folder, names)
                finally:
                    road.wine.set_local_appdata()
                    installer.shutil.rmtree(local, True)

    def install_update_repair_uninstall(self, local, windows, names):
        road = self.road
        client = road.install_dir.relative_to(road.wine.local_appdata()) / "GameClient"
        files = {name: name.encode() * 3 for name in names}
        installer.client_package(road.packages / "GameClient.zip", files)
        (road.packages / "pkg.ver").write_text("1.0.0\r\n", newline="")
        road.run(f"QorvInstall-a-{TOKEN}.exe")
        self.assertTrue((local / client.parent / "Qorv.exe").is_file())
        self.assertTrue(self.link.is_file())
        if names:  # installed, then updated, then a lost file comes back
            self.assertEqual({n: (local / client / n).read_bytes() for n in names}, files)
            files[names[0]] = b"version 2"
            installer.client_package(road.packages / "GameClient.zip", files)
            (road.packages / "pkg.ver").write_text("2.0.0\r\n", newline="")
            road.run(f"QorvInstall-a-{TOKEN}.exe")
            (local / client / names[1]).unlink()
            road.run(f"QorvInstall-a-{TOKEN}.exe")
            self.assertEqual({n: (local / client / n).read_bytes() for n in names}, files)
        code, trace = self.uninstall(f'"{windows}\\tovrine\\qorv\\Uninstall.exe"')
        self.assertEqual(code, 0, trace)
        self.assertFalse(self.link.exists(), trace)
        self.assertFalse((local / "tovrine").exists(), trace)
        self.assertIsNone(road.wine.uninstall_command())
        self.assertNoCopyLeft()

    def test_links_it_did_not_make_and_their_targets_survive(self):
        road = self.road
        road.run()
        # The player re-pointed the desktop link at a folder that merely
        # shares the install directory's name as a prefix.
        elsewhere = road.windows_path().rstrip("\\") + "-old\\Qorv.exe"
        write_link(self.link, elsewhere)
        link_bytes = self.link.read_bytes()
        # A symbolic link inside the install directory to a folder outside.
        target = road.work / "linked"
        (target / "inner").mkdir(parents=True)
        (target / "inner" / "keep.txt").write_bytes(b"outside")
        (road.install_dir / "data" / "linked").symlink_to(target, target_is_directory=True)

        # Wine shows a Unix symbolic link as a reparse point, so the walk does
        # not enter it, but cannot remove the link itself: it is reported and
        # left, with the folder around it, the uninstaller and the entry that
        # runs it again. (The native walk test shows the link removed.)
        code, trace = self.uninstall(self.road.wine.uninstall_command())
        self.assertEqual(code, EXIT_LEFT_SOME, trace)
        self.assertIn(NOT_REMOVED + road.windows_path("data\\linked").encode() + b"\n", trace)
        self.assertEqual((target / "inner" / "keep.txt").read_bytes(), b"outside")
        self.assertEqual(self.link.read_bytes(), link_bytes)
        self.assertFalse((road.install_dir / "Qorv.exe").exists())
        self.assertTrue((road.install_dir / "Uninstall.exe").is_file())

        # A second run finishes the job once the link is gone.
        (road.install_dir / "data" / "linked").unlink()
        code, trace = self.uninstall(self.road.wine.uninstall_command())
        self.assertEqual(code, 0, trace)
        self.assertFalse(self.parent.exists(), trace)
        self.assertIsNone(self.road.wine.uninstall_command())
        self.assertTrue(self.link.exists(), trace)
        self.assertEqual(self.link.read_bytes(), link_bytes)
        self.assertEqual((target / "inner" / "keep.txt").read_bytes(), b"outside")
        self.assertNoCopyLeft()

    def test_an_install_directory_behind_a_link_keeps_what_the_link_points_to(self):
        road = self.road
        road.run()
        command = road.wine.uninstall_command()
        # The install directory, then its parent, moved elsewhere and linked
        # back. Wine cannot remove a Unix symbolic link: it is reported and
        # left, with the entry that runs the uninstaller again.
        for link in (road.install_dir, self.parent):
            target = road.work / ("linked-" + link.name)
            installer.shutil.move(link, target)
            link.symlink_to(target, target_is_directory=True)
            self.addCleanup(unlink_if_link, link)
            self.assertTrue((road.install_dir / "Uninstall.exe").is_file())
            files = files_under(target)

            code, trace = self.uninstall(command)
            self.assertEqual(code, EXIT_LEFT_SOME, trace)
            name = road.windows_path().rstrip("\\")
            name = (name if link == road.install_dir else name.rsplit("\\", 1)[0]).encode()
            self.assertIn(LINK + name + b"\n", trace)
            self.assertIn(NOT_REMOVED + name + b"\n", trace)
            self.assertNotIn(REMOVED + name, trace)
            self.assertEqual(files_under(target), files)
            self.assertIsNotNone(road.wine.uninstall_command())
            self.assertNoCopyLeft()
            link.unlink()
            installer.shutil.move(target, link)

    def test_a_temporary_folder_on_another_volume_still_lets_everything_go(self):
        road = self.road
        road.run()
        # The user's temporary folder on a tmpfs, the install directory on
        # the prefix's file system: no rename between them.
        temp = Path(tempfile.mkdtemp(prefix="qorv-temp-", dir="/dev/shm"))
        self.addCleanup(installer.shutil.rmtree, temp, True)
        self.assertNotEqual(temp.stat().st_dev, road.install_dir.stat().st_dev)
        for name in ("TEMP", "TMP"):
            self.addCleanup(set_user_environment, road.wine, name,
                            user_environment(road.wine, name))
            set_user_environment(road.wine, name, ("REG_SZ", harness.winpath(temp)))

        code, trace = self.uninstall(road.wine.uninstall_command())
        self.assertEqual(code, 0, trace)
        self.assertFalse(self.parent.exists(), trace)
        self.assertIsNone(road.wine.uninstall_command())
        self.assertTrue(wait_until(lambda: not any(temp.iterdir()), 10), list(temp.iterdir()))
        self.assertNoCopyLeft()

    def test_running_game_client_stops_it_before_anything_is_removed(self):
        road = self.road
        road.run(f"QorvInstall-a-{TOKEN}.exe")
        client = road.windows_path("GameClient\\kel_qorvmicro.exe")
        proc = road.wine.start(client, "stay", stdout=installer.subprocess.DEVNULL)
        try:
            self.assertTrue(wait_until(lambda: "kel_qorvmicro.exe" in road.wine.processes(), 20))
            code, trace = self.uninstall(self.road.wine.uninstall_command())
            self.assertEqual(code, EXIT_RUNNING, trace)
            self.assertIn(RUNNING + client.encode() + b"\n", trace)
            self.assertNotIn(REMOVED, trace)
            for name in ("Qorv.exe", "Uninstall.exe", "GameClient/res/level1.dat"):
                self.assertTrue((road.install_dir / name).is_file(), name)
            self.assertTrue(self.link.exists())
            self.assertIsNotNone(self.road.wine.uninstall_command())
        finally:
            harness.stop(proc)

    def test_nothing_is_removed_while_an_installer_runs_or_may_run(self):
        road = self.road
        road.run()
        command = road.wine.uninstall_command()
        installed = ("Qorv.exe", "Uninstall.exe", "data/readme.txt")

        # An installer stopped by a failed download stays, its window open.
        (road.packages / "shell.zip").unlink()
        road.clear_logs()  # the request to wait for is this installer's
        proc = road.wine.start(road.installer())
        try:
            self.assertTrue(wait_until(
                lambda: "GET /rc/pkg/shell.zip" in road.requests(), 30), road.requests())
            code, trace = self.uninstall(command)
            self.assertEqual(code, EXIT_RUNNING, trace)
            self.assertIn(RUNNING + MUTEX + b"\n", trace)
            self.assertNotIn(REMOVED, trace)
            for name in installed:
                self.assertTrue((road.install_dir / name).is_file(), name)
            self.assertTrue(self.link.exists())
            self.assertIsNotNone(road.wine.uninstall_command())
            self.assertIsNone(proc.poll(), "the installer ended during the uninstall")
        finally:
            road.close("QorvInstall.exe")
            try:
                proc.communicate(timeout=30)
            except installer.subprocess.TimeoutExpired:
                road.wine.stop()
                proc.communicate()
                road.wine.warm()

        # Another kind of object holds the mutex's name: it may be an
        # installer's, so neither the installer nor the uninstaller goes on.
        road.publish()
        holder = road.wine.start(harness.WINCTL, "hold", MUTEX.decode(), 60)
        try:
            self.assertEqual(holder.stdout.readline().strip(), b"held")
            road.clear_logs()
            trace = road.run(timeout=30)
            self.assertIn(ANOTHER_INSTALLER + b"0x6\n", trace)
            self.assertEqual(road.requests(), [])
            code, trace = self.uninstall(command)
            self.assertEqual(code, EXIT_RUNNING, trace)
            self.assertIn(RUNNING + MUTEX + b"\n", trace)
            for name in installed:
                self.assertTrue((road.install_dir / name).is_file(), name)
        finally:
            harness.stop(holder)
            holder.communicate()


if __name__ == "__main__":
    unittest.main()
