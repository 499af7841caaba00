#include "core/surface.h"

#include <QFontMetricsF>
#include <QPainter>

namespace tambrel {

PictureSurface::PictureSurface(int inner_width, int inner_height, Color background)
    : image_(std::max(inner_width, 1), std::max(inner_height, 1), QImage::Format_RGB32),
      background_(background) {
    image_.fill(to_rgb32(background_));
}

void PictureSurface::resize(int inner_width, int inner_height) {
    inner_width = std::max(inner_width, 1);
    inner_height = std::max(inner_height, 1);
    if (inner_width == image_.width() && inner_height == image_.height()) return;
    QImage grown(inner_width, inner_height, QImage::Format_RGB32);
    grown.fill(to_rgb32(background_));
    {
        QPainter p(&grown);
        p.drawImage(0, 0, image_);
    }
    image_ = std::move(grown);
    screen_.reset();
    changed();
}

void PictureSurface::set_auto_redraw(bool on) { auto_redraw_ = on; }

QImage& PictureSurface::target() {
    if (auto_redraw_) {
        // Drawing into the persistent image repaints the picture from it, which
        // loses whatever was drawn on the display only.
        screen_.reset();
        return image_;
    }
    if (!screen_) screen_ = image_.copy();
    return *screen_;
}

const QImage& PictureSurface::target() const { return auto_redraw_ || !screen_ ? image_ : *screen_; }

void PictureSurface::target_changed() { changed(); }

void PictureSurface::changed() {
    if (on_change) on_change();
}

template <typename Paint>
void PictureSurface::paint(Paint&& fn) {
    QImage& img = target();
    {
        QPainter p(&img);
        // Nothing is blended into what lies beneath: text printed again on the same place,
        // as the scale is after every composition cycle, must leave every pixel as it was.
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setRenderHint(QPainter::TextAntialiasing, false);
        if (draw_mode == DrawMode::Xor)
            p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        fn(p);
    }
    changed();
}

void PictureSurface::clear() {
    if (auto_redraw_) {
        screen_.reset();
        image_.fill(to_rgb32(background_));
    } else {
        screen_.reset();
    }
    current_x = current_y = 0;
    changed();
}

void PictureSurface::line(float x1, float y1, float x2, float y2, std::optional<Color> color,
                          bool box) {
    const QColor c = QColor::fromRgb(to_rgb32(color.value_or(fore_color)));
    paint([&](QPainter& p) {
        QPen pen(c);
        pen.setWidth(std::max(draw_width, 1));
        pen.setCapStyle(Qt::SquareCap);
        pen.setJoinStyle(Qt::MiterJoin);
        p.setPen(pen);
        if (box) {
            if (fill_style != 1) p.setBrush(c);
            p.drawRect(QRectF(QPointF(x1, y1), QPointF(x2, y2)));
        } else if (draw_width <= 1) {
            // One-pixel lines are half-open: a line drawn right or down covers its first
            // point and stops short of the last (a tick from y to y + 14 is 14 pixels),
            // and a line to its own start draws nothing (an exclusive-or band of zero
            // length must leave no dot behind).
            if (x1 == x2 && y1 == y2) return;
            pen.setCapStyle(Qt::FlatCap);
            p.setPen(pen);
            p.drawLine(QPointF(x1, y1), QPointF(x2, y2));
        } else if (x1 == x2 && y1 == y2) {
            p.drawPoint(QPointF(x1, y1));
        } else {
            p.drawLine(QPointF(x1, y1), QPointF(x2, y2));
        }
    });
    current_x = x2;
    current_y = y2;
}

void PictureSurface::circle(float cx, float cy, float radius, std::optional<Color> color) {
    const QColor c = QColor::fromRgb(to_rgb32(color.value_or(fore_color)));
    paint([&](QPainter& p) {
        QPen pen(c);
        pen.setWidth(std::max(draw_width, 1));
        p.setPen(pen);
        if (fill_style != 1) p.setBrush(c);
        p.drawEllipse(QPointF(cx, cy), radius, radius);
    });
    current_x = cx;
    current_y = cy;
}

void PictureSurface::print(const QString& text) {
    const QFontMetricsF metrics(font);
    QFont solid = font;
    solid.setStyleStrategy(QFont::StyleStrategy(solid.styleStrategy() | QFont::NoAntialias));
    paint([&](QPainter& p) {
        p.setFont(solid);
        p.setPen(QColor::fromRgb(to_rgb32(fore_color)));
        p.drawText(QPointF(current_x, current_y + metrics.ascent()), text);
    });
    current_x = 0;
    current_y += static_cast<float>(metrics.height());
}

std::optional<Color> PictureSurface::point(int x, int y) const {
    const QImage& img = target();
    if (x < 0 || y < 0 || x >= img.width() || y >= img.height()) return std::nullopt;
    return from_rgb32(reinterpret_cast<const uint32_t*>(img.constScanLine(y))[x]);
}

void PictureSurface::pset(int x, int y, Color color) {
    QImage& img = target();
    if (x < 0 || y < 0 || x >= img.width() || y >= img.height()) return;
    reinterpret_cast<uint32_t*>(img.scanLine(y))[x] = to_rgb32(color);
    changed();
}

void PictureSurface::set_picture(const QImage* picture) {
    screen_.reset();
    image_.fill(to_rgb32(background_));
    if (picture && !picture->isNull()) {
        QPainter p(&image_);
        p.drawImage(0, 0, *picture);
    }
    changed();
}

}  // namespace tambrel
