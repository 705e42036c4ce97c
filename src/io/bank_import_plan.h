// Which instruments a bank's sounds go to.
//
// A bank with melodic presets (bank number 0) is laid out the way General
// MIDI songs expect: the n-th instrument of the import holds preset n of bank
// 0 (n = 0 to 127; a missing preset leaves one empty sound), and the drum kits
// (bank 128) follow from the 128th on, in preset-number order. A preset's
// sounds are the zones of the instruments its zones name, in file order, each
// key range narrowed to the preset zone's. Any other bank keeps its
// instruments in file order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "io/bank_import_lists.h"

struct PlannedInstrument {
    char name[kSfNameChars + 1] = {};
    std::vector<BankZone> zones;  // none: the instrument gets one empty sound
};

struct BankPlan {
    std::vector<PlannedInstrument> insts;
    int drum_kit = -1;             // index in `insts` of the kit channel 10 plays, -1 for none
    std::vector<int> kit_numbers;  // the preset number of each kit, from `drum_kit` on
};

// Any thread. True when some preset of bank 0 (numbers 0 to 127) names an
// instrument of the bank.
bool has_melodic_presets(const BankLists& l);

// Any thread. How many instruments the import of the bank fills; needs no
// allocation, so the caller can check it against the tables first.
std::size_t planned_instrument_count(const BankLists& l);

// Any thread. Fills `plan` with `planned_instrument_count(l)` instruments.
// `articulated`: every zone a note may sound is kept, with the generators of
// its preset zone, and velocity ranges narrowed; otherwise only the zones
// that the first-zone-that-holds-the-key rule can reach. False when the
// presets name millions of zones (no bank that fits the tables does). May
// throw std::bad_alloc.
bool plan_bank(const BankLists& l, std::uint64_t sample_bytes, BankPlan& plan,
               bool articulated = false);
