// An audio file opened through the decoding library, delivering frames in the
// sample formats the engine plays: 8-bit PCM stays signed 8-bit (unsigned
// 8-bit data is made signed), 16-bit PCM stays 16-bit, every other encoding
// is decoded to signed 16-bit host order. Two channels are kept as stereo
// (left first); one channel is mono; more channels are mixed down to mono.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/stream.h"

struct sf_private_tag;

class MediaStream final : public StreamSource {
  public:
    // GUI thread. Null, with the decoder's reason in `why`, when `path`
    // cannot be decoded.
    static std::unique_ptr<MediaStream> open(const char* path, std::string* why);
    ~MediaStream() override;
    MediaStream(const MediaStream&) = delete;
    MediaStream& operator=(const MediaStream&) = delete;

    // Any thread.
    unsigned bits() const { return bits_; }
    bool stereo() const { return stereo_; }
    unsigned frame_bytes() const override { return (bits_ / 8) * (stereo_ ? 2u : 1u); }
    std::uint32_t rate() const { return rate_; }
    std::int64_t frames() const { return frames_; }
    // The loop the file itself sets (its first one; end exclusive), -1 for
    // none; and the key its samples sound at their rate, -1 when not given.
    std::int64_t loop_start() const { return loop_start_; }
    std::int64_t loop_end() const { return loop_end_; }
    int base_note() const { return base_note_; }
    // Scratch samples needed to decode `frames` frames in one call.
    std::size_t scratch_samples(std::int64_t frames) const override {
        return static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels_);
    }

    // The thread that owns the stream (the loader, then the streaming
    // reader). Decodes up to `frames` frames into `dst` (frame_bytes() each),
    // never more than `scratch` holds at a time. Returns the frames decoded;
    // fewer than asked at the end of the file or on a read error.
    std::int64_t read(std::int8_t* dst, std::int64_t frames, DecodeScratch& scratch) override;
    // Same thread. Positions the decoder at `frame`; false when it cannot.
    bool seek(std::int64_t frame) override;

  private:
    MediaStream() = default;
    std::int64_t decode(std::int8_t* dst, std::int64_t frames, DecodeScratch& scratch);

    sf_private_tag* sf_ = nullptr;
    int channels_ = 0;
    std::uint32_t rate_ = 0;
    std::int64_t frames_ = 0;
    unsigned bits_ = 16;
    bool stereo_ = false;
    bool as_float_ = false;  // decoded through floats (not 8- or 16-bit PCM)
    std::int64_t loop_start_ = -1, loop_end_ = -1;
    int base_note_ = -1;
};
