#include "edit/sample_edit.h"

#include <algorithm>
#include <cstring>

#include "core/convert.h"
#include "core/hooks.h"
#include "core/notify.h"
#include "core/sound.h"
#include "edit/sample_ops.h"
#include "edit/view_ops.h"
#include "engine/stream.h"
#include "engine/voices.h"

const char* const kStreamedRefusal =
    "This sound is streamed from disk and cannot be edited: it is read from its file as it plays.";
const char* const kStreamedLoopRefusal =
    "This sound is streamed from disk and has no loop: it plays its file once, from start to end.";

namespace {

std::int32_t clamp_frames(std::uint64_t frames) {
    return std::int32_t(std::min<std::uint64_t>(frames, INT32_MAX));
}

// Frames of the record's data.
std::int32_t frames_of(const p_s& s) {
    return clamp_frames(std::uint32_t(s.size) >> s.shift);
}

bool streamed(const p_s& s) {
    return s.type == kTypeStreamed;
}

}  // namespace

std::int32_t SampleEdit::shown_frames(const p_s& s) {
    if (streamed(s)) return clamp_frames(std::uint64_t(std::max<std::int64_t>(s.nframes, 0)));
    return frames_of(s);
}

SampleEdit::ShownLoop SampleEdit::shown_loop(const p_s& s) {
    if (streamed(s)) return {false, 0, std::uint32_t(shown_frames(s))};
    return {s.loop != 0, std::uint32_t(s.loop_start) >> s.shift,
            std::uint32_t(s.loop_end) >> s.shift};
}

SampleEdit::SampleEdit(int sound, EditHooks hooks)
    : ref_(sound_ref(sound)), hooks_(std::move(hooks)) {
    st_.sound = sound;
    reinit();
}

p_s* SampleEdit::record() {
    if (ref_.empty()) return nullptr;
    p_s* rec = resolve(ref_);
    if (!rec) {
        // The history was made on a sound that is no longer there.
        history_.clear();
        return nullptr;
    }
    st_.sound = ref_.slot;
    return rec;
}

bool SampleEdit::gone() {
    return !ref_.empty() && !record();
}

bool SampleEdit::reinit() {
    st_.clear_block();
    st_.view_start = 0;
    const p_s* rec = record();
    if (!rec || !rec->data) {
        history_.clear();
        st_.total_frames = st_.view_end = 0;
        return false;
    }
    st_.total_frames = st_.view_end = shown_frames(*rec);
    return true;
}

bool SampleEdit::retarget(int slot) {
    const SoundRef now = sound_ref(slot);
    if (now.ident != ref_.ident) history_.clear();
    ref_ = now;
    st_.sound = slot;
    return reinit();
}

Snapshot SampleEdit::snapshot() {
    Snapshot s;
    if (const p_s* rec = record()) {
        s.ident = rec->ident;
        s.block = rec->block;
        s.data = rec->data;
        s.capacity = rec->capacity;
        s.size = rec->size;
        s.loop_start = rec->loop_start;
        s.loop_end = rec->loop_end;
        s.loop = rec->loop;
    }
    s.block_start = st_.block_start;
    s.block_end = st_.block_end;
    s.view_start = st_.view_start;
    s.view_end = st_.view_end;
    return s;
}

void SampleEdit::finish_edit() {
    if (hooks_.refresh_images) hooks_.refresh_images();
    if (hooks_.data_changed) hooks_.data_changed();
}

bool SampleEdit::apply(EditOp op) {
    const p_s* rec = record();
    if (!rec || !rec->data || !st_.has_block()) return false;
    if (streamed(*rec)) {
        alert(kStreamedRefusal, "...");
        return false;
    }
    const std::int32_t a = st_.block_start, b = st_.block_end;
    // A block that no longer fits the data (the slot changed under the
    // editor) is never used.
    if (a < 0 || b > frames_of(*rec) || a == b) return false;
    p_s* n = nullptr;
    switch (op) {
        case kClear:
            n = clear_frames(*rec, a, b);
            break;
        case kDelete:
            n = delete_frames(*rec, a, b);
            break;
        case kInsert:
            n = insert_frames(*rec, a, b);
            break;
        case kFadeIn:
            n = fade_in_frames(*rec, a, b);
            break;
        case kFadeOut:
            n = fade_out_frames(*rec, a, b);
            break;
        case kNormalize:
            n = normalize_frames(*rec, a, b);
            break;
        case kReverse:
            n = reverse_frames(*rec, a, b);
            break;
    }
    if (!n) return false;
    const bool shorter = op == kDelete;
    if (!publish(n, snapshot())) return false;
    if (shorter) {
        if (st_.view_end > st_.total_frames) st_.view_end = st_.total_frames;
        clamp_view(st_);
        if (st_.block_end > st_.total_frames) st_.clear_block();
    }
    finish_edit();
    return true;
}

bool SampleEdit::publish(p_s* rec, const Snapshot& before) {
    replace_sound(st_.sound, rec);
    history_.record(before, rec->data);
    st_.total_frames = frames_of(*rec);
    return true;
}

bool SampleEdit::restore(const Snapshot& s) {
    p_s* rec = record();
    if (!rec || !rec->data) return false;
    if (rec->ident != s.ident || streamed(*rec)) {
        // Never another sound's state, and never the ring of a streamed one.
        history_.clear();
        return false;
    }
    if (rec->data == s.data && rec->size == s.size) {
        // Same data: only the loop changes, one field at a time.
        rec->loop_start = s.loop_start;
        rec->loop_end = s.loop_end;
        rec->loop = s.loop;
    } else {
        p_s* n = new p_s(*rec);
        n->block = s.block;
        n->data = s.data;
        n->capacity = s.capacity;
        n->size = s.size;
        n->loop_start = s.loop_start;
        n->loop_end = s.loop_end;
        n->loop = s.loop;
        replace_sound(st_.sound, n);
        rec = n;
    }
    st_.total_frames = frames_of(*rec);
    st_.block_start = s.block_start;
    st_.block_end = s.block_end;
    if (st_.has_block() && (st_.block_start < 0 || st_.block_end > st_.total_frames))
        st_.clear_block();
    st_.view_start = s.view_start;
    st_.view_end = s.view_end;
    clamp_view(st_);
    if (hooks_.set_button) hooks_.set_button(EditButton::kLoop, rec->loop ? 1 : 0);
    if (hooks_.set_field) {
        hooks_.set_field(LoopField::kStart, std::uint32_t(rec->loop_start) >> rec->shift);
        hooks_.set_field(LoopField::kEnd, std::uint32_t(rec->loop_end) >> rec->shift);
    }
    finish_edit();
    return true;
}

bool SampleEdit::undo() {
    const p_s* rec = record();
    if (!rec || !rec->data) return false;
    auto s = history_.undo(snapshot());
    return s && restore(*s);
}

bool SampleEdit::redo() {
    const p_s* rec = record();
    if (!rec || !rec->data) return false;
    auto s = history_.redo(snapshot());
    return s && restore(*s);
}

void SampleEdit::loop_changed(const Snapshot& before) {
    const p_s* rec = record();
    if (!rec) return;
    if (before.loop_start != rec->loop_start || before.loop_end != rec->loop_end ||
        before.loop != rec->loop)
        history_.record(before, rec->data);
}

void SampleEdit::refuse_loop_change(const p_s& rec) {
    alert(kStreamedLoopRefusal, "...");
    const ShownLoop l = shown_loop(rec);
    if (hooks_.set_button) hooks_.set_button(EditButton::kLoop, l.on ? 1 : 0);
    if (hooks_.set_field) {
        hooks_.set_field(LoopField::kStart, l.start);
        hooks_.set_field(LoopField::kEnd, l.end);
    }
}

void SampleEdit::toggle_loop() {
    p_s* rec = record();
    if (!rec) return;
    if (streamed(*rec)) return refuse_loop_change(*rec);
    const Snapshot before = snapshot();
    rec->loop = rec->loop ? 0 : 1;
    if (hooks_.set_button) hooks_.set_button(EditButton::kLoop, rec->loop ? 1 : 0);
    loop_changed(before);
}

void SampleEdit::set_loop_start(const char* text) {
    p_s* rec = record();
    if (!rec) return;
    if (streamed(*rec)) return refuse_loop_change(*rec);
    const Snapshot before = snapshot();
    const int sh = rec->shift;
    const auto v = std::uint32_t(str_to_int(text, int(std::strlen(text))));
    if (v < (std::uint32_t(rec->loop_end) >> sh)) rec->loop_start = v << sh;
    loop_changed(before);
    if (hooks_.set_field) hooks_.set_field(LoopField::kStart, std::uint32_t(rec->loop_start) >> sh);
}

void SampleEdit::set_loop_end(const char* text) {
    p_s* rec = record();
    if (!rec) return;
    if (streamed(*rec)) return refuse_loop_change(*rec);
    const Snapshot before = snapshot();
    const int sh = rec->shift;
    const auto v = std::uint32_t(str_to_int(text, int(std::strlen(text))));
    if ((std::uint32_t(rec->loop_start) >> sh) < v && v < (std::uint32_t(rec->size) >> sh))
        rec->loop_end = v << sh;
    loop_changed(before);
    if (hooks_.set_field) hooks_.set_field(LoopField::kEnd, std::uint32_t(rec->loop_end) >> sh);
}

void SampleEdit::play_whole() {
    const p_s* rec = record();
    if (!rec) return;
    if (!(st_.play_state & 1)) {
        st_.play_state = 1;
        addnote(0, std::uint32_t(rec->base), std::uint32_t(st_.sound), 127, false,
                std::uint32_t(st_.total_frames), 0);
    } else if (hooks_.set_button) {
        hooks_.set_button(EditButton::kPlayWhole, 1);
    }
}

void SampleEdit::play_block() {
    const p_s* rec = record();
    if (!rec) return;
    if (!(st_.play_state & 2)) {
        if (st_.block_start < st_.block_end) {
            st_.play_state |= 2;
            std::uint32_t start = std::uint32_t(st_.block_start);
            // A streamed sound's block is in its file's frames, and only the
            // ring's resident start holds the same frames as the file: a
            // block beyond it plays from the start of the sound.
            RingGeometry ring;
            if (streamed(*rec) && (!ring_geometry(*rec, &ring) || start >= ring.half)) start = 0;
            addnote(0, std::uint32_t(rec->base), std::uint32_t(st_.sound), 127, false,
                    std::uint32_t(st_.block_end), start);
        }
    } else if (hooks_.set_button) {
        hooks_.set_button(EditButton::kPlayBlock, 1);
    }
}

void SampleEdit::stop() {
    const p_s* rec = record();
    if (!rec) return;
    delnote(0, std::uint32_t(rec->base), std::uint32_t(st_.sound), 100, -1);
    preview_ended();
}

void SampleEdit::preview_ended() {
    st_.play_state = 0;
    if (hooks_.set_button) {
        hooks_.set_button(EditButton::kPlayWhole, 0);
        hooks_.set_button(EditButton::kPlayBlock, 0);
    }
}

void SampleEdit::zoom_in() {
    ::zoom_in(st_);
    if (hooks_.refresh_images) hooks_.refresh_images();
}

void SampleEdit::zoom_out() {
    ::zoom_out(st_);
    if (hooks_.refresh_images) hooks_.refresh_images();
}

bool SampleEdit::command(std::uint32_t code) {
    if (code >= fourcc("T001") && code <= fourcc("T007")) {
        apply(EditOp(code - fourcc("T001")));
        return true;
    }
    switch (code) {
        case fourcc("loon"):
            toggle_loop();
            return true;
        case fourcc("bply"):
            play_whole();
            return true;
        case fourcc("bplb"):
            play_block();
            return true;
        case fourcc("bstp"):
            stop();
            return true;
        case fourcc("uped"):
            preview_ended();
            return true;
        case fourcc("zpls"):
            zoom_in();
            return true;
        case fourcc("zmns"):
            zoom_out();
            return true;
        default:
            return false;
    }
}
