#include "core/instruments.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/reclaim.h"
#include "core/sound.h"

namespace {

constexpr int kNameBytes = 32;
char g_names[kMaxInsts][kNameBytes];

int sounds_in_use() {
    return std::min<int>(nb_sound, kMaxSounds);
}
int insts_in_use() {
    return std::min<int>(nb_inst, kMaxInsts);
}

p_s* empty_slot_record() {
    p_s* r = new_sound();
    std::strcpy(r->name, "None sample");
    r->nb_next = 0;
    return r;
}

// Opens `count` slots at `at` (the end of instrument `k`), filled with empty
// records. The order keeps what readers see close to consistent: the later
// instruments' sounds are copied up first, then their first entries follow
// them, and only then do the new records replace the stale copies that are
// now inside instrument `k`.
void open_slots(int k, int at, int count) {
    const int n = sounds_in_use();
    for (int i = n - 1; i >= at; --i) t_sound[i + count].store(t_sound[i].load());
    for (int j = k + 1; j < insts_in_use(); ++j)
        t_inst[j] = static_cast<std::uint16_t>(t_inst[j] + count);
    // When slots moved, the new end already holds copies, so the count may grow first.
    if (at < n) nb_sound = static_cast<std::uint16_t>(n + count);
    for (int i = at; i < at + count; ++i) {
        if (at < n) {
            t_sound[i].store(empty_slot_record());  // over a copy that lives on above
        } else {
            replace_sound(i, empty_slot_record());
        }
    }
    nb_sound = static_cast<std::uint16_t>(n + count);
    do_invert();
}

// Removes sounds [first, first + count) of instrument `k`, and the
// instrument's own entry when `whole` is set. The removed records are retired
// once no slot holds them any more.
void close_slots(int k, int first, int count, bool whole) {
    const int n = sounds_in_use();
    std::vector<p_s*> removed;
    removed.reserve(static_cast<std::size_t>(count));
    for (int i = first; i < first + count; ++i) removed.push_back(t_sound[i].load());
    for (int i = first; i + count < n; ++i) t_sound[i].store(t_sound[i + count].load());
    const int insts = insts_in_use();
    for (int j = k + 1; j < insts; ++j) t_inst[j] = static_cast<std::uint16_t>(t_inst[j] - count);
    if (whole) {
        for (int j = k; j + 1 < insts; ++j) {
            t_inst[j] = t_inst[j + 1].load();
            std::memcpy(g_names[j], g_names[j + 1], kNameBytes);
        }
        g_names[insts - 1][0] = 0;
        nb_inst = static_cast<std::uint16_t>(insts - 1);
    }
    nb_sound = static_cast<std::uint16_t>(n - count);
    for (int i = n - count; i < n; ++i) t_sound[i].store(nullptr);
    for (p_s* r : removed) reclaim::retire_object(r);
    if (nb_inst == 0) t_inst[0] = 0;
    do_invert();
}

}  // namespace

std::int16_t quel_baseson(int s) {
    const int insts = insts_in_use();
    for (int k = 0; k + 1 < insts; ++k) {
        if (t_inst[k] <= s && s < t_inst[k + 1]) return static_cast<std::int16_t>(k);
    }
    return static_cast<std::int16_t>(insts - 1);
}

std::int16_t listtoson(int row) {
    const int insts = insts_in_use();
    if (insts == 0) return static_cast<std::int16_t>(row == 0 ? 0 : row - 1);
    int k = insts - 1;
    for (int j = 0; j + 1 < insts; ++j) {
        if (t_inst[j] + j <= row && row < t_inst[j + 1] + j + 1) {
            k = j;
            break;
        }
    }
    if (row == t_inst[k] + k) return static_cast<std::int16_t>(t_inst[k]);
    return static_cast<std::int16_t>(row - k - 1);
}

int inst_first(int k) {
    if (k < 0 || k >= insts_in_use()) return 0;
    return t_inst[k];
}

int inst_count(int k) {
    const int insts = insts_in_use();
    if (k < 0 || k >= insts) return 0;
    const int end = k + 1 < insts ? int(t_inst[k + 1]) : sounds_in_use();
    return std::max(0, end - int(t_inst[k]));
}

void do_invert() {
    const int n = sounds_in_use();
    const int insts = insts_in_use();
    int s = 0;
    for (int k = 0; k < insts && s < n; ++k) {
        const int end = std::min(n, inst_first(k) + inst_count(k));
        for (; s < end; ++s) t_invert[s] = static_cast<std::uint16_t>(k);
    }
    // Sounds past the last range (none while the invariants hold).
    for (; s < n; ++s) t_invert[s] = static_cast<std::uint16_t>(insts > 0 ? insts - 1 : 0);
}

bool add_sounds(int k, int count) {
    if (k < 0 || k >= insts_in_use() || count < 0) return false;
    if (count == 0) return true;
    if (sounds_in_use() + count > kMaxSounds) return false;
    open_slots(k, inst_first(k) + inst_count(k), count);
    return true;
}

int add_multi() {
    const int k = quel_baseson(no_s);
    if (k < 0) {
        do_invert();
        return -1;
    }
    const int at = inst_first(k) + inst_count(k);
    if (!add_sounds(k, 1)) return -1;
    no_s = static_cast<std::int16_t>(at);
    return at;
}

int add_inst(const char* name) {
    const int insts = insts_in_use();
    const int n = sounds_in_use();
    if (insts >= kMaxInsts || n >= kMaxSounds) return -1;
    set_inst_name(insts, name);
    // The sound goes in first, so that a reader never sees the new instrument
    // without its slot.
    replace_sound(n, empty_slot_record());
    t_invert[n] = static_cast<std::uint16_t>(insts);
    t_inst[insts] = static_cast<std::uint16_t>(n);
    nb_sound = static_cast<std::uint16_t>(n + 1);
    nb_inst = static_cast<std::uint16_t>(insts + 1);
    return insts;
}

bool del_sounds(int k, int first, int count) {
    const int start = inst_first(k);
    const int have = inst_count(k);
    if (have == 0 || count <= 0 || first < start || first + count > start + have) return false;
    if (count >= have) return false;
    close_slots(k, first, count, false);
    return true;
}

int del_sound(int s, bool whole_instrument) {
    const int k = quel_baseson(s);
    const int have = inst_count(k);
    if (k < 0 || have == 0 || s < 0 || s >= sounds_in_use()) return 0;
    int first = s;
    int count = 1;
    const bool whole = whole_instrument || have == 1;
    if (whole) {
        first = inst_first(k);
        count = have;
    }
    close_slots(k, first, count, whole);
    no_s = static_cast<std::int16_t>(std::max(0, sounds_in_use() - 1));
    return count;
}

const char* inst_name(int k) {
    if (k < 0 || k >= kMaxInsts) return "";
    return g_names[k];
}

void set_inst_name(int k, const char* name) {
    if (k < 0 || k >= kMaxInsts) return;
    std::strncpy(g_names[k], name ? name : "", kNameBytes - 1);
    g_names[k][kNameBytes - 1] = 0;
}

void clear_inst_names() {
    for (auto& n : g_names) n[0] = 0;
}
