"""The whole installer under Wine: the road without a token, the token road
through the version check, the game client and the login, and its ends."""

import hashlib
import re
import unittest

from e2e import harness, installer
from e2e.installer import Road, RoadTestCase, TOKEN, answer, wait_until

TOKEN_NAME = f"QorvInstall-a-{TOKEN}.exe"


class InstallRoad(RoadTestCase):

    def shell_command(self):
        return f'"{self.road.windows_path("Qorv.exe")}" pelmar'

    def test_without_token_installs_the_shell_and_starts_it(self):
        road = self.road
        trace = road.run()
        self.assertEqual(road.requests(), ["GET /rc/pkg/shell.zip"])
        self.assertIn("?skq=", road.nginx.requests()[0])
        self.assertTrue((road.install_dir / "Qorv.exe").is_file())
        self.assertEqual((road.install_dir / "data" / "readme.txt").read_bytes(), b"shell data\r\n")
        self.assertTrue((road.install_dir / "data" / "empty").is_dir())
        self.assertFalse((road.install_dir / "shell.zip").exists())
        self.assertTrue((road.wine.desktop() / "Orvanta.lnk").is_file())
        self.assertEqual(road.started("Qorv.exe"), [self.shell_command()])
        self.assertEqual(road.logins(), [])
        uninstall = road.wine.cmd(
            "reg", "query",
            "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QorvInstall")
        self.assertIn(b"Uninstall.exe", uninstall)

        # The texts in their order, the progress of stage 1 reaching 33.
        order = [b"loading_step=1", b"\npercent=33", "\n已下载100\n".encode("gbk"),
                 installer.DOWNLOAD_DONE, installer.DELETE, installer.UNPACK_DONE,
                 installer.START_SHELL]
        at = 0
        for text in order:
            found = trace.find(text, at)
            self.assertGreaterEqual(found, 0, f"{text!r} missing after byte {at}")
            at = found
        self.assertIn(installer.DELETE + road.windows_path("Qorv.exe").encode() + b"\n", trace)

    def test_without_standard_output_the_trace_goes_to_the_log_file(self):
        road = self.road
        # As when a player starts it from the desktop: no standard handles.
        road.wine.run(harness.WINCTL, "detached", road.installer(), timeout=150)
        installer.wait_until(lambda: road.started("Qorv.exe"), 20)
        log = (road.install_dir / "QorvInstall.log").read_bytes()
        self.assertIn(b"loading_step=1\npercent=33\n" + "已下载100\n".encode("gbk"), log)
        self.assertLess(log.index(installer.UNPACK_DONE), log.index(installer.START_SHELL))

    def test_token_first_install_runs_the_whole_road(self):
        road = self.road
        trace = road.run(TOKEN_NAME)
        self.assertEqual(road.requests(), ["GET /rc/pkg/shell.zip", "GET /rc/pkg/pkg.ver",
                                           "GET /rc/pkg/GameClient.zip"])
        self.assertEqual(road.logins(),
                         [f"/qv/redirect_login_token?token={TOKEN}&platform=pelmar"])
        self.assertTrue((road.install_dir / "GameClient" / "res" / "level1.dat").is_file())
        self.assertFalse((road.install_dir / "GameClient.zip").exists())
        self.assertEqual((road.install_dir / "pkg.ver").read_bytes(), b"1.0.0\r\n")
        self.assertFalse((road.install_dir / "pkg.ver.new").exists())
        self.assertEqual((road.install_dir / "GameClient" / "lgt.json").read_text(),
                         '{"errno":0,"query_string":"a=1&b=2"}')
        client = road.windows_path("GameClient\\kel_qorvmicro.exe")
        self.assertEqual(road.started("GameClient/kel_qorvmicro.exe"),
                         [f'"{client}" 0 a=1&b=2&client=pc'])
        self.assertEqual(road.started("Qorv.exe"), [])
        self.assertIn(installer.START_GAME_CLIENT, trace)
        self.assertIn(b"\npercent=99", trace)
        # Each stage's first report sets the bar to the stage's base, the
        # first one below the 1 the bar starts at.
        first = {}
        for step, percent, done in installer.PROGRESS_REPORT.findall(trace):
            first.setdefault(int(step), (int(percent), int(done)))
        self.assertEqual(first, {1: (0, 0), 2: (33, 0), 3: (66, 0)})

    def test_unchanged_version_launches_without_fetching_the_client(self):
        road = self.road
        road.run(TOKEN_NAME)
        road.clear_logs()
        trace = road.run(TOKEN_NAME)
        self.assertEqual(road.requests(), ["GET /rc/pkg/shell.zip", "GET /rc/pkg/pkg.ver"])
        self.assertEqual(len(road.logins()), 1)
        self.assertEqual(len(road.started("GameClient/kel_qorvmicro.exe")), 2)
        self.assertNotIn(b"loading_step=3", trace)
        # The bar stays where stage 2 ended.
        self.assertEqual(trace.rsplit(b"\npercent=", 1)[1].split(b"\n")[0], b"66")

    def test_answers_choose_the_program(self):
        road = self.road
        road.run(TOKEN_NAME)  # install once; then only the launch varies
        shell = self.shell_command()
        cases = [('{"errno":1}', "shell"), ('{"errno":-1}', "shell"), ('{"errno":true}', "shell"),
                 ('{"errno":1e12}', "shell"), ('not json at all', "shell"),
                 ('{"errno":0.9,"query_string":"q=1"}', "client"),
                 ('{"errno":false,"query_string":"q=2"}', "client"),
                 ('{"errno":null,"query_string":"q=3"}', "client"),
                 ('{"errno":"7","query_string":"q=4"}', "client"),
                 ('{"ERRNO":0,"QUERY_STRING":"q=5"}', "client"),
                 ('{"errno":0,"query_string":"q=6"} and more', "client")]
        for text, expected in cases:
            with self.subTest(answer=text):
                before_shell = len(road.started("Qorv.exe"))
                before_client = len(road.started("GameClient/kel_qorvmicro.exe"))
                answer(road, text)
                road.run(TOKEN_NAME)
                shells = road.started("Qorv.exe")[before_shell:]
                clients = road.started("GameClient/kel_qorvmicro.exe")[before_client:]
                if expected == "shell":
                    self.assertEqual((shells, clients), ([shell], []))
                else:
                    self.assertEqual(shells, [])
                    self.assertEqual(len(clients), 1)
                    query = re.search(r'"(q=\d)"', text).group(1)
                    self.assertTrue(clients[0].endswith(f" 0 {query}&client=pc"), clients[0])

    def test_missing_shell_package_stops_and_leaves_the_window_open(self):
        road = self.road
        (road.packages / "shell.zip").unlink()
        proc = road.wine.start(road.installer(TOKEN_NAME))
        try:
            self.assertFalse(wait_until(lambda: proc.poll() is not None, 10),
                             "the installer closed after a failed download")
            self.assertEqual(road.requests(), ["GET /rc/pkg/shell.zip"])
            self.assertFalse((road.install_dir / "shell.zip").exists())
            road.close(TOKEN_NAME)
            self.assertTrue(wait_until(lambda: proc.poll() is not None, 10),
                            "WM_CLOSE did not end the installer")
        finally:
            road.wine.stop()
            proc.communicate()
            road.wine.warm()

    def assert_install_failed(self, running, trace):
        """The failure state: the window open, nothing started, no closing."""
        self.assertTrue(running, "the installer ended by itself")
        self.assertNotIn(installer.START_GAME_CLIENT, trace)
        self.assertNotIn(installer.START_MICRO_CLIENT, trace)

    def test_damaged_client_update_stops_and_is_fetched_again(self):
        road = self.road
        road.run(TOKEN_NAME)  # version 1.0.0 installed
        road.publish(shell=False, version="2.0.0\r\n")
        package = road.packages / "GameClient.zip"
        whole = package.read_bytes()
        package.write_bytes(whole[: len(whole) // 2])  # a package file cut short
        running, trace = road.run_until_stuck(
            TOKEN_NAME, lambda: "GET /rc/pkg/GameClient.zip" in road.requests()
            and not (road.install_dir / "pkg.ver.new").exists(), 60)
        self.assert_install_failed(running, trace)
        self.assertEqual(len(road.started("GameClient/kel_qorvmicro.exe")), 1)
        # Nothing of the update went in: the installed client and its
        # version stay as they were.
        self.assertEqual((road.install_dir / "pkg.ver").read_bytes(), b"1.0.0\r\n")
        self.assertEqual(len(road.logins()), 1)

        package.write_bytes(whole)
        road.clear_logs()
        road.run(TOKEN_NAME)
        self.assertEqual(list(dict.fromkeys(road.requests())),
                         ["GET /rc/pkg/shell.zip", "GET /rc/pkg/pkg.ver",
                          "GET /rc/pkg/GameClient.zip"])
        self.assertEqual((road.install_dir / "pkg.ver").read_bytes(), b"2.0.0\r\n")
        self.assertEqual(len(road.started("GameClient/kel_qorvmicro.exe")), 2)

    def test_a_program_that_cannot_start_leaves_the_failure_state(self):
        road = self.road
        installer.make_zip(road.packages / "GameClient.zip", {"res/level1.dat": b"no program"})
        running, trace = road.run_until_stuck(
            TOKEN_NAME, (road.install_dir / "GameClient" / "lgt.json").is_file, 60)
        self.assert_install_failed(running, trace)
        client = road.windows_path("GameClient\\kel_qorvmicro.exe")
        self.assertRegex(trace, re.escape("启动失败".encode("gbk")) + rb" 0x8007[0-9A-F]{4} " +
                         re.escape(f'"{client}" 0 '.encode()))
        self.assertEqual(road.started("Qorv.exe"), [])

    def test_client_package_not_matching_its_digest_leaves_the_client_as_it_was(self):
        road = self.road
        package = road.packages / "GameClient.zip"
        # The kit's version text, here in capitals and with a line end.
        road.publish(shell=False, client=False,
                     version=hashlib.sha256(package.read_bytes()).hexdigest().upper()
                     + "\r\n")
        road.run(TOKEN_NAME)
        client = road.install_dir / "GameClient"
        names = [n for n in installer.zipfile.ZipFile(package).namelist() if n[-1] != "/"]
        installed = {name: (client / name).read_bytes() for name in names}
        version = (road.install_dir / "pkg.ver").read_bytes()

        # A whole, well-formed package, but not the one the version names.
        installer.client_package(package, {"res/level1.dat": b"v2" * 100})
        road.publish(shell=False, client=False,
                     version=hashlib.sha256(package.read_bytes() + b"x").hexdigest())
        # Without the install state the update is the whole download, the one
        # a digest can check (an incremental one relies on entry CRC-32s).
        (road.install_dir / "GameClient.state").unlink()
        road.clear_logs()
        trace = road.run(TOKEN_NAME, timeout=180)
        # The run waits for a stale edge and tries again, reading the version
        # each time (it may have moved on meanwhile), five times in all.
        self.assertEqual(road.requests(), ["GET /rc/pkg/shell.zip", "GET /rc/pkg/pkg.ver",
                                           "GET /rc/pkg/GameClient.zip"]
                         + ["GET /rc/pkg/pkg.ver", "GET /rc/pkg/GameClient.zip"] * 5)
        self.assertIn("客户端包与版本不符\n".encode("gbk"), trace)
        self.assertNotIn(installer.DELETE + road.windows_path("GameClient").encode(), trace)
        self.assertEqual({name: (client / name).read_bytes() for name in names}, installed)
        self.assertFalse((road.install_dir / "GameClient.zip").exists())
        self.assertFalse((road.install_dir / "pkg.ver.new").exists())
        self.assertEqual((road.install_dir / "pkg.ver").read_bytes(), version)
        self.assertEqual(len(road.started("GameClient/kel_qorvmicro.exe")), 2)

    def test_second_install_replaces_packaged_files_and_keeps_others(self):
        road = self.road
        road.run()
        (road.install_dir / "data" / "readme.txt").write_bytes(b"changed by the player")
        (road.install_dir / "data" / "mine.txt").write_bytes(b"not in the package")
        road.run()
        self.assertEqual((road.install_dir / "data" / "readme.txt").read_bytes(), b"shell data\r\n")
        self.assertEqual((road.install_dir / "data" / "mine.txt").read_bytes(),
                         b"not in the package")
        self.assertEqual(len(road.started("Qorv.exe")), 2)

    def test_names_beginning_with_two_dots_stay_inside_from_install_to_uninstall(self):
        road = self.road
        local = road.wine.local_appdata()
        # Where a join that reads "..x" as the parent folder would land.
        sentinels = [local / "tovrine" / "qorv2" / "keep.txt", local / "tovrine2" / "readme.txt",
                     local.parent / "LocalLow" / "Studio" / "save.dat"]
        shell = {"..2/readme.txt": b"two", "data/..2/readme.txt": b"deep", "..cfg": b"cfg"}
        client = {"..a/..b/..Low/Studio/save.dat": b"save"}
        try:
            for path in sentinels:
                path.parent.mkdir(parents=True, exist_ok=True)
                path.write_bytes(b"keep")
            sentinels[-1].chmod(0o444)
            for version in (1, 2):  # installed, then every file updated
                suffix = b"" if version == 1 else b" v2"
                installer.shell_package(road.packages / "shell.zip",
                                        {k: v + suffix for k, v in shell.items()})
                installer.client_package(road.packages / "GameClient.zip",
                                         {k: v + suffix for k, v in client.items()})
                road.publish(shell=False, client=False, version=f"{version}.0\r\n")
                road.run(TOKEN_NAME)
                for name, data in shell.items():
                    self.assertEqual((road.install_dir / name).read_bytes(), data + suffix)
                for name, data in client.items():
                    self.assertEqual((road.install_dir / "GameClient" / name).read_bytes(),
                                     data + suffix)
                for path in sentinels:
                    self.assertEqual(path.read_bytes(), b"keep", path)
            result = road.wine.run(harness.WINCTL, "run", road.wine.uninstall_command() + " /S")
            self.assertTrue(wait_until(lambda: not any(
                "uninstall" in name for name in road.wine.processes()), 20, 0.5))
            self.assertEqual(result.returncode, 0, result.stdout)
            self.assertFalse(road.install_dir.exists())
            for path in sentinels:
                self.assertEqual(path.read_bytes(), b"keep", path)
        finally:
            sentinels[-1].chmod(0o644)
            for folder in (local / "tovrine2", local.parent / "LocalLow" / "Studio"):
                installer.shutil.rmtree(folder, ignore_errors=True)

    def test_client_package_cannot_reach_outside_the_install_directory(self):
        road = self.road
        installer.client_package(road.packages / "GameClient.zip",
                                 {"../../evil.txt": b"evil", "a/../../evil2.txt": b"evil2"})
        road.run()  # install the shell first, so the directories exist
        outside = road.install_dir / "evil2.txt"
        outside.write_bytes(b"keep me")
        # Refused entries keep the whole package out: it stops in the
        # failure state, and nothing of the client is unpacked.
        running, trace = road.run_until_stuck(
            TOKEN_NAME, lambda: "GET /rc/pkg/GameClient.zip" in road.requests()
            and not (road.install_dir / "pkg.ver.new").exists(), 60)
        self.assert_install_failed(running, trace)
        self.assertEqual(outside.read_bytes(), b"keep me")
        self.assertFalse((road.install_dir.parent / "evil.txt").exists())
        self.assertFalse((road.install_dir.parent.parent / "evil.txt").exists())
        self.assertFalse((road.install_dir / "GameClient" / "kel_qorvmicro.exe").exists())
        self.assertFalse((road.install_dir / "pkg.ver").exists())


if __name__ == "__main__":
    unittest.main()


class SpaceInInstallDirectory(unittest.TestCase):
    """A profile path with a space: the quoted command line starts the
    installed program, never C:\\users\\John.exe."""

    def test_program_path_with_a_space_starts_the_right_program(self):
        with Road() as road:
            wine = road.wine
            users = wine.prefix / "drive_c" / "users"
            local = users / "John Smith" / "AppData" / "Local"
            local.mkdir(parents=True, exist_ok=True)
            decoy = users / "John.exe"
            installer.shutil.copy(installer.STUBS / "shell" / "Qorv.exe", decoy)
            wine.set_local_appdata("C:\\users\\John Smith\\AppData\\Local")
            try:
                road.publish()
                road.run()
                install_dir = local / "tovrine" / "qorv"
                args = install_dir / "Qorv.exe.args"
                self.assertTrue(args.exists(), "the installed Qorv.exe was not started")
                self.assertEqual(
                    args.read_text(encoding="utf-8").splitlines(),
                    ['"C:\\users\\John Smith\\AppData\\Local\\tovrine\\qorv\\Qorv.exe" pelmar'])
                self.assertFalse((users / "John.exe.args").exists())
            finally:
                wine.set_local_appdata()
                installer.shutil.rmtree(users / "John Smith", ignore_errors=True)
                decoy.unlink(missing_ok=True)
