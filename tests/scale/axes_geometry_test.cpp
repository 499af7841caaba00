#include "scale/axes_geometry.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "scale/readout.h"

namespace tambrel {
namespace {

struct Split {
    std::vector<AxesLine> x_ticks, y_ticks;
    std::vector<AxesNumber> x_numbers, y_numbers;
};

// Sorts the drawing into the two axes: x ticks hang below the bottom edge, y ticks
// stand right of the right edge, x numbers sit below the ticks, y numbers beside them.
Split split(const AxesDrawing& d) {
    Split s;
    for (const auto& step : d.steps) {
        if (const auto* l = std::get_if<AxesLine>(&step)) {
            if (l->x1 == l->x2 && l->y1 == d.height && l->y2 > l->y1)
                s.x_ticks.push_back(*l);
            else if (l->y1 == l->y2 && l->x1 == d.width && l->x2 > l->x1)
                s.y_ticks.push_back(*l);
            else
                ADD_FAILURE() << "line neither an x nor a y tick: (" << l->x1 << "," << l->y1
                              << ")-(" << l->x2 << "," << l->y2 << ")";
        } else {
            const auto& n = std::get<AxesNumber>(step);
            (n.y > d.height ? s.x_numbers : s.y_numbers).push_back(n);
        }
    }
    return s;
}

// For every place, the longest tick drawn there (the one that shows).
std::map<int, int> longest_x(const std::vector<AxesLine>& ticks) {
    std::map<int, int> m;
    for (const auto& t : ticks) m[t.x1] = std::max(m[t.x1], t.y2 - t.y1);
    return m;
}
std::map<int, int> longest_y(const std::vector<AxesLine>& ticks) {
    std::map<int, int> m;
    for (const auto& t : ticks) m[t.y1] = std::max(m[t.y1], t.x2 - t.x1);
    return m;
}
int count_length(const std::vector<AxesLine>& ticks, int length, bool x) {
    int n = 0;
    for (const auto& t : ticks) n += (x ? t.y2 - t.y1 : t.x2 - t.x1) == length;
    return n;
}

TEST(AxesGeometry, StandardImageTickCountsAndPlaces) {
    const AxesDrawing d = axes_geometry(316, 236, true, true);
    EXPECT_EQ(d.width, 316);
    EXPECT_EQ(d.height, 236);
    const Split s = split(d);

    EXPECT_EQ(count_length(s.x_ticks, kXShortTick, true), 79);
    EXPECT_EQ(count_length(s.x_ticks, kXMiddleTick, true), 16);
    EXPECT_EQ(count_length(s.x_ticks, kXLongTick, true), 8);
    EXPECT_EQ(count_length(s.y_ticks, kYShortTick, false), 59);
    EXPECT_EQ(count_length(s.y_ticks, kYMiddleTick, false), 12);
    EXPECT_EQ(count_length(s.y_ticks, kYLongTick, false), 6);
    EXPECT_EQ(s.x_ticks.size(), 79u + 16u + 8u);
    EXPECT_EQ(s.y_ticks.size(), 59u + 12u + 6u);

    // What shows: a short tick every 4 pixels from the right edge down to x = 4, the
    // long ones at 316, 276 ... 36 and a middle one halfway between.
    const auto xs = longest_x(s.x_ticks);
    ASSERT_EQ(xs.size(), 79u);
    for (const auto& [x, len] : xs) {
        ASSERT_EQ((316 - x) % 4, 0) << x;
        const int expected = (316 - x) % 40 == 0 ? 22 : (316 - x) % 20 == 0 ? 18 : 14;
        EXPECT_EQ(len, expected) << "x = " << x;
    }
    EXPECT_EQ(xs.begin()->first, 4);
    std::vector<int> long_x;
    for (const auto& [x, len] : xs)
        if (len == kXLongTick) long_x.push_back(x);
    EXPECT_EQ(long_x, (std::vector<int>{36, 76, 116, 156, 196, 236, 276, 316}));

    const auto ys = longest_y(s.y_ticks);
    ASSERT_EQ(ys.size(), 59u);
    EXPECT_EQ(ys.begin()->first, 4);
    std::vector<int> long_y;
    for (const auto& [y, len] : ys)
        if (len == kYLongTick) long_y.push_back(y);
    EXPECT_EQ(long_y, (std::vector<int>{36, 76, 116, 156, 196, 236}));
    EXPECT_EQ(ys.at(216), kYMiddleTick);
    EXPECT_EQ(ys.at(232), kYShortTick);
}

TEST(AxesGeometry, NumbersFollowTheSwitches) {
    struct Case {
        bool x_true, y_true;
        std::vector<int> x_values, y_values;  // from the right / bottom edge inwards
    };
    const Case cases[] = {
        {true, true, {8, 7, 6, 5, 4, 3, 2, 1}, {6, 5, 4, 3, 2, 1}},
        {false, false, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 1, 2, 3, 4, 5}},
        {true, false, {8, 7, 6, 5, 4, 3, 2, 1}, {0, 1, 2, 3, 4, 5}},
        {false, true, {0, 1, 2, 3, 4, 5, 6, 7}, {6, 5, 4, 3, 2, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "x " << c.x_true << " y " << c.y_true);
        const Split s = split(axes_geometry(316, 236, c.x_true, c.y_true));
        ASSERT_EQ(s.x_numbers.size(), c.x_values.size());
        for (size_t i = 0; i < s.x_numbers.size(); ++i) {
            const int tick = 316 - 40 * int(i);
            EXPECT_EQ(s.x_numbers[i], (AxesNumber{tick - 2, 236 + 30, c.x_values[i]}));
        }
        ASSERT_EQ(s.y_numbers.size(), c.y_values.size());
        for (size_t i = 0; i < s.y_numbers.size(); ++i) {
            const int tick = 236 - 40 * int(i);
            EXPECT_EQ(s.y_numbers[i], (AxesNumber{316 + 30, tick - 5, c.y_values[i]}));
        }
    }
}

// The point of the scale: a pointer on a long tick reads the number printed at it.
TEST(AxesGeometry, PointerOnALongTickReadsItsNumber) {
    for (bool x_true : {true, false}) {
        for (bool y_true : {true, false}) {
            const Split s = split(axes_geometry(316, 236, x_true, y_true));
            ReadoutInput in;
            in.xaxis_true = x_true;
            in.yaxis_true = y_true;
            in.picture_width = 320;
            in.picture_height = 240;
            for (const auto& n : s.x_numbers) {
                in.x = float(n.x + 2);
                EXPECT_EQ(pointer_readout(in).x, float(n.value)) << "x tick " << in.x;
            }
            for (const auto& n : s.y_numbers) {
                in.y = float(n.y + 5);
                EXPECT_EQ(pointer_readout(in).y, float(n.value)) << "y tick " << in.y;
            }
        }
    }
}

TEST(AxesGeometry, OtherSizesCountFromTheRightAndBottomEdges) {
    // 101 is no multiple of 4: the ticks still start at the edge and stop above 0.
    const Split s = split(axes_geometry(101, 43, true, false));
    const auto xs = longest_x(s.x_ticks);
    EXPECT_EQ(xs.size(), 26u);  // 101, 97, ..., 1
    EXPECT_EQ(xs.begin()->first, 1);
    EXPECT_EQ(xs.at(101), kXLongTick);
    EXPECT_EQ(xs.at(61), kXLongTick);
    EXPECT_EQ(xs.at(81), kXMiddleTick);
    EXPECT_EQ(xs.at(21), kXLongTick);
    ASSERT_EQ(s.x_numbers.size(), 3u);
    EXPECT_EQ(s.x_numbers.back(), (AxesNumber{19, 73, 6}));  // 8 - i, whatever the width
    ASSERT_EQ(s.y_numbers.size(), 2u);                       // y = 43 and 3
    EXPECT_EQ(s.y_numbers.back(), (AxesNumber{131, -2, 1}));

    // An image with no width or height has a frame but nothing along that axis.
    for (int16_t w : {int16_t(0), int16_t(-3)}) {
        const Split e = split(axes_geometry(w, 10, true, true));
        EXPECT_TRUE(e.x_ticks.empty());
        EXPECT_TRUE(e.x_numbers.empty());
        EXPECT_EQ(e.y_numbers.size(), 1u);
    }

    // The largest image: positions past the 16-bit range stay exact rather than wrap.
    const AxesDrawing big = axes_geometry(32767, 32767, true, true);
    const Split b = split(big);
    EXPECT_EQ(b.x_ticks.front(), (AxesLine{32767, 32767, 32767, 32767 + kXShortTick}));
    EXPECT_EQ(b.x_numbers.front(), (AxesNumber{32765, 32767 + 30, 8}));
    EXPECT_EQ(longest_x(b.x_ticks).size(), 8192u);
}

TEST(AxesGeometry, ImageAreaIsTheOuterSizeLessTheBorderRoundedToEven) {
    EXPECT_EQ(image_area(320, 240), (ImageArea{316, 236}));
    EXPECT_EQ(image_area(320.5, 240.5), (ImageArea{316, 236}));  // 316.5 -> 316
    EXPECT_EQ(image_area(321.5, 243.5), (ImageArea{318, 240}));  // 317.5 -> 318
    EXPECT_EQ(image_area(2, 3), (ImageArea{-2, -1}));
    EXPECT_EQ(image_area(32771, 240), (ImageArea{32767, 236}));
    EXPECT_FALSE(image_area(32772, 240));
    EXPECT_FALSE(image_area(320, 40000));
}

}  // namespace
}  // namespace tambrel
