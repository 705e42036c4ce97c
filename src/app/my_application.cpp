#include "app/my_application.h"

#include <QFileInfo>
#include <QIcon>
#include <QTimer>
#include <cstdio>

#include "core/reclaim.h"
#include "core/sound.h"
#include "midi/reset_tables.h"
#include "platform/engine_services.h"
#include "platform/paths.h"
#include "platform/pictures.h"
#include "platform/sys_info.h"
#include "ui/alert.h"
#include "ui/graphics.h"
#include "ui/main/main_window.h"
#include "ui/windows/about_window.h"
#include "ui/windows/audio_window.h"

MyApplication::MyApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName("Plexora");
    setDesktopFileName("plexora");
    setWindowIcon(QIcon(QString::fromStdString(paths::data_file("plexora.svg"))));
    sysinfo::aff_info();
    reset_tables();

    ABWindow* splash = nullptr;
    load_pictures();
    if (!picture(kPlexora).isNull()) {
        splash = open_splash();
        processEvents();
    }

    // The player opens beside the window, which is usable meanwhile.
    services_ = std::make_unique<EngineServices>();
    services_->set_audio_choice(restore_audio_choice());
    services_->start_audio();
    window_ = std::make_unique<MyWindow>(*services_);
    services_->start_streaming();
    window_->show();
    // Deleted, not only closed: a closed splash kept its credits timer
    // waking this thread twenty times a second for the whole run.
    delete splash;
    // The MIDI endpoint comes right after the window has been drawn: opening
    // it costs a connection to the MIDI service that the user need not wait for.
    QTimer::singleShot(0, this, [this] { services_->open_midi(); });
    // Files named on the command line open once the window is up.
    QStringList files;
    for (const QString& arg : arguments().mid(1)) {
        if (QFileInfo(arg).isFile())
            files << QFileInfo(arg).absoluteFilePath();
        else
            std::fprintf(stderr, "plexora: %s: no such file\n", arg.toLocal8Bit().constData());
    }
    // After an abnormal end the set-up autosaved last is offered first.
    QTimer::singleShot(0, window_.get(), [w = window_.get(), files] {
        w->offer_recovery();
        if (!files.isEmpty()) w->open_files(files);
    });
}

MyApplication::~MyApplication() {
    // The window stops the streaming reader and the player when it closes;
    // once they are stopped every retired record can go, then the sounds.
    if (services_) services_->stop();
    window_.reset();
    services_.reset();
    reclaim::reclaim_all();
    clear_all_sounds();
    reclaim::reclaim_all();
    clear_pictures();
}

void MyApplication::load_pictures() {
    const pictures::Loaded loaded = pictures::load(paths::data_file("graf.bin"));
    if (loaded.status == pictures::LoadStatus::kMissing) {
        show_alert("Graf.bin not present !!!", {"Ok"}, 0);
        return;
    }
    // One line saying why, whether nothing or only part of it could be used.
    if (!loaded.pictures.message.empty())
        std::printf("graf.bin: %s\n", loaded.pictures.message.c_str());
    if (loaded.status != pictures::LoadStatus::kOk) return;
    const auto& images = loaded.pictures.images;
    for (std::size_t i = 0; i < images.size() && i < std::size_t(kPicCount); ++i)
        set_picture(int(i), images[i].width, images[i].height, images[i].rgb.data());
}
