"""The signing page in headless chromium against `zeltablet-bridge --simulate`.

    test_signing_page.py --bridge PROGRAM --web DIR --files web_signature_files --out DIR

The virtual pad signs a scripted signature when the page starts a capture. The cases check
that every sample reaches the page in order, that the ink the page draws is the ink of the
signature library's own PNG of the same samples, that Accept downloads files the library
reads back as the same samples, the keyboard path, the busy page and the two window sizes.
Screenshots and the reference PNG are left in --out for a person to look at.
"""

import os
import subprocess
import tempfile
import time
import unittest

import webtest

ARGS = None

# Ink of the page's canvas against the library's PNG: the masks' intersection over union,
# bounding boxes aligned and each mask grown by 2 px, must reach this. Both draw the same
# pressure-width strokes, the page as joined segments and the library as smoothed outlines,
# so edges differ by a pixel or so; a wrong mapping (axes, scale, offset) or missing strokes
# fall far below.
INK_IOU_MINIMUM = 0.70


def settle_capture(driver, quiet_seconds=1.0, timeout=30):
    """Waits until the scripted signature has been signed: samples arrived and none for a
    while. Returns the page's samples."""
    last, since = -1, time.monotonic()
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        count = driver.execute_script("return window.signingPage.received.length")
        if count != last:
            last, since = count, time.monotonic()
        elif count > 0 and time.monotonic() - since >= quiet_seconds:
            return driver.execute_script("return window.signingPage.received")
        time.sleep(0.1)
    raise AssertionError("the scripted signature did not arrive")


def bridge_signature(driver, formats):
    """The bridge's export of the last capture, fetched through the page's own client."""
    return driver.execute_async_script("""
        const done = arguments[arguments.length - 1];
        window.signingPage.client.signature(arguments[0]).then(async (files) => {
            const texts = {};
            for (const [format, blob] of Object.entries(files)) texts[format] = await blob.text();
            done(texts);
        }, (e) => done({ error: e.code + ": " + e.message }));
    """, formats)


def pad_spec(driver):
    space = driver.execute_script("""
        const s = window.signingPage.space;
        return [s.maxX, s.maxY, s.maxPressure + 1, s.screenWidth, s.screenHeight];""")
    return "163," + ",".join(str(v) for v in space), space


def library_samples(path, fmt, pad):
    out = subprocess.run([ARGS.files, "samples", path, fmt, pad], capture_output=True,
                         text=True, check=True).stdout
    return [tuple(float(v) for v in line.split()) for line in out.splitlines()]


def strokes(samples):
    """Runs of samples with pressure, as lists of (x, y, pressure)."""
    runs, current = [], []
    for s in samples:
        if s[2] > 0:
            current.append(s)
        elif current:
            runs.append(current)
            current = []
    if current:
        runs.append(current)
    return runs


class SigningPage(unittest.TestCase):
    """One capture of the scripted signature, accepted; the cases look at it in turn."""

    @classmethod
    def setUpClass(cls):
        cls.downloads = tempfile.mkdtemp(prefix="zel-downloads-")
        cls.bridge = webtest.Bridge(ARGS.bridge, ARGS.web, log_dir=ARGS.out).__enter__()
        cls.driver = webtest.chromium(1280, 800, download_dir=cls.downloads)
        cls.driver.set_script_timeout(30)
        cls.driver.get(cls.bridge.url("/"))
        cls.samples = settle_capture(cls.driver)
        cls.pad, cls.space = pad_spec(cls.driver)
        # The live ink, as the page drew it while the pen moved (the mirror hidden: the ink
        # canvas alone).
        cls.driver.execute_script("document.getElementById('mirror').style.visibility = 'hidden'")
        canvas = cls.driver.find_element("id", "ink")
        cls.canvas_png = canvas.screenshot_as_png
        cls.canvas_scale = canvas.size["width"] / cls.space[3]
        cls.driver.execute_script("document.getElementById('mirror').style.visibility = ''")
        cls.driver.find_element("id", "accept").click()
        status = cls.driver.find_element("id", "status")
        webtest.wait_for(lambda: "accepted" in status.text,
                         what=lambda: f"the accepted status; the page says: {status.text}")
        cls.exported = bridge_signature(cls.driver, ["csv"])

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        cls.bridge.__exit__(None, None, None)

    def status(self):
        return self.driver.find_element("id", "status").text

    def test_1_every_sample_arrives_in_order(self):
        self.assertEqual(self.driver.execute_script("return window.signingPage.gaps"), [])
        self.assertNotIn("error", self.exported)
        rows = [line.split(",") for line in self.exported["csv"].strip().splitlines()[1:]]
        bridge_side = [tuple(int(v) for v in row[:5]) for row in rows]
        page_side = [tuple(int(v) for v in s[:5]) for s in self.samples]
        self.assertGreater(len(page_side), 50, "the scripted signature is longer than this")
        self.assertEqual(page_side, bridge_side)
        times = [s[5] for s in self.samples]
        self.assertEqual(times, sorted(times), "sample times go backwards")

    def test_2_live_ink_matches_the_library_png(self):
        csv_path = os.path.join(ARGS.out, "page-signature.csv")
        with open(csv_path, "w") as f:
            f.write(self.exported["csv"])
        reference_path = os.path.join(ARGS.out, "library-signature.png")
        subprocess.run([ARGS.files, "png", csv_path, "csv", self.pad,
                        f"{self.canvas_scale:.6f}", reference_path], check=True)
        with open(os.path.join(ARGS.out, "page-canvas.png"), "wb") as f:
            f.write(self.canvas_png)
        with open(reference_path, "rb") as f:
            reference = f.read()
        # The screen's border and rounded corners touch the canvas's outermost pixels.
        page_ink = webtest.ink_mask(self.canvas_png, frame=4)
        iou = webtest.aligned_iou(page_ink, webtest.ink_mask(reference))
        print(f"ink IoU page canvas vs library PNG: {iou:.3f} (minimum {INK_IOU_MINIMUM})")
        self.assertGreaterEqual(iou, INK_IOU_MINIMUM)

    def test_3_accept_downloads_files_the_library_reads_back(self):
        driver = self.driver
        names = {"png": "signature.png", "svg": "signature.svg", "iso": "signature.iso",
                 "json": "signature.json"}
        for fmt in names:
            driver.find_element("id", f"download-{fmt}").click()
        paths = {fmt: os.path.join(self.downloads, name) for fmt, name in names.items()}
        webtest.wait_for(lambda: all(os.path.exists(p) for p in paths.values()) and not any(
            n.endswith(".crdownload") for n in os.listdir(self.downloads)),
            what="the four downloads")
        driver.save_screenshot(os.path.join(ARGS.out, "desktop-accepted.png"))

        page = [tuple(int(v) for v in s[:3]) for s in self.samples]
        iso = library_samples(paths["iso"], "iso", self.pad)
        # The ISO record keeps pen units and every sample.
        self.assertEqual([tuple(int(v) for v in s[:3]) for s in iso], page)
        # The JSON keeps strokes in CSS pixels: back in pen units within rounding.
        json_strokes = strokes(library_samples(paths["json"], "json", self.pad))
        page_strokes = strokes(page)
        self.assertEqual([len(s) for s in json_strokes], [len(s) for s in page_strokes])
        for got_stroke, want_stroke in zip(json_strokes, page_strokes):
            for got, want in zip(got_stroke, want_stroke):
                self.assertLessEqual(abs(got[0] - want[0]), 1, (got, want))
                self.assertLessEqual(abs(got[1] - want[1]), 1, (got, want))
                self.assertLessEqual(abs(got[2] - want[2]), 1, (got, want))
        with open(paths["png"], "rb") as f:
            self.assertTrue(webtest.ink_mask(f.read()), "the PNG download shows no ink")
        with open(paths["svg"], encoding="utf-8") as f:
            self.assertIn("<svg", f.read())

    def test_4_sign_again_starts_a_new_capture(self):
        driver = self.driver
        driver.find_element("id", "again").click()
        webtest.wait_for(lambda: "Please sign" in self.status(), what="a new capture")
        again = settle_capture(driver)
        # The same script again (the pad's time count runs on).
        self.assertEqual([s[:4] for s in again], [s[:4] for s in self.samples],
                         "the virtual pad signs the same script again")
        self.assertEqual(driver.execute_script("return window.signingPage.gaps"), [])
        self.assertFalse(driver.find_element("id", "downloads").is_displayed())


class Keyboard(unittest.TestCase):
    def setUp(self):
        self.bridge = webtest.Bridge(ARGS.bridge, ARGS.web, log_dir=ARGS.out).__enter__()
        self.driver = webtest.chromium(1280, 800)
        self.driver.get(self.bridge.url("/"))
        settle_capture(self.driver)

    def tearDown(self):
        self.driver.quit()
        self.bridge.__exit__(None, None, None)

    def focused_id(self):
        return self.driver.execute_script("return document.activeElement.id")

    def tab(self):
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.keys import Keys
        ActionChains(self.driver).send_keys(Keys.TAB).perform()

    def test_tab_order_visible_focus_and_announced_status(self):
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.keys import Keys
        driver = self.driver
        status = driver.find_element("id", "status")
        self.assertEqual(status.get_attribute("aria-live"), "polite")
        self.tab()
        self.assertEqual(self.focused_id(), "clear")
        outline = driver.execute_script(
            "const s = getComputedStyle(document.activeElement);"
            "return [s.outlineStyle, parseFloat(s.outlineWidth)]")
        self.assertNotEqual(outline[0], "none")
        self.assertGreaterEqual(outline[1], 2)
        driver.save_screenshot(os.path.join(ARGS.out, "keyboard-focus.png"))
        self.tab()
        self.assertEqual(self.focused_id(), "accept")
        ActionChains(driver).send_keys(Keys.ENTER).perform()
        webtest.wait_for(lambda: "accepted" in status.text,
                         what=lambda: f"Accept by keyboard; the page says: {status.text}")
        # Focus goes to the downloads, whose links follow in order.
        self.assertEqual(self.focused_id(), "download-png")
        for expected in ["download-svg", "download-iso", "download-json", "again"]:
            self.tab()
            self.assertEqual(self.focused_id(), expected)
        ActionChains(driver).send_keys(Keys.ENTER).perform()
        webtest.wait_for(lambda: "Please sign" in status.text, what="Sign again by keyboard")
        self.assertEqual(self.focused_id(), "accept")

    def test_clear_restarts_the_signature_on_both_sides(self):
        driver = self.driver
        before = driver.execute_script("return window.signingPage.received.length")
        driver.find_element("id", "clear").click()
        webtest.wait_for(lambda: "Cleared" in driver.find_element("id", "status").text,
                         what="the cleared status")
        after = settle_capture(driver)
        self.assertEqual(len(after), before, "the new capture holds the script once, alone")
        self.assertEqual(driver.execute_script("return window.signingPage.gaps"), [])
        self.assertIn("clear", self.bridge.log())


class BusyPad(unittest.TestCase):
    def test_second_page_is_told_busy_and_takes_the_pad_when_the_first_closes(self):
        with webtest.Bridge(ARGS.bridge, ARGS.web, log_dir=ARGS.out) as bridge:
            first = webtest.chromium(1280, 800)
            second = webtest.chromium(390, 844)
            try:
                first.get(bridge.url("/"))
                settle_capture(first)
                second.get(bridge.url("/"))
                status = lambda: second.find_element("id", "status").text  # noqa: E731
                webtest.wait_for(lambda: "in use" in status(), what="the busy status")
                self.assertTrue(second.find_element("id", "accept").get_attribute("disabled"))
                second.save_screenshot(os.path.join(ARGS.out, "phone-busy.png"))
                first.quit()
                first = None
                webtest.wait_for(lambda: "Please sign" in status(), timeout=30,
                                 what="the second page taking the pad")
                self.assertGreater(len(settle_capture(second)), 50)
            finally:
                if first:
                    first.quit()
                second.quit()


class Layout(unittest.TestCase):
    def check_layout(self, width, height, name):
        with webtest.Bridge(ARGS.bridge, ARGS.web, log_dir=ARGS.out) as bridge:
            driver = webtest.chromium(width, height)
            try:
                driver.get(bridge.url("/"))
                settle_capture(driver)
                box = driver.execute_script("""
                    const r = (id) => document.getElementById(id).getBoundingClientRect();
                    return { scroll: document.documentElement.scrollWidth,
                             width: innerWidth, height: innerHeight,
                             screen: r("screen"), clear: r("clear"), accept: r("accept") };""")
                self.assertLessEqual(box["scroll"], box["width"], "no sideways scrolling")
                for part in ("screen", "clear", "accept"):
                    r = box[part]
                    self.assertGreaterEqual(r["left"], 0, part)
                    self.assertLessEqual(r["right"], box["width"], part)
                    self.assertLessEqual(r["bottom"], box["height"], f"{part} below the fold")
                for button in ("clear", "accept"):
                    self.assertGreaterEqual(box[button]["height"], 44, "a finger-sized button")
                driver.save_screenshot(os.path.join(ARGS.out, f"{name}-signing.png"))
            finally:
                driver.quit()

    def test_phone(self):
        self.check_layout(390, 844, "phone")

    def test_desktop(self):
        self.check_layout(1280, 800, "desktop")


def main():
    global ARGS
    ARGS, rest = webtest.parse_arguments("--files")
    webtest.run_tests(rest)


if __name__ == "__main__":
    main()
