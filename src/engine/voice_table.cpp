#include "engine/voice_table.h"

NOTE_LIST nlist[kVoices];

void reset_voice_table() {
    for (NOTE_LIST& v : nlist) {
        // The serial survives, so no claim made before the reset is taken for a later one.
        v.ctl.store(
            v.ctl.load(std::memory_order_relaxed) & (~std::uint64_t{0} << kVoiceSerialShift),
            std::memory_order_release);
        v.index = 0;
        v.is_inst = false;
    }
}
