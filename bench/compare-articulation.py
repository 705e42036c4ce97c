#!/usr/bin/python3
"""How closely plexora-render plays a bank's articulation next to FluidSynth.

Writes probe songs (Standard MIDI Files), renders them through FluidSynth
(reverb and chorus off, linear interpolation, 44100 Hz float WAV) and through
plexora-render with the same bank, and measures both renders the same way.
Levels are RMS in dB over 50 ms unless said otherwise, each relative to another
level of the same render, so the two renderers' overall gains cancel out.

  tuning     every program's middle note (key 48 for basses, 72 for pipes):
             period by cumulative mean normalised difference, refined on a
             partial of a zero-padded spectrum; nothing folded (an octave off
             reads 1200 cents); within 5 cents
  envelopes  piano, guitars 24 and 25, harp, strings, organ 19, 6 s notes: level
             0.5, 1, 2, 4 s after note-on against the note's peak (3 dB), peak
             against the piano's (3 dB), key-off to 40 dB under it (25%)
  velocity   piano and strings at 20, 64, 127: first 0.3 s of 20 and of 64
             against 127 (1.5 dB); share of the 20 note above 2 kHz (3 dB)
  volume     a held organ through CC7 100, 64, 32, then CC11 (1.5 dB)
  pedal      a 0.5 s piano note held by CC64: 1 s and 3 s after key-off (3 dB)
  drums      kick and closed hi-hat, onset to 40 dB under the peak (0.1 s); an
             open hi-hat choked by a closed one 0.3 s later, 20 dB under the open
             one alone in 0.35-0.8 s, in each render; kit 25's snare (or another
             kit's) against kit 0's: spectra apart by over 3 dB in both or neither
  pan        piano with CC10 0, 64, 127: left/right energy (3 dB, same side)

Prints one table per bank and a summary line. Exits 0 whatever it measured, 1
when a renderer fails to run with a bank (the other banks are still measured).

    bench/compare-articulation.py [--bank FILE]... [--render PATH] [--keep DIR]
                                  [--literal]

Needs numpy (Debian python3-numpy) and fluidsynth.
"""
import argparse
import importlib.util
import os
import shutil
import struct
import sys
import tempfile

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
_spec = importlib.util.spec_from_file_location("compare_gm", os.path.join(HERE, "compare-gm.py"))
gm = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(gm)
RATE = gm.RATE
# The third is what Debian's musescore-general-soundfont-small installs.
DEFAULT_BANKS = ["/usr/share/sounds/sf2/FluidR3_GM.sf2", "/usr/share/sounds/sf2/TimGM6mb.sf2",
                 "/usr/share/sounds/sf3/MuseScore_General_Lite.sf3"]
DRUMS = 9


class Song:
    """One track of timed MIDI messages; a tick is a millisecond."""

    def __init__(self):
        self.events, self.end = [], 0.0

    def at(self, t, *msg):
        self.events.append((round(t * 1000), len(self.events), bytes(msg)))
        self.end = max(self.end, t)

    def note(self, t, length, ch, key, vel=100):
        self.at(t, 0x90 | ch, key, vel)
        self.at(t + length, 0x80 | ch, key, 0)

    def write(self, path):
        def varlen(n):
            out = [n & 0x7F]
            while n > 0x7F:
                n >>= 7
                out.append(0x80 | (n & 0x7F))
            return bytes(reversed(out))
        body, last = bytearray(b"\0\xff\x51\x03\x0f\x42\x40"), 0  # a quarter lasts 1 s
        for ms, _, msg in sorted(self.events):
            body += varlen(ms - last) + msg
            last = ms
        body += varlen(round(self.end * 1000) - last) + b"\xff\x2f\0"
        with open(path, "wb") as f:
            f.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, 1000) +
                    b"MTrk" + struct.pack(">I", len(body)) + body)


def presets(path):
    """The (bank, program) pairs of the bank's preset headers."""
    with open(path, "rb") as f:
        if f.read(4) != b"RIFF" or f.read(8)[4:] != b"sfbk":
            raise ValueError(path + " is not a SoundFont bank")
        at, head = 12, f.read(12)
        while len(head) == 12:
            cid, size, kind = struct.unpack("<4sI4s", head)
            if cid == b"LIST" and kind == b"pdta":
                data, i = f.read(size - 4), 0
                while i + 8 <= len(data):
                    sub, sub_size = struct.unpack_from("<4sI", data, i)
                    if sub == b"phdr":  # 38-byte records, the last one closes the list
                        return {struct.unpack_from("<HH", data, i + 8 + j + 20)[::-1]
                                for j in range(0, sub_size - 38, 38)}
                    i += 8 + sub_size + (sub_size & 1)
            at += 8 + size
            f.seek(at)
            head = f.read(12)
            if size & 1 and head[:4] != b"LIST":  # the pad byte is there after all
                at += 1
                head = head[1:] + f.read(1)
    raise ValueError(path + " has no preset headers")


class Take:
    """One stereo render: levels over spans of time."""

    def __init__(self, path):
        self.x = gm.read_frames(path)
        self.sum = np.concatenate([[0.0], np.cumsum((self.x ** 2).mean(axis=1))])

    def energy(self, t0, t1):
        a, b = (min(max(int(t * RATE), 0), len(self.sum) - 1) for t in (t0, t1))
        return (self.sum[b] - self.sum[a]) / max(b - a, 1)

    def level(self, t0, t1):
        return 10 * np.log10(self.energy(t0, t1) + 1e-20)

    def at(self, t):
        return self.level(t - 0.025, t + 0.025)

    def curve(self, t0, t1):
        """50 ms levels every 10 ms from t0 to t1, each at its window's centre."""
        return np.array([self.at(t) for t in np.arange(t0, t1, 0.01)])

    def mono(self, t0, t1):
        return self.x[int(t0 * RATE):int(t1 * RATE)].mean(axis=1)


def pitch(x, near=None):
    """(Hz, partial used in Hz, aperiodicity) of a sustained stretch.  The period
    is the first dip of the cumulative mean normalised difference under 0.15 (or
    near its deepest dip), so that neither an upper partial nor a multiple of the
    period passes for the period; the frequency is then refined on the strongest
    of the first eight partials of a zero-padded spectrum, or on the partial
    nearest `near` Hz, so that two renders are read on the same partial."""
    w, lo, hi = 2048, RATE // 4000, RATE // 25
    seg = x[:w + hi + 1]
    n = 1 << int(np.ceil(np.log2(2 * len(seg))))
    r = np.fft.irfft(np.fft.rfft(seg, n) * np.conj(np.fft.rfft(seg[:w], n)), n)[:hi + 1]
    e = np.concatenate([[0.0], np.cumsum(seg ** 2)])
    d = e[w] + (e[w:w + hi + 1] - e[:hi + 1]) - 2 * r
    cmnd = np.ones(hi + 1)
    cmnd[1:] = d[1:] * np.arange(1, hi + 1) / np.maximum(np.cumsum(d[1:]), 1e-30)
    tau = lo + int(np.nonzero(cmnd[lo:hi] < max(0.15, cmnd[lo:hi].min() + 0.1))[0][0])
    while tau + 1 < hi and cmnd[tau + 1] < cmnd[tau]:
        tau += 1
    a, b, c = cmnd[tau - 1:tau + 2]
    f = RATE / (tau + 0.5 * (a - c) / ((a - 2 * b + c) or 1e-30))
    size = 4 * len(x)
    mag = 20 * np.log10(np.abs(np.fft.rfft(x * np.hanning(len(x)), size)) + 1e-20)
    best = (None, f, 1)
    for k in [max(1, round(near / f))] if near else range(1, 9):
        i0, i1 = int(k * f * 0.97 * size / RATE), int(k * f * 1.03 * size / RATE) + 2
        if i0 < 1 or i1 + 1 >= len(mag):
            break
        i = i0 + int(np.argmax(mag[i0:i1]))
        a, b, c = mag[i - 1:i + 2]
        if best[0] is None or b > best[0]:
            best = (b, (i + 0.5 * (a - c) / ((a - 2 * b + c) or 1e-30)) * RATE / size, k)
    return best[1] / best[2], best[1], float(cmnd[tau])


def row(probe, fl, ours, tol, unit=" dB", note=""):
    """A checked row that passes when the two values are at most `tol` apart."""
    return (probe, "%.1f%s" % (fl, unit), "%.1f%s" % (ours, unit), "%+.1f%s" % (ours - fl, unit),
            "within %g%s%s" % (tol, unit, note), abs(ours - fl) <= tol)


def time_row(probe, fl, ours, tol, relative, span):
    """A checked row of two durations (None: longer than `span`); a relative
    tolerance is a share of FluidSynth's duration, but never under 20 ms."""
    text = ["> %.1f s" % span if v is None else "%.2f s" % v for v in (fl, ours)]
    if fl is None or ours is None:
        return (probe, text[0], text[1], "-", "", fl is None and ours is None)
    diff = "%+.0f%%" % (100 * (ours - fl) / max(fl, 1e-9)) if relative else "%+.2f s" % (ours - fl)
    target = "within %g%%" % (100 * tol) if relative else "within %g s" % tol
    return (probe, text[0], text[1], diff, target,
            abs(ours - fl) <= (max(tol * fl, 0.02) if relative else tol))


def fall_time(take, t0, ref, span, drop=40):
    """Seconds from t0 until the 50 ms level is `drop` dB under ref (None: not within span)."""
    below = np.nonzero(take.curve(t0 + 0.025, t0 + span) < ref - drop)[0]
    return below[0] * 0.01 + 0.025 if len(below) else None


def key_for(program):
    return 48 if 32 <= program <= 39 or program == 43 else 72 if 72 <= program <= 79 else 60


def tuning(song, t, have):
    """Every program's middle note on channel 1, 1 s long, 1.5 s apart."""
    onsets = []
    for program in sorted(p for b, p in have if b == 0):
        song.at(t, 0xC0, program)
        song.note(t + 0.05, 1.0, 0, key_for(program))
        onsets.append((program, t + 0.05))
        t += 1.5

    def measure(fl, pl):
        found, unpitched = [], []
        for program, on in onsets:
            f, partial, aperiodicity = pitch(fl.mono(on + 0.35, on + 0.85))
            # A note that has died away (60 dB under its peak) has no pitch to compare.
            if fl.level(on + 0.35, on + 0.85) < fl.curve(on, on + 1).max() - 60 or \
                    aperiodicity > 0.35:
                unpitched.append(str(program))
                continue
            g = pitch(pl.mono(on + 0.35, on + 0.85), partial)[0]
            cents = 1200 * np.log2(g / f) if pl.level(on + 0.35, on + 0.85) > -150 else np.inf
            found.append((abs(cents), cents, program, f, g))
        rows = [("tuning: programs within 5 cents", "%d of %d" % (
            sum(c[0] <= 5 for c in found), len(found)), [c[0] <= 5 for c in found])]
        if unpitched:
            rows.append(("tuning: no pitch or died away", " ".join(unpitched), []))
        for size, cents, program, f, g in sorted(found, reverse=True)[:10]:  # counted above
            rows.append(("tuning: program %d key %d" % (program, key_for(program)), "%.2f Hz" % f,
                         "%.2f Hz" % g if size < np.inf else "silent", "%+.1f c" % cents,
                         "within 5 c",
                         "(%s)" % ("PASS" if size <= 5 else "FAIL")))
        return rows
    return t, measure


def envelopes(song, t, have):
    """Key 60 of piano, guitars, harp, strings and organ held 6 s, then 4 s of silence."""
    notes = []
    for program in (0, 24, 25, 46, 48, 19):
        if (0, program) in have:
            song.at(t, 0xC0, program)
            song.note(t + 0.1, 6.0, 0, 60, 100)
            notes.append((program, t + 0.1))
            t += 10.2

    def measure(fl, pl):
        rows, peaks = [], {}
        for program, on in notes:
            off = on + 6.0
            peak = peaks[program] = [tk.curve(on, off).max() for tk in (fl, pl)]
            for s in (0.5, 1, 2, 4):
                rows.append(row("envelope %d: level at %g s" % (program, s),
                                fl.at(on + s) - peak[0], pl.at(on + s) - peak[1], 3))
            rows.append(time_row("envelope %d: release to -40 dB" % program,
                                 *[fall_time(tk, off, tk.level(off - 0.05, off), 4.0)
                                   for tk in (fl, pl)], 0.25, True, 4.0))
        for program, (a, b) in peaks.items():
            if program and 0 in peaks:
                rows.append(row("envelope %d: peak vs piano's" % program,
                                a - peaks[0][0], b - peaks[0][1], 3))
        return rows
    return t, measure


def velocity(song, t, have):
    """Key 60 of piano and strings at velocities 20, 64 and 127, 2.5 s apart."""
    notes = {}
    for program in (0, 48):
        if (0, program) in have:
            song.at(t, 0xC1, program)
            for vel in (20, 64, 127):
                song.note(t + 0.1, 1.0, 1, 60, vel)
                notes[program, vel] = t + 0.1
                t += 2.5

    def bright(take, on):
        x = take.mono(on, on + 0.3)
        power = np.abs(np.fft.rfft(x * np.hanning(len(x)))) ** 2
        return 10 * np.log10(power[np.fft.rfftfreq(len(x), 1 / RATE) > 2000].sum() /
                             max(power.sum(), 1e-30) + 1e-20)

    def measure(fl, pl):
        rows = []
        for program in sorted({p for p, _ in notes}):
            on = notes[program, 127]
            for vel in (20, 64):
                at = notes[program, vel]
                rows.append(row("velocity %d: %d vs 127, first 0.3 s" % (program, vel), *[
                    tk.level(at, at + 0.3) - tk.level(on, on + 0.3) for tk in (fl, pl)], 1.5))
            rows.append(row("velocity %d: 20's share above 2 kHz" % program,
                            *[bright(tk, notes[program, 20]) for tk in (fl, pl)], 3))
        return rows
    return t, measure


def volume(song, t, have):
    """A held organ (or strings) note on channel 3 through CC7 then CC11 steps, 1 s each."""
    program = next((p for p in (19, 48) if (0, p) in have), None)
    if program is None:
        return t, lambda fl, pl: []
    steps = [[(7, 127), (11, 127)], [(7, 100)], [(7, 64)], [(7, 32)], [(7, 127), (11, 100)],
             [(11, 64)], [(11, 32)]]
    song.at(t, 0xC2, program)
    on = t + 0.1
    for i, changes in enumerate(steps):  # the first step sets both before the note
        for number, value in changes:
            song.at(on + i - (0.05 if i == 0 else 0), 0xB2, number, value)
    song.note(on, len(steps), 2, 60, 100)

    def measure(fl, pl):
        levels = [[tk.level(on + i + 0.45, on + i + 0.95) for i in range(len(steps))]
                  for tk in (fl, pl)]
        # The target also names the General MIDI curve, 40 log10(value / 127).
        return [row("volume %d: CC%d %d vs first step" % ((program,) + steps[i][-1]),
                    levels[0][i] - levels[0][0], levels[1][i] - levels[1][0], 1.5,
                    note=" (GM %+.1f)" % (40 * np.log10(steps[i][-1][1] / 127)))
                for i in range(1, len(steps))]
    return on + len(steps) + 3, measure


def pedal(song, t, have):
    """Piano key 60 for 0.5 s inside a sustain pedal held 4 s from the note-on."""
    if (0, 0) not in have:
        return t, lambda fl, pl: []
    song.at(t, 0xC3, 0)
    song.at(t, 0xB3, 64, 127)
    on = t + 0.1
    song.note(on, 0.5, 3, 60, 100)
    song.at(on + 4.0, 0xB3, 64, 0)
    off = on + 0.5

    def measure(fl, pl):
        return [row("pedal: level %g s after key-off" % s,
                    *[tk.at(off + s) - tk.level(off - 0.05, off) for tk in (fl, pl)], 3)
                for s in (1, 3)]
    return on + 7, measure


def drums(song, t, have):
    """Kick, closed hi-hat, open hi-hat alone and choked, a snare in two kits."""
    kits = sorted(p for b, p in have if b == 128)
    if 0 not in kits:
        return t, lambda fl, pl: []
    other = 25 if 25 in kits else next((k for k in kits if k), None)
    song.at(t, 0xC9, 0)
    hits = {}
    for name, key in (("kick", 36), ("closed", 42), ("open", 46), ("choked", 46), ("snare", 38)):
        song.note(t + 0.5, 1.0, DRUMS, key)
        if name == "choked":
            song.note(t + 0.8, 1.0, DRUMS, 42)
        hits[name] = t + 0.5
        t += 3
    if other is not None:
        song.at(t, 0xC9, other)
        song.note(t + 0.5, 1.0, DRUMS, 38)
        song.at(t + 2.5, 0xC9, 0)
        hits["other"] = t + 0.5
        t += 3

    def length(tk, on):
        top = on + 0.01 * int(np.argmax(tk.curve(on, on + 1)))
        fall = fall_time(tk, top - 0.025, tk.at(top), on + 2.9 - top)
        return None if fall is None else top - on + fall - 0.025

    def choke(tk):
        # The closed hi-hat sounds in the window too: take away its energy as
        # measured alone; what is left is the open hi-hat's residue.
        alone = tk.energy(hits["open"] + 0.35, hits["open"] + 0.8)
        residue = tk.energy(hits["choked"] + 0.35, hits["choked"] + 0.8) - \
            tk.energy(hits["closed"] + 0.05, hits["closed"] + 0.5)
        return 10 * np.log10(alone / max(residue, alone * 1e-6, 1e-30))

    def bands(tk, on):
        db = 10 * np.log10(gm.band_energies(tk.mono(on, on + 0.5))[0] + 1e-20)
        return np.maximum(db, db.max() - 60)

    def measure(fl, pl):
        rows = [time_row("drums: %s length to -40 dB" % name,
                         length(fl, hits[name]), length(pl, hits[name]), 0.1, False, 2.9)
                for name in ("kick", "closed")]
        depth = [choke(tk) for tk in (fl, pl)]
        for who, text in enumerate(("FluidSynth", "Plexora")):
            rows.append(("drums: open hi-hat choke, %s" % text, "%.1f dB" % depth[0],
                         "%.1f dB" % depth[1], "", "%s >= 20 dB" % text, depth[who] >= 20))
        if other is not None:
            far = [np.sqrt(np.mean((bands(tk, hits["other"]) - bands(tk, hits["snare"])) ** 2))
                   for tk in (fl, pl)]
            rows.append(("drums: kit %d snare vs kit 0's" % other, "%.1f dB" % far[0],
                         "%.1f dB" % far[1], "", "both %s 3 dB" % (">" if far[0] > 3 else "<="),
                         (far[0] > 3) == (far[1] > 3)))
        return rows
    return t, measure


def pan(song, t, have):
    """Piano key 60 on channel 5 with CC10 at 0, 64 and 127, 3 s apart."""
    if (0, 0) not in have:
        return t, lambda fl, pl: []
    song.at(t, 0xC4, 0)
    onsets = []
    for value in (0, 64, 127):
        song.at(t, 0xB4, 10, value)
        song.note(t + 0.1, 1.0, 4, 60, 100)
        onsets.append((value, t + 0.1))
        t += 3

    def balance(tk, on):
        left, right = (tk.x[int(on * RATE):int((on + 0.5) * RATE)] ** 2).sum(axis=0)[:2]
        return 10 * np.log10((left + 1e-30) / (right + 1e-30))

    def measure(fl, pl):
        rows = []
        for value, on in onsets:
            a, b = balance(fl, on), balance(pl, on)
            r = row("pan: CC10 %d left/right" % value, a, b, 3, note=", same side")
            rows.append(r[:5] + (r[5] and (abs(a) < 1 or a * b > 0),))  # 1 dB counts as centre
        return rows
    return t, measure


def render(song, name, bank, args, work):
    """Both renders of one song as (FluidSynth, Plexora) takes."""
    mid, fl, pl = (os.path.join(work, name + x) for x in (".mid", ".fluid.wav", ".plexora.wav"))
    song.write(mid)
    gm.run(["fluidsynth", "-ni", "-q", "-R", "0", "-C", "0", "-o", "synth.polyphony=256",
            "-r", str(RATE), "-O", "float", "-T", "wav", "-F", fl, "-f", args.peer_cmd, bank, mid])
    gm.run([args.render, "--rate", str(RATE)] + (["--literal"] if args.literal else []) +
           ["--bank", bank, mid, pl])
    return Take(fl), Take(pl)


def compare(bank, args, work):
    """Renders the probe songs with one bank and prints its table."""
    have = presets(bank)
    tag = os.path.splitext(os.path.basename(bank))[0]
    rows = []
    for name, families in (("tuning", [tuning]),
                           ("articulation", [envelopes, velocity, volume, pedal, drums, pan])):
        song, t, measures = Song(), 0.5, []
        for family in families:
            t, measure = family(song, t, have)
            measures.append(measure)
        song.end = t + 1
        takes = render(song, "%s.%s" % (tag, name), bank, args, work)
        rows += [r for measure in measures for r in measure(*takes)]
    print_table("%s%s" % (bank, " (plexora-render --literal)" if args.literal else ""), tag, rows)


def print_table(title, tag, rows):
    """Rows of six columns (a result that is text is shown, not counted) and
    counting rows (probe, text, checks); then how many checks passed."""
    line = "  %-38s %12s %12s %10s  %-22s %s"
    print("\n" + title)
    print(line % ("probe", "FluidSynth", "Plexora", "diff", "target", "result"))
    for r in rows:
        print("  %-38s %s" % r[:2] if len(r) == 3 else
              line % (r[:5] + ({True: "PASS", False: "FAIL"}.get(r[5], r[5]),)))
    tuned = [ok for r in rows if len(r) == 3 for ok in r[2]]
    other = [bool(r[5]) for r in rows if len(r) == 6 and not isinstance(r[5], str)]
    print("%s: %d of %d passed (tuning %d of %d, other probes %d of %d)" % (
        tag, sum(tuned + other), len(tuned + other), sum(tuned), len(tuned), sum(other),
        len(other)), flush=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--bank", action="append")
    ap.add_argument("--render", default=os.path.join(HERE, "..", "build", "tools", "render",
                                                     "plexora-render"))
    ap.add_argument("--keep", help="keep the songs and renders in this folder")
    ap.add_argument("--literal", action="store_true", help="render with plexora-render --literal")
    args = ap.parse_args()
    banks = args.bank or [b for b in DEFAULT_BANKS if os.path.exists(b)]
    if not shutil.which("fluidsynth"):
        sys.exit("fluidsynth is not installed")
    work = args.keep or tempfile.mkdtemp(prefix="compare-articulation-")
    os.makedirs(work, exist_ok=True)
    args.peer_cmd = os.path.join(work, "peer.cmd")
    with open(args.peer_cmd, "w") as f:
        f.write("interp 1\n")  # linear interpolation; the command file is read before rendering
    failed = []
    for bank in banks:
        try:
            compare(bank, args, work)
        except (RuntimeError, OSError) as e:  # a renderer failed or is missing
            if args.literal and "--literal" in str(e).split("failed:\n", 1)[-1]:
                e = "%s has no --literal\n%s" % (args.render, e)
            print("\n%s: not measured\n%s" % (bank, e), file=sys.stderr, flush=True)
            failed.append(bank)
    if not args.keep:
        shutil.rmtree(work)
    if failed:
        sys.exit("a renderer failed with " + ", ".join(failed))


if __name__ == "__main__":
    main()
