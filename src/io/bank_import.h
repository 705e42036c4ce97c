// Importing a SoundFont 2 bank: every zone of a bank instrument that names a
// sample becomes one sound; only the sample, the root key and the key range
// of a zone are used.
#pragma once

#include <cstddef>
#include <cstdint>

class InputBytes;

// Sizes of the bank's records.
constexpr std::size_t kSfInstBytes = 22;
constexpr std::size_t kSfBagBytes = 4;
constexpr std::size_t kSfGenBytes = 4;
constexpr std::size_t kSfSampleBytes = 46;

// Generator operators the import reads.
constexpr int kGenKeyRange = 43;
constexpr int kGenSampleId = 53;
constexpr int kGenRootKey = 58;

// Any thread. The first 4-byte generator record among `count` records at
// `gens` with index in [first, last) whose operator's low byte is `oper`;
// null when there is none or no generator list.
const std::uint8_t* find_igen(const std::uint8_t* gens, std::size_t count, std::size_t first,
                              std::size_t last, int oper);

// GUI thread. Imports a bank: its instruments, in bank order, replace the
// instrument that holds the selected sound and those after it, and are added
// as new instruments when those run out; each keeps the bank instrument's
// name and ends up with exactly its sounds. All sounds share one copy of the
// bank's sample data. A file that does not begin with "RIFF" changes nothing
// silently; a bank that cannot be used is refused with an alert and changes
// nothing. Returns the number of sounds imported.
int import_bank(InputBytes& in);
