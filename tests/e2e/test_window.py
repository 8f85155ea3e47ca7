"""The installer's two windows under Wine: the layered artwork host and the
colour-keyed progress view over it, caught while the shell package download
is frozen half-way, then Escape and WM_CLOSE sent to the host; and the same
download cut off half-way: the failure text, then Escape closes."""

import random
import re
import shutil
import subprocess
import tempfile
import threading
import time
import unittest
import zipfile
from pathlib import Path

from e2e import harness
from servers.stall_server import StallServer

EXE = harness.WINDOWS_BUILD / "QorvInstall.exe"
ARTIFACTS = harness.WINDOWS_BUILD / "e2e-artifacts"
SCREEN_W, SCREEN_H = 1024, 768
WIN_W, WIN_H = 467, 218
BAR_X, BAR_Y, BAR_H = 14, 186, 5
WM_KEYDOWN, WM_CLOSE, VK_ESCAPE = harness.WM_KEYDOWN, harness.WM_CLOSE, harness.VK_ESCAPE
WM_LBUTTONUP = 0x202
WS_EX_LAYERED = 0x80000
MIB = 1024 * 1024


def read_rgb(png, width, height):
    raw = subprocess.run(["convert", str(png), "-alpha", "off", "-depth", "8", "rgb:-"],
                         check=True, capture_output=True, timeout=60).stdout
    assert len(raw) == width * height * 3, "unexpected image size"
    return lambda x, y: tuple(raw[(y * width + x) * 3:(y * width + x) * 3 + 3])


def read_rgba(png, width, height):
    raw = subprocess.run(["convert", str(png), "-depth", "8", "rgba:-"],
                         check=True, capture_output=True, timeout=60).stdout
    return lambda x, y: tuple(raw[(y * width + x) * 4:(y * width + x) * 4 + 4])


TILE_BLUE, TILE_PINK = "#3a6ea5", "#c04080"


def behind(x, y):
    """The root's colour at a screen point: 32-pixel squares from (0, 0)."""
    pink = ((x % 64) < 32) == ((y % 64) < 32)
    return (192, 64, 128) if pink else (58, 110, 165)


def golden(rgb):
    r, g, b = rgb
    return r >= 150 and g >= 120 and b <= 130 and r - b >= 80


class WindowTest(unittest.TestCase):

    def setUp(self):
        self.tmp = Path(tempfile.mkdtemp(prefix="qorv-window-"))
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)
        # Incompressible, so the download takes its full size on the wire.
        rnd = random.Random(4)
        (self.tmp / "pkg").mkdir()
        with zipfile.ZipFile(self.tmp / "pkg" / "shell.zip", "w", zipfile.ZIP_STORED) as z:
            z.writestr("Qorv.exe", rnd.randbytes(10 * MIB))
        resource_url, _ = harness.build_urls()
        self.port = harness.url_port(resource_url)

    def start_installer(self, display):
        """The installer on display with no earlier install: its prefix, its
        process and the output collected so far; all stopped at cleanup."""
        wine = harness.Wine(display)
        self.addCleanup(wine.stop)
        wine.use_cjk_dialog_font()
        shutil.rmtree(wine.local_appdata() / "tovrine", ignore_errors=True)
        proc = wine.start(EXE)
        self.addCleanup(harness.stop, proc)
        output = self.collect(proc)
        self.addCleanup(proc.stdout.close)
        return wine, proc, output

    def test_windows_bar_text_escape_and_close(self):
        with harness.Xvfb(f"{SCREEN_W}x{SCREEN_H}x24") as xvfb, \
                StallServer(self.tmp, self.port, "/rc/pkg/shell.zip", 5 * MIB) as server:
            wine, proc, output = self.start_installer(xvfb.display)


            self.assertTrue(server.stalled.wait(90), "shell.zip was never fetched half-way")
            # A two-colour root so every see-through pixel is recognisable;
            # set now, as Wine's start-up clears the root.
            tile = self.tmp / "tile.png"
            subprocess.run(["convert", "-size", "64x64", f"xc:{TILE_BLUE}", "-fill", TILE_PINK,
                            "-draw", "rectangle 0,0 31,31", "-draw", "rectangle 32,32 63,63",
                            str(tile)], check=True, timeout=60)
            subprocess.run(["display", "-display", xvfb.display, "-window", "root", str(tile)],
                           timeout=60)
            # Let the last progress report be painted, then hold still.
            last, quiet_since = -1, time.monotonic()
            deadline = time.monotonic() + 30
            while time.monotonic() < deadline and time.monotonic() - quiet_since < 3:
                if len(output) != last:
                    last, quiet_since = len(output), time.monotonic()
                time.sleep(0.2)
            widths = re.findall(rb"\nwidth=(\d+)", bytes(output))
            self.assertTrue(widths, bytes(output))
            width = int(widths[-1])
            self.assertGreater(width, 4, bytes(output))

            windows = wine.windows(EXE.name)
            shot = ARTIFACTS / "window-progress.png"
            ARTIFACTS.mkdir(parents=True, exist_ok=True)
            xvfb.screenshot(shot)
            self.assertEqual(len(re.findall(rb"\nwidth=", bytes(output))), len(widths))

            # Two visible windows, 467 x 218, on one rectangle, centred.
            self.assertEqual(len(windows), 2, windows)
            rects = {w["rect"] for w in windows}
            self.assertEqual(len(rects), 1, windows)
            left, top, right, bottom = rects.pop()
            self.assertEqual((right - left, bottom - top), (WIN_W, WIN_H))
            self.assertLessEqual(abs(left - (SCREEN_W - WIN_W) // 2), 1)
            self.assertLessEqual(abs(top - (SCREEN_H - WIN_H) // 2), 1)
            self.assertTrue(all(w["exstyle"] & WS_EX_LAYERED for w in windows))
            host = next(w for w in windows if w["owner"] == "0")
            view = next(w for w in windows if w["owner"] != "0")
            self.assertEqual(int(view["owner"], 16), int(host["hwnd"], 16))

            screen = read_rgb(shot, SCREEN_W, SCREEN_H)
            art = read_rgba(harness.REPO / "res" / "background.png", WIN_W, WIN_H)
            at = lambda x, y: screen(left + x, top + y)  # noqa: E731

            # The artwork's transparent surround shows the screen behind it.
            for x, y in ((2, 2), (40, 10), (WIN_W - 3, 2), (WIN_W - 40, 60), (3, 90)):
                self.assertEqual(art(x, y)[3], 0)
                self.assertEqual(at(x, y), behind(left + x, top + y), (x, y))
            # The panel is opaque: the artwork's own colours, not the screen.
            for x, y in ((30, 120), (233, 110), (440, 150), (100, 205), (WIN_W - 20, 200)):
                self.assertEqual(art(x, y)[3], 255)
                self.assertEqual(at(x, y), art(x, y)[:3], (x, y))

            # The golden run starts at view x 14 and is as long as the last
            # traced width, on every row of the bar at its middle.
            run = [x for x in range(8, WIN_W - 8) if golden(at(x, BAR_Y + 2))]
            self.assertEqual(run, list(range(BAR_X, BAR_X + width)), f"width={width}")
            for y in range(BAR_Y, BAR_Y + BAR_H):
                self.assertTrue(golden(at(BAR_X + width // 2, y)), y)
            self.assertFalse(golden(at(BAR_X + width // 2, BAR_Y - 2)))
            self.assertFalse(golden(at(BAR_X + width // 2, BAR_Y + BAR_H + 1)))

            # The status text is white, inside y 154-183, centred.
            white = [(x, y) for y in range(100, WIN_H) for x in range(WIN_W)
                     if at(x, y) == (255, 255, 255)]
            self.assertGreater(len(white), 40)
            self.assertTrue(all(154 <= y <= 183 for _, y in white), white[:10])
            xs = [x for x, _ in white]
            self.assertLessEqual(abs((min(xs) + max(xs)) / 2 - WIN_W / 2), 12)

            # Escape leaves the host open.
            wine.post(host["hwnd"], WM_KEYDOWN, VK_ESCAPE)
            time.sleep(2)
            self.assertIsNone(proc.poll())
            self.assertEqual(len(wine.windows(EXE.name)), 2)

            # WM_CLOSE ends the process while shell.zip is still downloading.
            self.assertFalse(server.released())
            wine.post(host["hwnd"], WM_CLOSE)
            proc.wait(10)
            self.assertFalse((wine.local_appdata() / "tovrine" / "qorv" / "Qorv.exe").exists())

    def test_a_failed_download_says_so_and_then_escape_closes(self):
        with harness.Xvfb(f"{SCREEN_W}x{SCREEN_H}x24") as xvfb, \
                StallServer(self.tmp, self.port, "/rc/pkg/shell.zip", 5 * MIB) as server:
            wine, proc, output = self.start_installer(xvfb.display)
            self.assertTrue(server.stalled.wait(90), "shell.zip was never fetched half-way")
            self.assertTrue(harness.wait_until(lambda: b"width=" in output, 30))
            time.sleep(3)
            windows = wine.windows(EXE.name)
            host = next(w for w in windows if w["owner"] == "0")
            left, top = host["rect"][:2]
            before = ARTIFACTS / "window-before-failure.png"
            ARTIFACTS.mkdir(parents=True, exist_ok=True)
            xvfb.screenshot(before)

            # While the download runs, Escape does nothing.
            wine.post(host["hwnd"], WM_KEYDOWN, VK_ESCAPE)
            time.sleep(2)
            self.assertIsNone(proc.poll())

            server.release(cut=True)
            failed = "下载失败".encode("gbk") + b" shell 0x"
            self.assertTrue(harness.wait_until(lambda: failed in output, 30), bytes(output))
            self.assertIn(b"/rc/pkg/shell.zip?skq=", bytes(output))
            time.sleep(2)
            shot = ARTIFACTS / "window-failure.png"
            xvfb.screenshot(shot)
            self.assertIsNone(proc.poll(), "the installer ended by itself")

            old = read_rgb(before, SCREEN_W, SCREEN_H)
            new = read_rgb(shot, SCREEN_W, SCREEN_H)
            status = [(x, y) for y in range(154, 184) for x in range(WIN_W)]
            # Text pixels: near white (the panel behind is dark blue).
            white_before = {p for p in status if min(old(left + p[0], top + p[1])) >= 200}
            white_after = {p for p in status if min(new(left + p[0], top + p[1])) >= 200}
            # Another text, drawn where the old one was, which is gone.
            self.assertGreater(len(white_after), 40)
            self.assertNotEqual(white_after, white_before)
            self.assertFalse(white_before <= white_after, "the old text is still there")
            xs = [x for x, _ in white_after]
            self.assertLessEqual(abs((min(xs) + max(xs)) / 2 - WIN_W / 2), 12)
            # The bar is left as it was.
            for x in range(WIN_W):
                for y in range(BAR_Y, BAR_Y + BAR_H):
                    self.assertEqual(new(left + x, top + y), old(left + x, top + y), (x, y))

            # A click starts the run again from the shell package; Escape
            # then closes the window in the failure state it ends in.
            requests = len(server.requests)
            wine.post(host["hwnd"], WM_LBUTTONUP)
            self.assertTrue(harness.wait_until(lambda: len(server.requests) > requests, 30))
            self.assertTrue(harness.wait_until(lambda: output.count(failed) == 2, 60),
                            bytes(output))
            self.assertIsNone(proc.poll())
            wine.post(host["hwnd"], WM_KEYDOWN, VK_ESCAPE)
            proc.wait(10)

    @staticmethod
    def collect(proc):
        """The program's output, gathered as it comes."""
        output = bytearray()

        def read_output():
            for chunk in iter(lambda: proc.stdout.read1(4096), b""):
                output.extend(chunk)

        threading.Thread(target=read_output, daemon=True).start()
        return output


if __name__ == "__main__":
    unittest.main()
