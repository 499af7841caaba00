#pragma once

// Drawing helpers shared by the writer; not part of the public clip API. Everything here is
// in upright picture pixels (display_size).

#include <QColor>
#include <QImage>
#include <QPointF>
#include <optional>
#include <vector>

#include "clipgen.h"

namespace tambrel::clipgen {

struct SceneLayout {
    int width = 0, height = 0;
    int row_height = 0;   // one row of band cells
    int band_height = 0;  // two rows
    int motion_top = 0;   // nothing moves above this line (band plus a dark gap)
    double bob_radius = 0;
};

inline const QColor field_colour{24, 24, 32};
inline const QColor bob_colour{255, 244, 176};
inline const QColor string_colour{150, 150, 150};
inline const QColor band_white{255, 255, 255};
inline const QColor band_black{0, 0, 0};

SceneLayout scene_layout(int width, int height);
SceneLayout scene_layout(const ClipOptions& options);
void draw_frame_number(QImage& image, int number);
QPointF pendulum_pivot(const ClipOptions& options);

// Where the bodies of one frame are.
struct ScenePlaces {
    ObjectPlace bob;
    std::optional<ObjectPlace> second;
};
// Every frame's places; the pendulum is integrated once for the whole clip.
std::vector<ScenePlaces> scene_path(const ClipOptions& options);
ScenePlaces scene_places(const ClipOptions& options, int frame);

// Presentation time of frame n in seconds (exact to double precision).
double frame_time_s(const ClipOptions& options, int frame);
// Frame durations of a variable-rate clip in whole milliseconds, cycling from frame 0.
std::array<int, 3> vfr_durations_ms(const ClipOptions& options);

// Paints frame `frame` with the bodies at `places` into an image of the display size.
void draw_scene(QImage& image, const ClipOptions& options, int frame, const ScenePlaces& places);

}  // namespace tambrel::clipgen
