// The empty scene behind a moving object: which frames it is made of, and the median
// of them with frames that cannot be decoded, a cancel and no frame at all.

#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <set>

#include "compose/background.h"

namespace tambrel::compose {
namespace {

TEST(BackgroundFrames, FewerForLargePicturesAndNeverInStepWithAPeriod) {
    EXPECT_EQ(background_frame_limit(QSize(640, 480)), kMostBackgroundFrames);
    EXPECT_EQ(background_frame_limit(QSize(1920, 1080)), kMostBackgroundFrames);
    EXPECT_EQ(background_frame_limit(QSize(4096, 4096)), 4);  // 64 MiB each
    EXPECT_EQ(background_frame_limit(QSize(16384, 16384)), 1);

    // A short range: every frame.
    EXPECT_EQ(background_frames(3, 9, 15), (std::vector<int64_t>{3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(background_frames(5, 5, 15), (std::vector<int64_t>{5}));
    EXPECT_TRUE(background_frames(6, 5, 15).empty());

    // The sample pendulum: 300 frames, a period of 42.86 frames. Frames evenly 21.4 apart
    // would all show the bob at an end of its swing; these fall all over the period.
    const std::vector<int64_t> frames = background_frames(0, 299, 15);
    ASSERT_EQ(frames.size(), 15u);
    EXPECT_TRUE(std::is_sorted(frames.begin(), frames.end()));
    EXPECT_EQ(std::set<int64_t>(frames.begin(), frames.end()).size(), frames.size());
    EXPECT_GE(frames.front(), 0);
    EXPECT_LE(frames.back(), 299);
    // The bob is near one end of its swing (cos of the phase beyond ±0.9) in fewer than
    // half of them, so the median keeps the empty scene at both ends.
    int left = 0, right = 0;
    for (const int64_t n : frames) {
        const double c = std::cos(2 * M_PI * double(n) / (300.0 / 7));
        left += c > 0.9;
        right += c < -0.9;
    }
    EXPECT_LT(left, 7);
    EXPECT_LT(right, 7);
}

// Frames of a grey scene with a black square at a place of its own in each.
QImage scene(int64_t frame) {
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(0xFF808080u);
    for (int y = 10; y < 14; ++y)
        for (int x = 0; x < 4; ++x) picture.setPixel(int(frame) * 5 + x, y, 0xFF000000u);
    return picture;
}

TEST(MedianBackground, LeavesTheMovingThingOutAndSaysWhatItLeftOut) {
    std::vector<int64_t> skipped;
    int progress = 0;
    BackgroundSource source;
    source.draw = [](int64_t n, QImage& into) {
        if (n == 3) return media::MediaError::DecodeFailed;
        into = scene(n);
        return media::MediaError::None;
    };
    source.skipped = [&](int64_t n, const std::string& reason) {
        skipped.push_back(n);
        EXPECT_FALSE(reason.empty());
    };
    source.progress = [&] { return ++progress > 0; };
    const std::vector<int64_t> frames{0, 1, 2, 3, 4, 5};
    auto made = median_background(frames, QSize(40, 30), QImage(), source);
    ASSERT_TRUE(std::holds_alternative<MedianPicture>(made));
    const MedianPicture& median = std::get<MedianPicture>(made);
    EXPECT_EQ(median.frames, 5);
    QImage empty(40, 30, QImage::Format_RGB32);
    empty.fill(0xFF808080u);
    EXPECT_EQ(median.image, empty);
    EXPECT_EQ(skipped, (std::vector<int64_t>{3}));
    EXPECT_EQ(progress, 6);

    // Strict: the frame that cannot be decoded ends it, naming the frame.
    source.strict = true;
    auto strict = median_background(frames, QSize(40, 30), QImage(), source);
    ASSERT_TRUE(std::holds_alternative<RunFailure>(strict));
    EXPECT_EQ(std::get<RunFailure>(strict).kind, RunFailure::Kind::Decode);
    EXPECT_NE(std::get<RunFailure>(strict).message.find("frame 3"), std::string::npos);

    // Cancelled after the second frame.
    source.strict = false;
    progress = 0;
    source.progress = [&] { return ++progress < 2; };
    auto cancelled = median_background(frames, QSize(40, 30), QImage(), source);
    ASSERT_TRUE(std::holds_alternative<RunFailure>(cancelled));
    EXPECT_EQ(std::get<RunFailure>(cancelled).kind, RunFailure::Kind::Cancelled);
    EXPECT_EQ(progress, 2);

    // None decodes: said with the range, never an empty picture.
    source.progress = {};
    source.draw = [](int64_t, QImage&) { return media::MediaError::DecodeFailed; };
    auto none = median_background(frames, QSize(40, 30), QImage(), source);
    ASSERT_TRUE(std::holds_alternative<RunFailure>(none));
    EXPECT_EQ(std::get<RunFailure>(none).message,
              "no frame for the background can be decoded (frames 0 to 5)");
}

}  // namespace
}  // namespace tambrel::compose
