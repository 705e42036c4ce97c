// The few places where the engine library reaches the windows. The main
// window sets these hooks at start-up; tests set their own. Until a hook is
// set, alerts go to standard error and the other calls do nothing.
#pragma once

#include <cstdint>

struct UiHooks {
    // GUI thread. A modal stop alert titled "title" with one button.
    void (*alert)(const char* text, const char* button) = nullptr;
    // GUI thread. The same alert, with `details` (the reason found) shown on
    // request. When unset, `alert` shows the text alone.
    void (*alert_details)(const char* text, const char* button, const char* details) = nullptr;
    // GUI thread. Something the user should know after a load that is not
    // a failure (what an import left out): `text`, with `details` below it.
    void (*notice)(const char* text, const char* details) = nullptr;
    // GUI thread. Sound `index` changed (new data or name): relabel its tree
    // row and redraw the overview and envelope when it is the selected sound.
    void (*sound_changed)(int index) = nullptr;
    // GUI thread. The instrument structure changed: rebuild the sound tree.
    void (*instruments_changed)() = nullptr;
    // GUI thread. Posts a command code (for example 'RauQ') to the main window.
    void (*post)(std::uint32_t code) = nullptr;
};

// GUI thread.
UiHooks& ui_hooks();

// GUI thread. Shows a modal stop alert through the hook.
void alert(const char* text, const char* button = "Ok");
// GUI thread. The same with details behind the text (none when empty or null).
void alert_with_details(const char* text, const char* button, const char* details);
// GUI thread. A notice through the hook; on standard error when unset.
void notice(const char* text, const char* details);
// GUI thread. Calls the hooks that are set.
void notify_sound_changed(int index);
void notify_instruments_changed();
void post_to_main(std::uint32_t code);
