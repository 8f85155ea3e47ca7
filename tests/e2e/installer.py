"""Running the real QorvInstall.exe end to end: test packages made with the
stand-in programs, nginx for the packages and the scripted account server."""

import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile
from pathlib import Path

from e2e import harness
from servers.fault_server import FaultServer

SERVERS = harness.REPO / "tests" / "servers"
INSTALLER = harness.WINDOWS_BUILD / "QorvInstall.exe"
UNINSTALLER = harness.WINDOWS_BUILD / "Uninstall.exe"
STUBS = harness.WINDOWS_BUILD / "stubs" / "test"
SET_BASE_URLS = harness.WINDOWS_BUILD / "tests" / "wine" / "qorv-set-base-urls.exe"
TOKEN = "TOKEN42"
wait_until = harness.wait_until
STAND_INS = {"qorv.exe", "kel_qorvmicro.exe"}

# The trace texts, as the installer writes them (GBK bytes).
DOWNLOAD_DONE = "下载完成".encode("gbk")
DELETE = "删除：".encode("gbk")
UNPACK_DONE = "解压完成".encode("gbk")
UNPACK_FAILED = "解压失败".encode("gbk")
START_SHELL = "启动客户端，参数:\n".encode("gbk")
START_GAME_CLIENT = "启动游戏客户端，参数:\n".encode("gbk")
START_MICRO_CLIENT = "启动微端，参数:\n".encode("gbk")
# One progress report: the step, the bar's percent and the file's. A paint's
# width line from the GUI thread may fall between its three pieces.
_PAINT = rb"(?:\nwidth=\d+)*"
PROGRESS_REPORT = re.compile(rb"loading_step=(\d)" + _PAINT + rb"\npercent=(\d+)" + _PAINT +
                             rb"\n" + "已下载".encode("gbk") + rb"(\d+)\n")


# Every entry's time: a package made again with one file changed differs in
# that entry only, as a deployer's would.
STAMP = (2024, 1, 2, 3, 4, 6)


def make_zip(path, files, dirs=()):
    """files: {archive name: bytes or a Path to copy}; dirs: directory entries."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name in dirs:
            folder = zipfile.ZipInfo(name.rstrip("/") + "/", STAMP)
            folder.external_attr = 0o40755 << 16 | 0x10
            archive.writestr(folder, b"")
        for name, data in files.items():
            if isinstance(data, Path):
                data = data.read_bytes()
            archive.writestr(zipfile.ZipInfo(name, STAMP), data, zipfile.ZIP_DEFLATED)


def shell_package(path, extra=None):
    """As the kit's --shell makes it: the deployer's files and our Uninstall.exe."""
    files = {"Qorv.exe": STUBS / "shell" / "Qorv.exe", "data/readme.txt": b"shell data\r\n",
             "Uninstall.exe": UNINSTALLER}
    files.update(extra or {})
    make_zip(path, files, dirs=["data/", "data/empty/"])


def client_package(path, extra=None):
    files = {"kel_qorvmicro.exe": STUBS / "client" / "kel_qorvmicro.exe",
             "res/level1.dat": bytes(range(256)) * 64}
    files.update(extra or {})
    make_zip(path, files, dirs=["res/"])


class Road:
    """One Xvfb, the build's Wine prefix, nginx on the resource port serving
    a package folder, and the account server on the account port."""

    xvfb = wine = nginx = account = work = None
    program = INSTALLER  # what installer() copies

    def __enter__(self):
        try:
            return self._start()
        except BaseException:
            self.__exit__(None, None, None)
            raise

    def _start(self):
        self.work = Path(tempfile.mkdtemp(prefix="qorv-road-"))
        self.packages = self.work / "rc" / "pkg"
        self.packages.mkdir(parents=True)
        self.answer = self.work / "answer.json"
        self.login_log = self.work / "login.log"
        self.xvfb = harness.Xvfb().__enter__()
        self.wine = harness.Wine(self.xvfb.display)
        self.start_servers()
        self.install_dir = self.wine.local_appdata() / "tovrine" / "qorv"
        self.reset()
        return self

    def start_servers(self):
        """The build's own servers: on the ports its base URLs name."""
        resource_url, account_url = harness.build_urls()
        self.nginx = harness.Nginx(self.work / "rc", harness.url_port(resource_url)).__enter__()
        self.start_account_server(harness.url_port(account_url))

    def start_account_server(self, port):
        self.account = subprocess.Popen(
            [sys.executable, str(SERVERS / "account_server.py"), str(port), str(self.answer),
             str(self.login_log)], stdout=subprocess.DEVNULL)
        harness.wait_for_port(port)

    def __exit__(self, *exc):
        """Stops whatever was started, also after a failed start."""
        if self.wine is not None:
            self.wine.stop()
        harness.stop(self.account)
        if self.nginx is not None:
            self.nginx.__exit__(*exc)
        if self.xvfb is not None:
            self.xvfb.__exit__(*exc)
        if self.work is not None:
            shutil.rmtree(self.work, ignore_errors=True)

    def reset(self):
        """A fresh install: no install directory, no shortcut, no logs, and
        the account server's usual answer."""
        if self.answer is not None:
            self.answer.write_text('{"errno":0,"query_string":"a=1&b=2"}')
        shutil.rmtree(self.wine.local_appdata() / "tovrine", ignore_errors=True)
        (self.wine.desktop() / "Orvanta.lnk").unlink(missing_ok=True)
        self.clear_logs()

    def clear_logs(self):
        self.nginx.access_log.write_text("")
        self.login_log.write_text("")

    def publish(self, shell=True, client=True, version="1.0.0\r\n"):
        if shell:
            shell_package(self.packages / "shell.zip")
        if client:
            client_package(self.packages / "GameClient.zip")
        if version is not None:
            (self.packages / "pkg.ver").write_text(version, newline="")

    def installer(self, name="QorvInstall.exe"):
        """A copy of the installer under name (a token travels in the name)."""
        copy = self.work / name
        if not copy.exists():
            shutil.copy(self.program, copy)
        return copy

    def run(self, name="QorvInstall.exe", timeout=90):
        """Runs the installer until it exits by itself; returns its trace."""
        proc = self.wine.start(self.installer(name))
        try:
            out, _ = proc.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.wine.stop()
            proc.communicate()
            self.wine.warm()
            raise AssertionError(f"{name} did not exit by itself within {timeout} s")
        # A program it started may still be writing down its command line.
        wait_until(lambda: not STAND_INS & self.wine.processes(), 20, 0.5)
        return out

    def run_until_stuck(self, name, condition, timeout, settle=3):
        """Runs the installer until condition holds, then settle seconds more;
        returns whether it was still running then, and its trace. It is
        closed by its process id afterwards."""
        proc = self.wine.start(self.installer(name))
        try:
            reached = wait_until(condition, timeout, 0.5)
            time.sleep(settle)
            running = proc.poll() is None
        finally:
            self.close(name)
            try:
                out, _ = proc.communicate(timeout=30)
            except subprocess.TimeoutExpired:
                self.wine.stop()
                out, _ = proc.communicate()
                self.wine.warm()
        if not reached:
            raise AssertionError(f"{name}: condition not reached within {timeout} s")
        return running, out

    def close(self, name):
        """Posts WM_CLOSE to the installer's host window (the one no window
        owns), as another program would."""
        for window in self.wine.windows(name):
            if int(window["owner"], 16) == 0:
                self.wine.post(window["hwnd"], harness.WM_CLOSE)

    def requests(self):
        return [line.split("?", 1)[0] for line in self.nginx.requests()]

    def logins(self):
        return self.login_log.read_text().splitlines()

    def started(self, relative):
        """Command lines the stand-in at install_dir/relative recorded."""
        args = self.install_dir / (relative + ".args")
        return args.read_text(encoding="utf-8").splitlines() if args.exists() else []

    def windows_path(self, relative=""):
        return "C:\\users\\" + self.wine.local_appdata().parts[-3] + \
            "\\AppData\\Local\\tovrine\\qorv\\" + relative.replace("/", "\\")


class FaultRoad(Road):
    """The road with the fault server on both ports instead of nginx and the
    account server: serve() gives each port its behaviours, or nothing
    listening there at all."""

    servers = ()
    ports = ()

    def _start(self):
        resource_url, account_url = harness.build_urls()
        self.ports = harness.url_port(resource_url), harness.url_port(account_url)
        self.work = Path(tempfile.mkdtemp(prefix="qorv-faults-"))
        self.answer = None  # the fault server answers the login
        self.packages = self.work / "rc" / "pkg"
        self.packages.mkdir(parents=True)
        self.servers = []
        self.xvfb = harness.Xvfb().__enter__()
        self.wine = harness.Wine(self.xvfb.display)
        self.install_dir = self.wine.local_appdata() / "tovrine" / "qorv"
        self.reset()
        return self

    def __exit__(self, *exc):
        self.serve(None, None)
        super().__exit__(*exc)

    def serve(self, resource, account):
        """Restarts the servers: resource and account are fault-server configs
        (bodies from the package folder), None for a closed port."""
        for server in self.servers:
            server.__exit__(None, None, None)
        self.servers = []
        for config, port in zip((resource, account), self.ports):
            if config is not None:
                self.servers.append(FaultServer(config, self.packages, port=port).__enter__())

    def clear_logs(self):
        pass  # every serve() starts with empty logs

    def requests(self):
        return [line.split("?", 1)[0] for server in self.servers for line in server.requests()]

    def gave_up(self):
        return [line.split("?", 1)[0] for server in self.servers for line in server.gave_up()]


class TlsRoad(Road):
    """The road over HTTPS: a copy of the installer whose base URLs name
    https:// servers on ports of its own, nginx serving TLS for both (the
    account server behind it), and a throwaway CA the prefix trusts.
    serve() changes either server's certificate."""

    ca = None

    def start_servers(self):
        self.ports = harness.free_port(), harness.free_port()
        self.backend = harness.free_port()
        self.ca = harness.TestCa(self.work / "ca")
        self.certificates = {"good": self.ca.issue("127.0.0.1", "127.0.0.1"),
                             "expired": self.ca.issue("127.0.0.1", "127.0.0.1", days=-1),
                             "another host": self.ca.issue("other.example", "other.example"),
                             "untrusted CA": harness.TestCa(self.work / "other-ca")
                             .issue("127.0.0.1", "127.0.0.1")}
        self.wine.trust_root(self.ca)
        self.start_account_server(self.backend)
        self.serve("good", "good")
        self.program = self.work / "https" / "QorvInstall.exe"
        self.program.parent.mkdir()
        shutil.copy(INSTALLER, self.program)
        result = self.wine.run(SET_BASE_URLS, harness.winpath(self.program),
                               f"https://127.0.0.1:{self.ports[0]}/rc",
                               f"https://127.0.0.1:{self.ports[1]}/")
        if result.returncode != 0:
            raise AssertionError(f"qorv-set-base-urls: {result.stdout!r}")

    def serve(self, resource, account):
        """Restarts nginx with the named certificates on the resource and
        the account server."""
        if self.nginx is not None:
            self.nginx.__exit__(None, None, None)
            self.nginx = None
        self.nginx = harness.Nginx(
            self.work / "rc", self.ports[0], tls=self.certificates[resource],
            proxy=(self.ports[1], self.backend, self.certificates[account])).__enter__()

    def __exit__(self, *exc):
        if self.ca is not None and self.wine is not None:
            self.wine.distrust_root(self.ca)
        super().__exit__(*exc)


class RoadTestCase(unittest.TestCase):
    """One road (servers and prefix) for a whole test class, each test
    starting from a reset install and freshly published packages."""

    road_class = Road

    @classmethod
    def setUpClass(cls):
        cls.road = cls.road_class().__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.road.__exit__(None, None, None)

    def setUp(self):
        self.road.reset()
        self.road.publish()


def answer(road, text):
    road.answer.write_text(text)


__all__ = ["FaultRoad", "Road", "TlsRoad", "answer", "wait_until", "TOKEN"]
