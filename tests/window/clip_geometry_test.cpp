// The two pieces of arithmetic behind clips of any shape and length: the picture's fit
// into Picture1 and the scroll bar's 16-bit range spread over the frames.

#include <gtest/gtest.h>

#include <cstdlib>

#include "core/picture_fit.h"
#include "window/scroll_map.h"

using namespace tambrel;

// Every bar value names a frame and shows again as itself; every frame is within half
// a bar step of the frame its bar value seeks to; the ends are frame 0 and the length.
TEST(ScrollMap, TheBarReachesEveryPartOfAClipOfAnyLength) {
    const ScrollMap fits = *ScrollMap::for_length(32767);
    EXPECT_FALSE(fits.spread());
    EXPECT_EQ(fits.bar_maximum(), 32767);
    EXPECT_EQ(fits.frame_at(12345), 12345);
    // As the window always did: halves to even, beyond the bar its nearer end.
    EXPECT_EQ(fits.bar_at(56.5, 0, 150), 56);
    EXPECT_EQ(fits.bar_at(99999, 0, 150), 150);
    EXPECT_EQ(fits.bar_at(-99999, 0, 150), 0);
    EXPECT_EQ(ScrollMap::for_length(-3)->bar_maximum(), -3);
    EXPECT_TRUE(ScrollMap::for_length(32767.6)->spread());
    EXPECT_FALSE(ScrollMap::for_length(3e9));
    EXPECT_FALSE(ScrollMap::for_length(-40000));

    for (const int32_t length : {32768, 40000, 65535, 20'736'000, 2'147'483'647}) {
        SCOPED_TRACE(length);
        const ScrollMap map = *ScrollMap::for_length(length);
        ASSERT_TRUE(map.spread());
        ASSERT_EQ(map.bar_maximum(), ScrollMap::kBarLimit);
        EXPECT_EQ(map.frame_at(0), 0);
        EXPECT_EQ(map.frame_at(ScrollMap::kBarLimit), length);
        int32_t previous = -1;
        for (int v = 0; v <= ScrollMap::kBarLimit; ++v) {
            const int32_t frame = map.frame_at(v);
            ASSERT_GT(frame, previous) << v;
            ASSERT_EQ(map.bar_at(frame, 0, ScrollMap::kBarLimit), v);
            previous = frame;
        }
        const double half_step = double(length) / ScrollMap::kBarLimit / 2;
        const int32_t stride = std::max(1, length / 200'000);
        for (int64_t f = 0; f < length; f += stride) {
            const int bar = map.bar_at(double(f), 0, ScrollMap::kBarLimit);
            ASSERT_LE(std::abs(double(map.frame_at(bar) - f)), half_step + 0.5) << f;
        }
        EXPECT_EQ(map.bar_at(length + 10.0, 0, ScrollMap::kBarLimit), ScrollMap::kBarLimit);
        EXPECT_EQ(map.bar_at(-1, 0, ScrollMap::kBarLimit), 0);
    }
}

// 4:3 keeps the whole area; any other shape lies at the top left, touches the area's
// right or bottom edge, and keeps its proportions to within half a pixel.
TEST(PictureFit, FourByThreeFillsTheAreaOtherShapesKeepTheirProportions) {
    const QSize area(316, 236);
    for (const QSize four_three :
         {QSize(4, 3), QSize(320, 240), QSize(640, 480), QSize(1440, 1080)})
        EXPECT_EQ(picture_fit(four_three, area), QRect(0, 0, 316, 236));
    EXPECT_EQ(picture_fit(QSize(1920, 1080), area), QRect(0, 0, 316, 178));
    EXPECT_EQ(picture_fit(QSize(1080, 1920), area), QRect(0, 0, 133, 236));
    EXPECT_EQ(picture_fit(QSize(1080, 1080), area), QRect(0, 0, 236, 236));
    EXPECT_EQ(picture_fit(QSize(0, 480), area), QRect(0, 0, 316, 236));

    for (int w = 1; w <= 4000; w += 37) {
        for (int h = 1; h <= 4000; h += 41) {
            const QSize source(w, h);
            if (is_four_by_three(source)) continue;
            const QRect fit = picture_fit(source, area);
            ASSERT_EQ(fit.topLeft(), QPoint(0, 0));
            ASSERT_TRUE(fit.width() >= 1 && fit.width() <= 316 && fit.height() >= 1 &&
                        fit.height() <= 236)
                << w << "x" << h;
            ASSERT_TRUE(fit.width() == 316 || fit.height() == 236) << w << "x" << h;
            // The rounded side is within half a pixel of the exact proportion (a side
            // rounded up from below one pixel excepted).
            const double exact_height = double(h) * fit.width() / w;
            const double exact_width = double(w) * fit.height() / h;
            const bool height_rounded = fit.width() == 316;
            const double error = height_rounded ? std::abs(fit.height() - exact_height)
                                                : std::abs(fit.width() - exact_width);
            const double exact = height_rounded ? exact_height : exact_width;
            ASSERT_TRUE(error <= 0.5 || exact < 1) << w << "x" << h;
        }
    }

    EXPECT_EQ(source_size_from_reply("0 0 1080 1920"), QSize(1080, 1920));
    EXPECT_EQ(source_size_from_reply(" 0 0 640 360 "), QSize(640, 360));
    for (const char* bad : {"", "0 0 640", "0 0 640 0", "0 0 -640 360", "0 0 640 360 1",
                            "0 0 640x360", "The specified alias is not open."})
        EXPECT_EQ(source_size_from_reply(bad), std::nullopt) << bad;
}
