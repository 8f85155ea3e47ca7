#!/usr/bin/env python3
"""make bench: download, unpack, end to end, start-up and footprint of the
installer, each against its peers measured in the same run, its delivery
against the installer of before delivery by changes (BEFORE), and a patch
day of 100 players through the reference edge and through one keyed as
nginx keys by default.

usage: bench/bench.py [RUNS]   (default 5, at least 5)
       bench/bench.py --cdn    (the patch day alone: its table, no RESULTS.md)
       bench/bench.py --closes (the closes section alone: its table, no RESULTS.md)

Needs the release build (build/release) and the Windows build of this host's
road (build/win32, or build/win64 where 32-bit code cannot run) with its
bench programs; `make bench` builds both first, and this builds BEFORE's
installer from the repository's history. The corpus (bench/corpus.py)
is served by nginx on the resource server's port of that build, the scripted
account server listens on its account port, and the Windows programs run in
that build's Wine prefix on a private Xvfb.
Contenders alternate who goes first; every figure is the median of the runs
with their min-max. Writes bench/RESULTS.md and bench/ratios.png."""

import contextlib
import math
import os
import platform
import random
import shutil
import statistics
import subprocess
import sys
import threading
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests"))
sys.path.insert(0, str(REPO / "bench"))
sys.path.insert(0, str(REPO / "tests" / "native"))
import cdn_test  # noqa: E402
import corpus  # noqa: E402
from e2e import harness, installer  # noqa: E402
from e2e.harness import winpath  # noqa: E402

RELEASE = REPO / "build" / "release"
WINDOWS = harness.WINDOWS_BUILD
WORK = RELEASE / "bench"
OUT = WORK / "out"
MIB = 1 << 20
TOKEN_NAME = "QorvInstall-b-TOKEN42.exe"
CLIENT = "GameClient/kel_qorvmicro.exe"
TIMEOUT = 600  # seconds for any one run; a hung contender ends the bench
# The other shapes of package: label, maker, archive name.
SHAPES = (("100 000 tiny files", corpus.ensure_tiny, "tiny.zip"),
          ("4 x 50 MiB", corpus.ensure_large, "large.zip"))
# The main of before delivery by changes: it downloads the whole shell
# package on every run and starts a cut download again from zero. The
# delivery section's "before".
BEFORE = "1f1a51169430bd775b3cf60c51203168280c61f9"
# The main of before closes went to a pool of threads: each extracted file
# is closed on the extracting thread, and the apply flushes the staged files
# by path in one batch. The closes section's "before", built with the same
# wait per close as now (CLOSE_SEAM).
CLOSES_BEFORE = "50122dcad9553deb8e5e5357738f82e4722d7e1e"
CLOSE_DELAY_MS = "5"  # a virus scanner's wait at every close of a new file
# CLOSES_BEFORE's close of an extracted file, and the same with the wait the
# native file layer now reads from QORV_CLOSE_DELAY_MS.
CLOSE_AT = "bool TargetFile::Commit() {\n    close(m_descriptor);"
CLOSE_SEAM = """bool TargetFile::Commit() {
    static const long closeDelay = [] {
        const char* value = getenv("QORV_CLOSE_DELAY_MS");
        return value != nullptr ? strtol(value, nullptr, 10) : 0L;
    }();
    if (closeDelay > 0 && closeDelay < 1000) usleep(static_cast<useconds_t>(closeDelay * 1000));
    close(m_descriptor);"""
SHELL_PATH, CLIENT_PATH = "/rc/pkg/shell.zip", "/rc/pkg/GameClient.zip"
THROTTLE = "4m"  # nginx's limit_rate for the delivery's slow link: 4 MiB/s
# The delivery's runs: up to date over loopback, up to date over the slow
# link, and after a kill at half of a whole client download.
DELIVERY_CASES = ("up to date", "up to date, 4 MiB/s", "after a kill at half")
# The patch day: players, how many run at once, and the edges it goes through.
CDN_PLAYERS, CDN_THREADS = 100, 8
CDN_EDGES = (("reference edge", False), ("default cache key", True))
CDN_ROUNDS = ("first installs", "update", "up to date")


class Sample:
    def __init__(self, seconds, rss_kib, client=None, paint=None, client_stage=None):
        self.seconds = seconds  # process start to its exit
        self.rss_kib = rss_kib  # the process's peak resident set
        self.client = client  # process start to the stand-in client's .args
        self.paint = paint  # process start to the first "\nwidth=" trace
        self.client_stage = client_stage  # process start to the first "loading_step=3"
        self.served = {}  # bytes nginx sent for a package path in the run, where counted


def measure(command, env=None, args_file=None, trace=False):
    """Runs command to its end and times it from just before it is started.
    The peak RSS is that of the process itself: under Wine the `wine`
    launcher execs the loader, so it is the Windows program's own process. With args_file, also waits for that file to appear (bounded) and
    notes when it did; with trace, reads stdout as it comes and notes when
    "\\nwidth=" first arrived (the installer writes its traces unbuffered)."""
    seen = {}
    rss_file = WORK / "rss.out"
    start = time.perf_counter()
    # GNU time reports the RSS: a child forked from this interpreter would
    # count the interpreter's pages too.
    proc = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", rss_file, *command], env=env,
                            stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE if trace else subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    reader = None
    if trace:
        def read():
            data = b""
            while chunk := os.read(proc.stdout.fileno(), 65536):
                data += chunk
                if "paint" not in seen and b"\nwidth=" in data:
                    seen["paint"] = time.perf_counter() - start
                if "client stage" not in seen and b"loading_step=3" in data:
                    seen["client stage"] = time.perf_counter() - start
            seen["trace"] = data
        reader = threading.Thread(target=read, daemon=True)
        reader.start()
    ended = None
    while True:
        if args_file is None:
            pid, status, usage = os.wait4(proc.pid, 0)
        else:
            pid, status, usage = os.wait4(proc.pid, os.WNOHANG) if ended is None else (0, 0, None)
        now = time.perf_counter() - start
        if pid:
            ended = (now, status, usage)
        if args_file is not None and "client" not in seen and args_file.exists():
            seen["client"] = now
        if ended and (args_file is None or "client" in seen or now > ended[0] + 30):
            break
        if now > TIMEOUT:
            proc.kill()
            proc.wait()
            sys.exit(f"{command[0]} {command[1]} did not end within {TIMEOUT} s")
        time.sleep(0.002)
    seconds, status, usage = ended
    proc.returncode = os.waitstatus_to_exitcode(status)
    if reader:
        reader.join(30)
        proc.stdout.close()
    if args_file is None and proc.returncode != 0:
        sys.exit(f"{' '.join(map(str, command))} failed ({proc.returncode})")
    if args_file is not None and "client" not in seen:
        tail = seen.get("trace", b"")[-400:]
        sys.exit(f"{command[1]} never started the client; its trace ended with {tail!r}")
    rss_kib = int(rss_file.read_text().split()[-1])
    return Sample(seconds, rss_kib, seen.get("client"), seen.get("paint"),
                  seen.get("client stage"))


def alternate(runs, contenders, prepare, done=None):
    """contenders: {name: command builder}. Each run starts at the next
    contender, so none is always first after the others' writes; prepare()
    makes each contender's start state (not timed), done(name, sample), when
    given, notes what the run left behind. Returns {name: [Sample]}."""
    results = {name: [] for name in contenders}
    names = list(contenders)
    for run in range(runs):
        for name in names[run % len(names):] + names[:run % len(names)]:
            command, options = prepare(name)
            subprocess.run(["sync"])
            results[name].append(measure(command, **options))
            if done:
                done(name, results[name][-1])
    return results


def fresh(folder):
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    return folder


def unpack_folder():
    """Where the unpackers write: a tmpfs when /dev/shm is one with room. On a
    journal-less ext4 (this machine's disk) creating a file within 30 s of
    deleting many others costs a scan over the deleted inodes: emptying the
    folder of the run before added some 2 s of kernel time to every contender
    and most of their spread, and no unpacker can avoid it. Elsewhere the
    build folder."""
    shm = Path("/dev/shm")
    with open("/proc/self/mounts") as mounts:
        tmpfs = any(line.split()[1:3] == [str(shm), "tmpfs"] for line in mounts)
    if tmpfs and os.access(shm, os.W_OK) and shutil.disk_usage(shm).free > 2 << 30:
        return shm / f"qorv-bench-{os.getpid()}"
    return OUT / "unpack"


def bench_unpack(runs, archive, wine_env, folder):
    print("unpack ...", flush=True)
    native = {
        "qorv-unzip": lambda d: [RELEASE / "qorv-unzip", archive, d],
        "unzip": lambda d: ["unzip", "-o", "-q", archive, "-d", d],
        "bsdtar": lambda d: ["bsdtar", "-xf", archive, "-C", d],
        "minimal loop": lambda d: [RELEASE / "zip-minimal-loop", archive, d],
        "qorv-unzip.exe (Wine)":
            lambda d: ["wine", WINDOWS / "qorv-unzip.exe", winpath(archive), winpath(d)],
        "minimal loop.exe (Wine)":
            lambda d: ["wine", WINDOWS / "bench" / "zip-minimal-loop.exe", winpath(archive),
                       winpath(d)],
    }

    def prepare(name):
        target = fresh(folder)
        env = wine_env if "Wine" in name else None
        return [str(part) for part in native[name](target)], {"env": env}
    return alternate(runs, native, prepare), native


def bench_shapes(runs, folder):
    """The native unpackers on the two other shapes of package (corpus.py)."""
    results = {}
    for shape, make, file_name in SHAPES:
        archive = make(str(WORK / file_name))
        print(f"unpack, {shape} ...", flush=True)
        contenders = {
            f"qorv-unzip, {shape}": [RELEASE / "qorv-unzip", archive],
            f"unzip, {shape}": ["unzip", "-o", "-q", archive, "-d"],
            f"minimal loop, {shape}": [RELEASE / "zip-minimal-loop", archive],
        }

        def prepare(name, contenders=contenders):
            target = fresh(folder)
            return [str(part) for part in contenders[name] + [target]], {}
        results.update(alternate(runs, contenders, prepare))
    return results


def bench_download(runs, url, https_url, wine_env):
    print("download ...", flush=True)
    target = OUT / "download" / "corpus.zip"
    contenders = {
        "curl": lambda: ["curl", "-s", "-o", target, url],
        "download routine (Wine)":
            lambda: ["wine", WINDOWS / "bench" / "qorv-download-bench.exe", url, winpath(target)],
        "download routine over HTTPS (Wine)":
            lambda: ["wine", WINDOWS / "bench" / "qorv-download-bench.exe", https_url,
                     winpath(target)],
        "WinINet loop (Wine)":
            lambda: ["wine", WINDOWS / "bench" / "wininet-minimal-loop.exe", url, winpath(target)],
        "empty program (Wine)": lambda: ["wine", WINDOWS / "bench" / "empty-program.exe"],
    }

    def prepare(name):
        fresh(target.parent)
        env = wine_env if "Wine" in name else None
        return [str(part) for part in contenders[name]()], {"env": env}
    results = alternate(runs, contenders, prepare)
    return results, contenders


def bench_end_to_end(runs, road, resource_url, folder):
    """Both contenders install into folder, the installer through a link in
    place of the prefix's tovrine folder (Wine sees a plain folder)."""
    print("end to end ...", flush=True)
    native_dir = folder / "end-to-end"
    tovrine = road.wine.local_appdata() / "tovrine"
    pkg = resource_url + "/pkg/"
    native = (f"curl -s -o {native_dir}/shell.zip {pkg}shell.zip && "
              f"unzip -o -q {native_dir}/shell.zip -d {native_dir} && "
              f"curl -s -o {native_dir}/GameClient.zip {pkg}GameClient.zip && "
              f"unzip -o -q {native_dir}/GameClient.zip -d {native_dir}/GameClient")
    contenders = {
        "QorvInstall.exe (Wine)": ["wine", str(road.installer(TOKEN_NAME))],
        "curl + unzip": ["sh", "-c", native],
    }
    version = [0]

    def prepare(name):
        if name == "curl + unzip":
            fresh(native_dir)
            return contenders[name], {}
        # A fresh install directory and a new version each run: the whole road.
        road.reset()
        tovrine.unlink(missing_ok=True)
        tovrine.symlink_to(fresh(folder / "tovrine"))
        version[0] += 1
        (road.packages / "pkg.ver").write_text(f"bench {version[0]}\r\n", newline="")
        return contenders[name], {"env": road.wine.env, "trace": True,
                                  "args_file": road.install_dir / (CLIENT + ".args")}
    try:
        results = alternate(runs, contenders, prepare)
    finally:
        tovrine.unlink(missing_ok=True)
    return results, contenders, native


def stats(values):
    return statistics.median(values), min(values), max(values)


@contextlib.contextmanager
def https_mirror(road):
    """The road's package folder served again over HTTPS by nginx, with a
    certificate from a throwaway CA the road's Wine prefix trusts; yields
    its base URL."""
    ca = harness.TestCa(road.work / "ca")
    road.wine.trust_root(ca)
    port = harness.free_port()
    try:
        with harness.Nginx(road.work / "rc", port, tls=ca.issue("127.0.0.1", "127.0.0.1")):
            yield f"https://127.0.0.1:{port}/rc"
    finally:
        road.wine.distrust_root(ca)


def publish_packages(road, archive):
    """corpus.zip as is, the shell package with the stand-in shell, and the
    game client package: the corpus plus the stand-in client at its root."""
    (road.packages / "corpus.zip").symlink_to(archive)
    installer.shell_package(road.packages / "shell.zip")
    client = road.packages / "GameClient.zip"
    shutil.copy(archive, client)
    stand_in = installer.STUBS / "client" / "kel_qorvmicro.exe"
    subprocess.run(["zip", "-q", "-j", client, stand_in], check=True)


def machine_facts():
    def out(*command):
        try:
            return subprocess.run(command, capture_output=True, text=True).stdout.strip()
        except OSError:
            return "(not available)"
    model = [line.split(":", 1)[1].strip() for line in out("lscpu").splitlines()
             if line.startswith("Model name")]
    memory = out("free", "-m").splitlines()
    return [
        ("nproc", out("nproc")),
        ("lscpu model", model[0] if model else "?"),
        ("free -m (Mem: total used free shared buff/cache available)",
         memory[1] if len(memory) > 1 else "?"),
        ("uname -srmo", out("uname", "-srmo")),
        ("wine", out("wine", "--version")),
        ("curl", out("curl", "--version").splitlines()[0]),
        ("unzip", out("unzip", "-v").splitlines()[0]),
        ("bsdtar", out("bsdtar", "--version")),
        ("python", platform.python_version()),
    ]


def bench_update(runs, road):
    """The client update of tests/e2e/test_incremental_update.py (50 MiB, 200
    files, two of them changed): by ranges, and by the whole download the same
    change takes without the install state."""
    from e2e import test_incremental_update as scenario
    print("client update ...", flush=True)
    versions = {version: OUT / f"client-{version}.zip" for version in (1, 2)}
    for version, path in versions.items():
        scenario.client(path, version)
    contenders = {"incremental update (Wine)": ["wine", str(road.installer(TOKEN_NAME))],
                  "whole update (Wine)": ["wine", str(road.installer(TOKEN_NAME))]}

    def publish(version):
        shutil.copy(versions[version], road.packages / "GameClient.zip")
        (road.packages / "pkg.ver").write_text(f"update {version}\r\n", newline="")

    def prepare(name):
        # Version 1 installed (not timed), then the change to version 2.
        road.reset()
        publish(1)
        road.run(TOKEN_NAME)
        (road.install_dir / (CLIENT + ".args")).unlink()
        publish(2)
        if name == "whole update (Wine)":
            (road.install_dir / "GameClient.state").unlink()
        return contenders[name], {"env": road.wine.env, "trace": True,
                                  "args_file": road.install_dir / (CLIENT + ".args")}
    results = alternate(runs, contenders, prepare)
    # The update is the client stage: from its first trace to the client's
    # start. Wine's start, the shell stage and the version check cost both
    # contenders the same and would hide the difference on a local server.
    for samples in results.values():
        for sample in samples:
            sample.seconds = sample.client - sample.client_stage
    return results


def build_before():
    """BEFORE's installer for this host's road, from the repository's history,
    configured with the Windows build's base URLs (so that it talks to the
    same servers) and its Windows libraries; returns the program."""
    print("the installer of before ...", flush=True)
    source = REPO / "build" / f"bench-before-{BEFORE[:7]}"
    if not source.exists():
        partial = source.with_name(source.name + ".part")
        fresh(partial)
        archive = subprocess.run(["git", "-C", REPO, "archive", BEFORE], check=True,
                                 stdout=subprocess.PIPE).stdout
        subprocess.run(["tar", "-x", "-C", partial], input=archive, check=True)
        partial.rename(source)
    keys = ("QORV_RESOURCE_BASE_URL", "QORV_ACCOUNT_BASE_URL", "QORV_DEPS_PREFIX")
    settings = [f"-D{key}={value}" for key, value in zip(keys, harness.build_settings(*keys))]
    road = WINDOWS.name
    for command in (["cmake", "--preset", road, *settings],
                    ["cmake", "--build", "--preset", road, "--target", "QorvInstall"]):
        subprocess.run(command, cwd=source, check=True, stdout=subprocess.DEVNULL)
    return source / "build" / road / "QorvInstall.exe"


def build_closes_before():
    """CLOSES_BEFORE's qorv-unzip, release build, with the same wait per close
    as now; returns the program."""
    print("the unpacker of before the close pool ...", flush=True)
    source = REPO / "build" / f"bench-closes-{CLOSES_BEFORE[:7]}"
    if not source.exists():
        partial = source.with_name(source.name + ".part")
        fresh(partial)
        archive = subprocess.run(["git", "-C", REPO, "archive", CLOSES_BEFORE], check=True,
                                 stdout=subprocess.PIPE).stdout
        subprocess.run(["tar", "-x", "-C", partial], input=archive, check=True)
        posix = partial / "src" / "services" / "FileSystemPosix.cpp"
        text = posix.read_text()
        if CLOSE_AT not in text:
            sys.exit(f"{CLOSES_BEFORE[:7]}: no close to add the wait to")
        posix.write_text("#include <cstdlib>\n" + text.replace(CLOSE_AT, CLOSE_SEAM))
        partial.rename(source)
    for command in (["cmake", "--preset", "release"],
                    ["cmake", "--build", "--preset", "release", "--target", "qorv-unzip"]):
        subprocess.run(command, cwd=source, check=True, stdout=subprocess.DEVNULL)
    return source / "build" / "release" / "qorv-unzip"


def bench_closes(runs, archive, folder, before):
    """Closes on the extracting thread (CLOSES_BEFORE) against the pool: with
    a scanner's wait on every close on the corpus, and without one on the
    tiny files; then what flushing the staged files costs, on the tmpfs and
    on the build folder's disk (zip-stage-loop)."""
    delayed = dict(os.environ, QORV_CLOSE_DELAY_MS=CLOSE_DELAY_MS)
    tiny = corpus.ensure_tiny(str(WORK / "tiny.zip"))
    disk = OUT / "stage"
    contenders = {
        f"qorv-unzip, {CLOSE_DELAY_MS} ms a close": ([RELEASE / "qorv-unzip", archive], delayed),
        f"before, {CLOSE_DELAY_MS} ms a close": ([before, archive], delayed),
        "now, 100 000 tiny files": ([RELEASE / "qorv-unzip", tiny], None),
        "before, 100 000 tiny files": ([before, tiny], None),
        "minimal loop beside before, 100 000 tiny files": ([RELEASE / "zip-minimal-loop", tiny], None),
    }
    for mode in ("plain", "pool", "batch"):
        for where, target in (("tmpfs", folder), ("disk", disk)):
            contenders[f"staging {mode}, {where}"] = (
                [RELEASE / "zip-stage-loop", archive, "TARGET", mode], None, target)
    results = {}
    for group in ("a close", "tiny files", "staging"):
        chosen = {name: c for name, c in contenders.items() if group in name}
        print(f"closes, {group} ...", flush=True)

        def prepare(name, chosen=chosen):
            command, env, *where = chosen[name]
            target = fresh(where[0] if where else folder)
            parts = [str(target) if part == "TARGET" else str(part) for part in command]
            return parts + ([] if "TARGET" in command else [str(target)]), {"env": env}
        results.update(alternate(runs, chosen, prepare))
    shutil.rmtree(disk, ignore_errors=True)
    return results


def closes_table(closes):
    med = {name: stats([s.seconds for s in samples]) for name, samples in closes.items()}
    lines = ["| closes | median s | min-max s |", "|---|---:|---:|"]
    lines += [f"| {name} | {m:.3f} | {lo:.3f}-{hi:.3f} |" for name, (m, lo, hi) in med.items()]
    delay = CLOSE_DELAY_MS
    ratios = [
        (f"pool / closes on the extracting thread, {delay} ms a close",
         f"qorv-unzip, {delay} ms a close", f"before, {delay} ms a close", 0.35),
        ("qorv-unzip / minimal loop, 100 000 tiny files",
         "now, 100 000 tiny files", "minimal loop beside before, 100 000 tiny files", 1.0),
        ("before / minimal loop, 100 000 tiny files", "before, 100 000 tiny files",
         "minimal loop beside before, 100 000 tiny files", None),
    ]
    for where in ("tmpfs", "disk"):
        ratios += [(f"staging flushed on the pool / unflushed, {where}",
                    f"staging pool, {where}", f"staging plain, {where}", None),
                   (f"staging flushed by path after / unflushed, {where}",
                    f"staging batch, {where}", f"staging plain, {where}", None)]
    lines += ["", "| closes: ratio of medians | value | bar | verdict |", "|---|---:|---:|---|"]
    for label, top, bottom, bar in ratios:
        value = med[top][0] / med[bottom][0]
        verdict = "" if bar is None else ("met" if value <= bar else "NOT met")
        lines.append(f"| {label} | {value:.2f} | {'' if bar is None else f'<= {bar}'} "
                     f"| {verdict} |")
    return "\n".join(lines)


def delivery_packages(packages):
    """shell.zip of about 20 MiB as the kit makes it (the stand-in shell and
    our Uninstall.exe) with 60 incompressible files, GameClient.zip of 8 MiB
    with the stand-in client, and pkg.ver; returns the packages' sizes."""
    noise = random.Random(20240614)
    installer.shell_package(packages / "shell.zip", {
        f"data/pack{i:02}.dat": noise.randbytes(20 * MIB // 60) for i in range(60)})
    installer.client_package(packages / "GameClient.zip", {
        f"res/pack{i:02}.dat": noise.randbytes(MIB // 2) for i in range(16)})
    (packages / "pkg.ver").write_text("delivery 1\r\n", newline="")
    return tuple((packages / name).stat().st_size for name in ("shell.zip", "GameClient.zip"))


def kill_at_half(road, program):
    """Runs program until half of GameClient.zip is in its partial file, then
    ends every process of the prefix, as a sleeping PC would."""
    part = road.install_dir / "GameClient.zip.part"
    size = (road.packages / "GameClient.zip").stat().st_size
    proc = road.wine.start(program, stdout=subprocess.DEVNULL)
    try:
        if not harness.wait_until(lambda: part.exists() and part.stat().st_size >= size / 2,
                                  TIMEOUT, 0.05):
            sys.exit(f"{program} never had half of GameClient.zip")
    finally:
        road.wine.stop()
        proc.wait()
        road.wine.warm()


def bench_delivery(runs, road, before, folder):
    """The installers of BEFORE and of now with a token, each on an
    up-to-date install of its own (made once by that installer, not timed),
    over loopback and over a link throttled to 4 MiB/s, and each again after
    a run of its own on a fresh install was killed at half of the whole
    client download. Timed to the stand-in client's start; nginx's log gives
    the bytes of each package the run fetched. They install into folder
    through a link in place of the prefix's tovrine folder."""
    from e2e import test_incremental_update as scenario
    print("delivery ...", flush=True)
    sizes = delivery_packages(road.packages)
    programs = {"before": road.work / "before" / TOKEN_NAME, "now": road.installer(TOKEN_NAME)}
    programs["before"].parent.mkdir()
    shutil.copy(before, programs["before"])
    tovrine = road.wine.local_appdata() / "tovrine"
    args_file = road.install_dir / (CLIENT + ".args")
    options = {"env": road.wine.env, "trace": True, "args_file": args_file}

    def use(target):
        tovrine.unlink(missing_ok=True)
        tovrine.symlink_to(target)
        args_file.unlink(missing_ok=True)

    def contenders(case):
        return {f"{who}, {case}": ["wine", str(program)] for who, program in programs.items()}
    loopback, slow, killed = map(contenders, DELIVERY_CASES)
    commands = loopback | slow | killed

    def prepare(name):
        who = name.split(",")[0]
        if name in killed:
            use(fresh(folder / "delivery" / "killed"))
            with scenario.serving(road, limit_rate=THROTTLE):
                kill_at_half(road, programs[who])
        else:
            use(installs[who])
        road.clear_logs()
        return commands[name], options

    def count(name, sample):
        sample.seconds = sample.client
        sample.served = {path: road.nginx.bytes_sent(path) for path in (SHELL_PATH, CLIENT_PATH)}

    road.reset()  # the sections before leave a real folder there
    installs = {who: fresh(folder / "delivery" / who) for who in programs}
    try:
        for who, program in programs.items():
            use(installs[who])
            measure(["wine", str(program)], **options)
        results = alternate(runs, loopback, prepare, count)
        with scenario.serving(road, limit_rate=THROTTLE):
            results |= alternate(runs, slow, prepare, count)
        results |= alternate(runs, killed, prepare, count)
    finally:
        tovrine.unlink(missing_ok=True)
    return results, sizes


def cdn_releases(folder):
    """Version 1 (a shell of 2 MiB, a client of 12 MiB in 24 files) and
    version 2 (one shell file and four client files changed), made as the
    cdn test makes them; returns both and the bytes of the distinct
    packages."""
    noise = random.Random(20240628)
    shell = {"Qorv.exe": b"MZ shell", **{f"data/s{i}.dat": noise.randbytes(MIB // 4)
                                         for i in range(8)}}
    client = {"kel_qorvmicro.exe": b"MZ client", **{f"res/c{i:02}.dat": noise.randbytes(MIB // 2)
                                                    for i in range(24)}}
    v1 = cdn_test.make_release(folder / "v1", shell, client)
    shell["data/s3.dat"] = noise.randbytes(MIB // 4)
    for i in (2, 9, 15, 20):
        client[f"res/c{i:02}.dat"] = noise.randbytes(MIB // 2)
    v2 = cdn_test.make_release(folder / "v2", shell, client)
    distinct = sum((release / "pkg" / name).stat().st_size
                   for release in (v1, v2) for name in cdn_test.PACKAGES)
    return v1, v2, distinct


def bench_cdn():
    """The patch day of tests/native/cdn_test.py with 100 players, 8 at a
    time, through each edge in front of an origin nginx: first installs
    (every tenth cut off at half its client and run again), the update
    published by qorv-publish through the edge, then up-to-date runs. Per
    edge: the origin's package bytes over the whole day, the exact players,
    pkg.ver's origin requests and the players' times per round."""
    print("patch day through an edge ...", flush=True)
    program = RELEASE / "qorv-rehearse"
    folder = fresh(WORK / "cdn")
    v1, v2, distinct = cdn_releases(folder)
    kill_after = (v1 / "pkg" / "shell.zip").stat().st_size + \
        (v1 / "pkg" / "GameClient.zip").stat().st_size // 2
    results = {"distinct": distinct}
    try:
        for label, default_key in CDN_EDGES:
            root = fresh(folder / "origin")
            players = folder / "players"
            shutil.rmtree(players, ignore_errors=True)
            origin_port, edge_port = harness.free_port(), harness.free_port()
            edge_url = f"http://127.0.0.1:{edge_port}/rc"
            with harness.Nginx(root, origin_port) as origin, \
                    harness.Edge(edge_port, origin_port, default_key) as edge:
                subprocess.run([REPO / "tools" / "qorv-publish", v1, root], check=True,
                               stdout=subprocess.DEVNULL)
                rounds = []
                for name, release, options in (
                        (CDN_ROUNDS[0], v1, ("--kill-every", 10, "--kill-after", kill_after)),
                        (CDN_ROUNDS[1], v2, ()), (CDN_ROUNDS[2], v2, ())):
                    if name == CDN_ROUNDS[1]:
                        status, _ = cdn_test.publish_through(edge, v2, root, edge_url)
                        if status != 0:
                            sys.exit(f"qorv-publish through the {label} failed")
                    _, lines, summary = cdn_test.rehearse(
                        program, edge_url, players, CDN_PLAYERS, CDN_THREADS,
                        "--expect", release / "expected", "--origin-log", origin.access_log,
                        *options)
                    times = sorted(line["seconds"] for line in lines)
                    rounds.append((name, summary, statistics.median(times),
                                   times[round(0.95 * (len(times) - 1))]))
                served = sum(origin.bytes_sent(f"/rc/pkg/{name}", body=True)
                             for name in cdn_test.PACKAGES)
            results[label] = (served, rounds)
    finally:
        shutil.rmtree(folder / "players", ignore_errors=True)
    return results


def cdn_table(cdn):
    """The patch day's figures, the two edges side by side."""
    distinct = cdn["distinct"]
    bound = 1.05 * (distinct + 4 * cdn_test.TAIL)
    edges = [label for label, _ in CDN_EDGES]
    lines = [f"| patch day, {CDN_PLAYERS} players | {' | '.join(edges)} |",
             "|---|" + "---:|" * len(edges)]

    def row(label, cell):
        lines.append(f"| {label} | {' | '.join(cell(*cdn[edge]) for edge in edges)} |")
    row(f"origin package bytes (bar: 1.05 x (distinct {distinct} + tails) = {bound:.0f})",
        lambda served, _: f"{served} ({served / distinct:.2f} x, "
                          f"{'met' if served <= bound else 'MISSED'})")
    for i, name in enumerate(CDN_ROUNDS):
        row(f"{name}: exact players",
            lambda _, rounds, i=i: f"{rounds[i][1]['exact']} of {rounds[i][1]['players']}")
        row(f"{name}: pkg.ver origin requests / edge lifetimes of {cdn_test.PKG_VER_LIFE} s",
            lambda _, rounds, i=i: "%d / %d" % (
                rounds[i][1]["origin"]["pkg.ver"]["requests"],
                math.ceil(rounds[i][1]["seconds"] / cdn_test.PKG_VER_LIFE)))
        row(f"{name}: s per player, median / 95th percentile",
            lambda _, rounds, i=i: f"{rounds[i][2]:.3f} / {rounds[i][3]:.3f}")
    return "\n".join(lines)


def main():
    if sys.argv[1:] == ["--cdn"]:
        print("\n" + cdn_table(bench_cdn()))
        return
    if sys.argv[1:] == ["--closes"]:
        archive = Path(corpus.ensure(str(WORK / "corpus.zip")))
        before = build_closes_before()
        folder = unpack_folder()
        try:
            print("\n" + closes_table(bench_closes(5, archive, folder, before)))
        finally:
            shutil.rmtree(folder, ignore_errors=True)
        return
    runs = max(5, int(sys.argv[1]) if len(sys.argv) > 1 else 5)
    for program in ("curl", "unzip", "bsdtar", "nginx", "wine", "gnuplot", "zip"):
        if not shutil.which(program):
            sys.exit(f"missing: {program} (make bench installs it)")
    resource_url, _ = harness.build_urls()
    archive = Path(corpus.ensure(str(WORK / "corpus.zip")))
    before = build_before()
    closes_before = build_closes_before()
    OUT.mkdir(parents=True, exist_ok=True)
    began = time.monotonic()
    unpack_out = unpack_folder()
    try:
        with installer.Road() as road, https_mirror(road) as https_url:
            publish_packages(road, archive)
            wine_env = road.wine.env
            unpack, unpack_cmds = bench_unpack(runs, archive, wine_env, unpack_out)
            unpack.update(bench_shapes(runs, unpack_out))
            closes = bench_closes(runs, archive, unpack_out, closes_before)
            download, download_cmds = bench_download(runs, resource_url + "/pkg/corpus.zip",
                                                     https_url + "/pkg/corpus.zip", wine_env)
            e2e, e2e_cmds, native_e2e = bench_end_to_end(runs, road, resource_url, unpack_out)
            update = bench_update(runs, road)
            delivery, packages = bench_delivery(runs, road, before, unpack_out)
        cdn = bench_cdn()
    finally:
        shutil.rmtree(unpack_out, ignore_errors=True)
    shutil.rmtree(OUT, ignore_errors=True)
    report(runs, archive, unpack, download, e2e, native_e2e, update, delivery, packages, cdn,
           closes, time.monotonic() - began, unpack_out)


def report(runs, archive, unpack, download, e2e, native_e2e, update, delivery, packages, cdn,
           closes, elapsed, unpack_out):
    med = {}
    rows = []
    for section, results in (("unpack", unpack), ("download", download), ("end to end", e2e),
                             ("client update", update), ("delivery", delivery)):
        for name, samples in results.items():
            median, low, high = stats([s.seconds for s in samples])
            med[name] = median
            rss = max(s.rss_kib for s in samples) / 1024
            rows.append((section, name, f"{median:.3f}", f"{low:.3f}-{high:.3f}", f"{rss:.1f}"))
    installs = e2e["QorvInstall.exe (Wine)"]
    client, client_low, client_high = stats([s.client for s in installs])
    med["client start"] = client
    rows.append(("end to end", "QorvInstall.exe to the client's start", f"{client:.3f}",
                 f"{client_low:.3f}-{client_high:.3f}", ""))
    paint, paint_low, paint_high = stats([s.paint for s in installs])
    exe_size = (WINDOWS / "QorvInstall.exe").stat().st_size
    install_rss = stats([s.rss_kib / 1024 for s in installs])
    empty_rss = stats([s.rss_kib / 1024 for s in download["empty program (Wine)"]])
    unzip_rss = max(s.rss_kib for name, samples in unpack.items() if name.startswith("qorv-unzip")
                    and "Wine" not in name for s in samples) / 1024
    # The bytes nginx sent in the delivery's runs: label, cases, package path.
    up_to_date, slow, killed = DELIVERY_CASES
    fetched = [("up-to-date run, shell.zip", (up_to_date, slow), SHELL_PATH),
               ("up-to-date run, GameClient.zip", (up_to_date, slow), CLIENT_PATH),
               ("run after a kill at half, GameClient.zip", (killed,), CLIENT_PATH)]
    fetched_stats = {}
    for label, cases, path in fetched:
        for who in ("before", "now"):
            counts = [s.served[path] for case in cases for s in delivery[f"{who}, {case}"]]
            fetched_stats[who, label] = stats(counts)
            med[f"{who}: {label}"] = fetched_stats[who, label][0]
    med["shell package"], med["client package"] = packages

    ratios = [  # label, numerator, denominator, bar (None: reported only)
        ("qorv-unzip / unzip", "qorv-unzip", "unzip", 0.55),
        ("qorv-unzip / minimal loop", "qorv-unzip", "minimal loop", 0.8),
        ("qorv-unzip.exe / minimal loop.exe (Wine)", "qorv-unzip.exe (Wine)",
         "minimal loop.exe (Wine)", 1.0),
        ("qorv-unzip.exe (Wine) / unzip", "qorv-unzip.exe (Wine)", "unzip", None),
        ("bsdtar / unzip", "bsdtar", "unzip", None),
        ("download routine / WinINet loop (Wine)", "download routine (Wine)",
         "WinINet loop (Wine)", 1.15),
        ("download routine (Wine) / curl", "download routine (Wine)", "curl", None),
        ("download routine HTTPS / HTTP (Wine)", "download routine over HTTPS (Wine)",
         "download routine (Wine)", None),
        ("WinINet loop (Wine) / curl", "WinINet loop (Wine)", "curl", None),
        ("QorvInstall.exe client start / curl + unzip", "client start", "curl + unzip", 1.4),
        ("QorvInstall.exe exit / curl + unzip", "QorvInstall.exe (Wine)", "curl + unzip", None),
        ("client update by ranges / whole (Wine)", "incremental update (Wine)",
         "whole update (Wine)", 0.2),
        # Now fetches the shell's tail instead of all of it, so it should be
        # faster however fast the link; at 4 MiB/s the whole shell alone
        # costs before some 5 s, which now's run should not come near.
        ("to the game's start, up to date: now / before", f"now, {up_to_date}",
         f"before, {up_to_date}", 1.0),
        ("to the game's start, up to date at 4 MiB/s: now / before", f"now, {slow}",
         f"before, {slow}", 0.25),
        ("bytes after a kill at half / package, now",
         "now: run after a kill at half, GameClient.zip", "client package", 0.55),
        ("bytes after a kill at half / package, before",
         "before: run after a kill at half, GameClient.zip", "client package", None),
        ("bytes of an up-to-date run / shell, now", "now: up-to-date run, shell.zip",
         "shell package", 0.02),
        ("bytes of an up-to-date run / shell, before", "before: up-to-date run, shell.zip",
         "shell package", None),
        ("client bytes of an up-to-date run / package, now", "now: up-to-date run, GameClient.zip",
         "client package", 0),
    ]
    for shape, _, _ in SHAPES:
        ratios += [(f"qorv-unzip / unzip, {shape}", f"qorv-unzip, {shape}", f"unzip, {shape}", None),
                   (f"qorv-unzip / minimal loop, {shape}", f"qorv-unzip, {shape}",
                    f"minimal loop, {shape}", None)]
    ratio_rows = []
    for label, a, b, bar in ratios:
        value = med[a] / med[b]
        verdict = "" if bar is None else ("met" if value <= bar else "MISSED" if bar == 0 else
                                          f"MISSED by {100 * (value / bar - 1):.0f} %")
        ratio_rows.append((label, value, bar, verdict))
    footprint = [
        ("QorvInstall.exe size", f"{exe_size / MIB:.2f} MiB ({exe_size} bytes)", "<= 1 MiB",
         "met" if exe_size <= MIB else f"MISSED by {100 * (exe_size / MIB - 1):.0f} %"),
        ("first paint after process start (Wine, warm prefix)",
         f"{paint:.3f} s ({paint_low:.3f}-{paint_high:.3f})", "<= 0.5 s",
         "met" if paint <= 0.5 else f"MISSED by {100 * (paint / 0.5 - 1):.0f} %"),
        ("QorvInstall.exe peak RSS, end to end (Wine)",
         f"{install_rss[0]:.1f} MiB ({install_rss[1]:.1f}-{install_rss[2]:.1f})", "", ""),
        ("empty program peak RSS (Wine's own floor)",
         f"{empty_rss[0]:.1f} MiB ({empty_rss[1]:.1f}-{empty_rss[2]:.1f})", "", ""),
        ("qorv-unzip peak RSS (native, every corpus)", f"{unzip_rss:.1f} MiB", "< 16 MiB",
         "met" if unzip_rss < 16 else "MISSED"),
    ]

    lines = ["| section | contender | median s | min-max s | peak RSS MiB |",
             "|---|---|---:|---:|---:|"]
    lines += [f"| {' | '.join(row)} |" for row in rows]
    lines += ["", "| delivery: bytes nginx sent, headers included | before | now |",
              "|---|---:|---:|"]
    sizes = dict(zip((SHELL_PATH, CLIENT_PATH), packages))
    for label, _, path in fetched:
        cells = ["%d (%d-%d)" % fetched_stats[who, label] for who in ("before", "now")]
        lines.append(f"| {label} (of {sizes[path]}) | {' | '.join(cells)} |")
    lines += ["", "| ratio of medians | value | bar | verdict |", "|---|---:|---:|---|"]
    lines += [f"| {label} | {value:.2f} | {'' if bar is None else f'<= {bar}'} | {verdict} |"
              for label, value, bar, verdict in ratio_rows]
    lines += ["", "| footprint | value | bar | verdict |", "|---|---|---|---|"]
    lines += [f"| {' | '.join(row)} |" for row in footprint]
    lines += ["", closes_table(closes), "", cdn_table(cdn)]
    table = "\n".join(lines)
    print("\n" + table)

    facts = "\n".join(f"- {name}: {value}" for name, value in machine_facts())
    where = ("a folder on the tmpfs /dev/shm" if unpack_out.is_relative_to("/dev/shm")
             else "in the build folder")
    resource_url, account_url = harness.build_urls()
    results = REPO / "bench" / "RESULTS.md"
    notes = results.read_text().split("<!-- notes -->", 1)[1] if results.exists() and \
        "<!-- notes -->" in results.read_text() else "\n## Notes\n\n(none yet)\n"
    results.write_text(f"""# Benchmark results

Made by `make bench` ({runs} runs per contender, alternating, medians with
min-max; {elapsed:.0f} s of measuring). Corpus: `bench/corpus.py`, 3000 files,
200 MiB, {archive.stat().st_size / MIB:.1f} MiB zipped with Info-ZIP `zip`; the other shapes
(same file, natively only): {", ".join(shape for shape, _, _ in SHAPES)}, zipped
with Python's `zipfile`.
Peak RSS is the process's own maximum resident set (GNU time's `%M`); under
Wine that is the Windows program's process, Wine's own DLLs included.

{table}

![ratios](ratios.png)

## Machine

{facts}

## Commands

Servers: nginx on {resource_url} (the {WINDOWS.name} build's resource base URL), the
scripted account server on {account_url}; Wine prefix build/{WINDOWS.name}/wine-prefix,
warmed (`wineserver -p`, one `wine cmd /c exit`) before the runs, private Xvfb.
Paths are relative to the repository; `Z:` is Wine's drive for `/`.

- Unpack (into an emptied folder each run, `sync` before; OUT is {where}):
  - `build/release/qorv-unzip corpus.zip OUT`
  - `unzip -o -q corpus.zip -d OUT`
  - `bsdtar -xf corpus.zip -C OUT`
  - `build/release/zip-minimal-loop corpus.zip OUT` (bench/ZipMinimalLoop.cpp)
  - `wine build/{WINDOWS.name}/qorv-unzip.exe Z:\\...\\corpus.zip Z:\\...\\OUT`
  - `wine build/{WINDOWS.name}/bench/zip-minimal-loop.exe Z:\\...\\corpus.zip Z:\\...\\OUT`
  - the first, second and fourth again on tiny.zip and large.zip
- Closes (OUT as above): qorv-unzip of before the close pool (commit
  {CLOSES_BEFORE[:7]}, release build from the repository's history, with the same
  wait per close added) and of now, with `QORV_CLOSE_DELAY_MS={CLOSE_DELAY_MS}` on corpus.zip and
  without on tiny.zip, beside `zip-minimal-loop tiny.zip OUT`; then
  `build/release/zip-stage-loop corpus.zip DIR plain|pool|batch` (bench/StageLoop.cpp:
  no flush, each file flushed before its close on the pool, every file
  flushed by path after the unpack) with DIR in OUT and in the build folder
- Download of {resource_url}/pkg/corpus.zip:
  - `curl -s -o OUT/corpus.zip URL`
  - `wine build/{WINDOWS.name}/bench/qorv-download-bench.exe URL Z:\\...\\corpus.zip`
    (qorv::DownloadToFile, bench/DownloadBench.cpp)
  - the same with the same file from nginx over TLS on another port
    (`https://127.0.0.1:PORT/rc/pkg/corpus.zip`, RSA 2048 certificate from a
    throwaway CA trusted in the prefix only)
  - `wine build/{WINDOWS.name}/bench/wininet-minimal-loop.exe URL Z:\\...\\corpus.zip`
    (bench/WinInetMinimalLoop.cpp)
  - `wine build/{WINDOWS.name}/bench/empty-program.exe` (bench/EmptyProgram.cpp)
- End to end (shell.zip with the stand-in shell, GameClient.zip = the corpus
  plus the stand-in client, pkg.ver changed and the install directory removed
  before each run; the account server answers errno 0; both install into OUT,
  the installer through a link in place of the prefix's tovrine folder):
  - `wine {TOKEN_NAME}` (a copy of build/{WINDOWS.name}/QorvInstall.exe), timed to
    its exit and to the appearance of the stand-in client's `.args` file
  - `sh -c "{native_e2e.replace(str(unpack_out), "OUT").replace(str(REPO) + "/", "")}"`
- Client update (tests/e2e/test_incremental_update.py's client: 50 MiB, 200
  files; version 1 installed before each run, then version 2 with two files
  of 50 KiB changed): `wine {TOKEN_NAME}` with the install record (the
  changed entries by ranges) and with the record deleted (the whole download),
  each timed from its first `loading_step=3` trace to the appearance of the
  stand-in client's `.args` file
- Delivery: `wine {TOKEN_NAME}`, a copy of the installer of before (commit
  {BEFORE[:7]}, built from the repository's history with the same base URLs) and of
  build/{WINDOWS.name}/QorvInstall.exe, timed to the appearance of the stand-in
  client's `.args` file; shell.zip of {packages[0] / MIB:.1f} MiB (the stand-in shell,
  Uninstall.exe, 60 incompressible files), GameClient.zip of {packages[1] / MIB:.1f} MiB (the
  stand-in client, 16 incompressible files), pkg.ver unchanged; both install into
  OUT through a link in place of the prefix's tovrine folder; the bytes are
  nginx's `$bytes_sent` for each package in the timed run:
  - up to date: each on an install of its own, made by itself once before
    the runs, over loopback and with nginx's `limit_rate {THROTTLE}`
  - after a kill at half: a fresh install with `limit_rate {THROTTLE}`, every process
    of the prefix ended (`wineserver -k`) once `GameClient.zip.part` held half
    of the package, then the same installer again over loopback
- Patch day (natively, one run): `build/release/qorv-rehearse EDGE_URL PLAYERS
  --players {CDN_PLAYERS} --threads {CDN_THREADS} --expect RELEASE/expected --origin-log ORIGIN_LOG`
  through nginx with tools/cdn/edge.conf in front of an origin nginx, and
  through the same edge with nginx's default key (`$scheme$proxy_host$request_uri`,
  with the slice); shell.zip of 2 MiB, GameClient.zip of 12 MiB in 24 files,
  version 2 with one shell file and four client files changed: first
  installs (every tenth player cut off at half its client and run again),
  version 2 published by `tools/qorv-publish v2 ORIGIN --edge EDGE_URL` (the
  packages purged when it says so, pkg.ver once written), the update, then
  up-to-date runs; origin bytes are the package bodies of nginx's log over
  the whole day, the publish's check included
<!-- notes -->{notes}""")
    chart(ratio_rows)
    print(f"\nwrote {results.relative_to(REPO)} and bench/ratios.png")


def chart(ratio_rows):
    data = WORK / "ratios.dat"
    with open(data, "w") as out:
        for label, value, bar, _ in ratio_rows:
            out.write(f'"{label}" {value:.3f} {bar if bar is not None else "NaN"}\n')
    script = f"""
set terminal png size 1300,900 font ",10"
set output "{REPO / 'bench' / 'ratios.png'}"
set title "Ratios of medians, of wall times and of the delivery's bytes (lower is better); the bar where one is set"
set style data histogram
set style histogram clustered gap 1
set style fill solid 0.8 border -1
set boxwidth 0.9
set yrange [0:*]
set grid ytics
set xtics rotate by -45 left
set bmargin 22
set rmargin 24
set key top left
plot "{data}" using 2:xtic(1) title "measured" lc rgb "#d4a017", \\
     "" using 3 title "bar" lc rgb "#4a6fa5"
"""
    subprocess.run(["gnuplot"], input=script.encode(), check=True)


if __name__ == "__main__":
    main()
