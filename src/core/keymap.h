// Key zones: how an instrument's sounds share the keyboard. Reading and
// writing a sound's key range safely while notes start, the even split of
// "Map", the overlap test that enables it, the neighbour rules of "Auto Map",
// and which keys an instrument map shows solid, stippled or plain.
//
// An instrument here is the run of slots first .. first + count - 1 of
// `t_sound`; empty slots take no part.
#pragma once

#include <cstdint>

struct p_s;

constexpr int kKeys = 128;

// Any thread. `key` limited to 0..127.
int clamp_key(int key);

// Any thread. Whether `key` lies in the sound's key zone. A zone read in the
// middle of a range edit (low end of one range, high end of the other, and
// nothing between them) is read again.
bool zone_holds(const p_s& s, int key);

// GUI thread. Sets both ends of a key range. Each end is one atomic store,
// ordered so that a reader between the two stores always sees a range that
// holds at least one key when the old and the new range do.
void set_key_range(p_s& s, int lo, int hi);

// GUI thread. "Map": every existing sound of slot j gets the keys
// w * j .. w * j + w - 1 with w = 128 / count.
void even_split(int first, int count);

// Any thread. Whether the instrument has two existing sounds a (earlier slot)
// and b (later slot) where an end of a's range lies inside b's.
bool domap(int first, int count);

// GUI thread. "Auto Map" around sound `chosen`: the neighbour below (among
// the others with key_lo <= chosen's key_lo, the one with the highest key_hi)
// ends one key below the chosen range, and the neighbour above (among the
// others with key_hi >= chosen's key_hi, the one with the lowest key_lo)
// starts one key above it; on ties the later slot wins. The chosen range's
// low end at 0 or 1, or high end at 126 or 127, leaves that neighbour alone.
// Does nothing for an instrument of one slot or an empty chosen slot.
void auto_map(int first, int count, int chosen);

// How the instrument map paints a key.
enum class KeyPaint : std::uint8_t { kPlain, kChosen, kOther };

// Any thread. The paint of each of the 128 keys for the instrument map:
// the chosen sound's range solid, keys that other sounds cover stippled, the
// rest plain. All plain when the chosen slot is empty.
void inst_key_paint(int first, int count, int chosen, KeyPaint out[kKeys]);
