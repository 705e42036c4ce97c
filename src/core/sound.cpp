#include "core/sound.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>

#include "core/reclaim.h"

rt<std::int16_t> no_s;
rt<bool> fmodei{true};
rt<bool> Finst;
rt<bool> loadin;
rt<std::int32_t> limitd2d{1000000};

namespace {

std::atomic<std::uint64_t> g_next_ident{1};

// Default envelope points per curve (time : level), points 0..4.
constexpr std::uint16_t kDefaultEnv[kCurves][kPoints] = {
    {0x0080, 0x4080, 0x8080, 0xC080, 0xFF80},  // "Velocity": flat 128
    {0x0000, 0x4000, 0x8000, 0xC000, 0xFF00},  // "Start Sound": 0
    {0x0040, 0x4040, 0x8040, 0xC040, 0xFF40},  // "Panoramic": centre 64
    {0x0040, 0x4040, 0x8040, 0xC040, 0xFF40},  // "Coarse tune": neutral 64
    {0x0080, 0x4060, 0x8040, 0xC020, 0xFF00},  // "Velocity off": 128 down to 0
};

}  // namespace

std::uint64_t next_sound_ident() noexcept {
    return g_next_ident.fetch_add(1, std::memory_order_relaxed);
}

void Raz_data(p_s* r) {
    r->flags = 16;
    r->pan = 64;
    r->res_a = 0;
    r->res_b = 127;
    r->name[0] = 0;
    r->data = nullptr;
    r->capacity = 0;
    r->block.reset();
    r->key_lo = 0;
    r->key_hi = 127;
    r->vel_lo = 0;
    r->vel_hi = 127;
    r->rel_time = 102400;
    r->size = 0;
    r->loop_start = 0;
    r->loop_end = 0;
    r->loop = 0;
    r->bits = 0;
    r->stereo = 0;
    r->rate = 0;
    r->type = kTypeMemory;
    r->base = 48;
    for (int m = 0; m < kCurves; ++m) {
        for (int k = 0; k < kPoints; ++k) r->env[k][m] = kDefaultEnv[m][k];
    }
}

void Raz_data(int index) {
    if (index < 0 || index >= kMaxSounds) return;
    if (p_s* r = t_sound[index].load()) Raz_data(r);
}

p_s* new_sound() {
    p_s* r = new p_s();
    Raz_data(r);
    return r;
}

p_s* new_sound_with_data(std::uint32_t bytes) {
    p_s* r = new_sound();
    const std::size_t total = static_cast<std::size_t>(bytes) + kSpareBytes;
    r->block = std::shared_ptr<std::int8_t[]>(new std::int8_t[total]());
    r->data = r->block.get();
    r->capacity = static_cast<std::uint32_t>(
        std::min<std::size_t>(total, static_cast<std::size_t>(UINT32_MAX)));
    r->size = bytes;
    return r;
}

int frame_shift(unsigned bits, unsigned stereo) {
    return (bits == 16 ? 1 : 0) + (stereo ? 1 : 0);
}

void finish_loaded_sound(p_s* r) {
    r->rel_time = r->rate / 2;
    r->res_a = 0;
    r->res_b = 127;
    r->pan = 128;
    r->res_c = 0;
    if (r->base < 0 || r->base > 127) r->base = 48;
    r->shift = static_cast<std::int16_t>(r->bits / 16 + (r->stereo ? 1 : 0));
}

void SoundSlot::store(p_s* p) const {
    (void)exchange(p);
}

p_s* SoundSlot::exchange(p_s* p) const {
    if (i_ < 0 || i_ >= kMaxSounds) return nullptr;
    StructureEdit edit;
    p_s* old = edit.next().sound[i_];
    edit.next().sound[i_] = p;
    edit.publish(false, false);
    return old;
}

std::uint16_t StructureEntry::load() const noexcept {
    const InstrumentStructure& st = structure();
    switch (kind_) {
        case kInst:
            return i_ >= 0 && i_ < kMaxInsts ? st.inst[i_] : 0;
        case kInvert:
            return i_ >= 0 && i_ < kMaxSounds ? st.invert[i_] : 0;
        case kSounds:
            return st.nb_sound;
        case kInsts:
            return st.nb_inst;
    }
    return 0;
}

void StructureEntry::store(std::uint16_t v) const {
    StructureEdit edit;
    InstrumentStructure& st = edit.next();
    switch (kind_) {
        case kInst:
            if (i_ < 0 || i_ >= kMaxInsts) return;
            st.inst[i_] = v;
            break;
        case kInvert:
            if (i_ < 0 || i_ >= kMaxSounds) return;
            st.invert[i_] = v;
            break;
        case kSounds:
            st.nb_sound = v;
            break;
        case kInsts:
            st.nb_inst = v;
            break;
    }
    edit.publish(false, false);
}

void replace_sound(int index, p_s* rec) {
    if (index < 0 || index >= kMaxSounds) {
        delete rec;
        return;
    }
    StructureEdit edit;
    edit.next().sound[index] = rec;
    edit.publish(false);
}

void clear_sound(int index) {
    replace_sound(index, nullptr);
}

void clear_all_sounds() {
    StructureEdit edit;
    edit.next() = InstrumentStructure{};
    edit.publish();
}

void reset_sound_tables() {
    Finst = false;
    fmodei = true;
    loadin = false;
    no_s = 0;
    limitd2d = 1000000;
    p_s* none = new_sound();
    std::strcpy(none->name, "None Sample");
    none->nb_next = 0;
    StructureEdit edit;
    InstrumentStructure& st = edit.next();
    std::fill(std::begin(st.sound), std::end(st.sound), nullptr);
    std::fill(std::begin(st.inst), std::end(st.inst), 0);
    std::fill(std::begin(st.invert), std::end(st.invert), 0);
    st.sound[0] = none;
    st.nb_sound = 1;
    st.nb_inst = 1;
    edit.publish();
}
