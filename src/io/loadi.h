// Opening an instrument file or a SoundFont bank.
#pragma once

// Any thread. True when the extension of `path` (from its last ".") starts
// with ".sf2", case ignored.
bool is_bank_path(const char* path);

// GUI thread. Reads the bank or instrument file at `path` into the
// instruments (see import_bank and read_instrument_file). The integer and the
// leaf name are not used. Returns nothing: the result shows in the sound tree.
void loadi(int, const char* path, const char* leaf);
