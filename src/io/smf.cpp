#include "io/smf.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// A cursor over bytes that never reads past its end.
class ByteReader {
  public:
    ByteReader(const std::uint8_t* p, std::size_t n) : p_(p), n_(n) {}
    std::size_t left() const { return n_ - at_; }
    bool u8(std::uint8_t& v) {
        if (at_ >= n_) return false;
        v = p_[at_++];
        return true;
    }
    bool be(int bytes, std::uint32_t& v) {
        if (left() < static_cast<std::size_t>(bytes)) return false;
        v = 0;
        for (int i = 0; i < bytes; ++i) v = (v << 8) | p_[at_++];
        return true;
    }
    // Variable-length quantity: at most four bytes, seven bits each.
    bool vlq(std::uint32_t& v) {
        v = 0;
        for (int i = 0; i < 4; ++i) {
            std::uint8_t b;
            if (!u8(b)) return false;
            v = (v << 7) | (b & 0x7Fu);
            if (!(b & 0x80)) return true;
        }
        return false;
    }
    bool skip(std::size_t bytes) {
        if (bytes > left()) return false;
        at_ += bytes;
        return true;
    }
    const std::uint8_t* here() const { return p_ + at_; }

  private:
    const std::uint8_t* p_;
    std::size_t n_;
    std::size_t at_ = 0;
};

struct TickEvent {
    std::uint64_t tick;
    std::uint8_t status;
    std::uint8_t data1;
    std::uint8_t data2;
};

struct TempoChange {
    std::uint64_t tick;
    std::uint32_t usec_per_quarter;
};

int data_bytes(std::uint8_t status) {
    const std::uint8_t kind = status & 0xF0;
    return (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
}

// Reads one track chunk's events. Returns false for a malformed or cut
// event; what was read before it stays.
bool read_track(ByteReader r, std::vector<TickEvent>& events, std::vector<TempoChange>& tempos,
                std::uint64_t& last_tick) {
    std::uint64_t tick = 0;
    std::uint8_t running = 0;
    while (r.left() > 0) {
        std::uint32_t delta;
        if (!r.vlq(delta)) return false;
        tick += delta;
        last_tick = std::max(last_tick, tick);
        std::uint8_t b;
        if (!r.u8(b)) return false;
        if (b == 0xFF) {  // meta event
            std::uint8_t type;
            std::uint32_t len;
            if (!r.u8(type) || !r.vlq(len) || len > r.left()) return false;
            if (type == 0x51 && len == 3) {
                const std::uint8_t* d = r.here();
                const std::uint32_t tempo = (std::uint32_t{d[0]} << 16) | (d[1] << 8) | d[2];
                if (tempo > 0) tempos.push_back({tick, tempo});
            }
            r.skip(len);
            if (type == 0x2F) return true;  // end of track
            continue;
        }
        if (b == 0xF0 || b == 0xF7) {  // system exclusive: skipped
            std::uint32_t len;
            if (!r.vlq(len) || !r.skip(len)) return false;
            running = 0;
            continue;
        }
        if (b >= 0xF1) return false;  // not allowed in a file
        std::uint8_t status = running;
        std::uint8_t d1;
        if (b & 0x80) {
            status = b;
            running = b;
            if (!r.u8(d1)) return false;
        } else {
            if (!status) return false;  // a data byte with no status before it
            d1 = b;
        }
        std::uint8_t d2 = 0;
        if (data_bytes(status) == 2 && !r.u8(d2)) return false;
        events.push_back({tick, status, static_cast<std::uint8_t>(d1 & 0x7F),
                          static_cast<std::uint8_t>(d2 & 0x7F)});
    }
    return true;
}

}  // namespace

bool read_smf(const std::uint8_t* data, std::size_t size, SmfSong& out, std::string& error) {
    out = SmfSong{};
    ByteReader r(data, size);
    std::uint32_t magic = 0;
    if (!r.be(4, magic) || magic != 0x4D546864u) {  // "MThd"
        error = "not a Standard MIDI File (no MThd header)";
        return false;
    }
    std::uint32_t header_len;
    std::uint32_t format;
    std::uint32_t ntracks;
    std::uint32_t division;
    if (!r.be(4, header_len) || header_len < 6 || header_len > r.left() || !r.be(2, format) ||
        !r.be(2, ntracks) || !r.be(2, division) || !r.skip(header_len - 6)) {
        error = "the MIDI file header is cut short";
        return false;
    }
    if (format > 1) {
        error = "MIDI file format " + std::to_string(format) + " is not supported (only 0 and 1)";
        return false;
    }
    const bool smpte = division & 0x8000;
    double seconds_per_smpte_tick = 0;
    if (smpte) {
        const int fps = -static_cast<std::int8_t>(division >> 8);
        const int per_frame = static_cast<int>(division & 0xFF);
        if (fps <= 0 || per_frame <= 0) {
            error = "the MIDI file has an invalid SMPTE time division";
            return false;
        }
        seconds_per_smpte_tick = 1.0 / (fps * per_frame);
    } else if (division == 0) {
        error = "the MIDI file has a time division of 0";
        return false;
    }

    std::vector<TickEvent> events;
    std::vector<TempoChange> tempos;
    std::uint64_t last_tick = 0;
    int tracks = 0;
    bool damaged = false;
    while (r.left() >= 8 && tracks < static_cast<int>(ntracks)) {
        std::uint32_t id = 0;
        std::uint32_t len = 0;
        r.be(4, id);
        r.be(4, len);
        // A chunk that claims more than is left is read up to the end of the file.
        const std::size_t avail = std::min<std::size_t>(len, r.left());
        if (avail < len) damaged = true;
        if (id == 0x4D54726Bu) {  // "MTrk"
            if (!read_track(ByteReader(r.here(), avail), events, tempos, last_tick)) damaged = true;
            ++tracks;
        }
        r.skip(avail);
    }
    if (tracks == 0) {
        error = "the MIDI file has no track";
        return false;
    }

    // Stable: events and tempo changes at one tick keep their file order.
    std::stable_sort(events.begin(), events.end(),
                     [](const TickEvent& a, const TickEvent& b) { return a.tick < b.tick; });
    std::stable_sort(tempos.begin(), tempos.end(),
                     [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });

    // Ticks to seconds through the tempo map (or the fixed SMPTE rate).
    const double ppq = smpte ? 1.0 : static_cast<double>(division);
    std::size_t next_tempo = 0;
    std::uint64_t seg_tick = 0;
    double seg_seconds = 0;
    double sec_per_tick = 0.5 / ppq;  // 120 beats per minute until told otherwise
    auto seconds_at = [&](std::uint64_t tick) {
        if (smpte) return static_cast<double>(tick) * seconds_per_smpte_tick;
        while (next_tempo < tempos.size() && tempos[next_tempo].tick <= tick) {
            seg_seconds += static_cast<double>(tempos[next_tempo].tick - seg_tick) * sec_per_tick;
            seg_tick = tempos[next_tempo].tick;
            sec_per_tick = tempos[next_tempo].usec_per_quarter / 1e6 / ppq;
            ++next_tempo;
        }
        return seg_seconds + static_cast<double>(tick - seg_tick) * sec_per_tick;
    };
    out.events.reserve(events.size());
    for (const TickEvent& e : events)
        out.events.push_back({seconds_at(e.tick), e.status, e.data1, e.data2});
    out.end_seconds =
        std::max(out.events.empty() ? 0.0 : out.events.back().seconds, seconds_at(last_tick));
    out.format = static_cast<int>(format);
    out.tracks = tracks;
    out.damaged = damaged;
    return true;
}

bool read_smf_file(const char* path, SmfSong& out, std::string& error) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) {
        error = std::string(path) + ": cannot be opened: " + std::strerror(errno);
        return false;
    }
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + n);
        if (bytes.size() > (64u << 20)) {
            std::fclose(f);
            error = std::string(path) + " is too large for a MIDI file";
            return false;
        }
    }
    const int read_error = std::ferror(f) ? errno : 0;
    std::fclose(f);
    if (read_error) {
        error = std::string(path) + ": cannot be read: " + std::strerror(read_error);
        return false;
    }
    if (bytes.empty()) {
        error = std::string(path) + ": is empty";
        return false;
    }
    if (!read_smf(bytes.data(), bytes.size(), out, error)) {
        error = std::string(path) + ": " + error;
        return false;
    }
    return true;
}
