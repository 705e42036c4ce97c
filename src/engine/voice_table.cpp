#include "engine/voice_table.h"

NOTE_LIST nlist[kVoices];

void reset_voice_table() {
    for (NOTE_LIST& v : nlist) {
        v.active.store(kVoiceFree, std::memory_order_release);
        v.index = 0;
        v.is_inst = false;
    }
}
