// The render callback under a realistic load: voices drawn from the
// instruments of a real General MIDI bank, at varied keys, channels and
// velocities, some held and some released, 512-frame buffers at 44.1 kHz.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "core/reclaim.h"
#include "core/sound.h"
#include "engine/render.h"
#include "engine/voices.h"
#include "io/loadi.h"
#include "midi/reset_tables.h"

namespace {

constexpr std::size_t kFrames = 512;
constexpr float kRate = 44100.0f;

bool load_bank(const char* path) {
    reset_tables();
    reclaim::reclaim_all();
    no_s = 0;
    loadi(0, path, "bank");
    return nb_inst > 1;
}

// Starts voices until `target` play; a quarter of them released at once.
void fill_voices(int target, std::mt19937& rng) {
    while (active_voices() < target) {
        const std::uint32_t inst = rng() % nb_inst;
        const std::uint32_t key = 36 + rng() % 60;
        const std::uint32_t ch = rng() % 16;
        addnote(ch, key, inst, 40 + rng() % 88, true, 0, 0);
        if (rng() % 4 == 0) delnote(ch, key, 0, 64, -1);
    }
}

void BM_BankVoices(benchmark::State& state, const char* bank) {
    if (!load_bank(bank)) {
        state.SkipWithError("bank could not be imported");
        return;
    }
    const int voices = static_cast<int>(state.range(0));
    std::mt19937 rng(5);
    std::vector<float> buf(kFrames * 2);
    raw_audio_format fmt;
    fmt.frame_rate = kRate;
    long voice_buffers = 0;
    for (auto _ : state) {
        fill_voices(voices, rng);  // voices that ended are replaced, as a busy song would
        voice_buffers += active_voices();
        BufferProc(nullptr, buf.data(), buf.size() * sizeof(float), fmt);
        benchmark::DoNotOptimize(buf.data());
    }
    state.counters["ns_per_voice_frame"] =
        benchmark::Counter(static_cast<double>(voice_buffers) * kFrames,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["core_share_at_44k"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kFrames / kRate,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    reset_tables();
    reclaim::reclaim_all();
}

}  // namespace

BENCHMARK_CAPTURE(BM_BankVoices, TimGM6mb, "/usr/share/sounds/sf2/TimGM6mb.sf2")
    ->Arg(32)
    ->Arg(64)
    ->Arg(128)
    ->ArgName("voices")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_BankVoices, FluidR3_GM, "/usr/share/sounds/sf2/FluidR3_GM.sf2")
    ->Arg(32)
    ->Arg(64)
    ->Arg(128)
    ->ArgName("voices")
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
