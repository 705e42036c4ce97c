#include "edit/sample_save.h"

#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/sound.h"
#include "core/text.h"

std::string save_sample(const p_s& sound, const std::string& path) {
    if (!sound.data || sound.type == kTypeStreamed) return "There is no sample data to save.";
    const bool wide = sound.bits == 16;
    const int channels = sound.stereo ? 2 : 1;
    const bool flac = ends_with_nocase(path, ".flac");
    SF_INFO info{};
    info.samplerate = int(sound.rate);
    info.channels = channels;
    info.format = flac ? (SF_FORMAT_FLAC | (wide ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_S8))
                       : (SF_FORMAT_WAV | (wide ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_U8));
    if (info.samplerate <= 0) return "The sound has no sample rate.";

    const std::string temp = path + ".part" + std::to_string(getpid());
    SNDFILE* f = sf_open(temp.c_str(), SFM_WRITE, &info);
    if (!f) return std::string("Cannot write ") + path + ": " + sf_strerror(nullptr);

    const int sh = sound.shift;
    const sf_count_t frames = sf_count_t(std::uint32_t(sound.size) >> sh);
    if (!flac) {
        SF_INSTRUMENT inst{};
        inst.basenote = static_cast<char>(sound.base);
        inst.velocity_lo = 0;
        inst.velocity_hi = 127;
        inst.key_lo = 0;
        inst.key_hi = 127;
        const std::uint32_t ls = std::uint32_t(sound.loop_start) >> sh;
        const std::uint32_t le = std::uint32_t(sound.loop_end) >> sh;
        if (sound.loop && ls < le) {
            inst.loop_count = 1;
            inst.loops[0].mode = SF_LOOP_FORWARD;
            inst.loops[0].start = ls;
            inst.loops[0].end = le;
            inst.loops[0].count = 0;
        }
        sf_command(f, SFC_SET_INSTRUMENT, &inst, sizeof inst);
    }

    // Written in slices through 16-bit samples; libsndfile turns them into
    // the file's own width (8-bit sounds are exact multiples of 256).
    constexpr sf_count_t kSlice = 65536;
    std::vector<short> buf(std::size_t(kSlice) * channels);
    bool ok = true;
    for (sf_count_t at = 0; at < frames && ok; at += kSlice) {
        const sf_count_t n = std::min(kSlice, frames - at);
        const std::size_t samples = std::size_t(n) * channels;
        const std::size_t first = std::size_t(at) * channels;
        if (wide) {
            std::memcpy(buf.data(), sound.data + first * 2, samples * 2);
        } else {
            for (std::size_t i = 0; i < samples; ++i) buf[i] = short(sound.data[first + i] * 256);
        }
        ok = sf_writef_short(f, buf.data(), n) == n;
    }
    std::string error = ok ? "" : std::string("Cannot write ") + path + ": " + sf_strerror(f);
    if (sf_close(f) != 0 && error.empty()) error = "Cannot finish writing " + path + ".";
    if (error.empty() && std::rename(temp.c_str(), path.c_str()) != 0)
        error = "Cannot put the file in place at " + path + ".";
    if (!error.empty()) std::remove(temp.c_str());
    return error;
}
