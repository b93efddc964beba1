#!/usr/bin/env python3
"""Writes the seed inputs of the serial fuzz target (fuzz/corpus/serial/).

Each input: one byte choosing the reader's buffer capacity (value + 1), then chunks of line
data, each a length byte (0..63) and that many bytes. Frames are built here from the
protocol's description (7-bit groups, CRC-16/ARC low byte first), apart from both codecs.
"""
import os
import sys
import zlib


def crc16(data):
    crc = 0
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def frame(packet, with_crc=True):
    packet = bytes(packet)
    if with_crc:
        crc = crc16(packet)
        packet += bytes([crc & 0xFF, crc >> 8])
    bits = ''.join(f'{b:08b}' for b in packet)
    bits += '0' * (-len(bits) % 7)
    groups = [int(bits[i:i + 7], 2) for i in range(0, len(bits), 7)]
    n = len(groups)
    head = [0x80 | (0x40 if with_crc else 0) | (n >> 7), n & 0x7F]
    return bytes(head + groups)


def chunks(stream, size=63):
    out = b''
    for i in range(0, len(stream), size):
        part = stream[i:i + size]
        out += bytes([len(part)]) + part
    return out


SEEDS = {
    'set-response': (255, frame([0x81, 0x00])),
    'status-answer': (255, frame([0x03, 0x02, 0x00, 0x34, 0x12])),
    'pen-plain': (255, frame([0x01, 0x85, 0x23, 0x12, 0x34, 0x56, 0x78], False) + b'\x00'),
    'pen-timed': (255, frame([0x30, 0x7F, 0x00, 0x00, 0x10, 0x00, 0x20, 0x01, 0x02])),
    'noise-then-frame': (255, bytes([0x05, 0x12]) + frame([0x81, 0x00])),
    'false-start': (255, b'\xC0' + frame([0x81, 0x03])),
    'overlong-header': (255, b'\xC2\x10' + frame([0x01, 0, 0, 0, 0, 0, 0], False)),
    'short-crc-frame': (255, b'\xC0\x01\x11' + b'\x80\x00'),
    'bad-crc': (255, frame([0x09] + [0x20] * 17)[:-1] + b'\x7F'),
    'largest-frame': (255, frame([0x09] + list(range(219)))),
    'small-capacity': (3, frame([0x08] + [0x41] * 16)),
}


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'fuzz',
                        'corpus', 'serial')
    os.makedirs(root, exist_ok=True)
    for name, (capacity, stream) in SEEDS.items():
        data = bytes([capacity]) + chunks(stream)
        if name == 'pen-timed':
            data = bytes([capacity]) + chunks(stream, 1)  # one byte per read
        with open(os.path.join(root, name), 'wb') as f:
            f.write(data)
    # Requests to the pad: settings, then a zlib image in data reports.
    bits = zlib.compress(bytes([0xFF] * 40 * 160 + [0x00] * 40 * 112), 9)
    requests = frame([0x28, 0x3C, 0x1F, 0x02]) + frame([0x80, 0x03]) + frame([0x25, 0x01])
    for at in range(0, len(bits), 253):
        part = bits[at:at + 253]
        requests += frame([0x26, len(part), 0] + list(part) + [0] * (253 - len(part)))
    requests += frame([0x27, 0x00])
    with open(os.path.join(root, 'pad-requests'), 'wb') as f:
        f.write(bytes([255]) + chunks(requests))
    # Everything at once: many frames back to back with noise between.
    stream = b''.join(frame([0x01, i, i, i, i, i, i], i % 2 == 0) + bytes([i & 0x7F]) for i in range(40))
    with open(os.path.join(root, 'stream'), 'wb') as f:
        f.write(bytes([255]) + chunks(stream, 17))
    return 0


if __name__ == '__main__':
    sys.exit(main())
