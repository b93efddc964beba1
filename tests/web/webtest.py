"""Shared pieces of the browser tests: the bridge on a free port, headless chromium, PNG
pixels and ink masks.

Every test program exits 77 (ctest's "skipped") when chromium, chromedriver or selenium is
missing, and 1 with a message when something it needs is broken.
"""

import argparse
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request
import zlib

SKIP = 77

# Headless chromium as the tests run it: no sandbox (root in CI), no GPU, /tmp for shared
# memory, a throwaway profile.
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage"]


def skip(reason):
    print(f"SKIPPED: {reason}")
    sys.exit(SKIP)


def require_browser():
    """chromium, chromedriver and selenium, or the program ends as skipped."""
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    driver = shutil.which("chromedriver")
    if not chromium or not driver:
        skip("chromium and chromedriver are needed (Debian: chromium chromium-driver)")
    try:
        import selenium  # noqa: F401
    except ImportError:
        skip("python3-selenium is needed")
    return chromium, driver


class Bridge:
    """zeltablet-bridge --simulate on a free port, its log (standard output and error) kept
    in a file of `log_dir`."""

    def __init__(self, program, web_dir, extra=(), log_dir=None):
        self.program = program
        self.web_dir = web_dir
        self.extra = list(extra)
        self.log_dir = log_dir or tempfile.mkdtemp(prefix="zel-bridge-")
        self.process = None
        self.port = None
        self.log_path = None

    def __enter__(self):
        # Port 0: the bridge takes a free port and prints its address, so no other program
        # can take the port between our choosing it and the bridge binding it.
        descriptor, self.log_path = tempfile.mkstemp(prefix="bridge-", suffix=".log",
                                                     dir=self.log_dir)
        os.close(descriptor)
        with open(self.log_path, "wb") as log:
            self.process = subprocess.Popen(
                [self.program, "--simulate", "--port", "0", "--web", self.web_dir,
                 "--verbose"] + self.extra,
                stdout=log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline and self.process.poll() is None:
            found = re.search(r"http://127\.0\.0\.1:(\d+)/", self.log())
            if found:
                self.port = int(found.group(1))
                if self._answers():
                    return self
            time.sleep(0.05)
        self.__exit__()
        raise RuntimeError(f"the bridge did not start; its log:\n{self.log()}")

    def _answers(self):
        try:
            with urllib.request.urlopen(self.url("/"), timeout=2) as answer:
                return answer.status == 200
        except OSError:
            return False

    def __exit__(self, *exc):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()

    def url(self, path="/"):
        return f"http://127.0.0.1:{self.port}{path}"

    def log(self):
        with open(self.log_path, "rb") as f:
            return f.read().decode("utf-8", "replace")


def chromium(width=1280, height=800, download_dir=None):
    """A headless chromium showing a viewport of width x height CSS pixels at scale 1."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    chromium_path, driver_path = require_browser()
    options = webdriver.ChromeOptions()
    options.binary_location = chromium_path
    for flag in CHROMIUM_FLAGS:
        options.add_argument(flag)
    options.add_argument("--user-data-dir=" + tempfile.mkdtemp(prefix="zel-chromium-"))
    options.add_argument(f"--window-size={width},{height}")
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    if download_dir:
        options.add_experimental_option("prefs", {
            "download.default_directory": download_dir,
            "download.prompt_for_download": False,
        })
    driver = webdriver.Chrome(service=Service(driver_path), options=options)
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
        "width": width, "height": height, "deviceScaleFactor": 1, "mobile": False})
    if download_dir:
        driver.execute_cdp_cmd("Page.setDownloadBehavior",
                               {"behavior": "allow", "downloadPath": download_dir})
    return driver


def wait_for(condition, timeout=20, step=0.05, what="a condition"):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(step)
    raise AssertionError(f"timed out waiting for {what() if callable(what) else what}")


# ---- PNG pixels --------------------------------------------------------------------------


def read_png(data):
    """(width, height, rows of RGBA tuples) of an 8-bit, non-interlaced PNG."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG")
    pos, idat, header = 8, b"", None
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            break
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    channels = {0: 1, 2: 3, 4: 2, 6: 4}.get(colour)
    if depth != 8 or channels is None or interlace:
        raise ValueError(f"PNG kind not handled here: depth {depth}, colour {colour}")
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + ((left + up) >> 1)) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                predictor = left if pa <= pb and pa <= pc else (up if pb <= pc else corner)
                line[i] = (line[i] + predictor) & 255
        previous = line
        row = []
        for x in range(width):
            px = line[x * channels:(x + 1) * channels]
            if channels == 1:
                row.append((px[0], px[0], px[0], 255))
            elif channels == 2:
                row.append((px[0], px[0], px[0], px[1]))
            elif channels == 3:
                row.append((px[0], px[1], px[2], 255))
            else:
                row.append(tuple(px))
        rows.append(row)
    return width, height, rows


def ink_mask(png_bytes, threshold=50, frame=0):
    """The set of (x, y) whose pixel, laid over white, is darker than `threshold` levels;
    `frame` pixels along the edges are left out (an element's border in a screenshot)."""
    width, height, rows = read_png(png_bytes)
    mask = set()
    for y, row in enumerate(rows):
        if y < frame or y >= height - frame:
            continue
        for x, (r, g, b, a) in enumerate(row):
            if x < frame or x >= width - frame:
                continue
            darkness = (765 - (r + g + b)) * a / 255 / 3
            if darkness > threshold:
                mask.add((x, y))
    return mask


def _bounds(mask):
    xs = [p[0] for p in mask]
    ys = [p[1] for p in mask]
    return min(xs), min(ys), max(xs), max(ys)


def _dilate(mask, radius):
    grown = set()
    for x, y in mask:
        for dx in range(-radius, radius + 1):
            for dy in range(-radius, radius + 1):
                grown.add((x + dx, y + dy))
    return grown


def aligned_iou(a, b, radius=2):
    """Intersection over union of two ink masks after mapping b's bounding box onto a's
    (nearest neighbour), each grown by `radius` pixels so that a one-pixel shift of an
    anti-aliased edge does not count as different ink."""
    if not a or not b:
        return 0.0
    ax0, ay0, ax1, ay1 = _bounds(a)
    bx0, by0, bx1, by1 = _bounds(b)
    sx = (ax1 - ax0) / max(1, bx1 - bx0)
    sy = (ay1 - ay0) / max(1, by1 - by0)
    mapped = {(round(ax0 + (x - bx0) * sx), round(ay0 + (y - by0) * sy)) for x, y in b}
    a_grown, b_grown = _dilate(a, radius), _dilate(mapped, radius)
    return len(a_grown & b_grown) / len(a_grown | b_grown)


def parse_arguments(*extra):
    """The options every browser test takes (--bridge, --web, --out) and `extra` ones, all
    required; checks the browser is there (else exits as skipped) and makes the output folder.
    Returns the options and the arguments left for unittest."""
    parser = argparse.ArgumentParser()
    for name in ("--bridge", "--web", "--out") + extra:
        parser.add_argument(name, required=True)
    arguments, rest = parser.parse_known_args()
    require_browser()
    os.makedirs(arguments.out, exist_ok=True)
    return arguments, rest


def run_tests(rest):
    """Runs the test cases of the program being run."""
    unittest.main(module="__main__", argv=[sys.argv[0]] + rest, verbosity=2)
