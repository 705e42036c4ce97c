// Standard MIDI Files (formats 0 and 1) read into a time-ordered list of
// channel voice messages with their times in seconds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct SmfEvent {
    double seconds;       // from the start of the song
    std::uint8_t status;  // 0x80..0xEF: message kind in the high nibble, channel in the low
    std::uint8_t data1;
    std::uint8_t data2;
};

struct SmfSong {
    int format = 0;
    int tracks = 0;
    std::vector<SmfEvent> events;  // sorted by time; file order among equal times
    double end_seconds = 0;        // time of the last event of any kind
    bool damaged = false;  // a track was cut short or malformed; what came before it is kept
};

// Any thread. Parses `size` bytes. Every length is checked against the bytes
// present; on failure returns false with a message in `error` and leaves
// `out` empty.
bool read_smf(const std::uint8_t* data, std::size_t size, SmfSong& out, std::string& error);

// Tool thread. Reads the whole file, then parses it.
bool read_smf_file(const char* path, SmfSong& out, std::string& error);
