// Segment tracing on Picture2: a first click marks the start, a rubber band follows the
// pointer, a second click fixes the segment. Segments exist only as drawing; the
// pending state survives clearing the picture.

#include "window/form1.h"

namespace tambrel {

void Form1::Picture2_MouseDown(Qt::MouseButtons, Qt::KeyboardModifiers, float x, float y) {
    PictureSurface& s = Picture2->surface();
    if (seg_pending == 0) {
        // In whatever mode is in force: copy once any segment has been completed.
        s.circle(x, y, 2, kBlack);
        seg_x0 = x;
        seg_y0 = y;
        band_x = x;
        band_y = y;
    } else {
        // The last band is not removed; the segment is drawn over it.
        s.draw_mode = DrawMode::Copy;
        s.line(seg_x0, seg_y0, x, y, kBlack);
    }
    seg_pending = static_cast<int16_t>(~seg_pending);
}

void Form1::Picture2_MouseMove(Qt::MouseButtons, Qt::KeyboardModifiers, float x, float y) {
    if (seg_pending == 0 || (band_x == x && band_y == y)) return;
    // Exclusive-or: drawing the previous band again removes it.
    PictureSurface& s = Picture2->surface();
    s.draw_mode = DrawMode::Xor;
    s.line(seg_x0, seg_y0, band_x, band_y, kBrightBlue);
    s.line(seg_x0, seg_y0, x, y, kBrightBlue);
    band_x = x;
    band_y = y;
}

}  // namespace tambrel
