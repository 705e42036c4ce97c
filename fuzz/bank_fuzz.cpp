// Feeds arbitrary bytes to the SoundFont bank import.
#include <cstddef>
#include <cstdint>

#include "fuzz_tables.h"
#include "io/bank_import.h"
#include "io/input_bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzkit::Session session;
    MemoryInput in(data, size);
    const int zones = import_bank(in);
    fuzzkit::check(zones >= 0 && zones <= nb_sound);
    fuzzkit::check_structure();
    fuzzkit::play_everything();
    return 0;
}
