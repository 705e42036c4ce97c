#include "midi/midi_port.h"

#include <algorithm>
#include <climits>

#include "core/reclaim.h"
#include "core/sound.h"
#include "engine/channels.h"
#include "engine/voice_table.h"
#include "engine/voices.h"

rt<std::uint32_t> midimess_to_func[16];

void reset_bindings() {
    for (auto& m : midimess_to_func) m = 0;
    for (std::uint32_t i = 0; i < 4; ++i) midimess_to_func[i] = i;
    midimess_to_func[kSlotModulation] = kSrcModulation;  // the wheel works out of the box
}

namespace {

rt<std::int32_t>* const kSlotTable[kBoundSlots] = {ch_pitch, ch_main, ch_pan, ch_ctune, ch_mod};

// The instrument selected in the main window.
std::uint32_t selected_instrument() {
    int s = no_s;
    if (s < 0 || s >= kMaxSounds) s = 0;
    reclaim::ReadSection section;  // the structure may be replaced meanwhile
    return structure().invert[s];
}

bool valid_channel(std::uint8_t channel) {
    return channel < kChannels;
}

// The pitch-bend range in hundredths of a semitone, from the semitones that
// data entry's upper part gives and the cents its lower part gives.
std::int32_t bend_range(std::int64_t semitones, std::int64_t cents) {
    return static_cast<std::int32_t>(std::min<std::int64_t>(semitones * 100 + cents, INT32_MAX));
}

}  // namespace

void midi_func(std::uint32_t value, std::uint32_t source, int channel) {
    if (channel < 1 || channel > kChannels) return;
    int slot = -1;
    for (int i = 0; i < kBoundSlots; ++i) {
        if (midimess_to_func[i] == source) {
            slot = i;
            break;
        }
    }
    if (slot < 0) return;
    rt<std::int32_t>& p = kSlotTable[slot][channel - 1];
    const std::int32_t old = p;
    if (value & kMidiIncrement) {
        if (old <= (slot == 0 ? 16382 : 126)) p = old + 1;
    } else if (value & kMidiDecrement) {
        if (old > 0) p = old - 1;
    } else if (value & kMidiUpperPart) {
        if (slot == 0) p = (old & 0xFF) + static_cast<std::int32_t>(value & 0x7F);
    } else if (value & kMidiLowerPart) {
        p = (old & 0xFF00) + static_cast<std::int32_t>(value & 0x7F);
    } else if (slot == 0) {
        p = static_cast<std::int32_t>(value & 0x7FFFFFFF);
    } else {
        p = static_cast<std::int32_t>(value >> 7);
    }
}

void MyBMidiPort::NoteOn(std::uint8_t channel, std::uint8_t note, std::uint8_t velocity,
                         std::int64_t) {
    if (!valid_channel(channel)) return;
    if (velocity == 0) {
        delnote(channel, note, selected_instrument(), 0, -1);
        return;
    }
    const std::uint32_t inst =
        fmodei ? selected_instrument() : static_cast<std::uint32_t>(ch_inst[channel].load());
    addnote(channel, note, inst, velocity, true, 0, 0);
    midi_func(velocity * 128u, kSrcVelocity, channel + 1);
}

void MyBMidiPort::NoteOff(std::uint8_t channel, std::uint8_t note, std::uint8_t velocity,
                          std::int64_t) {
    if (!valid_channel(channel)) return;
    delnote(channel, note, selected_instrument(), velocity, -1);
}

void MyBMidiPort::PitchBend(std::uint8_t channel, std::uint8_t lsb, std::uint8_t msb,
                            std::int64_t) {
    if (!valid_channel(channel)) return;
    midi_func((lsb & 0x7Fu) + (msb & 0x7Fu) * 128u, kSrcPitchBend, channel + 1);
}

void MyBMidiPort::ProgramChange(std::uint8_t channel, std::uint8_t program, std::int64_t) {
    if (!valid_channel(channel)) return;
    reclaim::ReadSection section;
    if (program < structure().nb_inst && !ch_instf[channel]) ch_inst[channel] = program;
}

void MyBMidiPort::ControlChange(std::uint8_t channel, std::uint8_t controller, std::uint8_t value,
                                std::int64_t) {
    if (!valid_channel(channel)) return;
    const std::uint32_t data = value & 0x7Fu;
    const int c = channel + 1;
    const std::int32_t reg = ch_register[channel];
    rt<std::int32_t>& sens = ch_pitchsens[channel];
    switch (controller) {
        case 1:
            midi_func(data * 128u, kSrcModulation, c);
            break;
        case 6:
            if (reg == 0) sens = bend_range(data, sens % 100);
            if (reg == 2) midi_func(data * 128u + kMidiUpperPart, kSrcCoarseTune, c);
            break;
        case 7:
            midi_func(data * 128u, kSrcMainVolume, c);
            break;
        case 10:
            midi_func(data * 128u, kSrcPan, c);
            break;
        case 38:
            if (reg == 0) sens = bend_range(sens / 100, std::min(data, 99u));
            if (reg == 2) midi_func(data + kMidiLowerPart, kSrcCoarseTune, c);
            break;
        case 96:
            // No upper bound, but never past what the table can hold.
            if (reg == 0 && sens < INT32_MAX) sens = sens + 1;
            if (reg == 2) midi_func(kMidiIncrement | 1u, kSrcCoarseTune, c);
            break;
        case 97:
            if (reg == 0 && sens > 0) sens = sens - 1;
            if (reg == 2) midi_func(kMidiDecrement | 1u, kSrcCoarseTune, c);
            break;
        case 101:
            ch_register[channel] = (reg & 0xFF) + static_cast<std::int32_t>(data * 128u);
            break;
        case 100:
            ch_register[channel] = (reg & 0xFF00) + static_cast<std::int32_t>(data);
            break;
        case 123: {
            const std::uint32_t inst = selected_instrument();
            for (NOTE_LIST& v : nlist) {
                if (v.playing() && v.channel == channel) {
                    delnote(channel, v.key, inst, 127, -1);
                }
            }
            break;
        }
        default:
            break;
    }
}

void MyBMidiPort::AllNotesOff(bool, std::int64_t) {}
