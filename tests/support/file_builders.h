// Builders for the files the loader tests read: SoundFont 2 banks and
// instrument files, assembled byte by byte so that tests can also break them.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace files {

using Bytes = std::vector<std::uint8_t>;

inline void le16(Bytes& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void le32(Bytes& b, std::uint32_t v) {
    le16(b, v & 0xFFFF);
    le16(b, v >> 16);
}
inline void be16(Bytes& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v >> 8));
    b.push_back(static_cast<std::uint8_t>(v));
}
inline void be32(Bytes& b, std::uint32_t v) {
    be16(b, v >> 16);
    be16(b, v & 0xFFFF);
}
inline void text(Bytes& b, const std::string& s, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i)
        b.push_back(i < s.size() ? static_cast<std::uint8_t>(s[i]) : 0);
}

// ---- SoundFont 2 ----

struct SfSample {
    std::string name;
    std::vector<std::int16_t> points;
    std::uint32_t loop_start = 0;  // points from the sample's start
    std::uint32_t loop_end = 0;
    std::uint32_t rate = 22050;
    std::uint8_t pitch = 60;
    std::uint16_t type = 1;
};

using SfGen = std::pair<std::uint16_t, std::uint16_t>;  // operator, amount
inline SfGen key_range(int lo, int hi) {
    return {43, static_cast<std::uint16_t>(lo | hi << 8)};
}
inline SfGen root_key(int k) {
    return {58, static_cast<std::uint16_t>(k)};
}
inline SfGen sample_id(int id) {
    return {53, static_cast<std::uint16_t>(id)};
}
inline SfGen pan(int p) {
    return {17, static_cast<std::uint16_t>(p)};
}

inline SfGen instrument(int i) {
    return {41, static_cast<std::uint16_t>(i)};
}

struct SfInst {
    std::string name;
    std::vector<std::vector<SfGen>> zones;
};

// A preset: its zones name instruments by index (files::instrument).
struct SfPreset {
    std::string name;
    int number = 0;
    int bank = 0;
    std::vector<std::vector<SfGen>> zones;
};

// The bank's chunks by name; tests may edit them before `assemble`.
struct SfChunks {
    std::map<std::string, Bytes> c;
    std::uint16_t major = 2;
};

constexpr std::uint32_t kSfGap = 46;  // zero points after every sample

inline SfChunks sf_chunks(const std::vector<SfSample>& samples, const std::vector<SfInst>& insts,
                          const std::vector<SfPreset>& presets = {}) {
    SfChunks k;
    Bytes& smpl = k.c["smpl"];
    Bytes& shdr = k.c["shdr"];
    for (const SfSample& s : samples) {
        const std::uint32_t start = static_cast<std::uint32_t>(smpl.size() / 2);
        for (std::int16_t p : s.points) le16(smpl, static_cast<std::uint16_t>(p));
        for (std::uint32_t i = 0; i < kSfGap; ++i) le16(smpl, 0);
        text(shdr, s.name, 20);
        le32(shdr, start);
        le32(shdr, start + static_cast<std::uint32_t>(s.points.size()));
        le32(shdr, start + s.loop_start);
        le32(shdr, start + s.loop_end);
        le32(shdr, s.rate);
        shdr.push_back(s.pitch);
        shdr.push_back(0);  // pitch correction
        le16(shdr, 0);      // link
        le16(shdr, s.type);
    }
    text(shdr, "EOS", 46);
    Bytes& inst = k.c["inst"];
    Bytes& ibag = k.c["ibag"];
    Bytes& igen = k.c["igen"];
    std::uint32_t bags = 0;
    std::uint32_t gens = 0;
    for (const SfInst& in : insts) {
        text(inst, in.name, 20);
        le16(inst, bags);
        for (const auto& z : in.zones) {
            le16(ibag, gens);
            le16(ibag, 0);
            ++bags;
            for (const SfGen& g : z) {
                le16(igen, g.first);
                le16(igen, g.second);
                ++gens;
            }
        }
    }
    text(inst, "EOI", 20);
    le16(inst, bags);
    le16(ibag, gens);
    le16(ibag, 0);
    le32(igen, 0);
    k.c["imod"] = Bytes(10, 0);
    k.c["pmod"] = Bytes(10, 0);
    // Presets: without any, one empty preset record and the terminal one.
    Bytes& phdr = k.c["phdr"];
    Bytes& pbag = k.c["pbag"];
    Bytes& pgen = k.c["pgen"];
    if (presets.empty()) {
        phdr = Bytes(38 * 2, 0);
        pbag = Bytes(8, 0);
        pgen = Bytes(4, 0);
        return k;
    }
    bags = 0;
    gens = 0;
    const auto header = [&](const std::string& name, int number, int bank) {
        text(phdr, name, 20);
        le16(phdr, static_cast<std::uint32_t>(number));
        le16(phdr, static_cast<std::uint32_t>(bank));
        le16(phdr, bags);
        phdr.resize(phdr.size() + 12, 0);  // library, genre, morphology
    };
    for (const SfPreset& p : presets) {
        header(p.name, p.number, p.bank);
        for (const auto& z : p.zones) {
            le16(pbag, gens);
            le16(pbag, 0);
            ++bags;
            for (const SfGen& g : z) {
                le16(pgen, g.first);
                le16(pgen, g.second);
                ++gens;
            }
        }
    }
    header("EOP", 0, 0);
    le16(pbag, gens);
    le16(pbag, 0);
    le32(pgen, 0);
    return k;
}

inline void chunk(Bytes& out, const char* id, const Bytes& body) {
    out.insert(out.end(), id, id + 4);
    le32(out, static_cast<std::uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() & 1) out.push_back(0);
}

inline Bytes list(const char* type, const Bytes& inner) {
    Bytes b(type, type + 4);
    b.insert(b.end(), inner.begin(), inner.end());
    return b;
}

inline Bytes assemble(const SfChunks& k) {
    const auto get = [&](const char* n) {
        const auto it = k.c.find(n);
        return it == k.c.end() ? Bytes{} : it->second;
    };
    Bytes info;
    Bytes ifil;
    le16(ifil, k.major);
    le16(ifil, 1);
    chunk(info, "ifil", ifil);
    chunk(info, "INAM", Bytes{'t', 'e', 's', 't', 0, 0});
    Bytes sdta;
    if (k.c.count("smpl")) chunk(sdta, "smpl", get("smpl"));
    Bytes pdta;
    for (const char* n : {"phdr", "pbag", "pmod", "pgen", "inst", "ibag", "imod", "igen", "shdr"}) {
        if (k.c.count(n)) chunk(pdta, n, get(n));
    }
    Bytes body{'s', 'f', 'b', 'k'};
    chunk(body, "LIST", list("INFO", info));
    chunk(body, "LIST", list("sdta", sdta));
    chunk(body, "LIST", list("pdta", pdta));
    Bytes out;
    chunk(out, "RIFF", body);
    return out;
}

inline Bytes sf_bank(const std::vector<SfSample>& samples, const std::vector<SfInst>& insts,
                     const std::vector<SfPreset>& presets = {}) {
    return assemble(sf_chunks(samples, insts, presets));
}

// ---- Instrument files ----

struct ItSound {
    std::uint32_t rate = 22050;
    std::uint32_t loop_start = 0;
    std::uint32_t loop_end = 0;
    std::uint16_t loop = 0;
    std::int16_t base = 60;
    std::uint32_t file_offset = 0;
    std::string name = "snd";
    std::uint16_t bits = 16;
    std::uint16_t stereo = 0;
    int shift = -1;  // -1: the right one for bits and stereo
    std::int16_t key_lo = 0, key_hi = 127, vel_lo = 0, vel_hi = 127;
    Bytes data;              // as stored in the file (16-bit big-endian)
    std::int64_t size = -1;  // -1: the data's length
};

inline Bytes it_header(std::uint16_t data_flag = 1) {
    Bytes b{'P', 'L', 'E', 'X', 'O', 'R', 'I', 'T', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    std::memcpy(b.data() + 12, &data_flag, 2);
    return b;
}

inline void it_block(Bytes& b, const ItSound& s, std::uint16_t count) {
    const std::size_t at = b.size();
    be32(b, s.rate);
    be32(b, 0);
    be32(b, static_cast<std::uint32_t>(s.size >= 0 ? s.size
                                                   : static_cast<std::int64_t>(s.data.size())));
    be32(b, s.loop_start);
    be32(b, s.loop_end);
    be16(b, s.loop);
    be16(b, static_cast<std::uint16_t>(s.base));
    be32(b, s.file_offset);
    text(b, s.name.substr(0, 15), 16);
    be16(b, count);
    be16(b, s.bits);
    be16(b, s.stereo);
    const int shift = s.shift >= 0 ? s.shift : (s.bits == 16 ? 1 : 0) + (s.stereo ? 1 : 0);
    be16(b, static_cast<std::uint16_t>(shift));
    be16(b, static_cast<std::uint16_t>(s.key_lo));
    be16(b, static_cast<std::uint16_t>(s.key_hi));
    be16(b, static_cast<std::uint16_t>(s.vel_lo));
    be16(b, static_cast<std::uint16_t>(s.vel_hi));
    b.resize(at + 352, 0);
    b.insert(b.end(), s.data.begin(), s.data.end());
}

// A whole file; the first block's count is the number of blocks after it
// unless `count` says otherwise.
inline Bytes it_file(const std::vector<ItSound>& sounds, int count = -1, std::uint16_t flag = 1) {
    Bytes b = it_header(flag);
    for (std::size_t i = 0; i < sounds.size(); ++i) {
        const auto c =
            static_cast<std::uint16_t>(i == 0 ? (count >= 0 ? count : int(sounds.size()) - 1) : 0);
        it_block(b, sounds[i], c);
    }
    return b;
}

// 16-bit points stored big-endian.
inline Bytes be_points(const std::vector<std::int16_t>& p) {
    Bytes b;
    for (std::int16_t v : p) be16(b, static_cast<std::uint16_t>(v));
    return b;
}

}  // namespace files
