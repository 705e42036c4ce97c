#include "ui/main/open_flow.h"

#include <sndfile.h>

#include <set>

bool is_instrument_name(const QString& leaf) {
    for (int at = int(leaf.size()) - 1; at >= 1; --at) {
        const QString rest = leaf.mid(at);
        if (rest.compare(".it", Qt::CaseInsensitive) == 0 ||
            rest.compare(".sf2", Qt::CaseInsensitive) == 0 ||
            rest.compare(".sf3", Qt::CaseInsensitive) == 0 ||
            rest.compare(".sfz", Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QStringList open_filters() {
    std::set<QString> ext{"avr", "wav", "aif", "aiff"};
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO info{};
        info.format = i;
        if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info) == 0 && info.extension)
            ext.insert(QString::fromLatin1(info.extension).toLower());
    }
    // Containers the decoder opens under other names too.
    for (const char* e : {"ogg", "oga", "opus", "mp3", "aifc", "8svx", "iff", "w64", "rf64"})
        ext.insert(e);
    QStringList sound;
    for (const QString& e : ext) sound << "*." + e;
    QStringList all = sound;
    all << "*.it"
        << "*.sf2"
        << "*.sf3"
        << "*.sfz";
    all << "*.pxsession";
    return {"Sounds and instruments (" + all.join(' ') + ")",
            "Sounds (" + sound.join(' ') + ")",
            "Instrument files (*.it)",
            "SoundFont banks (*.sf2 *.sf3)",
            "SFZ instruments (*.sfz)",
            "Sessions (*.pxsession)",
            "All files (*)"};
}
