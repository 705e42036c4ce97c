#include "io/load.h"

#include <cstdio>
#include <memory>
#include <string>

#include "core/hooks.h"
#include "core/notify.h"
#include "core/reclaim.h"
#include "core/sound.h"
#include "io/avr.h"
#include "io/file_kind.h"
#include "io/input_bytes.h"
#include "io/mediafile.h"

namespace {

constexpr const char* kNotAudio = "Not an audio file or format not supported";

// Everything a freshly loaded sound gets besides what its reader set.
void complete(p_s& rec, const char* path, const char* display_name) {
    finish_loaded_sound(&rec);
    std::snprintf(rec.path, sizeof rec.path, "%s", path);
    if (rec.name[0] == 0) std::snprintf(rec.name, sizeof rec.name, "%s", display_name);
}

LoadResult read_into_slot(int slot, const char* path, const char* display_name, std::string& why) {
    const FileKind kind = file_kind(path, file_type_of(path));
    FileInput file(path);
    if (!file.ok()) {
        why = file.why();
        return LoadResult::unopenable;
    }

    std::unique_ptr<p_s> rec;
    if (file.size() == 0) {
        why = "is empty";
    } else if (kind == kKindAvr) {
        rec = read_avr(file, &why);
        if (!rec) std::printf("cannot read AVR file -- %s\n", why.c_str());
    } else {
        rec = decode_media(path, &why);
    }
    if (!rec) {
        error(kNotAudio, why.c_str());
        return LoadResult::refused;
    }
    complete(*rec, path, display_name ? display_name : "");
    replace_sound(slot, rec.release());
    return LoadResult::loaded;
}

}  // namespace

void error(const char* text, const char* details) {
    alert_with_details(text, "...", details);
}

LoadResult load(int, const char* path, const char* display_name, std::string* why) {
    const int slot = no_s;
    std::string reason;
    if (!path || slot < 0 || slot >= kMaxSounds) {
        if (why) *why = path ? "no sound slot is selected" : "has no name";
        return LoadResult::unopenable;
    }
    loadin = true;
    const LoadResult result = read_into_slot(slot, path, display_name, reason);
    if (why) *why = reason;
    loadin = false;
    reclaim::reclaim();
    // The tree, the overview, the length display and the sample editor follow
    // the slot; every open parameter window refreshes.
    notify_sound_changed(slot);
    post_to_main(fourcc("RauQ"));
    return result;
}
