// Putting a bank's instruments into the tables in one step that cannot fail.
//
// Everything that needs memory (the new records, the new snapshot of the
// structure, room in the retire list) is taken before the first table entry
// changes; publishing then only moves pointers.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "core/sound.h"
#include "core/structure.h"

// An instrument ready to publish; it owns its records until then.
struct BuiltInstrument {
    const char* name = "";
    std::vector<std::unique_ptr<p_s>> sounds;  // at least one
};

class BankPlacement {
  public:
    // GUI thread. Prepares to put `count` instruments in place from
    // instrument `first` on: those that exist are replaced, the rest are
    // added. Changes nothing; may throw std::bad_alloc.
    BankPlacement(int first, std::size_t count);
    ~BankPlacement();

    // Any thread. Instruments the tables will hold once published.
    std::size_t instruments_after() const;

    // GUI thread. Publishes `built` (which must have the count given above and
    // fit the tables) and retires the records it replaces. Never allocates.
    void publish(std::vector<BuiltInstrument>& built) noexcept;

  private:
    int first_;
    std::size_t count_;
    int existing_;
    int replaced_first_sound_;
    int replaced_end_sound_;
    std::unique_ptr<StructureEdit> edit_;
};

// Any thread. Sounds the tables will hold after putting instruments with
// `new_sounds` sounds in place of instruments `first` to `first + count - 1`
// (those of them that exist), without allocating.
std::size_t sounds_after_placement(int first, std::size_t count, std::size_t new_sounds);
