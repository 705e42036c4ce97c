#include "midi/midi_bytes.h"

#include "midi/midi_port.h"

namespace {

// Data bytes that follow a channel status byte.
int data_length(std::uint8_t status) {
    switch (status & 0xF0) {
        case 0xC0:  // program change
        case 0xD0:  // channel pressure
            return 1;
        default:
            return 2;
    }
}

}  // namespace

void MidiByteParser::reset() {
    status_ = 0;
    have_ = 0;
    in_sysex_ = false;
}

void MidiByteParser::feed(const std::uint8_t* bytes, std::size_t count, MyBMidiPort& port) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = bytes[i];
        if (b >= 0xF8) continue;  // real-time: clock, start, stop, sensing, reset
        if (b & 0x80) {
            have_ = 0;
            if (b >= 0xF0) {
                // System common or exclusive: no channel message until the
                // next status byte.
                status_ = 0;
                in_sysex_ = b == 0xF0;
            } else {
                status_ = b;
                in_sysex_ = false;
            }
            continue;
        }
        if (in_sysex_ || status_ == 0) continue;
        data_[have_++] = b;
        if (have_ == data_length(status_)) {
            dispatch_channel_message(port, status_, data_[0], data_[1]);
            have_ = 0;  // the status stays for running status
        }
    }
}

void dispatch_channel_message(MyBMidiPort& port, std::uint8_t status, std::uint8_t data1,
                              std::uint8_t data2) {
    const std::uint8_t channel = status & 0x0F;
    switch (status & 0xF0) {
        case 0x80:
            port.NoteOff(channel, data1, data2);
            break;
        case 0x90:
            port.NoteOn(channel, data1, data2);
            break;
        case 0xB0:
            port.ControlChange(channel, data1, data2);
            break;
        case 0xC0:
            port.ProgramChange(channel, data1);
            break;
        case 0xE0:
            port.PitchBend(channel, data1, data2);
            break;
        default:  // polyphonic and channel pressure
            break;
    }
}
