// Plexora: a MIDI sampler. The files named on its command line (samples,
// instrument files, banks) are opened after start-up, one after the other.
#include "app/my_application.h"
#include "core/sound.h"
#include "engine/channels.h"

int main(int argc, char** argv) {
    MyApplication app(argc, argv);
    for (auto& m : mute) m = false;
    limitd2d = 1000000;
    return app.exec();
}
