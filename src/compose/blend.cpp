#include "compose/blend.h"

namespace tambrel {

namespace {

// The channel sum is the same in 0x00BBGGRR and 0xffRRGGBB: only the order differs.
inline uint32_t channel_sum(uint32_t p) {
    return (p & 0xffu) + ((p >> 8) & 0xffu) + ((p >> 16) & 0xffu);
}

// One row, written so the compiler turns it into compares and masked selects on
// whole vectors: no branches, no early exits, and the rule fixed per instantiation.
template <Priority P>
void blend_row(uint32_t* __restrict composite, const uint32_t* __restrict frame, int width) {
    for (int x = 0; x < width; ++x) {
        const uint32_t c = composite[x];
        const uint32_t f = frame[x];
        const uint32_t sc = channel_sum(c);
        const uint32_t sf = channel_sum(f);
        const bool take_new = P == Priority::White ? sf >= sc : sf < sc;
        composite[x] = (take_new ? f : c) | 0xff000000u;
    }
}

template <Priority P>
void blend_block(uint32_t* composite, ptrdiff_t composite_stride, const uint32_t* frame,
                 ptrdiff_t frame_stride, int width, int height) {
    for (int y = 0; y < height; ++y) {
        uint32_t* crow = composite + y * composite_stride;
        const uint32_t* frow = frame + y * frame_stride;
        // The same row in both: every pixel keeps its colour (only the top byte may change).
        if (crow == frow) {
            for (int x = 0; x < width; ++x) crow[x] |= 0xff000000u;
            continue;
        }
        blend_row<P>(crow, frow, width);
    }
}

}  // namespace

double pixel_brightness(Color c) {
    return (static_cast<double>(red_of(c)) + green_of(c) + blue_of(c)) / 3.0;
}

Color blend_pixel(Color composite, Color frame, Priority priority) {
    const double sc = pixel_brightness(composite);
    const double sn = pixel_brightness(frame);
    const bool take_new = priority == Priority::White ? sn >= sc : sn < sc;
    const Color chosen = take_new ? frame : composite;
    return rgb(red_of(chosen), green_of(chosen), blue_of(chosen));
}

void blend_rgb32(uint32_t* composite, ptrdiff_t composite_stride_px, const uint32_t* frame,
                 ptrdiff_t frame_stride_px, int width, int height, Priority priority) {
    if (width <= 0 || height <= 0) return;
    if (priority == Priority::White)
        blend_block<Priority::White>(composite, composite_stride_px, frame, frame_stride_px, width,
                                     height);
    else
        blend_block<Priority::Black>(composite, composite_stride_px, frame, frame_stride_px, width,
                                     height);
}

}  // namespace tambrel
