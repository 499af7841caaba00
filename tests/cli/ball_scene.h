#pragma once
// A red ball rolling across a floor with stripes brighter and darker than it, written
// as an uncompressed clip (decoding gives back exactly these pixels). Frame 0 shows the
// empty scene, frame k >= 1 the ball at its k-th place, instances apart from each
// other. White priority loses the ball over the floor and the bright stripe, black
// priority over the dark stripes; difference priority keeps every instance whole.

#include <QImage>
#include <QPainter>
#include <QString>

#include "robustness/avi_bytes.h"

namespace tambrel::compose_cli::testing {

struct BallScene {
    int width = 320, height = 96;
    int frames = 13;

    double radius() const { return height * 0.095; }
    QPointF ball_centre(int k) const {
        const double margin = radius() + 6;
        return {margin + (width - 2 * margin) * (k - 1) / (frames - 2), height * 0.55};
    }

    QImage background() const {
        QImage image(width, height, QImage::Format_RGB32);
        QPainter p(&image);
        // A grey floor lit from the top, brighter than the ball everywhere.
        QLinearGradient floor(0, 0, 0, height);
        floor.setColorAt(0, QColor(196, 192, 186));
        floor.setColorAt(1, QColor(150, 148, 144));
        p.fillRect(image.rect(), floor);
        const auto stripe = [&](double from, double to, QColor colour) {
            p.fillRect(QRectF(width * from, 0, width * (to - from), height), colour);
        };
        stripe(0.12, 0.30, QColor(34, 36, 44));     // a dark mat
        stripe(0.52, 0.60, QColor(250, 250, 244));  // a white line
        stripe(0.72, 0.86, QColor(92, 64, 42));     // a brown board
        return image;
    }

    QImage frame(int k) const {
        QImage image = background();
        if (k > 0) {
            QPainter p(&image);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(Qt::NoPen);
            QRadialGradient shading(ball_centre(k) - QPointF(radius() / 3, radius() / 3),
                                    radius() * 1.4);
            shading.setColorAt(0, QColor(235, 70, 60));
            shading.setColorAt(1, QColor(150, 16, 16));
            p.setBrush(shading);
            p.drawEllipse(ball_centre(k), radius(), radius());
        }
        return image;
    }

    bool write(const QString& path) const {
        robustness::RawAvi layout;
        layout.width = width;
        layout.height = height;
        layout.frames = frames;
        layout.picture = [this](int k) { return frame(k); };
        return robustness::write_file(path, robustness::raw_avi(layout));
    }
};

}  // namespace tambrel::compose_cli::testing
