#include "io/bank_import_place.h"

#include <algorithm>

#include "core/instruments.h"
#include "core/structure.h"

namespace {

// The sounds [first sound, end sound) of the instruments a placement replaces.
struct ReplacedRange {
    int existing;
    int first_sound;
    int end_sound;
};

ReplacedRange replaced_range(int first, std::size_t count) {
    const int existing = std::min<int>(nb_inst, kMaxInsts);
    const int sounds = std::min<int>(nb_sound, kMaxSounds);
    const int last = static_cast<int>(
        std::min<std::size_t>(static_cast<std::size_t>(std::max(existing - first, 0)), count));
    const int begin = first < existing ? inst_first(first) : sounds;
    const int end = first + last < existing ? inst_first(first + last) : sounds;
    return {existing, begin, end};
}

}  // namespace

std::size_t sounds_after_placement(int first, std::size_t count, std::size_t new_sounds) {
    const ReplacedRange r = replaced_range(first, count);
    const std::size_t sounds = static_cast<std::size_t>(std::min<int>(nb_sound, kMaxSounds));
    return sounds - static_cast<std::size_t>(r.end_sound - r.first_sound) + new_sounds;
}

BankPlacement::BankPlacement(int first, std::size_t count)
    : first_(first), count_(count), edit_(std::make_unique<StructureEdit>()) {
    const ReplacedRange r = replaced_range(first, count);
    existing_ = r.existing;
    replaced_first_sound_ = r.first_sound;
    replaced_end_sound_ = r.end_sound;
}

BankPlacement::~BankPlacement() = default;

std::size_t BankPlacement::instruments_after() const {
    return std::max<std::size_t>(static_cast<std::size_t>(existing_), first_ + count_);
}

void BankPlacement::publish(std::vector<BuiltInstrument>& built) noexcept {
    InstrumentStructure& st = edit_->next();
    st = structure();
    const int n = st.sounds();
    const int begin = replaced_first_sound_;
    const int end = replaced_end_sound_;
    int total = 0;
    for (const BuiltInstrument& b : built) total += static_cast<int>(b.sounds.size());
    const int delta = total - (end - begin);

    // The instruments after the replaced ones keep their numbers; their sounds move.
    const int later = std::max(existing_ - first_ - static_cast<int>(count_), 0);
    if (delta > 0) {
        for (int i = n - 1; i >= end; --i) st.sound[i + delta] = st.sound[i];
    } else if (delta < 0) {
        for (int i = end; i < n; ++i) st.sound[i + delta] = st.sound[i];
        for (int i = n + delta; i < n; ++i) st.sound[i] = nullptr;
    }
    for (int j = existing_ - later; j < existing_; ++j)
        st.inst[j] = static_cast<std::uint16_t>(st.inst[j] + delta);
    int at = begin;
    for (std::size_t j = 0; j < built.size(); ++j) {
        const int k = first_ + static_cast<int>(j);
        set_inst_name(k, built[j].name);
        st.inst[k] = static_cast<std::uint16_t>(at);
        for (std::unique_ptr<p_s>& r : built[j].sounds) st.sound[at++] = r.release();
    }
    st.nb_sound = static_cast<std::uint16_t>(n + delta);
    st.nb_inst = static_cast<std::uint16_t>(instruments_after());
    // The replaced records leave with this snapshot, each retired on its own.
    edit_->publish();
}
