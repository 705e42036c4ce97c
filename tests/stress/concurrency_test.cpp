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
#include "engine/tone_tables.h"
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
        reset_voice_table();
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
            ASSERT_EQ(v.state(), kVoicePlaying);
            notes.insert({v.channel, v.key});
        }
        // 128 voices hold 128 different notes: none was claimed twice.
        ASSERT_EQ(notes.size(), 128u) << "round " << round;
    }
}

// One thread renders, one floods notes through the MIDI hooks, one ends voices
// by number and with "All Note-Off" at random moments. Between buffers the
// rendering thread enters every voice and checks that it continues its own
// note: a claim first seen has played at most one buffer from its start, and
// every later buffer moves it on by exactly one buffer at its own key's step.
TEST_F(EngineTest, EveryVoiceKeepsItsOwnNotesPositionWhileOthersEndIt) {
    constexpr int kSounds = 4;
    constexpr std::uint32_t kFrames = 200000;
    constexpr std::size_t kBuffer = 256;
    constexpr float kOutRate = 44100.0f;
    // Instrument 0: sound k answers keys 60 + 2k and 61 + 2k, with a constant level.
    for (int k = 0; k < kSounds; ++k) {
        p_s* s = testkit::make_sound16(
            std::vector<std::int16_t>(kFrames, std::int16_t(1000 * (k + 1))), 44100, 60);
        s->key_lo = std::int16_t(60 + 2 * k);
        s->key_hi = std::int16_t(61 + 2 * k);
        s->flags = 0;
        replace_sound(k, s);
    }
    nb_sound = kSounds;
    nb_inst = 1;
    t_inst[0] = 0;
    const auto step_of = [](std::uint32_t key) {
        return (44100.0f * inote[key]) / (kOutRate * inote[60]);
    };

    std::atomic<bool> stop{false};
    std::atomic<long> checked{0};
    std::atomic<long> faults{0};
    std::thread audio([&] {
        struct Seen {
            std::uint32_t serial = 0;
            double at = -1.0;  // pos + frac after the last buffer
        };
        Seen seen[kVoices];
        std::vector<float> buf(kBuffer * 2);
        raw_audio_format fmt;
        fmt.frame_rate = kOutRate;
        while (!stop.load()) {
            BufferProc(nullptr, buf.data(), buf.size() * sizeof(float), fmt);
            for (int i = 0; i < kVoices; ++i) {
                if (!enter_voice(i)) continue;
                NOTE_LIST& v = nlist[i];
                const std::uint32_t serial = v.serial();
                const std::uint32_t key = v.key;
                const double at = double(v.pos) + double(v.frac);
                const double buffer = double(step_of(key)) * kBuffer;
                Seen& s = seen[i];
                const bool first = s.serial != serial || s.at < 0.0;
                // Rendered not at all or once since the note began at frame 0.
                // A note stops short only at the end of its sound.
                const bool at_end = !first && s.at + buffer >= kFrames - 1.0;
                const bool ok = first    ? (at == 0.0 || std::fabs(at - buffer) < 0.01)
                                : at_end ? (at >= s.at && at <= kFrames)
                                         : std::fabs(at - s.at - buffer) < 0.01;
                if (!ok) faults.fetch_add(1);
                s = {serial, at};
                checked.fetch_add(1);
                leave_voice(i);
            }
        }
        reclaim::release_thread_slot();
    });
    std::thread midi([&] {
        std::mt19937 rng(5);
        MyBMidiPort port;
        while (!stop.load()) {
            const auto ch = static_cast<std::uint8_t>(rng() % 16);
            const auto key = static_cast<std::uint8_t>(60 + rng() % (2 * kSounds));
            if (rng() % 3) {
                port.NoteOn(ch, key, static_cast<std::uint8_t>(1 + rng() % 127));
            } else {
                port.NoteOff(ch, key, 64);
            }
        }
        reclaim::release_thread_slot();
    });
    std::thread ender([&] {
        std::mt19937 rng(6);
        while (!stop.load()) {
            if (rng() % 50 == 0) {
                // "All Note-Off", as the main window does it.
                for (int i = 0; i < kVoices; ++i) {
                    const std::uint32_t serial = nlist[i].serial();
                    if (nlist[i].playing()) end_voice_claim(i, serial);
                }
            } else {
                const int i = static_cast<int>(rng() % kVoices);
                delnote(nlist[i].channel, nlist[i].key, 0, 0, i);
            }
            if (rng() % 4 == 0) std::this_thread::yield();
        }
        reclaim::release_thread_slot();
    });
    std::this_thread::sleep_for(std::chrono::seconds(3));
    stop = true;
    audio.join();
    midi.join();
    ender.join();
    EXPECT_GT(checked.load(), 1000);
    EXPECT_EQ(faults.load(), 0);
}
