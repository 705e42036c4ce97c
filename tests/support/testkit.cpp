#include "support/testkit.h"

#include <algorithm>

#include "core/articulation.h"
#include "io/bank_import.h"

namespace testkit {

void fresh_tables() {
    reset_tables();
    reclaim::reclaim_all();
}

namespace {
p_s* make_sound(const void* bytes, std::size_t size, std::uint32_t rate, int base, int bits,
                bool stereo) {
    p_s* s = new_sound_with_data(static_cast<std::uint32_t>(size));
    std::memcpy(s->data, bytes, size);
    s->rate = rate;
    s->bits = static_cast<std::uint16_t>(bits);
    s->stereo = stereo ? 1 : 0;
    s->base = static_cast<std::int16_t>(base);
    std::strcpy(s->name, "test");
    finish_loaded_sound(s);
    return s;
}
}  // namespace

p_s* make_sound16(const std::vector<std::int16_t>& v, std::uint32_t rate, int base, bool stereo) {
    return make_sound(v.data(), v.size() * 2, rate, base, 16, stereo);
}

p_s* make_sound8(const std::vector<std::int8_t>& v, std::uint32_t rate, int base, bool stereo) {
    return make_sound(v.data(), v.size(), rate, base, 8, stereo);
}

p_s* ramp_sound(int bits, bool stereo, int frames) {
    const std::size_t n = std::size_t(frames) * (stereo ? 2 : 1);
    if (bits == 16) {
        std::vector<std::int16_t> v(n);
        for (std::size_t i = 0; i < n; ++i) v[i] = std::int16_t(i * 37 - 9000);
        return make_sound16(v, 22050, 60, stereo);
    }
    std::vector<std::int8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = std::int8_t(i * 7);
    return make_sound8(v, 22050, 60, stereo);
}

std::vector<std::int8_t> bytes_of(const p_s* s) {
    if (!s || !s->data) return {};
    return {s->data, s->data + std::uint32_t(s->size)};
}

void set_loop_frames(p_s* s, std::uint32_t start, std::uint32_t end) {
    const int sh = frame_shift(s->bits, s->stereo);
    s->loop_start = start << sh;
    s->loop_end = end << sh;
    s->loop = 1;
}

p_s* looped_sound(const std::vector<std::int16_t>& v, std::uint32_t rate, int base, int slot) {
    p_s* s = make_sound16(v, rate, base);
    set_loop_frames(s, 0, static_cast<std::uint32_t>(v.size()));
    replace_sound(slot, s);
    return s;
}

std::string describe(const p_s* s) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "%d-bit %s shift %d, %u Hz, base %d, keys %d-%d, size %u, loop %s %u-%u",
                  int(s->bits), s->stereo ? "stereo" : "mono", int(s->shift), unsigned(s->rate),
                  int(s->base), int(s->key_lo), int(s->key_hi), unsigned(s->size),
                  s->loop ? "on" : "off", unsigned(s->loop_start), unsigned(s->loop_end));
    return text;
}

std::vector<std::int16_t> sine16(double hz, std::uint32_t rate, std::uint32_t frames, double amp) {
    std::vector<std::int16_t> v(frames);
    for (std::uint32_t i = 0; i < frames; ++i)
        v[i] = static_cast<std::int16_t>(
            std::lround(amp * 32767.0 * std::sin(2 * M_PI * hz * i / rate)));
    return v;
}

std::vector<float> render(std::size_t frames, float rate, std::size_t buffer_frames,
                          std::uint32_t channels, const std::function<void(int)>& before) {
    std::vector<float> out(frames * channels, 9.0f);  // shows what is left unwritten
    raw_audio_format fmt;
    fmt.frame_rate = rate;
    fmt.channel_count = channels;
    for (std::size_t done = 0, k = 0; done < frames; done += buffer_frames, ++k) {
        if (before) before(int(k));
        const std::size_t n = std::min(buffer_frames, frames - done) * channels;
        BufferProc(nullptr, out.data() + done * channels, n * sizeof(float), fmt);
    }
    return out;
}

std::vector<float> channel(const std::vector<float>& v, int ch, int channels) {
    std::vector<float> out(v.size() / static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = v[i * channels + static_cast<std::size_t>(ch)];
    return out;
}

std::vector<double> rising_crossings(const std::vector<float>& mono) {
    std::vector<double> at;
    for (std::size_t i = 1; i < mono.size(); ++i)
        if (mono[i - 1] < 0 && mono[i] >= 0)
            at.push_back(static_cast<double>(i - 1) + mono[i - 1] / (mono[i - 1] - mono[i]));
    return at;
}

double zero_crossing_hz(const std::vector<float>& mono, double rate) {
    const std::vector<double> at = rising_crossings(mono);
    return at.size() < 2 ? 0 : static_cast<double>(at.size() - 1) * rate / (at.back() - at.front());
}

double rms(const std::vector<float>& v, std::size_t from, std::size_t to) {
    to = std::min(to, v.size());
    double acc = 0;
    for (std::size_t i = from; i < to; ++i) acc += double(v[i]) * v[i];
    return from >= to ? 0 : std::sqrt(acc / static_cast<double>(to - from));
}

float peak(const std::vector<float>& v, std::size_t from, std::size_t to) {
    to = std::min(to, v.size());
    float p = 0;
    for (std::size_t i = from; i < to; ++i) p = std::max(p, std::fabs(v[i]));
    return p;
}

bool all_finite(const std::vector<float>& v) {
    return std::all_of(v.begin(), v.end(), [](float x) { return std::isfinite(x); });
}

float unit_gain(int out) {
    const double pan = std::sin(M_PI / 2 * (out == 0 ? 64 : 63) / 128.0);
    return static_cast<float>(127.0 * pan * (127.0 / 128.0) / 4194304.0 / 4.0);
}

std::int64_t NumberedSource::read(std::int8_t* dst, std::int64_t frames, DecodeScratch&) {
    SourceControl& c = *c_;  // waited on without touching the source, which a fault may free
    if (const int d = c.delay_us.load()) std::this_thread::sleep_for(std::chrono::microseconds(d));
    if (c.hold.load()) {
        c.inside = true;
        while (c.hold.load()) std::this_thread::yield();
    }
    for (std::int64_t k = 0; k < frames; ++k, ++at_) {
        const std::int16_t v = numbered_frame(at_);
        std::memcpy(dst + 2 * k, &v, 2);
    }
    return frames;
}

p_s* numbered_stream(std::shared_ptr<SourceControl> c) {
    const std::uint32_t chunk = kChunkFrames * 2;
    const std::int64_t half = std::int64_t{kHalfChunks} * kChunkFrames;
    p_s* s = new_sound_with_data(kRingChunks * chunk);
    s->type = kTypeStreamed;
    s->bits = 16;
    s->rate = 44100;
    s->base = 48;
    finish_loaded_sound(s);
    s->chunk = chunk;
    s->nframes = 100'000'000;
    auto src = std::make_shared<NumberedSource>(std::move(c));
    DecodeScratch scratch;
    src->read(s->data, half, scratch);
    s->rd_frames = s->rd_frames2 = half;
    s->d2d_state = kFirstHalfDue;
    s->loop = 1;
    s->loop_start = kHalfChunks * chunk;
    s->loop_end = kRingChunks * chunk;
    s->mfile = src;
    return s;
}

void FileOrder::hear(const std::vector<float>& interleaved) {
    for (std::size_t j = 0; j < interleaved.size(); j += 2) {
        const long v = std::lround(interleaved[j] / unit_gain(0));
        if (v == 0) {
            ++silent;
            continue;
        }
        wrong += v != numbered_frame(next);
        next = v % kNumberedPeriod;  // the next frame follows this one
        ++heard;
    }
}

void Ramp::proc(void* cookie, void* buffer, std::size_t size, const raw_audio_format& f) {
    auto* me = static_cast<Ramp*>(cookie);
    ++me->inside;
    while (me->stall) me->stalled = true;
    const unsigned frames = static_cast<unsigned>(size / (2 * sizeof(float)));
    if (f.channel_count != 2 || f.buffer_size != size) me->bad_format = true;
    if (frames > me->largest) me->largest = frames;
    auto* out = static_cast<float*>(buffer);
    for (unsigned i = 0; i < frames; ++i, ++me->next)
        out[2 * i] = me->next, out[2 * i + 1] = -me->next;
    ++me->calls;
    --me->inside;
}

std::string layout() {
    std::string out;
    EXPECT_TRUE(nb_inst > 0 || nb_sound == 0);
    for (int k = 0; k < nb_inst; ++k) {
        EXPECT_GE(inst_count(k), 1) << "instrument " << k << " owns no sound";
        EXPECT_EQ(t_inst[k], k == 0 ? 0 : inst_first(k - 1) + inst_count(k - 1));
        for (int s = inst_first(k); s < inst_first(k) + inst_count(k); ++s) {
            EXPECT_EQ(t_invert[s], k) << "sound " << s;
            EXPECT_EQ(quel_baseson(s), k) << "sound " << s;
            EXPECT_NE(t_sound[s].load(), nullptr) << "sound " << s;
            if (s) out += k && s == inst_first(k) ? " | " : " ";
            if (t_sound[s].load()) out += t_sound[s].load()->name;
        }
    }
    for (int s = nb_sound; s < kMaxSounds; ++s) EXPECT_EQ(t_sound[s].load(), nullptr) << s;
    return out;
}

Looper::Looper(std::function<void()> step)
    : thread_([this, step = std::move(step)] {
          while (!stop_.load()) step();
          reclaim::release_thread_slot();
      }) {}

void Looper::stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

std::vector<Alert>& EngineTest::alerts() {
    static std::vector<Alert> kept;
    return kept;
}

void EngineTest::SetUp() {
    fresh_tables();
    alerts().clear();
    ui_hooks().alert = [](const char* text, const char* button) {
        alerts().push_back({text, button, ""});
    };
    ui_hooks().alert_details = [](const char* text, const char* button, const char* details) {
        alerts().push_back({text, button, details ? details : ""});
    };
    ui_hooks().notice = [](const char* text, const char* details) {
        alerts().push_back({text, "(notice)", details});
    };
}

void AsSetTest::SetUp() {
    EngineTest::SetUp();
    play_as_set = true;
    fmodei = false;
}

void AsSetTest::TearDown() {
    play_as_set = false;
    EngineTest::TearDown();
}

int AsSetTest::import(const std::vector<std::uint8_t>& b) {
    MemoryInput in(b.data(), b.size());
    return import_bank(in);
}

void EngineTest::TearDown() {
    ui_hooks() = UiHooks{};
    prince = prin = false;
    for (KeyNotice n; take_key_notice(n);) continue;
    take_preview_ended();
    fresh_tables();
}

}  // namespace testkit
