// Opening an instrument file or a SoundFont bank.
#pragma once

#include <string>

// Any thread. True when the extension of `path` (from its last ".") starts
// with ".sf2", case ignored.
bool is_bank_path(const char* path);

// GUI thread. Reads the bank, SFZ instrument or instrument file at `path`
// into the instruments (see import_bank, import_sfz and read_instrument_file). The integer and the
// leaf name are not used. Returns nothing: the result shows in the sound tree.
// A file refused without an alert (it cannot be opened, is empty, or is not
// of its kind at all) changes nothing, and `why` (when given) says why.
void loadi(int, const char* path, const char* leaf, std::string* why = nullptr);
