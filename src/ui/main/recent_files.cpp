#include "ui/main/recent_files.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {

QSettings settings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "plexora", "plexora");
}

void store(const QStringList& files) {
    settings().setValue("files/recent", files);
}

}  // namespace

QStringList recent_files() {
    return settings().value("files/recent").toStringList();
}

void add_recent_file(const QString& path) {
    const QString full = QFileInfo(path).absoluteFilePath();
    QStringList files = recent_files();
    files.removeAll(full);
    files.prepend(full);
    while (files.size() > kRecentFiles) files.removeLast();
    store(files);
    settings().setValue("files/folder", QFileInfo(full).absolutePath());
}

void remove_recent_file(const QString& path) {
    QStringList files = recent_files();
    files.removeAll(path);
    store(files);
}

QString last_folder() {
    const QString dir = settings().value("files/folder").toString();
    return !dir.isEmpty() && QFileInfo(dir).isDir() ? dir : QDir::homePath();
}
