// Streamed sounds. A streamed sound's data is a ring: a resident start of the
// file, then two refill halves that the streaming reader fills in turn, ahead
// of the voice playing it, from the sound's StreamSource.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Frames in one decode buffer. A buffer (`chunk`) is this many frames in the
// sound's own format, so every stream's refill half lasts the same time:
// 51200 frames, 1.16 s at 44.1 kHz.
constexpr std::int64_t kChunkFrames = 1024;
// Buffers in a streamed sound's ring: the resident start, then two refill halves.
constexpr std::uint32_t kRingChunks = 150;
constexpr std::uint32_t kHalfChunks = 50;
// Largest buffer any stream can have: 16-bit stereo.
constexpr std::uint32_t kMaxChunkBytes = kChunkFrames * 4;

// Values of p_s::d2d_state: which half the reader fills next, or a rewind
// asked for by the voice that ended.
enum StreamState : std::uint16_t { kSecondHalfDue = 0, kFirstHalfDue = 1, kRewind = 3 };

struct p_s;

// The shape of a streamed sound's ring in frames: the resident start is
// [0, half), the refill halves [half, 2 half) and [2 half, end). Worked out
// from the record's buffer size (`chunk`) and frame size alone, never from
// its loop fields, so the render callback and the streaming reader always
// agree on which half is which.
struct RingGeometry {
    std::uint64_t half = 0;
    std::uint64_t end = 0;  // 3 half
};
// Any thread that may read `s`. False when `s` is no streamed sound with a
// usable ring (the buffer size does not fit its frames, or the ring does not
// fit its data block).
bool ring_geometry(const p_s& s, RingGeometry* out);

// Room for the decoder's output before it is converted.
struct DecodeScratch {
    std::vector<float> samples;
};

// A decoder delivering frames in the sound's own format (signed 8-bit or
// 16-bit host order, stereo interleaved left first).
class StreamSource {
  public:
    virtual ~StreamSource() = default;

    // Any thread.
    virtual unsigned frame_bytes() const = 0;
    // Any thread. Scratch samples needed to decode `frames` frames in one call.
    virtual std::size_t scratch_samples(std::int64_t frames) const = 0;
    // The thread that owns the stream (the loader, then the streaming
    // reader). Decodes up to `frames` frames into `dst`; returns the frames
    // decoded, fewer than asked at the end of the file or on a read error.
    virtual std::int64_t read(std::int8_t* dst, std::int64_t frames, DecodeScratch& scratch) = 0;
    // Same thread. Positions the decoder at `frame`; false when it cannot.
    virtual bool seek(std::int64_t frame) = 0;

  private:
    friend class StreamRing;
    // The streaming reader's bookkeeping: the file frame each part of the
    // ring starts with (resident start, first half, second half; -1 while a
    // half holds nothing of the current pass through the file), and the frame
    // at which the file was found to end (-1 before).
    std::int64_t ring_starts_[3] = {0, -1, -1};
    std::int64_t end_frame_ = -1;
};

// Streaming reader thread (or a test standing in for it). One pass over the
// sound table and the voices: rewinds every stream whose voice has ended,
// then refills the half of each playing stream's ring that playback is not
// in. It reads the tables inside short read sections and decodes with the
// record pinned outside them, so a slow disk never delays other frees.
// `scratch` grows to the largest buffer met. True when it did any work;
// `streaming`, when given, is set when a streamed voice is playing (the
// reader must then keep looking, since playback alone never signals it).
bool d2d_pass(DecodeScratch& scratch, bool* streaming = nullptr);

// Any thread, the audio thread included (never blocks, locks or allocates).
// Tells the streaming reader it has work: a streamed voice started or ended.
void d2d_signal();
// Streaming reader. Waits for `d2d_signal` (one signal sent since the last
// wait ended is never lost), at most `timeout_ms` when it is not negative.
void d2d_wait(int timeout_ms);
