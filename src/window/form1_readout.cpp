// Pointer read-out over the composite: position on the scale, and the drag since the
// last press on Picture3.

#include <QLineEdit>
#include <QLocale>

#include "window/form1.h"
#include "core/numbers.h"
#include "scale/readout.h"
#include "window/worksheet/worksheet.h"

namespace tambrel {

void Form1::Picture3_MouseDown(Qt::MouseButtons, Qt::KeyboardModifiers, float x, float y) {
    drag_on = -1;
    drag_x0 = x;
    drag_y0 = y;
}

void Form1::Picture3_MouseUp(Qt::MouseButtons, Qt::KeyboardModifiers, float, float) { drag_on = 0; }

void Form1::Picture3_MouseMove(Qt::MouseButtons, Qt::KeyboardModifiers, float x, float y) {
    ReadoutInput in;
    in.x = x;
    in.y = y;
    in.xaxis_true = xaxis_mode != 0;
    in.yaxis_true = yaxis_mode != 0;
    in.picture_width = float(Picture1->outer_width());
    in.picture_height = float(Picture1->outer_height());
    in.drag_on = drag_on != 0;
    in.drag_x0 = drag_x0;
    in.drag_y0 = drag_y0;
    // In the calibrated unit once a length reference is set.
    const Readout r = worksheet_->calibration().apply(pointer_readout(in));

    const std::string point = QLocale().decimalPoint().toStdString();
    // A line edit scrolls to its cursor, which setText puts at the end; a read-out shows
    // its value from the first character, so a value wider than the box keeps its
    // leading digits in view.
    auto show = [&point](QLineEdit* box, float value) {
        box->setText(QString::fromStdString(format_single(value, point)));
        box->setCursorPosition(0);
    };
    show(Text1, r.x);
    show(Text2, r.y);
    show(Text3, r.dx);
    show(Text4, r.dy);
    show(Text5, r.ds);
}

}  // namespace tambrel
