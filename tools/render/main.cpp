// plexora-render: plays a Standard MIDI File through the program's own
// instruments and engine into a 32-bit float WAV file, without a sound card.
//
//   plexora-render [--rate HZ] [--buffer FRAMES] [--play-selected] [--gain DB]
//                  [--max-seconds S] [--literal]
//                  (--bank FILE.sf2 | --instrument FILE.it|FILE.sfz | --sample FILE)
//                  SONG.mid OUT.wav
//
// Banks and SFZ instruments play as their makers set them (envelopes,
// tuning, levels, drum kits); --literal plays them the plain way instead: no
// envelope, linear velocity and volume, every bank zone looped. An SFZ
// instrument's import summary (regions refused, opcodes ignored) goes to
// standard error.
// --gain scales the mix before its final clip (default 0 dB: the program's own
// level). The summary line says how many samples clipped, the gain that would
// have avoided it, and the instrument each channel that played ended on.
// OUT.wav appears only whole (a device or FIFO is written straight into, a
// symbolic link keeps pointing at the new file), never replaces an input,
// and a song longer than the limit (6 hours unless told) is refused before
// anything is written. Inputs must be regular files.
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/articulation.h"
#include "core/hooks.h"
#include "core/instruments.h"
#include "core/reclaim.h"
#include "core/sound.h"
#include "engine/channels.h"
#include "engine/output_level.h"
#include "interrupt.h"
#include "io/load.h"
#include "io/loadi.h"
#include "io/smf.h"
#include "midi/reset_tables.h"
#include "safe_output.h"
#include "song_player.h"

namespace {

const char* const kUsage =
    "usage: plexora-render [--rate HZ] [--buffer FRAMES] [--play-selected] [--gain DB]\n"
    "                      [--max-seconds S] [--literal]\n"
    "                      (--bank FILE.sf2 | --instrument FILE.it|FILE.sfz | --sample FILE)\n"
    "                      SONG.mid OUT.wav\n";

struct Args {
    long rate = 44100;
    long buffer = 512;
    bool play_selected = false;
    bool literal = false;
    double gain_db = 0.0;
    double max_seconds = 6 * 3600.0;
    std::string material_kind;  // "bank", "instrument" or "sample"
    std::string material;
    std::string song;
    std::string out;
};

int fail(const std::string& message) {
    std::fprintf(stderr, "plexora-render: %s\n", message.c_str());
    return 1;
}

bool parse_number(const char* text, long lo, long hi, long& out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!end || *end || end == text || v < lo || v > hi) return false;
    out = v;
    return true;
}

bool parse_gain_db(const char* text, double& out) {
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (!end || *end || end == text || !(v >= -60.0 && v <= 40.0)) return false;
    out = v;
    return true;
}

// "clipped N samples (--gain G avoids it)": G is the most gain, to a tenth
// of a decibel, under which the loudest sample would not have clipped.
std::string clip_summary(double gain_db) {
    const ClipCounts c = clip_counts();
    std::string text = "clipped " + std::to_string(c.clipped) + " samples";
    if (c.peak > 0.0f) {
        const double safe = std::floor((gain_db - 20.0 * std::log10(c.peak)) * 10.0) / 10.0;
        char hint[64];
        std::snprintf(
            hint, sizeof hint,
            c.clipped ? " (--gain %.1f avoids it)" : " (--gain up to %.1f would not clip)", safe);
        text += hint;
    }
    return text;
}

// "channels 1 Piano 1, 10 Standard": the instrument each channel that
// played a note ended on.
std::string channel_summary(const SmfSong& song) {
    bool played[kChannels] = {};
    for (const SmfEvent& e : song.events) {
        if ((e.status & 0xF0) == 0x90 && e.data2 > 0) played[e.status & 0x0F] = true;
    }
    std::string text = "channels";
    const char* sep = " ";
    for (int c = 0; c < kChannels; ++c) {
        if (!played[c]) continue;
        const int k = fmodei ? quel_baseson(no_s) : int{ch_inst[c]};
        const std::string name = *inst_name(k) ? inst_name(k) : "instrument " + std::to_string(k);
        text += sep + std::to_string(c + 1) + " " + name;
        sep = ", ";
    }
    return *sep == ' ' ? text + " none" : text;
}

bool parse_args(int argc, char** argv, Args& a, std::string& error) {
    std::string positional[2];
    int npos = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--rate" && has_value) {
            if (!parse_number(argv[++i], 8000, 384000, a.rate)) {
                error = "--rate takes a frame rate from 8000 to 384000";
                return false;
            }
        } else if (arg == "--buffer" && has_value) {
            if (!parse_number(argv[++i], 1, 65536, a.buffer)) {
                error = "--buffer takes a frame count from 1 to 65536";
                return false;
            }
        } else if (arg == "--gain" && has_value) {
            if (!parse_gain_db(argv[++i], a.gain_db)) {
                error = "--gain takes decibels from -60 to 40";
                return false;
            }
        } else if (arg == "--max-seconds" && has_value) {
            char* end = nullptr;
            a.max_seconds = std::strtod(argv[++i], &end);
            if (!end || *end || !(a.max_seconds > 0) || a.max_seconds > 1e7) {
                error = "--max-seconds takes a length in seconds, above 0 and at most 10000000";
                return false;
            }
        } else if (arg == "--play-selected") {
            a.play_selected = true;
        } else if (arg == "--literal") {
            a.literal = true;
        } else if ((arg == "--bank" || arg == "--instrument" || arg == "--sample") && has_value) {
            if (!a.material_kind.empty()) {
                error = "give one of --bank, --instrument or --sample, once";
                return false;
            }
            a.material_kind = arg.substr(2);
            a.material = argv[++i];
        } else if (arg.rfind("--", 0) == 0) {
            error = "unknown or incomplete option " + arg;
            return false;
        } else if (npos < 2) {
            positional[npos++] = arg;
        } else {
            error = "too many arguments";
            return false;
        }
    }
    if (a.material_kind.empty() || npos != 2) {
        error = "missing arguments";
        return false;
    }
    a.song = positional[0];
    a.out = positional[1];
    return true;
}

std::string g_alert;
void record_alert(const char* text, const char*) {
    if (g_alert.empty()) g_alert = text;
}

std::string leaf_of(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Loads the material into the tables through the program's own loaders.
// A refusal names the file and the reason the loader found.
bool load_material(const Args& a, std::string& error) {
    const std::string leaf = leaf_of(a.material);
    no_s = 0;
    std::string why;
    if (a.material_kind == "sample") {
        load(0, a.material.c_str(), leaf.c_str(), &why);
    } else {
        loadi(0, a.material.c_str(), leaf.c_str(), &why);
    }
    bool playable = false;
    for (int i = 0; i < nb_sound; ++i) {
        const p_s* s = t_sound[i];
        if (s && s->data) playable = true;
    }
    if (g_alert.empty() && why.empty() && playable) return true;
    error = a.material + ": ";
    if (!g_alert.empty()) error += g_alert + (why.empty() ? "" : " (" + why + ")");
    if (g_alert.empty()) error += why.empty() ? "nothing playable in it" : why;
    return false;
}

// "134217727.5 s (37282 h 42 min)" for a length in seconds.
std::string length_text(double seconds) {
    char text[96];
    const auto whole = static_cast<unsigned long long>(seconds);
    std::snprintf(text, sizeof text, "%.1f s (%llu h %llu min)", seconds, whole / 3600,
                  whole / 60 % 60);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    Args args;
    std::string error;
    if (!parse_args(argc, argv, args, error)) {
        std::fputs(kUsage, stderr);
        return fail(error);
    }

    reset_tables();
    play_as_set = !args.literal;
    // Whatever way the program leaves, the sounds the tables own are freed
    // first, so leak checkers stay quiet.
    struct FreeTables {
        ~FreeTables() {
            reset_tables();
            reclaim::reclaim_all();
        }
    } free_tables;
    ui_hooks().alert = record_alert;
    interrupt::catch_signals();
    // Checked before anything is opened: a FIFO as an input would never end
    // its reading, and no input may be overwritten.
    for (const std::string& in : {args.material, args.song})
        if (!input_is_regular(in, error)) return fail(error);
    if (!output_is_safe(args.out, {args.material, args.song}, error)) return fail(error);
    // The song first: a song that cannot be rendered is refused at once.
    SmfSong song;
    if (!read_smf_file(args.song.c_str(), song, error)) return fail(error);
    if (song.damaged) {
        std::fprintf(stderr, "plexora-render: %s is damaged; playing what could be read\n",
                     args.song.c_str());
    }

    SongRenderOptions options;
    options.rate = static_cast<float>(args.rate);
    options.buffer_frames = static_cast<std::size_t>(args.buffer);
    options.max_seconds = args.max_seconds;
    if (!song_fits(song, options)) {
        return fail(args.song + " lasts " + length_text(song.end_seconds) +
                    ", longer than the limit of " + length_text(args.max_seconds) +
                    "; --max-seconds raises it");
    }
    if (song.events.empty()) return fail(args.song + ": no readable event; nothing to play");

    // Offline there is no streaming reader: every sound is held in memory.
    limitd2d = INT32_MAX;
    if (!load_material(args, error)) return fail(error);
    // Channels play their own programs unless asked to play the selection.
    fmodei = args.play_selected;
    set_output_gain(static_cast<float>(std::pow(10.0, args.gain_db / 20.0)));
    reset_clip_counts();

    SafeOutput out;
    if (!out.open(args.out, static_cast<int>(args.rate), error)) return fail(error);
    SongRenderStats stats;
    const auto start = std::chrono::steady_clock::now();
    const bool done = render_song(
        song, options,
        [&](const float* frames, std::size_t n) {
            return interrupt::received() == 0 && out.write(frames, n);
        },
        stats);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (const int sig = interrupt::received()) {
        const bool direct = out.direct();
        out.discard();
        fail("interrupted; " + args.out +
             (direct ? " got the song's beginning only" : " was left as it was"));
        return 128 + sig;
    }
    if (!done) {
        out.discard();
        return fail("writing " + args.out + " failed: " + out.write_error());
    }
    if (!out.commit(error)) return fail(error);

    const double seconds = static_cast<double>(stats.frames) / static_cast<double>(args.rate);
    std::printf(
        "rendered %llu frames (%.3f s) in %.3f s wall, %.1fx realtime, peak %.4f, "
        "max voices %d, %s, %s\n",
        static_cast<unsigned long long>(stats.frames), seconds, wall,
        wall > 0 ? seconds / wall : 0.0, stats.peak, stats.max_voices,
        clip_summary(args.gain_db).c_str(), channel_summary(song).c_str());

    return 0;
}
