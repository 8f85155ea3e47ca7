"""The whole installer under Wine against misbehaving servers: each fault on
each of the three package downloads and on the login request, and where the
run ends: the requests made, what is on disk, whether the installer still
runs, and "pkg.ver" never claiming a client that is not installed.

Not every fault runs on every request, to keep the run bounded:
- "hang" and "stall" cost the download's 20 s idle timeout per case. "hang"
  (silence before the answer) runs on the shell package and on the login,
  "stall" (silence in mid-body) on the game client; every download goes
  through the very same function, whose timeout test_download checks on
  its own.
- A refused connection is a property of the host, not of the path: the
  closed resource port stops the first download (the shell package), the
  closed account port stops the login.
"""

import re
import unittest

from e2e.installer import (PROGRESS_REPORT, STAND_INS, TOKEN, FaultRoad, RoadTestCase,
                           wait_until)

TOKEN_NAME = f"QorvInstall-a-{TOKEN}.exe"
SHELL, VERSION, CLIENT = "/rc/pkg/shell.zip", "/rc/pkg/pkg.ver", "/rc/pkg/GameClient.zip"
LOGIN = "/qv/redirect_login_token"
ANSWER = '{"errno":0,"query_string":"a=1&b=2"}'
ROAD = [SHELL, VERSION, CLIENT, LOGIN]
# The progress step each package download reports under.
STEPS = {SHELL: 1, VERSION: 2, CLIENT: 3}
# The stage each request's failure is traced under.
STAGES = {SHELL: b"shell", VERSION: b"version", CLIENT: b"client", LOGIN: b"login"}
DOWNLOAD_FAILED = "下载失败".encode("gbk")
TOO_LARGE = 0x800700DF  # HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE)
BODIES = {SHELL: {"body": "shell.zip"}, VERSION: {"body": "pkg.ver"},
          CLIENT: {"body": "GameClient.zip"}, LOGIN: {"text": ANSWER}}
# Idle timeout of the download plus start-up, with room to spare.
GIVE_UP_SECONDS = 20 + 25


def moved(path):
    return path.rsplit("/", 1)[0] + "/moved/" + path.rsplit("/", 1)[1]


def configs(target=None, behaviour=None, **extra):
    """The healthy servers, with target (a path, or a list of paths)
    answered by behaviour instead."""
    entries = {path: {"behaviour": "ok", **BODIES[path]} for path in ROAD}
    for path in [target] if isinstance(target, str) else target or []:
        if behaviour == "redirect":
            entries[moved(path)] = entries[path]
            entries[path] = {"behaviour": "redirect", "location": moved(path)}
        else:
            entries[path] = {"behaviour": behaviour, **BODIES[path], **extra}
    account = {LOGIN: entries.pop(LOGIN)}
    for path in list(entries):
        if path.startswith("/qv/"):
            account[path] = entries.pop(path)
    return entries, account


def get(paths):
    return [f"GET {path}" for path in paths]


class FaultMatrix(RoadTestCase):
    road_class = FaultRoad

    def path(self, relative):
        return self.road.install_dir / relative

    def assert_sound_disk(self):
        """No partial download left anywhere; "pkg.ver" only with a client."""
        self.assertEqual(list(self.road.install_dir.rglob("*.part")), [])
        if self.path("pkg.ver").exists():
            self.assertTrue(self.path("GameClient/kel_qorvmicro.exe").is_file())

    def assert_whole_road(self, trace):
        road = self.road
        self.assertEqual(self.path("pkg.ver").read_bytes(), b"1.0.0\r\n")
        self.assertTrue(self.path("GameClient/res/level1.dat").is_file())
        self.assertEqual(self.path("GameClient/lgt.json").read_text(), ANSWER)
        client = road.windows_path("GameClient\\kel_qorvmicro.exe")
        self.assertEqual(road.started("GameClient/kel_qorvmicro.exe"),
                         [f'"{client}" 0 a=1&b=2&client=pc'])
        self.assert_sound_disk()

    def assert_stopped_at(self, target, running):
        """The road up to target was made and nothing after it; the stage
        ended silently and left the installer's window open."""
        road = self.road
        self.assertTrue(running, "the installer ended by itself")
        made = [path for path in road.requests() if "/moved/" not in path]
        self.assertEqual(made, get(ROAD[:ROAD.index(target) + 1]))
        self.assertEqual(self.path("Qorv.exe").is_file(), target != SHELL)
        self.assertFalse(self.path("shell.zip").exists())
        self.assertFalse(self.path("pkg.ver.new").exists())
        self.assertFalse(self.path("GameClient.zip").exists())
        self.assertEqual(self.path("pkg.ver").exists(), target == LOGIN)
        self.assertEqual(self.path("GameClient/kel_qorvmicro.exe").is_file(), target == LOGIN)
        self.assertFalse(self.path("GameClient/lgt.json").exists())
        self.assertEqual(road.started("Qorv.exe"), [])
        self.assertEqual(road.started("GameClient/kel_qorvmicro.exe"), [])
        self.assert_sound_disk()

    def run_failing(self, target, behaviour, **extra):
        self.road.serve(*configs(target, behaviour, **extra))
        if behaviour in ("hang", "stall"):
            # Given up when the installer closes the connection.
            condition, timeout = (lambda: get([target]) == self.road.gave_up()), GIVE_UP_SECONDS
        else:
            condition, timeout = (lambda: f"GET {target}" in self.road.requests()), 60
        running, trace = self.road.run_until_stuck(TOKEN_NAME, condition, timeout)
        self.assert_stopped_at(target, running)
        # One line names the stage, the result and the URL.
        failed = re.findall(b"\n" + DOWNLOAD_FAILED + rb" (\w+) 0x([0-9A-F]{8}) (\S+)\n", trace)
        self.assertEqual(len(failed), 1, trace[-500:])
        stage, result, url = failed[0]
        self.assertEqual(stage, STAGES[target])
        self.assertTrue(int(result, 16) & 0x80000000, result)
        self.assertIn(target.encode() + b"?", url)
        return int(result, 16)

    def test_error_statuses_stop_the_road(self):
        for status in (404, 500):
            for target in ROAD:
                with self.subTest(status=status, target=target):
                    self.setUp()
                    self.run_failing(target, "status", status=status)

    def test_bodies_cut_short_or_reset_stop_the_road(self):
        for behaviour in ("short", "reset"):
            for target in ROAD:
                with self.subTest(behaviour=behaviour, target=target):
                    self.setUp()
                    self.run_failing(target, behaviour)

    def test_oversized_answers_stop_the_road(self):
        # The version file and the login answer are taken up to 64 KiB, by
        # their length or, without one, by the bytes that come.
        for target, behaviour in ((VERSION, "chunked"), (LOGIN, "ok")):
            with self.subTest(target=target, behaviour=behaviour):
                self.setUp()
                (self.road.packages / "big.txt").write_bytes(b"1" * (64 * 1024 + 1))
                self.assertEqual(self.run_failing(target, behaviour, body="big.txt"), TOO_LARGE)

    def test_silent_servers_are_given_up_on(self):
        for target, behaviour in ((SHELL, "hang"), (LOGIN, "hang"), (CLIENT, "stall")):
            with self.subTest(target=target, behaviour=behaviour):
                self.setUp()
                self.run_failing(target, behaviour)

    def test_refused_connections_stop_the_road(self):
        road = self.road
        with self.subTest(port="resource"):
            road.serve(None, configs()[1])
            running, _ = road.run_until_stuck(TOKEN_NAME, road.install_dir.is_dir, 60)
            self.assertTrue(running)
            self.assertEqual(road.requests(), [])
            self.assertFalse(self.path("Qorv.exe").exists())
            self.assert_sound_disk()
        with self.subTest(port="account"):
            self.setUp()
            road.serve(configs()[0], None)
            running, _ = road.run_until_stuck(TOKEN_NAME, self.path("pkg.ver").is_file, 60)
            self.assertTrue(running)
            self.assertEqual(road.requests(), get([SHELL, VERSION, CLIENT]))
            self.assertFalse(self.path("GameClient/lgt.json").exists())
            self.assertEqual(road.started("GameClient/kel_qorvmicro.exe"), [])
            self.assert_sound_disk()

    # A behaviour that must still complete the road is put on all four
    # requests of one run: each request meets it, at a quarter of the runs.

    def test_redirects_to_the_same_host_are_followed(self):
        self.road.serve(*configs(ROAD, "redirect"))
        trace = self.road.run(TOKEN_NAME)
        self.assertEqual(self.road.requests(),
                         get(path for target in ROAD for path in (target, moved(target))))
        self.assert_whole_road(trace)

    def test_a_second_start_while_one_runs_ends_at_once(self):
        road = self.road
        road.serve(*configs(SHELL, "slow", pieces=4, seconds=4))
        first = road.wine.start(road.installer(TOKEN_NAME))
        try:
            self.assertTrue(wait_until(lambda: road.requests() == get([SHELL]), 60))
            second = road.wine.start(road.installer(TOKEN_NAME))
            second.communicate(timeout=30)
            self.assertIsNone(first.poll(), "the first installer ended before the second")
            first.communicate(timeout=90)
        except BaseException:
            road.wine.stop()
            road.wine.warm()
            raise
        wait_until(lambda: not STAND_INS & road.wine.processes(), 20, 0.5)
        # One download of each package, one login, one started program.
        self.assertEqual(road.requests(), get(ROAD))
        self.assertEqual(len(road.started("GameClient/kel_qorvmicro.exe")), 1)
        self.assert_sound_disk()

    def test_a_connection_dropped_mid_package_goes_on_in_the_same_run(self):
        road = self.road
        road.serve(*configs(CLIENT, "drop", cut=0.6))
        trace = road.run(TOKEN_NAME)
        self.assertEqual(road.requests(), get([SHELL, VERSION, CLIENT, CLIENT, LOGIN]))
        self.assert_whole_road(trace)
        package = (road.packages / "GameClient.zip").stat().st_size
        self.assertLessEqual(road.servers[0].bytes_sent(CLIENT), package * 115 // 100)

    def test_slow_bodies_still_succeed(self):
        self.road.serve(*configs(ROAD, "slow", pieces=6, seconds=3))
        trace = self.road.run(TOKEN_NAME)
        self.assertEqual(self.road.requests(), get(ROAD))
        self.assert_whole_road(trace)

    def test_chunked_bodies_succeed_with_maximum_zero(self):
        self.road.serve(*configs(ROAD, "chunked", chunk=4096))
        trace = self.road.run(TOKEN_NAME)
        self.assertEqual(self.road.requests(), get(ROAD))
        self.assert_whole_road(trace)
        reports = PROGRESS_REPORT.findall(trace)
        for step in STEPS.values():
            # Without a length every report of a step says 0 % and leaves
            # the bar at the step's base.
            percents = {(int(b), int(p)) for s, b, p in reports if int(s) == step}
            self.assertEqual(percents, {(33 * step - 33, 0)}, f"step {step}")

if __name__ == "__main__":
    unittest.main()
