// The remembered choice of how banks play ("Play banks as their makers set
// them" in the Options menu; on unless the user turned it off).
#pragma once

// GUI thread. Sets the engine's switch from the stored choice and returns it.
bool restore_play_mode();
// GUI thread. Sets the engine's switch and remembers the choice.
void choose_play_mode(bool as_set);
