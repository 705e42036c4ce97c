// The program's own instrument file: all the sounds of one instrument with
// their sample data. A header (magic "PLEXORIT", a data flag) is followed by
// one 352-byte big-endian block header per sound, each followed by the
// sound's data (16-bit data stored big-endian).
#pragma once

#include <string>

class InputBytes;

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
constexpr int kInstExtraAt = 60;
constexpr char kInstExtraMarker[4] = {'P', 'X', 'E', 'X'};
constexpr int kInstExtraVersion = 1;
constexpr int kInstExtraEnvAt = 66;
constexpr int kInstExtraFlagsAt = 116;
constexpr int kInstExtraRelAt = 118;
constexpr int kInstExtraNameAt = 122;
constexpr int kInstExtraNameBytes = 32;

// GUI thread. Reads an instrument file into the instrument that holds the
// selected sound: block i replaces its sound i, blocks beyond its sounds are
// appended to it, and sounds beyond the file's blocks keep their content.
// A file without the magic changes nothing silently; a file that cannot be
// used (no sample data, damaged blocks, more sounds than the table holds) is
// refused with an alert before anything changes; a truncated file keeps the
// sounds read whole. `path` is remembered in the first sound. Returns the
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
