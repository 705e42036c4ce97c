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
    double max_tail_seconds = 10.0;  // rendering goes on after the last event until voices end
};

struct SongRenderStats {
    std::uint64_t frames = 0;
    float peak = 0.0f;
    int max_voices = 0;
};

// Receives each rendered piece: interleaved stereo floats. Returns false to stop.
using FrameSink = std::function<bool(const float* interleaved, std::size_t frames)>;

// Tool thread. Renders `song` into `sink`. Returns false when the sink stopped it.
bool render_song(const SmfSong& song, const SongRenderOptions& options, const FrameSink& sink,
                 SongRenderStats& stats);
