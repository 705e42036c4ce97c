#include "io/media_stream.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>

std::unique_ptr<MediaStream> MediaStream::open(const char* path, std::string* why) {
    SF_INFO info{};
    SNDFILE* sf = sf_open(path, SFM_READ, &info);
    if (!sf) {
        if (why) *why = sf_strerror(nullptr);
        return nullptr;
    }
    std::unique_ptr<MediaStream> m(new MediaStream());
    m->sf_ = sf;
    if (info.channels <= 0 || info.samplerate <= 0 || info.frames < 0) {
        if (why) *why = "no audio in the file";
        return nullptr;
    }
    m->channels_ = info.channels;
    m->rate_ = static_cast<std::uint32_t>(info.samplerate);
    m->frames_ = info.frames;
    m->stereo_ = info.channels == 2;
    const int sub = info.format & SF_FORMAT_SUBMASK;
    if (sub == SF_FORMAT_PCM_S8 || sub == SF_FORMAT_PCM_U8) {
        m->bits_ = 8;
    } else {
        m->bits_ = 16;
        m->as_float_ = sub != SF_FORMAT_PCM_16;
    }
    SF_INSTRUMENT inst{};
    if (sf_command(sf, SFC_GET_INSTRUMENT, &inst, sizeof inst) == SF_TRUE) {
        if (inst.basenote > 0) m->base_note_ = inst.basenote & 127;
        const auto& l = inst.loops[0];
        if (inst.loop_count > 0 && l.mode != SF_LOOP_NONE && l.start < l.end &&
            sf_count_t{l.end} <= info.frames) {
            m->loop_start_ = l.start;
            m->loop_end_ = l.end;
        }
    }
    // Integer sources come in as -1.0 .. 1.0, float sources as stored.
    sf_command(sf, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
    return m;
}

MediaStream::~MediaStream() {
    if (sf_) sf_close(sf_);
}

bool MediaStream::seek(std::int64_t frame) {
    return sf_seek(sf_, frame, SEEK_SET) == frame;
}

namespace {

std::int16_t float_to_16(float f) {
    const float v = std::nearbyint(f * 32768.0f);
    if (!(v > -32768.0f)) return -32768;  // also NaN
    if (v > 32767.0f) return 32767;
    return static_cast<std::int16_t>(v);
}

}  // namespace

std::int64_t MediaStream::read(std::int8_t* dst, std::int64_t frames, DecodeScratch& scratch) {
    std::int64_t done = 0;
    while (done < frames) {
        const std::int64_t got = decode(dst + done * frame_bytes(), frames - done, scratch);
        if (got <= 0) break;
        done += got;
    }
    return done;
}

// One decoder call of at most what the scratch holds; returns frames decoded.
std::int64_t MediaStream::decode(std::int8_t* dst, std::int64_t frames, DecodeScratch& scratch) {
    // Shorts are decoded into the same storage, which holds twice as many.
    const auto room = static_cast<std::int64_t>(scratch.samples.size() / channels_);
    const std::int64_t want = std::min(frames, room);
    if (want <= 0) return 0;
    float* fbuf = scratch.samples.data();
    auto* sbuf = reinterpret_cast<short*>(fbuf);
    const sf_count_t got =
        as_float_ ? sf_readf_float(sf_, fbuf, want) : sf_readf_short(sf_, sbuf, want);
    if (got <= 0) return 0;

    const int ch = channels_;
    const int out_ch = stereo_ ? 2 : 1;
    // Sample c of frame i of the decoder's output, as 16-bit.
    auto sample = [&](std::int64_t i, int c) -> int {
        const std::int64_t k = i * ch + c;
        return as_float_ ? float_to_16(fbuf[k]) : sbuf[k];
    };
    auto* out16 = reinterpret_cast<unsigned char*>(dst);
    for (std::int64_t i = 0; i < got; ++i) {
        for (int c = 0; c < out_ch; ++c) {
            int v;
            if (ch > 2) {
                int sum = 0;
                for (int k = 0; k < ch; ++k) sum += sample(i, k);
                v = sum / ch;
            } else {
                v = sample(i, c);
            }
            const std::int64_t o = i * out_ch + c;
            if (bits_ == 8) {
                dst[o] = static_cast<std::int8_t>(v >> 8);  // 8-bit data arrives shifted up
            } else {
                const auto s = static_cast<std::int16_t>(v);
                std::memcpy(out16 + o * 2, &s, 2);
            }
        }
    }
    return got;
}
