#!/usr/bin/python3
"""How close plexora-render's renders of General MIDI songs come to FluidSynth's.

Renders every song through plexora-render and through FluidSynth (same bank,
reverb and chorus off, 44100 Hz float WAV) and compares the two, half a second
at a time: each half second's spectrum is summed into 24 bands spaced evenly
on a log scale from 50 Hz to 16 kHz, and the correlation of the two band
energy shapes (in dB) is its score. Windows in which either render is silent
(60 dB below its loudest window) are left out. Prints one line per song and
bank with the mean score, and the mean per bank and the worst song at the end.
With two or more banks, a last column gives FluidSynth against itself with the
first bank and each other bank: how much two General MIDI banks differ.

    bench/compare-gm.py [--bank FILE.sf2]... [--render PATH] [--keep DIR]
                        [--per-window] SONG.mid...

Needs numpy (Debian python3-numpy) and fluidsynth.
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile

import numpy as np

RATE = 44100
WINDOW = RATE // 2
BANDS = 24
LOW_HZ, HIGH_HZ = 50.0, 16000.0
SILENCE_DB = 60.0
HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_BANKS = ["/usr/share/sounds/sf2/TimGM6mb.sf2", "/usr/share/sounds/sf2/FluidR3_GM.sf2"]


def read_frames(path):
    """Float frames (rows) of a 16-bit, 32-bit or float WAV file, one column a channel."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise ValueError(path + " is not a WAV file")
    at, fmt, samples = 12, None, None
    while at + 8 <= len(data):
        cid, size = data[at:at + 4], struct.unpack_from("<I", data, at + 4)[0]
        body = data[at + 8:at + 8 + size]
        if cid == b"fmt ":
            fmt = struct.unpack_from("<HHIIHH", body)
        elif cid == b"data":
            samples = body
        at += 8 + size + (size & 1)
    if fmt is None or samples is None:
        raise ValueError(path + " has no format or data chunk")
    tag, channels, rate, _, _, bits = fmt
    if tag == 0xFFFE:  # extensible: the real tag follows
        tag = struct.unpack_from("<H", data, data.index(b"fmt ") + 8 + 24)[0]
    if rate != RATE:
        raise ValueError("%s: rate %d, expected %d" % (path, rate, RATE))
    if tag == 3 and bits == 32:
        x = np.frombuffer(samples[:len(samples) // 4 * 4], dtype="<f4")
    elif tag == 1 and bits == 16:
        x = np.frombuffer(samples[:len(samples) // 2 * 2], dtype="<i2") / 32768.0
    else:
        raise ValueError("%s: unsupported sample format %d/%d bits" % (path, tag, bits))
    x = x[:len(x) // channels * channels].reshape(-1, channels)
    return x.astype(np.float64)


def read_wav(path):
    """Mono float samples of a 16-bit, 32-bit or float WAV file."""
    return read_frames(path).mean(axis=1)


def band_energies(mono):
    """Energy per band (rows: half-second windows, columns: bands)."""
    windows = len(mono) // WINDOW
    frames = mono[:windows * WINDOW].reshape(windows, WINDOW) * np.hanning(WINDOW)
    power = np.abs(np.fft.rfft(frames, axis=1)) ** 2
    freqs = np.fft.rfftfreq(WINDOW, 1.0 / RATE)
    edges = np.geomspace(LOW_HZ, HIGH_HZ, BANDS + 1)
    band = np.digitize(freqs, edges) - 1
    out = np.zeros((windows, BANDS))
    for b in range(BANDS):
        out[:, b] = power[:, band == b].sum(axis=1)
    return out


def similarity(a_wav, b_wav):
    """Per-window correlations of the two renders' log band shapes."""
    a = band_energies(read_wav(a_wav))
    b = band_energies(read_wav(b_wav))
    n = min(len(a), len(b))
    a, b = a[:n], b[:n]
    total_a, total_b = a.sum(axis=1), b.sum(axis=1)
    loud = (total_a > total_a.max() * 10 ** (-SILENCE_DB / 10)) & \
           (total_b > total_b.max() * 10 ** (-SILENCE_DB / 10))
    la = 10 * np.log10(a[loud] + 1e-12)
    lb = 10 * np.log10(b[loud] + 1e-12)
    la -= la.mean(axis=1, keepdims=True)
    lb -= lb.mean(axis=1, keepdims=True)
    denom = np.sqrt((la ** 2).sum(axis=1) * (lb ** 2).sum(axis=1))
    return (la * lb).sum(axis=1) / np.maximum(denom, 1e-12)


def run(cmd):
    done = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if done.returncode != 0:
        raise RuntimeError("%s failed:\n%s" % (" ".join(cmd), done.stdout))
    return done.stdout


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("songs", nargs="+")
    ap.add_argument("--bank", action="append")
    ap.add_argument("--render", default=os.path.join(HERE, "..", "build", "tools", "render",
                                                     "plexora-render"))
    ap.add_argument("--keep", help="keep the renders in this folder")
    ap.add_argument("--per-window", action="store_true", help="print every window's score")
    args = ap.parse_args()
    banks = args.bank or DEFAULT_BANKS
    if not shutil.which("fluidsynth"):
        sys.exit("fluidsynth is not installed")
    work = args.keep or tempfile.mkdtemp(prefix="compare-gm-")
    os.makedirs(work, exist_ok=True)
    peer_cmd = os.path.join(work, "peer.cmd")
    with open(peer_cmd, "w") as f:
        f.write("interp 1\n")

    means = {bank: [] for bank in banks}
    worst = None
    print("%-28s %-12s %7s %6s %6s %6s %7s" %
          ("song", "bank", "windows", "mean", "low", "<0.6", "banks"))
    for song in args.songs:
        name = os.path.splitext(os.path.basename(song))[0]
        peer_first = None
        for bank in banks:
            tag = os.path.splitext(os.path.basename(bank))[0]
            ours = os.path.join(work, "%s.%s.ours.wav" % (name, tag))
            peer = os.path.join(work, "%s.%s.peer.wav" % (name, tag))
            run([args.render, "--bank", bank, song, ours])
            run(["fluidsynth", "-ni", "-q", "-R", "0", "-C", "0", "-o", "synth.polyphony=128",
                 "-r", str(RATE), "-O", "float", "-T", "wav", "-F", peer, "-f", peer_cmd,
                 bank, song])
            s = similarity(ours, peer)
            banks_col = ""
            if peer_first is None:
                peer_first = peer
            else:
                banks_col = "%.3f" % similarity(peer_first, peer).mean()
            mean = float(s.mean()) if len(s) else float("nan")
            means[bank].append(mean)
            if worst is None or mean < worst[0]:
                worst = (mean, name, tag)
            print("%-28s %-12s %7d %6.3f %6.3f %6d %7s" %
                  (name[:28], tag[:12], len(s), mean, float(np.percentile(s, 10)) if len(s) else 0,
                   int((s < 0.6).sum()), banks_col), flush=True)
            if args.per_window:
                print(" ".join("%.2f" % v for v in s))
            if not args.keep:
                os.remove(ours)
        if not args.keep and peer_first:
            for bank in banks:
                tag = os.path.splitext(os.path.basename(bank))[0]
                os.remove(os.path.join(work, "%s.%s.peer.wav" % (name, tag)))
    for bank in banks:
        v = means[bank]
        print("mean over %d songs with %s: %.3f (lowest %.3f)" %
              (len(v), os.path.basename(bank), float(np.mean(v)), float(np.min(v))))
    if worst:
        print("worst: %s with %s, %.3f" % (worst[1], worst[2], worst[0]))
    if not args.keep:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
