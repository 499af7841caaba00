#pragma once
// Which region of each frame is the moving object, decided over the whole run: a region
// counts only where its size is the object's (half to twice the usual largest region,
// so a smaller second body is never taken for it, nor noise) and where it lies on the
// path the others make. A frame without such a region is "not found", never guessed.
// Pure.

#include <optional>
#include <span>
#include <vector>

#include "measure/tracking/detection.h"

namespace tambrel::tracking {

// `frames[k]` holds frame k's regions (find_regions), `times[k]` its time (any unit,
// increasing; the frame's index serves where times are unknown). One entry per frame:
// the object's region, or nullopt.
//
// The object's size is the median area of the frames' largest regions. A region cut
// off by the picture's border is left out (its centroid is not the object's centre),
// unless most frames' largest regions touch the border: then the object is larger than
// the picture. Each frame takes its largest region of the object's size; then, worst
// first, a frame whose region lies off the path (farther from the line between its
// neighbours' regions than twice their usual displacement over that time, and than
// three radii of the object) takes the region of its own nearest that line, or none.
std::vector<std::optional<Region>> choose_path(std::span<const FrameRegions> frames,
                                               std::span<const double> times);

}  // namespace tambrel::tracking
