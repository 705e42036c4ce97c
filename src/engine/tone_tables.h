// The precomputed pitch and pan tables, filled at start-up and read-only
// afterwards.
#pragma once

// Pitch factor of each key relative to key 0.
extern float inote[128];
// The sine pan law: sin(k * pi/2 / 128).
extern float tab_pan[128];

// GUI thread, before other threads run. Fills `inote` (each key 1.059463094
// times the previous, rounded to float at every step).
void fill_inote();
// GUI thread, before other threads run. Fills `tab_pan` with sin(k * pi/2 / 128).
void fill_tab_pan();
