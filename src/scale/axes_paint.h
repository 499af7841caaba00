#pragma once
// Draws a measuring scale onto a picture surface with the surface's own operations, so
// the window's Picture3 and the command-line composer paint it with the same code.

#include "core/surface.h"
#include "scale/axes_geometry.h"

namespace tambrel {

// The 2-pixel black frame, then every tick and number of `drawing` in order, in the
// surface's foreground colour, drawing mode and font. Leaves fill style 1 and line width
// 1 set. Neither clears the surface nor touches its auto-redraw switch.
void paint_axes(PictureSurface& surface, const AxesDrawing& drawing);

}  // namespace tambrel
