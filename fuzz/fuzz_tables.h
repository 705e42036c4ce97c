// What the loader fuzz targets share: a small starting structure, a check of
// the instrument invariants, and a short render of every sound so that any
// field a loader got wrong shows up as a read outside the data.
//
// Each input starts from the same structure, which the previous input's
// `Session` rebuilt as it ended. Only the slots an input used are cleared (a
// full reset walks every slot and would cost more than the input), and
// what an input allocates it also frees, so libFuzzer never has to run an
// input a second time to look for leaks.
#pragma once

#include <cstdlib>
#include <cstring>

#include "core/hooks.h"
#include "core/instruments.h"
#include "core/reclaim.h"
#include "core/sound.h"
#include "engine/render.h"
#include "engine/voice_table.h"
#include "engine/voices.h"
#include "midi/reset_tables.h"

namespace fuzzkit {

inline void check(bool ok) {
    if (!ok) std::abort();
}

// Two instruments of two empty sounds each, the first one selected, on
// tables that hold only sound 0.
inline void build_structure() {
    add_sounds(0, 1);
    add_sounds(add_inst("second"), 1);
    no_s = 0;
}

class Session {
  public:
    Session() {
        [[maybe_unused]] static const bool ready = [] {
            ui_hooks().alert = [](const char*, const char*) {};
            reset_tables();
            build_structure();
            return true;
        }();
    }
    // Back to the starting structure, touching only what the input used.
    ~Session() {
        // No record may lie beyond the last sound: such a record would never
        // be freed nor seen. Walking every slot is slow: now and then only.
        static unsigned runs = 0;
        if (runs++ % 64 == 0)
            for (int s = nb_sound; s < kMaxSounds; ++s) check(t_sound[s].load() == nullptr);
        reset_voice_table();
        for (int k = 0; k < nb_inst; ++k) set_inst_name(k, "");
        p_s* none = new_sound();  // sound 0 as the tables start with it
        std::strcpy(none->name, "None Sample");
        none->nb_next = 0;
        StructureEdit edit;
        InstrumentStructure& st = edit.next();
        for (int s = 0; s < st.sounds(); ++s) {
            st.sound[s] = nullptr;
            st.invert[s] = 0;
        }
        for (int k = 0; k < st.insts(); ++k) st.inst[k] = 0;
        st.sound[0] = none;
        st.nb_sound = 1;
        st.nb_inst = 1;
        edit.publish();
        loadin = false;
        build_structure();
        reclaim::reclaim_all();
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
};

inline void check_structure() {
    check(nb_inst >= 1 && nb_sound <= kMaxSounds && t_inst[0] == 0);
    for (int k = 0; k < nb_inst; ++k) {
        check(inst_count(k) >= 1);
        for (int s = inst_first(k); s < inst_first(k) + inst_count(k); ++s) {
            check(t_invert[s] == k && t_sound[s].load() != nullptr);
        }
    }
}

// Plays every sound (up to a limit) for two short buffers: the start of the
// data, a loop that begins or ends in the wrong place, and the carry from
// one buffer to the next.
inline void play_everything() {
    raw_audio_format fmt;
    float out[2 * 128];
    const int n = nb_sound < 64 ? int(nb_sound) : 64;
    for (int s = 0; s < n; s += 16) {
        for (int i = s; i < s + 16 && i < n; ++i) addnote(0, 60 + (i % 40), i, 100, false, 0, 0);
        for (int b = 0; b < 2; ++b) BufferProc(nullptr, out, sizeof out, fmt);
        reset_voice_table();
    }
}

}  // namespace fuzzkit
