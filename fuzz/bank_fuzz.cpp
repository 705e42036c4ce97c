// Feeds arbitrary bytes to the SoundFont bank import.
#include <cstddef>
#include <cstdint>

#include "core/articulation.h"
#include "fuzz_tables.h"
#include "io/bank_import.h"
#include "io/input_bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Each bank both ways: played plainly, and as its maker set it (every
    // generator and modulator read, envelopes and filters run).
    for (const bool as_set : {false, true}) {
        fuzzkit::Session session;
        play_as_set = as_set;
        MemoryInput in(data, size);
        const int zones = import_bank(in);
        fuzzkit::check(zones >= 0 && zones <= nb_sound);
        fuzzkit::check_structure();
        fuzzkit::play_everything();
    }
    play_as_set = false;
    return 0;
}
