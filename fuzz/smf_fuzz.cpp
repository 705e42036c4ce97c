// Feeds arbitrary bytes to the MIDI file reader, and plays what it accepts
// under a short length limit: a song either fits and renders no more frames
// than the limit allows, or is refused before a single frame.
#include <cstddef>
#include <cstdint>
#include <string>

#include "io/smf.h"
#include "midi/reset_tables.h"
#include "song_player.h"

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool ready = (reset_tables(), true);
    (void)ready;
    SmfSong song;
    std::string error;
    if (!read_smf(data, size, song, error)) return 0;
    // Times must come out ordered and finite for the player to use them.
    double last = 0;
    for (const SmfEvent& e : song.events) {
        check(e.seconds >= last);
        last = e.seconds;
        check(e.status >= 0x80 && e.status <= 0xEF && e.data1 <= 127 && e.data2 <= 127);
    }
    check(song.end_seconds >= last);

    // Few frames: the bound, not the sound, is checked.
    const SongRenderOptions options{
        .rate = 200.0f, .buffer_frames = 64, .max_tail_seconds = 0.5, .max_seconds = 2.0};
    std::uint64_t frames = 0;
    SongRenderStats stats;
    const bool fits = song_fits(song, options);
    const auto sink = [&](const float*, std::size_t n) { return (frames += n), true; };
    const bool done = render_song(song, options, sink, stats);
    check(done == fits);
    check(frames == stats.frames);
    check(frames <= static_cast<std::uint64_t>((2.0 + 0.5) * 200) + 1);
    if (!fits) check(frames == 0);
    return 0;
}
