// Several threads hammer the shared tables the way a live session does: the
// render callback, dense MIDI streams, and a window editing sounds and the
// instrument structure. Run under ThreadSanitizer and AddressSanitizer in CI,
// any race or read outside a sound's data shows up.
#include <set>

#include "core/keymap.h"
#include "io/bank_import.h"
#include "io/instrument_file.h"
#include "support/testkit.h"

using testkit::EngineTest;

namespace {

constexpr int kSlots = 8;

p_s* random_sound(std::mt19937& rng) {
    const bool sixteen = rng() % 2;
    const bool stereo = rng() % 3 == 0;
    const std::uint32_t bytes = (16 + rng() % 6000) << frame_shift(sixteen ? 16 : 8, stereo);
    p_s* s = new_sound_with_data(bytes);
    for (std::uint32_t i = 0; i < bytes; ++i) s->data[i] = static_cast<std::int8_t>(rng());
    s->rate = 8000 + rng() % 88000;
    s->bits = sixteen ? 16 : 8;
    s->stereo = stereo;
    s->base = static_cast<std::int16_t>(rng() % 128);
    set_key_range(*s, static_cast<int>(rng() % 64), static_cast<int>(64 + rng() % 64));
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

// The render callback and two MIDI threads playing random messages, until
// `edits` rounds of `edit` have run on this thread and the callback has
// rendered a few buffers alongside.
template <typename Edit>
void play_while(int edits, Edit edit) {
    std::atomic<long> buffers{0};
    std::atomic<bool> bounded{true};
    testkit::Looper audio([&] {
        for (float x : testkit::render(512, 48000.0f))
            bounded = bounded && std::isfinite(x) && std::fabs(x) <= 1.0f;
        buffers.fetch_add(1);
    });
    std::mt19937 rngs[2] = {std::mt19937(11), std::mt19937(12)};
    MyBMidiPort ports[2];
    const auto midi = [&](int t) {
        static const std::uint8_t ccs[] = {1, 6, 7, 10, 38, 96, 97, 100, 101, 123, 64};
        std::mt19937& rng = rngs[t];
        const auto ch = static_cast<std::uint8_t>(rng() % 16);
        const auto d1 = static_cast<std::uint8_t>(rng() % 128);
        const auto d2 = static_cast<std::uint8_t>(rng() % 128);
        const unsigned what = rng() % 9;
        if (what < 3)
            ports[t].NoteOn(ch, d1, d2);
        else if (what < 5)
            ports[t].NoteOff(ch, d1, d2);
        else if (what == 5)
            ports[t].PitchBend(ch, d1, d2);
        else if (what == 6)
            ports[t].ControlChange(ch, ccs[rng() % std::size(ccs)], d2);
        else if (what == 7)
            ports[t].ProgramChange(ch, d1 % 3);
        else {
            addnote(ch, d1, rng() % 40, 127, rng() % 2, rng() % 3 ? 0 : rng() % 4000, rng() % 100);
            delnote(ch, d1, 0, 64, -1);
        }
    };
    testkit::Looper midi1([&] { midi(0); }), midi2([&] { midi(1); });
    std::mt19937 rng(99);
    for (int i = 0; i < edits || buffers.load() < 20; ++i) {
        edit(rng);
        if (i % 8 == 0) reclaim::reclaim();
        for (KeyNotice n; take_key_notice(n);) continue;
        take_preview_ended();
    }
    audio.stop();
    midi1.stop();
    midi2.stop();
    reclaim::reclaim_all();
    EXPECT_EQ(reclaim::pending(), 0u);
    EXPECT_TRUE(bounded.load());
}

}  // namespace

TEST_F(EngineTest, RenderMidiAndSoundEditsRunTogetherSafely) {
    std::mt19937 setup_rng(7);
    for (int i = 0; i < kSlots; ++i) replace_sound(i, random_sound(setup_rng));
    nb_sound = kSlots, nb_inst = 2, t_inst[1] = 4;  // two instruments of four sounds
    for (int i = 0; i < kSlots; ++i) t_invert[i] = i < 4 ? 0 : 1;
    prince = prin = true;
    play_while(20000, [](std::mt19937& rng) {
        const int slot = static_cast<int>(rng() % kSlots);
        fmodei = rng() % 2;
        no_s = static_cast<std::int16_t>(rng() % kSlots);
        const unsigned what = rng() % 4;
        if (what == 0) {
            clear_sound(slot);
        } else if (what > 1) {
            replace_sound(slot, random_sound(rng));
        } else if (p_s* s = t_sound[slot]) {  // zone and curve edits on a live record
            s->key_lo = static_cast<std::int16_t>(rng() % 128);
            s->base = static_cast<std::int16_t>(rng() % 300 - 100);
            s->env[rng() % 5][rng() % 5] = static_cast<std::uint16_t>(rng());
            s->flags = static_cast<std::uint16_t>(rng() % 32);
        }
    });
}

TEST_F(EngineTest, StructureChangesWhileVoicesPlay) {
    std::vector<files::SfSample> smp;
    for (int i = 0; i < 3; ++i) {
        smp.push_back({"s", testkit::sine16(200.0 + 100 * i, 22050, 300 + 200 * i), 50,
                       static_cast<std::uint32_t>(280 + 200 * i)});
    }
    using files::key_range;
    using files::sample_id;
    const files::Bytes bank = files::sf_bank(
        smp, {{"a", {{key_range(0, 60), sample_id(0)}, {key_range(61, 127), sample_id(1)}}},
              {"b", {{sample_id(2)}, {sample_id(0)}, {sample_id(2)}}},
              {"c", {{sample_id(1)}}}});
    const files::ItSound a{.loop_start = 100,
                           .loop_end = 900,
                           .loop = 1,
                           .data = files::be_points(testkit::sine16(300, 22050, 500))};
    const files::Bytes it =
        files::it_file({a, {.bits = 8, .stereo = 1, .data = files::Bytes(700, 20)}, a});
    MemoryInput first(bank.data(), bank.size());
    ASSERT_GT(import_bank(first), 0);
    play_while(2000, [&](std::mt19937& rng) {
        no_s = static_cast<std::int16_t>(nb_sound ? rng() % nb_sound : 0);
        const unsigned what = rng() % 6;
        if (what == 0) {
            MemoryInput in(bank.data(), bank.size());
            import_bank(in);
        } else if (what == 1) {
            MemoryInput in(it.data(), it.size());
            read_instrument_file(in, "/stress.it");
        } else if (what == 2) {
            add_multi();
        } else if (what == 3) {
            add_inst("new");
        } else if (const bool whole = rng() % 3 == 0;
                   whole ? nb_inst > 2 : inst_count(quel_baseson(no_s)) > 1) {
            del_sound(no_s, whole);
        }
    });
    ASSERT_GE(nb_inst, 1);
    testkit::layout();  // checks the structure
}

TEST_F(EngineTest, TwoThreadsStartingNotesNeverShareAVoice) {
    for (int round = 0; round < 200; ++round) {
        reset_voice_table();
        std::atomic<int> go{0};
        auto starter = [&](std::uint32_t channel) {
            go.fetch_add(1);
            while (go.load() < 2) continue;
            for (std::uint32_t k = 0; k < 64; ++k) addnote(channel, k, 0, 100, false, 0, 0);
            reclaim::release_thread_slot();
        };
        std::thread a(starter, 1u), b(starter, 2u);
        a.join();
        b.join();
        std::set<std::pair<std::uint32_t, std::uint32_t>> notes;
        for (const NOTE_LIST& v : nlist) {
            ASSERT_EQ(v.state(), kVoicePlaying);
            notes.insert({v.channel, v.key});
        }
        ASSERT_EQ(notes.size(), 128u) << "round " << round;  // none was claimed twice
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
        set_key_range(*s, 60 + 2 * k, 61 + 2 * k);
        s->flags = 0;
        replace_sound(k, s);
    }
    nb_sound = kSounds;
    const auto step_of = [](std::uint32_t key) {
        return (44100.0f * inote[key]) / (kOutRate * inote[60]);
    };

    std::atomic<long> checked{0}, faults{0};
    struct Seen {
        std::uint32_t serial = 0;
        double at = -1.0;  // pos + frac after the last buffer
    };
    Seen seen[kVoices];
    testkit::Looper audio([&] {
        testkit::render(kBuffer, kOutRate);
        for (int i = 0; i < kVoices; ++i) {
            if (!enter_voice(i)) continue;
            NOTE_LIST& v = nlist[i];
            const std::uint32_t serial = v.serial();
            const double at = double(v.pos) + double(v.frac);
            const double buffer = double(step_of(v.key)) * kBuffer;
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
    });
    std::mt19937 midi_rng(5), end_rng(6);
    MyBMidiPort port;
    testkit::Looper midi([&] {
        const auto ch = static_cast<std::uint8_t>(midi_rng() % 16);
        const auto key = static_cast<std::uint8_t>(60 + midi_rng() % (2 * kSounds));
        if (midi_rng() % 3)
            port.NoteOn(ch, key, static_cast<std::uint8_t>(1 + midi_rng() % 127));
        else
            port.NoteOff(ch, key, 64);
    });
    testkit::Looper ender([&] {
        if (end_rng() % 50 == 0) {
            // "All Note-Off", as the main window does it.
            for (int i = 0; i < kVoices; ++i) {
                const std::uint32_t serial = nlist[i].serial();
                if (nlist[i].playing()) end_voice_claim(i, serial);
            }
        } else {
            const int i = static_cast<int>(end_rng() % kVoices);
            delnote(nlist[i].channel, nlist[i].key, 0, 0, i);
        }
        if (end_rng() % 4 == 0) std::this_thread::yield();
    });
    std::this_thread::sleep_for(std::chrono::seconds(3));
    audio.stop();
    midi.stop();
    ender.stop();
    EXPECT_GT(checked.load(), 1000);
    EXPECT_EQ(faults.load(), 0);
}
