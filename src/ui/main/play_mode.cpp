#include "ui/main/play_mode.h"

#include <QSettings>

#include "core/articulation.h"

namespace {

constexpr const char* kKey = "playing/banks_as_set";

QSettings settings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "plexora", "plexora");
}

}  // namespace

bool restore_play_mode() {
    const bool on = settings().value(kKey, true).toBool();
    play_as_set = on;
    return on;
}

void choose_play_mode(bool as_set) {
    play_as_set = as_set;
    settings().setValue(kKey, as_set);
}
