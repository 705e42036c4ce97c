// The loaders' scratch buffer: file readers load headers and records into it
// and read their big-endian fields back with `returnbuffer`.
#pragma once

#include <cstdint>

// GUI or loader thread (one loader at a time).
extern unsigned char buffer[1024];

// Any thread. Unsigned big-endian integer of width 1, 2 or 4 from `buffer`
// at `offset`; 0 for any other width or an offset outside the buffer.
std::uint32_t returnbuffer(int width, int offset);
