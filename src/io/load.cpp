#include "io/load.h"

#include <cstdio>
#include <memory>
#include <string>
#include <utility>

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

}  // namespace

PreparedSound prepare_sound(const char* path, const char* display_name, std::int64_t stream_from) {
    PreparedSound out;
    const FileKind kind = file_kind(path, file_type_of(path));
    FileInput file(path);
    if (!file.ok()) {
        out.why = file.why();
        out.result = LoadResult::unopenable;
        return out;
    }
    if (file.size() == 0) {
        out.why = "is empty";
    } else if (kind == kKindAvr) {
        out.rec = read_avr(file, &out.why);
        if (!out.rec) std::printf("cannot read AVR file -- %s\n", out.why.c_str());
    } else {
        out.rec = decode_media(path, &out.why, stream_from);
    }
    if (!out.rec) {
        out.result = LoadResult::refused;
        return out;
    }
    complete(*out.rec, path, display_name ? display_name : "");
    out.result = LoadResult::loaded;
    return out;
}

LoadResult place_sound(int slot, PreparedSound prepared) {
    if (prepared.result == LoadResult::refused) error(kNotAudio, prepared.why.c_str());
    if (prepared.rec && slot >= 0 && slot < kMaxSounds) replace_sound(slot, prepared.rec.release());
    reclaim::reclaim();
    // The tree, the overview, the length display and the sample editor follow
    // the slot; every open parameter window refreshes.
    notify_sound_changed(slot);
    post_to_main(fourcc("RauQ"));
    return prepared.result;
}

void error(const char* text, const char* details) {
    alert_with_details(text, "...", details);
}

LoadResult load(int, const char* path, const char* display_name, std::string* why) {
    const int slot = no_s;
    if (!path || slot < 0 || slot >= kMaxSounds) {
        if (why) *why = path ? "no sound slot is selected" : "has no name";
        return LoadResult::unopenable;
    }
    loadin = true;
    PreparedSound prepared = prepare_sound(path, display_name);
    if (why) *why = prepared.why;
    loadin = false;
    return place_sound(slot, std::move(prepared));
}
