// Importing an SFZ instrument: every region that can be played becomes one
// sound of one instrument, sharing its sample file's data with the other
// regions that name the same file. Regions play as written through the
// articulation banks use (articulation.h): key and velocity ranges, root key,
// tuning, level, pan, offsets, loop modes, the amplitude envelope, and
// group/off_by as exclusive classes. With banks switched to the plain way,
// the same sounds play plainly: the first sound that holds the key, looped
// when its region loops, with the program's own curves.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "io/sfz_parse.h"

struct DecodedSample;

// How an import reaches files; tests and the fuzzer hand in their own.
struct SfzFiles {
    SfzTextReader read_text;
    // The bytes of a sample file, counted for progress (0 when unknown).
    std::function<std::uint64_t(const std::string& path)> size_of;
    // Decodes a sample file; false with the reason when it cannot.
    std::function<bool(const std::string& path, DecodedSample& out, std::string& why)> decode;
};
// Any thread. The file system and the audio decoder.
SfzFiles disk_files();

// Any thread. True when the extension of `path` (from its last ".") is
// ".sfz", case ignored.
bool is_sfz_path(const char* path);

// An import in two steps, so that decoding the samples can run on a loader
// thread: `prepare` builds every sound away from the tables, `publish` puts
// them in place in one step.
class PreparedSfz {
  public:
    PreparedSfz();
    ~PreparedSfz();
    PreparedSfz(const PreparedSfz&) = delete;
    PreparedSfz& operator=(const PreparedSfz&) = delete;

    // Set before `prepare`: told the sample bytes decoded so far of all of
    // them before each sample file and at the end; returning false stops.
    std::function<bool(std::uint64_t done, std::uint64_t total)> progress;

    // Any one thread; touches no table. Reads the SFZ file at `path` and
    // decodes its samples. False when nothing can be played (publishing then
    // says why) or when `progress` stopped it.
    bool prepare(const std::string& path, const SfzFiles& files = disk_files());

    // GUI thread. Puts the instrument in place of the one that holds the
    // selected sound, then shows the summary as a notice when something was
    // left out; or shows why nothing could be imported. Returns the number
    // of sounds imported.
    int publish();

    // The thread that prepared, or the GUI thread once the loader is done.
    // What was left out, for the user: the regions refused with the reason
    // (a missing sample names the path looked for), the opcodes ignored with
    // the number of regions each would have applied to, and what could not
    // be read. Empty when everything was played as written.
    const std::string& summary() const { return summary_; }
    // The first line of the summary: how many regions loaded and were refused.
    const std::string& headline() const { return headline_; }

  private:
    struct Built;
    std::unique_ptr<Built> built_;
    std::string headline_, summary_;
};

// GUI thread. Imports the SFZ file at `path` from the file system.
int import_sfz(const char* path);
