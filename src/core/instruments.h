// The instrument structure: which run of `t_sound` each instrument owns, the
// sound-to-instrument table `t_invert`, the mapping of sound-tree rows to
// sounds, and the table changes of adding and deleting sound slots and
// instruments.
//
// Invariants kept by every change: instrument k owns the sounds from
// `t_inst[k]` up to `t_inst[k + 1]` (the last one up to `nb_sound`), entries
// ascend from `t_inst[0]` = 0, every instrument owns at least one sound, and
// `t_invert` is rebuilt with them. Each change is made on a copy of the
// structure and published whole (structure.h); a record taken out of the
// table is retired, never freed on the spot, so voices and the render
// callback may keep reading while the structure changes.
#pragma once

#include <cstdint>

// Any thread. The instrument that owns sound `s` (the last instrument when no
// range holds it); -1 when there is no instrument at all.
std::int16_t quel_baseson(int s);

// Any thread. The sound a full-list tree row stands for: the sound of a sample
// row, or the first sound of an instrument row.
std::int16_t listtoson(int row);

// Any thread. First sound of instrument `k` and the number of sounds it owns
// (0 for an instrument that does not exist).
int inst_first(int k);
int inst_count(int k);

// GUI thread. Rebuilds `t_invert` for sounds 0 .. nb_sound - 1.
void do_invert();

// GUI thread. Appends one empty slot ("None sample") to the instrument of the
// selected sound `no_s`, which then selects the new slot. Returns the new
// sound index, or -1 when `t_sound` is full or there is no instrument.
int add_multi();

// GUI thread. Appends `count` empty slots to instrument `k`. Returns false
// (and changes nothing) when they do not fit in `t_sound`.
bool add_sounds(int k, int count);

// GUI thread. Appends an instrument named `name` that owns one empty slot.
// Returns its index, or -1 when `t_sound` or `t_inst` is full.
int add_inst(const char* name);

// GUI thread. Deletes sound `s`, or the whole instrument that owns it when
// `whole_instrument` is set or when `s` is that instrument's only sound.
// The last remaining sound becomes the selected one. Returns the number of
// sounds deleted.
int del_sound(int s, bool whole_instrument);

// GUI thread. Deletes `count` sounds of instrument `k` starting at sound
// `first`, which must all belong to it and leave it at least one sound.
// Returns false (and changes nothing) otherwise.
bool del_sounds(int k, int first, int count);

// GUI thread. The names that instrument rows of the sound tree show. The
// structure changes above keep them with their instruments; an empty name
// leaves the label to the window.
const char* inst_name(int k);
void set_inst_name(int k, const char* name);
void clear_inst_names();
