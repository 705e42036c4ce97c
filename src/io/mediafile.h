// Sample files read through the audio decoder: held in memory when small,
// streamed from disk through a ring of decode buffers when large.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/tables.h"

// Frames in one decode buffer. A buffer (`chunk`) is this many frames in the
// sound's own format, so every stream's refill half lasts the same time:
// 51200 frames, 1.16 s at 44.1 kHz.
constexpr std::int64_t kChunkFrames = 1024;
// Buffers in a streamed sound's ring: the resident start, then two refill halves.
constexpr std::uint32_t kRingChunks = 150;
constexpr std::uint32_t kHalfChunks = 50;
// Largest buffer any stream can have: 16-bit stereo.
constexpr std::uint32_t kMaxChunkBytes = kChunkFrames * 4;

// GUI thread. Decodes `path` into a new record that is not published yet,
// held in memory (`type` 0) or, when its decoded size reaches `limitd2d`,
// streamed (`type` 2: the ring with its resident start read, the decoder
// kept open in `mfile`). Prints the reason on standard output, also into
// `why` when given, and returns null when the file cannot be decoded. The
// loader's finishing defaults are not applied.
std::unique_ptr<p_s> decode_media(const char* path, std::string* why = nullptr);

// GUI thread. Decodes `path`, finishes the record and puts it into the
// selected slot (`no_s`), retiring what was there. False, with the slot
// untouched, when the file cannot be decoded.
bool mediafile(const char* path);
