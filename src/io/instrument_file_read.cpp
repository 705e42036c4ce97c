// Reading instrument files.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core/bytes.h"
#include "core/hooks.h"
#include "core/instruments.h"
#include "core/notify.h"
#include "core/sound.h"
#include "io/input_bytes.h"
#include "io/instrument_file.h"
#include "io/scratch.h"

namespace {

// One sound block as the file describes it.
struct Block {
    std::uint64_t data_offset = 0;
    std::uint32_t rate = 0;
    std::uint32_t size = 0;
    std::uint32_t loop_start = 0;
    std::uint32_t loop_end = 0;
    std::uint32_t file_offset = 0;
    std::uint16_t loop = 0;
    std::uint16_t count = 0;
    std::uint16_t bits = 0;
    std::uint16_t stereo = 0;
    std::uint16_t shift = 0;
    std::int16_t base = 0;
    std::int16_t key_lo = 0;
    std::int16_t key_hi = 0;
    std::int16_t vel_lo = 0;
    std::int16_t vel_hi = 0;
    char name[kInstNameChars + 1] = {};
    // From the block's tail, when it carries the marker.
    bool extra = false;
    std::uint16_t env[kCurves][kPoints] = {};
    std::uint16_t flags = 0;
    std::uint32_t rel_time = 0;
    char full_name[kInstExtraNameBytes] = {};
    Articulation art;
    // From version 3 on.
    bool v3 = false;
    std::uint16_t pan = 0;
    char inst_name[kInstExtraInstNameBytes] = {};
};

std::int16_t s16(int offset) {
    return static_cast<std::int16_t>(returnbuffer(2, offset));
}
std::uint16_t u16(int offset) {
    return static_cast<std::uint16_t>(returnbuffer(2, offset));
}

// Decodes the block header held in the scratch `buffer`.
Block decode_block(std::uint64_t data_offset) {
    Block b;
    b.data_offset = data_offset;
    b.rate = returnbuffer(4, 0);
    b.size = returnbuffer(4, 8);
    b.loop_start = returnbuffer(4, 12);
    b.loop_end = returnbuffer(4, 16);
    b.loop = u16(20);
    b.base = s16(22);
    b.file_offset = returnbuffer(4, 24);
    for (int i = 0; i < kInstNameChars && buffer[28 + i]; ++i)
        b.name[i] = static_cast<char>(buffer[28 + i]);
    b.count = u16(44);
    b.bits = u16(46);
    b.stereo = u16(48);
    b.shift = u16(50);
    b.key_lo = s16(52);
    b.key_hi = s16(54);
    b.vel_lo = s16(56);
    b.vel_hi = s16(58);
    b.extra = std::memcmp(buffer + kInstExtraAt, kInstExtraMarker, sizeof kInstExtraMarker) == 0 &&
              u16(kInstExtraAt + 4) >= 1;
    if (b.extra) {
        for (int c = 0; c < kCurves; ++c)
            for (int p = 0; p < kPoints; ++p)
                b.env[c][p] = u16(kInstExtraEnvAt + 2 * (c * kPoints + p));
        b.flags = u16(kInstExtraFlagsAt);
        b.rel_time = returnbuffer(4, kInstExtraRelAt);
        for (int i = 0; i < kInstExtraNameBytes - 1 && buffer[kInstExtraNameAt + i]; ++i)
            b.full_name[i] = static_cast<char>(buffer[kInstExtraNameAt + i]);
        if (u16(kInstExtraAt + 4) >= 2) b.art = get_articulation(buffer + kInstExtraArtAt);
        b.v3 = u16(kInstExtraAt + 4) >= 3;
    }
    if (b.v3) {
        b.pan = u16(kInstExtraPanAt);
        for (int i = 0; i < kInstExtraInstNameBytes - 1 && buffer[kInstExtraInstNameAt + i]; ++i)
            b.inst_name[i] = static_cast<char>(buffer[kInstExtraInstNameAt + i]);
    }
    return b;
}

struct Scan {
    std::vector<Block> blocks;  // the blocks present whole, in file order
    std::uint32_t announced = 0;
    std::string problem;  // set when the file must be refused
};

// Walks the block headers without reading any sample data: how many blocks
// are present whole, and whether any of them cannot be read.
Scan scan_blocks(InputBytes& in) {
    Scan s;
    std::uint64_t off = kInstHeaderBytes;
    s.announced = 1;
    for (std::uint32_t i = 0; i < s.announced; ++i) {
        if (!in.read_at(off, buffer, kInstBlockBytes)) break;
        const Block b = decode_block(off + kInstBlockBytes);
        if (i == 0) s.announced = std::uint32_t{b.count} + 1;
        if (!in.holds(b.data_offset, b.size)) break;
        if (b.size > 0 && b.bits != 8 && b.bits != 16) {
            s.problem = "This instrument file is damaged: sound " + std::to_string(i + 1) +
                        " has " + std::to_string(b.bits) + " bits per sample.";
            return s;
        }
        if (b.size > UINT32_MAX - kSpareBytes) {
            s.problem = "This instrument file holds a sound too large to load.";
            return s;
        }
        s.blocks.push_back(b);
        off = b.data_offset + b.size;
    }
    return s;
}

// A new record holding block `b` and its data, not yet published; null when
// the data cannot be read or allocated.
p_s* build_sound(InputBytes& in, const Block& b) {
    p_s* r = nullptr;
    try {
        r = b.size ? new_sound_with_data(b.size) : new_sound();
    } catch (const std::bad_alloc&) {
        std::printf("erreur malloc\n");
        return nullptr;
    }
    if (b.size && !in.read_at(b.data_offset, r->data, b.size)) {
        delete r;
        return nullptr;
    }
    const bool sixteen = b.bits == 16;
    r->rate = b.rate;
    r->size = b.size;
    r->file_offset = b.file_offset;
    std::memcpy(r->name, b.name, sizeof b.name);
    r->nb_next = 0;
    r->bits = b.size || b.bits == 8 || sixteen ? b.bits : 0;
    r->stereo = b.stereo ? 1 : 0;
    // The frame size follows bits and stereo whatever the block says; an
    // empty sound keeps the block's value when it is a possible one.
    r->shift = static_cast<std::int16_t>(b.size || b.shift > 2 ? frame_shift(r->bits, r->stereo)
                                                               : b.shift);
    r->key_lo = b.key_lo;
    r->key_hi = b.key_hi;
    r->vel_lo = b.vel_lo;
    r->vel_hi = b.vel_hi;
    r->base = (b.base < 0 || b.base > 127) ? std::int16_t{48} : b.base;
    std::uint32_t ls = std::min(b.loop_start, b.size);
    std::uint32_t le = std::min(b.loop_end, b.size);
    if (sixteen) {
        ls &= ~1u;
        le &= ~1u;
        auto* d = reinterpret_cast<std::uint8_t*>(r->data);
        for (std::uint32_t i = 0; i + 1 < b.size; i += 2) {
            const auto v = static_cast<std::int16_t>(bytes::be16(d + i));
            std::memcpy(d + i, &v, 2);
        }
    }
    r->loop = b.loop;
    r->loop_start = ls;
    r->loop_end = b.loop ? le : b.size - ls;
    if (b.extra) {
        for (int c = 0; c < kCurves; ++c)
            for (int p = 0; p < kPoints; ++p) r->env[p][c] = b.env[c][p];
        r->flags = b.flags;
        r->rel_time = b.rel_time;
        if (b.full_name[0]) std::memcpy(r->name, b.full_name, sizeof b.full_name);
        r->art = b.art;
    }
    if (b.v3) r->pan = b.pan;
    return r;
}

void refuse(const std::string& text) {
    alert(text.c_str(), "...");
}

}  // namespace

InstrumentRecords read_instrument_records(InputBytes& in) {
    InstrumentRecords out;
    char magic[sizeof kInstMagic];
    unsigned char head[kInstHeaderBytes];
    if (!in.read_at(0, magic, sizeof magic) || std::memcmp(magic, kInstMagic, sizeof magic) != 0 ||
        !in.read_at(0, head, sizeof head)) {
        out.problem = "This instrument is damaged.";
        return out;
    }
    std::uint16_t flag;
    std::memcpy(&flag, head + 12, 2);  // host order
    const Scan scan = scan_blocks(in);
    out.problem = flag == 0 ? "This instrument holds no sample data." : scan.problem;
    if (out.problem.empty() && (scan.blocks.empty() || scan.blocks.size() != scan.announced))
        out.problem = "This instrument ends early.";
    if (!out.problem.empty()) return out;
    if (scan.blocks.front().v3) out.name = scan.blocks.front().inst_name;
    for (const Block& b : scan.blocks) {
        p_s* rec = build_sound(in, b);
        if (!rec) {
            for (p_s* r : out.sounds) delete r;
            out.sounds.clear();
            out.problem = "This instrument could not be read into memory.";
            return out;
        }
        out.sounds.push_back(rec);
    }
    return out;
}

int read_instrument_file(InputBytes& in, const char* path) {
    char magic[sizeof kInstMagic];
    if (!in.read_at(0, magic, sizeof magic) || std::memcmp(magic, kInstMagic, sizeof magic) != 0)
        return 0;
    unsigned char head[kInstHeaderBytes];
    if (!in.read_at(0, head, sizeof head)) {
        refuse("This instrument file is damaged.");
        return 0;
    }
    std::uint16_t flag;
    std::memcpy(&flag, head + 12, 2);  // host order
    if (flag == 0) {
        refuse("This instrument file holds no sample data.");
        return 0;
    }
    const Scan scan = scan_blocks(in);
    if (!scan.problem.empty()) {
        refuse(scan.problem);
        return 0;
    }
    if (scan.blocks.empty()) {
        refuse("This instrument file is damaged.");
        return 0;
    }
    int k = quel_baseson(no_s);
    const int have = k >= 0 ? inst_count(k) : 0;
    const int extra = std::max(0, static_cast<int>(scan.blocks.size()) - have);
    if (nb_sound + extra > kMaxSounds) {
        refuse("This instrument has more sounds than the program can hold.");
        return 0;
    }

    loadin = true;
    if (k < 0) k = add_inst("");
    if (scan.blocks.front().v3) set_inst_name(k, scan.blocks.front().inst_name);
    const int first = inst_first(k);
    int done = 0;
    for (const Block& b : scan.blocks) {
        p_s* rec = build_sound(in, b);
        if (!rec) break;
        if (done >= inst_count(k) && !add_sounds(k, 1)) {
            delete rec;
            break;
        }
        if (done == 0) {
            rec->type = kTypeInstrumentHead;
            std::snprintf(rec->ipath, sizeof rec->ipath, "%s", path ? path : "");
        }
        replace_sound(first + done, rec);
        ++done;
    }
    no_s = static_cast<std::int16_t>(first);
    loadin = false;
    notify_instruments_changed();
    post_to_main(fourcc("RauQ"));
    if (static_cast<std::uint32_t>(done) < scan.announced) {
        refuse("This instrument file ends early: " + std::to_string(done) + " of " +
               std::to_string(scan.announced) + " sounds could be read.");
    }
    return done;
}
