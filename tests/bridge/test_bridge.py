"""The bridge program end to end: a test client plays the pages (and the attackers) over real
sockets against `zeltablet-bridge --simulate`. Refusals are proved to reach no pad by the
bridge's own log, which names every pad command it runs (--verbose)."""

import base64
import json
import os
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from bridge_client import BRIDGE, LAUNCHER, Bridge, Page, Refused, http_request  # noqa: E402

SCRIPTED_SAMPLES = 192  # the virtual pad's scripted signature


def v1(kind, **fields):
    return dict(v=1, type=kind, **fields)


def capture_all(page, expected=SCRIPTED_SAMPLES, timeout=20):
    """Samples of a capture until `expected` arrived; checks that frames join up."""
    samples, deadline = [], time.monotonic() + timeout
    while len(samples) < expected and time.monotonic() < deadline:
        message = page.recv()
        if message["type"] == "samples":
            assert message["first"] == len(samples), (message["first"], len(samples))
            samples.extend(message["samples"])
    return samples


class BridgeCase(unittest.TestCase):
    def setUp(self):
        self.bridge = Bridge()
        self.port = self.bridge.port

    def tearDown(self):
        # A clean stop: no sanitizer report, no crash on the way out. (Under Wine the stop
        # signal reaches the launcher, not the program.)
        status = self.bridge.stop()
        if not LAUNCHER:
            self.assertEqual(status, 0, "\n".join(self.bridge.log()[-30:]))

    def assertNoPadCommand(self):
        self.assertEqual(self.bridge.pad_commands(), [], "a refused request reached the pad")


class Security(BridgeCase):
    def handshake_refused(self, **kwargs):
        with self.assertRaises(Refused) as refused:
            Page(self.port, **kwargs)
        return refused.exception.status

    def test_other_origin_missing_origin_and_rebinding_host_are_refused_before_the_pad(self):
        for kwargs in [dict(origin="http://127.0.0.1:9"),  # another local port's page
                       dict(origin="https://evil.example"),
                       dict(origin="null"),
                       dict(origin=f"http://127.0.0.1:{self.port}.evil.example"),
                       dict(origin=None),
                       dict(host=f"evil.example:{self.port}"),  # DNS rebinding
                       dict(host="127.0.0.1"),
                       dict(host=f"127.0.0.1:{self.port + 1}"),
                       dict(host=f"evil.example:{self.port}",
                            origin=f"http://evil.example:{self.port}")]:
            with self.subTest(**kwargs):
                self.assertEqual(self.handshake_refused(**kwargs), 403)
        self.assertTrue(self.bridge.wait_for_log("refused GET /pad.*WebSocket without Origin"))
        self.assertTrue(self.bridge.wait_for_log("refused GET /pad.*'https://evil.example'"))
        self.assertNoPadCommand()
        # The bridge's own page still gets through, on each of its names.
        for host in ("127.0.0.1", "localhost", "[::1]"):
            page = Page(self.port, origin=f"http://{host}:{self.port}",
                        host=f"{host}:{self.port}")
            self.assertEqual(page.request(v1("list", id=1))["type"], "result")
            page.close()

    def test_an_origin_added_by_the_administrator_is_accepted(self):
        with tempfile.NamedTemporaryFile("w", suffix=".conf", delete=False) as conf:
            conf.write("allow-origin https://Forms.Example.com\n")
        try:
            with Bridge("--config", conf.name) as bridge:
                page = Page(bridge.port, origin="https://forms.example.com:443")
                self.assertEqual(page.request(v1("list"))["type"], "result")
                page.close()
                with self.assertRaises(Refused):
                    Page(bridge.port, origin="https://other.example.com")
        finally:
            os.unlink(conf.name)

    def test_local_network_preflight_is_answered_for_allowed_origins_only(self):
        def preflight(origin, host=None):
            lines = ["OPTIONS /pad HTTP/1.1", f"Host: {host or f'127.0.0.1:{self.port}'}",
                     "Access-Control-Request-Method: GET",
                     "Access-Control-Request-Private-Network: true", "Connection: close"]
            if origin:
                lines.append(f"Origin: {origin}")
            return http_request(self.port, lines)

        own = f"http://localhost:{self.port}"
        status, headers, _ = preflight(own)
        self.assertEqual(status, 204)
        self.assertEqual(headers["access-control-allow-origin"], own)
        self.assertEqual(headers["access-control-allow-private-network"], "true")
        self.assertEqual(headers["vary"], "Origin")
        for origin, host in [("https://evil.example", None), (None, None),
                             (own, f"evil.example:{self.port}")]:
            status, headers, _ = preflight(origin, host)
            self.assertEqual(status, 403)
            self.assertNotIn("access-control-allow-origin", headers)
            self.assertNotIn("access-control-allow-private-network", headers)
        self.assertNoPadCommand()

    def test_the_bridge_listens_on_loopback_only(self):
        ours = []
        for table, family in (("/proc/net/tcp", 4), ("/proc/net/tcp6", 6)):
            if not os.path.exists(table):
                continue
            with open(table) as lines:
                next(lines)
                for line in lines:
                    fields = line.split()
                    address, port = fields[1].split(":")
                    if fields[3] == "0A" and int(port, 16) == self.port:  # LISTEN
                        ours.append((family, address))
        if not ours:
            self.skipTest("no socket table in /proc")
        self.assertIn((4, "0100007F"), ours)
        for family, address in ours:
            self.assertIn(address, ("0100007F", "00000000000000000000000001000000"),
                          f"listening on a non-loopback address {address}")

    def test_page_files_need_the_host_check_and_stay_inside_the_web_folder(self):
        with tempfile.TemporaryDirectory() as root:
            web = os.path.join(root, "web")
            os.mkdir(web)
            with open(os.path.join(web, "index.html"), "w") as page:
                page.write("<title>sign</title>")
            with open(os.path.join(root, "secret.html"), "w") as secret:
                secret.write("secret")
            with Bridge("--web", web) as bridge:
                get = lambda target, host=f"127.0.0.1:{bridge.port}": http_request(
                    bridge.port, [f"GET {target} HTTP/1.1", f"Host: {host}",
                                  "Connection: close"])
                status, headers, body = get("/")
                self.assertEqual((status, body), (200, b"<title>sign</title>"))
                self.assertEqual(headers["x-frame-options"], "DENY")
                self.assertEqual(get("/", host=f"evil.example:{bridge.port}")[0], 403)
                for target in ("/../secret.html", "/%2e%2e/secret.html", "/..%2fsecret.html"):
                    self.assertEqual(get(target)[0], 404, target)
                status, _, _ = http_request(bridge.port, [
                    "POST / HTTP/1.1", f"Host: 127.0.0.1:{bridge.port}", "Content-Length: 0",
                    "Connection: close"])
                self.assertEqual(status, 405)


class Limits(BridgeCase):
    def test_a_text_frame_over_the_limit_closes_the_connection_unparsed(self):
        page = Page(self.port)
        page.send_text(json.dumps(v1("list", pad="x" * (16 * 1024 + 1))))
        with self.assertRaises(ConnectionError):
            page.recv()
        self.assertEqual(page.closed[0], 1009)
        self.assertNoPadCommand()
        self.assertTrue(self.bridge.wait_for_log("a frame over the limit"))
        # Text that is not UTF-8 ends the connection as WebSocket requires (1007).
        page = Page(self.port)
        page.send_text(b'{"v":1,"type":"connect","id":"\xff"}')
        with self.assertRaises(ConnectionError):
            page.recv()
        self.assertEqual(page.closed[0], 1007)
        self.assertNoPadCommand()

    def test_pictures_are_held_to_their_announced_size(self):
        page = Page(self.port)
        self.assertEqual(page.request(v1("connect"))["type"], "result")
        reply = page.request(v1("picture", id=1, size=9 * 1024 * 1024))
        self.assertEqual((reply["code"], reply["id"]), ("too-large", 1))
        # An unannounced binary frame, and one shorter than announced, are refused.
        page.send_binary(b"\x89PNG")
        self.assertEqual(page.recv()["code"], "bad-message")
        page.send(v1("picture", id=2, size=100))
        page.send_binary(b"x" * 99)
        self.assertEqual(page.recv(), dict(v=1, type="error", id=2, code="bad-message",
                                           message="the picture is not the announced size"))
        commands = len(self.bridge.pad_commands())
        # Longer than announced: the frame is not read in, the connection is closed.
        page.send(v1("picture", id=3, size=100))
        page.send_binary(b"x" * 5000)
        with self.assertRaises(ConnectionError):
            while True:
                page.recv()
        self.assertEqual(page.closed[0], 1009)
        self.assertTrue(self.bridge.wait_for_log("released the pad"))
        self.assertEqual([c for c in self.bridge.pad_commands()[commands:]
                          if "picture" in c], [])

    def test_a_thousand_malformed_messages_then_a_good_exchange(self):
        page = Page(self.port)
        bad = [b"", b"{", b"[]", b"null", b'{"v":1}', b'{"v":2,"type":"list"}',
               b'{"v":1,"type":"list","id":{}}', b'{"v":1,"type":"list","id":"\\ud800"}', b'{"v":1,"type":"rm -rf"}',
               b'{"v":1,"type":"picture","size":-1}', b"[" * 5000]
        codes = set()
        for i in range(1000):
            page.send_text(bad[i % len(bad)])
            reply = page.recv()
            self.assertEqual(reply["type"], "error")
            codes.add(reply["code"])
        self.assertLessEqual(codes, {"bad-message", "too-large", "rate"})
        self.assertIn("bad-message", codes)
        self.assertNoPadCommand()
        time.sleep(1.1)  # the rate limit's bucket refills
        self.assertEqual(page.request(v1("connect", id="ok"))["type"], "result")
        self.assertEqual(page.request(v1("info", id="ok"))["pad"]["model"], "ZS-300C")

    def test_a_flood_is_answered_with_rate_errors(self):
        page = Page(self.port)
        for _ in range(400):
            page.send(v1("nothing"))
        codes = [page.recv()["code"] for _ in range(400)]
        self.assertIn("rate", codes)
        self.assertEqual(codes[:200], ["bad-message"] * 200)

    def test_oversized_headers_are_refused(self):
        status, _, _ = http_request(self.port, [
            "GET / HTTP/1.1", f"Host: 127.0.0.1:{self.port}", "X-Filler: " + "y" * 9000])
        self.assertEqual(status, 431)

    def test_a_stop_right_after_start_is_clean(self):
        for _ in range(5):
            with Bridge() as bridge:
                pass
            if not LAUNCHER:
                self.assertEqual(bridge.process.returncode, 0, bridge.log())

    def test_a_taken_port_is_named(self):
        result = subprocess.run(LAUNCHER + [BRIDGE, "--port", str(self.port), "--no-config"],
                                capture_output=True, text=True, timeout=30)
        self.assertEqual(result.returncode, 1)
        self.assertIn(f"port {self.port} is already in use", result.stderr)


class Sessions(BridgeCase):
    def test_one_page_holds_the_pad_others_are_told_busy_until_it_releases(self):
        first, second = Page(self.port), Page(self.port)
        self.assertEqual(first.request(v1("connect"))["type"], "result")
        for kind in ("connect", "list", "info", "clear", "capture-start", "screen"):
            reply = second.request(v1(kind, id=kind))
            self.assertEqual((reply["code"], reply["id"]), ("busy", kind))
        # Releasing without holding the pad touches nothing.
        self.assertEqual(second.request(v1("release"))["type"], "result")
        self.assertEqual(first.request(v1("info"))["type"], "result")
        self.assertEqual(first.request(v1("release"))["type"], "result")
        self.assertEqual(second.request(v1("connect"))["type"], "result")
        self.assertEqual(first.request(v1("info"))["code"], "busy")

    def test_pad_requests_without_a_session_are_told_no_pad(self):
        page = Page(self.port)
        self.assertEqual(page.request(v1("info"))["code"], "no-pad")
        self.assertEqual(page.request(v1("connect", uid=12345))["code"], "no-pad")


    def test_a_page_that_goes_away_mid_capture_releases_the_pad(self):
        for leave in ("close", "drop"):
            with self.subTest(leave=leave):
                page = Page(self.port)
                self.assertEqual(page.request(v1("connect"))["type"], "result")
                self.assertEqual(page.request(v1("capture-start"))["type"], "result")
                self.assertEqual(page.recv()["type"], "samples")
                mark = len(self.bridge.log())
                left = time.monotonic()
                getattr(page, leave)()
                other = Page(self.port)
                self.addCleanup(other.close)
                # The bridge releases the pad as soon as it sees the page gone; the bound
                # here only stops a hang (a loaded machine may take a while to run it). The
                # time it took is reported.
                while True:
                    reply = other.request(v1("connect"))
                    if reply["type"] == "result":
                        break
                    self.assertEqual(reply["code"], "busy")
                    self.assertLess(time.monotonic() - left, 10.0, "the pad was not released")
                    time.sleep(0.02)
                print(f"\n{leave}: the next page had the pad after "
                      f"{(time.monotonic() - left) * 1000:.0f} ms", file=sys.stderr)
                # The log is read from the bridge's standard error on a thread of its own.
                deadline = time.monotonic() + 10
                while not any("released the pad" in line for line in self.bridge.log()[mark:]):
                    self.assertLess(time.monotonic(), deadline, "no release in the log")
                    time.sleep(0.02)
                # The new page's capture starts with its own signature, whole.
                self.assertEqual(other.request(v1("capture-start"))["type"], "result")
                samples = capture_all(other)
                self.assertEqual(len(samples), SCRIPTED_SAMPLES)
                self.assertEqual(other.request(v1("capture-stop"))["sampleCount"],
                                 SCRIPTED_SAMPLES)
                other.close()
                self.assertTrue(self.bridge.wait_for_log("released the pad"))


class Pad(BridgeCase):
    def test_capture_sends_every_sample_in_order_then_ends(self):
        page = Page(self.port)
        self.assertEqual(page.request(v1("connect"))["type"], "result")
        info = page.request(v1("info"))
        self.assertEqual(info["capabilities"]["screenWidth"], 480)
        self.assertEqual(page.request(v1("capture-start", id=5)), dict(v=1, type="result", id=5))
        samples = capture_all(page)
        self.assertEqual(len(samples), SCRIPTED_SAMPLES)
        times = [s[5] for s in samples]
        self.assertEqual(times, sorted(times))
        self.assertTrue(all(0 <= s[0] <= info["capabilities"]["maxX"] for s in samples))
        reply = page.request(v1("capture-stop"))
        self.assertEqual(reply["sampleCount"], SCRIPTED_SAMPLES)
        self.assertEqual(page.events[-1]["type"], "capture-ended")
        self.assertEqual(page.events[-1]["sampleCount"], SCRIPTED_SAMPLES)

    def test_the_signature_holds_the_samples_the_page_received(self):
        page = Page(self.port)
        page.request(v1("connect"))
        self.assertEqual(page.request(v1("signature", formats=["csv"]))["code"], "failed")
        page.request(v1("capture-start"))
        samples = capture_all(page)
        self.assertEqual(page.request(v1("signature", formats=["csv"]))["code"], "failed",
                         "exported while the capture still runs")
        page.request(v1("capture-stop"))
        reply = page.request(v1("signature", id=9, formats=["csv", "png", "svg", "json", "iso"]))
        if reply["type"] == "error" and "not available in this build" in reply["message"]:
            reply = page.request(v1("signature", id=9, formats=["csv"]))
        self.assertEqual(reply["type"], "result", reply)
        self.assertEqual(reply["sampleCount"], SCRIPTED_SAMPLES)
        rows = reply["csv"].strip().split("\n")
        self.assertEqual(rows[0], "x,y,pressure,switches,time_count,time_ms")
        self.assertEqual([[int(v) for v in row.split(",")[:5]] for row in rows[1:]],
                         [s[:5] for s in samples])
        if "png" in reply:
            self.assertEqual(base64.b64decode(reply["png"])[:8], b"\x89PNG\r\n\x1a\n")
            self.assertIn("<svg", reply["svg"])
            self.assertIsInstance(json.loads(reply["json"]), list)
            self.assertEqual(base64.b64decode(reply["iso"])[:4], b"SDI\x00")

    def test_settings_picture_and_screen(self):
        page = Page(self.port)
        page.request(v1("connect"))
        reply = page.request(v1("settings", pen=dict(width=3, colour="#FF0000"), backlight=1,
                                clearColour="#00FF00", area=dict(x1=0, y1=0, x2=479, y2=271)))
        self.assertEqual(reply["applied"], ["pen", "backlight", "clearColour", "area"])
        settings = page.request(v1("info"))["settings"]
        self.assertEqual(settings, dict(pen=dict(width=3, colour="#FF0000"), backlight=1,
                                        clearColour="#00FF00"))
        self.assertEqual(page.request(v1("clear"))["type"], "result")
        picture = blue_png(480, 272)
        page.send(v1("picture", id="p", size=len(picture)))
        page.send_binary(picture)
        self.assertEqual(page.recv(), dict(v=1, type="result", id="p"))
        reply = page.request(v1("screen"))
        screen = page.recv_binary()
        self.assertEqual((reply["width"], reply["height"], reply["size"]),
                         (480, 272, len(screen)))
        self.assertEqual(screen[:8], b"\x89PNG\r\n\x1a\n")
        # Not a picture: the library's refusal comes back as "failed".
        page.send(v1("picture", id="q", size=64))
        page.send_binary(b"\x00" * 64)
        reply = page.recv()
        self.assertEqual((reply["code"], reply["id"]), ("failed", "q"))


def blue_png(width, height):
    import zlib
    rows = b"".join(b"\x00" + b"\x20\x40\xc0" * width for _ in range(height))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


if __name__ == "__main__":
    unittest.main()
