"""A page of another origin, served from a second local port, opens the bridge's WebSocket
in a real browser: refused at the handshake, before any pad command, while the bridge's own
page still gets the pad. With that origin on the allow-list the same page gets through, so
the refusal is the list's doing.

    test_origin_refused.py --bridge PROGRAM --web DIR --out DIR
"""

import http.server
import threading
import unittest

import webtest
from test_signing_page import settle_capture

ARGS = None

PROBE = """<!doctype html><meta charset="utf-8"><title>other site</title><script>
window.events = [];
const socket = new WebSocket("ws://127.0.0.1:%d/pad");
socket.onopen = () => {
  window.events.push("open");
  socket.send(JSON.stringify({ v: 1, type: "connect", id: 1 }));
};
socket.onmessage = (e) => {
  window.events.push("message " + JSON.parse(e.data).type);
  socket.close();
};
socket.onerror = () => window.events.push("error");
socket.onclose = () => { window.events.push("close"); window.done = true; };
</script>"""


class OtherSite:
    """A one-page web site on its own loopback port: another origin to the browser. Its page
    opens the socket of the bridge on `bridge_port`, set once the bridge runs."""

    def __init__(self):
        self.bridge_port = 0
        site = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                page = (PROBE % site.bridge_port).encode()
                self.send_response(200)
                self.send_header("Content-Type", "text/html")
                self.send_header("Content-Length", str(len(page)))
                self.end_headers()
                self.wfile.write(page)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.origin = f"http://127.0.0.1:{self.server.server_port}"
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.server.shutdown()
        self.server.server_close()


def probe(driver, site):
    driver.get(site.origin + "/")
    webtest.wait_for(lambda: driver.execute_script("return window.done === true"),
                     what="the other site's socket to end")
    return driver.execute_script("return window.events")


class OtherOrigin(unittest.TestCase):
    def setUp(self):
        self.driver = webtest.chromium(1280, 800)

    def tearDown(self):
        self.driver.quit()

    def test_refused_before_any_pad_command(self):
        with OtherSite() as site, webtest.Bridge(ARGS.bridge, ARGS.web,
                                                 log_dir=ARGS.out) as bridge:
            site.bridge_port = bridge.port
            events = probe(self.driver, site)
            self.assertNotIn("open", events)
            self.assertEqual(events[-1], "close")
            log = bridge.log()
            self.assertIn(site.origin, log, "the refusal is logged with the origin")
            # With --verbose the bridge logs every pad command; none was run for the probe.
            self.assertIn("refused", log)
            self.assertNotIn("pad command", log)
            # Nothing was held: the bridge's own page gets the pad and signs.
            self.driver.get(bridge.url("/"))
            self.assertGreater(len(settle_capture(self.driver)), 50)

    def test_the_same_page_gets_through_once_its_origin_is_allowed(self):
        with OtherSite() as site, webtest.Bridge(ARGS.bridge, ARGS.web, log_dir=ARGS.out,
                                                 extra=["--allow-origin", site.origin]) as bridge:
            site.bridge_port = bridge.port
            events = probe(self.driver, site)
            self.assertEqual(events[:2], ["open", "message result"])


def main():
    global ARGS
    ARGS, rest = webtest.parse_arguments()
    webtest.run_tests(rest)


if __name__ == "__main__":
    main()
