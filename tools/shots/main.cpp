// Shows one window of the program, drawn with the pictures of a graf.bin,
// and leaves it on screen until killed, so that the manual's screenshots
// can be taken of the real windows.
#include <QApplication>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/hooks.h"
#include "core/sound.h"
#include "engine/voices.h"
#include "midi/reset_tables.h"
#include "param_shots.h"
#include "platform/pictures.h"
#include "ui/graphics.h"
#include "ui/main/main_window.h"
#include "ui/windows/about_window.h"
#include "ui/windows/help_bubble.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: shots graf.bin main|splash|about|bubble|sample|instrument|noteoff\n");
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
        auto* w = new MyWindow(MainWindowOptions{false, false});
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
        addnote(0, 48, 0, 100, false, 0, 0);
        addnote(2, 55, 0, 100, false, 0, 0);
        addnote(5, 64, 0, 100, false, 0, 0);
        if (!std::strcmp(what, "bubble")) {
            QTimer::singleShot(
                300, [] { new HELPWindow(QRect(120, 460, 151, 16), "This is only some led !!"); });
        }
    }
    return app.exec();
}
