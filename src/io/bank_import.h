// Importing a SoundFont 2 bank (or a version 3 bank, whose samples are
// compressed and decoded here): every zone of a bank instrument that names a
// sample becomes one sound. Played the plain way only the sample, the root
// key and the key range of a zone are used, and of the presets only which
// instruments they name and their key ranges; played as the bank's maker set
// it, the zone's other generators too (articulation.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class InputBytes;

// Sizes of the bank's records.
constexpr std::size_t kSfInstBytes = 22;
constexpr std::size_t kSfBagBytes = 4;
constexpr std::size_t kSfGenBytes = 4;
constexpr std::size_t kSfSampleBytes = 46;

// Generator operators the import reads.
constexpr int kGenKeyRange = 43;
constexpr int kGenVelRange = 44;
constexpr int kGenSampleId = 53;
constexpr int kGenRootKey = 58;

// Any thread. The first 4-byte generator record among `count` records at
// `gens` with index in [first, last) whose operator's low byte is `oper`;
// null when there is none or no generator list.
const std::uint8_t* find_igen(const std::uint8_t* gens, std::size_t count, std::size_t first,
                              std::size_t last, int oper);

// Importing a bank in two steps, so that reading it can run on a loader
// thread: `prepare` reads, checks and builds every record away from the
// tables; `publish` then puts them in place in one step that cannot fail.
class PreparedBank {
  public:
    PreparedBank();
    ~PreparedBank();
    PreparedBank(const PreparedBank&) = delete;
    PreparedBank& operator=(const PreparedBank&) = delete;

    // Any one thread; touches no table. Reads and checks the bank and builds
    // its records. False when the bank cannot be used (publishing then shows
    // why, naming `name` when memory ran out) or the input stopped reading.
    bool prepare(InputBytes& in, const char* name = nullptr);
    // Set before `prepare`: told how far decoding compressed samples has
    // come, and stops it by returning false.
    std::function<bool(std::uint64_t done, std::uint64_t total)> decode_progress;
    // Set before `prepare`: the bank's file. Sounds whose data is the file's
    // own bytes (not decoded) keep it with the place of their data in it.
    std::string source;

    // GUI thread. Puts the prepared bank in place as `import_bank` says, or
    // shows why it was refused. Returns the number of sounds imported.
    int publish();

  private:
    struct Built;
    void set_refusal(const char* text);

    std::unique_ptr<Built> built_;
    char refusal_[640] = {};  // empty: nothing to say (also for a file that is no bank)
    char name_[512] = {};
};

// GUI thread. Imports a bank. A bank with melodic presets fills 128
// instruments by program number and its drum kits after them, and channel 10
// is set to the standard kit with its program lock on; any other bank's
// instruments keep their file order (see bank_import_plan.h). The instruments
// replace the one that holds the selected sound and those after it, and are
// added as new instruments when those run out; each ends up with exactly its
// sounds. All sounds share one copy of the bank's sample data. A file that
// does not begin with "RIFF" changes nothing silently; a bank that cannot be
// used, does not fit the tables or does not fit in memory is refused with an
// alert (naming `name` when memory runs out) and changes nothing. Returns
// the number of sounds imported. `path`, when given, is the bank's file
// (PreparedBank::source).
int import_bank(InputBytes& in, const char* name = nullptr, const char* path = nullptr);
