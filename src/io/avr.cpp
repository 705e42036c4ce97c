#include "io/avr.h"

#include <cstring>
#include <new>

#include "core/bytes.h"

namespace {

using bytes::be16;
using bytes::be24;

std::unique_ptr<p_s> refuse(std::string* why, const char* reason) {
    if (why) *why = reason;
    return nullptr;
}

}  // namespace

AvrHeader parse_avr_header(const unsigned char (&h)[kAvrHeaderBytes]) {
    AvrHeader a;
    std::memcpy(a.name, h + 4, 8);
    a.name[8] = 0;
    a.channels = h[13];
    a.bits = h[15];
    a.loop = static_cast<std::uint16_t>(be16(h + 18));
    a.note = h[21];
    a.rate = static_cast<std::uint16_t>(be16(h + 24));
    a.loop_begin = be24(h + 31) & ~1u;
    a.loop_end = be24(h + 35) & ~1u;
    return a;
}

std::unique_ptr<p_s> read_avr(InputBytes& src, std::string* why) {
    unsigned char h[kAvrHeaderBytes];
    if (src.size() < kAvrHeaderBytes || !src.read_at(0, h, sizeof h)) {
        return refuse(why, "shorter than its header");
    }
    const AvrHeader a = parse_avr_header(h);
    if (a.bits != 8 && a.bits != 16) return refuse(why, "resolution is neither 8 nor 16 bits");
    if (a.rate == 0) return refuse(why, "sample rate is 0");
    const bool stereo = a.channels > 1;
    const int sh = frame_shift(a.bits, stereo);

    std::uint64_t length = src.size() - kAvrHeaderBytes;
    if (length > kAvrMaxData) return refuse(why, "too large");
    // A trailing partial frame (an odd byte of 16-bit data) is dropped.
    length &= ~((std::uint64_t{1} << sh) - 1);
    const auto size = static_cast<std::uint32_t>(length);

    std::unique_ptr<p_s> rec;
    try {
        rec.reset(new_sound_with_data(size));
    } catch (const std::bad_alloc&) {
        return refuse(why, "out of memory");
    }
    if (!src.read_at(kAvrHeaderBytes, rec->data, size))
        return refuse(why, "data could not be read");

    if (a.name[0] != 0) std::memcpy(rec->name, a.name, sizeof a.name);
    rec->file_offset = kAvrHeaderBytes;
    rec->bits = a.bits;
    rec->stereo = stereo ? 1 : 0;
    rec->rate = a.rate;
    rec->base = a.note;
    rec->loop = a.loop;
    // The loop always ends with the data; a begin beyond it, or inside the
    // last frame, falls back to the start so the loop still has a length.
    std::uint32_t begin = a.loop_begin & ~((1u << sh) - 1);
    if (begin >= size) begin = 0;
    rec->loop_start = begin;
    rec->loop_end = size;
    rec->type = kTypeMemory;

    if (a.bits == 16) {
        auto* p = reinterpret_cast<unsigned char*>(rec->data);
        for (std::uint32_t i = 0; i + 1 < size; i += 2) {
            const std::int16_t v = static_cast<std::int16_t>(p[i] << 8 | p[i + 1]);
            std::memcpy(p + i, &v, 2);
        }
    }
    return rec;
}
