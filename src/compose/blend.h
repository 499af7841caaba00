#pragma once
// The merge rule of the composite: at every pixel keep the brighter (white priority) or
// the darker (black priority) of two colours, brightness being the mean of red, green
// and blue. Pure and free of widgets, so command-line tools and benchmarks share it.

#include <cstddef>
#include <cstdint>

#include "core/colors.h"

namespace tambrel {

enum class Priority { White, Black };

// (red + green + blue) / 3 of a 0x00BBGGRR colour; the top byte is ignored. Not
// truncated, so two brightnesses compare exactly as the channel sums do.
double pixel_brightness(Color c);

// The colour written for one pixel: the new frame's colour when its brightness is
// greater or equal (white) or smaller (black) than the composite's, else the
// composite's. Ties go to the new colour under white and to the composite under black.
// The result is rebuilt from the channels, so the top byte is 0.
Color blend_pixel(Color composite, Color frame, Priority priority);

// Merges a width x height block of `frame` into `composite`, both 32-bit pixels in the
// QImage RGB32 layout (0xffRRGGBB) with strides counted in pixels. Every pixel of the
// block is written, with the whole colour chosen by blend_pixel's rule and the top byte
// set to 0xff as RGB32 requires. The two blocks may be the same memory (a no-op then)
// but must not otherwise overlap. Nothing is done for a non-positive width or height.
void blend_rgb32(uint32_t* composite, ptrdiff_t composite_stride_px, const uint32_t* frame,
                 ptrdiff_t frame_stride_px, int width, int height, Priority priority);

}  // namespace tambrel
