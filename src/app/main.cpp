// Plexora: a MIDI sampler. The files named on its command line (samples,
// instrument files, banks) are opened after start-up, one after the other.
#include <QFileInfo>
#include <cstdio>
#include <cstring>

#include "app/my_application.h"
#include "core/sound.h"
#include "engine/channels.h"
#include "platform/environment.h"
#include "platform/paths.h"
#include "platform/pictures.h"

namespace {

// `plexora --check-install`: starts the windowing system as the program does,
// then says where it found its pictures and its manual and whether the
// pictures can be read; 1 when either is missing (for packagers).
int check_install(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::string graf = paths::data_file("graf.bin");
    const std::string doc = paths::data_file("doc/index.htm");
    const bool pictures = pictures::load(graf).status == pictures::LoadStatus::kOk;
    const bool manual = QFileInfo(QString::fromStdString(doc)).isFile();
    std::printf("pictures: %s %s\nmanual: %s %s\n", graf.c_str(),
                pictures ? "ok" : "missing or unreadable", doc.c_str(), manual ? "ok" : "missing");
    return pictures && manual ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--check-install") == 0) return check_install(argc, argv);
    // Before the application object: the windowing system starts threads.
    environment::prepare();
    MyApplication app(argc, argv);
    for (auto& m : mute) m = false;
    limitd2d = 1000000;
    return app.exec();
}
