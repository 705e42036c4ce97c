#!/usr/bin/env python3
"""Writes the seed corpora of the loader fuzz targets: small instrument files
and SoundFont banks, sound and slightly broken. Run from anywhere; it writes
next to itself into corpus/instrument_file/ and corpus/bank/."""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(folder, name, data):
    path = os.path.join(HERE, "corpus", folder)
    os.makedirs(path, exist_ok=True)
    with open(os.path.join(path, name), "wb") as f:
        f.write(data)


# ---- instrument files ----

def it_block(count, data, bits=16, stereo=0, loop=0, ls=0, le=0, base=60, lo=0, hi=127, name=b"snd",
             shift=None, size=None):
    if shift is None:
        shift = (1 if bits == 16 else 0) + (1 if stereo else 0)
    head = struct.pack(">IIIIIHHI16sHHHHhhhh", 22050, 0, len(data) if size is None else size, ls, le, loop,
                       base, 0, name[:15], count, bits, stereo, shift, lo, hi, 0, 127)
    return head.ljust(352, b"\0") + data


def it_file(blocks, flag=1):
    return b"PLEXORIT" + b"\0" * 4 + struct.pack("<H", flag) + b"\0" * 4 + b"".join(blocks)


def be16(points):
    return b"".join(struct.pack(">h", p) for p in points)


sine = [int(8000 * math.sin(i * 0.3)) for i in range(200)]
write("instrument_file", "one_16bit.it", it_file([it_block(0, be16(sine), loop=1, ls=20, le=380)]))
write("instrument_file", "four_mixed.it", it_file([
    it_block(3, bytes(range(0, 120)), bits=8, lo=0, hi=40),
    it_block(0, bytes(range(0, 120)), bits=8, stereo=1, loop=1, ls=10, le=100),
    it_block(0, be16(sine[:100]), loop=1, ls=1001, le=2000, lo=41, hi=80),
    it_block(0, be16(sine), stereo=1, shift=0, base=300, name=b"a long name of many letters"),
]))
write("instrument_file", "no_data.it", it_file([it_block(0, b"")], flag=0))
write("instrument_file", "truncated.it", it_file([it_block(2, be16(sine)), it_block(0, be16(sine))])[:-50])
write("instrument_file", "bad_bits.it", it_file([it_block(0, bytes(64), bits=12)]))
write("instrument_file", "huge_count.it", it_file([it_block(65535, be16(sine[:10]))]))


# ---- banks ----

def chunk(cid, body):
    return cid + struct.pack("<I", len(body)) + body + (b"\0" if len(body) & 1 else b"")


def lst(kind, body):
    return chunk(b"LIST", kind + body)


def bank(samples, insts, major=2, presets=()):
    """samples: (name, points, loop_start, loop_end, pitch, type); insts: (name, [zones of (op, amount)]);
    presets: (name, number, bank, [zones of (op, amount)])"""
    smpl, shdr = b"", b""
    for name, pts, ls, le, pitch, kind in samples:
        start = len(smpl) // 2
        smpl += b"".join(struct.pack("<h", p) for p in pts) + b"\0" * 92
        shdr += struct.pack("<20sIIIIIBbHH", name, start, start + len(pts), start + ls, start + le, 22050,
                            pitch, 0, 0, kind)
    shdr += struct.pack("<20sIIIIIBbHH", b"EOS", 0, 0, 0, 0, 0, 0, 0, 0, 0)
    inst, ibag, igen = b"", b"", b""
    bags = gens = 0
    for name, zones in insts:
        inst += struct.pack("<20sH", name, bags)
        for z in zones:
            ibag += struct.pack("<HH", gens, 0)
            bags += 1
            for op, amount in z:
                igen += struct.pack("<HH", op, amount)
                gens += 1
    inst += struct.pack("<20sH", b"EOI", bags)
    ibag += struct.pack("<HH", gens, 0)
    igen += struct.pack("<HH", 0, 0)
    info = chunk(b"ifil", struct.pack("<HH", major, 1)) + chunk(b"INAM", b"seed\0\0")
    phdr, pbag, pgen = bytes(76), bytes(8), bytes(4)
    if presets:
        phdr, pbag, pgen = b"", b"", b""
        bags = gens = 0
        for name, number, bank_number, zones in presets:
            phdr += struct.pack("<20sHHH12x", name, number, bank_number, bags)
            for z in zones:
                pbag += struct.pack("<HH", gens, 0)
                bags += 1
                for op, amount in z:
                    pgen += struct.pack("<HH", op, amount)
                    gens += 1
        phdr += struct.pack("<20sHHH12x", b"EOP", 0, 0, bags)
        pbag += struct.pack("<HH", gens, 0)
        pgen += struct.pack("<HH", 0, 0)
    pdta = (chunk(b"phdr", phdr) + chunk(b"pbag", pbag) + chunk(b"pmod", bytes(10)) +
            chunk(b"pgen", pgen) + chunk(b"inst", inst) + chunk(b"ibag", ibag) + chunk(b"imod", bytes(10)) +
            chunk(b"igen", igen) + chunk(b"shdr", shdr))
    body = b"sfbk" + lst(b"INFO", info) + lst(b"sdta", chunk(b"smpl", smpl)) + lst(b"pdta", pdta)
    return chunk(b"RIFF", body)


KEYS, ROOT, SAMPLE, INSTRUMENT = 43, 58, 53, 41
two = [(b"low", sine, 10, 190, 60, 1), (b"high", sine[:120], 100, 118, 255, 1)]
write("bank", "two_instruments.sf2", bank(two, [
    (b"Piano", [[(KEYS, 0 | 59 << 8), (SAMPLE, 0)], [(KEYS, 60 | 127 << 8), (ROOT, 72), (SAMPLE, 1)]]),
    (b"Shared", [[(SAMPLE, 0)], [(KEYS, 10 | 20 << 8), (SAMPLE, 0)]]),
]))
write("bank", "global_zone.sf2", bank(two, [
    (b"Strings", [[(KEYS, 30 | 40 << 8), (ROOT, 50)], [(SAMPLE, 1)], [(SAMPLE, 7)]]),
    (b"Empty", [[(KEYS, 1 | 2 << 8)]]),
]))
write("bank", "general_midi.sf2", bank(two, [
    (b"Piano", [[(KEYS, 0 | 59 << 8), (SAMPLE, 0)], [(KEYS, 60 | 127 << 8), (SAMPLE, 1)]]),
    (b"Kit", [[(KEYS, 36 | 36 << 8), (SAMPLE, 1)], [(KEYS, 38 | 38 << 8), (SAMPLE, 0)]]),
], presets=[
    (b"Organ", 16, 0, [[(INSTRUMENT, 0)]]),
    (b"Piano", 0, 0, [[(KEYS, 40 | 80 << 8)], [(KEYS, 50 | 70 << 8), (INSTRUMENT, 0)], [(INSTRUMENT, 0)]]),
    (b"Standard", 0, 128, [[(INSTRUMENT, 1)]]),
    (b"Room", 8, 128, [[(INSTRUMENT, 1)], [(INSTRUMENT, 9)]]),
]))
write("bank", "version3.sf2", bank(two, [(b"X", [[(SAMPLE, 0)]])], major=3))
write("bank", "compressed.sf2", bank([(b"ogg", sine, 0, 0, 60, 0x11)], [(b"X", [[(SAMPLE, 0)]])]))
write("bank", "cut.sf2", bank(two, [(b"X", [[(SAMPLE, 0)]])])[:-20])
