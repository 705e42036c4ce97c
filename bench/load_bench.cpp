// Load speed of sample files, and how long the streaming reader takes to
// refill one half of a ring against how long that half plays.
#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/reclaim.h"
#include "core/sound.h"
#include "engine/voice_table.h"
#include "engine/voices.h"
#include "io/d2d_reader.h"
#include "io/load.h"
#include "io/mediafile.h"
#include "midi/reset_tables.h"

namespace {

constexpr int kRate = 44100;

// Writes `frames` frames of 16-bit stereo noise-like data once per run.
std::string sound_file(const char* leaf, int format, std::int64_t frames) {
    const std::string path =
        std::string("/tmp/plexora-bench-") + std::to_string(getpid()) + "-" + leaf;
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 2;
    info.format = format;
    SNDFILE* sf = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!sf) return {};
    std::vector<short> block(2 * 65536);
    std::uint32_t x = 1;
    for (std::int64_t done = 0; done < frames;) {
        const std::int64_t n = std::min<std::int64_t>(65536, frames - done);
        for (std::int64_t i = 0; i < 2 * n; ++i) {
            x = x * 1664525u + 1013904223u;
            block[i] =
                static_cast<short>(x >> 20);  // quiet noise: compressible like music, not silence
        }
        sf_writef_short(sf, block.data(), n);
        done += n;
    }
    sf_close(sf);
    return path;
}

struct Files {
    std::string big = sound_file("big.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 100'000'000 / 4);
    std::string small = sound_file("small.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 900'000 / 4);
    std::string ogg = sound_file("long.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 60 * kRate);
    std::string flac = sound_file("long.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 60 * kRate);
    ~Files() {
        for (const std::string* p : {&big, &small, &ogg, &flac}) std::remove(p->c_str());
    }
};

Files& files() {
    static Files f;
    return f;
}

void load_into_slot(benchmark::State& state, const std::string& path, std::uint16_t want) {
    reset_tables();
    reclaim::reclaim_all();
    for (auto _ : state) {
        if (load(1, path.c_str(), "bench") != LoadResult::loaded) {
            state.SkipWithError("load failed");
            break;
        }
    }
    if (t_sound[0].load()->type != want) state.SkipWithError("held the wrong way");
    state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
    clear_sound(0);
    reclaim::reclaim_all();
}

// Refills one half per iteration, the voice placed where that half may be
// written; the playing time of a half is reported beside it.
void refill_half(benchmark::State& state, const std::string& path) {
    reset_tables();
    reclaim::reclaim_all();
    if (load(1, path.c_str(), "bench") != LoadResult::loaded ||
        t_sound[0].load()->type != kTypeStreamed) {
        state.SkipWithError("not streamed");
        return;
    }
    p_s* s = t_sound[0];
    const std::int64_t half = 50 * (s->chunk >> s->shift);
    addnote(0, 48, 0, 127, false, 0, 0);
    DecodeScratch scratch;
    for (auto _ : state) {
        state.PauseTiming();
        if (s->rd_frames + half > s->nframes) {  // start over rather than fill silence
            delnote(0, 48, 0, 0, 0);
            d2d_pass(scratch);
            addnote(0, 48, 0, 127, false, 0, 0);
        }
        nlist[0].pos = static_cast<std::uint32_t>(s->d2d_state == 1 ? 0 : half);
        state.ResumeTiming();
        d2d_pass(scratch);
    }
    state.counters["half_play_ms"] = 1000.0 * static_cast<double>(half) / s->rate;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * half * 4);
    delnote(0, 48, 0, 0, 0);
    clear_sound(0);
    reclaim::reclaim_all();
}

void BM_LoadStreamed100MB(benchmark::State& state) {
    load_into_slot(state, files().big, kTypeStreamed);
}
void BM_LoadInMemory900kB(benchmark::State& state) {
    load_into_slot(state, files().small, kTypeMemory);
}
void BM_RefillHalfWav(benchmark::State& state) {
    refill_half(state, files().big);
}
void BM_RefillHalfFlac(benchmark::State& state) {
    refill_half(state, files().flac);
}
void BM_RefillHalfOgg(benchmark::State& state) {
    refill_half(state, files().ogg);
}

}  // namespace

BENCHMARK(BM_LoadStreamed100MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadInMemory900kB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefillHalfWav)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefillHalfFlac)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefillHalfOgg)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
