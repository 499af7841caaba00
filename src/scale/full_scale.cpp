#include "scale/full_scale.h"

#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <variant>

#include "core/numbers.h"
#include "scale/axes_geometry.h"

namespace tambrel {

QImage with_matching_scale(const QImage& composite, const MatchingScale& scale) {
    const ShownLayout& layout = scale.layout;
    const QString& caption = scale.caption;
    const QFont& font = scale.font;
    if (composite.isNull() || layout.fit.width() <= 0 || layout.fit.height() <= 0 ||
        layout.frame_area.isEmpty() || layout.composite.isEmpty())
        return {};
    const int w = layout.frame_area.width(), h = layout.frame_area.height();
    if (w > INT16_MAX || h > INT16_MAX) return {};  // no window shows such an area
    // Clip pixels per shown pixel, as the window stretched the picture.
    const double kx = double(composite.width()) / layout.fit.width();
    const double ky = double(composite.height()) / layout.fit.height();
    const int rows = layout.composite.height() + (caption.isEmpty() ? 0 : kCaptionRows);
    const QSize size(std::max(composite.width(), int(std::lround(layout.composite.width() * kx))),
                     std::max(composite.height(), int(std::lround(rows * ky))));
    QImage out(size, QImage::Format_RGB32);
    if (out.isNull()) return {};
    out.fill(Qt::white);

    QPainter p(&out);
    p.drawImage(QPoint(0, 0), composite);
    // From here on in shown pixels: what the window draws one pixel wide is kx wide.
    p.scale(kx, ky);
    p.setPen(QPen(Qt::black, 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    // The window's 2-pixel frame straddles the area's edges.
    p.drawRect(QRectF(0, 0, w, h));

    const AxesDrawing axes =
        axes_geometry(int16_t(w), int16_t(h), layout.xaxis_true, layout.yaxis_true);
    const QFontMetricsF metrics(font);
    p.setFont(font);
    p.setRenderHint(QPainter::TextAntialiasing);
    for (const AxesStep& step : axes.steps) {
        if (const auto* l = std::get_if<AxesLine>(&step)) {
            // A one-pixel line from pixel to pixel, both ends included.
            const QRectF pixels(std::min(l->x1, l->x2), std::min(l->y1, l->y2),
                                std::abs(l->x2 - l->x1) + 1, std::abs(l->y2 - l->y1) + 1);
            p.fillRect(pixels, Qt::black);
        } else {
            const auto& n = std::get<AxesNumber>(step);
            p.setPen(Qt::black);
            p.drawText(QPointF(n.x, n.y + metrics.ascent()),
                       QString::fromStdString(format_integer(n.value)));
        }
    }
    if (!caption.isEmpty()) {
        p.setPen(Qt::black);
        p.drawText(QPointF(4, layout.composite.height() + 3 + metrics.ascent()), caption);
    }
    p.end();
    return out;
}

}  // namespace tambrel
