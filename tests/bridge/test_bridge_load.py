"""Load: 50 pages connect, are told "busy" and leave, over and over for a minute, while one
page captures signature after signature. The capturing page loses no sample, and the bridge's
memory and descriptors stay flat. ZEL_BRIDGE_LOAD_SECONDS shortens or lengthens the minute."""

import os
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from bridge_client import LAUNCHER, Bridge, Page, Refused  # noqa: E402
from test_bridge import SCRIPTED_SAMPLES, capture_all, v1  # noqa: E402

SECONDS = float(os.environ.get("ZEL_BRIDGE_LOAD_SECONDS", "60"))
VISITORS = 50


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def descriptors(pid):
    return len(os.listdir(f"/proc/{pid}/fd"))


class Load(unittest.TestCase):
    def test_fifty_busy_pages_in_a_loop_while_one_captures(self):
        if not os.path.isdir("/proc/self/fd") or LAUNCHER:
            self.skipTest("needs /proc and the bridge as a process of its own")
        with Bridge() as bridge:
            pid = bridge.process.pid
            holder = Page(bridge.port)
            self.assertEqual(holder.request(v1("connect"))["type"], "result")
            stop = threading.Event()
            told_busy = [0] * VISITORS
            failures = []

            def visitor(index):
                leave_by_drop = index % 2 == 0
                while not stop.is_set():
                    try:
                        page = Page(bridge.port)
                        reply = page.request(v1("connect", id=index))
                        if reply.get("code") != "busy":
                            failures.append(reply)
                            return
                        told_busy[index] += 1
                        page.drop() if leave_by_drop else page.close()
                    except (OSError, Refused) as error:
                        failures.append(repr(error))
                        return

            reference = None
            captures = 0
            baseline = None
            visitors = [threading.Thread(target=visitor, args=(i,), daemon=True)
                        for i in range(VISITORS)]
            for thread in visitors:
                thread.start()
            start = time.monotonic()
            while time.monotonic() - start < SECONDS and not failures:
                self.assertEqual(holder.request(v1("capture-start"))["type"], "result")
                samples = capture_all(holder)
                reply = holder.request(v1("capture-stop"))
                self.assertEqual(len(samples), SCRIPTED_SAMPLES, "a sample was lost")
                self.assertEqual(reply["sampleCount"], SCRIPTED_SAMPLES)
                pen = [s[:4] for s in samples]  # times differ; the pen's path may not
                if reference is None:
                    reference = pen
                self.assertEqual(pen, reference)
                captures += 1
                if baseline is None and time.monotonic() - start > min(10, SECONDS / 4):
                    baseline = (resident_kib(pid), descriptors(pid))
            stop.set()
            for thread in visitors:
                thread.join(15)
            self.assertEqual(failures, [])
            self.assertTrue(all(count > 0 for count in told_busy), told_busy)
            self.assertGreater(captures, 1)
            # Pages gone, the bridge gives back what they held.
            time.sleep(1.0)
            end = (resident_kib(pid), descriptors(pid))
            print(f"\n{captures} captures, {sum(told_busy)} busy pages; RSS {baseline[0]} -> "
                  f"{end[0]} KiB, descriptors {baseline[1]} -> {end[1]}", file=sys.stderr)
            self.assertLessEqual(end[1], baseline[1], "descriptors leaked")
            if os.environ.get("ZEL_MEMORY_BOUNDED", "1") == "1":
                self.assertLess(end[0], baseline[0] * 1.25 + 4096, "memory grew")
            holder.close()


if __name__ == "__main__":
    unittest.main()
