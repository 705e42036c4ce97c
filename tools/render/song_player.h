// Plays a MIDI file through the MIDI hooks and the render callback, offline:
// each event acts on its exact frame, as if it had arrived live.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "io/smf.h"

class MyBMidiPort;

struct SongRenderOptions {
    float rate = 44100.0f;
    std::size_t buffer_frames = 512;
    double max_tail_seconds = 10.0;   // rendering goes on after the last event until voices end
    double max_seconds = 6 * 3600.0;  // longest song rendered (the tail comes on top)
};

struct SongRenderStats {
    std::uint64_t frames = 0;
    float peak = 0.0f;
    int max_voices = 0;
};

// Receives each rendered piece: interleaved stereo floats. Returns false to stop.
using FrameSink = std::function<bool(const float* interleaved, std::size_t frames)>;

// Any thread. True when `song` is short enough to render under `options`:
// its end lies within `max_seconds`. A render then makes at most
// (max_seconds + max_tail_seconds) × rate frames.
bool song_fits(const SmfSong& song, const SongRenderOptions& options);

// Tool thread. Renders `song` into `sink`. Returns false when the sink stopped
// it, or at once, without rendering anything, when the song does not fit.
bool render_song(const SmfSong& song, const SongRenderOptions& options, const FrameSink& sink,
                 SongRenderStats& stats);
