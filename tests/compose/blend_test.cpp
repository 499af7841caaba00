// The merge rules and their fast kernel, and the median picture, without a window.

#include "compose/blend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "compose/blend_paths.h"
#include "compose/median.h"

namespace tambrel {
namespace {

// QImage RGB32 pixel from channels.
constexpr uint32_t px(int r, int g, int b) { return to_rgb32(rgb(r, g, b)); }

uint32_t merged(uint32_t composite, uint32_t frame, Priority priority) {
    blend_rgb32(&composite, 1, &frame, 1, 1, 1, priority);
    return composite;
}

TEST(PixelBrightness, IsTheUntruncatedMeanOfTheChannelsIgnoringTheTopByte) {
    EXPECT_DOUBLE_EQ(pixel_brightness(rgb(1, 0, 0)), 1.0 / 3.0);
    EXPECT_DOUBLE_EQ(pixel_brightness(rgb(255, 255, 255)), 255.0);
    EXPECT_DOUBLE_EQ(pixel_brightness(rgb(10, 20, 31) | 0xff000000u), 61.0 / 3.0);
    // Colours one channel step apart in sum compare apart, whatever channel carries it.
    EXPECT_LT(pixel_brightness(rgb(0, 0, 100)), pixel_brightness(rgb(101, 0, 0)));
}

TEST(BlendRule, WhitePriorityTakesTheWholeBrighterPixelNotChannelMaxima) {
    // (200, 0, 0) against (0, 150, 100): a per-channel maximum would give (200, 150, 100).
    EXPECT_EQ(merged(px(200, 0, 0), px(0, 150, 100), Priority::White), px(0, 150, 100));
    EXPECT_EQ(merged(px(0, 150, 100), px(200, 0, 0), Priority::White), px(0, 150, 100));
    EXPECT_EQ(blend_pixel(rgb(200, 0, 0), rgb(0, 150, 100), Priority::White), rgb(0, 150, 100));
    EXPECT_EQ(blend_pixel(rgb(0, 150, 100), rgb(200, 0, 0), Priority::White), rgb(0, 150, 100));
}

TEST(BlendRule, BlackPriorityTakesTheWholeDarkerPixel) {
    EXPECT_EQ(merged(px(0, 0, 250), px(100, 100, 40), Priority::Black), px(100, 100, 40));
    EXPECT_EQ(merged(px(100, 100, 40), px(0, 0, 250), Priority::Black), px(100, 100, 40));
    EXPECT_EQ(blend_pixel(rgb(0, 0, 250), rgb(100, 100, 40), Priority::Black), rgb(100, 100, 40));
    EXPECT_EQ(blend_pixel(rgb(100, 100, 40), rgb(0, 0, 250), Priority::Black), rgb(100, 100, 40));
}

TEST(BlendRule, EqualSumsGoToTheNewColourUnderWhiteAndTheCompositeUnderBlack) {
    const uint32_t composite = px(120, 60, 30), frame = px(30, 60, 120);  // both sum 210
    EXPECT_EQ(merged(composite, frame, Priority::White), frame);
    EXPECT_EQ(merged(composite, frame, Priority::Black), composite);
    EXPECT_EQ(blend_pixel(rgb(120, 60, 30), rgb(30, 60, 120), Priority::White), rgb(30, 60, 120));
    EXPECT_EQ(blend_pixel(rgb(120, 60, 30), rgb(30, 60, 120), Priority::Black), rgb(120, 60, 30));
}

TEST(BlendRule, DifferencePriorityTakesTheWholeColourFartherFromTheBackground) {
    // A red ball (200, 30, 30) over a light grey floor (170, 170, 170) is darker than the
    // floor, over a dark stripe (40, 40, 40) brighter: distance from the empty scene
    // keeps it in both places, with its own colour, and a per-channel rule would not.
    const Color ball = rgb(200, 30, 30), floor = rgb(170, 170, 170), stripe = rgb(40, 40, 40);
    EXPECT_EQ(colour_distance(ball, floor), 30 + 140 + 140);
    EXPECT_EQ(colour_distance(floor, ball), colour_distance(ball, floor));
    EXPECT_EQ(colour_distance(rgb(1, 2, 3) | 0xff000000u, rgb(1, 2, 3)), 0);
    for (const Color background : {floor, stripe}) {
        EXPECT_EQ(blend_pixel(background, ball, Priority::Difference, background), ball);
        EXPECT_EQ(blend_pixel(ball, background, Priority::Difference, background), ball);
        uint32_t composite = to_rgb32(background);
        const uint32_t frame = to_rgb32(ball), empty = to_rgb32(background);
        blend_rgb32(&composite, 1, &frame, 1, 1, 1, Priority::Difference, {&empty, 1});
        EXPECT_EQ(composite, to_rgb32(ball));
    }
    EXPECT_NE(blend_pixel(floor, ball, Priority::White), ball);
    EXPECT_NE(blend_pixel(stripe, ball, Priority::Black), ball);
    // Equally far: the earlier colour stays.
    EXPECT_EQ(blend_pixel(rgb(110, 100, 100), rgb(100, 90, 100), Priority::Difference,
                          rgb(100, 100, 100)),
              rgb(110, 100, 100));
    // Without a background nothing is merged.
    uint32_t composite = px(1, 2, 3);
    const uint32_t frame = px(200, 0, 0);
    blend_rgb32(&composite, 1, &frame, 1, 1, 1, Priority::Difference);
    EXPECT_EQ(composite, px(1, 2, 3));
}

TEST(BlendRule, WrittenPixelsAreRebuiltFromTheirChannels) {
    // The top byte takes no part in the comparison and is always written as RGB32's 0xff,
    // also when the composite's own colour is kept.
    EXPECT_EQ(merged(0x00101010u, 0x7f000000u, Priority::White), 0xff101010u);
    EXPECT_EQ(merged(0x00101010u, 0x7f000000u, Priority::Black), 0xff000000u);
    EXPECT_EQ(blend_pixel(0xab102030u, 0xcd000000u, Priority::White), rgb(0x30, 0x20, 0x10));
}

TEST(BlendKernel, MergesOnlyTheBlockWithIndependentStrides) {
    constexpr int cstride = 7, fstride = 5, width = 3, height = 2;
    const uint32_t sentinel = px(1, 2, 3);
    std::vector<uint32_t> composite(cstride * 3, sentinel);
    std::vector<uint32_t> frame(fstride * 3, px(255, 255, 255));
    blend_rgb32(composite.data(), cstride, frame.data(), fstride, width, height, Priority::White);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < cstride; ++x) {
            const bool inside = x < width && y < height;
            EXPECT_EQ(composite[y * cstride + x], inside ? px(255, 255, 255) : sentinel)
                << "x=" << x << " y=" << y;
        }
}

TEST(BlendKernel, EmptyBlocksWriteNothing) {
    uint32_t composite = 0x00123456u;
    const uint32_t frame = px(255, 255, 255);
    blend_rgb32(&composite, 1, &frame, 1, 0, 1, Priority::White);
    blend_rgb32(&composite, 1, &frame, 1, 1, 0, Priority::White);
    blend_rgb32(&composite, 1, &frame, 1, -3, 2, Priority::White);
    EXPECT_EQ(composite, 0x00123456u);
}

class BlendKernelPath : public ::testing::TestWithParam<blend_paths::Path> {};

TEST_P(BlendKernelPath, AgreesWithThePixelRuleForEveryWidthAndStride) {
    if (!blend_paths::available(GetParam())) GTEST_SKIP() << "this processor lacks the path";
    // Random colours with many exact ties; widths around the vector lengths so both
    // the vector body and the leftover pixels of each row are exercised.
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> channel(0, 255), pick(0, 3);
    for (const Priority priority : {Priority::White, Priority::Black, Priority::Difference}) {
        for (int width = 1; width <= 41; ++width) {
            constexpr int height = 3;
            const int cstride = width + 3, fstride = width + 1, bstride = width + 2;
            std::vector<uint32_t> composite(cstride * height), frame(fstride * height),
                background(bstride * height);
            // Any top byte: it must take no part in the choice.
            auto with_top = [&](uint32_t p) {
                return (p & 0xffffffu) | uint32_t(channel(rng)) << 24;
            };
            for (auto& p : composite) p = with_top(px(channel(rng), channel(rng), channel(rng)));
            for (size_t i = 0; i < frame.size(); ++i) {
                const Color c = from_rgb32(composite[i % composite.size()]);
                // A quarter are the same sum in another order, to make ties common.
                frame[i] = with_top(pick(rng) == 0 ? px(blue_of(c), red_of(c), green_of(c))
                                                   : px(channel(rng), channel(rng), channel(rng)));
            }
            // A quarter grey, from which a colour and its reordering are equally far; the
            // rest all over, with channels on both sides of the composite's and frame's.
            for (auto& p : background) {
                const int grey = channel(rng);
                p = with_top(pick(rng) == 0 ? px(grey, grey, grey)
                                            : px(channel(rng), channel(rng), channel(rng)));
            }
            std::vector<uint32_t> expected = composite;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    uint32_t& e = expected[y * cstride + x];
                    e = to_rgb32(blend_pixel(from_rgb32(e), from_rgb32(frame[y * fstride + x]),
                                             priority, from_rgb32(background[y * bstride + x])));
                }
            blend_paths::blend_rgb32_on(GetParam(), composite.data(), cstride, frame.data(),
                                        fstride, width, height, priority,
                                        {background.data(), bstride});
            ASSERT_EQ(composite, expected)
                << "width " << width << " priority " << static_cast<int>(priority);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, BlendKernelPath,
                         ::testing::Values(blend_paths::Path::Portable, blend_paths::Path::Avx2),
                         [](const auto& info) {
                             return info.param == blend_paths::Path::Portable ? "Portable" : "Avx2";
                         });

TEST(BlendKernel, BlendingABufferIntoItselfKeepsItsColours) {
    std::vector<uint32_t> pixels = {0x00102030u, 0xff405060u, 0x12000000u};
    blend_rgb32(pixels.data(), 3, pixels.data(), 3, 3, 1, Priority::Black);
    EXPECT_EQ(pixels, (std::vector<uint32_t>{0xff102030u, 0xff405060u, 0xff000000u}));
}

TEST(MedianPicture, IsTheSceneWhereSomethingPassesThroughFewerThanHalfThePictures) {
    // A scene of random colours with a dot at a different place in each picture; the
    // median of 1 to 15 pictures is the scene exactly wherever the dots cover a pixel in
    // fewer than half of them, and at every byte the sorted middle value.
    std::mt19937 rng(7);
    constexpr int width = 37, height = 5;  // an odd width: a vector body and leftovers
    std::vector<uint32_t> scene(width * height);
    for (auto& p : scene) p = rng();
    for (int count = 1; count <= 15; ++count) {
        std::vector<std::vector<uint32_t>> pictures(count, scene);
        std::vector<ConstPixelBlock> blocks;
        for (int k = 0; k < count; ++k) {
            // Dots wander: some pixels are covered twice, with different colours.
            for (int i = 0; i < 6; ++i) pictures[k][(k * 5 + i * 13) % scene.size()] = rng();
            blocks.push_back({pictures[k].data(), width});
        }
        std::vector<uint32_t> median(width * height + 3, 0xdeadbeefu);
        median_rgb32(blocks, median.data(), width, width, height);
        for (size_t i = 0; i < scene.size(); ++i) {
            int covered = 0;
            uint32_t expected = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                std::vector<int> values;
                for (const auto& p : pictures) values.push_back((p[i] >> shift) & 0xff);
                std::sort(values.begin(), values.end());
                expected |= uint32_t(values[count / 2]) << shift;
            }
            for (const auto& p : pictures) covered += p[i] != scene[i];
            ASSERT_EQ(median[i], expected) << "pixel " << i << " of " << count;
            if (2 * covered < count) ASSERT_EQ(median[i], scene[i]) << "pixel " << i;
        }
        EXPECT_EQ(median.back(), 0xdeadbeefu) << "wrote past the block";
    }
}

}  // namespace
}  // namespace tambrel
