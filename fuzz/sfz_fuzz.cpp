// Feeds arbitrary text to the SFZ import. The input is the instrument and,
// a few times, each file it includes; every sample it names decodes to a
// short sound whose format, length and loop its name chooses, so that every
// region's keys, offsets and loops reach the render.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "core/articulation.h"
#include "fuzz_tables.h"
#include "io/mediafile.h"
#include "io/sfz_import.h"

namespace {

bool decode(const std::string& path, DecodedSample& out, std::string& why) {
    const std::size_t h = std::hash<std::string>{}(path);
    if (h % 11 == 0) {
        why = "damaged";
        return false;
    }
    out.bits = h & 1 ? 8 : 16;
    out.stereo = h & 2;
    out.rate = 8000 + static_cast<std::uint32_t>(h % 40000);
    out.frames = 1 + static_cast<std::int64_t>((h >> 4) % 300);
    out.bytes = static_cast<std::uint64_t>(out.frames) * (out.bits / 8) * (out.stereo ? 2 : 1);
    out.block.reset(new std::int8_t[out.bytes + kSpareBytes]());
    for (std::uint64_t i = 0; i < out.bytes; ++i) out.block[i] = static_cast<std::int8_t>(i * 37);
    if (h & 4) {
        out.loop_start = static_cast<std::int64_t>((h >> 12) % out.frames);
        out.loop_end = out.loop_start + 1 + static_cast<std::int64_t>((h >> 20) % out.frames);
        if (out.loop_end > out.frames) out.loop_end = out.frames;
    }
    out.base_note = static_cast<int>((h >> 28) % 130) - 1;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzkit::Session session;
    ui_hooks().notice = [](const char*, const char*) {};
    play_as_set = true;
    const std::string text(reinterpret_cast<const char*>(data), size);
    int reads = 0;
    SfzFiles files;
    files.read_text = [&](const std::string&, std::string& out) {
        if (++reads > 4) return false;
        out = text;
        return true;
    };
    files.size_of = [](const std::string& path) { return path.size(); };
    files.decode = decode;
    PreparedSfz sfz;
    sfz.prepare("/fuzz/kit.sfz", files);
    const int sounds = sfz.publish();
    fuzzkit::check(sounds >= 0 && sounds <= nb_sound);
    fuzzkit::check_structure();
    fuzzkit::play_everything();
    play_as_set = false;
    return 0;
}
