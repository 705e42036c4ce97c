// A mute lamp clicked in the channel window silences that channel's note in
// what the program sends to JACK, while another channel's note plays on,
// and clicking it again brings the note back.
#include <gtest/gtest.h>

#include <QApplication>
#include <chrono>
#include <cmath>
#include <thread>

#include "core/sound.h"
#include "e2e/jack_kit.h"
#include "engine/channels.h"
#include "engine/render.h"
#include "midi/midi_port.h"
#include "platform/midi_endpoint.h"
#include "platform/sound_player.h"
#include "support/testkit.h"
#include "ui/controls/my_check.h"
#include "ui/windows/ch_window.h"

namespace {

constexpr unsigned kRate = 48000;
constexpr unsigned kPeriod = 256;
constexpr std::uint32_t kSampleRate = 44000;

// Lets the window handle its events for `s` seconds.
void run_for(double s) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(s);
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Amplitude of the `hz` component over [from, to): the mean over 100 ms
// Hann windows wholly recorded, wide enough to forgive a tone a hertz or two
// off and narrow enough to tell 440 Hz from 659 Hz.
double level_at(const e2e::Recorder& rec, double hz, std::size_t from, std::size_t to) {
    constexpr std::size_t kWindow = kRate / 10;
    double sum = 0;
    int windows = 0;
    for (std::size_t at = from; at + kWindow <= to; at += kWindow) {
        double re = 0, im = 0, weight = 0;
        bool whole = true;
        for (std::size_t i = 0; i < kWindow && whole; ++i) {
            whole = rec.recorded(at + i);
            const double hann = 0.5 - 0.5 * std::cos(2 * M_PI * double(i) / kWindow);
            const double w = 2 * M_PI * hz * double(i) / kRate;
            re += hann * rec.left()[at + i] * std::cos(w);
            im += hann * rec.left()[at + i] * std::sin(w);
            weight += hann;
        }
        if (!whole) continue;
        sum += 2 * std::hypot(re, im) / weight;
        ++windows;
    }
    return windows ? sum / windows : 0.0;
}

std::size_t now_frame(const e2e::Recorder& rec) {
    return jack_frame_time(rec.client()) - rec.first_frame();
}

class JackMute : public testkit::EngineTest {};

TEST_F(JackMute, MuteFromTheWindowSilencesOnlyThatChannel) {
    int argc = 1;
    char name[] = "e2e";
    char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    e2e::JackServer server(kRate, kPeriod);
    ASSERT_TRUE(server.running()) << "jackd did not start; see " << server.log();
    p_s* sine =
        testkit::make_sound16(testkit::sine16(440.0, kSampleRate, kSampleRate), kSampleRate, 69);
    testkit::set_loop_frames(sine, 0, kSampleRate);
    replace_sound(0, sine);
    ASSERT_TRUE(fmodei);

    e2e::MidiSender keys("plexora-e2e-keys");
    ASSERT_TRUE(keys.ok());
    MyBMidiPort port;
    MidiEndpoint midi(port, {MidiBackend::kJack});
    ASSERT_TRUE(midi.available()) << midi.report();
    ASSERT_TRUE(midi.connect_first());
    SoundPlayerOptions jack_only;
    jack_only.order = {AudioBackend::kJack};
    SoundPlayer player("wave_player", &BufferProc, nullptr, jack_only);
    ASSERT_EQ(player.Backend(), AudioBackend::kJack) << player.Report();
    e2e::Recorder rec("plexora-e2e-rec", kRate * 6);
    ASSERT_TRUE(rec.ok());
    ASSERT_TRUE(player.Start());
    ASSERT_EQ(rec.connect_from("^Plexora:"), 2);

    auto* win = new ChWindow(QRect(10, 10, 660, 350), "Channels parameter");
    win->show();
    run_for(0.3);
    rec.start();
    keys.send(0x90, 69, 127);  // 440 Hz on channel 1
    keys.send(0x91, 76, 127);  // 659 Hz on channel 2
    run_for(0.8);
    const std::size_t muted_at = now_frame(rec);
    win->mute_box(1)->lamp()->click();
    run_for(0.8);
    const std::size_t unmuted_at = now_frame(rec);
    win->mute_box(1)->lamp()->click();
    run_for(0.8);
    rec.stop();
    player.Stop();
    midi.disconnect();
    delete win;

    const double hz2 = 440.0 * std::pow(2.0, 7.0 / 12.0);
    const std::size_t settle = kRate / 10;  // the messages' way through the event loop and JACK
    const std::size_t span = kRate / 2;
    const std::size_t before = muted_at - span - settle;
    ASSERT_GT(before, kRate / 10);
    const double one_before = level_at(rec, 440.0, before, muted_at - settle);
    const double two_before = level_at(rec, hz2, before, muted_at - settle);
    const double one_muted = level_at(rec, 440.0, muted_at + settle, muted_at + settle + span);
    const double two_muted = level_at(rec, hz2, muted_at + settle, muted_at + settle + span);
    const double two_after = level_at(rec, hz2, unmuted_at + settle, unmuted_at + settle + span);
    EXPECT_GT(two_before, 0.05);
    EXPECT_LT(two_muted, two_before / 100) << "the muted channel is still heard";
    EXPECT_NEAR(one_muted, one_before, one_before / 10) << "the other channel changed";
    EXPECT_NEAR(two_after, two_before, two_before / 10) << "unmuting did not bring it back";
    std::printf("e2e: 440 Hz %.4f -> %.4f; 659 Hz %.4f -> muted %.6f -> %.4f\n", one_before,
                one_muted, two_before, two_muted, two_after);
}

}  // namespace
