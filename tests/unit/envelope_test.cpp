#include "engine/envelope.h"

#include "core/sound.h"
#include "engine/voice_table.h"
#include "support/testkit.h"

using testkit::EngineTest;

namespace {

void set_curve(p_s* s, int curve, const std::uint16_t (&points)[5]) {
    for (int k = 0; k < 5; ++k) s->env[k][curve] = points[k];
}

}  // namespace

TEST_F(EngineTest, DefaultReleaseFadesLinearlyAndRunsOut) {
    p_s* s = new_sound();
    nlist[0].rel_pos = 0;
    EXPECT_FLOAT_EQ(compute_adsr(4, 0, 1000, s), 1.0f);
    nlist[0].rel_pos = 502;  // t = 128
    EXPECT_FLOAT_EQ(compute_adsr(4, 0, 1000, s), 0.5f);
    nlist[0].rel_pos = 251;  // t = 64: level 96
    EXPECT_FLOAT_EQ(compute_adsr(4, 0, 1000, s), 0.75f);
    nlist[0].rel_pos = 999;  // t = 254: 32 - 32 * 62 / 63 = 1 (truncated)
    EXPECT_FLOAT_EQ(compute_adsr(4, 0, 1000, s), 1.0f / 128.0f);
    nlist[0].rel_pos = 1000;
    EXPECT_FLOAT_EQ(compute_adsr(4, 0, 1000, s), -1.0f);
    nlist[0].rel_pos = 5000;
    EXPECT_FLOAT_EQ(compute_adsr(4, 0, 1000, s), -1.0f);
    nlist[0].rel_pos = 0;
    EXPECT_FLOAT_EQ(compute_adsr(4, 0, 0, s), -1.0f);  // a release of length 0 is over at once
    delete s;
}

TEST_F(EngineTest, DefaultAmplitudeIsUnityUntilTheSoundsEnd) {
    p_s* s = new_sound();
    for (std::uint32_t pos : {0u, 1u, 500u, 995u}) {
        nlist[3].pos = pos;
        EXPECT_FLOAT_EQ(compute_adsr(0, 3, 1000, s), 1.0f) << pos;
    }
    nlist[3].pos = 1000;
    EXPECT_FLOAT_EQ(compute_adsr(0, 3, 1000, s), 0.0f);
    nlist[3].pos = 4000;  // past the end: clamped to the last position
    EXPECT_FLOAT_EQ(compute_adsr(0, 3, 1000, s), 0.0f);
    // A sound of length 0 stands at its end instead of dividing by zero.
    nlist[3].pos = 0;
    EXPECT_FLOAT_EQ(compute_adsr(0, 3, 0, s), 0.0f);
    EXPECT_FLOAT_EQ(compute_adsr(2, 3, 0, s), 0.0f);
    delete s;
}

TEST_F(EngineTest, PanCurveIsCappedAt127AndStartSoundIsAlwaysZero) {
    p_s* s = new_sound();
    set_curve(s, 2, {0x00C8, 0x40C8, 0x80C8, 0xC0C8, 0xFFC8});  // level 200 everywhere
    nlist[0].pos = 10;
    EXPECT_FLOAT_EQ(compute_adsr(2, 0, 1000, s), 127.0f);
    set_curve(s, 1, {0x00FF, 0x40FF, 0x80FF, 0xC0FF, 0xFFFF});
    EXPECT_FLOAT_EQ(compute_adsr(1, 0, 1000, s), 0.0f);
    EXPECT_FLOAT_EQ(compute_adsr(7, 0, 1000, s), 0.0f);
    EXPECT_FLOAT_EQ(compute_adsr(-1, 0, 1000, s), 0.0f);
    delete s;
}

TEST_F(EngineTest, CurvesWithCollapsedOrUnorderedTimesStayDefined) {
    p_s* s = new_sound();
    set_curve(s, 3, {0x0050, 0x0060, 0x0070, 0x0080, 0x0090});  // every time byte 0
    for (std::uint32_t pos : {0u, 300u, 999u}) {
        nlist[0].pos = pos;
        EXPECT_FLOAT_EQ(compute_adsr(3, 0, 1000, s), 0.0f);
    }
    // Non-ascending times: the last segment that applies wins.
    set_curve(s, 3, {0x0000, 0x8064, 0x4020, 0xC010, 0xFF40});
    nlist[0].pos = 502;  // t = 128: segment 1 (128 <= t < 64) does not apply, segment 3 does not
    // t = 128 >= time 2 (64) and < time 3 (192): level 0x20 + (0x10 - 0x20) * 64 / 128 = 24
    EXPECT_FLOAT_EQ(compute_adsr(3, 0, 1000, s), 24.0f);
    delete s;
}

TEST_F(EngineTest, LongSoundsDoNotOverflowThePosition) {
    p_s* s = new_sound();
    set_curve(s, 0, {0x0000, 0x4040, 0x8080, 0xC0C0, 0xFFFF});  // rising ramp
    const std::uint32_t total = 400000000u;                     // e * 255 overflows 32 bits
    nlist[0].pos = total / 2;                                   // t = 127
    const float mid = compute_adsr(0, 0, total, s);
    EXPECT_GT(mid, 0.95f);
    EXPECT_LT(mid, 1.05f);
    nlist[0].pos = total - 1;
    EXPECT_GT(compute_adsr(0, 0, total, s), 1.9f);
    delete s;
}
