#include "io/bank_decode.h"

#include <sndfile.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "core/bytes.h"
#include "core/sound.h"

namespace {

// Zero points after every decoded sample, as banks keep between samples, so
// that interpolation past a sample's end reads silence.
constexpr std::uint64_t kGapPoints = 46;
// Decoded points the block may hold: its offsets are 32-bit.
constexpr std::uint64_t kMaxPoints = (std::uint64_t{1} << 31) - 1;

// One compressed stream read from memory through libsndfile.
struct MemoryStream {
    const std::uint8_t* data;
    sf_count_t size;
    sf_count_t at = 0;
};

sf_count_t stream_length(void* user) {
    return static_cast<MemoryStream*>(user)->size;
}
sf_count_t stream_seek(sf_count_t offset, int whence, void* user) {
    auto* m = static_cast<MemoryStream*>(user);
    const sf_count_t base = whence == SEEK_CUR ? m->at : whence == SEEK_END ? m->size : 0;
    m->at = std::clamp<sf_count_t>(base + offset, 0, m->size);
    return m->at;
}
sf_count_t stream_read(void* dst, sf_count_t count, void* user) {
    auto* m = static_cast<MemoryStream*>(user);
    const sf_count_t n = std::clamp<sf_count_t>(count, 0, m->size - m->at);
    std::memcpy(dst, m->data + m->at, static_cast<std::size_t>(n));
    m->at += n;
    return n;
}
sf_count_t stream_write(const void*, sf_count_t, void*) {
    return 0;
}
sf_count_t stream_tell(void* user) {
    return static_cast<MemoryStream*>(user)->at;
}

// Decodes one compressed sample's bytes into 16-bit points (the first
// channel of a stream that has several). False when they are no stream
// libsndfile reads.
bool decode_stream(const std::uint8_t* data, std::uint64_t size, std::vector<std::int16_t>& out) {
    out.clear();
    SF_VIRTUAL_IO io{stream_length, stream_seek, stream_read, stream_write, stream_tell};
    MemoryStream m{data, static_cast<sf_count_t>(size)};
    SF_INFO info{};
    SNDFILE* f = sf_open_virtual(&io, SFM_READ, &info, &m);
    if (!f) return false;
    const int channels = std::max(info.channels, 1);
    std::vector<std::int16_t> piece(4096 * static_cast<std::size_t>(channels));
    bool ok = true;
    for (;;) {
        const sf_count_t got = sf_readf_short(f, piece.data(), 4096);
        if (got <= 0) break;
        for (sf_count_t i = 0; i < got; ++i)
            out.push_back(piece[static_cast<std::size_t>(i * channels)]);
        if (out.size() > kMaxPoints) {
            ok = false;
            break;
        }
    }
    sf_close(f);
    return ok && !out.empty();
}

void put_le32(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

bool sample_compressed(const std::uint8_t* h) {
    return (bytes::le16(h + 44) & kCompressedSample) != 0;
}

DecodedSamples decode_bank_samples(BankLists& l, const std::vector<bool>& used,
                                   const std::int8_t* smpl, std::uint64_t smpl_bytes,
                                   const DecodeProgress& progress) {
    DecodedSamples d;
    const auto* raw = reinterpret_cast<const std::uint8_t*>(smpl);
    std::uint64_t to_decode = 0;
    for (std::size_t s = 0; s < used.size(); ++s) {
        if (!used[s] || !sample_compressed(l.shdr.at(s))) continue;
        to_decode += bytes::le32(l.shdr.at(s) + 24) - bytes::le32(l.shdr.at(s) + 20);
    }
    // Every sample's points, each followed by the gap.
    std::vector<std::int16_t> points;
    std::vector<std::int16_t> one;
    std::uint64_t decoded = 0;
    for (std::size_t s = 0; s < used.size(); ++s) {
        if (!used[s]) continue;
        std::uint8_t* h = l.shdr.bytes.data() + s * l.shdr.width;
        const std::uint64_t start = bytes::le32(h + 20);
        const std::uint64_t end = bytes::le32(h + 24);
        std::uint64_t loop_start = bytes::le32(h + 28);
        std::uint64_t loop_end = bytes::le32(h + 32);
        if (sample_compressed(h)) {
            // The header gives the stream's bytes, and the loop in points from
            // the decoded sample's start.
            if (end > smpl_bytes || !decode_stream(raw + start, end - start, one)) {
                char text[200];
                char name[kSfNameChars + 1];
                copy_sf_name(h, name);
                std::snprintf(text, sizeof text,
                              "This bank is damaged: sample \"%s\" is marked compressed, but its "
                              "data cannot be decoded.",
                              name);
                d.problem = text;
                return d;
            }
            decoded += end - start;
            if (progress && !progress(decoded, to_decode)) {
                d.problem = "stopped";
                return d;
            }
        } else {
            // Playable zones lie inside the sample chunk (checked when planned).
            const auto* from = reinterpret_cast<const std::int16_t*>(raw) + start;
            one.assign(from, from + (end - start));
            loop_start -= std::min(loop_start, start);
            loop_end -= std::min(loop_end, start);
        }
        const std::uint64_t at = points.size();
        if (at + one.size() + kGapPoints > kMaxPoints) {
            d.problem = "This bank's samples are too large to hold once decoded.";
            return d;
        }
        points.insert(points.end(), one.begin(), one.end());
        points.resize(points.size() + kGapPoints, 0);
        put_le32(h + 20, at);
        put_le32(h + 24, at + one.size());
        put_le32(h + 28, at + std::min<std::uint64_t>(loop_start, one.size()));
        put_le32(h + 32, at + std::min<std::uint64_t>(loop_end, one.size()));
        h[44] = static_cast<std::uint8_t>(h[44] & ~kCompressedSample);
    }
    d.bytes = points.size() * 2;
    auto* block = new std::int8_t[d.bytes + kSpareBytes]();
    d.block = std::shared_ptr<std::int8_t[]>(block, [](std::int8_t* p) { delete[] p; });
    std::memcpy(block, points.data(), d.bytes);
    return d;
}
