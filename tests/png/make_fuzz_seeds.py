#!/usr/bin/env python3
"""Writes the small seed inputs of the png and inflate fuzz targets (fuzz/corpus/png,
fuzz/corpus/inflate). Run from the repository root; the output is deterministic."""
import os
import random
import struct
import zlib

rng = random.Random(1)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def row_bytes(width, color, depth):
    samples = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[color]
    return (width * samples * depth + 7) // 8


def filtered(rows, unit, filters):
    out = bytearray()
    prev = bytes(len(rows[0]))
    for y, row in enumerate(rows):
        f = filters[y % len(filters)]
        out.append(f)
        for i, v in enumerate(row):
            a = row[i - unit] if i >= unit else 0
            b = prev[i]
            c = prev[i - unit] if i >= unit else 0
            if f == 1:
                p = a
            elif f == 2:
                p = b
            elif f == 3:
                p = (a + b) // 2
            elif f == 4:
                pp = a + b - c
                pa, pb, pc = abs(pp - a), abs(pp - b), abs(pp - c)
                p = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
            else:
                p = 0
            out.append((v - p) & 0xFF)
        prev = row
    return bytes(out)


def png(width, height, color, depth, interlace=0, extra=b"", level=6, filters=(0, 1, 2, 3, 4)):
    rb = row_bytes(width, color, depth)
    unit = max(1, {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[color] * depth // 8)
    if interlace:
        # Seeds only need valid structure: the pass rows hold random bytes.
        stream = bytearray()
        for x0, dx, y0, dy in [(0, 8, 0, 8), (4, 8, 0, 8), (0, 4, 4, 8), (2, 4, 0, 4),
                               (0, 2, 2, 4), (1, 2, 0, 2), (0, 1, 1, 2)]:
            pw = (width + dx - 1 - x0) // dx
            ph = (height + dy - 1 - y0) // dy
            if pw and ph:
                rows = [bytes(rng.randrange(256) for _ in range(row_bytes(pw, color, depth)))
                        for _ in range(ph)]
                stream += filtered(rows, unit, filters)
    else:
        rows = [bytes(rng.randrange(256) for _ in range(rb)) for _ in range(height)]
        stream = filtered(rows, unit, filters)
    ihdr = struct.pack(">IIBBBBB", width, height, depth, color, 0, 0, interlace)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + extra +
            chunk(b"IDAT", zlib.compress(bytes(stream), level)) + chunk(b"IEND", b""))


def write(directory, name, data):
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, name), "wb") as f:
        f.write(data)


plte = chunk(b"PLTE", bytes(rng.randrange(256) for _ in range(16 * 3)))
seeds = {
    "grey1.png": png(13, 5, 0, 1),
    "grey1-interlaced.png": png(13, 9, 0, 1, 1),
    "grey8-key.png": png(8, 8, 0, 8, extra=chunk(b"tRNS", b"\x00\x07")),
    "rgb8-gamma.png": png(9, 7, 2, 8, extra=chunk(b"gAMA", struct.pack(">I", 45455))),
    "rgb8-interlaced.png": png(10, 10, 2, 8, 1),
    "rgb16-key.png": png(5, 4, 2, 16, extra=chunk(b"tRNS", b"\x01\x02\x03\x04\x05\x06")),
    "indexed4.png": png(7, 6, 3, 4, extra=plte),
    "indexed4-interlaced.png": png(9, 9, 3, 4, 1, extra=plte),
    "indexed8-alpha.png": png(8, 5, 3, 8, extra=plte + chunk(b"tRNS", b"\x00\x80\xff")),
    "grey-alpha8.png": png(6, 6, 4, 8),
    "rgba8.png": png(8, 8, 6, 8),
    "rgba8-interlaced.png": png(17, 11, 6, 8, 1),
    "rgba8-stored.png": png(4, 4, 6, 8, level=0),
    "unsupported-grey16.png": png(4, 4, 0, 16),
}
seeds["truncated.png"] = seeds["rgba8.png"][:-30]
for name, data in seeds.items():
    write("fuzz/corpus/png", name, data)

text = b"".join(rng.choice([b"pen ", b"pad ", b"ink ", b"signature ", b"screen\n"]) for _ in range(400))
noise = bytes(rng.randrange(256) for _ in range(600))
inflate_seeds = {
    "empty.z": zlib.compress(b""),
    "stored.z": zlib.compress(noise, 0),
    "dynamic.z": zlib.compress(text, 9),
    "runs.z": zlib.compress(b"a" * 2000 + b"b" * 300, 9),
}
for name, level, wbits, strategy, data in [("fixed.z", 6, 15, zlib.Z_FIXED, text),
                                           ("small-window.z", 9, 9, zlib.Z_DEFAULT_STRATEGY,
                                            text * 2)]:
    c = zlib.compressobj(level, zlib.DEFLATED, wbits, 9, strategy)
    inflate_seeds[name] = c.compress(data) + c.flush()
mixed = zlib.compressobj(6)
part = mixed.compress(text) + mixed.flush(zlib.Z_FULL_FLUSH)
inflate_seeds["mixed.z"] = part + mixed.compress(noise) + mixed.flush()
for name, data in inflate_seeds.items():
    write("fuzz/corpus/inflate", name, data)
