#pragma once

// Drawing helpers shared by the writer; not part of the public clip API.

#include <QColor>
#include <QImage>
#include <QPointF>
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
void draw_frame_number(QImage& image, int number);
QPointF pendulum_pivot(const ClipOptions& options);
// Bob centres of every frame; the pendulum is integrated once for the whole clip.
std::vector<QPointF> bob_path(const ClipOptions& options);
// Paints frame `frame` of the clip with the bob at `bob` into an image of the requested size.
void draw_scene(QImage& image, const ClipOptions& options, int frame, QPointF bob);

}  // namespace tambrel::clipgen
