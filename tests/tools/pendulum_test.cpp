// The simulated pendulum: physics without video, then the bob in a decoded clip.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cmath>
#include <numbers>

#include "avi_probe.h"
#include "clip_checks.h"
#include "clipgen.h"

namespace tambrel::clipgen {
namespace {

constexpr double pi = std::numbers::pi;

// Times at which the samples change sign, by linear interpolation.
std::vector<double> zero_crossings(const std::vector<double>& values, double interval) {
    std::vector<double> times;
    for (size_t i = 1; i < values.size(); ++i)
        if ((values[i - 1] < 0) != (values[i] < 0))
            times.push_back(interval * (i - 1 + values[i - 1] / (values[i - 1] - values[i])));
    return times;
}

// Period from the mean spacing of consecutive zero crossings (half a period each).
double measured_period(const std::vector<double>& values, double interval) {
    const auto times = zero_crossings(values, interval);
    EXPECT_GE(times.size(), 3u);
    if (times.size() < 2) return 0;
    return 2 * (times.back() - times.front()) / static_cast<double>(times.size() - 1);
}

// Exact period of the nonlinear pendulum: 2*pi*sqrt(L/g) / AGM(1, cos(theta0/2)).
double exact_period(double length, double amplitude_deg) {
    double a = 1, b = std::cos(amplitude_deg * pi / 360);
    for (int i = 0; i < 30; ++i) {
        const double next = (a + b) / 2;
        b = std::sqrt(a * b);
        a = next;
    }
    return 2 * pi * std::sqrt(length / gravity) / a;
}

TEST(PendulumPhysics, PeriodAtTwentyDegreesMatchesTheAmplitudeCorrectedFormula) {
    const double length = 0.5, theta0 = 20 * pi / 180;
    const double interval = 0.001;
    const auto angles = pendulum_angles(length, 20, interval, 6000);
    ASSERT_EQ(angles.size(), 6000u);
    EXPECT_DOUBLE_EQ(angles.front(), theta0);
    const double expected = 2 * pi * std::sqrt(length / gravity) * (1 + theta0 * theta0 / 16);
    EXPECT_NEAR(measured_period(angles, interval), expected, 0.01 * expected);
}

TEST(PendulumPhysics, LargeSwingsFollowTheExactNonlinearPeriod) {
    // A sine with the small-angle period would be 7 % short at 60 degrees and 37 % at 150.
    for (double amplitude : {5.0, 20.0, 60.0, 120.0, 150.0}) {
        for (double length : {0.25, 1.0}) {
            const double interval = 1.0 / 240;
            const double expected = exact_period(length, amplitude);
            const int samples = static_cast<int>(3.2 * expected / interval);
            const auto angles = pendulum_angles(length, amplitude, interval, samples);
            EXPECT_NEAR(measured_period(angles, interval), expected, 0.001 * expected)
                << amplitude << " deg, " << length << " m";
        }
    }
}

TEST(PendulumPhysics, SwingKeepsItsAmplitudeAndDoesNotDependOnTheFrameRate) {
    const double theta0 = 40 * pi / 180;
    const auto fine = pendulum_angles(0.5, 40, 1.0 / 300, 300 * 20);
    const auto video = pendulum_angles(0.5, 40, 1.0 / 30, 30 * 20);
    ASSERT_EQ(video.size(), 600u);
    double peak = 0;
    for (double angle : fine) peak = std::max(peak, std::abs(angle));
    EXPECT_NEAR(peak, theta0, 1e-6);  // no energy gained or lost over 20 s
    double late_peak = 0;
    for (size_t i = fine.size() - 600; i < fine.size(); ++i)
        late_peak = std::max(late_peak, std::abs(fine[i]));
    EXPECT_NEAR(late_peak, theta0, 1e-4);
    for (size_t i = 0; i < video.size(); ++i) ASSERT_NEAR(video[i], fine[10 * i], 1e-8) << i;
}

TEST(PendulumPhysics, NoSamplesForUnusableInput) {
    EXPECT_TRUE(pendulum_angles(0.5, 20, 0.01, 0).empty());
    EXPECT_TRUE(pendulum_angles(0, 20, 0.01, 10).empty());
    EXPECT_TRUE(pendulum_angles(0.5, 20, 0, 10).empty());
    EXPECT_EQ(pendulum_angles(0.5, 0, 0.01, 50), std::vector<double>(50, 0.0));
}

TEST(PendulumClip, BobSwingsOnAStringOfConstantLengthBelowAFixedPivot) {
    ClipOptions options;
    options.motion = Motion::Pendulum;
    options.width = 640;
    options.height = 480;
    const double reach = options.pendulum_length_m * options.pixels_per_metre;
    const auto angles =
        pendulum_angles(options.pendulum_length_m, options.amplitude_deg, 1.0 / 30, 90);
    double pivot_y = 0;
    for (int frame = 0; frame < 90; ++frame) {
        const QPointF bob = bob_position(options, frame);
        EXPECT_NEAR(bob.x() - options.width / 2.0, reach * std::sin(angles[frame]), 1e-9);
        const double y = bob.y() - reach * std::cos(angles[frame]);
        if (frame == 0) pivot_y = y;
        EXPECT_NEAR(y, pivot_y, 1e-9) << frame;
    }
    EXPECT_GT(pivot_y, 0);
    EXPECT_LT(pivot_y, options.height / 6.0);  // near the top
}

TEST(PendulumClip, DecodedFramesShowTheBobAndStringWhereTheSimulationPutsThem) {
    QTemporaryDir dir;
    ClipOptions options;
    options.path = dir.filePath("pendulum.avi").toStdString();
    options.motion = Motion::Pendulum;
    options.width = 320;
    options.height = 240;
    options.pixels_per_metre = 300;
    options.frames = 90;
    ASSERT_EQ(write_clip(options), std::nullopt);
    const testing::ProbedClip clip = testing::probe_clip(options.path);
    ASSERT_EQ(clip.error, "");
    ASSERT_EQ(clip.frames.size(), 90u);

    const QPointF bob0 = bob_position(options, 0);
    const double reach = options.pendulum_length_m * options.pixels_per_metre;
    const double theta0 = options.amplitude_deg * pi / 180;
    const QPointF pivot(bob0.x() - reach * std::sin(theta0), bob0.y() - reach * std::cos(theta0));
    std::vector<double> offsets;
    for (int i = 0; i < 90; ++i) {
        const QImage& frame = clip.frames[i];
        EXPECT_EQ(read_frame_number(frame), i);
        const auto seen = testing::bob_centroid(frame);
        ASSERT_TRUE(seen.has_value()) << i;
        const QPointF expected = bob_position(options, i);
        EXPECT_NEAR(seen->x(), expected.x(), 1.0) << i;
        EXPECT_NEAR(seen->y(), expected.y(), 1.0) << i;
        // Halfway along the string the picture is lit well above the field (the line is
        // thin: look at the pixels around the point).
        const QPoint mid = ((pivot + expected) / 2).toPoint();
        int brightest = 0;
        for (int dy = -2; dy <= 2; ++dy)
            for (int dx = -2; dx <= 2; ++dx)
                brightest = std::max(brightest, qGray(frame.pixel(mid + QPoint(dx, dy))));
        EXPECT_GT(brightest, 90) << i;
        offsets.push_back(seen->x() - pivot.x());
    }
    // What a student does with the clip: time the swing from the bob's crossings of the
    // vertical through the pivot.
    const double expected =
        2 * pi * std::sqrt(options.pendulum_length_m / gravity) * (1 + theta0 * theta0 / 16);
    EXPECT_NEAR(measured_period(offsets, 1.0 / 30), expected, 0.01 * expected);
}

}  // namespace
}  // namespace tambrel::clipgen
