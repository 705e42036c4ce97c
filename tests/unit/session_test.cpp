// Session files: a whole set-up saved, everything reset, and opened again;
// sessions that cannot be opened whole change nothing.
#include <sndfile.h>

#include <cstring>
#include <fstream>

#include "core/instruments.h"
#include "engine/channels.h"
#include "io/instrument_file.h"
#include "io/load.h"
#include "io/loadi.h"
#include "midi/midi_port.h"
#include "platform/session_file.h"
#include "render/song_player.h"
#include "support/file_builders.h"
#include "support/testkit.h"

using namespace testkit;

namespace {

// Every field of every sound, every instrument name and every channel table,
// with the sample data's hash: equal strings mean equal set-ups.
std::string everything() {
    std::string out;
    char line[512];
    for (int s = 0; s < nb_sound; ++s) {
        const p_s* r = t_sound[s];
        if (!r) {
            out += "empty\n";
            continue;
        }
        unsigned char art[kInstBlockBytes] = {};
        put_articulation(art, r->art);
        std::snprintf(line, sizeof line,
                      "%s|%s|%s|%s|t%d ra%d rb%d rc%d pan%d fl%d rel%u vel%d-%d nx%d off%u "
                      "art%016llx data%016llx env",
                      describe(r).c_str(), r->name, r->path, r->ipath, int(r->type), int(r->res_a),
                      int(r->res_b), int(r->res_c), int(r->pan), int(r->flags),
                      unsigned(r->rel_time), int(r->vel_lo), int(r->vel_hi), int(r->nb_next),
                      unsigned(r->file_offset),
                      static_cast<unsigned long long>(session_hash(art, sizeof art)),
                      static_cast<unsigned long long>(
                          r->type == kTypeStreamed ? 0 : session_hash(r->data, r->size)));
        out += line;
        for (int p = 0; p < kPoints; ++p)
            for (int c = 0; c < kCurves; ++c) out += " " + std::to_string(r->env[p][c]);
        out += "\n";
    }
    for (int k = 0; k < nb_inst; ++k)
        out += "inst " + std::to_string(t_inst[k]) + " " + inst_name(k) + "\n";
    for (int c = 0; c < kChannels; ++c)
        for (int v : {int(ch_inst[c]), int(ch_instf[c]), int(ch_pitch[c]), int(ch_main[c]),
                      int(ch_pan[c]), int(ch_ctune[c]), int(ch_pitchsens[c]), int(ch_lpf[c]),
                      int(ch_mod[c]), int(mute[c]), int(midimess_to_func[c])})
            out += std::to_string(v) + ",";
    return out + " sel" + std::to_string(no_s) + " fm" + std::to_string(fmodei);
}

class SessionTest : public EngineTest {
  protected:
    // Three instruments over every sample format, edited fields, names,
    // articulation, and channels set away from their defaults.
    void build_setup() {
        p_s* a = ramp_sound(16, true, 3000);
        set_loop_frames(a, 100, 2900);
        a->key_hi = 59;
        std::strcpy(a->name, "A rather long sound name!");
        std::strcpy(a->path, "/somewhere/a.wav");
        replace_sound(0, a);
        add_sounds(0, 2);
        p_s* b = ramp_sound(8, false, 2001);  // odd length, unlooped loop_end kept
        b->key_lo = 60;
        b->loop_start = 10;
        b->loop_end = 77;
        b->res_a = 3;
        b->env[2][kCurvePanoramic] = 0x8020;
        b->flags = 0x1F;
        replace_sound(1, b);
        p_s* c = ramp_sound(8, true, 500);
        c->vel_lo = 64;
        c->type = kTypeInstrumentHead;
        std::strcpy(c->ipath, "/somewhere/kit.it");
        replace_sound(2, c);
        const int lead = add_inst("Lead");
        p_s* s = make_sound16(sine16(440.0, 44100, 44100), 44100, 69);
        set_loop_frames(s, 0, 44100);
        s->art.on = true;
        s->art.attack = -1200;
        s->art.filter_cutoff = 9000;
        s->pan = 90;
        s->rel_time = 4000;
        replace_sound(inst_first(lead), s);
        add_inst("Empty one");
        ch_inst[1] = 1;
        ch_main[0] = 100;
        ch_pan[1] = 30;
        ch_ctune[1] = 66;
        ch_pitchsens[1] = 1200;
        ch_pitch[1] = 9000;
        ch_instf[3] = true;
        mute[2] = true;
        ch_lpf[0] = 40;
        ch_mod[1] = 20;
        midimess_to_func[kSlotModulation] = 7;
        fmodei = false;
        no_s = 2;
    }
    std::vector<float> play() {
        files::SmfTrack t;
        t.event(0, {0x90, 60, 100})
            .event(0, {0x91, 69, 110})
            .event(0, {0x92, 64, 127})
            .event(480, {0x80, 60, 0})
            .event(0, {0x81, 69, 0})
            .end();
        const files::Bytes file = files::smf_file(false, 480, {t});
        SmfSong song;
        std::string error;
        EXPECT_TRUE(read_smf(file.data(), file.size(), song, error)) << error;
        std::vector<float> out;
        SongRenderStats stats;
        render_song(
            song, {.rate = 44100.0f, .buffer_frames = 512},
            [&](const float* p, std::size_t n) {
                out.insert(out.end(), p, p + 2 * n);
                return true;
            },
            stats);
        return out;
    }
    std::string save(const std::string& name, const SessionSettings& settings = {}) {
        const std::string path = dir.file(name);
        std::string error;
        EXPECT_TRUE(save_session(path, settings, error)) << error;
        return path;
    }
    files::TempDir dir;
};

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST_F(SessionTest, EverySoundTableAndChannelComesBackAndPlaysTheSame) {
    build_setup();
    const std::vector<float> before = play();
    ASSERT_GT(peak(before), 0.01f);
    const std::string tables = everything();
    const std::string path =
        save("evening.pxsession", {{"audio.output", "jack"}, {"midi", "a\nb"}});

    fresh_tables();
    clear_inst_names();
    ASSERT_NE(everything(), tables);
    const SessionOpened opened = open_session(path);
    ASSERT_TRUE(opened.ok) << opened.error;
    EXPECT_EQ(everything(), tables);
    EXPECT_EQ(opened.settings, (SessionSettings{{"audio.output", "jack"}, {"midi", "a\nb"}}));
    EXPECT_EQ(play(), before);
    // Saved again, the same set-up gives the same file.
    EXPECT_TRUE(read_file(save("again.pxsession", opened.settings)) == read_file(path));
    // A sound the list calls streamed has no file to stream from: it is not.
    std::string text = read_file(path);
    text.replace(text.find("sound.0.fields=0"), 16, "sound.0.fields=2");
    write_file(path, text);
    ASSERT_TRUE(open_session(path).ok);
    EXPECT_EQ(t_sound[0]->type, kTypeMemory);
}

TEST_F(SessionTest, AWriteOnItsOwnThreadHoldsTheSetUpAsItWasCaptured) {
    build_setup();
    const std::string tables = everything();
    SessionCapture capture = capture_session({});
    std::strcpy(t_sound[0]->name, "renamed since");  // the windows go on
    t_sound[2]->key_hi = 100;
    replace_sound(1, ramp_sound(8, false, 10));
    SessionWriter writer;
    ASSERT_TRUE(writer.start(dir.file("bg.pxsession"), std::move(capture)));
    writer.wait();
    bool ok = false;
    std::string error;
    ASSERT_TRUE(writer.take_result(ok, error));
    ASSERT_TRUE(ok) << error;
    EXPECT_FALSE(writer.take_result(ok, error));  // once
    fresh_tables();
    ASSERT_TRUE(open_session(dir.file("bg.pxsession")).ok);
    EXPECT_EQ(everything(), tables);
}

TEST_F(SessionTest, DamagedTruncatedOrNewerSessionsAreRefusedWithNothingChanged) {
    build_setup();
    const std::string good = read_file(save("good.pxsession"));
    fresh_tables();
    clear_inst_names();
    replace_sound(0, ramp_sound(16, false, 100));
    set_inst_name(0, "Kept");
    const std::string kept = everything();
    std::atomic<bool> stop{true};
    std::atomic<int> permille{0};
    EXPECT_TRUE(read_session(dir.file("good.pxsession"), {}, &stop).cancelled);
    const SessionRead whole = read_session(dir.file("good.pxsession"), {}, nullptr, &permille);
    EXPECT_TRUE(whole.contents && permille == 1000);
    EXPECT_EQ(everything(), kept);  // read whole, not yet published
    const auto refused = [&](const std::string& bytes, const std::string& says) {
        write_file(dir.file("bad.pxsession"), bytes);
        const SessionOpened o = open_session(dir.file("bad.pxsession"));
        EXPECT_FALSE(o.ok);
        EXPECT_NE(o.error.find(says), std::string::npos) << o.error;
        EXPECT_EQ(everything(), kept) << says;
    };
    for (std::size_t cut : {std::size_t{10}, std::size_t{40}, good.size() / 2, good.size() - 1})
        refused(good.substr(0, cut), cut < 16 ? "not a session" : "incomplete");
    std::string newer = good;
    newer[11] = 2;
    refused(newer, "newer version");
    std::string flipped = good;
    flipped[good.size() - 3] ^= 1;  // a byte of sample data
    refused(flipped, "does not match");
}

TEST_F(SessionTest, StreamedSoundsGoByTheirFileWhichMustBeThereUnchanged) {
    std::vector<int> v;
    for (int i = 0; i < 50000; ++i) v.push_back(files::pattern16(i, 0) << 16);
    const std::string wav = dir.file("long.wav");
    ASSERT_TRUE(files::write_sound(wav, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, v));
    limitd2d = 1000;
    ASSERT_EQ(load(1, wav.c_str(), "long.wav"), LoadResult::loaded);
    ASSERT_EQ(t_sound[0]->type, kTypeStreamed);
    t_sound[0]->key_hi = 70;
    // Short sounds read whole (8-bit, stereo 24-bit): unedited they go by
    // their file, edited by their data.
    const std::string wav8 = dir.file("short8.wav"), wav24 = dir.file("short24.wav");
    ASSERT_TRUE(files::write_sound(wav8, SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, 22050,
                                   std::vector<int>(v.begin(), v.begin() + 300)));
    ASSERT_TRUE(files::write_sound(wav24, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, 22050,
                                   std::vector<int>(v.begin(), v.begin() + 100)));
    add_sounds(0, 2);
    for (int s : {1, 2}) {
        no_s = static_cast<std::int16_t>(s);
        ASSERT_EQ(load(1, (s == 1 ? wav8 : wav24).c_str(), "short"), LoadResult::loaded);
        ASSERT_EQ(t_sound[s]->type, kTypeMemory);
    }
    t_sound[1]->loop_start = 3;  // a field, not the data
    const std::string tables = everything();
    const std::string path = save("streamed.pxsession");
    const std::string text = read_file(path);
    EXPECT_NE(text.find("sound.1.from_file.path=" + wav8 + "\n"), std::string::npos);
    EXPECT_NE(text.find("sound.2.from_file.path=" + wav24 + "\n"), std::string::npos);
    std::string error;
    ASSERT_TRUE(save_session(dir.file("copied.pxsession"), {}, error, true)) << error;
    EXPECT_EQ(read_file(dir.file("copied.pxsession")).find("from_file"), std::string::npos);
    fresh_tables();
    const SessionOpened o = open_session(path);
    ASSERT_TRUE(o.ok) << o.error;
    EXPECT_EQ(everything(), tables);
    EXPECT_EQ(t_sound[0]->type, kTypeStreamed);
    t_sound[2]->data[7] ^= 1;  // in place, as an edit's copy would hold it
    EXPECT_EQ(read_file(save("edited.pxsession")).find("sound.2.from_file"), std::string::npos);

    v[100] ^= 1 << 16;  // one sample changed, same size
    ASSERT_TRUE(files::write_sound(wav, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, v));
    std::string short8 = read_file(wav8);
    short8[short8.size() - 5] ^= 1;
    write_file(wav8, short8);
    fresh_tables();
    const std::string empty = everything();
    SessionOpened changed = open_session(path);
    EXPECT_NE(changed.error.find("has changed since"), std::string::npos) << changed.error;
    v[100] ^= 1 << 16;  // the long one back as it was, moved
    ASSERT_TRUE(files::write_sound(wav + ".moved", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, v));
    std::remove(wav.c_str());
    SessionOpened moved = open_session(path, {{wav, wav + ".moved"}});
    EXPECT_NE(moved.error.find("short\" has changed since"), std::string::npos) << moved.error;
    std::remove(wav8.c_str());
    moved = open_session(path, {{wav, wav + ".moved"}});
    EXPECT_NE(moved.error.find("missing (moved"), std::string::npos) << moved.error;
    EXPECT_EQ(moved.missing, wav8);
    EXPECT_EQ(everything(), empty);
}

TEST_F(SessionTest, BankSoundsGoByTheBanksPathWhileTheirDataIsTheBanks) {
    std::vector<files::SfSample> samples(2);
    for (int k = 0; k < 2; ++k) {
        samples[k] = {"s" + std::to_string(k), std::vector<std::int16_t>(3000), 10, 2900};
        for (int i = 0; i < 3000; ++i) samples[k].points[i] = std::int16_t(i * (k + 3));
    }
    const std::string sf2 = dir.file("bank.sf2");
    ASSERT_TRUE(files::write_bytes(
        sf2, files::sf_bank(samples,
                            {{"Two",
                              {{files::key_range(0, 59), files::sample_id(0)},
                               {files::key_range(60, 127), files::sample_id(1)}}}},
                            {{"Piano", 0, 0, {{files::instrument(0)}}}})));
    loadi(1, sf2.c_str(), "bank.sf2");
    ASSERT_EQ(inst_count(0), 2);  // then the empty programs
    // Sound 1 edited: new data in a new record, still naming the bank.
    p_s* edited = ramp_sound(16, false, 3000);
    std::strcpy(edited->path, t_sound[1]->path);
    edited->file_offset = t_sound[1]->file_offset;
    replace_sound(1, edited);
    const std::string tables = everything();
    const std::string path = save("bank.pxsession");
    const std::string text = read_file(path);
    EXPECT_NE(text.find("sound.0.in_file="), std::string::npos);
    EXPECT_EQ(text.find("sound.1.in_file="), std::string::npos);
    EXPECT_NE(text.find("file.0.path=" + sf2 + "\n"), std::string::npos);

    fresh_tables();
    ASSERT_TRUE(open_session(path).ok);
    EXPECT_TRUE(everything() == tables);
    std::string error;  // copied: opens without the bank
    ASSERT_TRUE(save_session(dir.file("copied.pxsession"), {}, error, true)) << error;
    EXPECT_EQ(read_file(dir.file("copied.pxsession")).find("in_file="), std::string::npos);
    std::string bank = read_file(sf2);
    bank[bank.size() / 2] ^= 1;
    write_file(sf2, bank);
    fresh_tables();
    const std::string empty = everything();
    EXPECT_NE(open_session(path).error.find("has changed since"), std::string::npos);
    std::remove(sf2.c_str());
    EXPECT_NE(open_session(path).error.find("missing (moved"), std::string::npos);
    EXPECT_TRUE(everything() == empty);
    ASSERT_TRUE(open_session(dir.file("copied.pxsession")).ok);
    EXPECT_TRUE(everything() == tables);
}

}  // namespace
