// Turns a MIDI byte stream into calls of the input endpoint's hooks: note
// on/off, controller, program change and pitch bend, with running status.
// System common and exclusive messages cancel running status and are skipped,
// real-time bytes are skipped wherever they appear, and pressure messages are
// read (to keep in step) and dropped.
#pragma once

#include <cstddef>
#include <cstdint>

class MyBMidiPort;

// MIDI thread (or any thread playing notes in its place). Sends one channel
// voice message to the hooks of `port`; `data2` is ignored by messages that
// have one data byte, and pressure messages have no effect.
void dispatch_channel_message(MyBMidiPort& port, std::uint8_t status, std::uint8_t data1,
                              std::uint8_t data2);

class MidiByteParser {
  public:
    // MIDI thread. Feeds bytes; complete channel messages reach `port`.
    void feed(const std::uint8_t* bytes, std::size_t count, MyBMidiPort& port);
    // MIDI thread. Forgets any partial message and the running status.
    void reset();

  private:
    std::uint8_t status_ = 0;  // running status, 0 when none
    std::uint8_t data_[2] = {};
    int have_ = 0;  // data bytes collected for the current message
    bool in_sysex_ = false;
};
