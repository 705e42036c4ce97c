#include "core/hooks.h"

#include <cstdio>

UiHooks& ui_hooks() {
    static UiHooks hooks;
    return hooks;
}

void alert(const char* text, const char* button) {
    if (ui_hooks().alert) {
        ui_hooks().alert(text, button);
    } else {
        std::fprintf(stderr, "alert: %s [%s]\n", text, button);
    }
}

void alert_with_details(const char* text, const char* button, const char* details) {
    if (!details || !*details) {
        alert(text, button);
    } else if (ui_hooks().alert_details) {
        ui_hooks().alert_details(text, button, details);
    } else if (ui_hooks().alert) {
        ui_hooks().alert(text, button);
    } else {
        std::fprintf(stderr, "alert: %s (%s) [%s]\n", text, details, button);
    }
}

void notice(const char* text, const char* details) {
    if (ui_hooks().notice) {
        ui_hooks().notice(text, details ? details : "");
    } else {
        std::fprintf(stderr, "%s\n%s", text, details ? details : "");
    }
}

void notify_sound_changed(int index) {
    if (ui_hooks().sound_changed) ui_hooks().sound_changed(index);
}

void notify_instruments_changed() {
    if (ui_hooks().instruments_changed) ui_hooks().instruments_changed();
}

void post_to_main(std::uint32_t code) {
    if (ui_hooks().post) ui_hooks().post(code);
}
