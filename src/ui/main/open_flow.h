// Which loader a chosen file goes to, and the file filters of the panels.
#pragma once

#include <QString>
#include <QStringList>

// Any thread. True when the leaf name ends in ".it", ".sf2", ".sf3" or
// ".sfz" (case ignored) after at least one other character: an instrument
// file, a bank or an SFZ instrument.
bool is_instrument_name(const QString& leaf);
// GUI thread. Name filters for the open panel, built from the extensions the
// decoder reads, the sample reader's own and the instrument loaders'.
QStringList open_filters();
