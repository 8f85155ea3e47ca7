"""The installer over HTTPS under Wine: the token road against TLS servers
whose certificate comes from a throwaway CA the prefix trusts, and a bad
certificate (an untrusted CA, expired, another host's) on a package download
and on the login request stopping the road with nothing written."""

import unittest

from e2e import installer
from e2e.installer import TOKEN, TlsRoad

TOKEN_NAME = f"QorvInstall-s-{TOKEN}.exe"
BAD = ("untrusted CA", "expired", "another host")


class SecureDelivery(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.road = TlsRoad().__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.road.__exit__(None, None, None)

    def setUp(self):
        self.road.serve("good", "good")
        self.road.reset()
        self.road.publish()

    def test_token_road_over_https(self):
        road = self.road
        trace = road.run(TOKEN_NAME)
        self.assertEqual(road.requests(), ["GET /rc/pkg/shell.zip", "GET /rc/pkg/pkg.ver",
                                           "GET /rc/pkg/GameClient.zip"])
        self.assertEqual(road.logins(),
                         [f"/qv/redirect_login_token?token={TOKEN}&platform=pelmar"])
        self.assertEqual((road.install_dir / "data" / "readme.txt").read_bytes(), b"shell data\r\n")
        self.assertEqual((road.install_dir / "GameClient" / "res" / "level1.dat").read_bytes(),
                         bytes(range(256)) * 64)
        self.assertEqual((road.install_dir / "pkg.ver").read_bytes(), b"1.0.0\r\n")
        self.assertEqual((road.install_dir / "GameClient" / "lgt.json").read_text(),
                         '{"errno":0,"query_string":"a=1&b=2"}')
        client = road.windows_path("GameClient\\kel_qorvmicro.exe")
        self.assertEqual(road.started("GameClient/kel_qorvmicro.exe"),
                         [f'"{client}" 0 a=1&b=2&client=pc'])
        at = 0
        for text in (b"loading_step=1", installer.DOWNLOAD_DONE, installer.UNPACK_DONE,
                     b"loading_step=2", b"loading_step=3", b"\npercent=99",
                     installer.UNPACK_DONE, installer.START_GAME_CLIENT):
            found = trace.find(text, at)
            self.assertGreaterEqual(found, 0, f"{text!r} missing after byte {at}")
            at = found
        self.assertEqual(list(road.install_dir.rglob("*.part")), [])

    def test_bad_certificate_stops_the_request_with_nothing_written(self):
        road = self.road
        for target in ("package", "login"):
            for certificate in BAD:
                with self.subTest(request=target, certificate=certificate):
                    road.reset()
                    if target == "package":
                        road.serve(certificate, "good")
                        port, asked = road.ports[0], road.requests
                    else:
                        road.serve("good", certificate)
                        port, asked = road.ports[1], road.logins
                    # Refused, or (wrongly) asked for: either ends the wait.
                    running, _ = road.run_until_stuck(
                        TOKEN_NAME,
                        lambda: road.nginx.closed_without_request(port) > 0 or asked(), 60)
                    self.assertTrue(running, "the installer ended by itself")
                    self.assertEqual(road.started("Qorv.exe"), [])
                    self.assertEqual(road.started("GameClient/kel_qorvmicro.exe"), [])
                    self.assertEqual(road.logins(), [])
                    if target == "package":
                        # The shell package is the first download: nothing at all.
                        self.assertEqual(road.requests(), [])
                        self.assertEqual(sorted(road.install_dir.rglob("*")), [])
                    else:
                        self.assertEqual(len(road.requests()), 3)
                        self.assertTrue((road.install_dir / "GameClient" /
                                         "kel_qorvmicro.exe").is_file())
                        self.assertFalse((road.install_dir / "GameClient" / "lgt.json").exists())
                        self.assertEqual(list(road.install_dir.rglob("*.part")), [])


if __name__ == "__main__":
    unittest.main()
