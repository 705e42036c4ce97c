// What the program remembers between runs: the last files opened or saved
// (newest first, at most ten) and the folder the file panels open in.
#pragma once

#include <QString>
#include <QStringList>

constexpr int kRecentFiles = 10;

// GUI thread. The remembered files, newest first.
QStringList recent_files();
// GUI thread. Puts `path` first in the list (once), drops what falls off
// the end, and makes its folder the panels' folder.
void add_recent_file(const QString& path);
// GUI thread. Forgets `path`.
void remove_recent_file(const QString& path);
// GUI thread. The folder the open and save panels start in: that of the last
// file opened or saved, or the home folder.
QString last_folder();
