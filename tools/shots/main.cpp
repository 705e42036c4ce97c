// Shows one window of the program, drawn with the pictures of a graf.bin,
// and leaves it on screen until killed, so that the manual's screenshots
// can be taken of the real windows.
#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "core/hooks.h"
#include "core/sound.h"
#include "engine/channels.h"
#include "engine/voices.h"
#include "midi/reset_tables.h"
#include "param_shots.h"
#include "platform/engine_services.h"
#include "platform/pictures.h"
#include "render/song_player.h"
#include "ui/graphics.h"
#include "ui/main/main_window.h"
#include "ui/windows/about_window.h"
#include "ui/windows/ch_window.h"
#include "ui/windows/help_bubble.h"
#include "ui/windows/osc_window.h"

namespace {

// A short loop of chords, a bass line, a modulation wheel sweep and a few
// volume and pan moves, played over and over in real time.
SmfSong demo_song() {
    SmfSong song;
    const auto at = [&song](double t, int status, int a, int b) {
        song.events.push_back({t, std::uint8_t(status), std::uint8_t(a), std::uint8_t(b)});
    };
    const int chords[4][3] = {{57, 60, 64}, {53, 57, 60}, {55, 59, 62}, {52, 55, 59}};
    for (int bar = 0; bar < 4; ++bar) {
        const double t = bar * 1.0;
        for (int n : chords[bar]) {
            at(t, 0x90, n, 90);
            at(t + 0.9, 0x80, n, 0);
        }
        for (int k = 0; k < 4; ++k) {
            at(t + k * 0.25, 0x91, chords[bar][0] - 24, 110);
            at(t + k * 0.25 + 0.2, 0x81, chords[bar][0] - 24, 0);
        }
        at(t, 0xB2, 7, 60 + 20 * bar);
        at(t + 0.5, 0xB0, 10, 30 + 20 * bar);
    }
    for (int k = 0; k <= 40; ++k) at(k * 0.1, 0xB0, 1, k < 20 ? k * 6 : (40 - k) * 6);
    std::stable_sort(song.events.begin(), song.events.end(),
                     [](const SmfEvent& a, const SmfEvent& b) { return a.seconds < b.seconds; });
    song.end_seconds = 4.0;
    return song;
}

// Plays the song for ever at the pace of real time.
void play_forever() {
    const SmfSong song = demo_song();
    SongRenderOptions o;
    o.max_tail_seconds = 0.0;
    for (;;) {
        SongRenderStats stats;
        render_song(
            song, o,
            [&o](const float*, std::size_t frames) {
                std::this_thread::sleep_for(
                    std::chrono::microseconds(std::int64_t(1e6 * double(frames) / double(o.rate))));
                return true;
            },
            stats);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: shots graf.bin "
                     "main|splash|about|bubble|sample|instrument|noteoff|channels\n");
        return 2;
    }
    QApplication app(argc, argv);
    reset_tables();
    const pictures::Loaded loaded = pictures::load(argv[1]);
    for (std::size_t i = 0; i < loaded.pictures.images.size(); ++i) {
        const auto& img = loaded.pictures.images[i];
        set_picture(int(i), img.width, img.height, img.rgb.data());
    }
    const char* what = argv[2];
    if (!std::strcmp(what, "splash")) {
        (new ABWindow(true))->show();
    } else if (!std::strcmp(what, "about")) {
        auto* w = new ABWindow(false);
        w->show();
        // Skip to the credits in full view.
        for (int i = 0; i < 150 + 120; ++i) w->credits()->Pulse();
    } else if (show_param_window(what)) {
        // one of the parameter windows, over sounds of its own
    } else {
        // The window without sound, streaming or MIDI: it only has to be seen.
        auto* w = new MyWindow(*new EngineServices({false, false, false}));
        w->move(10, 40);
        w->show();
        // A sound in the overview and two held notes on the keyboard.
        std::vector<std::int16_t> v(44100);
        for (std::size_t i = 0; i < v.size(); ++i)
            v[i] = std::int16_t(26000 * std::exp(-double(i) / 9000) * std::sin(i * 0.07) *
                                std::sin(i * 0.0009 + 0.4));
        p_s* s = new_sound_with_data(std::uint32_t(v.size() * 2));
        std::memcpy(s->data, v.data(), v.size() * 2);
        s->rate = 44100;
        s->bits = 16;
        s->stereo = 0;
        s->shift = 1;
        std::strcpy(s->name, "Warm pad C3");
        finish_loaded_sound(s);
        replace_sound(0, s);
        notify_sound_changed(0);
        if (std::strcmp(what, "channels")) {
            addnote(0, 48, 0, 100, false, 0, 0);
            addnote(2, 55, 0, 100, false, 0, 0);
            addnote(5, 64, 0, 100, false, 0, 0);
        }
        if (!std::strcmp(what, "channels")) {
            // A tone rich in harmonics for the song, and the two windows beside it.
            const std::uint32_t frames = 44100;
            std::vector<std::int16_t> tone(frames);
            for (std::uint32_t i = 0; i < frames; ++i) {
                double x = 0;
                for (int h = 1; h <= 6; ++h) x += std::sin(2 * M_PI * 220.0 * h * i / 44100) / h;
                tone[i] = std::int16_t(14000 * x);
            }
            p_s* t = new_sound_with_data(frames * 2);
            std::memcpy(t->data, tone.data(), frames * 2);
            t->rate = 44100;
            t->bits = 16;
            t->shift = 1;
            t->base = 57;
            t->loop = 1;
            t->loop_start = 0;
            t->loop_end = frames * 2;
            std::strcpy(t->name, "Bright saw A2");
            finish_loaded_sound(t);
            replace_sound(0, t);
            notify_sound_changed(0);
            ch_lpf[0] = 40;
            mute[3] = true;
            ChWindow* ch = appel_ch();
            ch->move(20, 560);
            OscWindow* osc = appel_osc();
            osc->move(740, 40);
            std::thread(play_forever).detach();
        }
        if (!std::strcmp(what, "bubble")) {
            QTimer::singleShot(
                300, [] { new HELPWindow(QRect(120, 460, 151, 16), "This is only some led !!"); });
        }
    }
    return app.exec();
}
