#pragma once
#include <QImage>

namespace tambrel {
// The window's 32 x 32, 16-colour icon: a pendulum in three positions (black strings
// from one pivot at the top centre, red bobs lower left, centre and right) on green.
QImage pendulum_icon();
}  // namespace tambrel
