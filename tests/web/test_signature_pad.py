"""signature_pad's fromData() takes what zeltablet.js's toSignaturePadData() gives, and that
is the same drawing as the bridge's own JSON export of the capture.

    test_signature_pad.py --bridge PROGRAM --web DIR --cache DIR --out DIR

signature_pad comes from the npm registry (`npm pack`) into --cache at the first run; without
npm or the registry the test is skipped.
"""

import glob
import json
import os
import subprocess
import tarfile
import unittest

import webtest
from test_signing_page import settle_capture

ARGS = None
PACKAGE = "signature_pad@5"
SCRIPT = "package/dist/signature_pad.umd.min.js"


def signature_pad_source(cache):
    os.makedirs(cache, exist_ok=True)
    packed = sorted(glob.glob(os.path.join(cache, "signature_pad-*.tgz")))
    if not packed:
        try:
            subprocess.run(["npm", "pack", PACKAGE, "--pack-destination", cache, "--silent"],
                           check=True, timeout=120, capture_output=True)
        except (OSError, subprocess.SubprocessError) as error:
            webtest.skip(f"signature_pad could not be fetched from npm: {error}")
        packed = sorted(glob.glob(os.path.join(cache, "signature_pad-*.tgz")))
    with tarfile.open(packed[-1]) as archive:
        return archive.extractfile(SCRIPT).read().decode("utf-8")


class FromData(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.source = signature_pad_source(ARGS.cache)
        cls.bridge = webtest.Bridge(ARGS.bridge, ARGS.web, log_dir=ARGS.out).__enter__()
        cls.driver = webtest.chromium(1280, 800)
        cls.driver.set_script_timeout(30)
        cls.driver.get(cls.bridge.url("/"))
        settle_capture(cls.driver)
        # Accept ends the capture, whose signature the bridge then exports.
        cls.driver.find_element("id", "accept").click()
        status = cls.driver.find_element("id", "status")
        webtest.wait_for(lambda: "accepted" in status.text,
                         what=lambda: f"the accepted status; the page says: {status.text}")
        # signature_pad as a page would load it: a classic script defining SignaturePad.
        cls.driver.execute_script("""
            const script = document.createElement("script");
            script.textContent = arguments[0];
            document.head.appendChild(script);""", cls.source)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        cls.bridge.__exit__(None, None, None)

    def load(self, data):
        """fromData(data) on a fresh pad: what toData() gives back and the inked pixels."""
        return self.driver.execute_script("""
            const canvas = document.createElement("canvas");
            canvas.width = 480; canvas.height = 272;
            document.body.appendChild(canvas);
            const pad = new SignaturePad(canvas);
            try {
                pad.fromData(arguments[0]);
            } catch (error) {
                return { error: String(error) };
            }
            const pixels = canvas.getContext("2d").getImageData(0, 0, 480, 272).data;
            let inked = 0;
            for (let i = 3; i < pixels.length; i += 4) if (pixels[i] > 0) inked++;
            canvas.remove();
            return { back: pad.toData(), empty: pad.isEmpty(), inked };""", data)

    def test_from_data_takes_the_client_data(self):
        data = self.driver.execute_script(
            "return window.signingPage.client.toSignaturePadData()")
        self.assertGreater(len(data), 0)
        result = self.load(data)
        self.assertNotIn("error", result)
        self.assertFalse(result["empty"])
        self.assertGreater(result["inked"], 200, "fromData drew no ink")
        self.assertEqual([len(g["points"]) for g in result["back"]],
                         [len(g["points"]) for g in data])

    def test_client_data_is_the_bridge_export(self):
        driver = self.driver
        exported = driver.execute_async_script("""
            const done = arguments[arguments.length - 1];
            window.signingPage.client.signature(["json"]).then(
                (f) => f.json.text().then(done), (e) => done("error: " + e.code));""")
        bridge = json.loads(exported)
        client = driver.execute_script("return window.signingPage.client.toSignaturePadData()")
        self.assertNotIn("error", self.load(bridge), "fromData refuses the bridge's JSON")
        self.assertEqual([len(g["points"]) for g in client], [len(g["points"]) for g in bridge])
        offsets = []
        for mine, theirs in zip(client, bridge):
            for option in ("minWidth", "maxWidth"):
                self.assertAlmostEqual(mine[option], theirs[option], places=6, msg=option)
            self.assertEqual(mine["penColor"].lower(), theirs["penColor"].lower())
            for a, b in zip(mine["points"], theirs["points"]):
                self.assertAlmostEqual(a["x"], b["x"], delta=0.01)
                self.assertAlmostEqual(a["y"], b["y"], delta=0.01)
                self.assertAlmostEqual(a["pressure"], b["pressure"], delta=0.001)
                offsets.append(a["time"] - b["time"])
        # Both count time from the capture's start: the page from when it asked, the bridge
        # from when it began, a few milliseconds apart but by the same amount throughout.
        self.assertLess(abs(offsets[0]), 2000, "the times count from the capture's start")
        self.assertLess(max(offsets) - min(offsets), 2.0)

    def test_from_data_refuses_nothing_the_client_can_give(self):
        # Edge shapes: a capture without ink and a single dot.
        self.assertEqual(self.load([])["empty"], True)
        dot = self.driver.execute_async_script("""
            const done = arguments[arguments.length - 1];
            import("/zeltablet.js").then((m) => done(m.toSignaturePadData(
                [{x: 7000, y: 4000, pressure: 900, timeMs: 1}, {x: 0, y: 0, pressure: 0, timeMs: 2}],
                window.signingPage.client.capabilities, Date.now())));""")
        self.assertEqual(len(dot), 1)
        result = self.load(dot)
        self.assertNotIn("error", result)
        self.assertGreater(result["inked"], 0, "a one-point stroke is a dot")


def main():
    global ARGS
    ARGS, rest = webtest.parse_arguments("--cache")
    webtest.run_tests(rest)


if __name__ == "__main__":
    main()
