// Helpers for the loader tests: a scratch folder, sound files written through
// the decoding library or byte by byte, and a stand-in for the alert.
#pragma once

#include <dirent.h>
#include <sndfile.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <type_traits>
#include <vector>

#include "core/hooks.h"

namespace files {

// A fresh folder, removed with everything in it at the end of the test.
class TempDir {
  public:
    TempDir() {
        char tmpl[] = "/tmp/plexora-test-XXXXXX";
        const char* d = mkdtemp(tmpl);
        path_ = d ? d : "/tmp";
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string file(const std::string& leaf) const { return path_ + "/" + leaf; }

  private:
    std::string path_;
};

// Writes interleaved samples in `format`: ints at full 32-bit scale, or floats.
template <typename Sample>
inline bool write_samples(const std::string& path, int format, int channels, int rate,
                          const std::vector<Sample>& samples) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* sf = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!sf) return false;
    const auto count = static_cast<sf_count_t>(samples.size());
    sf_count_t n;
    if constexpr (std::is_same_v<Sample, int>) {
        n = sf_write_int(sf, samples.data(), count);
    } else {
        n = sf_write_float(sf, samples.data(), count);
    }
    sf_close(sf);
    return n == count;
}

inline bool write_ints(const std::string& path, int format, int channels, int rate,
                       const std::vector<int>& samples) {
    return write_samples(path, format, channels, rate, samples);
}

inline bool write_floats(const std::string& path, int format, int channels, int rate,
                         const std::vector<float>& samples) {
    return write_samples(path, format, channels, rate, samples);
}

inline bool write_bytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// Distinct, mostly non-zero 16-bit values, so a sample out of place shows.
inline std::int16_t pattern16(std::int64_t i, int channel) {
    const auto x =
        static_cast<std::uint32_t>(i * 2654435761u + static_cast<std::uint32_t>(channel) * 40503u);
    return static_cast<std::int16_t>(x >> 16);
}

// An AVR file: 128-byte header, then `data` as stored.
struct Avr {
    std::string name = "kick";
    std::uint8_t channels = 0;  // byte 13
    std::uint8_t bits = 8;      // byte 15
    std::uint16_t loop = 0;
    std::uint8_t note = 60;
    std::uint16_t rate = 22050;
    std::uint32_t loop_begin = 0;
    std::uint32_t loop_end = 0;
    std::vector<unsigned char> data;

    std::vector<unsigned char> bytes() const {
        std::vector<unsigned char> b(128, 0);
        b[0] = '2', b[1] = 'B', b[2] = 'I', b[3] = 'T';
        for (std::size_t i = 0; i < name.size() && i < 8; ++i)
            b[4 + i] = static_cast<unsigned char>(name[i]);
        b[12] = channels ? 0xFF : 0;
        b[13] = channels;
        b[15] = bits;
        b[18] = static_cast<unsigned char>(loop >> 8), b[19] = static_cast<unsigned char>(loop);
        b[21] = note;
        b[22] = 0xFF;
        b[24] = static_cast<unsigned char>(rate >> 8), b[25] = static_cast<unsigned char>(rate);
        b[31] = static_cast<unsigned char>(loop_begin >> 16);
        b[32] = static_cast<unsigned char>(loop_begin >> 8);
        b[33] = static_cast<unsigned char>(loop_begin);
        b[35] = static_cast<unsigned char>(loop_end >> 16);
        b[36] = static_cast<unsigned char>(loop_end >> 8);
        b[37] = static_cast<unsigned char>(loop_end);
        b.insert(b.end(), data.begin(), data.end());
        return b;
    }
};

// Catches the alerts shown while it lives.
class AlertCatcher {
  public:
    AlertCatcher() {
        count() = 0;
        text().clear();
        button().clear();
        details().clear();
        ui_hooks().alert = [](const char* t, const char* b) {
            ++count();
            text() = t;
            button() = b;
            details().clear();
        };
        ui_hooks().alert_details = [](const char* t, const char* b, const char* d) {
            ui_hooks().alert(t, b);
            details() = d;
        };
    }
    ~AlertCatcher() {
        ui_hooks().alert = nullptr;
        ui_hooks().alert_details = nullptr;
    }
    // The details of the last alert ("" when it had none).
    static std::string& details() {
        static std::string s;
        return s;
    }
    static int& count() {
        static int n = 0;
        return n;
    }
    static std::string& text() {
        static std::string s;
        return s;
    }
    static std::string& button() {
        static std::string s;
        return s;
    }
};

// Open file descriptors of this process.
inline int open_fds() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d)) ++n;
        closedir(d);
    }
    return n;
}

// Standard output of a shell command, trimmed.
inline std::string run(const std::string& cmd) {
    std::string out;
    if (std::FILE* p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

}  // namespace files
