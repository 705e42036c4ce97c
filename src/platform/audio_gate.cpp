#include "platform/audio_gate.h"

#include <cmath>
#include <cstring>
#include <thread>

#include "core/reclaim.h"
#include "platform/output_recorder.h"
#include "platform/timed_midi.h"

void AudioGate::take_midi(TimedMidiQueue* queue, MyBMidiPort* port) noexcept {
    midi_ = queue && port ? queue : nullptr;
    port_ = port;
}

void AudioGate::open() noexcept {
    open_.store(true, std::memory_order_seq_cst);
    if (midi_) midi_->set_taken(true);
}

unsigned AudioGate::due_frame(const TimedMidiEvent& e, const OutputClock& clock, float rate,
                              unsigned frames) noexcept {
    if (clock.period == 0) return 0;
    double at = 0;
    if (e.frame_time) {
        if (!clock.has_frame_time) return 0;
        at = double(e.when - clock.frame_time);
    } else {
        // One period late, at the message's distance from the period's start.
        at = clock.period + double(e.when - clock.period_ns) * rate * 1e-9 - clock.offset;
    }
    if (!(at > 0)) return 0;
    return at >= frames ? frames : static_cast<unsigned>(at);
}

void AudioGate::mix(float* out, unsigned frames, float rate) noexcept {
    raw_audio_format format;
    format.frame_rate = rate;
    format.channel_count = 2;
    format.format = kFormatFloat;
    format.buffer_size = std::size_t(frames) * 2 * sizeof(float);
    proc_(cookie_, out, format.buffer_size, format);
}

void AudioGate::render(float* out, unsigned frames, float rate, const OutputClock& clock) noexcept {
    // Announce first, then look at the door: `close` stores the door first,
    // then looks at the announcement, so one of the two sees the other.
    inside_.fetch_add(1, std::memory_order_seq_cst);
    if (open_.load(std::memory_order_seq_cst) && proc_) {
        unsigned done = 0;
        if (midi_) {
            // The hooks read the shared tables; when no reader slot is free
            // the messages wait for the next call.
            reclaim::ReadSection section(reclaim::no_wait);
            while (section.entered()) {
                const TimedMidiEvent* e = midi_->front();
                if (!e) break;
                const unsigned at = due_frame(*e, clock, rate, frames);
                if (at >= frames) break;
                if (at > done) {
                    mix(out + 2 * std::size_t(done), at - done, rate);
                    done = at;
                }
                // Each message is whole: no running status across messages.
                parser_.reset();
                parser_.feed(e->bytes, e->size, *port_);
                midi_->pop();
            }
        }
        if (done < frames) mix(out + 2 * std::size_t(done), frames - done, rate);
        buffers_.fetch_add(1, std::memory_order_relaxed);
    } else {
        std::memset(out, 0, std::size_t(frames) * 2 * sizeof(float));
    }
    output_tap::pass(out, frames, rate);  // a recording hears what the output plays
    inside_.fetch_sub(1, std::memory_order_seq_cst);
    // Output threads belong to the audio library and end without telling
    // us; giving the reader slot back after each buffer keeps none stranded.
    reclaim::release_thread_slot();
}

void AudioGate::close() noexcept {
    open_.store(false, std::memory_order_seq_cst);
    while (inside_.load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
    if (!midi_) return;
    // From now on producers apply their messages themselves; what is still
    // queued (a note-off among it) is applied here rather than lost.
    midi_->set_taken(false);
    while (const TimedMidiEvent* e = midi_->front()) {
        parser_.reset();
        parser_.feed(e->bytes, e->size, *port_);
        midi_->pop();
    }
}
