#include "engine/stream.h"

#include <semaphore.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <new>

#include "core/reclaim.h"
#include "core/sound.h"
#include "engine/voice_table.h"
#include "engine/voices.h"

// The geometry of one streamed sound's ring, in frames, with access to its
// source's reader bookkeeping.
class StreamRing {
  public:
    StreamRing() = default;
    StreamRing(p_s* s_, StreamSource* m_, std::int64_t chunk, std::int64_t half_, unsigned fb_)
        : s(s_), m(m_), chunk_frames(chunk), half(half_), fb(fb_) {}

    std::int64_t& end_frame() const { return m->end_frame_; }
    std::int64_t* ring_starts() const { return m->ring_starts_; }

    p_s* s = nullptr;
    StreamSource* m = nullptr;
    std::int64_t chunk_frames = 0;
    std::int64_t half = 0;  // frames in one refill half (and in the resident start)
    unsigned fb = 0;        // bytes per frame
};

namespace {

using Ring = StreamRing;

bool ring_of(p_s* s, Ring* out) {
    RingGeometry g{};
    if (!s || !s->mfile || !ring_geometry(*s, &g)) return false;
    StreamSource* m = s->mfile.get();
    const unsigned fb = m->frame_bytes();
    // The decoder delivers frames of the size the record says it holds.
    if (fb != (1u << frame_shift(s->bits, s->stereo))) return false;
    *out =
        Ring(s, m, static_cast<std::int64_t>(s->chunk / fb), static_cast<std::int64_t>(g.half), fb);
    return true;
}

// The scratch holds one decode buffer of every stream met so far.
bool ensure_scratch(DecodeScratch& scratch, const Ring& r) {
    const std::size_t need = r.m->scratch_samples(r.chunk_frames);
    if (scratch.samples.size() >= need) return true;
    try {
        scratch.samples.resize(need);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void publish_position(p_s& s, std::int64_t frame) {
    // Release: whatever was written into the ring before is visible to the
    // render callback once it has loaded the new position.
    s.rd_frames.raw().store(frame, std::memory_order_release);
    s.rd_frames2.raw().store(frame, std::memory_order_release);
}

// The stream starts over. Its start is resident in the ring, so the decoder
// is placed just after it: back to the beginning, then the start decoded and
// dropped.
void rewind(const Ring& r, DecodeScratch& scratch) {
    std::int64_t reached = 0;
    if (r.m->seek(0)) {
        std::int8_t sink[kMaxChunkBytes];
        while (reached < r.half) {
            const std::int64_t want = std::min(r.chunk_frames, r.half - reached);
            const std::int64_t got = r.m->read(sink, want, scratch);
            reached += got;
            if (got < want) break;
        }
    }
    r.end_frame() = -1;
    r.ring_starts()[1] = r.ring_starts()[2] = -1;
    publish_position(*r.s, reached);
    r.s->d2d_state = kFirstHalfDue;
}

// Part of the ring frame `p` lies in: 0 resident start, 1 first half, 2 second half.
int region(const Ring& r, std::int64_t p) {
    if (p < r.half) return 0;
    return p < 2 * r.half ? 1 : 2;
}

// Fills refill half `which` (1 or 2) with the next frames of the stream. At
// the end of the file (or a read error) the rest of the half is silence and
// the end is remembered, so that the voice stops when it gets there rather
// than as soon as the last part is read.
void fill_half(const Ring& r, int which, DecodeScratch& scratch) {
    const std::int64_t first = which * r.half;
    std::int64_t w = first;
    std::int64_t pos = r.s->rd_frames.raw().load(std::memory_order_relaxed);
    r.ring_starts()[which] = pos;
    const std::int64_t target = pos + r.half;
    const std::int64_t total = r.s->nframes;
    bool ended = false;
    while (pos < target) {
        if (pos >= total) {
            ended = true;
            break;
        }
        const std::int64_t want = std::min(r.chunk_frames, target - pos);
        const std::int64_t got = r.m->read(r.s->data + w * r.fb, want, scratch);
        w += got;
        pos += got;
        if (got < want) {
            ended = true;
            break;
        }
    }
    if (ended) {
        const std::int64_t end = first + r.half;
        std::memset(r.s->data + w * r.fb, 0, static_cast<std::size_t>((end - w) * r.fb));
        if (r.end_frame() < 0) r.end_frame() = pos;
    }
    if (which == 1) {
        // Playback wraps from the ring's end to the first half, so the frame
        // after the end (read when interpolating across it) is the first
        // frame of that half; the ring's spare tail holds a copy.
        const std::size_t tail = static_cast<std::size_t>(3 * r.half) * r.fb;
        if (tail + r.fb <= r.s->capacity) {
            std::memcpy(r.s->data + tail, r.s->data + static_cast<std::size_t>(first) * r.fb, r.fb);
        }
    }
    publish_position(*r.s, pos);
}

// After a refill the other half is due, unless a rewind was asked meanwhile.
void advance_state(p_s& s, std::uint16_t from, std::uint16_t to) {
    std::uint16_t expected = from;
    s.d2d_state.cas(expected, to);
}

// True once the voice at ring frame `p` plays at or past the end of the file.
// Judged by the file frame it plays, so a voice that went past the end
// between two passes is still stopped.
bool at_end(const Ring& r, std::int64_t p) {
    if (r.end_frame() < 0) return false;
    const int part = region(r, p);
    const std::int64_t start = r.ring_starts()[part];
    return start >= 0 && start + (p - part * r.half) >= r.end_frame();
}

// What one voice needs from the reader, judged inside a read section. A
// voice that has played past the end of the file is asked to stop (the
// request names its claim, so a reused voice is never stopped by it).
enum class Refill { kNone, kFirstHalf, kSecondHalf };

Refill refill_due(int voice, std::uint32_t serial, const Ring& r) {
    const NOTE_LIST& v = nlist[voice];
    // Acquire: the render callback has finished reading wherever it was
    // before it published this position.
    const std::int64_t p = v.pos.raw().load(std::memory_order_acquire);
    if (at_end(r, p)) stop_voice_claim(voice, serial);
    const bool in_first = p >= r.half && p < 2 * r.half;
    if (!in_first && r.s->d2d_state == kFirstHalfDue) return Refill::kFirstHalf;
    if (in_first && r.s->d2d_state == kSecondHalfDue) return Refill::kSecondHalf;
    return Refill::kNone;
}

// Finds the streamed record that `find` names inside a read section and pins
// it, so that the decoding that follows runs outside the section and a slow
// disk never holds back the freeing of other records. False when there is
// nothing to do (or no pin is free: the next pass tries again).
template <typename Find>
bool pin_ring(Find find, Ring& r, reclaim::Pin& pin) {
    reclaim::ReadSection section;
    return find(r) && pin.hold(r.s);
}

// The reader's wake-up: a counting semaphore, since posting one is safe on
// the audio thread and a post made before the reader waits is kept.
struct Signal {
    Signal() { sem_init(&sem, 0, 0); }
    ~Signal() { sem_destroy(&sem); }
    sem_t sem;
};
Signal signal;

}  // namespace

bool ring_geometry(const p_s& s, RingGeometry* out) {
    if (s.type != kTypeStreamed || !s.data) return false;
    const std::uint32_t fb = 1u << frame_shift(s.bits, s.stereo);
    const std::uint32_t chunk = s.chunk;
    if (chunk < fb || chunk > kMaxChunkBytes) return false;
    const std::uint64_t half = std::uint64_t{chunk / fb} * kHalfChunks;
    // The ring lies inside the block whatever the record says.
    if (3 * half * fb > s.capacity) return false;
    out->half = half;
    out->end = 3 * half;
    return true;
}

void d2d_signal() {
    sem_post(&signal.sem);
}

void d2d_wait(int timeout_ms) {
    int r;
    if (timeout_ms < 0) {
        do r = sem_wait(&signal.sem);
        while (r != 0 && errno == EINTR);
    } else {
        timespec until{};
        clock_gettime(CLOCK_MONOTONIC, &until);
        until.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1000000L;
        until.tv_sec += timeout_ms / 1000 + until.tv_nsec / 1000000000L;
        until.tv_nsec %= 1000000000L;
        do r = sem_clockwait(&signal.sem, CLOCK_MONOTONIC, &until);
        while (r != 0 && errno == EINTR);
    }
    // Signals that arrived meanwhile are answered by the pass that follows.
    while (sem_trywait(&signal.sem) == 0) {
    }
}

bool d2d_pass(DecodeScratch& scratch, bool* streaming) {
    bool playing = false;
    bool work = false;
    // Only a voice that ended on a streamed sound asks for a rewind: without
    // one, an idle pass costs the same whatever the tables hold.
    const bool rewinds = d2d_rewind_due.exchange(false, std::memory_order_acq_rel);
    const int sounds = rewinds ? std::min<int>(nb_sound, kMaxSounds) : 0;
    bool rewinds_left = false;  // asked for but not done in this pass
    for (int i = 0; i < sounds; ++i) {
        Ring r{};
        reclaim::Pin pin;
        bool asked = false;
        const bool due = pin_ring(
            [i, &asked](Ring& ring) {
                asked = ring_of(structure().at(i), &ring) && ring.s->d2d_state == kRewind;
                return asked;
            },
            r, pin);
        if (!due || !ensure_scratch(scratch, r)) {
            rewinds_left |= asked;
            continue;
        }
        rewind(r, scratch);
        work = true;
    }
    // A rewind that could not be done now (no pin or no scratch free) stays
    // asked for: the next pass tries again.
    if (rewinds_left) d2d_rewind_due.store(true, std::memory_order_release);
    for (int i = 0; i < kVoices; ++i) {
        const NOTE_LIST& v = nlist[i];
        const std::uint64_t w = v.word();
        if (NOTE_LIST::state_of(w) != kVoicePlaying) continue;
        const std::uint32_t serial = NOTE_LIST::serial_of(w);
        Ring r{};
        reclaim::Pin pin;
        Refill due = Refill::kNone;
        const bool found = pin_ring(
            [&](Ring& ring) {
                if (!ring_of(voice_sound(i), &ring)) return false;
                playing = true;
                due = refill_due(i, serial, ring);
                return due != Refill::kNone;
            },
            r, pin);
        if (!found || !ensure_scratch(scratch, r)) continue;
        const bool first = due == Refill::kFirstHalf;
        fill_half(r, first ? 1 : 2, scratch);
        advance_state(*r.s, first ? kFirstHalfDue : kSecondHalfDue,
                      first ? kSecondHalfDue : kFirstHalfDue);
        work = true;
    }
    // A rewind left for later keeps the reader looking, as a playing stream does.
    if (streaming) *streaming = playing || rewinds_left;
    return work;
}
