#include "core/surface.h"

#include <gtest/gtest.h>

using namespace tambrel;

TEST(Surface, StartsWhiteWithThePersistentImageOn) {
    PictureSurface s(316, 236);
    EXPECT_EQ(s.width(), 316);
    EXPECT_EQ(s.height(), 236);
    EXPECT_TRUE(s.auto_redraw());
    EXPECT_EQ(s.point(0, 0), kWhite);
    EXPECT_EQ(s.point(315, 235), kWhite);
    EXPECT_FALSE(s.point(316, 0));
    EXPECT_FALSE(s.point(-1, 0));
}

TEST(Surface, PixelsUseTheRedLowByteLayout) {
    PictureSurface s(10, 10);
    s.pset(3, 4, rgb(10, 20, 30));
    EXPECT_EQ(s.point(3, 4), 10u + 256u * 20u + 65536u * 30u);
    EXPECT_EQ(s.image().pixel(3, 4), qRgb(10, 20, 30));
    s.pset(10, 10, kBlack);  // outside: ignored, no crash
}

TEST(Surface, DisplayOnlyDrawingLeavesThePersistentImage) {
    PictureSurface s(40, 40);
    s.pset(1, 1, kBlack);  // the "composite"
    s.set_auto_redraw(false);
    s.pset(5, 5, kBrightBlue);
    EXPECT_EQ(s.point(5, 5), kBrightBlue);
    EXPECT_EQ(s.displayed().pixel(5, 5), qRgb(0, 0, 255));
    EXPECT_EQ(s.image().pixel(5, 5), qRgb(255, 255, 255));
    EXPECT_EQ(s.point(1, 1), kBlack);  // the display shows the image beneath

    // Clearing with the switch off removes only the display-only drawing.
    s.clear();
    EXPECT_EQ(s.point(5, 5), kWhite);
    EXPECT_EQ(s.point(1, 1), kBlack);
    EXPECT_FALSE(s.has_display_layer());
}

TEST(Surface, ClearingWithThePersistentImageOnResetsItAndTheTextPosition) {
    PictureSurface s(40, 40);
    s.pset(1, 1, kBlack);
    s.current_x = 12;
    s.current_y = 7;
    s.clear();
    EXPECT_EQ(s.point(1, 1), kWhite);
    EXPECT_EQ(s.current_x, 0);
    EXPECT_EQ(s.current_y, 0);
}

TEST(Surface, DrawingIntoThePersistentImageDropsDisplayOnlyDrawing) {
    PictureSurface s(40, 40);
    s.set_auto_redraw(false);
    s.pset(5, 5, kBlack);
    s.set_auto_redraw(true);
    s.pset(6, 6, kBlack);
    EXPECT_EQ(s.displayed().pixel(5, 5), qRgb(255, 255, 255));
    EXPECT_EQ(s.displayed().pixel(6, 6), qRgb(0, 0, 0));
}

TEST(Surface, ExclusiveOrLineTwiceRestoresThePicture) {
    PictureSurface s(50, 50);
    s.draw_mode = DrawMode::Xor;
    s.line(5, 10, 40, 10, kBrightBlue);
    EXPECT_EQ(s.point(20, 10), rgb(255, 255, 0));  // blue on white reads back yellow
    s.line(5, 10, 40, 10, kBrightBlue);
    for (int x = 0; x < 50; ++x) EXPECT_EQ(s.point(x, 10), kWhite) << x;
}

TEST(Surface, BoxOutlineAndCircle) {
    PictureSurface s(60, 60);
    s.line(10, 10, 30, 20, kBlack, true);
    EXPECT_EQ(s.point(20, 10), kBlack);
    EXPECT_EQ(s.point(30, 15), kBlack);
    EXPECT_EQ(s.point(20, 15), kWhite);  // transparent fill
    s.circle(45, 45, 2, kBlack);
    EXPECT_EQ(s.point(45, 45), kWhite);
    EXPECT_EQ(s.point(47, 45), kBlack);
}

TEST(Surface, BackgroundPictureResetsTheImage) {
    PictureSurface s(20, 20);
    s.pset(2, 2, kBlack);
    s.set_auto_redraw(false);
    s.pset(3, 3, kBlack);
    s.set_picture(nullptr);
    EXPECT_EQ(s.point(2, 2), kWhite);
    EXPECT_EQ(s.point(3, 3), kWhite);
}

TEST(Surface, PrintMovesTheTextPositionToTheNextLine) {
    PictureSurface s(80, 80);
    s.current_x = 10;
    s.current_y = 5;
    s.print("8");
    EXPECT_EQ(s.current_x, 0);
    EXPECT_GT(s.current_y, 5);
    bool inked = false;
    for (int y = 5; y < 25; ++y)
        for (int x = 10; x < 25; ++x) inked |= s.point(x, y) != kWhite;
    EXPECT_TRUE(inked);
}
