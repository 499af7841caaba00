#pragma once
// Length calibration of the composite: a segment of known length drawn on the picture
// turns the scale's readings (40 shown pixels to the unit) into metres, centimetres or
// millimetres. The origin and the directions stay those of the scale, so the axis
// switches keep working; only the size of the unit changes.
//
// The composite shows the clip stretched into the picture area, not always by the same
// factor across and down (a 640 × 480 clip fills 316 × 236). The reference is therefore
// measured in the clip's own pixels, and each axis gets its own length per shown pixel.

#include <QPointF>
#include <QString>
#include <optional>

#include "scale/readout.h"

namespace tambrel {

enum class LengthUnit { Metre, Centimetre, Millimetre };

// "m", "cm", "mm".
QString unit_symbol(LengthUnit unit);

// Clip pixels per shown pixel, across and down (1, 1 when the picture is not stretched
// or its source is unknown).
struct ShownScale {
    double x = 1.0, y = 1.0;
};

class Calibration {
public:
    static constexpr double kTickPixels = 40.0;  // one unit of the drawn scale

    // Sets the reference: the segment from a to b (Picture3 pixels) is `length` long.
    // Refuses (false, nothing changed) a segment shorter than a pixel, a length that
    // is not a positive finite number, or a stretch that is not.
    bool set_reference(QPointF a, QPointF b, double length, LengthUnit unit,
                       ShownScale stretch = {});
    // Back to the scale's own unit.
    void clear() { per_pixel_.reset(); }

    bool calibrated() const { return per_pixel_.has_value(); }
    LengthUnit unit() const { return unit_; }
    // The unit the readings are in: the length unit, or "目盛" (one tick of the scale).
    QString unit_text() const;

    // Length units per shown pixel across and down; 1/40 of a tick when not calibrated.
    double per_pixel_x() const;
    double per_pixel_y() const;
    // What one 40-pixel tick is worth across and down.
    double tick_x() const { return per_pixel_x() * kTickPixels; }
    double tick_y() const { return per_pixel_y() * kTickPixels; }

    // The scale's readings (in ticks) turned into the calibrated unit, to the decimals
    // a shown pixel is worth (decimals_for: more would be noise in a 49-pixel box);
    // unchanged when not calibrated. Δs is the straight distance of the converted Δx
    // and Δy.
    Readout apply(const Readout& in_ticks) const;

    // The status text "1 目盛 = 0.0675 m" (with the value down as well where it shows
    // differently at that precision); empty when not calibrated.
    QString tick_text() const;

private:
    struct PerPixel {
        double x, y;
    };
    std::optional<PerPixel> per_pixel_;
    LengthUnit unit_ = LengthUnit::Metre;
};

// Decimals that show a length to about a tenth of `step` (the size of one shown pixel):
// 0.0034 m per pixel gives 4 decimals, 0.025 ticks 3, 3.4 mm 1. At least 0, at most 9.
int decimals_for(double step);

}  // namespace tambrel
