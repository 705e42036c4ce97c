// Builds Standard MIDI Files in memory for tests.
#pragma once

#include <cstdint>
#include <vector>

namespace testkit {

class SmfTrack {
  public:
    // Appends an event `delta` ticks after the previous one.
    SmfTrack& event(std::uint32_t delta, std::vector<std::uint8_t> bytes);
    SmfTrack& tempo(std::uint32_t delta, std::uint32_t usec_per_quarter);
    SmfTrack& end(std::uint32_t delta = 0);
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

  private:
    std::vector<std::uint8_t> bytes_;
};

void put_vlq(std::vector<std::uint8_t>& out, std::uint32_t v);
// A whole file: header with `format` and `division`, then the tracks.
std::vector<std::uint8_t> smf_file(int format, std::uint16_t division,
                                   const std::vector<SmfTrack>& tracks);

}  // namespace testkit
