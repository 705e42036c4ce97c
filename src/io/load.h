// Loading one sample file into the selected sound slot.
#pragma once

#include <memory>

#include "core/sound.h"

enum class LoadResult {
    loaded,      // the selected slot holds the new sound
    unopenable,  // the file could not be opened; nothing was shown
    refused,     // not a sound we can read; the user was told
};

// A sound read from a file and not yet in any table.
struct PreparedSound {
    LoadResult result = LoadResult::unopenable;
    std::unique_ptr<p_s> rec;  // set when `result` is loaded
};

// Any thread (the loader thread in the background). Reads and decodes the
// sample file at `path` into a record that no table holds; touches no table
// and shows nothing.
PreparedSound prepare_sound(const char* path, const char* display_name);

// GUI thread. Puts a prepared sound into `slot`, retiring what was there, or
// tells the user why the file was refused (the slot then stays as it was);
// refreshes the windows either way.
LoadResult place_sound(int slot, PreparedSound prepared);

// GUI thread. Reads the sample file at `path` (AVR by ourselves, everything
// else through the decoder) into slot `no_s`, replacing and retiring its
// record. `display_name` (the leaf name) names the sound when the file gives
// no name. On failure the slot is left exactly as it was. The integer is not
// used.
LoadResult load(int, const char* path, const char* display_name);

// GUI thread. The load-failure alert: `text` with the single button "...".
void error(const char* text);
