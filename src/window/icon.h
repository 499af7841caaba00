#pragma once
#include <QIcon>
#include <QImage>
#include <array>

class QPainter;

namespace tambrel {

// The sizes of the icon set: the hicolor theme's usual ones, each drawn at its own size.
inline constexpr std::array<int, 8> kPendulumIconSizes{16, 22, 24, 32, 48, 64, 128, 256};

// Draws the pendulum in three positions (black strings from one pivot at the top centre,
// red bobs at the lower left, lower centre and lower right, on a bright green field)
// into the square (0, 0)-(side, side) of the painter's device. Every picture of the
// icon, PNG or SVG, comes from this one drawing. `crisp` draws without smoothing, in
// whole pixels: the small sizes, where smoothing would blur the strings into grey.
void paint_pendulum(QPainter& painter, double side, bool crisp);

// The icon at `side` pixels. Up to 32 pixels: crisp, 16-colour (indexed to the classic
// palette); 32 × 32 is the window's own icon. Larger: smoothed, with transparent
// rounded corners.
QImage pendulum_icon(int side = 32);

// Every size of the set in one icon, for the window.
QIcon pendulum_icon_set();

}  // namespace tambrel
