// Builders for the files the loader tests read: SoundFont 2 banks, instrument
// files, AVR and MIDI files assembled byte by byte so that tests can also break
// them, and sound files written through the decoding library.
#pragma once

#include <sndfile.h>
#include <stdlib.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace files {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder, removed with everything in it at the end of the test.
class TempDir {
  public:
    TempDir() {
        char tmpl[] = "/tmp/plexora-test-XXXXXX";
        if (!mkdtemp(tmpl)) std::abort();  // what the end removes is always a folder made here
        path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string file(const std::string& leaf) const { return path_ + "/" + leaf; }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// Writes interleaved samples in `format` (SF_FORMAT_...): ints at full 32-bit
// scale, shorts, or floats.
template <typename Sample>
bool write_sound(const std::string& path, int format, int channels, int rate,
                 const std::vector<Sample>& v) {
    SF_INFO info{0, rate, channels, format, 0, 0};
    SNDFILE* sf = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!sf) return false;
    const auto count = static_cast<sf_count_t>(v.size());
    sf_count_t n;
    if constexpr (std::is_same_v<Sample, int>) n = sf_write_int(sf, v.data(), count);
    if constexpr (std::is_same_v<Sample, std::int16_t>) n = sf_write_short(sf, v.data(), count);
    if constexpr (std::is_same_v<Sample, float>) n = sf_write_float(sf, v.data(), count);
    return sf_close(sf) == 0 && n == count;
}

// A sound file's samples, interleaved, as floats; `info` says what it holds.
inline std::vector<float> read_sound(const std::string& path, SF_INFO& info) {
    info = SF_INFO{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    std::vector<float> v(f ? static_cast<std::size_t>(info.frames * info.channels) : 0);
    if (f) sf_readf_float(f, v.data(), info.frames), sf_close(f);
    return v;
}

// Appends `tail` to `b`.
inline Bytes& operator+=(Bytes& b, const Bytes& tail) {
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
}
inline Bytes operator+(Bytes a, const Bytes& b) {
    return a += b;
}

inline bool write_bytes(const std::string& path, const Bytes& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    // An empty file writes nothing (fwrite may not be handed a null buffer).
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

inline Bytes read_bytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// Distinct, mostly non-zero 16-bit values, so a sample out of place shows.
inline std::int16_t pattern16(std::int64_t i, int channel) {
    return static_cast<std::int16_t>(
        static_cast<std::uint32_t>(i * 2654435761u + channel * 40503u) >> 16);
}

// Appends `v` as `n` bytes, little-endian or big-endian.
inline void le(Bytes& b, std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void be(Bytes& b, std::uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
// Appends `s` padded with zeros (or cut) to `width` bytes.
inline void text(Bytes& b, const std::string& s, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i)
        b.push_back(i < s.size() ? static_cast<std::uint8_t>(s[i]) : 0);
}

// ---- SoundFont 2 ----

struct SfSample {
    std::string name;
    std::vector<std::int16_t> points;
    std::uint32_t loop_start = 0, loop_end = 0;  // points from the sample's start
    std::uint32_t rate = 22050;
    std::uint8_t pitch = 60;
    std::uint16_t type = 1;
};

// Generators: operator and amount. A preset's `instrument` names one by index.
using SfGen = std::pair<std::uint16_t, std::uint16_t>;
inline constexpr auto key_range = [](int lo, int hi) { return SfGen(43, lo | hi << 8); };
inline constexpr auto root_key = [](int k) { return SfGen(58, k); };
inline constexpr auto sample_id = [](int id) { return SfGen(53, id); };
inline constexpr auto pan = [](int p) { return SfGen(17, p); };
inline constexpr auto instrument = [](int i) { return SfGen(41, i); };

struct SfInst {
    std::string name;
    std::vector<std::vector<SfGen>> zones;
};

struct SfPreset {
    std::string name;
    int number = 0, bank = 0;
    std::vector<std::vector<SfGen>> zones;
};

// The bank's chunks by name; tests may edit them before `assemble`.
struct SfChunks {
    std::map<std::string, Bytes> c;
    std::uint16_t major = 2;
};

// A header list with its bag and generator lists, written record by record.
struct ZoneLists {
    Bytes &head, &bag, &gen;
    std::uint32_t bags = 0, gens = 0;
    // A record: `fields`, its bag index, `tail` zero bytes, then its zones.
    void add(const Bytes& fields, std::size_t tail, const std::vector<std::vector<SfGen>>& zones) {
        head += fields;
        le(head, bags, 2);
        head.resize(head.size() + tail, 0);
        for (const auto& z : zones) {
            le(bag, gens, 4);  // generator index, modulator index 0
            ++bags;
            for (const SfGen& g : z) le(gen, g.first | g.second << 16, 4), ++gens;
        }
    }
    // The terminal records of the three lists.
    void end(const Bytes& fields, std::size_t tail) {
        add(fields, tail, {});
        le(bag, gens, 4);
        le(gen, 0, 4);
    }
};

// A record's name, and for a preset its number and bank.
inline Bytes sf_record(const std::string& name, int number = -1, int bank = 0) {
    Bytes b;
    text(b, name, 20);
    if (number >= 0) le(b, static_cast<std::uint32_t>(number | bank << 16), 4);
    return b;
}

inline SfChunks sf_chunks(const std::vector<SfSample>& samples, const std::vector<SfInst>& insts,
                          const std::vector<SfPreset>& presets = {}) {
    SfChunks k;
    Bytes &smpl = k.c["smpl"], &shdr = k.c["shdr"];
    for (const SfSample& s : samples) {
        const auto start = static_cast<std::uint32_t>(smpl.size() / 2);
        for (std::int16_t p : s.points) le(smpl, static_cast<std::uint16_t>(p), 2);
        smpl.resize(smpl.size() + 2 * 46);  // 46 zero points after every sample
        text(shdr, s.name, 20);
        for (std::uint32_t v : {start, start + static_cast<std::uint32_t>(s.points.size()),
                                start + s.loop_start, start + s.loop_end, s.rate})
            le(shdr, v, 4);
        le(shdr, s.pitch, 4);  // pitch, correction 0, link 0
        le(shdr, s.type, 2);
    }
    text(shdr, "EOS", 46);
    ZoneLists il{k.c["inst"], k.c["ibag"], k.c["igen"]};
    for (const SfInst& in : insts) il.add(sf_record(in.name), 0, in.zones);
    il.end(sf_record("EOI"), 0);
    k.c["imod"] = Bytes(10, 0);
    k.c["pmod"] = Bytes(10, 0);
    // Presets: without any, one empty preset record and the terminal one.
    if (presets.empty()) {
        k.c["phdr"] = Bytes(38 * 2, 0);
        k.c["pbag"] = Bytes(8, 0);
        k.c["pgen"] = Bytes(4, 0);
        return k;
    }
    ZoneLists pl{k.c["phdr"], k.c["pbag"], k.c["pgen"]};
    // After the bag index: library, genre and morphology.
    for (const SfPreset& p : presets) pl.add(sf_record(p.name, p.number, p.bank), 12, p.zones);
    pl.end(sf_record("EOP", 0, 0), 12);
    return k;
}

// A RIFF chunk: id, little-endian size, body, padded to an even length.
inline Bytes chunk(const std::string& id, const Bytes& body) {
    Bytes out(id.begin(), id.end());
    le(out, static_cast<std::uint32_t>(body.size()), 4);
    out += body;
    if (body.size() & 1) out.push_back(0);
    return out;
}

inline Bytes assemble(const SfChunks& k) {
    Bytes ifil, sdta{'s', 'd', 't', 'a'}, pdta{'p', 'd', 't', 'a'};
    le(ifil, k.major | 1u << 16, 4);
    const Bytes info =
        Bytes{'I', 'N', 'F', 'O'} + chunk("ifil", ifil) + chunk("INAM", {'t', 'e', 's', 't', 0, 0});
    for (const char* n :
         {"smpl", "phdr", "pbag", "pmod", "pgen", "inst", "ibag", "imod", "igen", "shdr"})
        if (k.c.count(n)) (std::string(n) == "smpl" ? sdta : pdta) += chunk(n, k.c.at(n));
    return chunk("RIFF", Bytes{'s', 'f', 'b', 'k'} + chunk("LIST", info) + chunk("LIST", sdta) +
                             chunk("LIST", pdta));
}

inline Bytes sf_bank(const std::vector<SfSample>& samples, const std::vector<SfInst>& insts,
                     const std::vector<SfPreset>& presets = {}) {
    return assemble(sf_chunks(samples, insts, presets));
}

// ---- Instrument files ----

struct ItSound {
    std::uint32_t rate = 22050, loop_start = 0, loop_end = 0;
    std::uint16_t loop = 0;
    std::int16_t base = 60;
    std::uint32_t file_offset = 0;
    std::string name = "snd";
    std::uint16_t bits = 16, stereo = 0;
    int shift = -1;  // -1: the right one for bits and stereo
    std::int16_t key_lo = 0, key_hi = 127, vel_lo = 0, vel_hi = 127;
    Bytes data = {};         // as stored in the file (16-bit big-endian)
    std::int64_t size = -1;  // -1: the data's length
};

// A whole file: the header with its data flag, then one block per sound. The
// first block's count is the number of blocks after it unless `count` says otherwise.
inline Bytes it_file(const std::vector<ItSound>& sounds, int count = -1, std::uint16_t flag = 1) {
    Bytes b{'P', 'L', 'E', 'X', 'O', 'R', 'I', 'T', 0, 0, 0, 0};
    le(b, flag, 2);  // stored in the host's order
    b.resize(18, 0);
    for (std::size_t i = 0; i < sounds.size(); ++i) {
        const ItSound& s = sounds[i];
        const std::size_t at = b.size();
        const auto size = static_cast<std::uint32_t>(
            s.size >= 0 ? s.size : static_cast<std::int64_t>(s.data.size()));
        for (std::uint32_t v : {s.rate, 0u, size, s.loop_start, s.loop_end}) be(b, v, 4);
        be(b, s.loop, 2);
        be(b, static_cast<std::uint16_t>(s.base), 2);
        be(b, s.file_offset, 4);
        text(b, s.name.substr(0, 15), 16);
        const int n = i > 0 ? 0 : count >= 0 ? count : static_cast<int>(sounds.size()) - 1;
        const int shift = s.shift >= 0 ? s.shift : (s.bits == 16) + (s.stereo != 0);
        for (int v : {n, int(s.bits), int(s.stereo), shift, int(s.key_lo), int(s.key_hi),
                      int(s.vel_lo), int(s.vel_hi)})
            be(b, static_cast<std::uint16_t>(v), 2);
        b.resize(at + 352, 0);
        b += s.data;
    }
    return b;
}

// 16-bit points stored big-endian.
inline Bytes be_points(const std::vector<std::int16_t>& p) {
    Bytes b;
    for (std::int16_t v : p) be(b, static_cast<std::uint16_t>(v), 2);
    return b;
}

// ---- AVR: a 128-byte header, then the data as stored ----

struct Avr {
    std::string name = "kick";
    std::uint8_t channels = 0, bits = 8;  // bytes 13 and 15
    std::uint16_t loop = 0;
    std::uint8_t note = 60;
    std::uint16_t rate = 22050;
    std::uint32_t loop_begin = 0, loop_end = 0;
    Bytes data = {};

    Bytes bytes() const {
        Bytes b{'2', 'B', 'I', 'T'};
        text(b, name, 8);
        b.insert(b.end(), {std::uint8_t(channels ? 0xFF : 0), channels, 0, bits, 0, 0});
        be(b, loop, 2);
        b.insert(b.end(), {0, note, 0xFF, 0});
        be(b, rate, 2);
        b.resize(30, 0);
        be(b, loop_begin, 4);
        be(b, loop_end, 4);
        b.resize(128, 0);
        b += data;
        return b;
    }
};

// ---- Standard MIDI Files ----

class SmfTrack {
  public:
    // Appends an event `delta` ticks after the previous one (a variable-length delta).
    SmfTrack& event(std::uint32_t delta, const Bytes& bytes) {
        int n = 0;
        while (n < 4 && delta >> (7 * (n + 1))) ++n;
        for (; n > 0; --n) bytes_.push_back(static_cast<std::uint8_t>(0x80 | (delta >> (7 * n))));
        bytes_.push_back(delta & 0x7F);
        bytes_ += bytes;
        return *this;
    }
    SmfTrack& tempo(std::uint32_t delta, std::uint32_t usec_per_quarter) {
        Bytes e{0xFF, 0x51, 0x03};
        be(e, usec_per_quarter, 3);
        return event(delta, e);
    }
    SmfTrack& end(std::uint32_t delta = 0) { return event(delta, {0xFF, 0x2F, 0x00}); }
    const Bytes& bytes() const { return bytes_; }

  private:
    Bytes bytes_;
};

// A whole file: header with `format` and `division`, then the tracks.
inline Bytes smf_file(int format, std::uint16_t division, const std::vector<SmfTrack>& tracks) {
    Bytes out{'M', 'T', 'h', 'd'};
    be(out, 6, 4);
    be(out, static_cast<std::uint32_t>(format) << 16 | static_cast<std::uint32_t>(tracks.size()),
       4);
    be(out, division, 2);
    for (const SmfTrack& t : tracks) {
        out.insert(out.end(), {'M', 'T', 'r', 'k'});
        be(out, static_cast<std::uint32_t>(t.bytes().size()), 4);
        out += t.bytes();
    }
    return out;
}

// ---- SFZ ----

// Writes a mono 16-bit WAV of `frames` frames of a 441 Hz sine at 22050 Hz,
// with the loop [loop_start, loop_end) and root key 62 in its instrument
// chunk when `loop_end` is not 0.
inline bool write_tone(const std::string& path, int frames, int loop_start = 0, int loop_end = 0) {
    SF_INFO info{0, 22050, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
    SNDFILE* sf = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!sf) return false;
    if (loop_end) {
        SF_INSTRUMENT in{};
        in.basenote = 62;
        in.loop_count = 1;
        in.loops[0] = {SF_LOOP_FORWARD, static_cast<unsigned>(loop_start),
                       static_cast<unsigned>(loop_end), 0};
        sf_command(sf, SFC_SET_INSTRUMENT, &in, sizeof in);
    }
    std::vector<short> v(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i)
        v[i] = static_cast<short>(std::lround(16000 * std::sin(2 * M_PI * 441.0 * i / 22050.0)));
    const bool ok = sf_write_short(sf, v.data(), frames) == frames;
    return sf_close(sf) == 0 && ok;
}

// An SFZ instrument that uses every opcode the import plays, as files under
// one folder: inst/kit.sfz (which includes inst/common.sfzh, which includes
// kit.sfz again: a loop) over samples/tone a.wav (a second of write_tone)
// and samples/looped.wav (write_tone's loop 100 to 2000); samples/damaged.wav
// is no sound and missing.wav is not there.
inline const std::map<std::string, std::string>& sfz_kit_texts() {
    static const std::map<std::string, std::string> texts{
        {"inst/kit.sfz", R"(// every opcode the import plays
#define $TONE tone a.wav
#include "common.sfzh"
<global> ampeg_release=0.5 cutoff=500 /* a filter is not played */
<group> hivel=63 tune=10 fil_type=lpf_2p
<region> sample=$TONE lokey=c3 hikey=59 pitch_keycenter=57 transpose=1 pan=-50 volume=-6
 offset=100 end=1999 loop_mode=loop_sustain loop_start=200 loop_end=1199
<region> sample=$TONE key=60 amplitude=50 loop_mode=one_shot ampeg_attack=0.01
 ampeg_hold=0.02 ampeg_decay=1 ampeg_sustain=50 ampeg_delay=0.005
<effect> type=reverb
<group> group=1 off_by=2 lovel=64
<region> sample=looped.wav key=42
<region> sample=looped.wav key=46 loop_mode=no_loop
<group> group=2
<region> sample=looped.wav key=44 loop_mode=loop_continuous loop_start=10 loop_end=20
<region> sample=missing.wav key=50
<region> sample=damaged.wav key=51
<region> sample=$TONE key=52 trigger=release
<region> sample=$TONE key=53 seq_length=2 seq_position=2
<region> sample=*sine key=54
<region> key=55
)"},
        {"inst/common.sfzh",
         "<control> default_path=../samples/ set_cc7=100\n#include \"kit.sfz\"\n"}};
    return texts;
}

// Writes the SFZ instrument above into `folder`; returns the path of kit.sfz.
inline std::string write_sfz_kit(const std::string& folder) {
    std::filesystem::create_directories(folder + "/inst");
    std::filesystem::create_directories(folder + "/samples");
    for (const auto& [leaf, text] : sfz_kit_texts())
        if (!write_bytes(folder + "/" + leaf, Bytes(text.begin(), text.end()))) return "";
    if (!write_tone(folder + "/samples/tone a.wav", 22050) ||
        !write_tone(folder + "/samples/looped.wav", 3000, 100, 2000) ||
        !write_bytes(folder + "/samples/damaged.wav", Bytes{'R', 'I', 'F', 'F', 9, 9, 9}))
        return "";
    return folder + "/inst/kit.sfz";
}

}  // namespace files
