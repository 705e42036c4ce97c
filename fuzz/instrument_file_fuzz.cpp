// Feeds arbitrary bytes to the instrument-file reader.
#include <cstddef>
#include <cstdint>

#include "fuzz_tables.h"
#include "io/input_bytes.h"
#include "io/instrument_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzkit::Session session;
    MemoryInput in(data, size);
    const int read = read_instrument_file(in, "/fuzz/kit.it");
    fuzzkit::check(read >= 0 && read <= nb_sound);
    fuzzkit::check_structure();
    fuzzkit::play_everything();
    return 0;
}
