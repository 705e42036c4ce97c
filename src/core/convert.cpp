#include "core/convert.h"

#include <cstring>

#include "core/sound.h"

void int_to_str(char* out, long value, int width, char digit_base, int min_digits) {
    if (width < 0) width = 0;
    out[width] = 0;
    for (int i = width - 1; i >= 0; --i) {
        const long r = value % 10;  // negative for a negative value, as truncating division gives
        out[i] = static_cast<char>(r + digit_base);
        value /= 10;
    }
    if (min_digits == 0) return;
    int z = 0;
    while (z < width && out[z] == '0') ++z;
    if (width - z < min_digits) z = width - min_digits;
    if (z >= 1) std::memmove(out, out + z, static_cast<size_t>(width - z + 1));
}

int str_to_int(const char* text, int length) {
    if (length <= 0) return 0;
    int i = 0;
    bool negative = false;
    if (text[0] == '-') {
        negative = true;
        i = 1;
    } else if (text[0] == '+') {
        i = 1;
    }
    int v = 0;
    for (; i < length; ++i) {
        const char c = text[i];
        // Wraps like the fixed-width arithmetic it stands for rather than overflowing.
        if (c >= '0' && c <= '9') v = static_cast<int>(static_cast<unsigned>(v) * 10u + (c - '0'));
    }
    return negative ? static_cast<int>(0u - static_cast<unsigned>(v)) : v;
}

namespace {

// Key of the note letter in octave 2 (C = 48), or -1; sets whether a sharp may follow.
int base_key_of(char c, bool& sharp_allowed) {
    if (c >= 'a' && c <= 'g') c = static_cast<char>(c - 'a' + 'A');
    sharp_allowed = true;
    switch (c) {
        case 'C':
            return 48;
        case 'D':
            return 50;
        case 'E':
            sharp_allowed = false;
            return 52;
        case 'F':
            return 53;
        case 'G':
            return 55;
        case 'A':
            return 57;
        case 'B':
            sharp_allowed = false;
            return 59;
        case 'H':
            return 57;
        case 'I':
            sharp_allowed = false;
            return 59;
        default:
            return -1;
    }
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

int traduit(const char* text) {
    bool sharp_allowed = false;
    int key = base_key_of(text[0], sharp_allowed);
    if (key < 0) return 48;
    const char second = text[1];
    const char* octave;
    if (second == '#' && sharp_allowed) {
        key += 1;
        octave = text + 2;
    } else if (is_digit(second)) {
        octave = text + 1;
    } else if (second == ' ') {
        octave = text + 2;
    } else {
        return key;
    }
    const char o = octave[0];
    if (o == '-') {
        // The character after the minus is read only if the text goes on.
        const int d = octave[1] ? str_to_int(octave + 1, 1) : 0;
        return key - 24 - 12 * d;
    }
    if (o == '+' || o == ' ' || is_digit(o)) {
        const char* digit = is_digit(o) ? octave : octave + 1;
        const int d = digit[0] ? str_to_int(digit, 1) : 0;
        const int k = key - 24 + 12 * d;
        return k > 127 ? 127 : k;
    }
    return key;
}

void const_midit(int key, char* out) {
    static const char* const tnot[12] = {"C ", "C#", "D ", "D#", "E ", "F ",
                                         "F#", "G ", "G#", "A ", "A#", "B "};
    if (key < 0) key = 0;
    if (key > 127) key = 127;
    out[0] = tnot[key % 12][0];
    out[1] = tnot[key % 12][1];
    if (key >= 24) {
        out[2] = ' ';
        out[3] = static_cast<char>('0' + (key - 24) / 12);
    } else {
        out[2] = '-';
        out[3] = static_cast<char>('2' - key / 12);
    }
    out[4] = 0;
}

void const_str(int s, char* out) {
    p_s* r = (s >= 0 && s < kMaxSounds) ? t_sound[s].load() : nullptr;
    if (r) {
        std::memcpy(out, r->name, sizeof r->name);
        out[sizeof r->name - 1] = 0;
    } else {
        std::strcpy(out, "None Sample");
    }
}

namespace {

unsigned limit32(unsigned long long v) {
    return v > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<unsigned>(v);
}

}  // namespace

unsigned frames_to_ms(unsigned frames, unsigned rate) {
    if (rate == 0) return 0;
    return limit32(static_cast<unsigned long long>(frames) * 1000u / rate);
}

unsigned ms_to_frames(long ms, unsigned rate) {
    if (ms <= 0) return 0;
    return limit32(static_cast<unsigned long long>(ms) * rate / 1000u);
}
