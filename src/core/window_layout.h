#pragma once
// The window's picture geometry at start-up, in pixels: what Form_Load sets, what every
// picture box's border takes, and what a composite made without the window reproduces
// as the window would show it.

namespace tambrel::layout {

// Picture1's outer size; Picture2 takes the same.
inline constexpr int kPicture1Width = 320;
inline constexpr int kPicture1Height = 240;
// Picture3 is this much wider and taller than Picture1: room for the scale.
inline constexpr int kPicture3Extra = 50;
// A picture box's sunken border on every side: the inner area is 4 pixels smaller.
inline constexpr int kBorder = 2;

}  // namespace tambrel::layout
