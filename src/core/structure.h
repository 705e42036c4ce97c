// The instrument structure as one immutable snapshot.
//
// Which record each sound slot holds, where each instrument's run of sounds
// starts, which instrument owns each sound and how many of each there are
// change together: a change is made on a private copy (`StructureEdit`) and
// published with one pointer store, so a reader that takes the snapshot once
// sees the tables of one moment, never half of a change. The snapshot it
// replaces and every record that left the table with the change are retired
// one by one (deferred reclamation), so a record a reader has pinned is spared
// whatever else goes with it.
//
// Readers: the GUI thread (the only writer) reads freely. Every other thread
// reads inside a reclaim::ReadSection and keeps neither the snapshot nor a
// record found in it past the section (unless it pins the record).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

struct p_s;

// Sound slots: enough for a General MIDI bank whose every velocity layer and
// stereo half is a sound of its own; counts and slot numbers stay 16-bit.
constexpr int kMaxSounds = 32768;
constexpr int kMaxInsts = 4096;

struct InstrumentStructure {
    p_s* sound[kMaxSounds] = {};
    std::uint16_t inst[kMaxInsts] = {};     // first sound of each instrument
    std::uint16_t invert[kMaxSounds] = {};  // the instrument of each sound
    std::uint16_t nb_sound = 0;
    std::uint16_t nb_inst = 0;
    std::uint64_t generation = 0;  // one more for every publication

    // Any thread. The record in slot `i`; null outside the table.
    p_s* at(int i) const noexcept { return i >= 0 && i < kMaxSounds ? sound[i] : nullptr; }
    // Any thread. Sounds and instruments in use, never past the tables.
    int sounds() const noexcept { return nb_sound < kMaxSounds ? nb_sound : kMaxSounds; }
    int insts() const noexcept { return nb_inst < kMaxInsts ? nb_inst : kMaxInsts; }
    // Any thread. Rebuilds `invert` from `inst` for the sounds in use.
    void rebuild_invert() noexcept;
};

// Any thread (see the reader rules above). The structure published last.
const InstrumentStructure& structure() noexcept;

// A change to the instrument structure: the current snapshot copied, changed
// through `next()`, then published whole.
class StructureEdit {
  public:
    // GUI thread. Copies the current snapshot and takes every bit of memory
    // publishing needs; may throw std::bad_alloc.
    StructureEdit();
    ~StructureEdit();
    StructureEdit(const StructureEdit&) = delete;
    StructureEdit& operator=(const StructureEdit&) = delete;

    // GUI thread. The snapshot being built.
    InstrumentStructure& next() noexcept { return *next_; }

    // GUI thread. Publishes the new snapshot in one pointer store, retires
    // the old one and each record it held that the new one does not hold
    // (unless `retire_removed` is false: the caller keeps those). `invert` is
    // rebuilt first unless `rebuild_invert` is false. Never allocates; the
    // edit is spent afterwards.
    void publish(bool rebuild_invert = true, bool retire_removed = true) noexcept;

  private:
    std::unique_ptr<InstrumentStructure> next_;
    std::vector<p_s*> scratch_;  // room to tell which records left
};
