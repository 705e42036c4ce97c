// The AVR sample file: a 128-byte big-endian header followed by the sample
// data, 8-bit signed or 16-bit big-endian, stereo interleaved.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/sound.h"
#include "io/input_bytes.h"

constexpr std::uint32_t kAvrHeaderBytes = 128;
// Largest data length we accept: the record's sizes are 32-bit.
constexpr std::uint64_t kAvrMaxData = 0x7FFFFF00;

// The header fields we use, as stored.
struct AvrHeader {
    char name[9] = {};             // bytes 4..11, NUL-terminated
    std::uint8_t channels = 0;     // byte 13: 0 or 1 mono, anything else stereo
    std::uint8_t bits = 0;         // byte 15
    std::uint16_t loop = 0;        // bytes 18..19
    std::uint8_t note = 0;         // byte 21
    std::uint16_t rate = 0;        // bytes 24..25
    std::uint32_t loop_begin = 0;  // bytes 31..33
    std::uint32_t loop_end = 0;    // bytes 35..37
};

// Any thread. Decodes the 128 header bytes.
AvrHeader parse_avr_header(const unsigned char (&h)[kAvrHeaderBytes]);

// GUI thread (or a fuzzer). Reads a whole AVR file into a new record that is
// not published yet: data in host order, loop points repaired, `file_offset`
// 128, type in memory. The loader's finishing defaults are not applied.
// Null, with the reason in `why`, when the file cannot be an AVR sound.
std::unique_ptr<p_s> read_avr(InputBytes& src, std::string* why);
