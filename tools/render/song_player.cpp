#include "song_player.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/render.h"
#include "engine/voices.h"
#include "midi/midi_bytes.h"
#include "midi/midi_port.h"

namespace {

class SongRenderer {
  public:
    SongRenderer(const SongRenderOptions& o, const FrameSink& sink, SongRenderStats& stats)
        : buffer_frames_(std::max<std::size_t>(o.buffer_frames, 1)),
          sink_(sink),
          stats_(stats),
          buf_(buffer_frames_ * 2) {
        fmt_.frame_rate = o.rate;
        fmt_.channel_count = 2;
        fmt_.format = kFormatFloat;
    }

    // Renders until the song has reached frame `target`, in buffers of at most
    // the chosen size.
    bool render_to(std::uint64_t target) {
        while (stats_.frames < target) {
            const std::size_t n = static_cast<std::size_t>(
                std::min<std::uint64_t>(buffer_frames_, target - stats_.frames));
            if (!render_buffer(n)) return false;
        }
        return true;
    }

    bool render_buffer(std::size_t n) {
        fmt_.buffer_size = n * 2 * sizeof(float);
        BufferProc(nullptr, buf_.data(), n * 2 * sizeof(float), fmt_);
        // Eight running maxima, so that no comparison waits on the one before.
        float peaks[8] = {};
        std::size_t i = 0;
        for (; i + 8 <= n * 2; i += 8) {
            for (int k = 0; k < 8; ++k) peaks[k] = std::max(peaks[k], std::fabs(buf_[i + k]));
        }
        for (; i < n * 2; ++i) peaks[0] = std::max(peaks[0], std::fabs(buf_[i]));
        for (const float p : peaks) stats_.peak = std::max(stats_.peak, p);
        stats_.frames += n;
        return sink_(buf_.data(), n);
    }

    void count_voices() { stats_.max_voices = std::max(stats_.max_voices, active_voices()); }

  private:
    std::size_t buffer_frames_;
    const FrameSink& sink_;
    SongRenderStats& stats_;
    std::vector<float> buf_;
    raw_audio_format fmt_;
};

}  // namespace

bool song_fits(const SmfSong& song, const SongRenderOptions& options) {
    return std::isfinite(song.end_seconds) && song.end_seconds >= 0 &&
           song.end_seconds <= options.max_seconds;
}

bool render_song(const SmfSong& song, const SongRenderOptions& options, const FrameSink& sink,
                 SongRenderStats& stats) {
    stats = SongRenderStats{};
    if (!song_fits(song, options) || !(options.rate > 0.0f)) return false;
    SongRenderer r(options, sink, stats);
    MyBMidiPort port;
    const double rate = options.rate;
    for (std::size_t i = 0; i < song.events.size();) {
        const auto frame = static_cast<std::uint64_t>(std::llround(song.events[i].seconds * rate));
        if (!r.render_to(frame)) return false;
        // Every event that falls on this frame acts before the frame is rendered.
        for (; i < song.events.size() &&
               static_cast<std::uint64_t>(std::llround(song.events[i].seconds * rate)) <= frame;
             ++i) {
            const SmfEvent& e = song.events[i];
            dispatch_channel_message(port, e.status, e.data1, e.data2);
        }
        r.count_voices();
    }
    if (!r.render_to(static_cast<std::uint64_t>(std::llround(song.end_seconds * rate))))
        return false;
    const auto tail_end =
        stats.frames + static_cast<std::uint64_t>(std::max(0.0, options.max_tail_seconds) * rate);
    while (active_voices() > 0 && stats.frames < tail_end) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(
            options.buffer_frames ? options.buffer_frames : 1, tail_end - stats.frames));
        if (!r.render_buffer(n)) return false;
    }
    return true;
}
