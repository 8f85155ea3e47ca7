"""Running the real QorvInstall.exe end to end: test packages made with the
stand-in programs, nginx for the packages and the scripted account server."""

import json
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile
from pathlib import Path

from e2e import harness

SERVERS = harness.REPO / "tests" / "servers"
INSTALLER = harness.WIN32_BUILD / "QorvInstall.exe"
STUBS = harness.WIN32_BUILD / "stubs" / "test"
TOKEN = "TOKEN42"
STAND_INS = {"qorv.exe", "kel_qorvmicro.exe"}

# The trace texts, as the installer writes them (GBK bytes).
DOWNLOAD_DONE = "下载完成".encode("gbk")
DELETE = "删除：".encode("gbk")
UNPACK_DONE = "解压完成".encode("gbk")
START_SHELL = "启动客户端，参数:\n".encode("gbk")
START_GAME_CLIENT = "启动游戏客户端，参数:\n".encode("gbk")
START_MICRO_CLIENT = "启动微端，参数:\n".encode("gbk")


def make_zip(path, files, dirs=()):
    """files: {archive name: bytes or a Path to copy}; dirs: directory entries."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name in dirs:
            archive.mkdir(name.rstrip("/"))
        for name, data in files.items():
            if isinstance(data, Path):
                data = data.read_bytes()
            archive.writestr(name, data)


def shell_package(path, extra=None):
    files = {"Qorv.exe": STUBS / "shell" / "Qorv.exe", "data/readme.txt": b"shell data\r\n"}
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

    def __enter__(self):
        resource_url, account_url = harness.build_urls()
        self.work = Path(tempfile.mkdtemp(prefix="qorv-road-"))
        self.packages = self.work / "rc" / "pkg"
        self.packages.mkdir(parents=True)
        self.answer = self.work / "answer.json"
        self.login_log = self.work / "login.log"
        self.xvfb = harness.Xvfb().__enter__()
        self.wine = harness.Wine(self.xvfb.display)
        self.nginx = harness.Nginx(self.work / "rc", harness.url_port(resource_url)).__enter__()
        self.account = subprocess.Popen(
            [sys.executable, str(SERVERS / "account_server.py"),
             str(harness.url_port(account_url)), str(self.answer), str(self.login_log)],
            stdout=subprocess.DEVNULL)
        harness.wait_for_port(harness.url_port(account_url))
        self.install_dir = self.wine.local_appdata() / "tovrine" / "qorv"
        self.reset()
        return self

    def __exit__(self, *exc):
        self.wine.stop()
        harness.stop(self.account)
        self.nginx.__exit__(*exc)
        self.xvfb.__exit__(*exc)
        shutil.rmtree(self.work, ignore_errors=True)

    def reset(self):
        """A fresh install: no install directory, no shortcut, no logs, and
        the account server's usual answer."""
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
            shutil.copy(INSTALLER, copy)
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


wait_until = harness.wait_until


def answer(road, text):
    road.answer.write_text(text)


__all__ = ["Road", "answer", "json", "wait_until", "TOKEN"]
