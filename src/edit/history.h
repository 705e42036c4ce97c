// Undo and redo for the sample editor. A step keeps the whole state it
// replaced: the data block (shared, never copied: blocks are immutable once
// published), the length, the loop and the editor's block and view. Undoing
// therefore costs no copy whatever the sound's size. The data that only the
// history holds is bounded; the oldest steps go first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>

struct Snapshot {
    std::shared_ptr<std::int8_t[]> block;
    std::int8_t* data = nullptr;
    std::uint32_t capacity = 0;
    std::uint32_t size = 0;
    std::uint32_t loop_start = 0;
    std::uint32_t loop_end = 0;
    std::uint16_t loop = 0;
    std::int32_t block_start = 0;
    std::int32_t block_end = 0;
    std::int32_t view_start = 0;
    std::int32_t view_end = 0;
    std::uint64_t ident = 0;  // the sound the state is of (p_s::ident)
};

// 256 MB of sample data kept for undo and redo per editor.
constexpr std::size_t kHistoryBytes = std::size_t(256) << 20;
// Steps kept at most, whatever they hold.
constexpr std::size_t kHistorySteps = 10000;

// GUI thread, all of it.
class History {
  public:
    explicit History(std::size_t limit = kHistoryBytes) : limit_(limit) {}

    // A new step that replaced `before`; `live` is the data now playing.
    // Clears what could be redone and drops old steps beyond the limit.
    void record(Snapshot before, const std::int8_t* live);
    // The state to go back to; `current` becomes the next redo step.
    std::optional<Snapshot> undo(Snapshot current);
    // The state to go forward to; `current` becomes the next undo step.
    std::optional<Snapshot> redo(Snapshot current);
    void clear();

    std::size_t undo_steps() const { return undo_.size(); }
    std::size_t redo_steps() const { return redo_.size(); }
    // Bytes of sample data that only the history keeps (blocks other than `live`).
    std::size_t retained_bytes(const std::int8_t* live) const;

  private:
    void trim(const std::int8_t* live);

    std::size_t limit_;
    std::deque<Snapshot> undo_;
    std::deque<Snapshot> redo_;
};
