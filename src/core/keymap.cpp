#include "core/keymap.h"

#include <algorithm>

#include "core/sound.h"

namespace {

// The record in slot `i`, or null for an empty slot or one outside the table.
p_s* slot(int i) {
    return (i >= 0 && i < kMaxSounds) ? t_sound[i].load() : nullptr;
}

// The slots of an instrument that lie inside the table.
int last_slot(int first, int count) {
    return std::min(first + count, kMaxSounds);
}

}  // namespace

int clamp_key(int key) {
    return std::clamp(key, 0, kKeys - 1);
}

bool zone_holds(const p_s& s, int key) {
    for (int tries = 0;; ++tries) {
        const int lo = s.key_lo.raw().load(std::memory_order_acquire);
        const int hi = s.key_hi.raw().load(std::memory_order_acquire);
        // A range edited by the user to hold nothing stays empty on every read.
        if (lo <= hi || tries == 2) return lo <= key && key <= hi;
    }
}

void set_key_range(p_s& s, int lo, int hi) {
    const int old_lo = s.key_lo;
    const std::int16_t new_lo = static_cast<std::int16_t>(lo);
    const std::int16_t new_hi = static_cast<std::int16_t>(hi);
    // Between the stores a reader sees one old end and one new end: the old
    // low end with the new high end when the new range does not lie wholly
    // below the old one, else the new low end with the old high end.
    if (old_lo <= hi) {
        s.key_hi.raw().store(new_hi, std::memory_order_release);
        s.key_lo.raw().store(new_lo, std::memory_order_release);
    } else {
        s.key_lo.raw().store(new_lo, std::memory_order_release);
        s.key_hi.raw().store(new_hi, std::memory_order_release);
    }
}

void even_split(int first, int count) {
    if (count <= 0) return;
    const int w = kKeys / count;
    for (int i = first; i < last_slot(first, count); ++i) {
        const int j = i - first;
        if (p_s* s = slot(i)) set_key_range(*s, w * j, w * j + w - 1);
    }
}

bool domap(int first, int count) {
    const int end = last_slot(first, count);
    for (int a = first; a < end; ++a) {
        const p_s* sa = slot(a);
        if (!sa) continue;
        const int alo = sa->key_lo, ahi = sa->key_hi;
        for (int b = a + 1; b < end; ++b) {
            const p_s* sb = slot(b);
            if (!sb) continue;
            const int blo = sb->key_lo, bhi = sb->key_hi;
            if ((blo <= alo && alo <= bhi) || (blo <= ahi && ahi <= bhi)) return true;
        }
    }
    return false;
}

void auto_map(int first, int count, int chosen) {
    const p_s* c = slot(chosen);
    if (count <= 1 || !c) return;
    const int end = last_slot(first, count);
    const int F = c->key_lo, T = c->key_hi;

    p_s* below = nullptr;
    int best_hi = -1;
    for (int i = first; i < end; ++i) {
        p_s* s = slot(i);
        if (!s || i == chosen || s->key_lo > F || s->key_hi < 0) continue;
        if (s->key_hi >= best_hi) best_hi = s->key_hi, below = s;
    }
    if (below && F - 1 > 0) below->key_hi = static_cast<std::int16_t>(F - 1);

    // Searched after the change above: a sound just shortened may drop out.
    p_s* above = nullptr;
    int best_lo = 32768;
    for (int i = first; i < end; ++i) {
        p_s* s = slot(i);
        if (!s || i == chosen || s->key_hi < T) continue;
        if (s->key_lo <= best_lo) best_lo = s->key_lo, above = s;
    }
    if (above && T + 1 <= 126) above->key_lo = static_cast<std::int16_t>(T + 1);
}

void inst_key_paint(int first, int count, int chosen, KeyPaint out[kKeys]) {
    std::fill(out, out + kKeys, KeyPaint::kPlain);
    const p_s* c = slot(chosen);
    if (!c) return;
    const int end = last_slot(first, count);
    for (int i = first; i < end; ++i) {
        const p_s* s = slot(i);
        if (!s || i == chosen) continue;
        const int lo = std::max<int>(s->key_lo, 0), hi = std::min<int>(s->key_hi, kKeys - 1);
        for (int k = lo; k <= hi; ++k) out[k] = KeyPaint::kOther;
    }
    const int lo = std::max<int>(c->key_lo, 0), hi = std::min<int>(c->key_hi, kKeys - 1);
    for (int k = lo; k <= hi; ++k) out[k] = KeyPaint::kChosen;
}
