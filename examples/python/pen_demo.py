#!/usr/bin/env python3
"""Pen samples from a virtual pad through ZELTabletCore, using ctypes and nothing else.

The demo loads the library, switches the virtual pads on, attaches one, lists the pads,
connects, queues a pen stroke on the virtual pad and prints every sample the pen callback
receives. It also passes the write end of a pipe as the notification target and counts the
notification records. It exits with status 0 when every queued sample arrived, in order and
unchanged, and 1 otherwise.

    python3 pen_demo.py [--library PATH] [--points N]

Without --library the library is looked up as the system's loader finds it
(libZELTabletCore.so.0, e.g. after `cmake --install` and `ldconfig`).
"""

import argparse
import ctypes
import ctypes.util
import fcntl
import os
import select
import struct
import sys
import threading
import time

PEN_MESSAGE = 0x5F4
NOTIFICATION = struct.Struct("<IIQQ")  # message, 0, wParam (report ID), lParam
PAD_PRODUCT_ID = 0xA2
PAD_UID = 0x0D3E0001


class DeviceEntry(ctypes.Structure):
    _fields_ = [("vendorId", ctypes.c_uint32), ("productId", ctypes.c_uint32),
                ("uid", ctypes.c_uint32)]


class Capabilities(ctypes.Structure):
    _fields_ = [("valid", ctypes.c_uint32), ("capability1", ctypes.c_uint32),
                ("capability2", ctypes.c_uint32), ("capability3", ctypes.c_uint32),
                ("screenWidth", ctypes.c_uint32), ("screenHeight", ctypes.c_uint32)]


class PenSample(ctypes.Structure):
    _fields_ = [("x", ctypes.c_uint32), ("y", ctypes.c_uint32), ("pressure", ctypes.c_uint32),
                ("switches", ctypes.c_uint32), ("timeCount", ctypes.c_uint32)]


class SimulatorPenPoint(ctypes.Structure):
    _fields_ = [("delayMs", ctypes.c_uint32), ("x", ctypes.c_uint32), ("y", ctypes.c_uint32),
                ("pressure", ctypes.c_uint32), ("switches", ctypes.c_uint32),
                ("ready", ctypes.c_uint32)]


# ZELWindow is an intptr_t on POSIX systems: a file descriptor, 0 for none.
ZELWindow = ctypes.c_ssize_t
PenCallbackExt = ctypes.CFUNCTYPE(ctypes.c_int, PenSample, ctypes.c_void_p)


def load_library(path):
    """Loads the library and declares the functions the demo calls."""
    lib = ctypes.CDLL(path or ctypes.util.find_library("ZELTabletCore")
                      or "libZELTabletCore.so.0")
    signatures = {
        "SimulatorEnable": (ctypes.c_bool, []),
        "SimulatorDisable": (ctypes.c_bool, []),
        "SimulatorAttachPad": (ctypes.c_int32, [ctypes.c_uint32, ctypes.c_uint32]),
        "SimulatorQueueStroke": (ctypes.c_bool, [ctypes.c_int32,
                                                 ctypes.POINTER(SimulatorPenPoint),
                                                 ctypes.c_uint32]),
        "listDevices": (ctypes.POINTER(DeviceEntry), [ZELWindow, ctypes.c_uint32,
                                                      ctypes.c_int32]),
        "ConnectByUid": (ctypes.c_bool, [ZELWindow, ctypes.c_uint32, ctypes.c_int32,
                                         ctypes.c_uint32]),
        "Disconnect": (ctypes.c_int, []),
        # A malloc'ed string: kept as a pointer so that it can be freed.
        "GetModelNumber": (ctypes.c_void_p, []),
        "GetUID": (ctypes.c_uint32, []),
        "GetCapabilities": (Capabilities, []),
        "onCDllCallback_ext": (ctypes.c_int, [PenCallbackExt, ctypes.c_void_p]),
    }
    for name, (restype, argtypes) in signatures.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes
    return lib


# The C library's free(), for the memory listDevices and GetModelNumber hand over.
libc = ctypes.CDLL(None)
libc.free.argtypes = [ctypes.c_void_p]
libc.free.restype = None


def list_pads(lib):
    entries = lib.listDevices(0, 0, 0)
    if not entries:
        return []
    pads = []
    for i in range(10):  # at most ten entries, ended by an all-zero one
        entry = entries[i]
        if entry.vendorId == 0 and entry.productId == 0 and entry.uid == 0:
            break
        pads.append((entry.vendorId, entry.productId, entry.uid))
    libc.free(ctypes.cast(entries, ctypes.c_void_p))
    return pads


def model_number(lib):
    pointer = lib.GetModelNumber()
    if not pointer:
        return None
    text = ctypes.string_at(pointer).decode("latin-1")
    libc.free(pointer)
    return text


def make_stroke(count):
    """A pen-down arc: hovering first, pressure rising and falling, lifted at the end."""
    points = (SimulatorPenPoint * count)()
    for i in range(count):
        pressure = 0 if i in (0, count - 1) else 400 + (i * 3000) // count
        points[i] = SimulatorPenPoint(delayMs=2, x=10000 + 300 * i, y=20000 + (i * i) % 9000,
                                      pressure=pressure, switches=1 if pressure else 0,
                                      ready=1)
    return points


class Receiver:
    """Collects samples on the library's reader thread; the main thread waits for them."""

    def __init__(self):
        self.samples = []
        self.changed = threading.Condition()
        # Kept referenced for as long as the library may call it.
        self.callback = PenCallbackExt(self.on_pen)

    def on_pen(self, sample, _context):
        with self.changed:
            self.samples.append((sample.x, sample.y, sample.pressure, sample.switches))
            self.changed.notify_all()
        return 0

    def wait_for(self, count, timeout):
        with self.changed:
            self.changed.wait_for(lambda: len(self.samples) >= count, timeout)
            return list(self.samples)


def read_notifications(fd, count, timeout):
    """Reads 24-byte notification records from the pipe until count arrived or time is up."""
    data = b""
    deadline = time.monotonic() + timeout
    while len(data) < count * NOTIFICATION.size:
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            break
        data += os.read(fd, 4096)
    usable = len(data) - len(data) % NOTIFICATION.size
    return [NOTIFICATION.unpack_from(data, offset)
            for offset in range(0, usable, NOTIFICATION.size)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--library", help="path of libZELTabletCore.so")
    parser.add_argument("--points", type=int, default=40, help="points in the stroke (2..1000)")
    args = parser.parse_args()
    if not 2 <= args.points <= 1000:
        parser.error("--points must lie between 2 and 1000")

    lib = load_library(args.library)
    if not lib.SimulatorEnable():
        sys.exit("could not switch the virtual pads on")
    pad = lib.SimulatorAttachPad(PAD_PRODUCT_ID, PAD_UID)
    if pad == 0:
        sys.exit("could not attach a virtual pad")
    for vendor, product, uid in list_pads(lib):
        print(f"pad: vendor 0x{vendor:04X} product 0x{product:02X} uid 0x{uid:08X}")

    # Notifications go to a pipe; the write end is non-blocking so the reader thread never
    # waits on it.
    read_end, write_end = os.pipe()
    fcntl.fcntl(write_end, fcntl.F_SETFL, fcntl.fcntl(write_end, fcntl.F_GETFL) | os.O_NONBLOCK)

    receiver = Receiver()
    lib.onCDllCallback_ext(receiver.callback, None)
    # Model selector 0: any model; the pad is chosen by its identifier.
    if not lib.ConnectByUid(write_end, 0, 0, PAD_UID):
        sys.exit("could not connect to the virtual pad")
    capabilities = lib.GetCapabilities()
    print(f"connected: model {model_number(lib)}, uid 0x{lib.GetUID():08X}, screen "
          f"{capabilities.screenWidth}x{capabilities.screenHeight}")

    stroke = make_stroke(args.points)
    if not lib.SimulatorQueueStroke(pad, stroke, len(stroke)):
        sys.exit("the virtual pad refused the stroke")
    received = receiver.wait_for(len(stroke), timeout=10.0)
    notifications = read_notifications(read_end, len(stroke), timeout=5.0)
    for x, y, pressure, switches in received:
        print(f"pen: x {x:5d} y {y:5d} pressure {pressure:4d} switches {switches}")

    # After Disconnect no callback runs any more, so the callback may then be dropped
    # (PenCallbackExt() is the null function pointer).
    lib.Disconnect()
    lib.onCDllCallback_ext(PenCallbackExt(), None)
    lib.SimulatorDisable()
    os.close(read_end)
    os.close(write_end)

    queued = [(p.x, p.y, p.pressure, p.switches) for p in stroke]
    pen_notes = [n for n in notifications if n[0] == PEN_MESSAGE]
    print(f"samples: {len(received)} of {len(queued)} received, "
          f"{len(pen_notes)} notifications")
    if received != queued:
        print("the samples received differ from those queued", file=sys.stderr)
        return 1
    if len(pen_notes) != len(queued) or any(n[2] != 0x01 for n in pen_notes):
        print("a notification is missing or names another report", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
