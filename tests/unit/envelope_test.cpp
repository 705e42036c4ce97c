#include "engine/envelope.h"

#include "support/testkit.h"

namespace {

class Envelope : public testkit::EngineTest {
  protected:
    void set_curve(int curve, const std::uint16_t (&points)[5]) {
        for (int k = 0; k < 5; ++k) s->env[k][curve] = points[k];
    }
    // Curve `curve` of voice 0 at `pos` (or release position `rel_pos`) of `total`.
    float at(int curve, std::uint32_t pos, std::uint32_t total) {
        nlist[0].pos = pos;
        nlist[0].rel_pos = pos;
        return compute_adsr(curve, 0, total, s.get());
    }
    std::unique_ptr<p_s> s{new_sound()};
};

}  // namespace

TEST_F(Envelope, DefaultCurvesReleaseLinearlyPanIsCappedAndOddCurvesStayDefined) {
    const std::tuple<int, std::uint32_t, std::uint32_t, float> cases[] = {
        // curve, pos, total, level
        {4, 0, 1000, 1.0f},
        {4, 502, 1000, 0.5f},           // t = 128
        {4, 251, 1000, 0.75f},          // t = 64: level 96
        {4, 999, 1000, 1.0f / 128.0f},  // t = 254: 32 - 32 * 62 / 63 = 1 (truncated)
        {4, 1000, 1000, -1.0f},         // the release has run out
        {4, 5000, 1000, -1.0f},
        {4, 0, 0, -1.0f},  // a release of length 0 is over at once
        {0, 0, 1000, 1.0f},
        {0, 995, 1000, 1.0f},
        {0, 1000, 1000, 0.0f},
        {0, 4000, 1000, 0.0f},  // past the end: clamped to the last position
        {0, 0, 0, 0.0f},        // a sound of length 0 stands at its end
        {2, 0, 0, 0.0f},
    };
    for (const auto& [curve, pos, total, level] : cases)
        EXPECT_FLOAT_EQ(at(curve, pos, total), level) << curve << " at " << pos;
    set_curve(2, {0x00C8, 0x40C8, 0x80C8, 0xC0C8, 0xFFC8});  // level 200 everywhere
    EXPECT_FLOAT_EQ(at(2, 10, 1000), 127.0f);
    set_curve(1, {0x00FF, 0x40FF, 0x80FF, 0xC0FF, 0xFFFF});
    for (int curve : {1, 7, -1}) EXPECT_FLOAT_EQ(at(curve, 10, 1000), 0.0f) << curve;
    set_curve(3, {0x0050, 0x0060, 0x0070, 0x0080, 0x0090});  // every time byte 0
    for (std::uint32_t pos : {0u, 300u, 999u}) EXPECT_FLOAT_EQ(at(3, pos, 1000), 0.0f);
    // Non-ascending times: the last segment that applies wins. At t = 128,
    // segment 1 (128 <= t < 64) does not apply; t >= time 2 (64) and < time 3
    // (192): level 0x20 + (0x10 - 0x20) * 64 / 128 = 24.
    set_curve(3, {0x0000, 0x8064, 0x4020, 0xC010, 0xFF40});
    EXPECT_FLOAT_EQ(at(3, 502, 1000), 24.0f);
    // Long sounds: e * 255 overflows 32 bits.
    set_curve(0, {0x0000, 0x4040, 0x8080, 0xC0C0, 0xFFFF});   // rising ramp
    EXPECT_NEAR(at(0, 200000000u, 400000000u), 1.0f, 0.05f);  // t = 127
    EXPECT_GT(at(0, 399999999u, 400000000u), 1.9f);
}
