#include "core/convert.h"

#include <string>

#include "support/testkit.h"

namespace {

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

TEST(IntToStr, KeepsWidthDigitsThenStripsLeadingZerosDownToTheMinimum) {
    EXPECT_EQ(its(5, 8, 3), "005");
    EXPECT_EQ(its(1234, 8, 3), "1234");
    EXPECT_EQ(its(0, 8, 3), "000");
    EXPECT_EQ(its(123456789, 8, 3), "23456789");  // a ninth digit is lost
    EXPECT_EQ(its(64, 3, 0), "064");
    EXPECT_EQ(its(1000, 3, 0), "000");
    EXPECT_EQ(its(7, 3, 5), "007");  // a minimum above the width removes nothing
}

TEST(StrToInt, ReadsOnlyLengthCharactersSkippingNonDigits) {
    EXPECT_EQ(str_to_int("123", 2), 12);
    EXPECT_EQ(str_to_int("12x4", 4), 124);
    EXPECT_EQ(str_to_int("-5", 2), -5);
    EXPECT_EQ(str_to_int("+7", 2), 7);
    EXPECT_EQ(str_to_int("abc", 3), 0);
    EXPECT_EQ(str_to_int("", 0), 0);
    EXPECT_EQ(str_to_int("1-2", 3), 12);  // later signs are skipped
}

TEST(Traduit, ReadsNoteNamesWithC3At60) {
    EXPECT_EQ(traduit("C3"), 60);
    EXPECT_EQ(traduit("C 3"), 60);
    EXPECT_EQ(traduit("c#3"), 61);
    EXPECT_EQ(traduit("C -2"), 0);
    EXPECT_EQ(traduit("C -1"), 12);
    EXPECT_EQ(traduit("G8"), 127);
    EXPECT_EQ(traduit("G9"), 127);  // clamped
    EXPECT_EQ(traduit("A"), 57);
    EXPECT_EQ(traduit("H3"), 69);
    EXPECT_EQ(traduit("h3"), 48);  // only the upper-case H and I are accepted
}

TEST(Traduit, RefusedFormsFallBackToTheOctaveTwoKey) {
    EXPECT_EQ(traduit("E#3"), 52);  // no sharp after E: the octave is not read
    EXPECT_EQ(traduit("B#3"), 59);
    EXPECT_EQ(traduit("C-2"), 48);  // a minus straight after the letter
    EXPECT_EQ(traduit("B -3"), -1);
    EXPECT_EQ(traduit("x"), 48);
    EXPECT_EQ(traduit(""), 48);
    EXPECT_EQ(traduit("Dz"), 50);
    EXPECT_EQ(traduit("C#"), 49);
}

TEST(ConstMidit, WritesFourCharacterNamesThatReadBack) {
    EXPECT_EQ(midit(0), "C -2");
    EXPECT_EQ(midit(12), "C -1");
    EXPECT_EQ(midit(23), "B -1");
    EXPECT_EQ(midit(24), "C  0");
    EXPECT_EQ(midit(60), "C  3");
    EXPECT_EQ(midit(61), "C# 3");
    EXPECT_EQ(midit(127), "G  8");
    // Every name written reads back as its key.
    for (int k = 0; k < 128; ++k) EXPECT_EQ(traduit(midit(k).c_str()), k) << midit(k);
}

using testkit::EngineTest;

TEST_F(EngineTest, ConstStrNamesEmptySlotsNoneSample) {
    char out[32];
    const_str(0, out);
    EXPECT_STREQ(out, "None Sample");
    const_str(5, out);
    EXPECT_STREQ(out, "None Sample");
    p_s* s = new_sound();
    std::snprintf(s->name, sizeof s->name, "%s", "Grand Piano");
    replace_sound(0, s);
    const_str(0, out);
    EXPECT_STREQ(out, "Grand Piano");
}
