#include "core/instruments.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/sound.h"
#include "core/structure.h"

namespace {

constexpr int kNameBytes = 32;
char g_names[kMaxInsts][kNameBytes];

p_s* empty_slot_record() {
    p_s* r = new_sound();
    std::strcpy(r->name, "None sample");
    r->nb_next = 0;
    return r;
}

// Opens `count` slots at `at` (the end of instrument `k`), filled with empty
// records; the later instruments' sounds move up.
void open_slots(int k, int at, int count) {
    StructureEdit edit;
    std::vector<p_s*> fresh(static_cast<std::size_t>(count));
    for (p_s*& r : fresh) r = empty_slot_record();
    InstrumentStructure& st = edit.next();
    const int n = st.sounds();
    for (int i = n - 1; i >= at; --i) st.sound[i + count] = st.sound[i];
    for (int j = k + 1; j < st.insts(); ++j)
        st.inst[j] = static_cast<std::uint16_t>(st.inst[j] + count);
    for (int i = 0; i < count; ++i) st.sound[at + i] = fresh[static_cast<std::size_t>(i)];
    st.nb_sound = static_cast<std::uint16_t>(n + count);
    edit.publish();
}

// Removes sounds [first, first + count) of instrument `k`, and the
// instrument's own entry when `whole` is set. The removed records are retired
// as the new snapshot goes out.
void close_slots(int k, int first, int count, bool whole) {
    StructureEdit edit;
    InstrumentStructure& st = edit.next();
    const int n = st.sounds();
    for (int i = first; i + count < n; ++i) st.sound[i] = st.sound[i + count];
    const int insts = st.insts();
    for (int j = k + 1; j < insts; ++j) st.inst[j] = static_cast<std::uint16_t>(st.inst[j] - count);
    if (whole) {
        for (int j = k; j + 1 < insts; ++j) {
            st.inst[j] = st.inst[j + 1];
            std::memcpy(g_names[j], g_names[j + 1], kNameBytes);
        }
        g_names[insts - 1][0] = 0;
        st.nb_inst = static_cast<std::uint16_t>(insts - 1);
    }
    st.nb_sound = static_cast<std::uint16_t>(n - count);
    for (int i = n - count; i < n; ++i) st.sound[i] = nullptr;
    if (st.nb_inst == 0) st.inst[0] = 0;
    edit.publish();
}

}  // namespace

std::int16_t quel_baseson(int s) {
    const InstrumentStructure& st = structure();
    const int insts = st.insts();
    for (int k = 0; k + 1 < insts; ++k) {
        if (st.inst[k] <= s && s < st.inst[k + 1]) return static_cast<std::int16_t>(k);
    }
    return static_cast<std::int16_t>(insts - 1);
}

std::int16_t listtoson(int row) {
    const InstrumentStructure& st = structure();
    const int insts = st.insts();
    if (insts == 0) return static_cast<std::int16_t>(row == 0 ? 0 : row - 1);
    int k = insts - 1;
    for (int j = 0; j + 1 < insts; ++j) {
        if (st.inst[j] + j <= row && row < st.inst[j + 1] + j + 1) {
            k = j;
            break;
        }
    }
    if (row == st.inst[k] + k) return static_cast<std::int16_t>(st.inst[k]);
    return static_cast<std::int16_t>(row - k - 1);
}

int inst_first(int k) {
    const InstrumentStructure& st = structure();
    if (k < 0 || k >= st.insts()) return 0;
    return st.inst[k];
}

int inst_count(int k) {
    const InstrumentStructure& st = structure();
    const int insts = st.insts();
    if (k < 0 || k >= insts) return 0;
    const int end = k + 1 < insts ? int(st.inst[k + 1]) : st.sounds();
    return std::max(0, end - int(st.inst[k]));
}

void do_invert() {
    StructureEdit edit;
    edit.publish(true, false);
}

bool add_sounds(int k, int count) {
    if (k < 0 || k >= structure().insts() || count < 0) return false;
    if (count == 0) return true;
    if (structure().sounds() + count > kMaxSounds) return false;
    open_slots(k, inst_first(k) + inst_count(k), count);
    return true;
}

int add_multi() {
    const int k = quel_baseson(no_s);
    if (k < 0) return -1;
    const int at = inst_first(k) + inst_count(k);
    if (!add_sounds(k, 1)) return -1;
    no_s = static_cast<std::int16_t>(at);
    return at;
}

int add_inst(const char* name) {
    StructureEdit edit;
    InstrumentStructure& st = edit.next();
    const int insts = st.insts();
    const int n = st.sounds();
    if (insts >= kMaxInsts || n >= kMaxSounds) return -1;
    set_inst_name(insts, name);
    st.sound[n] = empty_slot_record();
    st.inst[insts] = static_cast<std::uint16_t>(n);
    st.nb_sound = static_cast<std::uint16_t>(n + 1);
    st.nb_inst = static_cast<std::uint16_t>(insts + 1);
    edit.publish();
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
    if (k < 0 || have == 0 || s < 0 || s >= structure().sounds()) return 0;
    int first = s;
    int count = 1;
    const bool whole = whole_instrument || have == 1;
    if (whole) {
        first = inst_first(k);
        count = have;
    }
    close_slots(k, first, count, whole);
    no_s = static_cast<std::int16_t>(std::max(0, structure().sounds() - 1));
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
