// Feeds arbitrary bytes to the session reader: it either opens the whole
// session or changes nothing.
#include <cstddef>
#include <cstdint>

#include "fuzz_tables.h"
#include "io/input_bytes.h"
#include "platform/session_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzkit::Session session;
    const std::uint64_t before = session_fingerprint();
    MemoryInput in(data, size);
    const SessionOpened opened = open_session(in);
    fuzzkit::check(opened.ok || session_fingerprint() == before);
    fuzzkit::check_structure();
    fuzzkit::play_everything();
    return 0;
}
