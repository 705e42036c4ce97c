// Finding the chunks of a SoundFont 2 bank (a RIFF file of form "sfbk").
#pragma once

#include <cstdint>
#include <string>

class InputBytes;

// Where a chunk's contents lie in the file.
struct ChunkSpan {
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
    bool found = false;
};

struct BankChunks {
    bool riff = false;                // the file begins with "RIFF"
    std::string problem;              // set when the bank cannot be used
    std::uint16_t version_major = 0;  // from "ifil", 0 when absent
    ChunkSpan smpl;                   // 16-bit sample points
    ChunkSpan inst;                   // instrument records
    ChunkSpan ibag;                   // instrument zones
    ChunkSpan igen;                   // instrument generators
    ChunkSpan shdr;                   // sample headers
    ChunkSpan phdr;                   // preset headers (optional)
    ChunkSpan pbag;                   // preset zones (optional)
    ChunkSpan pgen;                   // preset generators (optional)
    ChunkSpan imod;                   // instrument modulators (optional)
    ChunkSpan pmod;                   // preset modulators (optional)
};

// GUI thread. Walks the chunk tree of the bank; every chunk must lie inside
// its list and the file. Contents are not read, except the version.
BankChunks find_bank_chunks(InputBytes& in);
