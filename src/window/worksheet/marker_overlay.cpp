#include "window/worksheet/marker_overlay.h"

#include <QEvent>
#include <QPainter>

namespace tambrel {

MarkerOverlay::MarkerOverlay(QWidget* picture_client) : QWidget(picture_client) {
    setObjectName(QStringLiteral("MarkerOverlay"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setGeometry(picture_client->rect());
    picture_client->installEventFilter(this);
    show();
}

bool MarkerOverlay::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

void MarkerOverlay::set_markers(std::vector<QPointF> points) {
    markers_ = std::move(points);
    update();
}

void MarkerOverlay::set_band(std::optional<QPointF> from, std::optional<QPointF> to) {
    band_from_ = from;
    band_to_ = to;
    update();
}

void MarkerOverlay::set_highlight(std::optional<QPointF> at) {
    if (at == highlight_) return;
    highlight_ = at;
    update();
}

void MarkerOverlay::paintEvent(QPaintEvent*) {
    if (markers_.empty() && !(band_from_ && band_to_) && !highlight_) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    // A pixel's centre is at +0.5: the mark sits on the pixel that was clicked.
    const QPointF centre(0.5, 0.5);
    // Red with a white rim stands out on bright and dark composites alike.
    for (const QPointF& m : markers_) {
        const QPointF c = m + centre;
        p.setPen(QPen(Qt::white, 3));
        p.drawEllipse(c, 4, 4);
        p.setPen(QPen(QColor(220, 0, 0), 1.5));
        p.drawEllipse(c, 4, 4);
        p.drawLine(c - QPointF(2, 0), c + QPointF(2, 0));
        p.drawLine(c - QPointF(0, 2), c + QPointF(0, 2));
    }
    if (highlight_) {
        const QPointF c = *highlight_ + centre;
        p.setPen(QPen(Qt::white, 4));
        p.drawEllipse(c, 9, 9);
        p.setPen(QPen(QColor(0, 90, 220), 2));
        p.drawEllipse(c, 9, 9);
    }
    if (band_from_ && band_to_) {
        const QPointF a = *band_from_ + centre, b = *band_to_ + centre;
        p.setPen(QPen(Qt::white, 3));
        p.drawLine(a, b);
        p.setPen(QPen(QColor(0, 90, 220), 1.5));
        p.drawLine(a, b);
        for (QPointF end : {a, b}) p.drawEllipse(end, 3, 3);
    }
}

}  // namespace tambrel
