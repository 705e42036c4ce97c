#include "core/keymap.h"

#include "core/convert.h"
#include "support/testkit.h"

namespace {

class KeyMap : public testkit::EngineTest {};

using Range = std::pair<int, int>;
constexpr Range kEmpty{-1, -1};  // a slot without a record

// Instrument 0 with one slot per range; kEmpty leaves the slot empty.
void instrument(const std::vector<Range>& ranges) {
    testkit::fresh_tables();
    add_sounds(0, int(ranges.size()) - 1);
    for (int i = 0; i < int(ranges.size()); ++i) {
        if (ranges[i] == kEmpty) clear_sound(i);
        if (p_s* s = t_sound[i]) set_key_range(*s, ranges[i].first, ranges[i].second);
    }
}

std::vector<Range> ranges(int count) {
    std::vector<Range> out;
    for (int i = 0; i < count; ++i) {
        const p_s* s = t_sound[i];
        out.push_back(s ? Range{s->key_lo, s->key_hi} : kEmpty);
    }
    return out;
}

std::string its(long value, int width, int min_digits) {
    char buf[32];
    int_to_str(buf, value, width, '0', min_digits);
    return buf;
}

std::string midit(int key) {
    char buf[8];
    const_midit(key, buf);
    return buf;
}

}  // namespace

TEST_F(KeyMap, EvenSplitGivesEachSlotAnEqualShareFromKeyZero) {
    const std::tuple<int, std::vector<int>, std::vector<Range>> cases[] = {
        // slots, empty, want
        {1, {}, {{0, 127}}},
        {3, {}, {{0, 41}, {42, 83}, {84, 125}}},  // 126 and 127 stay unassigned
        {5, {}, {{0, 24}, {25, 49}, {50, 74}, {75, 99}, {100, 124}}},
        {3, {1}, {{0, 41}, kEmpty, {84, 125}}},  // an empty slot keeps its share
    };
    for (const auto& [slots, empty, want] : cases) {
        std::vector<Range> start(std::size_t(slots), Range{0, 127});
        for (int e : empty) start[std::size_t(e)] = kEmpty;
        instrument(start);
        even_split(0, slots);
        EXPECT_EQ(ranges(slots), want) << slots << " slots";
    }
}

TEST_F(KeyMap, OverlapCountsOnlyAnEndOfTheEarlierRangeInsideTheLater) {
    const std::pair<std::vector<Range>, bool> cases[] = {
        // slots, overlap
        {{{0, 63}, {32, 95}}, true},
        {{{0, 127}, {10, 20}}, false},  // the later lies inside the earlier
        {{{10, 20}, {0, 127}}, true},
        {{{0, 63}, {63, 80}}, true},  // one shared key is enough
        {{{0, 41}, {42, 83}, {84, 125}}, false},
        {{{0, 41}, {42, 83}, {80, 125}}, true},  // the second and third
        {{{0, 63}, kEmpty, {100, 127}}, false},
        {{{0, 127}}, false},
    };
    for (const auto& [slots, overlap] : cases) {
        instrument(slots);
        EXPECT_EQ(domap(0, int(slots.size())), overlap) << ::testing::PrintToString(slots);
    }
}

TEST_F(KeyMap, AutoMapMovesTheNearestNeighbourEndsToMeetTheChosenRange) {
    const std::tuple<const char*, std::vector<Range>, int, std::vector<Range>> cases[] = {
        // what, ranges before, the chosen slot, ranges after
        {"both ends", {{0, 41}, {40, 60}, {84, 125}}, 1, {{0, 39}, {40, 60}, {61, 125}}},
        {"low end 1 spares", {{0, 41}, {1, 60}, {84, 125}}, 1, {{0, 41}, {1, 60}, {61, 125}}},
        {"low end 0 spares", {{0, 41}, {0, 60}, {84, 125}}, 1, {{0, 41}, {0, 60}, {61, 125}}},
        {"low end 2 moves", {{0, 41}, {2, 60}, {84, 125}}, 1, {{0, 1}, {2, 60}, {61, 125}}},
        {"high 126 spares", {{0, 41}, {40, 126}, {84, 127}}, 1, {{0, 39}, {40, 126}, {84, 127}}},
        {"high 125 moves", {{0, 41}, {40, 125}, {84, 127}}, 1, {{0, 39}, {40, 125}, {126, 127}}},
        // Of equal high ends below, and of equal low ends above, the later slot.
        {"equal below", {{0, 50}, {0, 50}, {40, 60}}, 2, {{0, 50}, {0, 39}, {40, 60}}},
        {"equal above", {{10, 20}, {30, 127}, {30, 127}}, 0, {{10, 20}, {30, 127}, {21, 127}}},
        // A sound shortened below is no longer above.
        {"shortened", {{0, 127}, {40, 60}}, 1, {{0, 39}, {40, 60}}},
        {"empty slots take no part", {kEmpty, {40, 60}, {0, 127}}, 1, {kEmpty, {40, 60}, {0, 39}}},
        {"one sound", {{40, 60}}, 0, {{40, 60}}},
        {"empty chosen slot", {{0, 127}, kEmpty}, 1, {{0, 127}, kEmpty}},
    };
    for (const auto& [what, before, chosen, after] : cases) {
        instrument(before);
        auto_map(0, int(before.size()), chosen);
        EXPECT_EQ(ranges(int(before.size())), after) << what;
    }
}

TEST_F(KeyMap, MapPaintsTheChosenRangeSolidOtherRangesStippledAndTheRestPlain) {
    instrument({{0, 20}, {40, 60}, {55, 90}, kEmpty});
    KeyPaint paint[kKeys];
    inst_key_paint(0, 4, 1, paint);
    // Other, plain or chosen at each key; the chosen range wins where they overlap (58).
    std::string shown;
    for (int k : {0, 20, 21, 39, 40, 58, 61, 90, 91})
        shown += paint[k] == KeyPaint::kOther ? 'O' : paint[k] == KeyPaint::kPlain ? 'P' : 'C';
    EXPECT_EQ(shown, "OOPPCCOOP");
    inst_key_paint(0, 4, 3, paint);  // the chosen slot is empty: nothing shown
    for (int k = 0; k < kKeys; ++k) ASSERT_EQ(paint[k], KeyPaint::kPlain) << k;
}

TEST_F(KeyMap, RangeEditsAndZoneReadsAgreeWhicheverWayTheRangeMoves) {
    instrument({{0, 127}});
    p_s& s = *t_sound[0].load();
    const Range moves[] = {{100, 110}, {10, 20}, {15, 120}, {0, 0}, {127, 127}};
    for (const Range& r : moves) {
        set_key_range(s, r.first, r.second);
        EXPECT_EQ(Range(s.key_lo, s.key_hi), r);
        EXPECT_TRUE(zone_holds(s, r.first));
        EXPECT_TRUE(zone_holds(s, r.second));
        EXPECT_FALSE(zone_holds(s, r.first - 1));
        EXPECT_FALSE(zone_holds(s, r.second + 1));
    }
    s.key_lo = 60;  // a range typed to hold nothing stays empty
    s.key_hi = 50;
    EXPECT_FALSE(zone_holds(s, 55));
    EXPECT_EQ(clamp_key(-1), 0);
    EXPECT_EQ(clamp_key(300), 127);
}

TEST(ReleaseTime, TimesNumbersAndNoteNamesKeepTheirWidthReadAsTypedAndNeverWrap) {
    EXPECT_EQ(frames_to_ms(102400, 44100), 2321u);
    EXPECT_EQ(ms_to_frames(1000, 44100), 44100u);
    EXPECT_EQ(ms_to_frames(3, 44100), 132u);
    EXPECT_EQ(ms_to_frames(0, 44100), 0u);
    EXPECT_EQ(ms_to_frames(-5, 44100), 0u);
    // Products past 32 bits: 999999 ms at 44100 Hz, and a very long release.
    EXPECT_EQ(ms_to_frames(999999, 44100), 44099955u);
    EXPECT_EQ(frames_to_ms(4000000000u, 48000), 83333333u);
    EXPECT_EQ(frames_to_ms(4000000000u, 1), 0xFFFFFFFFu);
    EXPECT_EQ(frames_to_ms(1000, 0), 0u);
    const std::pair<std::string, std::string> numbers[] = {
        {its(5, 8, 3), "005"},    {its(1234, 8, 3), "1234"},
        {its(0, 8, 3), "000"},    {its(64, 3, 0), "064"},
        {its(1000, 3, 0), "000"}, {its(123456789, 8, 3), "23456789"},  // a ninth digit is lost
        {its(7, 3, 5), "007"},  // a minimum above the width removes nothing
    };
    for (const auto& [got, want] : numbers) EXPECT_EQ(got, want);
    // Only `length` characters are read; non-digits and later signs are skipped.
    const std::pair<const char*, int> read[] = {{"12", 12}, {"12x4", 124}, {"-5", -5}, {"+7", 7},
                                                {"abc", 0}, {"1-2", 12},   {"", 0}};
    for (const auto& [text, value] : read)
        EXPECT_EQ(str_to_int(text, int(std::strlen(text))), value) << text;
    EXPECT_EQ(str_to_int("123", 2), 12);
    const std::pair<const char*, int> names[] = {
        {"C3", 60},  {"C 3", 60},  {"c#3", 61}, {"C -2", 0}, {"C -1", 12}, {"G8", 127},
        {"G9", 127}, {"A", 57},    {"H3", 69},  {"h3", 48},  {"E#3", 52},  {"B#3", 59},
        {"C-2", 48}, {"B -3", -1}, {"x", 48},   {"", 48},    {"Dz", 50},   {"C#", 49}};
    for (const auto& [text, key] : names) EXPECT_EQ(traduit(text), key) << text;
    const std::pair<int, const char*> written[] = {{0, "C -2"},  {12, "C -1"}, {23, "B -1"},
                                                   {24, "C  0"}, {60, "C  3"}, {61, "C# 3"},
                                                   {127, "G  8"}};
    for (const auto& [key, name] : written) EXPECT_EQ(midit(key), name);
    // Every name written reads back as its key.
    for (int k = 0; k < 128; ++k) EXPECT_EQ(traduit(midit(k).c_str()), k) << midit(k);
}

using testkit::EngineTest;

// A slot's own name reaches the tree's rows (the window tests); an empty one has this.
TEST_F(EngineTest, ConstStrNamesAnEmptySlotNoneSample) {
    char out[32];
    const_str(5, out);
    EXPECT_STREQ(out, "None Sample");
}
