#include "edit/history.h"

#include <algorithm>
#include <vector>

void History::record(Snapshot before, const std::int8_t* live) {
    redo_.clear();
    undo_.push_back(std::move(before));
    trim(live);
}

std::optional<Snapshot> History::undo(Snapshot current) {
    if (undo_.empty()) return std::nullopt;
    Snapshot back = std::move(undo_.back());
    undo_.pop_back();
    redo_.push_back(std::move(current));
    return back;
}

std::optional<Snapshot> History::redo(Snapshot current) {
    if (redo_.empty()) return std::nullopt;
    Snapshot next = std::move(redo_.back());
    redo_.pop_back();
    undo_.push_back(std::move(current));
    return next;
}

void History::clear() {
    undo_.clear();
    redo_.clear();
}

std::size_t History::retained_bytes(const std::int8_t* live) const {
    std::vector<std::pair<const std::int8_t*, std::uint32_t>> blocks;
    blocks.reserve(undo_.size() + redo_.size());
    for (const auto* q : {&undo_, &redo_})
        for (const Snapshot& s : *q)
            if (s.data && s.data != live) blocks.emplace_back(s.block.get(), s.capacity);
    std::sort(blocks.begin(), blocks.end());
    std::size_t total = 0;
    for (std::size_t i = 0; i < blocks.size(); ++i)
        if (i == 0 || blocks[i].first != blocks[i - 1].first) total += blocks[i].second;
    return total;
}

void History::trim(const std::int8_t* live) {
    while (undo_.size() + redo_.size() > kHistorySteps && !undo_.empty()) undo_.pop_front();
    while (!undo_.empty() && retained_bytes(live) > limit_) undo_.pop_front();
}
