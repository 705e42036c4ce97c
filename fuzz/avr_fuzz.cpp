// Feeds arbitrary bytes to the AVR reader as if they were a file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "io/avr.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    MemoryInput src(data, size);
    std::string why;
    std::unique_ptr<p_s> rec = read_avr(src, &why);
    if (!rec) return 0;
    // Whatever was accepted must describe data that is really there.
    const std::uint32_t bytes = rec->size;
    const int sh = frame_shift(rec->bits, rec->stereo);
    if (bytes > rec->capacity || rec->loop_end > bytes || rec->loop_start > rec->loop_end ||
        (rec->bits != 8 && rec->bits != 16) || (bytes >> sh) << sh != bytes)
        __builtin_trap();
    volatile std::int8_t sink = 0;
    for (std::uint32_t i = 0; i < bytes; i += 97)
        sink = static_cast<std::int8_t>(sink + rec->data[i]);
    return 0;
}
