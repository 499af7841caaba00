// The moving object found by itself in clips make-clip renders with known motion, each
// stored lossless (FFV1) and lossy (H.264): a pendulum, a body falling with a known g
// at a stated scale, and a body gliding at constant velocity over tiles with a smaller
// second body circling nearby until it leaves the picture. Every position found lies
// within half a pixel (lossless) or one pixel (lossy) of the centre the clip was drawn
// with; a frame without the bob is not found, whatever else moves in it; and the fits
// give back the period, g and the velocity the clips were made with. Then the fits
// alone: their standard errors are the scatter of their estimates.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cmath>
#include <map>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "clipgen.h"
#include "measure/tracking/clip_tracker.h"
#include "measure/tracking/fits.h"

namespace tambrel::tracking {
namespace {

using clipgen::Codec;
using clipgen::Motion;
using clipgen::Visibility;

enum class Scene { Pendulum, Fall, Glide };

clipgen::ClipOptions scene_options(Scene scene, Codec codec, const QString& folder) {
    clipgen::ClipOptions o;
    o.codec = codec;
    o.frame_number_band = false;
    o.keyframe_interval = 30;
    switch (scene) {
        case Scene::Pendulum:  // the sample's pendulum: 0.5 m, 20°, 600 px/m, 3 s
            o.motion = Motion::Pendulum;
            o.width = 640;
            o.height = 480;
            o.frames = 90;
            break;
        case Scene::Fall:  // from rest at 60 fps and 400 px/m, until it drops out
            o.motion = Motion::Fall;
            o.width = 360;
            o.height = 480;
            o.fps_num = 60;
            o.frames = 40;
            o.pixels_per_metre = 400;
            o.fall_g = 9.81;
            break;
        case Scene::Glide:  // 120 px/s across tiles, out at the right after ~115 frames
            o.motion = Motion::Linear;
            o.width = 480;
            o.height = 360;
            o.frames = 140;
            o.velocity = {4, 0};
            o.textured_background = true;
            o.second_object = true;
            break;
    }
    const char* name = scene == Scene::Pendulum ? "pendulum"
                       : scene == Scene::Fall   ? "fall"
                                                : "glide";
    o.path =
        (folder + QStringLiteral("/%1-%2.%3")
                      .arg(QString::fromLatin1(name))
                      .arg(QString::fromLatin1(clipgen::codec_name(codec).data()))
                      .arg(codec == Codec::H264 ? QStringLiteral("mp4") : QStringLiteral("avi")))
            .toStdString();
    return o;
}

struct Tracked {
    clipgen::ClipOptions options;
    TrackResult result;
};

// Every clip once, tracked through all its frames, for all the tests.
class TrackingOnClips : public ::testing::TestWithParam<Codec> {
  protected:
    static void SetUpTestSuite() { folder_ = std::make_unique<QTemporaryDir>(); }
    static void TearDownTestSuite() {
        tracked_.clear();
        folder_.reset();
    }

    static const Tracked& tracked(Scene scene, Codec codec) {
        const auto key = std::make_pair(scene, codec);
        if (auto it = tracked_.find(key); it != tracked_.end()) return it->second;
        Tracked t;
        t.options = scene_options(scene, codec, folder_->path());
        if (const auto error = clipgen::write_clip(t.options)) ADD_FAILURE() << *error;
        auto opened = ClipTracker::open(t.options.path);
        if (auto* failure = std::get_if<TrackFailure>(&opened)) {
            ADD_FAILURE() << failure->message;
        } else {
            std::vector<int64_t> frames;
            for (int n = 0; n < t.options.frames; ++n) frames.push_back(n);
            auto result = std::get<std::unique_ptr<ClipTracker>>(opened)->track(frames, true);
            if (auto* failure = std::get_if<TrackFailure>(&result))
                ADD_FAILURE() << failure->message;
            else
                t.result = std::get<TrackResult>(std::move(result));
        }
        return tracked_.emplace(key, std::move(t)).first->second;
    }

    double pixel_tolerance() const { return GetParam() == Codec::H264 ? 1.0 : 0.5; }
    double relative_tolerance(double lossless) const {
        return GetParam() == Codec::H264 ? 2 * lossless : lossless;
    }

    // Every position found against the centre it was drawn at: within the tolerance;
    // a bob in full view found, one out of view not. The found frames' times and
    // positions come back for the fits.
    struct Path {
        std::vector<double> t, x, y;
    };
    Path check_positions(const Tracked& t) const {
        Path path;
        const auto places = clipgen::bob_places(t.options);
        EXPECT_EQ(t.result.frames.size(), places.size());
        int worst_frame = -1;
        double worst = 0;
        for (size_t k = 0; k < std::min(t.result.frames.size(), places.size()); ++k) {
            const TrackedFrame& f = t.result.frames[k];
            const clipgen::ObjectPlace& truth = places[k];
            EXPECT_EQ(f.frame, int64_t(k));
            if (truth.visibility == Visibility::Whole) {
                EXPECT_TRUE(f.object) << "the bob in full view at frame " << k << " is not found";
            }
            if (truth.visibility == Visibility::Hidden) {
                EXPECT_FALSE(f.object) << "frame " << k << " has no bob, yet one is found at ("
                                       << f.object->x << ", " << f.object->y << ")";
            }
            if (!f.object) continue;
            const double off =
                std::hypot(f.object->x - truth.centre.x(), f.object->y - truth.centre.y());
            EXPECT_LE(off, pixel_tolerance())
                << "frame " << k << ": found at (" << f.object->x << ", " << f.object->y
                << "), drawn at (" << truth.centre.x() << ", " << truth.centre.y() << ")";
            if (off > worst) {
                worst = off;
                worst_frame = int(k);
            }
            path.t.push_back(*t.result.scene_seconds(f));
            path.x.push_back(f.object->x);
            path.y.push_back(f.object->y);
        }
        std::printf(
            "      %zu of %zu frames found; farthest from the drawn centre: %.3f px (frame %d)\n",
            path.t.size(), t.result.frames.size(), worst, worst_frame);
        return path;
    }

    static inline std::unique_ptr<QTemporaryDir> folder_;
    static inline std::map<std::pair<Scene, Codec>, Tracked> tracked_;
};

TEST_P(TrackingOnClips, APendulumsPeriodComesFromTheSineFitOfItsPositions) {
    const Tracked& t = tracked(Scene::Pendulum, GetParam());
    const Path path = check_positions(t);
    ASSERT_EQ(path.t.size(), size_t(t.options.frames));
    // The period of a pendulum released at 20°: 4 √(L/g) K(sin 10°).
    const double L = t.options.pendulum_length_m, g = clipgen::gravity;
    const double period =
        4 * std::sqrt(L / g) *
        std::comp_ellint_1(std::sin(t.options.amplitude_deg / 2 * std::numbers::pi / 180));
    const auto fit = fit_sine(path.t, path.x);
    ASSERT_TRUE(fit);
    std::printf("      period %.5f ± %.5f s (truth %.5f s), amplitude %.2f ± %.2f px\n",
                fit->period.value, fit->period.error, period, fit->amplitude.value,
                fit->amplitude.error);
    EXPECT_NEAR(fit->period.value, period, relative_tolerance(0.005) * period);
    // x = L sin θ: the swing's reach at 20°, in pixels.
    const double reach = L * t.options.pixels_per_metre * std::sin(20 * std::numbers::pi / 180);
    EXPECT_NEAR(fit->amplitude.value, reach, relative_tolerance(0.01) * reach);
}

TEST_P(TrackingOnClips, AFallingBodyGivesBackGAtTheStatedScale) {
    const Tracked& t = tracked(Scene::Fall, GetParam());
    const Path path = check_positions(t);
    ASSERT_GE(path.t.size(), 25u);
    const auto fit = fit_parabola(path.t, path.y);
    ASSERT_TRUE(fit);
    const double g = fit->acceleration.value / t.options.pixels_per_metre;
    std::printf("      g = %.4f ± %.4f m/s² from %d positions\n", g,
                fit->acceleration.error / t.options.pixels_per_metre, fit->points);
    EXPECT_NEAR(g, t.options.fall_g, relative_tolerance(0.01) * t.options.fall_g);
    // Across, it does not move.
    const auto across = fit_line(path.t, path.x);
    ASSERT_TRUE(across);
    EXPECT_NEAR(across->velocity.value, 0, 0.5);
}

TEST_P(TrackingOnClips, AGlidingBodyOverTilesKeepsItsVelocityAndIsNeverTakenForTheSmallerOne) {
    const Tracked& t = tracked(Scene::Glide, GetParam());
    const Path path = check_positions(t);
    // Out at the right with the smaller body still circling: not found, not mistaken.
    int hidden = 0;
    for (int n = 0; n < t.options.frames; ++n) {
        if (clipgen::bob_place(t.options, n).visibility != Visibility::Hidden) continue;
        ++hidden;
        ASSERT_TRUE(clipgen::second_object_place(t.options, n));
    }
    EXPECT_GE(hidden, 15);
    ASSERT_GE(path.t.size(), 100u);
    const auto fit = fit_line(path.t, path.x);
    ASSERT_TRUE(fit);
    const double velocity = t.options.velocity.x() * t.options.fps_num / t.options.fps_den;
    std::printf("      vx = %.3f ± %.3f px/s (truth %.1f)\n", fit->velocity.value,
                fit->velocity.error, velocity);
    EXPECT_NEAR(fit->velocity.value, velocity, relative_tolerance(0.005) * velocity);
    const auto down = fit_line(path.t, path.y);
    ASSERT_TRUE(down);
    EXPECT_NEAR(down->velocity.value, 0, 0.01 * velocity);
}

INSTANTIATE_TEST_SUITE_P(LosslessAndLossy, TrackingOnClips,
                         ::testing::Values(Codec::Ffv1, Codec::H264),
                         [](const ::testing::TestParamInfo<Codec>& info) {
                             return std::string(info.param == Codec::H264 ? "H264" : "Ffv1");
                         });

// Many noisy samplings of known curves: each fit's estimate scatters about the truth by
// the standard error it states (within 20 % over 400 trials), and lands on it on
// average.
TEST(Fits, StandardErrorsAreTheScatterOfTheEstimates) {
    std::mt19937 random(12345);
    std::normal_distribution<double> noise(0.0, 0.8);
    struct Spread {
        double sum = 0, sum_sq = 0, stated = 0;
        int n = 0;
        void add(double estimate, double truth, double error) {
            sum += estimate - truth;
            sum_sq += (estimate - truth) * (estimate - truth);
            stated += error * error;
            ++n;
        }
        double bias() const { return sum / n; }
        double scatter() const { return std::sqrt(sum_sq / n); }
        double mean_error() const { return std::sqrt(stated / n); }
    };
    Spread velocity, acceleration, period, amplitude;
    std::vector<double> t(40), line(40), parabola(40), sine(40);
    for (int trial = 0; trial < 400; ++trial) {
        for (size_t i = 0; i < t.size(); ++i) {
            t[i] = 2.0 + 0.05 * double(i);  // far from 0, as clip times are
            line[i] = 30 + 120 * t[i] + noise(random);
            parabola[i] = 10 - 3 * t[i] + 0.5 * 588.6 * t[i] * t[i] + noise(random);
            sine[i] = 200 + 60 * std::sin(2 * std::numbers::pi * t[i] / 1.43 + 0.7) + noise(random);
        }
        const auto l = fit_line(t, line);
        const auto p = fit_parabola(t, parabola);
        const auto s = fit_sine(t, sine);
        ASSERT_TRUE(l && p && s);
        velocity.add(l->velocity.value, 120, l->velocity.error);
        acceleration.add(p->acceleration.value, 588.6, p->acceleration.error);
        period.add(s->period.value, 1.43, s->period.error);
        amplitude.add(s->amplitude.value, 60, s->amplitude.error);
        if (trial == 0) {
            EXPECT_NEAR(l->at(3.0), 30 + 360, 1.0);
            EXPECT_NEAR(p->at(3.0), 10 - 9 + 0.5 * 588.6 * 9, 1.0);
            EXPECT_NEAR(s->at(3.0), 200 + 60 * std::sin(2 * std::numbers::pi * 3 / 1.43 + 0.7),
                        1.0);
        }
    }
    for (const Spread* s : {&velocity, &acceleration, &period, &amplitude}) {
        EXPECT_NEAR(s->scatter(), s->mean_error(), 0.2 * s->mean_error());
        EXPECT_LT(std::abs(s->bias()), 0.25 * s->scatter());
    }
    // Too few points, or all at one time, give no fit rather than a guess.
    const std::vector<double> two{1, 2}, flat{5, 5, 5, 5, 5, 5};
    EXPECT_FALSE(fit_line(two, two));
    EXPECT_FALSE(fit_parabola(std::vector<double>{1, 2, 3}, std::vector<double>{1, 4, 9}));
    EXPECT_FALSE(fit_sine(flat, std::vector<double>{1, 2, 3, 4, 5, 6}));
}

}  // namespace
}  // namespace tambrel::tracking
