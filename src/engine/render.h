// The render callback: the only code that makes sound.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "core/rt.h"

// Sample format code of 32-bit float samples.
constexpr std::uint32_t kFormatFloat = 0x24;

// What the sound player says about the buffers it asks for.
struct raw_audio_format {
    float frame_rate = 44100.0f;
    std::uint32_t channel_count = 2;
    std::uint32_t format = kFormatFloat;
    std::uint32_t byte_order = 0;
    std::size_t buffer_size = 0;
};

// However its release is timed (a release curve measured in source frames
// lasts longer the further a note is bent down), a released voice is heard
// for at most this many seconds after its note-off: it fades out over the
// last kBoundFadeSeconds of them. All sound off fades a voice out within
// kSilenceFadeSeconds.
constexpr float kReleaseBoundSeconds = 8.0f;
constexpr float kBoundFadeSeconds = 0.05f;
constexpr float kSilenceFadeSeconds = 0.01f;

// Audio thread. Fills `buffer` (`size` bytes of interleaved float frames)
// with the mix of every active voice. Never locks, allocates or waits.
// Buffers in any other sample format are left untouched.
void BufferProc(void* cookie, void* buffer, std::size_t size, const raw_audio_format& format);

// Buffers in which a streamed voice reached a part of its ring the streaming
// reader had not refilled yet, and waited in silence. Any thread reads it.
extern std::atomic<std::uint64_t> stream_underruns;
