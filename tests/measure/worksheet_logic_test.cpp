// The worksheet's arithmetic without a window: calibrated readings on both axis
// settings, time between merged frames for constant and variable frame rates and slow
// motion, and the recorded points' table.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "compose/run_record.h"
#include "measure/calibration.h"
#include "measure/clip_timing.h"
#include "measure/point_table.h"
#include "scale/readout.h"

namespace tambrel {
namespace {

// A 640 × 480 clip at 600 pixels per metre, shown stretched into 316 × 236.
constexpr double kClipPerMetre = 600;
const ShownScale kStretch{640.0 / 316.0, 480.0 / 236.0};

ReadoutInput pointer(float x, float y, bool x_true, bool y_true) {
    ReadoutInput in;
    in.x = x;
    in.y = y;
    in.xaxis_true = x_true;
    in.yaxis_true = y_true;
    in.picture_width = 320;
    in.picture_height = 240;
    return in;
}

// Metres of a distance in shown pixels, through the clip's own pixels.
double metres(double shown_dx, double shown_dy) {
    return std::hypot(shown_dx * kStretch.x, shown_dy * kStretch.y) / kClipPerMetre;
}

TEST(Calibration, ReadsMetresWithTheScalesOriginOnBothAxisSettingsAndTicksAfterAClear) {
    Calibration c;
    // A 50 cm stick standing upright in the clip: 300 clip pixels, 147.5 shown.
    const double stick = 0.5 * kClipPerMetre / kStretch.y;
    ASSERT_TRUE(
        c.set_reference({100, 50}, {100, 50 + stick}, 50, LengthUnit::Centimetre, kStretch));
    EXPECT_EQ(c.unit_text(), QStringLiteral("cm"));

    // Switches True: 0 just left of and above the picture, as the scale's ticks. The
    // readings are to the 0.01 cm a shown pixel (3.4 mm) is worth.
    Readout r = c.apply(pointer_readout(pointer(116, 76, true, true)));
    EXPECT_NEAR(r.x, 100 * metres(120, 0), 0.005);
    EXPECT_NEAR(r.y, 100 * metres(0, 80), 0.005);
    // Switches False: 0 at the right and bottom edges, numbers growing left and up.
    r = c.apply(pointer_readout(pointer(16, 36, false, false)));
    EXPECT_NEAR(r.x, 100 * metres(300, 0), 0.005);
    EXPECT_NEAR(r.y, 100 * metres(0, 200), 0.005);

    // A drag across the whole picture is the clip's width; Δs its diagonal.
    ReadoutInput drag = pointer(316, 236, true, true);
    drag.drag_on = true;
    drag.drag_x0 = 0;
    drag.drag_y0 = 0;
    r = c.apply(pointer_readout(drag));
    EXPECT_NEAR(r.dx, 100 * 640 / kClipPerMetre, 0.005);
    EXPECT_NEAR(r.dy, 100 * 480 / kClipPerMetre, 0.005);
    EXPECT_NEAR(r.ds, 100 * 800 / kClipPerMetre, 0.005);
    drag.xaxis_true = drag.yaxis_true = false;
    r = c.apply(pointer_readout(drag));
    EXPECT_NEAR(r.dx, -100 * 640 / kClipPerMetre, 0.005);
    EXPECT_NEAR(r.ds, 100 * 800 / kClipPerMetre, 0.005);

    // The stretch differs across and down by 0.4 %: a tick is worth a little more down.
    EXPECT_EQ(c.tick_text(), QStringLiteral("1 目盛 = 13.5 cm（縦 13.6 cm）"));

    // Nonsense leaves the calibration as it was.
    EXPECT_FALSE(c.set_reference({5, 5}, {5.5, 5}, 1, LengthUnit::Metre, kStretch));
    EXPECT_FALSE(c.set_reference({5, 5}, {50, 5}, 0, LengthUnit::Metre, kStretch));
    EXPECT_FALSE(c.set_reference({5, 5}, {50, 5}, std::nan(""), LengthUnit::Metre, kStretch));
    EXPECT_EQ(c.unit(), LengthUnit::Centimetre);

    // Back to the scale: the Part's readings, exactly.
    c.clear();
    for (bool switches : {true, false}) {
        ReadoutInput in = pointer(123, 45, switches, !switches);
        in.drag_on = true;
        in.drag_x0 = 7;
        in.drag_y0 = 200;
        const Readout plain = pointer_readout(in), shown = c.apply(plain);
        EXPECT_EQ(shown.x, plain.x);
        EXPECT_EQ(shown.y, plain.y);
        EXPECT_EQ(shown.dx, plain.dx);
        EXPECT_EQ(shown.dy, plain.dy);
        EXPECT_EQ(shown.ds, plain.ds);
    }
    EXPECT_EQ(c.unit_text(), QStringLiteral("目盛"));
    EXPECT_TRUE(c.tick_text().isEmpty());
}

// Presentation times of a phone-like clip: frame durations cycling 30, 33, 36 ms.
std::vector<double> jittered_times(int frames) {
    std::vector<double> t(size_t(frames), 0.0);
    for (int n = 1; n < frames; ++n) t[size_t(n)] = t[size_t(n - 1)] + 30 + 3 * ((n - 1) % 3);
    return t;
}

TEST(MergeInterval, ComesFromStepsAndTimesForConstantAndVariableRatesAndSlowMotion) {
    // Constant 30 fps, 3 frames per step: 0.1 s, before any merge and from the times.
    RunRecord constant;
    constant.start_run(3);
    constant.seed(10, 10 * 1000.0 / 30);
    EXPECT_NEAR(*constant.interval_ms(30), 100.0, 1e-9);
    for (int f : {13, 16, 19}) constant.merge(f, f * 1000.0 / 30, Priority::White);
    EXPECT_NEAR(*constant.interval_ms(30), 100.0, 1e-9);
    EXPECT_NEAR(*constant.time_of(5, 30), 25 * 1000.0 / 30, 1e-9);

    // Variable rate: the recorded times, not the nominal rate, make the interval.
    const std::vector<double> t = jittered_times(40);
    RunRecord jitter;
    jitter.start_run(2);
    jitter.seed(0, t[0]);
    for (int f : {2, 4, 6}) jitter.merge(f, t[size_t(f)], Priority::Black);
    EXPECT_NEAR(*jitter.interval_ms(30), (t[6] - t[0]) / 3, 1e-9);
    EXPECT_NE(*jitter.interval_ms(30), 2 * 1000.0 / 30);
    EXPECT_EQ(*jitter.time_of(2, 30), t[4]);
    EXPECT_NEAR(*jitter.time_of(5, 30), t[6] + 2 * (t[6] - t[0]) / 3, 1e-9);
    // A run that continues the composite with another step: its own interval, counted
    // from the frame it stepped from.
    jitter.start_run(5);
    for (int f : {11, 16}) jitter.merge(f, t[size_t(f)], Priority::Black);
    EXPECT_NEAR(*jitter.interval_ms(30), (t[16] - t[6]) / 2, 1e-9);
    EXPECT_EQ(jitter.cycles().back().steps, 5);

    // Slow motion: 240 fps filmed, played at 30: a tenth of a clip second is 12.5 ms.
    ClipTiming slow;
    slow.frame_rate = 30;
    slow.file_capture_rate = 30;  // the file states nothing
    EXPECT_DOUBLE_EQ(slow.scene_seconds(100), 0.1);
    slow.stated_capture_rate = 240;
    EXPECT_DOUBLE_EQ(slow.scene_seconds(*constant.interval_ms(slow.frame_rate)), 0.0125);
    // A rate the file states is used until the user states another.
    ClipTiming phone;
    phone.frame_rate = 30;
    phone.file_capture_rate = 120;
    EXPECT_DOUBLE_EQ(phone.slow_factor(), 0.25);
    phone.stated_capture_rate = 60;
    EXPECT_DOUBLE_EQ(phone.slow_factor(), 0.5);

    // The record as a plan to rebuild the composite; unknown frames cannot be rebuilt.
    const auto plan = jitter.plan();
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->seed, 0);
    const std::vector<CompositionPlan::Merge> merges = {{2, Priority::Black},
                                                        {4, Priority::Black},
                                                        {6, Priority::Black},
                                                        {11, Priority::Black},
                                                        {16, Priority::Black}};
    EXPECT_EQ(plan->merges, merges);
    jitter.merge(std::nullopt, std::nullopt, Priority::White);
    EXPECT_FALSE(jitter.plan());
    RunRecord unseeded;
    unseeded.merge(3, 100, Priority::White);
    EXPECT_FALSE(unseeded.plan());
}

TEST(PointTable, VelocitiesFromNeighboursInTheCalibratedUnitFollowTheAxes) {
    // A body at 1.5 m/s across and 0.6 m/s up the clip, sampled every 0.1 s, clicked
    // to the pixel: shown positions rounded as a user clicks them.
    Calibration c;
    ASSERT_TRUE(
        c.set_reference({0, 0}, {316, 0}, 640 / kClipPerMetre, LengthUnit::Metre, kStretch));
    PointTable table;
    for (int k = 0; k < 6; ++k) {
        const double x_clip = 60 + 1.5 * kClipPerMetre * 0.1 * k;
        const double y_clip = 400 - 0.6 * kClipPerMetre * 0.1 * k;
        table.add({float(std::round(x_clip / kStretch.x)), float(std::round(y_clip / kStretch.y)),
                   1000.0 + 100.0 * k});
    }
    ClipTiming timing;
    timing.frame_rate = 30;
    PointAxes up;  // y numbers grow upwards, from the bottom edge
    up.yaxis_true = false;
    const auto rows = table.rows(c, up, timing);
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_FALSE(rows.front().vx || rows.back().vx);
    // A shown pixel is 2 clip pixels, 3.4 mm: two steps of 0.1 s resolve 1.5 m/s to 2 %.
    for (size_t k = 1; k + 1 < rows.size(); ++k) {
        EXPECT_NEAR(*rows[k].vx, 1.5, 0.03) << k;
        EXPECT_NEAR(*rows[k].vy, 0.6, 0.03) << k;
        EXPECT_NEAR(*rows[k].t, 1.0 + 0.1 * double(k), 1e-12);
    }
    // The other way round, the same motion reads negative.
    PointAxes down;
    down.xaxis_true = false;
    const auto mirrored = table.rows(c, down, timing);
    EXPECT_NEAR(*mirrored[2].vx, -*rows[2].vx, 1e-12);
    EXPECT_NEAR(*mirrored[2].vy, -*rows[2].vy, 1e-12);

    const TextTable text = point_table_text(rows, c);
    EXPECT_EQ(text.header,
              QStringList({QStringLiteral("k"), QStringLiteral("時刻 t [s]"),
                           QStringLiteral("位置 x [m]"), QStringLiteral("位置 y [m]"),
                           QStringLiteral("速度 vx [m/s]"), QStringLiteral("速度 vy [m/s]")}));
    EXPECT_EQ(text.rows[0][0], QStringLiteral("0"));
    EXPECT_EQ(text.rows[0][1], QStringLiteral("1.0000"));
    EXPECT_TRUE(text.rows[0][4].isEmpty());
    // Four decimals of a metre: a shown pixel is 3.4 mm.
    EXPECT_EQ(text.rows[2][2], QString::number(rows[2].x, 'f', 4));

    // Without a clip time there is no time and so no velocity; the scale's unit.
    PointTable untimed;
    untimed.add({10, 10, std::nullopt});
    untimed.add({20, 10, std::nullopt});
    untimed.add({30, 10, std::nullopt});
    const auto bare = untimed.rows(Calibration{}, PointAxes{}, ClipTiming{});
    EXPECT_FALSE(bare[1].t || bare[1].vx);
    EXPECT_FLOAT_EQ(bare[1].x, 24.0f / 40);
    EXPECT_EQ(point_table_text(bare, Calibration{}).header[2], QStringLiteral("位置 x [目盛]"));
    EXPECT_TRUE(untimed.remove_last());
    EXPECT_EQ(untimed.next_k(), 2);
}

}  // namespace
}  // namespace tambrel
