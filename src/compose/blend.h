#pragma once
// The merge rule of the composite: at every pixel keep the brighter (white priority) or
// the darker (black priority) of two colours, brightness being the mean of red, green
// and blue; or (difference priority) the one farther from a background picture of the
// empty scene, which keeps a moving object whole whatever lies behind it. Pure and free
// of widgets, so command-line tools and benchmarks share it.

#include <cstddef>
#include <cstdint>

#include "core/colors.h"

namespace tambrel {

enum class Priority { White, Black, Difference };

// (red + green + blue) / 3 of a 0x00BBGGRR colour; the top byte is ignored. Not
// truncated, so two brightnesses compare exactly as the channel sums do.
double pixel_brightness(Color c);

// |red - red'| + |green - green'| + |blue - blue'|, from 0 to 765; the top bytes are
// ignored. The same in either colour layout, as long as both colours use the same one.
int colour_distance(Color a, Color b);

// The colour written for one pixel: the new frame's colour when its brightness is
// greater or equal (white) or smaller (black) than the composite's, or when it is
// farther from `background` than the composite's colour is (difference); else the
// composite's. Ties go to the new colour under white and to the composite under black
// and difference (the earlier frame stays). `background` counts only for difference.
// The result is rebuilt from the channels, so the top byte is 0.
Color blend_pixel(Color composite, Color frame, Priority priority, Color background = kBlack);

// The picture difference priority measures against: a block as large as the merged one,
// in the same layout, with its own stride in pixels.
struct BackgroundBlock {
    const uint32_t* pixels = nullptr;
    ptrdiff_t stride_px = 0;
};

// Merges a width x height block of `frame` into `composite`, both 32-bit pixels in the
// QImage RGB32 layout (0xffRRGGBB) with strides counted in pixels. Every pixel of the
// block is written, with the whole colour chosen by blend_pixel's rule and the top byte
// set to 0xff as RGB32 requires. The two blocks may be the same memory (a no-op then)
// but must not otherwise overlap; the background must not overlap the composite.
// Nothing is done for a non-positive width or height, nor for difference priority
// without a background.
void blend_rgb32(uint32_t* composite, ptrdiff_t composite_stride_px, const uint32_t* frame,
                 ptrdiff_t frame_stride_px, int width, int height, Priority priority,
                 BackgroundBlock background = {});

}  // namespace tambrel
