#!/usr/bin/env python3
"""Runs QorvInstall.exe under Wine against local servers and reports what it
did: first as built (no token: the shell is installed and started), then
renamed to carry a token (the version check, the game client, the login and
the game client's start); then each failure the player can meet, provoked
by its real cause, with the text the window's status box shows; last it
runs the registered uninstall command silently and shows what is gone.
Screenshots go to build/demo/."""

import contextlib
import itertools
import os
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
from e2e import harness, installer  # noqa: E402

BUILD = harness.WINDOWS_BUILD
OUT = REPO / "build" / "demo"
TOKEN_NAME = "QorvInstall-demo-DEMO2026.exe"
ANSWER = '{"errno":0,"query_string":"session=demo&region=eu"}'
THROTTLE = "1m"  # bytes per second, so the bar is seen moving
STATUS_CONTROL = 1002  # the view's status box
# What the status box says for each cause of a stop, as the README lists it.
FAILURE_TEXTS = {
    "download": re.escape("下载失败，请检查网络后点击窗口继续。"),
    "unpack": re.escape("安装未能完成，请点击窗口重试。"),
    "file in use": re.escape("游戏文件正在使用中，请关闭游戏后点击窗口继续。"),
    "disk space": "磁盘空间不足，还需要 [1-9][0-9]* MB，请释放空间后点击窗口继续。",
    "program will not start": re.escape("程序无法启动，请点击窗口重试。"),
}


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


@contextlib.contextmanager
def served(pkg, files):
    """For the time of the block the package folder serves files ({name:
    bytes, or None for no such file}) in place of its own."""
    kept = []
    try:
        for name, data in files.items():
            path = pkg / name
            if path.exists():
                path.rename(pkg / (name + ".kept"))
                kept.append(name)
            if data is not None:
                path.write_bytes(data)
        yield
    finally:
        for name in files:
            (pkg / name).unlink(missing_ok=True)
        for name in kept:
            (pkg / (name + ".kept")).rename(pkg / name)


def show_failure(wine, exe, expected):
    """Runs the installer at exe until its status box shows a text that
    matches expected, then closes its window as another program would.
    Returns the text last shown there and the trace's last line naming a
    failure."""
    proc = wine.start(exe)
    run = Run(proc, None, None, lambda t: False)
    shown = [""]

    def matches():
        for window in wine.windows(exe.name):
            shown[0] = wine.texts(window["hwnd"]).get(STATUS_CONTROL, shown[0])
        return re.fullmatch(expected, shown[0]) is not None

    # Asked only once the installer traces, so its window is up: two Wine
    # programs that start together may both start a desktop, and hang.
    harness.wait_until(lambda: run.trace or proc.poll() is not None, 60)
    harness.wait_until(lambda: matches() or proc.poll() is not None, 90, 0.5)
    for window in wine.windows(exe.name):
        if int(window["owner"], 16) == 0:
            wine.post(window["hwnd"], harness.WM_CLOSE)
    try:
        trace = run.wait(30)
    except subprocess.TimeoutExpired:
        wine.stop()
        trace = run.wait(30)
        wine.warm()
    failures = re.findall(r"(?:下载|解压|启动)失败[^\r\n]*", trace.decode("gbk", "replace"))
    return shown[0], failures[-1] if failures else "(no failure traced)"


@contextlib.contextmanager
def small_volume(folder, content):
    """folder, for the block, a tmpfs holding a copy of content with about
    1 MiB to spare."""
    used = sum(-(-path.stat().st_size // 4096) * 4 for path in content.rglob("*")
               if path.is_file())
    subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={used + 1024}k", "qorv-demo", folder],
                   check=True)
    try:
        shutil.copytree(content, folder, symlinks=True, dirs_exist_ok=True)
        yield
    finally:
        # Lazily: the wineserver may keep a handle a moment longer.
        subprocess.run(["umount", "--lazy", folder], check=True)


def show_failures(wine, pkg, install_dir, private):
    """Each cause of a stop provoked once after the main job, from its install:
    the lines "<cause>: <status text>" with the trace's failure line, and
    whether every text provoked was the expected one. The packages served
    and the install are as the main job left them afterwards. private: the
    demo runs in a mount namespace of its own, where it may mount."""
    snapshot = OUT / "installed"
    shutil.rmtree(snapshot, ignore_errors=True)
    shutil.copytree(install_dir, snapshot, symlinks=True)
    # Version 3 adds 2 MiB and changes config.ini: too much for a client
    # folder with 1 MiB to spare, and an update that must replace a file.
    content = OUT / "content" / "client-3"
    shutil.rmtree(content, ignore_errors=True)
    shutil.copytree(OUT / "content" / "client", content)
    (content / "assets" / "config.ini").write_text("[client]\r\nlanguage=fr\r\n")
    (content / "assets" / "maps" / "extra.dat").write_bytes(deterministic_bytes(2 << 20, 3))
    (OUT / "v3").mkdir(exist_ok=True)
    subprocess.run([REPO / "tools" / "qorv-pack", content, OUT / "v3" / "GameClient.zip",
                    OUT / "v3" / "pkg.ver"], check=True, stdout=subprocess.DEVNULL)
    version_3 = {name: (OUT / "v3" / name).read_bytes() for name in ("GameClient.zip", "pkg.ver")}
    # Hand-made, as the kit refuses both.
    refused, broken = OUT / "v3" / "refused.zip", OUT / "v3" / "broken.zip"
    installer.make_zip(refused, {"assets/bad:name.dat": b"a name Windows refuses\r\n"})
    installer.make_zip(broken, {"kel_qorvmicro.exe": b"not a program\r\n"})
    plain, tokened = OUT / "QorvInstall.exe", OUT / TOKEN_NAME
    config = install_dir / "GameClient" / "assets" / "config.ini"

    @contextlib.contextmanager
    def locked(path):
        windows_path = "C:\\" + str(path.relative_to(wine.prefix / "drive_c")).replace("/", "\\")
        holder = wine.start(harness.WINCTL, "lock", windows_path, 120)
        try:
            if holder.stdout.readline().strip() != b"locked":
                raise RuntimeError(f"could not lock {path}")
            yield
        finally:
            harness.stop(holder)
            holder.communicate()

    refused = {"GameClient.zip": refused.read_bytes(), "pkg.ver": b"demo-refused-name"}
    broken = {"GameClient.zip": broken.read_bytes(), "pkg.ver": b"demo-not-a-program"}
    # The cause, the installer's name, what the server serves and what else
    # holds during the run.
    none = contextlib.nullcontext
    cases = [
        ("download", plain, {"shell.zip": None}, none()),
        ("unpack", tokened, refused, none()),
        ("file in use", tokened, version_3, locked(config)),
        ("disk space", tokened, version_3,
         small_volume(install_dir / "GameClient", snapshot / "GameClient") if private else None),
        ("program will not start", tokened, broken, none()),
    ]
    print("\n== failure texts: each cause once, as the status box shows it", flush=True)
    all_seen = True
    for cause, exe, packages, holding in cases:
        if holding is None:
            print(f"    {cause}: not shown: a small volume behind the client folder is a tmpfs "
                  "in a mount namespace of the demo's own, which takes root", flush=True)
            continue
        with served(pkg, packages), holding:
            text, failure = show_failure(wine, exe, FAILURE_TEXTS[cause])
        # Every run starts from the main job's install, and the uninstall
        # finds it.
        shutil.rmtree(install_dir)
        shutil.copytree(snapshot, install_dir, symlinks=True)
        seen = re.fullmatch(FAILURE_TEXTS[cause], text) is not None
        all_seen &= seen
        print(f"    {cause}: {text or '(empty)'}" + ("" if seen else "  (NOT the expected text)"))
        print(f"        trace: {failure}", flush=True)
    shutil.rmtree(snapshot)
    return all_seen


def main():
    if not (BUILD / "QorvInstall.exe").exists():
        sys.exit(f"{BUILD.relative_to(REPO)}/QorvInstall.exe is missing: run `make demo`")
    # Where one can be made (as root), the demo runs in a mount namespace of
    # its own: the small volume it mounts is seen by nobody else and goes
    # with the demo, however it ends.
    private = os.environ.get("QORV_DEMO_MOUNTS") == "private"
    if not private and subprocess.run(["unshare", "-m", "true"],
                                      stderr=subprocess.DEVNULL).returncode == 0:
        os.environ["QORV_DEMO_MOUNTS"] = "private"
        sys.stdout.flush()
        os.execvp("unshare", ["unshare", "-m", "--propagation", "private", sys.executable,
                              str(Path(__file__).resolve()), *sys.argv[1:]])
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
        ok &= show_failures(wine, pkg, install_dir, private)

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
