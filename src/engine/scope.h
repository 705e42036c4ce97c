// The start of the last rendered buffer, kept for the oscilloscope. The
// render callback copies its first frames into a snapshot that any thread
// can read without locks and without tearing, so no thread ever holds a
// pointer to the audio device's own buffer.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kScopeFrames = 128;

struct ScopeTrace {
    float left[kScopeFrames];
    float right[kScopeFrames];
    int frames = 0;  // frames held: 0 before the first buffer
};

// Audio thread. Keeps the first frames of `out` (`floats` interleaved
// floats of `channels` channels; a mono buffer feeds both sides).
void scope_write(const float* out, std::size_t floats, std::uint32_t channels);

// Any thread. Copies the last complete snapshot into `trace`; false when
// the writer kept overtaking the read (the caller keeps what it had).
bool scope_read(ScopeTrace& trace);

// GUI thread, with the audio stopped. Forgets the snapshot.
void scope_clear();
