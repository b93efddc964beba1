#!/usr/bin/env python3
"""A signature from a virtual pad, kept as an ISO/IEC 19794-7 record and a PNG, using ctypes.

The demo switches the virtual pads of ZELTabletCore on, connects to one, and builds a
signature with libZELSignature from the samples its pen callback receives while a
handwritten-looking name and an underline are queued on the pad. It saves the signature as
signature.iso and signature.png, reads the ISO record back and checks that every sample
survived (position, pressure, contact). It exits with status 0 when all of that worked.

    python3 signature_demo.py [--library PATH] [--signature-library PATH] [--output DIR]

Without the library options the libraries are looked up as the system's loader finds them
(libZELTabletCore.so.0 and libZELSignature.so.0, e.g. after `cmake --install` and
`ldconfig`).
"""

import argparse
import ctypes
import ctypes.util
import math
import os
import sys
import threading

PAD_PRODUCT_ID = 0xA2
PAD_UID = 0x0D3E0002
ZELSIG_OK = 0
ZELSIG_FORMAT_PNG = 1
ZELSIG_FORMAT_ISO = 5
ZELSIG_PLAUSIBLE = 0


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


class ZELSigPad(ctypes.Structure):
    _fields_ = [("productId", ctypes.c_uint32), ("uid", ctypes.c_uint32),
                ("model", ctypes.c_char * 32), ("capabilities", Capabilities),
                ("activeWidthUm", ctypes.c_uint32), ("activeHeightUm", ctypes.c_uint32)]


class ZELSigSample(ctypes.Structure):
    _fields_ = [("pen", PenSample), ("timeMs", ctypes.c_double)]


class ZELSigInfo(ctypes.Structure):
    _fields_ = [("pad", ZELSigPad), ("captureStartUnixMs", ctypes.c_int64),
                ("encrypted", ctypes.c_uint32), ("sampleCount", ctypes.c_uint32),
                ("inkedSampleCount", ctypes.c_uint32), ("strokeCount", ctypes.c_uint32),
                ("durationMs", ctypes.c_double), ("inkDurationMs", ctypes.c_double),
                ("inkLengthMm", ctypes.c_double), ("inkWidthMm", ctypes.c_double),
                ("inkHeightMm", ctypes.c_double)]


class ZELSigRenderOptions(ctypes.Structure):
    _fields_ = [("scale", ctypes.c_double), ("margin", ctypes.c_double),
                ("minWidth", ctypes.c_double), ("maxWidth", ctypes.c_double),
                ("inkColour", ctypes.c_uint32), ("backgroundColour", ctypes.c_uint32),
                ("transparent", ctypes.c_uint32), ("allowImplausible", ctypes.c_uint32)]


ZELWindow = ctypes.c_ssize_t  # a file descriptor on POSIX systems, 0 for none
PenCallbackExt = ctypes.CFUNCTYPE(ctypes.c_int, PenSample, ctypes.c_void_p)
SignaturePointer = ctypes.c_void_p


def declare(lib, signatures):
    for name, (restype, argtypes) in signatures.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes
    return lib


def load_driver(path):
    lib = ctypes.CDLL(path or ctypes.util.find_library("ZELTabletCore")
                      or "libZELTabletCore.so.0")
    return declare(lib, {
        "SimulatorEnable": (ctypes.c_bool, []),
        "SimulatorDisable": (ctypes.c_bool, []),
        "SimulatorAttachPad": (ctypes.c_int32, [ctypes.c_uint32, ctypes.c_uint32]),
        "SimulatorQueueStroke": (ctypes.c_bool, [ctypes.c_int32,
                                                 ctypes.POINTER(SimulatorPenPoint),
                                                 ctypes.c_uint32]),
        "SimulatorQueuedPoints": (ctypes.c_uint32, [ctypes.c_int32]),
        "ConnectByUid": (ctypes.c_bool, [ZELWindow, ctypes.c_uint32, ctypes.c_int32,
                                         ctypes.c_uint32]),
        "Disconnect": (ctypes.c_int, []),
        "GetModelNumber": (ctypes.c_void_p, []),  # malloc'ed: freed below
        "GetUID": (ctypes.c_uint32, []),
        "GetCapabilities": (Capabilities, []),
        "onCDllCallback_ext": (ctypes.c_int, [PenCallbackExt, ctypes.c_void_p]),
    })


def load_signature_library(path):
    lib = ctypes.CDLL(path or ctypes.util.find_library("ZELSignature")
                      or "libZELSignature.so.0")
    handle = ctypes.POINTER(SignaturePointer)
    return declare(lib, {
        "ZELSig_LastError": (ctypes.c_char_p, []),
        "ZELSig_Create": (ctypes.c_int, [ctypes.POINTER(ZELSigPad), handle]),
        "ZELSig_Destroy": (None, [SignaturePointer]),
        "ZELSig_AddSampleNow": (ctypes.c_int, [SignaturePointer, ctypes.POINTER(PenSample)]),
        "ZELSig_GetInfo": (ctypes.c_int, [SignaturePointer, ctypes.POINTER(ZELSigInfo)]),
        "ZELSig_GetSamples": (ctypes.c_int, [SignaturePointer, ctypes.c_uint32, ctypes.c_uint32,
                                             ctypes.POINTER(ZELSigSample)]),
        "ZELSig_CheckPlausibility": (ctypes.c_int, [SignaturePointer,
                                                    ctypes.POINTER(ctypes.c_int)]),
        "ZELSig_DefaultRenderOptions": (None, [ctypes.POINTER(ZELSigRenderOptions)]),
        "ZELSig_ExportFile": (ctypes.c_int, [SignaturePointer, ctypes.c_int,
                                             ctypes.POINTER(ZELSigRenderOptions),
                                             ctypes.c_char_p]),
        "ZELSig_ImportFile": (ctypes.c_int, [ctypes.c_char_p, ctypes.c_int,
                                             ctypes.POINTER(ZELSigPad), handle]),
    })


libc = ctypes.CDLL(None)
libc.free.argtypes = [ctypes.c_void_p]
libc.free.restype = None


class SignatureError(Exception):
    pass


def check(sig, result, what):
    if result != ZELSIG_OK:
        raise SignatureError(f"{what}: {sig.ZELSig_LastError().decode('utf-8', 'replace')}")


def handwriting(capabilities):
    """A name written in one go (loops along a slanted baseline), then an underline.

    Points are 4 ms apart, as a pad reports them; the pen hovers before, between and after
    the strokes.
    """
    max_x, max_y = capabilities.capability1, capabilities.capability2
    full = max(capabilities.capability3 - 1, 1)
    points = []

    def add(x, y, pressure):
        points.append(SimulatorPenPoint(delayMs=4, x=int(x * max_x), y=int(y * max_y),
                                        pressure=int(pressure * full),
                                        switches=1 if pressure > 0 else 0, ready=1))

    add(0.12, 0.55, 0)
    count = 260
    for i in range(count + 1):
        t = i / count
        # Six loops of a cursive hand, taller in the middle, leaning right.
        loop = 2 * math.pi * 6 * t
        height = 0.16 + 0.08 * math.sin(math.pi * t)
        x = 0.12 + 0.66 * t + 0.035 * math.sin(loop)
        y = 0.55 - 0.03 * t - height * (0.5 - 0.5 * math.cos(loop)) + 0.03 * math.sin(loop / 2)
        pressure = 0.35 + 0.45 * math.sin(math.pi * t) ** 0.5 + 0.1 * math.sin(loop)
        add(x, y, pressure)
    add(0.80, 0.50, 0)
    add(0.15, 0.68, 0)
    for i in range(81):
        t = i / 80
        add(0.15 + 0.68 * t, 0.68 - 0.04 * t + 0.015 * math.sin(math.pi * t),
            0.6 * (1 - t) + 0.1)
    add(0.84, 0.63, 0)
    return (SimulatorPenPoint * len(points))(*points)


class Collector:
    """Adds every pen sample to the signature on the driver's reader thread."""

    def __init__(self, sig, signature):
        self.sig = sig
        self.signature = signature
        self.count = 0
        self.failures = 0
        self.changed = threading.Condition()
        self.callback = PenCallbackExt(self.on_pen)  # kept referenced while it may be called

    def on_pen(self, sample, _context):
        result = self.sig.ZELSig_AddSampleNow(self.signature, ctypes.byref(sample))
        with self.changed:
            self.count += 1
            self.failures += result != ZELSIG_OK
            self.changed.notify_all()
        return 0

    def wait_for(self, count, timeout):
        with self.changed:
            self.changed.wait_for(lambda: self.count >= count, timeout)
            return self.count


def samples_of(sig, signature, count):
    samples = (ZELSigSample * count)()
    if count:
        check(sig, sig.ZELSig_GetSamples(signature, 0, count, samples), "reading samples")
    return [(s.pen.x, s.pen.y, s.pen.pressure, s.pen.pressure > 0) for s in samples]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--library", help="path of libZELTabletCore.so")
    parser.add_argument("--signature-library", help="path of libZELSignature.so")
    parser.add_argument("--output", default=".", help="folder for signature.iso and .png")
    args = parser.parse_args()
    os.makedirs(args.output, exist_ok=True)

    driver = load_driver(args.library)
    sig = load_signature_library(args.signature_library)
    if not driver.SimulatorEnable():
        sys.exit("could not switch the virtual pads on")
    pad_handle = driver.SimulatorAttachPad(PAD_PRODUCT_ID, PAD_UID)
    if pad_handle == 0:
        sys.exit("could not attach a virtual pad")
    if not driver.ConnectByUid(0, 0, 0, PAD_UID):
        sys.exit("could not connect to the virtual pad")

    pad = ZELSigPad(productId=PAD_PRODUCT_ID, uid=driver.GetUID(),
                    capabilities=driver.GetCapabilities())
    model = driver.GetModelNumber()
    if model:
        pad.model = ctypes.string_at(model)[:31]
        libc.free(model)
    print(f"pad: model {pad.model.decode('latin-1')}, uid 0x{pad.uid:08X}, pen range "
          f"{pad.capabilities.capability1}x{pad.capabilities.capability2}, "
          f"{pad.capabilities.capability3} pressure levels")

    signature = SignaturePointer()
    check(sig, sig.ZELSig_Create(ctypes.byref(pad), ctypes.byref(signature)), "creating")
    status = 1
    try:
        collector = Collector(sig, signature)
        driver.onCDllCallback_ext(collector.callback, None)
        stroke = handwriting(pad.capabilities)
        if not driver.SimulatorQueueStroke(pad_handle, stroke, len(stroke)):
            sys.exit("the virtual pad refused the strokes")
        received = collector.wait_for(len(stroke), timeout=20.0)
        # After Disconnect no callback runs any more, so it may be dropped.
        driver.Disconnect()
        driver.onCDllCallback_ext(PenCallbackExt(), None)
        driver.SimulatorDisable()
        if received != len(stroke) or collector.failures:
            print(f"{received} of {len(stroke)} samples arrived, {collector.failures} refused",
                  file=sys.stderr)
            return 1

        info = ZELSigInfo()
        check(sig, sig.ZELSig_GetInfo(signature, ctypes.byref(info)), "reading info")
        verdict = ctypes.c_int()
        check(sig, sig.ZELSig_CheckPlausibility(signature, ctypes.byref(verdict)), "checking")
        print(f"signature: {info.sampleCount} samples, {info.strokeCount} strokes, "
              f"{info.inkLengthMm:.1f} mm of ink over {info.durationMs:.0f} ms, "
              f"verdict {verdict.value}")

        iso_path = os.path.join(args.output, "signature.iso")
        png_path = os.path.join(args.output, "signature.png")
        check(sig, sig.ZELSig_ExportFile(signature, ZELSIG_FORMAT_ISO, None,
                                         iso_path.encode()), "saving the ISO record")
        options = ZELSigRenderOptions()
        sig.ZELSig_DefaultRenderOptions(ctypes.byref(options))
        options.scale = 2
        check(sig, sig.ZELSig_ExportFile(signature, ZELSIG_FORMAT_PNG, ctypes.byref(options),
                                         png_path.encode()), "saving the PNG")
        print(f"saved {iso_path} ({os.path.getsize(iso_path)} bytes) and {png_path} "
              f"({os.path.getsize(png_path)} bytes)")

        # The record read back holds every sample: position, pressure and contact.
        back = SignaturePointer()
        check(sig, sig.ZELSig_ImportFile(iso_path.encode(), ZELSIG_FORMAT_ISO,
                                         ctypes.byref(pad), ctypes.byref(back)),
              "reading the ISO record back")
        try:
            back_info = ZELSigInfo()
            check(sig, sig.ZELSig_GetInfo(back, ctypes.byref(back_info)), "reading info")
            original = samples_of(sig, signature, info.sampleCount)
            reread = samples_of(sig, back, back_info.sampleCount)
        finally:
            sig.ZELSig_Destroy(back)
        with open(png_path, "rb") as png:
            is_png = png.read(8) == b"\x89PNG\r\n\x1a\n"
        if verdict.value != ZELSIG_PLAUSIBLE or info.strokeCount != 2:
            print("the signature should be plausible with two strokes", file=sys.stderr)
        elif reread != original:
            print("the ISO record read back differs from the signature", file=sys.stderr)
        elif not is_png:
            print("signature.png is not a PNG", file=sys.stderr)
        else:
            print("ISO record read back: every sample matches")
            status = 0
    finally:
        sig.ZELSig_Destroy(signature)
    return status


if __name__ == "__main__":
    try:
        sys.exit(main())
    except SignatureError as error:
        sys.exit(str(error))
