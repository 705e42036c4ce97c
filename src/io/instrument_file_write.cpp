// Writing instrument files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/bytes.h"
#include "core/instruments.h"
#include "core/reclaim.h"
#include "core/sound.h"
#include "io/instrument_file.h"

namespace {

void put16(unsigned char* p, std::uint32_t v) {
    bytes::put_be(p, v, 2);
}

void put32(unsigned char* p, std::uint32_t v) {
    bytes::put_be(p, v, 4);
}

// The bytes of `r`'s data that can be written: its size, but never more than
// its data holds.
std::uint32_t data_bytes(const p_s* r) {
    if (!r || !r->data || r->type == kTypeStreamed) return 0;
    return std::min<std::uint32_t>(r->size, r->capacity);
}

// The curves, their flags, the release length, the whole name, the
// articulation, the Panning and, in the first block, the instrument's name.
void write_extra(unsigned char* h, const p_s& r, const char* inst) {
    std::memcpy(h + kInstExtraAt, kInstExtraMarker, sizeof kInstExtraMarker);
    put16(h + kInstExtraAt + 4, kInstExtraVersion);
    for (int c = 0; c < kCurves; ++c)
        for (int p = 0; p < kPoints; ++p)
            put16(h + kInstExtraEnvAt + 2 * (c * kPoints + p), r.env[p][c]);
    put16(h + kInstExtraFlagsAt, r.flags);
    put32(h + kInstExtraRelAt, r.rel_time);
    for (int i = 0; i < kInstExtraNameBytes - 1 && r.name[i]; ++i)
        h[kInstExtraNameAt + i] = static_cast<unsigned char>(r.name[i]);
    if (r.art.on) put_articulation(h + kInstExtraArtAt, r.art);
    put16(h + kInstExtraPanAt, r.pan);
    for (int i = 0; inst && i < kInstExtraInstNameBytes - 1 && inst[i]; ++i)
        h[kInstExtraInstNameAt + i] = static_cast<unsigned char>(inst[i]);
}

}  // namespace

bool write_all(int fd, const void* data, std::size_t n) {
    const auto* p = static_cast<const char*>(data);
    while (n > 0) {
        const ssize_t put = ::write(fd, p, n);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        p += put;
        n -= static_cast<std::size_t>(put);
    }
    return true;
}

namespace {

// The articulation's values in the order the file holds them.
template <typename A>
auto art_values(A& a) {
    return std::array{&a.tune,    &a.scale_tuning, &a.attenuation, &a.pan,
                      &a.delay,   &a.attack,       &a.hold,        &a.decay,
                      &a.sustain, &a.release,      &a.key_to_hold, &a.key_to_decay};
}

template <typename A>
auto mod_values(A& a) {
    return std::array{&a.mod_delay,       &a.mod_attack,       &a.mod_hold,
                      &a.mod_decay,       &a.mod_sustain,      &a.mod_release,
                      &a.key_to_mod_hold, &a.key_to_mod_decay, &a.mod_env_to_filter};
}

}  // namespace

void put_articulation(unsigned char* p, const Articulation& a) {
    p[0] = a.on ? 1 : 0;
    p[1] = a.sample_mode;
    p[2] = a.exclusive_class;
    p[3] = a.cuts;
    int at = 4;
    for (const std::int16_t* v : art_values(a)) {
        put16(p + at, static_cast<std::uint16_t>(*v));
        at += 2;
    }
    put16(p + 28, static_cast<std::uint16_t>(a.velocity_attenuation));
    p[30] = a.modulator_count;
    for (int i = 0; i < kNoteModulators; ++i) {
        unsigned char* m = p + 32 + 8 * i;
        put16(m, a.modulators[i].source);
        put16(m + 2, a.modulators[i].amount_source);
        m[4] = a.modulators[i].dest;
        put16(m + 6, static_cast<std::uint16_t>(a.modulators[i].amount));
    }
    put16(p + 112, static_cast<std::uint16_t>(a.filter_cutoff));
    put16(p + 114, static_cast<std::uint16_t>(a.filter_q));
    at = 116;
    for (const std::int16_t* v : mod_values(a)) {
        put16(p + at, static_cast<std::uint16_t>(*v));
        at += 2;
    }
}

Articulation get_articulation(const unsigned char* p) {
    Articulation a;
    if (p[0] != 1) return a;
    a.on = true;
    a.sample_mode = (p[1] == kLoopAlways || p[1] == kLoopUntilRelease) ? p[1] : std::uint8_t{0};
    a.exclusive_class = p[2] & 0x7F;
    a.cuts = p[3] == kCutsNone ? kCutsNone : p[3] & 0x7F;
    int at = 4;
    const auto s16 = [p](int at) { return static_cast<std::int16_t>((p[at] << 8) | p[at + 1]); };
    for (std::int16_t* v : art_values(a)) {
        *v = s16(at);
        at += 2;
    }
    a.velocity_attenuation = s16(28);
    a.filter_cutoff = s16(112);
    a.filter_q = s16(114);
    at = 116;
    for (std::int16_t* v : mod_values(a)) {
        *v = s16(at);
        at += 2;
    }
    for (int i = 0; i < std::min<int>(p[30], kNoteModulators); ++i) {
        const int m = 32 + 8 * i;
        const NoteModulator n{static_cast<std::uint16_t>(s16(m)),
                              static_cast<std::uint16_t>(s16(m + 2)), p[m + 4], s16(m + 6)};
        // A modulator this program cannot play is left out, as at import.
        if (note_modulator_playable(n.source, n.amount_source, n.dest))
            a.modulators[a.modulator_count++] = n;
    }
    return a;
}

namespace {

// `inst` is the instrument's name, given for the first block only.
// `with_data` false: the block says it holds no data.
bool write_block(const InstrumentSink& out_sink, const p_s* r, std::uint16_t count,
                 const char* inst, bool with_data) {
    unsigned char h[kInstBlockBytes] = {};
    const std::uint32_t size = with_data ? data_bytes(r) : 0;
    if (r) {
        put32(h + 0, r->rate);
        put32(h + 8, size);
        put32(h + 12, r->loop_start);
        put32(h + 16, r->loop_end);
        put16(h + 20, r->loop);
        put16(h + 22, static_cast<std::uint16_t>(r->base));
        put32(h + 24, r->file_offset);
        for (int i = 0; i < kInstNameChars && r->name[i]; ++i)
            h[28 + i] = static_cast<unsigned char>(r->name[i]);
        put16(h + 46, r->bits);
        put16(h + 48, r->stereo);
        put16(h + 50, static_cast<std::uint16_t>(r->shift));
        put16(h + 52, static_cast<std::uint16_t>(r->key_lo));
        put16(h + 54, static_cast<std::uint16_t>(r->key_hi));
        put16(h + 56, static_cast<std::uint16_t>(r->vel_lo));
        put16(h + 58, static_cast<std::uint16_t>(r->vel_hi));
        write_extra(h, *r, inst);
    }
    put16(h + 44, count);
    if (!out_sink(h, sizeof h)) return false;
    if (size == 0) return true;
    if (r->bits != 16) return out_sink(r->data, size);
    // 16-bit data goes out big-endian, a piece at a time.
    std::vector<unsigned char> out(std::min<std::uint32_t>(size, 1u << 16));
    for (std::uint32_t done = 0; done < size;) {
        const std::uint32_t n =
            std::min<std::uint32_t>(size - done, static_cast<std::uint32_t>(out.size()));
        const auto* src = reinterpret_cast<const unsigned char*>(r->data) + done;
        for (std::uint32_t i = 0; i + 1 < n; i += 2) {
            std::int16_t v;
            std::memcpy(&v, src + i, 2);
            put16(out.data() + i, static_cast<std::uint16_t>(v));
        }
        if (n & 1) out[n - 1] = src[n - 1];  // an odd last byte goes as it is
        if (!out_sink(out.data(), n)) return false;
        done += n;
    }
    return true;
}

// Permission bits for the file: those of the file it replaces, or the usual
// ones for a new file.
mode_t file_mode(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return st.st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

std::string instrument_file_path(const char* path) {
    std::string p = path ? path : "";
    const auto ends_it = [&] {
        const std::size_t n = p.size();
        return n >= 3 && p[n - 3] == '.' &&
               std::tolower(static_cast<unsigned char>(p[n - 2])) == 'i' &&
               std::tolower(static_cast<unsigned char>(p[n - 1])) == 't';
    };
    if (!ends_it()) p += ".it";
    return p;
}

bool write_instrument(const InstrumentStructure& st, int k, const char* name,
                      const InstrumentSink& sink, const std::function<bool(int)>& without_data) {
    if (k < 0 || k >= st.insts()) return false;
    const int first = st.inst[k];
    const int count = (k + 1 < st.insts() ? st.inst[k + 1] : st.sounds()) - first;
    if (count <= 0 || count > 65536) return false;
    for (int i = 0; i < count; ++i) {
        const p_s* r = st.at(first + i);
        // Its data is not in memory.
        if (r && r->type == kTypeStreamed && !without_data) return false;
    }
    unsigned char head[kInstHeaderBytes] = {'P', 'L', 'E', 'X', 'O', 'R', 'I', 'T'};
    const std::uint16_t flag = 1;  // every block carries its data
    std::memcpy(head + 12, &flag, 2);
    if (!sink(head, sizeof head)) return false;
    for (int i = 0; i < count; ++i) {
        const auto blocks_after = static_cast<std::uint16_t>(i == 0 ? count - 1 : 0);
        const bool data = !without_data || !without_data(first + i);
        if (!write_block(sink, st.at(first + i), blocks_after, i == 0 ? name : nullptr, data))
            return false;
    }
    return true;
}

bool saveinst(const char* path) {
    if (!path || !*path) return false;
    const int k = quel_baseson(no_s);
    if (k < 0) return false;
    const std::string target = instrument_file_path(path);
    std::string tmp = target + ".XXXXXX";
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, file_mode(target)) == 0;
    {
        reclaim::ReadSection section;
        const auto sink = [fd](const void* p, std::size_t n) { return write_all(fd, p, n); };
        ok = ok && write_instrument(structure(), k, inst_name(k), sink);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(tmp.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(tmp.c_str());
    return ok;
}
