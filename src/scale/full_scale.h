#pragma once
// The window's scale over a composite at the clip's own size. The window shows the clip
// fitted into its frame area and frames that area with ticks every 4, 20 and 40 shown
// pixels; on the full-size picture the same ticks fall where they fall on the clip, so
// a tick is worth what the status bar says ("1 目盛 = 0.052 m") and a length measured
// on the saved picture agrees with the window's read-out. The picture is the window's
// composite enlarged: the same margins, lines and numbers grown by the clip pixels per
// shown pixel, with the calibration's caption in a strip below.

#include <QFont>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>

namespace tambrel {

// How the window shows the clip.
struct ShownLayout {
    QSize frame_area;  // Picture1's inner area, which the scale frames (316 x 236)
    QSize composite;   // Picture3's inner area: the frame area and the scale's margins
    QRect fit;         // where the clip's picture lies in the frame area
    bool xaxis_true = true, yaxis_true = true;  // the numbers' directions
};

// Shown pixels below the window's composite that hold the caption.
inline constexpr int kCaptionRows = 22;

// The scale as the window draws it now, with what a tick is worth ("1 目盛 = 0.052 m";
// empty: no caption) in the font the window's pictures print in.
struct MatchingScale {
    ShownLayout layout;
    QString caption;
    QFont font;
};

// `composite` (the clip's own size) at the top left of a white picture of the window's
// composite grown to the clip's scale, with the scale drawn over it and the caption
// below. A null picture when the layout has no area or no fit.
QImage with_matching_scale(const QImage& composite, const MatchingScale& scale);

}  // namespace tambrel
