// The instrument structure changes (adding and deleting slots and
// instruments, importing banks, reading instrument files) while the render
// callback and a MIDI thread play the very instruments being changed. Run
// under the sanitizers, any read outside a sound's data or any race shows up.
#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "core/hooks.h"
#include "core/instruments.h"
#include "core/reclaim.h"
#include "core/sound.h"
#include "engine/render.h"
#include "engine/voices.h"
#include "io/bank_import.h"
#include "io/input_bytes.h"
#include "io/instrument_file.h"
#include "support/file_builders.h"
#include "support/testkit.h"

namespace {

using namespace std::chrono_literals;

files::Bytes small_bank() {
    std::vector<files::SfSample> smp;
    for (int i = 0; i < 3; ++i) {
        files::SfSample s;
        s.name = "s" + std::to_string(i);
        s.points = testkit::sine16(200.0 + 100 * i, 22050, 300 + 200 * i);
        s.loop_start = 50;
        s.loop_end = static_cast<std::uint32_t>(s.points.size() - 20);
        smp.push_back(s);
    }
    using files::key_range;
    using files::sample_id;
    return files::sf_bank(
        smp, {{"a", {{key_range(0, 60), sample_id(0)}, {key_range(61, 127), sample_id(1)}}},
              {"b", {{sample_id(2)}, {sample_id(0)}, {sample_id(2)}}},
              {"c", {{sample_id(1)}}}});
}

files::Bytes small_instrument_file() {
    files::ItSound a;
    a.data = files::be_points(testkit::sine16(300, 22050, 500));
    a.loop = 1;
    a.loop_start = 100;
    a.loop_end = 900;
    files::ItSound b;
    b.bits = 8;
    b.stereo = 1;
    b.data = files::Bytes(700, 20);
    return files::it_file({a, b, a});
}

TEST(InstrumentEditStress, StructureChangesWhileVoicesPlay) {
    testkit::fresh_tables();
    clear_inst_names();
    ui_hooks().alert = [](const char*, const char*) {};
    const files::Bytes bank = small_bank();
    const files::Bytes it = small_instrument_file();
    {
        MemoryInput in(bank.data(), bank.size());
        ASSERT_GT(import_bank(in), 0);
    }

    std::atomic<bool> stop{false};
    std::thread audio([&] {
        raw_audio_format fmt;
        std::vector<float> buf(2 * 128);
        while (!stop.load()) {
            BufferProc(nullptr, buf.data(), buf.size() * sizeof(float), fmt);
            std::this_thread::sleep_for(200us);
        }
        reclaim::release_thread_slot();
    });
    std::thread midi([&] {
        std::mt19937 rng(7);
        while (!stop.load()) {
            const std::uint32_t key = 30 + rng() % 60;
            const bool inst = rng() % 2;
            addnote(rng() % 16, key, rng() % 40, 100, inst, 0, 0);
            if (rng() % 3 == 0) delnote(rng() % 16, 30 + rng() % 60, 0, 64, -1);
            std::this_thread::sleep_for(100us);
        }
        reclaim::release_thread_slot();
    });

    std::mt19937 rng(11);
    const auto until = std::chrono::steady_clock::now() + 1500ms;
    int rounds = 0;
    while (std::chrono::steady_clock::now() < until) {
        no_s = static_cast<std::int16_t>(nb_sound ? rng() % nb_sound : 0);
        switch (rng() % 6) {
            case 0: {
                MemoryInput in(bank.data(), bank.size());
                import_bank(in);
                break;
            }
            case 1: {
                MemoryInput in(it.data(), it.size());
                read_instrument_file(in, "/stress.it");
                break;
            }
            case 2:
                add_multi();
                break;
            case 3:
                add_inst("new");
                break;
            default: {
                const bool whole = rng() % 3 == 0;
                if (whole ? nb_inst > 2 : inst_count(quel_baseson(no_s)) > 1)
                    del_sound(no_s, whole);
                break;
            }
        }
        reclaim::reclaim();
        ++rounds;
        std::this_thread::sleep_for(300us);
    }
    stop = true;
    audio.join();
    midi.join();

    EXPECT_GT(rounds, 50);
    ASSERT_GE(nb_inst, 1);
    for (int k = 0; k < nb_inst; ++k) {
        ASSERT_GE(inst_count(k), 1);
        for (int s = inst_first(k); s < inst_first(k) + inst_count(k); ++s) {
            ASSERT_EQ(t_invert[s], k);
            ASSERT_NE(t_sound[s].load(), nullptr);
        }
    }
    ui_hooks().alert = nullptr;
    testkit::fresh_tables();
}

}  // namespace
