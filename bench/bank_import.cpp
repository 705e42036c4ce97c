// Import time and peak memory of the SoundFont banks shipped by Debian.
//
// Time: each iteration imports the bank into fresh tables (the tables are
// reset and the previous import freed outside the timed part).
// Memory: the program runs itself again in a fresh process that imports the
// bank once and reports its peak resident size (VmHWM) before and after; the
// counters give the peak against the size of the bank's sample data.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "core/articulation.h"
#include "core/hooks.h"
#include "core/reclaim.h"
#include "core/sound.h"
#include "io/bank_chunks.h"
#include "io/input_bytes.h"
#include "io/loadi.h"
#include "midi/reset_tables.h"

extern char** environ;

namespace {

const char* const kBanks[] = {"/usr/share/sounds/sf2/TimGM6mb.sf2",
                              "/usr/share/sounds/sf2/FluidR3_GM.sf2",
                              "/usr/share/sounds/sf3/MuseScore_General_Lite.sf3"};

// Peak resident set of this process in kB.
long vm_hwm_kb() {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, "VmHWM:", 6) == 0) kb = std::strtol(line + 6, nullptr, 10);
    }
    std::fclose(f);
    return kb;
}

double sample_bytes(const char* path) {
    FileInput in(path);
    return static_cast<double>(find_bank_chunks(in).smpl.size);
}

void fresh() {
    reset_tables();
    reclaim::reclaim_all();
}

// `as_set`: every zone with its articulation, as the program imports banks
// by default; otherwise the plain import.
void BM_ImportTime(benchmark::State& state, const char* path, bool as_set) {
    if (!std::filesystem::exists(path)) {
        state.SkipWithError("bank not installed");
        return;
    }
    play_as_set = as_set;
    for (auto _ : state) {
        state.PauseTiming();
        fresh();
        state.ResumeTiming();
        loadi(1, path, "");
        benchmark::DoNotOptimize(nb_sound.load());
    }
    state.counters["sounds"] = nb_sound.load();
    state.counters["instruments"] = nb_inst.load();
    state.counters["sample_MB"] = sample_bytes(path) / 1e6;
    fresh();
}

// Runs "<self> --peak <bank>" and reads "<before kB> <after kB>" from it.
void BM_ImportPeakMemory(benchmark::State& state, const char* path) {
    if (!std::filesystem::exists(path)) {
        state.SkipWithError("bank not installed");
        return;
    }
    long before = 0;
    long after = 0;
    for (auto _ : state) {
        int fds[2];
        if (::pipe(fds) != 0) return state.SkipWithError("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        char self[] = "/proc/self/exe";
        char flag[] = "--peak";
        std::string bank = path;
        char* argv[] = {self, flag, bank.data(), nullptr};
        pid_t pid = 0;
        const int rc = posix_spawn(&pid, self, &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        char out[128] = {};
        const ssize_t got = rc == 0 ? ::read(fds[0], out, sizeof out - 1) : -1;
        ::close(fds[0]);
        int status = 0;
        if (rc == 0) ::waitpid(pid, &status, 0);
        if (got <= 0 || std::sscanf(out, "%ld %ld", &before, &after) != 2) {
            return state.SkipWithError("the measuring process failed");
        }
    }
    const double data = sample_bytes(path);
    state.counters["sample_MB"] = data / 1e6;
    state.counters["peak_MB"] = after / 1e3;
    state.counters["peak_before_import_MB"] = before / 1e3;
    state.counters["peak_over_samples"] = after * 1e3 / data;
    state.counters["import_growth_over_samples"] = (after - before) * 1e3 / data;
}

// The measuring process: import once, report the peak before and after.
int measure_peak(const char* path) {
    ui_hooks().alert = [](const char* text, const char*) { std::fprintf(stderr, "%s\n", text); };
    reset_tables();
    const long before = vm_hwm_kb();
    loadi(1, path, "");
    const long after = vm_hwm_kb();
    if (nb_sound <= 1) return 1;
    std::printf("%ld %ld\n", before, after);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--peak") == 0) return measure_peak(argv[2]);
    for (const char* bank : kBanks) {
        const std::string name = std::filesystem::path(bank).stem().string();
        for (const bool as_set : {false, true}) {
            benchmark::RegisterBenchmark(
                ("ImportTime/" + name + (as_set ? "/as_set" : "/plain")).c_str(), BM_ImportTime,
                bank, as_set)
                ->Unit(benchmark::kMillisecond)
                ->MinTime(1.0);
        }
        benchmark::RegisterBenchmark(("ImportPeakMemory/" + name).c_str(), BM_ImportPeakMemory,
                                     bank)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
