#include "core/tables.h"

#include <cmath>
#include <cstring>

#include "core/instruments.h"
#include "core/reclaim.h"

published<p_s*> t_sound[kMaxSounds];
rt<std::uint16_t> nb_sound;
rt<std::uint16_t> t_inst[kMaxInsts];
rt<std::uint16_t> nb_inst;
rt<std::uint16_t> t_invert[kMaxSounds];
NOTE_LIST nlist[kVoices];

rt<std::int32_t> ch_inst[kChannels];
rt<bool> ch_instf[kChannels];
rt<std::int32_t> ch_pitch[kChannels];
rt<std::int32_t> ch_main[kChannels];
rt<std::int32_t> ch_pan[kChannels];
rt<std::int32_t> ch_ctune[kChannels];
rt<std::int32_t> ch_pitchsens[kChannels];
rt<std::int32_t> ch_register[kChannels];
rt<std::int32_t> ch_lpf[kChannels];
rt<bool> mute[kChannels];

float inote[128];
float tab_pan[128];

rt<std::int16_t> no_s;
rt<bool> fmodei{true};
rt<bool> Finst;
rt<bool> loadin;
rt<std::uint32_t> midimess_to_func[16];
rt<float*> audbuf;
rt<std::uint32_t> sizbuf;
rt<std::int32_t> limitd2d{1000000};
rt<bool> prince;
rt<bool> prin;
unsigned char buffer[1024];

void fill_inote() {
    float f = 1.0f;
    for (int k = 0; k < 128; ++k) {
        inote[k] = f;
        f = static_cast<float>(static_cast<double>(f) * 1.059463094);
    }
}

void fill_tab_pan() {
    for (int k = 0; k < 128; ++k) {
        tab_pan[k] = static_cast<float>(std::sin(k * (M_PI / 2.0) / 128.0));
    }
}

namespace {

// Default envelope points per curve (time : level), points 0..4.
constexpr std::uint16_t kDefaultEnv[kCurves][kPoints] = {
    {0x0080, 0x4080, 0x8080, 0xC080, 0xFF80},  // "Velocity": flat 128
    {0x0000, 0x4000, 0x8000, 0xC000, 0xFF00},  // "Start Sound": 0
    {0x0040, 0x4040, 0x8040, 0xC040, 0xFF40},  // "Panoramic": centre 64
    {0x0040, 0x4040, 0x8040, 0xC040, 0xFF40},  // "Coarse tune": neutral 64
    {0x0080, 0x4060, 0x8040, 0xC020, 0xFF00},  // "Velocity off": 128 down to 0
};

}  // namespace

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

void replace_sound(int index, p_s* rec) {
    if (index < 0 || index >= kMaxSounds) {
        delete rec;
        return;
    }
    p_s* old = t_sound[index].exchange(rec);
    reclaim::retire_object(old);
}

void clear_sound(int index) {
    replace_sound(index, nullptr);
}

std::uint32_t returnbuffer(int width, int offset) {
    if (offset < 0 || width <= 0 || offset + width > static_cast<int>(sizeof buffer)) return 0;
    const unsigned char* b = buffer + offset;
    switch (width) {
        case 1:
            return b[0];
        case 2:
            return b[0] * 256u + b[1];
        case 4:
            return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) |
                   (std::uint32_t{b[2]} << 8) | b[3];
        default:
            return 0;
    }
}

void reset_tables() {
    Finst = false;
    fmodei = true;
    loadin = false;
    no_s = 0;
    limitd2d = 1000000;
    for (auto& m : midimess_to_func) m = 0;
    for (std::uint32_t i = 0; i < 4; ++i) midimess_to_func[i] = i;
    fill_tab_pan();
    fill_inote();
    for (int c = 0; c < kChannels; ++c) {
        ch_inst[c] = 0;
        ch_instf[c] = false;
        ch_pitch[c] = 8192;
        ch_main[c] = 127;
        ch_pan[c] = 64;
        ch_ctune[c] = 64;
        ch_pitchsens[c] = 200;
        ch_register[c] = 0;
        ch_lpf[c] = 0;
        mute[c] = false;
    }
    for (NOTE_LIST& v : nlist) {
        v.active.store(0, std::memory_order_release);
        v.index = 0;
        v.is_inst = false;
    }
    for (int i = 0; i < kMaxSounds; ++i) {
        if (t_sound[i].load()) clear_sound(i);
        t_invert[i] = 0;
    }
    for (auto& e : t_inst) e = 0;
    clear_inst_names();
    p_s* none = new_sound();
    std::strcpy(none->name, "None Sample");
    none->nb_next = 0;
    t_sound[0] = none;
    nb_sound = 1;
    nb_inst = 1;
    t_inst[0] = 0;
    audbuf = nullptr;
    sizbuf = 0;
}
