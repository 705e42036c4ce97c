// Cost of the render callback per voice and frame: 16-bit mono looping
// sounds played at a step of about 1.3 into 512-frame buffers, with 1 to 128
// voices on the sixteen channels, the envelope curves off (0) or on (1) or
// the sound played as a bank's maker set it (2: envelope in time, low-pass
// filter opened by the modulation envelope, concave velocity), through
// each mixing path (0 plain, 1 SSE2, 2 AVX2; a path the processor lacks is
// skipped), and every channel's low-pass filter open (0) or closed (64).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "core/articulation.h"
#include "core/reclaim.h"
#include "core/sound.h"
#include "engine/channels.h"
#include "engine/mix.h"
#include "engine/render.h"
#include "engine/voices.h"
#include "midi/reset_tables.h"

namespace {

constexpr std::size_t kFrames = 512;
constexpr float kRate = 48000.0f;

void setup(int voices, int curves, int lpf) {
    reset_tables();
    play_as_set = curves == 2;
    reclaim::reclaim_all();
    const std::uint32_t frames = 96000;
    p_s* s = new_sound_with_data(frames * 2);
    auto* data = reinterpret_cast<std::int16_t*>(s->data);
    for (std::uint32_t i = 0; i < frames; ++i) {
        data[i] = static_cast<std::int16_t>(20000 * std::sin(i * 0.031));
    }
    // 48 kHz sound, base 60, played at key 64 + a little tuning: step ~1.3.
    s->rate = 48000;
    s->bits = 16;
    s->base = 60;
    s->loop = 1;
    s->loop_start = 2000;
    s->loop_end = frames * 2;
    finish_loaded_sound(s);
    s->flags = curves == 1 ? 0x1F : 0;
    if (curves == 2) {
        s->art.on = true;
        s->art.sample_mode = kLoopAlways;
        s->art.decay = 1200;  // two seconds over the whole range
        s->art.sustain = 300;
        s->art.filter_cutoff = 9000;
        s->art.mod_env_to_filter = 2000;
        s->art.mod_decay = 0;
        s->art.mod_sustain = 500;
    }
    replace_sound(0, s);
    for (int v = 0; v < voices; ++v) {
        addnote(static_cast<std::uint32_t>(v % 16), 64 + (v % 3), 0, 100, false, 0,
                static_cast<std::uint32_t>(v * 300));
    }
    for (int c = 0; c < 16; ++c) {
        ch_ctune[c] = 70;
        ch_lpf[c] = lpf;
    }
}

void BM_BufferProc(benchmark::State& state) {
    const int voices = static_cast<int>(state.range(0));
    const int curves = static_cast<int>(state.range(1));
    if (!set_mix_path(static_cast<MixPath>(state.range(2)))) {
        state.SkipWithError("mixing path not available here");
        return;
    }
    setup(voices, curves, static_cast<int>(state.range(3)));
    std::vector<float> buf(kFrames * 2);
    raw_audio_format fmt;
    fmt.frame_rate = kRate;
    for (auto _ : state) {
        BufferProc(nullptr, buf.data(), buf.size() * sizeof(float), fmt);
        benchmark::DoNotOptimize(buf.data());
    }
    if (active_voices() != voices) state.SkipWithError("voices ended during the run");
    const double voice_frames = static_cast<double>(state.iterations()) * voices * kFrames;
    state.counters["ns_per_voice_frame"] =
        benchmark::Counter(voice_frames, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    // Share of one core needed to keep up with real time at 48 kHz.
    state.counters["core_share_at_48k"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kFrames / kRate,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK(BM_BufferProc)
    ->ArgsProduct({{1, 16, 64, 128}, {0, 1}, {0, 1, 2}, {0}})
    ->Args({128, 0, 1, 64})
    ->Args({128, 0, 2, 64})
    ->Args({128, 1, 2, 64})
    ->Args({128, 2, 1, 0})
    ->Args({128, 2, 2, 0})
    ->ArgNames({"voices", "curves", "path", "lpf"})
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
