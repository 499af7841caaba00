// The known motions measurement tests rely on: what the pictures show against what the API
// says (bob_place, second_object_place, frame_time_us).

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <array>
#include <cmath>

#include "clip_checks.h"
#include "clipgen.h"
#include "support/decoded_clip.h"

namespace tambrel::clipgen {
namespace {

using testing::yellow_pixels;

// Least-squares fit of y = c0 + c1 t + c2 t^2.
std::array<double, 3> fit_quadratic(const std::vector<double>& t, const std::vector<double>& y) {
    double s[5] = {}, r[3] = {};
    for (size_t i = 0; i < t.size(); ++i) {
        double power = 1;
        for (int k = 0; k < 5; ++k, power *= t[i]) {
            s[k] += power;
            if (k < 3) r[k] += power * y[i];
        }
    }
    // Normal equations, solved by Cramer's rule.
    const auto det = [](double a, double b, double c, double d, double e, double f, double g,
                        double h, double i) {
        return a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
    };
    const double d = det(s[0], s[1], s[2], s[1], s[2], s[3], s[2], s[3], s[4]);
    return {det(r[0], s[1], s[2], r[1], s[2], s[3], r[2], s[3], s[4]) / d,
            det(s[0], r[0], s[2], s[1], r[1], s[3], s[2], r[2], s[4]) / d,
            det(s[0], s[1], r[0], s[1], s[2], r[1], s[2], s[3], r[2]) / d};
}

TEST(KnownMotions, AFallingBodyCodedInH264GivesBackItsGAtTheStatedScale) {
    QTemporaryDir dir;
    ClipOptions o;
    o.path = dir.filePath("fall.mp4").toStdString();
    o.codec = Codec::H264;
    o.motion = Motion::Fall;
    o.fall_g = 1.62;  // the Moon's: the clip carries whatever g it is given
    o.pixels_per_metre = 400;
    o.width = 320;
    o.height = 240;
    o.frames = 20;
    o.textured_background = true;
    ASSERT_EQ(write_clip(o), std::nullopt);
    const testing::DecodedClip clip = testing::decode_clip(o.path);
    ASSERT_EQ(clip.facts.error, "");
    ASSERT_EQ(clip.count(), 20);

    std::vector<double> t, y;
    for (int n = 0; n < clip.count(); ++n) {
        const ObjectPlace place = bob_place(o, n);
        ASSERT_EQ(place.visibility, Visibility::Whole) << n;
        const auto seen = yellow_pixels(clip.upright(n), place.centre, place.radius + 3);
        ASSERT_GT(seen.count, 0) << n;
        EXPECT_NEAR(seen.centre.x(), place.centre.x(), 1.0) << n;
        EXPECT_NEAR(seen.centre.y(), place.centre.y(), 1.0) << n;
        t.push_back(clip.time_us[n] / 1e6);
        y.push_back(seen.centre.y());
    }
    // What a student does: a parabola through the measured heights, g = 2 c2 / scale.
    const auto c = fit_quadratic(t, y);
    EXPECT_NEAR(2 * c[2] / o.pixels_per_metre, o.fall_g, 0.01 * o.fall_g);
    EXPECT_NEAR(c[1], 0, 2.0);  // from rest (pixels per second)
}

TEST(KnownMotions, AGlidingBodyOverTexturedTilesAndASmallerSecondBodyAreWhereTheApiSays) {
    ClipOptions o;
    o.motion = Motion::Linear;
    o.velocity = {2.5, 0};
    o.textured_background = true;
    o.second_object = true;
    o.width = 160;
    o.height = 120;
    o.frames = 40;

    // Tiles both brighter and darker than the bob (by the mean of red, green and blue).
    const QImage first = render_frame(o, 0);
    const int bob_level = (255 + 244 + 176) / 3;
    int brighter = 0, darker = 0;
    for (int y = motion_top(o); y < first.height(); y += 3)
        for (int x = 0; x < first.width(); x += 3) {
            const QRgb p = first.pixel(x, y);
            if (qRed(p) != qBlue(p)) continue;  // grey tiles only
            const int level = (qRed(p) + qGreen(p) + qBlue(p)) / 3;
            (level > bob_level ? brighter : darker) += level != bob_level;
        }
    EXPECT_GT(brighter, 20);
    EXPECT_GT(darker, 2 * brighter);  // about three to one

    std::vector<double> xs;
    for (int n = 0; n < o.frames; ++n) {
        SCOPED_TRACE("frame " + std::to_string(n));
        const QImage picture = render_frame(o, n);
        const ObjectPlace bob = bob_place(o, n);
        const auto second = second_object_place(o, n);
        ASSERT_TRUE(second.has_value());
        ASSERT_EQ(bob.visibility, Visibility::Whole);
        ASSERT_EQ(second->visibility, Visibility::Whole);
        EXPECT_GT(
            std::hypot(bob.centre.x() - second->centre.x(), bob.centre.y() - second->centre.y()),
            bob.radius + second->radius + 2);
        EXPECT_DOUBLE_EQ(second->radius, bob.radius / 2);
        const auto seen_bob = yellow_pixels(picture, bob.centre, bob.radius + 2);
        const auto seen_second = yellow_pixels(picture, second->centre, second->radius + 2);
        EXPECT_NEAR(seen_bob.centre.x(), bob.centre.x(), 0.25);
        EXPECT_NEAR(seen_bob.centre.y(), bob.centre.y(), 0.25);
        // A small disc's thresholded centre wanders a little with its sub-pixel place.
        EXPECT_NEAR(seen_second.centre.x(), second->centre.x(), 0.5);
        EXPECT_NEAR(seen_second.centre.y(), second->centre.y(), 0.5);
        // Nothing else in the picture looks like a body.
        EXPECT_EQ(yellow_pixels(picture).count, seen_bob.count + seen_second.count);
        EXPECT_NEAR(static_cast<double>(seen_second.count) / seen_bob.count, 0.25, 0.08);
        xs.push_back(seen_bob.centre.x());
    }
    EXPECT_NEAR((xs.back() - xs.front()) / (o.frames - 1), o.velocity.x(), 0.01);
}

TEST(KnownMotions, TheSecondBodyKeepsClearOfTheDefaultPathsAndAllPlacesComeAtOnce) {
    for (Motion motion : {Motion::Linear, Motion::Fall, Motion::Pendulum}) {
        for (QSize size : {QSize(160, 120), QSize(640, 480), QSize(1080, 1920)}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(motion)) + " " +
                         std::to_string(size.width()) + "x" + std::to_string(size.height()));
            ClipOptions o;
            o.motion = motion;
            o.width = size.width();
            o.height = size.height();
            o.pixels_per_metre = size.height() * 1.25;  // the default pendulum's proportions
            o.second_object = true;
            o.frames = 90;
            o.vfr = motion == Motion::Pendulum;  // sampled at the frames' own times
            const std::vector<ObjectPlace> all = bob_places(o);
            ASSERT_EQ(all.size(), 90u);
            for (int n = 0; n < o.frames; ++n) {
                const ObjectPlace bob = bob_place(o, n);
                EXPECT_EQ(all[n].centre, bob.centre) << n;
                EXPECT_EQ(all[n].visibility, bob.visibility) << n;
                if (bob.visibility == Visibility::Hidden) continue;  // fallen out of sight
                const auto second = second_object_place(o, n);
                EXPECT_GT(std::hypot(bob.centre.x() - second->centre.x(),
                                     bob.centre.y() - second->centre.y()),
                          bob.radius + second->radius)
                    << n;
            }
        }
    }
}

TEST(KnownMotions, ABodyLeavingThePictureIsMarkedPartlyThenHiddenAsThePixelsShow) {
    for (QPointF velocity : {QPointF(6, 0), QPointF(1, -4)}) {  // out at the side; under the band
        SCOPED_TRACE(std::to_string(velocity.x()) + "," + std::to_string(velocity.y()));
        ClipOptions o;
        o.motion = Motion::Linear;
        o.velocity = velocity;
        o.width = 128;
        o.height = 96;
        o.frames = 30;
        o.vfr = true;  // the body keeps its pace in time, not in frames
        o.path = "x.mkv";
        const long whole = yellow_pixels(render_frame(o, 0)).count;
        ASSERT_GT(whole, 50);
        int seen[3] = {};
        for (int n = 0; n < o.frames; ++n) {
            const ObjectPlace place = bob_place(o, n);
            const long count = yellow_pixels(render_frame(o, n)).count;
            ++seen[static_cast<int>(place.visibility)];
            switch (place.visibility) {
                case Visibility::Whole:
                    EXPECT_NEAR(count, whole, 0.1 * whole) << n;
                    break;
                case Visibility::Partly:
                    EXPECT_GT(count, 0) << n;
                    EXPECT_LT(count, whole) << n;
                    break;
                case Visibility::Hidden:
                    EXPECT_EQ(count, 0) << n;
                    break;
            }
            // In time: nominal frames elapsed times the velocity.
            const double elapsed = frame_time_us(o, n) * 30 / 1e6;
            EXPECT_NEAR(place.centre.x(), bob_place(o, 0).centre.x() + velocity.x() * elapsed,
                        1e-9);
        }
        EXPECT_GT(seen[0], 0);
        EXPECT_GT(seen[1], 0);
        EXPECT_GT(seen[2], 0);
    }
}

}  // namespace
}  // namespace tambrel::clipgen
