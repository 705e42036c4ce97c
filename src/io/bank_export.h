// Writing instruments as a SoundFont 2 bank, so that other players read what
// was built here. Each sound with data becomes one instrument zone (a stereo
// sound two, one per side) whose generators say what the sound plays: key
// and velocity ranges, root key, tuning, loop and sample mode, pan, level,
// the volume and modulation envelopes, the filter, the exclusive class and
// the modulators read at note start. A sample shared by several sounds is
// written once. Sounds that play the plain way go out as near as the format
// comes: looped or not, their pan and their release time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Any thread that may read the tables (the GUI thread). The bank of
// instrument `k` alone, as preset 0 of bank 0; or, with `k` < 0, of every
// instrument: instrument n below 128 as preset n of bank 0, the drum kits
// that channel 10 chooses from (drum_kit_inst) as their kit numbers in bank
// 128, any other instrument n as preset n % 128 of bank n / 128. Instruments
// without a sound that has data get no preset. False, with the reason in
// `why`, when there is nothing to write, an instrument holds a streamed
// sound, or the bank would hold more than the format can.
bool export_bank_bytes(int k, std::vector<std::uint8_t>& out, std::string& why);

// GUI thread. Writes what `export_bank_bytes` makes to `path`, through a
// temporary file renamed into place when complete, so that a failure never
// harms a file already there. False, with the reason in `why`, when nothing
// was written.
bool export_bank(const char* path, int k, std::string& why);
