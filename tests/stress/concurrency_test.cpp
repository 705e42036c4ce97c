// Several threads hammer the shared tables the way a live session does:
// the render callback, a dense MIDI stream, and a window replacing and
// deleting sounds. Run under ThreadSanitizer and AddressSanitizer in CI.
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "core/notify.h"
#include "core/reclaim.h"
#include "core/sound.h"
#include "engine/render.h"
#include "engine/voice_table.h"
#include "engine/voices.h"
#include "midi/midi_port.h"
#include "support/testkit.h"

using testkit::EngineTest;

namespace {

constexpr int kSlots = 8;

p_s* random_sound(std::mt19937& rng) {
    const bool sixteen = rng() % 2;
    const bool stereo = rng() % 3 == 0;
    const std::uint32_t frames = 16 + rng() % 6000;
    const std::uint32_t bytes = frames << frame_shift(sixteen ? 16 : 8, stereo);
    p_s* s = new_sound_with_data(bytes);
    for (std::uint32_t i = 0; i < bytes; ++i) s->data[i] = static_cast<std::int8_t>(rng());
    s->rate = 8000 + rng() % 88000;
    s->bits = sixteen ? 16 : 8;
    s->stereo = stereo;
    s->base = static_cast<std::int16_t>(rng() % 128);
    s->key_lo = static_cast<std::int16_t>(rng() % 64);
    s->key_hi = static_cast<std::int16_t>(64 + rng() % 64);
    if (rng() % 2) {
        s->loop = 1;
        s->loop_start = rng() % bytes;
        s->loop_end = rng() % (bytes + 4000);  // sometimes past the data on purpose
    }
    s->flags = static_cast<std::uint16_t>(rng() % 32);
    finish_loaded_sound(s);
    s->rel_time = 100 + rng() % 20000;
    return s;
}

}  // namespace

TEST_F(EngineTest, RenderMidiAndSoundEditsRunTogetherSafely) {
    std::mt19937 setup_rng(7);
    for (int i = 0; i < kSlots; ++i) replace_sound(i, random_sound(setup_rng));
    nb_sound = kSlots;
    nb_inst = 2;
    t_inst[1] = 4;
    for (int i = 0; i < kSlots; ++i) t_invert[i] = i < 4 ? 0 : 1;
    prince = true;
    prin = true;

    std::atomic<bool> stop{false};
    std::atomic<long> buffers{0};
    std::atomic<bool> finite{true};

    std::thread audio([&] {
        std::vector<float> buf(512 * 2);
        raw_audio_format fmt;
        fmt.frame_rate = 48000.0f;
        while (!stop.load()) {
            BufferProc(nullptr, buf.data(), buf.size() * sizeof(float), fmt);
            for (float x : buf) {
                if (!std::isfinite(x) || std::fabs(x) > 1.0f) finite = false;
            }
            buffers.fetch_add(1);
        }
        reclaim::release_thread_slot();
    });

    auto midi = [&](unsigned seed) {
        std::mt19937 rng(seed);
        MyBMidiPort port;
        while (!stop.load()) {
            const auto ch = static_cast<std::uint8_t>(rng() % 16);
            const auto d1 = static_cast<std::uint8_t>(rng() % 128);
            const auto d2 = static_cast<std::uint8_t>(rng() % 128);
            switch (rng() % 10) {
                case 0:
                case 1:
                case 2:
                    port.NoteOn(ch, d1, d2);
                    break;
                case 3:
                case 4:
                    port.NoteOff(ch, d1, d2);
                    break;
                case 5:
                    port.PitchBend(ch, d1, d2);
                    break;
                case 6: {
                    static const std::uint8_t ccs[] = {1, 6, 7, 10, 38, 96, 97, 100, 101, 123, 64};
                    port.ControlChange(ch, ccs[rng() % std::size(ccs)], d2);
                    break;
                }
                case 7:
                    port.ProgramChange(ch, d1 % 3);
                    break;
                case 8:
                    fmodei = rng() % 2;
                    no_s = static_cast<std::int16_t>(rng() % kSlots);
                    break;
                default:
                    addnote(ch, d1, rng() % kSlots, 127, false, rng() % 3 ? 0 : rng() % 4000,
                            rng() % 100);
                    delnote(ch, d1, 0, 64, -1);
                    break;
            }
        }
        reclaim::release_thread_slot();
    };
    std::thread midi1(midi, 11u);
    std::thread midi2(midi, 12u);

    std::thread window([&] {
        std::mt19937 rng(99);
        long edits = 0;
        while (!stop.load()) {
            const int slot = static_cast<int>(rng() % kSlots);
            switch (rng() % 4) {
                case 0:
                    clear_sound(slot);
                    break;
                case 1: {
                    // Zone and curve edits on a live record.
                    if (p_s* s = t_sound[slot]) {
                        s->key_lo = static_cast<std::int16_t>(rng() % 128);
                        s->base = static_cast<std::int16_t>(rng() % 300 - 100);
                        s->env[rng() % 5][rng() % 5] = static_cast<std::uint16_t>(rng());
                        s->flags = static_cast<std::uint16_t>(rng() % 32);
                    }
                    break;
                }
                default:
                    replace_sound(slot, random_sound(rng));
                    break;
            }
            if (++edits % 8 == 0) reclaim::reclaim();
            KeyNotice n;
            while (take_key_notice(n)) {
            }
            take_preview_ended();
        }
    });

    std::this_thread::sleep_for(std::chrono::seconds(3));
    stop = true;
    audio.join();
    midi1.join();
    midi2.join();
    window.join();
    reclaim::reclaim_all();
    EXPECT_EQ(reclaim::pending(), 0u);
    EXPECT_GT(buffers.load(), 10);
    EXPECT_TRUE(finite.load());
    prince = false;
    prin = false;
}

TEST_F(EngineTest, TwoThreadsStartingNotesNeverShareAVoice) {
    for (int round = 0; round < 200; ++round) {
        for (NOTE_LIST& v : nlist) v.active.store(0);
        std::atomic<int> go{0};
        auto starter = [&](std::uint32_t channel) {
            go.fetch_add(1);
            while (go.load() < 2) {
            }
            for (std::uint32_t k = 0; k < 64; ++k) addnote(channel, k, 0, 100, false, 0, 0);
            reclaim::release_thread_slot();
        };
        std::thread a(starter, 1u);
        std::thread b(starter, 2u);
        a.join();
        b.join();
        std::set<std::pair<std::uint32_t, std::uint32_t>> notes;
        for (const NOTE_LIST& v : nlist) {
            ASSERT_EQ(v.active.load(), 1);
            notes.insert({v.channel, v.key});
        }
        // 128 voices hold 128 different notes: none was claimed twice.
        ASSERT_EQ(notes.size(), 128u) << "round " << round;
    }
}
