"""The deployer's kit and the demo: a folder packed by tools/qorv-pack
installs through the game client stage, the kit refuses what the installer
would not install, a release signed by tools/qorv-sign verifies and runs,
and `make demo`'s script runs the whole job and leaves no
process behind."""

import ctypes
import hashlib
import os
import re
import shutil
import subprocess
import tempfile
import unittest
import zipfile
from pathlib import Path

from e2e import harness, installer
from e2e.installer import TOKEN, Road

PACK = harness.REPO / "tools" / "qorv-pack"
SIGN = harness.REPO / "tools" / "qorv-sign"
DEMO = harness.REPO / "tools" / "demo.sh"


class PackedFolder(unittest.TestCase):
    def test_packed_folder_installs_through_the_client_stage(self):
        with Road() as road:
            road.publish(client=False, version=None)
            folder = road.work / "client"
            (folder / "maps" / "north").mkdir(parents=True)
            (folder / "empty").mkdir()
            (folder / "kel_qorvmicro.exe").write_bytes(
                (harness.WINDOWS_BUILD / "stubs" / "test" / "client" /
                 "kel_qorvmicro.exe").read_bytes())
            files = {"maps/north/a.map": os.urandom(70000), "maps/b.map": b"b" * 100000,
                     "config.ini": b"[client]\r\n", "maps/north/empty.dat": b""}
            for name, data in files.items():
                (folder / name).write_bytes(data)
            subprocess.run([PACK, folder, road.packages / "GameClient.zip"], check=True,
                           stdout=subprocess.DEVNULL)
            digest = hashlib.sha256((road.packages / "GameClient.zip").read_bytes()).hexdigest()
            version = (road.packages / "pkg.ver").read_text()
            self.assertEqual(version.split(" ")[0], digest)

            road.run(f"QorvInstall-kit-{TOKEN}.exe")
            client = road.install_dir / "GameClient"
            for name, data in files.items():
                self.assertEqual((client / name).read_bytes(), data, name)
            self.assertTrue((client / "empty").is_dir())
            # pkg.ver moves into place only when every entry extracted whole.
            self.assertEqual((road.install_dir / "pkg.ver").read_text(), version)
            self.assertEqual(len(road.started("GameClient/kel_qorvmicro.exe")), 1)

    def test_kit_refuses_what_the_installer_refuses_and_warns(self):
        work = Path(tempfile.mkdtemp(prefix="qorv-kit-"))
        self.addCleanup(shutil.rmtree, work, ignore_errors=True)
        folder, out = work / "client", work / "out"
        (folder / "sub").mkdir(parents=True)
        # Enough refused names to fill any pipe a check might read them from.
        for i in range(6000):
            (folder / f"refused:name-{i:05d}").write_bytes(b"")
        bad = ["NUL", "sub/COM1.txt", "aux. ", "a\\b"]
        for name in bad + ["fine.txt"]:
            (folder / name).write_bytes(b"x")
        result = subprocess.run([PACK, folder, out / "GameClient.zip"], capture_output=True,
                                text=True, timeout=300)
        self.assertEqual(result.returncode, 1, result.stderr[-2000:])
        refused = [line for line in result.stderr.splitlines()
                   if line.startswith("qorv-pack: refused ")]
        self.assertEqual(len(refused), 6000 + len(bad), result.stderr[-2000:])
        for name in bad:
            self.assertTrue(any(repr(name) in line for line in refused), name)
        self.assertFalse(any("fine.txt" in line for line in refused))
        self.assertTrue(any("0x200" in line for line in refused))
        self.assertEqual(sorted(out.iterdir()), [])

        # What installs but may surprise is published with a warning.
        shutil.rmtree(folder)
        (folder / "bin").mkdir(parents=True)
        (folder / "bin" / "locked.dll").write_bytes(b"x")
        (folder / "bin" / "locked.dll").chmod(0o444)
        long_name = "l" * 170
        (folder / long_name).write_bytes(b"x")
        result = subprocess.run([PACK, folder, out / "GameClient.zip"], capture_output=True,
                                text=True, timeout=300)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("'bin/locked.dll' is installed read-only", result.stderr)
        self.assertIn(f"'{long_name}' does not fit below a 100-character", result.stderr)
        self.assertTrue((out / "pkg.ver").is_file())
    def test_shell_package_ships_the_uninstaller_and_needs_the_shell_program(self):
        work = Path(tempfile.mkdtemp(prefix="qorv-kit-"))
        try:
            folder, out = work / "shell", work / "pkg" / "shell.zip"
            (folder / "data").mkdir(parents=True)
            (folder / "data" / "readme.txt").write_bytes(b"shell data")
            refused = subprocess.run([PACK, "--shell", folder, out], capture_output=True)
            self.assertEqual(refused.returncode, 1)
            self.assertFalse(out.exists())

            (folder / "Qorv.exe").write_bytes(b"the deployer's shell")
            (folder / "Uninstall.exe").write_bytes(b"a stale one of the deployer's")
            subprocess.run([PACK, "--shell", folder, out], check=True, stdout=subprocess.DEVNULL)
            with zipfile.ZipFile(out) as archive:
                self.assertEqual(sorted(archive.namelist()), ["Qorv.exe", "Uninstall.exe", "data/",
                                                              "data/readme.txt"])
                self.assertEqual(archive.read("Uninstall.exe"),
                                 (harness.WINDOWS_BUILD / "Uninstall.exe").read_bytes())
            self.assertFalse((out.parent / "pkg.ver").exists(), "a shell package has no version")
        finally:
            shutil.rmtree(work)


class SignedRelease(unittest.TestCase):
    def test_signed_executables_verify_against_their_ca_and_run(self):
        with Road() as road:
            ca = harness.TestCa(road.work / "ca")
            cert, key = ca.issue("Velmora Test Signing", usage="codeSigning")
            pkcs12 = road.work / "release.p12"
            password = road.work / "password"
            password.write_text("not on the command line\n")
            harness.openssl("pkcs12", "-export", "-inkey", key, "-in", cert, "-out", pkcs12,
                            "-passout", "file:" + str(password))
            release = road.work / "release"
            release.mkdir()
            exes = [release / "QorvInstall.exe", release / "Uninstall.exe"]
            shutil.copy(installer.INSTALLER, exes[0])
            shutil.copy(installer.STUBS / "shell" / "Qorv.exe", exes[1])
            env = dict(os.environ, QORV_SIGN_PASSWORD_FILE=str(password))
            subprocess.run([SIGN, pkcs12, *exes], env=env, check=True,
                           stdout=subprocess.DEVNULL)

            def verify(exe, ca_file):
                return subprocess.run(["osslsigncode", "verify", "-CAfile", ca_file, "-in", exe],
                                      capture_output=True).returncode
            for exe in exes:
                self.assertEqual(verify(exe, ca.cert), 0, exe.name)
            self.assertNotEqual(verify(exes[0], harness.TestCa(road.work / "other").cert), 0)
            changed = road.work / "changed.exe"
            data = bytearray(exes[0].read_bytes())
            data[len(data) // 3] ^= 0x01  # a byte of the code, inside what is signed
            changed.write_bytes(data)
            self.assertNotEqual(verify(changed, ca.cert), 0)

            road.program = exes[0]
            road.publish()
            road.run()
            self.assertEqual(road.requests(), ["GET /rc/pkg/shell.zip"])
            self.assertEqual(road.started("Qorv.exe"),
                             [f'"{road.windows_path("Qorv.exe")}" pelmar'])


PR_SET_CHILD_SUBREAPER = 36


def children():
    """Command lines of this process's children: with the subreaper flag set,
    every orphaned descendant of the demo is re-parented here."""
    try:
        while os.waitpid(-1, os.WNOHANG)[0] > 0:  # reap those that ended
            pass
    except ChildProcessError:
        pass
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            stat = (Path("/proc") / pid / "stat").read_text()
            cmdline = (Path("/proc") / pid / "cmdline").read_bytes()
        except OSError:
            continue  # ended meanwhile
        state, parent = stat.rsplit(")", 1)[1].split()[:2]
        if int(parent) == os.getpid() and state != "Z":
            found.append(cmdline.replace(b"\0", b" ").decode(errors="replace"))
    return found


class Demo(unittest.TestCase):
    def test_demo_reports_the_whole_job_and_leaves_no_process(self):
        libc = ctypes.CDLL(None, use_errno=True)
        self.assertEqual(libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0), 0)
        env = dict(os.environ)
        env.pop("DISPLAY", None)  # its own Xvfb, even on a desktop
        result = subprocess.run([DEMO], env=env, capture_output=True, timeout=600)
        out = result.stdout.decode("utf-8", "replace")
        self.assertEqual(result.returncode, 0, out + result.stderr.decode("utf-8", "replace"))
        self.assertRegex(out, r'"C:\\users\\[^\\]+\\AppData\\Local\\tovrine\\qorv\\Qorv.exe" pelmar')
        self.assertRegex(out, r'kel_qorvmicro.exe" 0 session=demo&region=eu&client=pc')
        self.assertIn("DisplayVersion", out)
        self.assertIn("arguments: pelmar", out)
        self.assertIn("exit code 0; install directory: gone; desktop shortcut: gone; "
                      "uninstall entry: gone", out)
        # Each cause of a stop once, with its status text (the exit code says
        # it was the expected one); a small volume takes root.
        causes = {"download", "unpack", "file in use", "program will not start"}
        if "disk space: not shown" not in out:
            causes.add("disk space")
        self.assertEqual(set(re.findall(r"(?m)^    ([a-z][a-z ]*): \S.*。$", out)), causes, out)
        for shot in ("screenshot-mid-download.png", "screenshot-before-closing.png"):
            self.assertTrue((harness.REPO / "build" / "demo" / shot).is_file(), shot)
        self.assertEqual(children(), [], "processes the demo left running")


if __name__ == "__main__":
    unittest.main()
