#include "io/scratch.h"

#include "core/bytes.h"

unsigned char buffer[1024];

std::uint32_t returnbuffer(int width, int offset) {
    if (offset < 0 || width <= 0 || offset + width > static_cast<int>(sizeof buffer)) return 0;
    const unsigned char* b = buffer + offset;
    switch (width) {
        case 1:
            return b[0];
        case 2:
            return bytes::be16(b);
        case 4:
            return bytes::be32(b);
        default:
            return 0;
    }
}
