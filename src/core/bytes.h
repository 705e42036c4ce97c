// Byte order: unsigned integers read from and written to byte buffers in
// little-endian (RIFF, BMP) and big-endian (AVR, instrument file) order.
#pragma once

#include <cstdint>

namespace bytes {

inline std::uint16_t le16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t le32(const unsigned char* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}
inline std::uint16_t be16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}
inline std::uint32_t be24(const unsigned char* p) {
    return std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2];
}
inline std::uint32_t be32(const unsigned char* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// Writes the low `count` bytes of `v`, least significant first.
inline void put_le(unsigned char* p, std::uint32_t v, int count) {
    for (int i = 0; i < count; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
// Writes the low `count` bytes of `v`, most significant first.
inline void put_be(unsigned char* p, std::uint32_t v, int count) {
    for (int i = 0; i < count; ++i) p[i] = static_cast<unsigned char>(v >> (8 * (count - 1 - i)));
}

}  // namespace bytes
