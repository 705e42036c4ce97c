// Loading one sample file into the selected sound slot.
#pragma once

#include <memory>
#include <string>

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
    std::string why;           // the reason when it is not
};

// Any thread (the loader thread in the background). Reads and decodes the
// sample file at `path` into a record that no table holds; touches no table
// and shows nothing. A `stream_from` of 0 or more is the decoded size from
// which it streams, instead of `limitd2d`.
PreparedSound prepare_sound(const char* path, const char* display_name,
                            std::int64_t stream_from = -1);

// GUI thread. Puts a prepared sound into `slot`, retiring what was there, or
// tells the user why the file was refused (the slot then stays as it was);
// refreshes the windows either way.
LoadResult place_sound(int slot, PreparedSound prepared);

// GUI thread. Reads the sample file at `path` (AVR by ourselves, everything
// else through the decoder) into slot `no_s`, replacing and retiring its
// record. `display_name` (the leaf name) names the sound when the file gives
// no name. On failure the slot is left exactly as it was, and `why` (when
// given) receives the reason, also for a file that could not be opened. The
// integer is not used.
LoadResult load(int, const char* path, const char* display_name, std::string* why = nullptr);

// GUI thread. The load-failure alert: `text` with the single button "...",
// and the reason the loader found (if any) in its details.
void error(const char* text, const char* details = nullptr);
