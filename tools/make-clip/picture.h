#pragma once

// From the upright picture to the stored one: turned back against the display rotation and
// flip, squeezed by the sample aspect ratio. Not part of the public clip API.

#include <QImage>
#include <array>
#include <cstdint>

#include "clipgen.h"

namespace tambrel::clipgen {

// Whether the stored picture differs from the upright one in orientation or shape.
bool needs_reshaping(const ClipOptions& options);

// The stored picture (coded size) for an upright picture (display size).
QImage stored_from_upright(const QImage& upright, const ClipOptions& options);

// The display matrix MP4/MOV store for the rotation and flip (libavutil's layout, 16.16 and
// 2.30 fixed point).
std::array<int32_t, 9> display_matrix(const ClipOptions& options);

}  // namespace tambrel::clipgen
