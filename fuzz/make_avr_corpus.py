#!/usr/bin/env python3
"""Writes the seed corpus of the AVR fuzz target: small valid AVR files of
each width and channel count, plus a looped one and a header-only one."""
import math
import os
import struct

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "avr")
os.makedirs(here, exist_ok=True)


def avr(name, stereo, bits, rate, note, loop, loop_begin, frames):
    channels = 2 if stereo else 1
    samples = []
    for i in range(frames):
        v = math.sin(2 * math.pi * i / 32.0)
        for c in range(channels):
            samples.append(v if c == 0 else -v)
    if bits == 8:
        data = b"".join(struct.pack(">b", int(s * 100)) for s in samples)
    else:
        data = b"".join(struct.pack(">h", int(s * 20000)) for s in samples)
    length = frames
    header = b"2BIT" + name.ljust(8, b"\0")[:8]
    header += struct.pack(">hhhhBB", -1 if stereo else 0, bits, -1, loop, 0xFF, note)
    header += struct.pack(">I", 0xFF000000 | rate)  # replay frequency flag, then the rate
    header += struct.pack(">III", length, loop_begin, length)
    header += struct.pack(">hhh", 0, 0, 0)  # split, replay frequency, extended
    header += b"\0" * 20 + b"\0" * 64  # extension and user areas
    assert len(header) == 128, len(header)
    return header + data


files = {
    "mono8.avr": avr(b"mono8", False, 8, 22050, 60, 0, 0, 64),
    "stereo8.avr": avr(b"stereo8", True, 8, 22050, 60, 0, 0, 64),
    "mono16.avr": avr(b"mono16", False, 16, 44100, 48, 0, 0, 64),
    "stereo16.avr": avr(b"stereo16", True, 16, 44100, 72, 0, 0, 64),
    "looped16.avr": avr(b"loop", False, 16, 32000, 0xFF, 1, 32, 96),
    "header_only.avr": avr(b"", False, 8, 8000, 60, 0, 0, 0),
}
for leaf, content in files.items():
    with open(os.path.join(here, leaf), "wb") as f:
        f.write(content)
