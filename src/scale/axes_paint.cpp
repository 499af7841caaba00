#include "scale/axes_paint.h"

#include <QString>
#include <variant>

#include "core/numbers.h"

namespace tambrel {

void paint_axes(PictureSurface& s, const AxesDrawing& d) {
    s.fill_style = 1;
    s.draw_width = 2;
    s.line(0, 0, d.width, d.height, kBlack, true);
    s.draw_width = 1;
    for (const AxesStep& step : d.steps) {
        if (const auto* l = std::get_if<AxesLine>(&step)) {
            s.line(float(l->x1), float(l->y1), float(l->x2), float(l->y2));
        } else {
            const auto& n = std::get<AxesNumber>(step);
            s.current_x = float(n.x);
            s.current_y = float(n.y);
            s.print(QString::fromStdString(format_integer(n.value)));
        }
    }
}

}  // namespace tambrel
