#include "midi/midi_port.h"

#include <algorithm>
#include <climits>

#include "core/articulation.h"
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

constexpr std::uint8_t kDrumChannel = 9;
constexpr std::int32_t kNoRegister = 0x3FFF;  // the null registered parameter

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

// Controllers back to their start values as MIDI defines the reset: the
// bend, modulation and expression centred or off, the pedal up, no
// registered parameter selected; volume and pan stay.
void reset_controllers(std::uint8_t channel) {
    ch_pitch[channel] = 8192;
    ch_mod[channel] = 0;
    ch_expr[channel] = 127;
    ch_register[channel] = kNoRegister;
    if (ch_sustain[channel]) {
        ch_sustain[channel] = false;
        release_pedal(channel);
    }
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
        NoteOff(channel, note, 0, 0);
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
    if (play_as_set && ch_sustain[channel]) {
        hold_for_pedal(channel, note);
        return;
    }
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
    // Played as set, the drum channel's programs are the bank's drum kits:
    // kit n when the bank has it, else its standard kit.
    if (play_as_set && channel == kDrumChannel && !ch_instf[channel] && drum_kit_inst[0] >= 0) {
        const std::int32_t kit = program < kDrumKits ? drum_kit_inst[program].load() : -1;
        ch_inst[channel] = kit >= 0 ? kit : drum_kit_inst[0].load();
        return;
    }
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
            // Played as set, a pan of 0 is left as MIDI has it; the channel
            // table counts the other way, with 64 the centre of both.
            midi_func((play_as_set ? std::min(128 - data, 127u) : data) * 128u, kSrcPan, c);
            break;
        case 11:
            ch_expr[channel] = static_cast<std::int32_t>(data);
            break;
        case 64:
            // The pedal holds notes only while banks play as set, but lifting
            // it always lets go of what it holds (the switch may have changed
            // while it was down).
            if (data >= 64) {
                if (play_as_set) ch_sustain[channel] = true;
            } else {
                ch_sustain[channel] = false;
                release_pedal(channel);
            }
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
        case 120:
            silence_channel(channel);
            break;
        case 121:
            reset_controllers(channel);
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
