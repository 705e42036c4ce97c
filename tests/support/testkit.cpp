#include "support/testkit.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/hooks.h"
#include "core/reclaim.h"
#include "engine/render.h"

namespace testkit {

void fresh_tables() {
    reset_tables();
    reclaim::reclaim_all();
}

p_s* make_sound16(const std::vector<std::int16_t>& samples, std::uint32_t rate, int base,
                  bool stereo) {
    p_s* s = new_sound_with_data(static_cast<std::uint32_t>(samples.size() * 2));
    std::memcpy(s->data, samples.data(), samples.size() * 2);
    s->rate = rate;
    s->bits = 16;
    s->stereo = stereo ? 1 : 0;
    s->base = static_cast<std::int16_t>(base);
    std::strcpy(s->name, "test16");
    finish_loaded_sound(s);
    return s;
}

p_s* make_sound8(const std::vector<std::int8_t>& samples, std::uint32_t rate, int base,
                 bool stereo) {
    p_s* s = new_sound_with_data(static_cast<std::uint32_t>(samples.size()));
    std::memcpy(s->data, samples.data(), samples.size());
    s->rate = rate;
    s->bits = 8;
    s->stereo = stereo ? 1 : 0;
    s->base = static_cast<std::int16_t>(base);
    std::strcpy(s->name, "test8");
    finish_loaded_sound(s);
    return s;
}

std::vector<std::int16_t> sine16(double hz, std::uint32_t rate, std::uint32_t frames, double amp) {
    std::vector<std::int16_t> v(frames);
    for (std::uint32_t i = 0; i < frames; ++i) {
        v[i] = static_cast<std::int16_t>(
            std::lround(amp * 32767.0 * std::sin(2 * M_PI * hz * i / rate)));
    }
    return v;
}

void set_loop_frames(p_s* s, std::uint32_t start, std::uint32_t end) {
    const int sh = frame_shift(s->bits, s->stereo);
    s->loop_start = start << sh;
    s->loop_end = end << sh;
    s->loop = 1;
}

std::vector<float> render(std::size_t frames, float rate, std::size_t buffer_frames) {
    std::vector<float> out(frames * 2);
    raw_audio_format fmt;
    fmt.frame_rate = rate;
    fmt.channel_count = 2;
    std::vector<float> buf(buffer_frames * 2);
    for (std::size_t done = 0; done < frames; done += buffer_frames) {
        const std::size_t n = std::min(buffer_frames, frames - done);
        BufferProc(nullptr, buf.data(), n * 2 * sizeof(float), fmt);
        std::copy(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n * 2),
                  out.begin() + static_cast<std::ptrdiff_t>(done * 2));
    }
    return out;
}

std::vector<float> channel(const std::vector<float>& stereo, int ch) {
    std::vector<float> v(stereo.size() / 2);
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = stereo[2 * i + static_cast<std::size_t>(ch)];
    return v;
}

double zero_crossing_hz(const std::vector<float>& mono, double rate) {
    // Interpolated rising crossings; frequency from the first to the last.
    double first = -1;
    double last = -1;
    int count = 0;
    for (std::size_t i = 1; i < mono.size(); ++i) {
        if (mono[i - 1] < 0 && mono[i] >= 0) {
            const double t = static_cast<double>(i - 1) + mono[i - 1] / (mono[i - 1] - mono[i]);
            if (first < 0) first = t;
            last = t;
            ++count;
        }
    }
    if (count < 2) return 0;
    return (count - 1) * rate / (last - first);
}

double rms(const std::vector<float>& v, std::size_t from, std::size_t to) {
    to = std::min(to, v.size());
    if (from >= to) return 0;
    double acc = 0;
    for (std::size_t i = from; i < to; ++i) acc += double(v[i]) * v[i];
    return std::sqrt(acc / static_cast<double>(to - from));
}

float peak(const std::vector<float>& v, std::size_t from, std::size_t to) {
    to = std::min(to, v.size());
    float p = 0;
    for (std::size_t i = from; i < to; ++i) p = std::max(p, std::fabs(v[i]));
    return p;
}

std::vector<std::string>& AlertingTest::alerts() {
    static std::vector<std::string> kept;
    return kept;
}

void AlertingTest::SetUp() {
    EngineTest::SetUp();
    alerts().clear();
    ui_hooks().alert = [](const char* text, const char*) { alerts().emplace_back(text); };
}

void AlertingTest::TearDown() {
    ui_hooks().alert = nullptr;
    EngineTest::TearDown();
}

}  // namespace testkit
