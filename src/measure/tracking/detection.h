#pragma once
// Finding what moves: a frame against a picture of the empty scene (the background of
// the run). The difference at every pixel is the sum of the differences in red, green
// and blue; a threshold chosen from the difference's own histogram (Otsu's) marks what
// changed, and its connected regions are the candidates for the moving object, each
// with its centroid and area. Which region is the object is decided over the whole
// run (track_path.h), not here. Pure: no window, no clip.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tambrel::tracking {

// A picture in the QImage RGB32 layout (0xffRRGGBB), rows `stride_px` pixels apart.
struct PictureView {
    const uint32_t* pixels = nullptr;
    ptrdiff_t stride_px = 0;
    int width = 0, height = 0;
};

// One region of what changed. Positions are in the picture's pixels with (0, 0) at the
// top-left corner of the picture, so the first pixel's centre is at (0.5, 0.5).
struct Region {
    double x = 0, y = 0;   // the centroid of the region's body (see find_regions)
    int area = 0;          // pixels, holes filled
    bool at_edge = false;  // cut off by the picture's border (its body runs along it) there
};

struct FrameRegions {
    std::vector<Region> regions;  // largest first, at most kMostRegions
    int low = 0, high = 0;        // the thresholds used, on the difference's 0 to 255
};

inline constexpr int kMostRegions = 6;

// The regions where `frame` differs from `background` (same size; none otherwise):
//  - difference: min(255, |Δred| + |Δgreen| + |Δblue|);
//  - high threshold: Otsu's on the difference's histogram, but never below twice the
//    low one; low threshold: above the noise the histogram shows (its median, which is
//    the still scene's, three times over and a little more), at least 12;
//  - a region is a connected part (8 neighbours) of the pixels above the low threshold,
//    with specks and one-pixel lines taken off (an opening of 3 × 3), that holds at
//    least one pixel above the high one: a faint edge of the object still belongs to
//    it, noise alone never makes one;
//  - its centroid is that of its body: the region with its holes filled and anything
//    thinner than half its radius (a pendulum's string)
//    opened away, so what hangs on the object does not pull its centre.
FrameRegions find_regions(PictureView frame, PictureView background);

}  // namespace tambrel::tracking
