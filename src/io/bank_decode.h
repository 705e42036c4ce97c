// Compressed bank samples (a bank of format version 3 keeps each sample as
// an Ogg Vorbis stream in its sample chunk): decoded at import into 16-bit
// points, so that the sounds play them like any other bank's.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "io/bank_import_lists.h"

// The type bit that marks a compressed sample.
constexpr std::uint16_t kCompressedSample = 0x10;

// Any thread. True when the sample header `h` says its sample is compressed.
bool sample_compressed(const std::uint8_t* h);

// The samples the zones use, decoded into one block.
struct DecodedSamples {
    std::shared_ptr<std::int8_t[]> block;  // 16-bit points, the spare tail after the last
    std::uint64_t bytes = 0;               // bytes of points in `block`
    std::string problem;                   // why the bank cannot be used, when set
};

// Called as samples are decoded with the compressed bytes done and to do;
// returns false to stop.
using DecodeProgress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

// Any thread. Builds a block holding every sample that `used` marks, the
// compressed ones decoded from `smpl` (the sample chunk's `smpl_bytes`
// bytes) and the others copied, and points their headers in `l.shdr` at it
// (starts, ends and loops in points of the new block, the compressed mark
// cleared). A compressed sample that cannot be decoded sets `problem` and
// names it. May throw std::bad_alloc.
DecodedSamples decode_bank_samples(BankLists& l, const std::vector<bool>& used,
                                   const std::int8_t* smpl, std::uint64_t smpl_bytes,
                                   const DecodeProgress& progress);
