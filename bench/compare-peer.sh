#!/usr/bin/env bash
# Renders one song with one bank through plexora-render and through
# FluidSynth's file renderer (reverb and chorus off, 128 voices, linear
# interpolation, 32-bit float WAV at the same rate), alternately, five times
# each, and prints the medians of wall time, CPU time and peak memory for
# both, one figure a line, then `ratio <ours/peer wall>`.
#
#   bench/compare-peer.sh SONG.mid BANK.sf2 [RATE]
set -euo pipefail
if [ $# -lt 2 ]; then
    echo "usage: $0 SONG.mid BANK.sf2 [RATE]" >&2
    exit 2
fi
song=$1
bank=$2
rate=${3:-44100}
here=$(cd "$(dirname "$0")/.." && pwd)
ours=${PLEXORA_RENDER:-$here/build/tools/render/plexora-render}
if [ ! -x "$ours" ]; then
    echo "$ours is not built (run scripts/test.sh or build the plexora-render target)" >&2
    exit 1
fi
command -v fluidsynth >/dev/null || { echo "fluidsynth is not installed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "interp 1" >"$work/peer.cmd"

# Runs a command under GNU time; appends "wall cpu maxrss_kb" to a file.
measure() {
    local out=$1
    shift
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >"$work/log" 2>&1 || {
        cat "$work/log" >&2
        exit 1
    }
    awk '{ printf "%s %.3f %s\n", $1, $2 + $3, $4 }' "$work/time" >>"$out"
}

for i in 1 2 3 4 5; do
    measure "$work/ours" "$ours" --rate "$rate" --bank "$bank" "$song" "$work/ours.wav"
    cp "$work/log" "$work/ours.log"
    measure "$work/peer" fluidsynth -ni -q -R 0 -C 0 -o synth.polyphony=128 -r "$rate" \
        -O float -T wav -F "$work/peer.wav" -f "$work/peer.cmd" "$bank" "$song"
done

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
col() { awk -v c="$2" '{ print $c }' "$1" | median; }

ours_wall=$(col "$work/ours" 1)
peer_wall=$(col "$work/peer" 1)
echo "song $(basename "$song") bank $(basename "$bank") rate $rate"
echo "ours: $(tail -n 1 "$work/ours.log")"
echo "ours_wall_s $ours_wall"
echo "peer_wall_s $peer_wall"
echo "ours_cpu_s $(col "$work/ours" 2)"
echo "peer_cpu_s $(col "$work/peer" 2)"
echo "ours_peak_kb $(col "$work/ours" 3)"
echo "peer_peak_kb $(col "$work/peer" 3)"
echo "ratio $(awk -v a="$ours_wall" -v b="$peer_wall" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }')"
