// The sample editor's operations on a 10-minute 44.1 kHz 16-bit stereo
// sound (about 106 MB), undo, and the recompute of both strips.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>

#include "core/reclaim.h"
#include "core/sound.h"
#include "midi/reset_tables.h"
#include "edit/sample_edit.h"
#include "edit/strip.h"

namespace {

constexpr std::uint32_t kFrames = 44100u * 600u;

void fill_big_sound() {
    reset_tables();
    reclaim::reclaim_all();
    p_s* s = new_sound_with_data(kFrames * 4);
    auto* w = reinterpret_cast<std::int16_t*>(s->data);
    for (std::uint32_t i = 0; i < kFrames * 2; ++i)
        w[i] = std::int16_t(12000.0 * std::sin(i * 0.0031) + (i * 7919 % 2000) - 1000);
    s->rate = 44100;
    s->bits = 16;
    s->stereo = 1;
    s->base = 60;
    finish_loaded_sound(s);
    replace_sound(1, s);
    nb_sound = 2;
}

// Fades, Normalize, Reverse and Clear run over the whole sound; Insert and
// Delete over one minute in the middle.
void select_for(SampleEdit& ed, EditOp op) {
    const bool minute = op == kInsert || op == kDelete;
    ed.state().block_start = minute ? std::int32_t(kFrames / 2) : 0;
    ed.state().block_end = minute ? std::int32_t(kFrames / 2 + 44100 * 60) : std::int32_t(kFrames);
}

void BM_Operation(benchmark::State& state) {
    fill_big_sound();
    SampleEdit ed(1, {});
    const auto op = EditOp(state.range(0));
    for (auto _ : state) {
        select_for(ed, op);
        if (!ed.apply(op)) state.SkipWithError("operation did nothing");
        state.PauseTiming();
        ed.undo();
        reclaim::reclaim_all();
        state.ResumeTiming();
    }
    static const char* const kNames[] = {"Clear",    "Delete",    "Insert", "Fade In",
                                         "Fade Out", "Normalize", "Reverse"};
    state.SetLabel(kNames[op]);
}
BENCHMARK(BM_Operation)->DenseRange(kClear, kReverse)->Unit(benchmark::kMillisecond)->Iterations(4);

void BM_Undo(benchmark::State& state) {
    fill_big_sound();
    SampleEdit ed(1, {});
    for (auto _ : state) {
        state.PauseTiming();
        select_for(ed, kReverse);
        ed.apply(kReverse);
        state.ResumeTiming();
        if (!ed.undo()) state.SkipWithError("nothing to undo");
        state.PauseTiming();
        reclaim::reclaim_all();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Undo)->Unit(benchmark::kMillisecond)->Iterations(4);

void BM_StripRecompute(benchmark::State& state) {
    fill_big_sound();
    SampleEdit ed(1, {});
    ed.state().view_start = 1000000;
    ed.state().view_end = 1000000 + 44100;
    ColumnImage overview, zoom;
    for (auto _ : state) {
        compute_overview(ed.record(), ed.state(), overview);
        compute_zoom(ed.record(), ed.state(), zoom);
        benchmark::DoNotOptimize(overview.data());
        benchmark::DoNotOptimize(zoom.data());
    }
}
BENCHMARK(BM_StripRecompute)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
