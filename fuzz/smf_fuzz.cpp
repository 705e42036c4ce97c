// Feeds arbitrary bytes to the MIDI file reader.
#include <cstddef>
#include <cstdint>
#include <string>

#include "io/smf.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SmfSong song;
    std::string error;
    if (read_smf(data, size, song, error)) {
        // Times must come out ordered and finite for the player to use them.
        double last = 0;
        for (const SmfEvent& e : song.events) {
            if (!(e.seconds >= last)) __builtin_trap();
            last = e.seconds;
            if (e.status < 0x80 || e.status > 0xEF || e.data1 > 127 || e.data2 > 127)
                __builtin_trap();
        }
    }
    return 0;
}
