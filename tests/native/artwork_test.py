"""The committed images are exactly what tools/make-artwork.py draws, and
they keep the geometry the windows rely on."""

import struct
import subprocess
import sys
import tempfile
import unittest
import zlib
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
RES = REPO / "res"


def decode_png(data):
    """8-bit RGBA, as the generator writes it (every row unfiltered)."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            assert (depth, colour) == (8, 6)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * 4 + 1
    rows = []
    for y in range(height):
        row = raw[y * stride:(y + 1) * stride]
        assert row[0] == 0
        rows.append([tuple(row[1 + x * 4:5 + x * 4]) for x in range(width)])
    return width, height, rows


class ArtworkTest(unittest.TestCase):

    def test_committed_images_match_the_generator(self):
        with tempfile.TemporaryDirectory() as out:
            subprocess.run([sys.executable, str(REPO / "tools" / "make-artwork.py"), out],
                           check=True, timeout=300)
            for name in ("background.png", "bar.png", "QorvInstall.ico"):
                self.assertEqual((Path(out) / name).read_bytes(), (RES / name).read_bytes(),
                                 f"res/{name} is not the generator's output")

    def test_artwork_has_a_free_logo_an_opaque_panel_and_the_track(self):
        width, height, px = decode_png((RES / "background.png").read_bytes())
        self.assertEqual((width, height), (467, 218))
        for x, y in ((0, 0), (466, 0), (2, 60), (464, 60)):
            self.assertEqual(px[y][x][3], 0, (x, y))
        self.assertTrue(any(p[3] == 255 for p in px[50][150:320]), "no logo")
        for y in range(110, 210):
            self.assertTrue(all(p[3] == 255 for p in px[y][10:457]), y)
        # The empty track: dark inside 441 x 5 at x 13-453, y 186-190, framed.
        for y in range(186, 191):
            for x in range(13, 454):
                self.assertLess(max(px[y][x][:3]), 30, (x, y))
            self.assertGreater(px[y][12][0], 60)
            self.assertGreater(px[y][454][0], 60)
        self.assertGreater(px[185][200][0], 60)
        self.assertGreater(px[191][200][0], 60)
        # No white in the artwork under the status line: white there is text.
        self.assertFalse(any(p[:3] == (255, 255, 255) for row in px for p in row))

    def test_bar_is_golden_with_soft_ends(self):
        width, height, px = decode_png((RES / "bar.png").read_bytes())
        self.assertEqual((width, height), (441, 5))
        for y in range(5):
            for x in range(441):
                r, g, b, a = px[y][x]
                self.assertEqual(r, 255)
                self.assertTrue(220 <= g <= 233 and 100 <= b <= 109, (x, y))
                edges = (x in (0, 440)) + (y in (0, 4))
                self.assertEqual(a, (255, 186, 30)[edges], (x, y))

    def test_icon_is_one_64_pixel_32_bit_image(self):
        data = (RES / "QorvInstall.ico").read_bytes()
        self.assertEqual(struct.unpack("<HHH", data[:6]), (0, 1, 1))
        w, h, _, _, planes, bits, size, offset = struct.unpack("<BBBBHHII", data[6:22])
        self.assertEqual((w, h, planes, bits), (64, 64, 1, 32))
        self.assertEqual(offset + size, len(data))
        self.assertEqual(struct.unpack("<Iii", data[offset:offset + 12]), (40, 64, 128))


if __name__ == "__main__":
    unittest.main()
