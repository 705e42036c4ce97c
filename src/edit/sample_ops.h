// The edit operations on a sound's data. Each one reads a published record
// and returns a new record with the edited data (the old one is never
// written, so voices playing it keep hearing whole, consistent data); the
// caller publishes the result. A null result means nothing was changed.
//
// Arithmetic: a fade or a normalize scales sample s by s * gain / 128,
// truncated toward zero, where gain is a single-precision value advanced by
// repeated addition of its step. Results beyond the sample's width saturate.
#pragma once

#include <cstdint>

struct p_s;

// Peak targets of Normalize: 80 % of full scale.
constexpr double kNormalizeTarget8 = 101.6;
constexpr double kNormalizeTarget16 = 26213.6;

// GUI thread. A copy of `old` whose data is a new block of `bytes` bytes plus
// the zeroed spare tail, with `size` = `bytes`; the data is left unfilled.
// Null when the memory cannot be had.
p_s* copy_with_new_block(const p_s& old, std::uint32_t bytes);

// GUI thread, all of them. Frames [start, end) of `old`; callers have checked
// 0 <= start <= end <= frames of `old`.
p_s* clear_frames(const p_s& old, std::int32_t start, std::int32_t end);
// Loop points beyond the new end are pulled back to it; a loop whose start
// is cut off is switched off.
p_s* delete_frames(const p_s& old, std::int32_t start, std::int32_t end);
// Inserts a second copy of the frames right after them. Null, after printing
// "puet pas allouer...teh !", when the longer sound cannot be held.
p_s* insert_frames(const p_s& old, std::int32_t start, std::int32_t end);
p_s* fade_in_frames(const p_s& old, std::int32_t start, std::int32_t end);
p_s* fade_out_frames(const p_s& old, std::int32_t start, std::int32_t end);
// Scales the frames by the factor that brings the whole sound's peak to 80 %
// of full scale. Null for a silent sound (nothing would change).
p_s* normalize_frames(const p_s& old, std::int32_t start, std::int32_t end);
p_s* reverse_frames(const p_s& old, std::int32_t start, std::int32_t end);

// Any thread. The largest magnitude of any sample of the whole sound, the
// most negative value of the width not counted.
int sound_peak(const p_s& s);
