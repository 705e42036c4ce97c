// Sample files read through the audio decoder: held in memory when small,
// streamed from disk through a ring of decode buffers when large.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/sound.h"
#include "engine/stream.h"

// GUI thread. Decodes `path` into a new record that is not published yet,
// held in memory (`type` 0) or, when its decoded size reaches `limitd2d`,
// streamed (`type` 2: the ring with its resident start read, the decoder
// kept open in `mfile`). Prints the reason on standard output, also into
// `why` when given, and returns null when the file cannot be decoded. The
// loader's finishing defaults are not applied.
std::unique_ptr<p_s> decode_media(const char* path, std::string* why = nullptr);
