// Writes the seed corpora of the loader fuzz targets into FUZZ_DIR/corpus/:
// small instrument files, SoundFont banks, SFZ instruments and AVR files, sound and slightly
// broken, built with the same byte layouts as the loader tests use.
//   make_corpora FUZZ_DIR
#include <cmath>
#include <cstring>
#include <filesystem>

#include "support/file_builders.h"

using namespace files;

namespace {

std::string g_root;

void put(const std::string& folder, const std::string& leaf, const Bytes& bytes) {
    std::filesystem::create_directories(g_root + "/corpus/" + folder);
    if (!write_bytes(g_root + "/corpus/" + folder + "/" + leaf, bytes)) std::exit(1);
}

Bytes cut(Bytes b, std::size_t n) {
    b.resize(b.size() - n);
    return b;
}

// `frames` frames of a sine, the second channel inverted, as an AVR stores them.
Bytes avr_data(int bits, bool stereo, int frames) {
    Bytes b;
    for (int i = 0; i < frames * (1 + stereo); ++i) {
        const double v = (i % 2 && stereo ? -1 : 1) * std::sin(2 * M_PI * (i >> stereo) / 32.0);
        be(b, static_cast<std::uint32_t>(std::lround(v * (bits == 8 ? 100 : 20000))), bits / 8);
    }
    return b;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return std::fprintf(stderr, "usage: make_corpora FUZZ_DIR\n"), 2;
    g_root = argv[1];
    std::vector<std::int16_t> sine(200);
    for (int i = 0; i < 200; ++i) sine[i] = static_cast<std::int16_t>(8000 * std::sin(i * 0.3));
    const std::vector<std::int16_t> head(sine.begin(), sine.begin() + 120);

    // Instrument files. Fields: rate, loop start and end, loop, base, file
    // offset, name, bits, stereo, shift, key and velocity ranges, data.
    const ItSound one{22050, 20, 380, 1, 60, 0, "snd", 16, 0, -1, 0, 127, 0, 127, be_points(sine)};
    const ItSound mixed[] = {
        {22050, 0, 0, 0, 60, 0, "snd", 8, 0, -1, 0, 40, 0, 127, Bytes(120, 7)},
        {22050, 10, 100, 1, 60, 0, "snd", 8, 1, -1, 0, 127, 0, 127, Bytes(120, 9)},
        {22050, 1001, 2000, 1, 60, 0, "snd", 16, 0, -1, 41, 80, 0, 127, be_points(head)},
        {22050, 0, 0, 0, 300, 0, "a long name of many letters", 16, 1, 0, 0, 127, 0, 127,
         be_points(sine)}};
    put("instrument_file", "one_16bit.it", it_file({one}));
    put("instrument_file", "four_mixed.it", it_file({std::begin(mixed), std::end(mixed)}));
    put("instrument_file", "no_data.it", it_file({ItSound{}}, -1, 0));
    put("instrument_file", "truncated.it", cut(it_file({one, one, one}), 50));
    put("instrument_file", "bad_bits.it", it_file({{.bits = 12, .data = Bytes(64, 0)}}));
    put("instrument_file", "huge_count.it", it_file({{.data = be_points(head)}}, 65535));
    // Both blocks with the extra fields of version 3: Panning 100, the name "Kit".
    Bytes extras = it_file({one, one});
    for (std::size_t at : {std::size_t{18}, 18 + 352 + one.data.size()}) {
        std::memcpy(&extras[at + 60], "PXEX", 4);
        extras[at + 65] = 3;
        extras[at + 289] = 100;
    }
    std::memcpy(&extras[18 + 290], "Kit", 3);
    put("instrument_file", "extras_v3.it", extras);

    // Banks.
    const std::vector<SfSample> two{{"low", sine, 10, 190, 22050, 60},
                                    {"high", head, 100, 118, 22050, 255}};
    const std::vector<SfGen> low{key_range(0, 59), sample_id(0)};
    const SfInst piano{"Piano", {low, {key_range(60, 127), sample_id(1)}}};
    const SfInst kit{"Kit", {{key_range(36, 36), sample_id(1)}, {key_range(38, 38), sample_id(0)}}};
    const SfInst shared{"Shared", {{sample_id(0)}, {key_range(10, 20), sample_id(0)}}};
    const SfInst strings{"Strings",
                         {{key_range(30, 40), root_key(50)}, {sample_id(1)}, {sample_id(7)}}};
    const SfInst x{"X", {{sample_id(0)}}};
    const SfPreset layered{
        "Piano", 0, 0, {{key_range(40, 80)}, {key_range(50, 70), instrument(0)}, {instrument(0)}}};
    put("bank", "two_instruments.sf2",
        sf_bank(two, {{"Piano", {low, {key_range(60, 127), root_key(72), sample_id(1)}}}, shared}));
    put("bank", "global_zone.sf2", sf_bank(two, {strings, {"Empty", {{key_range(1, 2)}}}}));
    put("bank", "general_midi.sf2",
        sf_bank(two, {piano, kit},
                {{"Organ", 16, 0, {{instrument(0)}}},
                 layered,
                 {"Standard", 0, 128, {{instrument(1)}}},
                 {"Room", 8, 128, {{instrument(1)}, {instrument(9)}}}}));
    SfChunks v3 = sf_chunks(two, {x});
    v3.major = 3;
    put("bank", "version3.sf2", assemble(v3));
    put("bank", "compressed.sf2", sf_bank({{"ogg", sine, 0, 0, 22050, 60, 0x11}}, {x}));
    put("bank", "cut.sf2", cut(sf_bank(two, {x}), 20));

    // SFZ instruments: the tests' kit, and texts that stop half way.
    for (const auto& [leaf, text] : sfz_kit_texts()) {
        const std::string name = leaf.substr(leaf.find('/') + 1);
        put("sfz", name, Bytes(text.begin(), text.end()));
        put("sfz", "cut_" + name, Bytes(text.begin(), text.begin() + text.size() / 2));
    }
    const std::string layers =
        "<global> ampeg_release=0.3\n<group> group=3 off_by=3 offset=10 end=50\n"
        "<region> sample=a.wav lokey=c2 hikey=b3 lovel=1 hivel=60 loop_mode=loop_sustain\n"
        "<region> sample=b.flac key=d#4 loopstart=5 loopend=40 pitch_keycenter=sample\n";
    put("sfz", "layered.sfz", Bytes(layers.begin(), layers.end()));

    // AVR files, named as their files. Fields: name, channels, bits, loop,
    // note, rate, loop begin and end, data.
    const Avr avrs[] = {
        {"mono8", 0, 8, 0, 60, 22050, 0, 0, avr_data(8, false, 64)},
        {"stereo8", 0xFF, 8, 0, 60, 22050, 0, 0, avr_data(8, true, 64)},
        {"mono16", 0, 16, 0, 48, 44100, 0, 0, avr_data(16, false, 64)},
        {"stereo16", 0xFF, 16, 0, 72, 44100, 0, 0, avr_data(16, true, 64)},
        {"looped16", 0, 16, 1, 0xFF, 32000, 32, 96, avr_data(16, false, 96)},
        {"empty", 0, 8, 0, 60, 8000, 0, 0, {}},
    };
    for (const Avr& a : avrs) put("avr", a.name + ".avr", a.bytes());
}
