#include "core/sound_ref.h"

SoundRef sound_ref(int slot) noexcept {
    const p_s* r = structure().at(slot);
    if (!r) return {};
    return {slot, r->ident};
}

int find_sound(const InstrumentStructure& st, int hint, std::uint64_t ident) noexcept {
    if (ident == 0) return -1;
    if (const p_s* r = st.at(hint); r && r->ident == ident) return hint;
    const int n = st.sounds();
    for (int i = 0; i < n; ++i) {
        if (const p_s* r = st.sound[i]; r && r->ident == ident) return i;
    }
    return -1;
}

p_s* resolve(SoundRef& ref) noexcept {
    const InstrumentStructure& st = structure();
    const int at = find_sound(st, ref.slot, ref.ident);
    if (at < 0) return nullptr;
    ref.slot = at;
    return st.sound[at];
}
