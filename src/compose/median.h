#pragma once
// The picture of an empty scene from pictures of it with something moving through: at
// every pixel, red, green and blue each take the middle of the pictures' values. Where
// the moving thing covers a pixel in fewer than half of them, the scene behind it is
// what remains. Pure, like the merge kernel.

#include <cstddef>
#include <cstdint>
#include <span>

namespace tambrel {

// A block of 32-bit pixels (QImage RGB32 layout) with its stride in pixels.
struct ConstPixelBlock {
    const uint32_t* pixels = nullptr;
    ptrdiff_t stride_px = 0;
};

// Writes into `out` (width x height, its own stride) the bytewise median of the blocks:
// each of the four bytes of a pixel is the value at index count / 2 of that byte's
// values sorted, so the middle one for an odd count and the upper middle one for an even
// count. Nothing is done for no blocks or a non-positive size. `out` may be one of the
// blocks.
void median_rgb32(std::span<const ConstPixelBlock> blocks, uint32_t* out, ptrdiff_t out_stride_px,
                  int width, int height);

}  // namespace tambrel
