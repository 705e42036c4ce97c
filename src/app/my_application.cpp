#include "app/my_application.h"

#include <QIcon>
#include <cstdio>

#include "core/reclaim.h"
#include "core/sound.h"
#include "midi/midi_port.h"
#include "midi/reset_tables.h"
#include "platform/midi_endpoint.h"
#include "platform/paths.h"
#include "platform/pictures.h"
#include "platform/sys_info.h"
#include "ui/alert.h"
#include "ui/graphics.h"
#include "ui/main/main_window.h"
#include "ui/windows/about_window.h"

namespace {
// The endpoint's hooks; they live as long as the program.
MyBMidiPort myport;
}  // namespace

MyApplication::MyApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName("Plexora");
    setDesktopFileName("plexora");
    setWindowIcon(QIcon(QString::fromStdString(paths::data_file("plexora.svg"))));
    sysinfo::aff_info();
    reset_tables();

    ABWindow* splash = nullptr;
    load_pictures();
    if (!picture(kPlexora).isNull()) {
        splash = new ABWindow(true);
        splash->show();
        processEvents();
    }

    endpoint_ = std::make_unique<MidiEndpoint>(myport);
    if (endpoint_->available()) {
        endpoint_->connect_first();
        midi_roster = endpoint_.get();
    }

    window_ = std::make_unique<MyWindow>();
    window_->show();
    if (splash) splash->close();
}

MyApplication::~MyApplication() {
    // The window stops the streaming reader and the player when it closes;
    // once they are stopped every retired record can go, then the sounds.
    if (window_) window_->stop_audio();
    window_.reset();
    midi_roster = nullptr;
    endpoint_.reset();
    reclaim::reclaim_all();
    for (int i = 0; i < kMaxSounds; ++i)
        if (t_sound[i].load()) clear_sound(i);
    reclaim::reclaim_all();
    clear_pictures();
}

void MyApplication::load_pictures() {
    const pictures::Loaded loaded = pictures::load(paths::data_file("graf.bin"));
    if (loaded.status == pictures::LoadStatus::kMissing) {
        show_alert("Graf.bin not present !!!", {"Ok"}, 0);
        return;
    }
    if (loaded.status != pictures::LoadStatus::kOk) return;
    const auto& images = loaded.pictures.images;
    for (std::size_t i = 0; i < images.size() && i < std::size_t(kPicCount); ++i)
        set_picture(int(i), images[i].width, images[i].height, images[i].rgb.data());
    if (!loaded.pictures.message.empty())
        std::printf("graf.bin: %s\n", loaded.pictures.message.c_str());
}
