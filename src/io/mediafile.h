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
// loader's finishing defaults are not applied. A `stream_from` of 0 or more
// is the size from which it streams instead of `limitd2d`.
std::unique_ptr<p_s> decode_media(const char* path, std::string* why = nullptr,
                                  std::int64_t stream_from = -1);

// A whole sample file decoded into memory, in the engine's sample formats
// (media_stream.h), for sounds that share its data.
struct DecodedSample {
    std::shared_ptr<std::int8_t[]> block;  // the frames, then kSpareBytes zero bytes
    std::uint64_t bytes = 0;               // bytes of frames
    std::uint16_t bits = 16;
    bool stereo = false;
    std::uint32_t rate = 0;
    std::int64_t frames = 0;
    std::int64_t loop_start = -1, loop_end = -1;  // the file's own loop (end exclusive); -1: none
    int base_note = -1;                           // the file's own root key; -1: none
};

// Any thread (the loader thread in the background); touches no table.
// Decodes the whole file at `path`; false, with the reason in `why`, when it
// cannot be decoded or held in memory.
bool decode_sample(const char* path, DecodedSample& out, std::string& why);
