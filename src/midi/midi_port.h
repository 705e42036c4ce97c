// The MIDI input endpoint: turns channel voice messages into voices and into
// the channel tables the render callback reads.
#pragma once

#include <cstdint>

#include "core/rt.h"

// Parameter-source codes held in `midimess_to_func`.
enum MidiSource : std::uint32_t {
    kSrcPitchBend = 0,
    kSrcMainVolume = 1,  // controller 7
    kSrcPan = 2,         // controller 10
    kSrcCoarseTune = 3,  // registered parameter 2
    kSrcVelocity = 4,    // note-on velocity
    kSrcModulation = 5,  // controller 1
};

// The source bound to each channel parameter slot (pitch bend, main volume,
// pan, coarse tune, modulation, ...): written by the channel window, read by
// the MIDI hooks. A lower slot wins when two share a source.
extern rt<std::uint32_t> midimess_to_func[16];
// Slots that drive a channel table: pitch bend, main volume, pan, coarse
// tune and modulation.
constexpr int kBoundSlots = 5;
constexpr int kSlotModulation = 4;
// GUI thread, with no other thread running. Slots 0..3 bound to sources
// 0..3, slot 4 (modulation) to the modulation wheel.
void reset_bindings();

// Flags of a value word passed to midi_func.
constexpr std::uint32_t kMidiIncrement = 0x20000;
constexpr std::uint32_t kMidiDecrement = 0x40000;
constexpr std::uint32_t kMidiUpperPart = 0x8000;
constexpr std::uint32_t kMidiLowerPart = 0x10000;

// MIDI thread. Applies a value word from `source` to the first channel
// parameter bound to that source; `channel` is 1..16.
void midi_func(std::uint32_t value, std::uint32_t source, int channel);

// The input endpoint "Plexora node (in)". The transport calls its hooks with
// channel 0..15 and the message's data bytes; time stamps are not used.
class MyBMidiPort {
  public:
    static constexpr const char* kName = "Plexora node (in)";

    MyBMidiPort() = default;
    virtual ~MyBMidiPort() = default;

    // MIDI thread (or any thread playing notes in its place).
    virtual void NoteOn(std::uint8_t channel, std::uint8_t note, std::uint8_t velocity,
                        std::int64_t time = 0);
    virtual void NoteOff(std::uint8_t channel, std::uint8_t note, std::uint8_t velocity,
                         std::int64_t time = 0);
    virtual void ControlChange(std::uint8_t channel, std::uint8_t controller, std::uint8_t value,
                               std::int64_t time = 0);
    virtual void PitchBend(std::uint8_t channel, std::uint8_t lsb, std::uint8_t msb,
                           std::int64_t time = 0);
    virtual void ProgramChange(std::uint8_t channel, std::uint8_t program, std::int64_t time = 0);
    // Does nothing: notes are released by controller 123 instead.
    virtual void AllNotesOff(bool just_channel, std::int64_t time = 0);

    const char* Name() const { return kName; }
};
