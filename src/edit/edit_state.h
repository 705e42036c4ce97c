// The sample editor's position state: which sound it edits, the range of
// frames the zoom strip shows and the block (the selection). All positions
// are frames.
#pragma once

#include <cstdint>

// `block_start` of the state "no block".
constexpr std::int32_t kNoBlock = 0x7FFFFFFF;

struct EditState {
    int sound = 0;                  // slot of the edited sound (follows it when it moves)
    std::int32_t total_frames = 0;  // size >> shift (a streamed sound: its file's frames)
    std::int32_t view_start = 0;    // 0 <= view_start <= view_end <= total_frames
    std::int32_t view_end = 0;
    std::int32_t block_start = kNoBlock;  // half-open block; no block while start > end
    std::int32_t block_end = 0;
    int play_state = 0;  // bit 0: the whole sound plays; bit 1: the block plays

    bool has_block() const { return block_start <= block_end; }
    void clear_block() {
        block_start = kNoBlock;
        block_end = 0;
    }
};
