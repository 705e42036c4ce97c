// What the loader fuzz targets share: a small starting structure, a check of
// the instrument invariants, and a short render of every sound so that any
// field a loader got wrong shows up as a read outside the data.
#pragma once

#include <cstdlib>

#include "core/hooks.h"
#include "core/instruments.h"
#include "core/reclaim.h"
#include "core/sound.h"
#include "engine/render.h"
#include "engine/voice_table.h"
#include "engine/voices.h"
#include "midi/reset_tables.h"

namespace fuzzkit {

// Two instruments of two empty sounds each, the first one selected.
inline void fresh_structure() {
    ui_hooks().alert = [](const char*, const char*) {};
    reset_tables();
    clear_inst_names();
    add_sounds(0, 1);
    add_sounds(add_inst("second"), 1);
    no_s = 0;
}

inline void check(bool ok) {
    if (!ok) std::abort();
}

inline void check_structure() {
    check(nb_inst >= 1 && nb_sound <= kMaxSounds && t_inst[0] == 0);
    for (int k = 0; k < nb_inst; ++k) {
        check(inst_count(k) >= 1);
        for (int s = inst_first(k); s < inst_first(k) + inst_count(k); ++s) {
            check(t_invert[s] == k && t_sound[s].load() != nullptr);
        }
    }
}

// Plays every sound (up to a limit) for a few buffers, then frees everything retired.
inline void play_everything() {
    raw_audio_format fmt;
    float out[2 * 256];
    const int n = nb_sound < 64 ? int(nb_sound) : 64;
    for (int s = 0; s < n; s += 16) {
        for (int i = s; i < s + 16 && i < n; ++i) addnote(0, 60 + (i % 40), i, 100, false, 0, 0);
        for (int b = 0; b < 3; ++b) BufferProc(nullptr, out, sizeof out, fmt);
        reset_voice_table();
    }
    reclaim::reclaim_all();
}

}  // namespace fuzzkit
