// Turns a MIDI byte stream into calls of the input endpoint's hooks: note
// on/off, controller, program change and pitch bend, with running status.
// System common and exclusive messages cancel running status and are skipped,
// real-time bytes are skipped wherever they appear, and pressure messages are
// read (to keep in step) and dropped.
#pragma once

#include <cstddef>
#include <cstdint>

class MyBMidiPort;

class MidiByteParser {
  public:
    // MIDI thread. Feeds bytes; complete channel messages reach `port`.
    void feed(const std::uint8_t* bytes, std::size_t count, MyBMidiPort& port);
    // MIDI thread. Forgets any partial message and the running status.
    void reset();

  private:
    void dispatch(MyBMidiPort& port);

    std::uint8_t status_ = 0;  // running status, 0 when none
    std::uint8_t data_[2] = {};
    int have_ = 0;  // data bytes collected for the current message
    bool in_sysex_ = false;
};
