// The measuring scale over the composite and the two switches that orient its numbers.

#include "window/form1.h"
#include "scale/axes_geometry.h"
#include "scale/axes_paint.h"

namespace tambrel {

namespace {

int16_t complement(int16_t flag) { return static_cast<int16_t>(~flag); }

}  // namespace

void Form1::draw_axes() {
    // The image area is the live picture's, wherever the composite lies in Picture3.
    const auto area = image_area(Picture1->outer_width(), Picture1->outer_height());
    if (!area) return;  // no picture the window can show is this large
    const AxesDrawing d =
        axes_geometry(area->width, area->height, xaxis_mode != 0, yaxis_mode != 0);

    // Neither clears nor switches auto-redraw: the caller's setting decides whether the
    // scale goes into the persistent image or onto the display only.
    paint_axes(Picture3->surface(), d);
}

void Form1::Form_Activate() {
    xaxis_mode = -1;
    yaxis_mode = -1;
    // Picture3 still has auto-redraw on here, so the first scale is persistent.
    draw_axes();
}

// A toggle draws the new orientation on the display only, over whatever the persistent
// image holds; the next repaint from that image or clear drops it again.
void Form1::Cmd_xchange_Click() {
    xaxis_mode = complement(xaxis_mode);
    Picture3->surface().set_auto_redraw(false);
    Picture3->surface().clear();
    draw_axes();
}

void Form1::Cmd_ychange_Click() {
    yaxis_mode = complement(yaxis_mode);
    Picture3->surface().set_auto_redraw(false);
    Picture3->surface().clear();
    draw_axes();
}

}  // namespace tambrel
