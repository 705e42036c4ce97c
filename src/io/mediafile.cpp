#include "io/mediafile.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "io/media_stream.h"

namespace {

// Decodes frames [0, count) into `rec`'s data; returns the frames decoded.
std::int64_t read_start(MediaStream& m, p_s& rec, std::int64_t count) {
    DecodeScratch scratch;
    scratch.samples.resize(m.scratch_samples(kChunkFrames));
    std::int64_t pos = 0;
    while (pos < count) {
        const std::int64_t want = std::min(kChunkFrames, count - pos);
        const std::int64_t got = m.read(rec.data + pos * m.frame_bytes(), want, scratch);
        pos += got;
        if (got < want) break;  // end of file or read error: keep what was read
    }
    return pos;
}

std::unique_ptr<p_s> build(std::unique_ptr<MediaStream> m, std::int64_t stream_from) {
    const std::uint64_t bpf = m->frame_bytes();
    const std::uint64_t decoded = static_cast<std::uint64_t>(m->frames()) * bpf;
    const std::uint32_t chunk = static_cast<std::uint32_t>(kChunkFrames * bpf);
    if (stream_from < 0) stream_from = std::max<std::int32_t>(limitd2d, 0);
    const bool streamed = decoded >= static_cast<std::uint64_t>(stream_from);
    if (!streamed && decoded > UINT32_MAX - kSpareBytes) return nullptr;

    std::unique_ptr<p_s> rec(
        new_sound_with_data(streamed ? kRingChunks * chunk : static_cast<std::uint32_t>(decoded)));
    rec->type = streamed ? kTypeStreamed : kTypeMemory;
    rec->file_offset = 0;
    rec->bits = static_cast<std::uint16_t>(m->bits());
    rec->stereo = m->stereo() ? 1 : 0;
    rec->rate = m->rate();
    rec->base = 48;
    rec->loop = 0;
    rec->chunk = chunk;
    rec->nframes = m->frames();

    const std::int64_t want = streamed ? std::int64_t{kHalfChunks} * kChunkFrames : m->frames();
    const std::int64_t pos = read_start(*m, *rec, want);
    rec->rd_frames = pos;
    rec->rd_frames2 = pos;
    rec->d2d_state = kFirstHalfDue;
    if (!streamed) {
        rec->size = static_cast<std::uint32_t>(static_cast<std::uint64_t>(pos) * bpf);
        rec->loop_start = 0;
        rec->loop_end = rec->size;
        return rec;  // the decoder closes here
    }
    rec->loop = 1;
    rec->loop_start = kHalfChunks * chunk;
    rec->loop_end = kRingChunks * chunk;
    rec->mfile = std::shared_ptr<StreamSource>(std::move(m));
    return rec;
}

}  // namespace

std::unique_ptr<p_s> decode_media(const char* path, std::string* why, std::int64_t stream_from) {
    std::string reason;
    std::unique_ptr<MediaStream> m = MediaStream::open(path, &reason);
    if (!m) {
        std::printf("cannot contruct BMediaFile object -- %s\n", reason.c_str());
        if (why) *why = reason;
        return nullptr;
    }
    try {
        std::unique_ptr<p_s> rec = build(std::move(m), stream_from);
        if (!rec && why) *why = "too large to hold in memory";
        return rec;
    } catch (const std::bad_alloc&) {
        std::printf("erreur malloc\n");
        if (why) *why = "not enough memory";
        return nullptr;
    }
}

bool decode_sample(const char* path, DecodedSample& out, std::string& why) {
    std::unique_ptr<MediaStream> m = MediaStream::open(path, &why);
    if (!m) return false;
    const std::uint64_t bpf = m->frame_bytes();
    const std::uint64_t bytes = static_cast<std::uint64_t>(m->frames()) * bpf;
    if (bytes > UINT32_MAX - kSpareBytes) {
        why = "too large to hold in memory";
        return false;
    }
    try {
        out.block.reset(new std::int8_t[bytes + kSpareBytes]());
        DecodeScratch scratch;
        scratch.samples.resize(m->scratch_samples(kChunkFrames));
        std::int64_t pos = 0;
        while (pos < m->frames()) {
            const std::int64_t want = std::min(kChunkFrames, m->frames() - pos);
            const std::int64_t got = m->read(out.block.get() + pos * bpf, want, scratch);
            pos += got;
            if (got < want) break;
        }
        if (pos == 0) {
            why = "holds no sound that could be decoded";
            return false;
        }
        out.frames = pos;
    } catch (const std::bad_alloc&) {
        why = "not enough memory";
        return false;
    }
    out.bytes = static_cast<std::uint64_t>(out.frames) * bpf;
    out.bits = static_cast<std::uint16_t>(m->bits());
    out.stereo = m->stereo();
    out.rate = m->rate();
    out.base_note = m->base_note();
    if (m->loop_end() > 0 && m->loop_end() <= out.frames) {
        out.loop_start = m->loop_start();
        out.loop_end = m->loop_end();
    }
    return true;
}
