// Plays one note through a real JACK server: a second client sends the MIDI
// note to the program's endpoint, a third records the program's outputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "core/sound.h"
#include "e2e/jack_kit.h"
#include "engine/render.h"
#include "engine/tone_tables.h"
#include "midi/midi_port.h"
#include "platform/midi_endpoint.h"
#include "platform/sound_player.h"
#include "support/testkit.h"

namespace {

constexpr unsigned kRate = 48000;
constexpr unsigned kPeriod = 256;
constexpr std::uint32_t kSampleRate = 44000;  // 440 Hz is exactly 100 frames

void sleep_s(double s) {
    std::this_thread::sleep_for(std::chrono::duration<double>(s));
}

// Measurements over the recorded samples only (cycles lost to xruns are
// gaps in the recording, not silence).
struct Take {
    const e2e::Recorder& rec;
    const std::vector<float>& v;

    float peak(std::size_t from, std::size_t to) const {
        float p = 0;
        for (std::size_t i = from; i < to; ++i) {
            if (rec.recorded(i)) p = std::max(p, std::fabs(v[i]));
        }
        return p;
    }
    double rms(std::size_t from, std::size_t to) const {
        double sum = 0;
        std::size_t n = 0;
        for (std::size_t i = from; i < to; ++i) {
            if (rec.recorded(i)) {
                sum += double(v[i]) * v[i];
                ++n;
            }
        }
        return n ? std::sqrt(sum / n) : 0.0;
    }
    // First recorded non-zero sample at or after `from` (or `to`).
    std::size_t first_sound(std::size_t from, std::size_t to) const {
        for (std::size_t i = from; i < to; ++i) {
            if (rec.recorded(i) && v[i] != 0.0f) return i;
        }
        return to;
    }
    // Last recorded non-zero sample before `to` (or `from`).
    std::size_t last_sound(std::size_t from, std::size_t to) const {
        std::size_t last = from;
        for (std::size_t i = from; i < to; ++i) {
            if (rec.recorded(i) && v[i] != 0.0f) last = i;
        }
        return last;
    }
    // The longest stretch of unbroken recording inside [from, to).
    std::vector<float> longest_run(std::size_t from, std::size_t to) const {
        std::size_t best = from, best_len = 0, start = from;
        for (std::size_t i = from; i <= to; ++i) {
            if (i == to || !rec.recorded(i)) {
                if (i - start > best_len) {
                    best = start;
                    best_len = i - start;
                }
                start = i + 1;
            }
        }
        return std::vector<float>(v.begin() + best, v.begin() + best + best_len);
    }
};

class JackPlay : public testkit::EngineTest {};

TEST_F(JackPlay, MidiNoteThroughJackIsHeardOnBothOutputsAndFadesAfterRelease) {
    e2e::JackServer server(kRate, kPeriod);
    ASSERT_TRUE(server.running()) << "jackd did not start; see " << server.log();

    // A looping 440 Hz sine on base key 69 as the only sound of instrument 0,
    // the instrument the notes play while "Play inst selected" is on.
    p_s* sine =
        testkit::make_sound16(testkit::sine16(440.0, kSampleRate, kSampleRate), kSampleRate, 69);
    testkit::set_loop_frames(sine, 0, kSampleRate);
    const std::uint32_t rel_time = sine->rel_time;
    ASSERT_GT(rel_time, 0u);
    replace_sound(0, sine);
    ASSERT_TRUE(fmodei);
    ASSERT_EQ(t_invert[no_s], 0);

    e2e::MidiSender keys("plexora-e2e-keys");
    ASSERT_TRUE(keys.ok());

    MyBMidiPort port;
    MidiEndpoint midi(port, {MidiBackend::kJack});
    ASSERT_TRUE(midi.available()) << midi.report();
    ASSERT_EQ(midi.backend(), MidiBackend::kJack);
    const std::vector<MidiSourceInfo> sources = midi.sources();
    ASSERT_EQ(sources.size(), 1u);
    EXPECT_EQ(sources[0].name, keys.port_name());
    EXPECT_EQ(sources[0].id, midi_source_id(keys.port_name()));
    ASSERT_TRUE(midi.connect_first());
    EXPECT_EQ(midi.connected_id(), sources[0].id);

    SoundPlayerOptions jack_only;
    jack_only.order = {AudioBackend::kJack};
    SoundPlayer player("wave_player", &BufferProc, nullptr, jack_only);
    ASSERT_EQ(player.Backend(), AudioBackend::kJack) << player.Report();
    EXPECT_FLOAT_EQ(player.FrameRate(), float(kRate));

    e2e::Recorder rec("plexora-e2e-rec", kRate * 5);
    ASSERT_TRUE(rec.ok());
    ASSERT_TRUE(player.Start());
    // The program's client and endpoint carry their names, and its outputs
    // went to the server's playback ports by themselves.
    EXPECT_NE(jack_port_by_name(rec.client(), "Plexora MIDI:Plexora node (in)"), nullptr);
    int playback_links = 0;
    for (int tries = 0; tries < 50 && playback_links != 2; ++tries) {
        if (tries) sleep_s(0.02);  // the graph is updated after the connect calls
        playback_links = 0;
        const char** outs =
            jack_get_ports(rec.client(), "^Plexora:", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
        for (int i = 0; outs && outs[i]; ++i) {
            jack_port_t* p = jack_port_by_name(rec.client(), outs[i]);
            playback_links += jack_port_connected_to(p, "system:playback_1") +
                              jack_port_connected_to(p, "system:playback_2");
        }
        jack_free(outs);
    }
    EXPECT_EQ(playback_links, 2);
    ASSERT_EQ(rec.connect_from("^Plexora:"), 2);

    sleep_s(0.3);  // let the graph settle after the connections
    const std::uint64_t xruns_before = player.Xruns();
    const unsigned server_xruns_before = rec.server_xruns();
    rec.start();
    sleep_s(0.5);
    const std::uint32_t on_at = keys.send(0x90, 81, 127);
    sleep_s(1.0);
    const std::uint32_t off_at = keys.send(0x80, 81, 64);
    sleep_s(1.2);
    rec.stop();
    const std::uint64_t xruns = player.Xruns() - xruns_before;
    const unsigned server_xruns = rec.server_xruns() - server_xruns_before;
    player.Stop();
    midi.disconnect();
    EXPECT_GE(midi.messages(), 2u);

    const std::size_t n = rec.frames();
    ASSERT_GT(n, std::size_t(kRate * 2.5));
    const std::size_t on = on_at - rec.first_frame();
    const std::size_t off = off_at - rec.first_frame();
    ASSERT_GT(on, std::size_t(kRate * 0.3));
    ASSERT_LT(off + kRate, n);

    for (const std::vector<float>* ch : {&rec.left(), &rec.right()}) {
        const Take take{rec, *ch};
        const char* side = ch == &rec.left() ? "left" : "right";
        // Silence up to the note.
        EXPECT_EQ(take.peak(0, on), 0.0f) << side;
        // The note starts within a few cycles of being sent.
        const std::size_t onset = take.first_sound(on, off);
        EXPECT_LE(onset - on, 4 * kPeriod) << side;
        // A steady 880 Hz tone while the key is held.
        const std::vector<float> held = take.longest_run(on + kRate / 10, off);
        ASSERT_GT(held.size(), std::size_t(kRate / 4)) << side << ": too many cycles lost";
        const double hz = testkit::zero_crossing_hz(held, kRate);
        EXPECT_NEAR(hz, 880.0, 8.8) << side;
        EXPECT_GT(testkit::rms(held), 0.05) << side;
        // After the note-off the release curve fades the voice out within the
        // release length (source frames played at the note's step), then the
        // voice ends and the output is silent.
        const double step = double(kSampleRate) * inote[81] / (double(kRate) * inote[69]);
        const std::size_t release = static_cast<std::size_t>(rel_time / step);
        const std::size_t end = take.last_sound(off, n);
        EXPECT_GT(end, off + release / 2) << side << ": the note was cut, not faded";
        EXPECT_LE(end, off + release + 4 * kPeriod) << side;
        EXPECT_EQ(take.peak(off + release + 4 * kPeriod, n), 0.0f) << side;
        const double early = take.rms(off + 2 * kPeriod, off + 2 * kPeriod + release / 5);
        const double late = take.rms(off + release * 3 / 5, off + release * 4 / 5);
        EXPECT_GT(early, 2 * late) << side;
        EXPECT_GT(late, 0.0) << side;

        std::printf(
            "e2e: %s: onset %zu frames after the note-on, %.2f Hz, rms %.3f; "
            "release heard for %zu frames (%zu allowed)\n",
            side, onset - on, hz, testkit::rms(held), end - off, release);
    }
    std::printf(
        "e2e: JACK %u Hz, buffer %u frames, reported latency %lld us, "
        "xruns while recording: player %llu, server %u\n",
        unsigned(player.FrameRate()), player.BufferFrames(),
        static_cast<long long>(player.Latency()), static_cast<unsigned long long>(xruns),
        server_xruns);
}

}  // namespace
