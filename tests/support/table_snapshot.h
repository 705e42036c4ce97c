// What a refused or failed load must leave exactly as it was: the sound and
// instrument tables, the instrument names, the selection and the drum channel.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/instruments.h"
#include "core/sound.h"
#include "engine/channels.h"

namespace testkit {

struct TableSnapshot {
    std::vector<p_s*> sounds;
    std::vector<int> first;
    std::vector<std::string> names;
    int sound_count = 0, inst_count = 0, selected = 0, drum_inst = 0;
    bool drum_locked = false;

    static TableSnapshot take() {
        TableSnapshot s;
        for (int i = 0; i < ::nb_sound; ++i) s.sounds.push_back(t_sound[i]);
        for (int k = 0; k < ::nb_inst; ++k) {
            s.first.push_back(t_inst[k]);
            s.names.push_back(::inst_name(k));
        }
        s.sound_count = ::nb_sound;
        s.inst_count = ::nb_inst;
        s.selected = ::no_s;
        s.drum_inst = ch_inst[9];
        s.drum_locked = ch_instf[9];
        return s;
    }
};

inline void expect_unchanged(const TableSnapshot& before) {
    const TableSnapshot now = TableSnapshot::take();
    EXPECT_EQ(now.sounds, before.sounds);
    EXPECT_EQ(now.first, before.first);
    EXPECT_EQ(now.names, before.names);
    EXPECT_EQ(now.sound_count, before.sound_count);
    EXPECT_EQ(now.inst_count, before.inst_count);
    EXPECT_EQ(now.selected, before.selected);
    EXPECT_EQ(now.drum_inst, before.drum_inst);
    EXPECT_EQ(now.drum_locked, before.drum_locked);
}

}  // namespace testkit
