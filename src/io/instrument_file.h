// The program's own instrument file: all the sounds of one instrument with
// their sample data. A header (magic "PLEXORIT", a data flag) is followed by
// one 352-byte big-endian block header per sound, each followed by the
// sound's data (16-bit data stored big-endian).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/articulation.h"

class InputBytes;
struct p_s;
struct InstrumentStructure;

// Any thread. The articulation's bytes at `p` (kInstExtraArtAt of a block),
// and back.
void put_articulation(unsigned char* p, const Articulation& a);
Articulation get_articulation(const unsigned char* p);

// The first bytes of every instrument file.
constexpr char kInstMagic[8] = {'P', 'L', 'E', 'X', 'O', 'R', 'I', 'T'};

// Sizes of the file's parts.
constexpr int kInstHeaderBytes = 18;
constexpr int kInstBlockBytes = 352;
constexpr int kInstNameChars = 15;

// What the fixed fields of a block leave out lives in its tail, from byte 60
// on, behind a marker and a version number, so that readers that do not know
// it (and files written before it) see nothing new:
//   60  4   marker "PXEX"
//   64  2   version (1)
//   66  50  envelope points, curve by curve, five 16-bit points each
//   116 2   curve-enable flags
//   118 4   release length in source frames
//   122 32  the sound's whole name, zero-terminated
// and from version 2 on, how a bank's maker set the sound to play
// (articulation.h; all zero for a sound that has none):
//   154 1   1 when set, 155 1 sample mode, 156 1 exclusive class, 157 1 the
//           class its notes cut when not their own (zero in files before it)
//   158 24  twelve signed 16-bit values: tune, scale tuning, attenuation,
//           pan, delay, attack, hold, decay, sustain, release, key to hold,
//           key to decay
//   182 2   the velocity's fall, 184 1 modulator count, 185 1 zero
//   186 80  ten modulators: source, amount source, generator and a zero
//           byte, signed amount
//   266 4   low-pass cutoff and resonance, signed 16-bit
//   270 18  modulation envelope: delay, attack, hold, decay, sustain,
//           release, key to hold, key to decay, depth onto the cutoff
// and from version 3 on:
//   288 2   the sound's Panning
//   290 32  in the first block, the instrument's name, zero-terminated
//           (zero in later blocks)
// Older versions leave these bytes zero; their sounds keep the Panning a
// new sound has and the instrument keeps its name.
constexpr int kInstExtraAt = 60;
constexpr char kInstExtraMarker[4] = {'P', 'X', 'E', 'X'};
constexpr int kInstExtraVersion = 3;
constexpr int kInstExtraEnvAt = 66;
constexpr int kInstExtraFlagsAt = 116;
constexpr int kInstExtraRelAt = 118;
constexpr int kInstExtraNameAt = 122;
constexpr int kInstExtraNameBytes = 32;
constexpr int kInstExtraArtAt = 154;
constexpr int kInstExtraPanAt = 288;
constexpr int kInstExtraInstNameAt = 290;
constexpr int kInstExtraInstNameBytes = 32;
static_assert(kInstExtraInstNameAt + kInstExtraInstNameBytes <= kInstBlockBytes);

// GUI thread. Reads an instrument file into the instrument that holds the
// selected sound: block i replaces its sound i, blocks beyond its sounds are
// appended to it, and sounds beyond the file's blocks keep their content.
// A file without the magic changes nothing silently; a file that cannot be
// used (no sample data, damaged blocks, more sounds than the table holds) is
// refused with an alert before anything changes; a truncated file keeps the
// sounds read whole. `path` is remembered in the first sound, and the
// instrument takes the name the file gives it, if any. Returns the
// number of sounds read.
int read_instrument_file(InputBytes& in, const char* path);

// GUI thread. The name an instrument file is written under: `path`, with
// ".it" added unless it already ends in ".it" (case ignored).
std::string instrument_file_path(const char* path);

// GUI thread. Writes the instrument that holds the selected sound to
// `instrument_file_path(path)`, through a temporary file renamed into place,
// so a failure never harms an existing file. False when the file could not
// be written or when the instrument holds a streamed sound.
bool saveinst(const char* path);

// Where `write_instrument` puts its bytes, in order; false stops the writing.
using InstrumentSink = std::function<bool(const void* data, std::size_t n)>;

// Any thread, while `st` and its records stay as they are (the published
// structure inside a reclaim::ReadSection, or a copy). Writes instrument
// `k` of `st`, named `name`, as an instrument file into `sink`; the blocks of
// the sound slots for which `without_data` says true carry their parameters
// and no data (a file that holds them elsewhere). False when the sink fails,
// or when the instrument does not exist or holds a streamed sound and no
// `without_data` is given.
bool write_instrument(const InstrumentStructure& st, int k, const char* name,
                      const InstrumentSink& sink,
                      const std::function<bool(int slot)>& without_data = {});

// An instrument file read into records that no table holds yet.
struct InstrumentRecords {
    std::vector<p_s*> sounds;  // owned: delete each one that is not published
    std::string name;          // the instrument's name, if the file gives one
    std::string problem;       // why the file cannot be used; empty when it can
};

// GUI thread. Reads every block of an instrument file; a file that is not
// whole (missing magic, damaged or truncated block, no sample data) gives a
// problem and no records.
InstrumentRecords read_instrument_records(InputBytes& in);

// Any thread. Writes all `n` bytes of `data` to `fd`, going on after
// interrupted writes; false when the file takes no more.
bool write_all(int fd, const void* data, std::size_t n);
