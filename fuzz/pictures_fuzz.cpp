// Feeds arbitrary bytes to the picture file reader: it must never read past
// the data, and what it returns must be consistent.
#include <cstdint>
#include <cstdlib>

#include "platform/pictures.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const pictures::Decoded d = pictures::decode(data, size);
    if (d.images.size() > std::size_t(pictures::kCount)) std::abort();
    if (d.images.size() < std::size_t(pictures::kCount) && d.message.empty()) std::abort();
    std::size_t used = 0;
    for (const pictures::Image& img : d.images) {
        const std::size_t pixels = std::size_t(img.width) * std::size_t(img.height);
        if (pixels == 0 || img.rgb.size() != pixels * 3) std::abort();
        // Each picture was taken from bytes that were there.
        used += pixels;
        if (used > size) std::abort();
    }
    return 0;
}
