#!/usr/bin/env python3
"""Runs QorvInstall.exe under Wine against local servers and reports what it
did: first as built (no token: the shell is installed and started), then
renamed to carry a token (the version check, the game client, the login and
the game client's start); last it runs the registered uninstall command
silently and shows what is gone. Screenshots go to build/demo/."""

import itertools
import random
import re
import shutil
import signal
import struct
import subprocess
import sys
import threading
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests"))
from e2e import harness  # noqa: E402

BUILD = harness.WINDOWS_BUILD
OUT = REPO / "build" / "demo"
TOKEN_NAME = "QorvInstall-demo-DEMO2026.exe"
ANSWER = '{"errno":0,"query_string":"session=demo&region=eu"}'
THROTTLE = "1m"  # bytes per second, so the bar is seen moving


def deterministic_bytes(size, seed):
    rng = random.Random(seed)
    return bytes(rng.getrandbits(8) for _ in range(size))


def build_packages(pkg):
    content = OUT / "content"
    shutil.rmtree(content, ignore_errors=True)
    shell = content / "shell"
    client = content / "client"
    (shell / "assets").mkdir(parents=True)
    (client / "assets" / "maps").mkdir(parents=True)
    shutil.copy(BUILD / "stubs" / "demo" / "shell" / "Qorv.exe", shell)
    (shell / "readme.txt").write_text("Orvanta micro-client shell\r\n")
    (shell / "assets" / "ui.pak").write_bytes(deterministic_bytes(3 << 20, 1))
    shutil.copy(BUILD / "stubs" / "demo" / "client" / "kel_qorvmicro.exe", client)
    (client / "assets" / "maps" / "world.dat").write_bytes(deterministic_bytes(5 << 20, 2))
    (client / "assets" / "config.ini").write_text("[client]\r\nlanguage=en\r\n")
    pack = REPO / "tools" / "qorv-pack"
    subprocess.run([pack, "--shell", shell, pkg / "shell.zip"], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run([pack, client, pkg / "GameClient.zip", pkg / "pkg.ver"], check=True,
                   stdout=subprocess.DEVNULL)


def read_shortcut(path):
    """Target path and arguments of a shell link file."""
    data = path.read_bytes()
    flags = struct.unpack_from("<I", data, 0x14)[0]
    unicode = bool(flags & 0x80)
    at = 0x4C
    if flags & 0x01:  # ID list
        at += 2 + struct.unpack_from("<H", data, at)[0]
    target = "?"
    if flags & 0x02:  # link info
        size, header = struct.unpack_from("<II", data, at)
        base = struct.unpack_from("<I", data, at + 16)[0]
        if header >= 0x24:
            wide = struct.unpack_from("<I", data, at + 28)[0]
            end = data.index(b"\0\0", at + wide)
            end += (end - at - wide) % 2
            target = data[at + wide:end].decode("utf-16-le")
        elif base:
            target = data[at + base:data.index(b"\0", at + base)].decode("latin-1")
        at += size
    strings = {}
    for bit, name in ((0x04, "name"), (0x08, "relative"), (0x10, "workdir"),
                      (0x20, "arguments"), (0x40, "icon")):
        if flags & bit:
            count = struct.unpack_from("<H", data, at)[0]
            width = 2 if unicode else 1
            raw = data[at + 2:at + 2 + count * width]
            strings[name] = raw.decode("utf-16-le" if unicode else "latin-1")
            at += 2 + count * width
    return target, strings.get("arguments", "")


class Run:
    """The installer's trace as it arrives, with a screenshot taken once the
    trace matches a condition."""

    def __init__(self, proc, xvfb_or_display, shot, when):
        self.proc = proc
        self.trace = bytearray()
        self.shot = shot
        self.when = when
        self.display = xvfb_or_display
        self.taken = False
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for chunk in iter(lambda: self.proc.stdout.read1(4096), b""):
            self.trace += chunk
            if not self.taken and self.when(bytes(self.trace)):
                self.taken = True
                time.sleep(0.3)  # let the paint land
                subprocess.run(["import", "-display", self.display, "-window", "root",
                                str(self.shot)], timeout=30)

    def wait(self, timeout):
        self.proc.wait(timeout)
        self.reader.join(10)
        return bytes(self.trace)


def last_percent(trace):
    parts = trace.rsplit(b"\npercent=", 1)
    return int(parts[1].split(b"\n")[0]) if len(parts) == 2 else -1


REPORT = re.compile(rb"loading_step=(\d+)\npercent=(-?\d+)\n[^\n]*\n")
PAINT = re.compile(rb"\nwidth=\d+")


def readable(trace):
    """The trace with each run of progress reports folded into one line that
    says how the overall percentage moved; the paints' widths are counted
    (the GUI thread writes them between the worker's lines)."""
    paints = len(PAINT.findall(trace))
    trace = PAINT.sub(b"", trace)
    out, at = [], 0
    for run in re.finditer(rb"(?:" + REPORT.pattern + rb")+", trace):
        out.append(trace[at:run.start()].decode("gbk", "replace"))
        for stage, group in itertools.groupby(REPORT.findall(run.group()), lambda r: r[0]):
            group = list(group)
            out.append(f"[stage {stage.decode()}: {len(group)} progress reports, "
                       f"percent {int(group[0][1])} -> {int(group[-1][1])}]\n")
        at = run.end()
    out.append(trace[at:].decode("gbk", "replace"))
    out.append(f"\n[{paints} paints of the bar]")
    return "".join(out)


def tree(root):
    lines = []
    for path in sorted(root.rglob("*")):
        rel = path.relative_to(root)
        size = "" if path.is_dir() else f"  ({path.stat().st_size} bytes)"
        lines.append("    " + "  " * (len(rel.parts) - 1) + rel.name + ("/" if path.is_dir() else "") + size)
    return "\n".join(lines)


def main():
    if not (BUILD / "QorvInstall.exe").exists():
        sys.exit(f"{BUILD.relative_to(REPO)}/QorvInstall.exe is missing: run `make demo`")
    road = subprocess.run([REPO / "tools" / "windows-road.sh", "--why"], capture_output=True,
                          text=True, check=True).stdout.strip()
    print(f"== {BUILD.relative_to(REPO)}/QorvInstall.exe; {road}", flush=True)
    resource_url, account_url = harness.build_urls()
    OUT.mkdir(parents=True, exist_ok=True)
    pkg = OUT / "rc" / "pkg"
    pkg.mkdir(parents=True, exist_ok=True)
    build_packages(pkg)
    (OUT / "answer.json").write_text(ANSWER)
    login_log = OUT / "login.log"
    login_log.unlink(missing_ok=True)
    for name in ("screenshot-mid-download.png", "screenshot-before-closing.png"):
        (OUT / name).unlink(missing_ok=True)

    started = []
    servers = []

    def stop_all(*_):
        for stop in reversed(servers):
            stop()
        servers.clear()

    signal.signal(signal.SIGTERM, lambda *a: (stop_all(), sys.exit(1)))
    try:
        display = harness.environ_display()
        if display is None:
            xvfb = harness.Xvfb("1024x768x24").__enter__()
            servers.append(lambda: xvfb.__exit__(None, None, None))
            display = xvfb.display
        wine = harness.Wine(display, prefix=OUT / f"wine-prefix-{harness.wine_arch(BUILD)}")
        servers.append(wine.stop)
        wine.use_cjk_dialog_font()
        nginx = harness.Nginx(OUT / "rc", harness.url_port(resource_url), THROTTLE).__enter__()
        servers.append(lambda: nginx.__exit__(None, None, None))
        account = subprocess.Popen(
            [sys.executable, str(REPO / "tests" / "servers" / "account_server.py"),
             str(harness.url_port(account_url)), str(OUT / "answer.json"), str(login_log)],
            stdout=subprocess.DEVNULL)
        servers.append(lambda: harness.stop(account))
        harness.wait_for_port(harness.url_port(account_url))

        install_dir = wine.local_appdata() / "tovrine" / "qorv"
        shutil.rmtree(install_dir.parent, ignore_errors=True)
        for args in install_dir.rglob("*.args"):
            args.unlink()
        traces = []
        for name, shot, when in (
                ("QorvInstall.exe", "screenshot-mid-download.png",
                 lambda t: 12 <= last_percent(t) < 33),
                (TOKEN_NAME, "screenshot-before-closing.png",
                 lambda t: b"loading_step=3" in t and last_percent(t) >= 85)):
            exe = OUT / name
            shutil.copy(BUILD / "QorvInstall.exe", exe)
            print(f"== running {name} under Wine ...", flush=True)
            run = Run(wine.start(exe), display, OUT / shot, when)
            traces.append((name, run.wait(300)))
        # The stand-ins show their window for a few seconds; let them finish.
        harness.wait_until(lambda: not {"qorv.exe", "kel_qorvmicro.exe"} & wine.processes(),
                           60, 0.5)
        # Version 2 of the client changes one file: the update fetches only
        # that entry, by ranges, and nginx's log tells how many bytes it took.
        (OUT / "content" / "client" / "assets" / "config.ini").write_text(
            "[client]\r\nlanguage=de\r\n")
        subprocess.run([REPO / "tools" / "qorv-pack", OUT / "content" / "client",
                        pkg / "GameClient.zip", pkg / "pkg.ver"], check=True,
                       stdout=subprocess.DEVNULL)
        nginx.access_log.write_text("")
        print(f"== running {TOKEN_NAME} under Wine: client version 2, one file changed ...",
              flush=True)
        update = Run(wine.start(OUT / TOKEN_NAME), display, None, lambda t: False)
        traces.append((f"{TOKEN_NAME} (update)", update.wait(300)))
        fetched = nginx.bytes_sent("/rc/pkg/GameClient.zip")
        package = (pkg / "GameClient.zip").stat().st_size
        harness.wait_until(lambda: not {"qorv.exe", "kel_qorvmicro.exe"} & wine.processes(),
                           60, 0.5)
        for args in sorted(install_dir.rglob("*.args")):
            for line in args.read_text(encoding="utf-8").splitlines():
                started.append(line)

        print("\n== install directory", install_dir.relative_to(wine.prefix))
        print(tree(install_dir))
        print("\n== uninstall entry (HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\"
              "Uninstall\\QorvInstall)")
        values = wine.cmd("reg", "query", "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion"
                          "\\Uninstall\\QorvInstall").decode("utf-8", "replace")
        for line in values.splitlines():
            if "REG_" in line:
                print("   ", line.strip())
        link = wine.desktop() / "Orvanta.lnk"
        print("\n== desktop shortcut", link.name)
        if link.exists():
            target, arguments = read_shortcut(link)
            print(f"    target:    {target}\n    arguments: {arguments}")
        else:
            print("    (missing)")
        print("\n== login requests")
        for line in login_log.read_text().splitlines():
            print("   ", line)
        print("\n== started command lines")
        for line in started:
            print("   ", line)
        for name, trace in traces:
            print(f"\n== trace of {name}")
            print(readable(trace))
        print(f"\n== client update: {fetched} bytes of GameClient.zip served "
              f"({package} bytes in all)")
        print("\n== screenshots")
        for shot in ("screenshot-mid-download.png", "screenshot-before-closing.png"):
            path = OUT / shot
            print(f"    {path.relative_to(REPO)}" + ("" if path.exists() else " (not taken)"))
        ok = len(started) == 3 and fetched < package // 2 and all((OUT / s).exists() for s in (
            "screenshot-mid-download.png", "screenshot-before-closing.png"))

        command = wine.uninstall_command()
        print("\n== uninstall: the registered command, run silently")
        print(f"    {command} /S")
        result = wine.run(harness.WINCTL, "run", f"{command} /S")
        harness.wait_until(lambda: not any("uninstall" in p for p in wine.processes()), 30, 0.5)
        for line in result.stdout.decode("gbk", "replace").splitlines():
            print("   ", line)
        gone = {"install directory": not install_dir.exists(), "desktop shortcut": not link.exists(),
                "uninstall entry": wine.uninstall_command() is None}
        print(f"    exit code {result.returncode}; " + "; ".join(
            f"{item}: {'gone' if away else 'STILL THERE'}" for item, away in gone.items()))
        return 0 if ok and result.returncode == 0 and all(gone.values()) else 1
    finally:
        stop_all()


if __name__ == "__main__":
    sys.exit(main())
