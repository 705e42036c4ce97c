#include "io/smf.h"

#include "support/testkit.h"

using files::smf_file;
using files::SmfTrack;

namespace {

// Each event as "seconds status data1 data2", the status in hex.
std::vector<std::string> events(const SmfSong& s) {
    std::vector<std::string> out;
    for (const SmfEvent& e : s.events) {
        char text[64];
        std::snprintf(text, sizeof text, "%g %x %d %d", e.seconds, e.status, e.data1, e.data2);
        out.push_back(text);
    }
    return out;
}

SmfSong parse_ok(const std::vector<std::uint8_t>& bytes) {
    SmfSong song;
    std::string error;
    EXPECT_TRUE(read_smf(bytes.data(), bytes.size(), song, error)) << error;
    return song;
}

// The reason a file is refused.
std::string parse_error(const std::vector<std::uint8_t>& bytes) {
    SmfSong song;
    std::string error;
    EXPECT_FALSE(read_smf(bytes.data(), bytes.size(), song, error));
    EXPECT_TRUE(song.events.empty());
    return error;
}

}  // namespace

TEST(Smf, FormatZeroWithRunningStatusAndATempoChange) {
    SmfTrack t;
    t.event(0, {0x90, 60, 100})
        .event(480, {62, 90})  // running status: another note-on
        .tempo(0, 250000)      // from here a quarter lasts 0.25 s
        .event(480, {0x80, 60, 0})
        .event(0, {0xC3, 5})
        .event(240, {0xE3, 0, 64})
        .end(0);
    const SmfSong s = parse_ok(smf_file(0, 480, {t}));
    // 120 beats a minute by default.
    EXPECT_EQ(events(s), (std::vector<std::string>{"0 90 60 100", "0.5 90 62 90", "0.75 80 60 0",
                                                   "0.75 c3 5 0", "0.875 e3 0 64"}));
    EXPECT_DOUBLE_EQ(s.end_seconds, 0.875);
    EXPECT_FALSE(s.damaged);
}

TEST(Smf, FormatOneMergesTracksAndAppliesTheTempoMapToAll) {
    SmfTrack tempo;
    tempo.tempo(0, 1000000).tempo(96, 500000).end(96 * 4);
    SmfTrack notes;
    notes.event(48, {0x91, 40, 1})
        .event(96, {0x81, 40, 0})            // tick 144: 1 s + 48 ticks at 0.5 s a quarter
        .event(0, {0xF0, 0x02, 0x7E, 0xF7})  // system exclusive is skipped
        .event(0, {0xA1, 40, 3})             // pressure is kept, the player ignores it
        .end();
    const SmfSong s = parse_ok(smf_file(1, 96, {tempo, notes}));
    EXPECT_EQ(s.tracks, 2);
    EXPECT_EQ(events(s), (std::vector<std::string>{"0.5 91 40 1", "1.25 81 40 0", "1.25 a1 40 3"}));
    EXPECT_DOUBLE_EQ(s.end_seconds, 1.0 + 4 * 0.5);  // the tempo track ends last
}

TEST(Smf, SmpteDivisionCountsFramesAndTicks) {
    SmfTrack t;
    t.event(50, {0x90, 60, 1}).end();
    // 25 frames a second, 40 ticks a frame: 1000 ticks a second.
    const SmfSong s =
        parse_ok(smf_file(0, static_cast<std::uint16_t>((0x100 - 25) << 8 | 40), {t}));
    EXPECT_EQ(events(s), std::vector<std::string>{"0.05 90 60 1"});
}

TEST(Smf, DamagedTracksKeepWhatCameBeforeTheDamage) {
    SmfTrack t;
    t.event(0, {0x90, 60, 100}).event(10, {0x90, 61});  // cut inside the second event
    SmfSong s = parse_ok(smf_file(0, 96, {t}));
    EXPECT_EQ(s.events.size(), 1u);
    EXPECT_TRUE(s.damaged);

    SmfTrack stray;
    stray.event(0, {0x40, 0x40});  // a data byte with no status before it
    s = parse_ok(smf_file(0, 96, {stray}));
    EXPECT_TRUE(s.events.empty());
    EXPECT_TRUE(s.damaged);

    // A track chunk that claims more bytes than the file has.
    SmfTrack t2;
    t2.event(0, {0x90, 60, 100}).end();
    auto bytes = smf_file(0, 96, {t2});
    bytes[21] = 0xFF;
    s = parse_ok(bytes);
    EXPECT_EQ(s.events.size(), 1u);
    EXPECT_TRUE(s.damaged);

    // A delta time longer than four bytes, and a meta event longer than the track.
    auto longvlq = smf_file(0, 96, {SmfTrack()});
    longvlq[21] = 5;  // the track's length
    longvlq.insert(longvlq.end(), {0x81, 0x81, 0x81, 0x81, 0x01});
    s = parse_ok(longvlq);
    EXPECT_TRUE(s.damaged);
    SmfTrack meta;
    meta.event(0, {0xFF, 0x01, 0x7F, 'a'});
    s = parse_ok(smf_file(0, 96, {meta}));
    EXPECT_TRUE(s.damaged);
}

TEST(Smf, RefusesWhatIsNotAPlayableMidiFile) {
    EXPECT_NE(parse_error({'R', 'I', 'F', 'F', 0, 0, 0, 0}).find("MThd"), std::string::npos);
    EXPECT_NE(parse_error({}).find("MThd"), std::string::npos);
    EXPECT_NE(parse_error({'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0}).find("cut short"),
              std::string::npos);
    SmfTrack t;
    t.end();
    EXPECT_NE(parse_error(smf_file(2, 96, {t})).find("format 2"), std::string::npos);
    EXPECT_NE(parse_error(smf_file(0, 0, {t})).find("division"), std::string::npos);
    EXPECT_NE(parse_error(smf_file(0, 96, {})).find("no track"), std::string::npos);
    std::string error;
    SmfSong song;
    EXPECT_FALSE(read_smf_file("/nonexistent/song.mid", song, error));
    EXPECT_NE(error.find("/nonexistent/song.mid: cannot be opened"), std::string::npos) << error;
}
