#pragma once
// Where a clip's picture goes inside a picture box's inner area. The window's fit was
// made for 4:3 clips and stretches the picture over the whole area; a clip of any other
// shape would come out distorted, and distances measured on it would mean different
// lengths across and down. Such clips keep their proportions instead.

#include <QRect>
#include <QSize>
#include <optional>
#include <string_view>

namespace tambrel {

// True when the picture is exactly 4:3 (width · 3 = height · 4).
bool is_four_by_three(QSize picture);

// The destination rectangle for a picture of `source` (upright, square pixels) in
// `area`: the whole area for a 4:3 picture; otherwise the largest rectangle of the
// picture's proportions (to the nearest pixel, at least 1 × 1) inside the area, at its
// left and top edges. A source without a positive size also gets the whole area.
QRect picture_fit(QSize source, QSize area);

// The picture's size from a "where <alias> source" reply ("0 0 W H"); nullopt unless
// the reply is four whole numbers with a positive width and height.
std::optional<QSize> source_size_from_reply(std::string_view reply);

}  // namespace tambrel
