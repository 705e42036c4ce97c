// Writing an edited sound to a file: WAV (16-bit, or 8-bit unsigned for an
// 8-bit sound) or FLAC, chosen by the name's ending, with the sound's rate,
// base key and loop. The file is written beside its final name and renamed
// into place, so a failed write never leaves half a file behind.
#pragma once

#include <string>

struct p_s;

// GUI thread. Empty on success, else a sentence saying what went wrong.
std::string save_sample(const p_s& sound, const std::string& path);
