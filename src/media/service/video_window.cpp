#include "media/service/video_window.h"

#include <QPaintEvent>
#include <QPainter>

namespace tambrel::media {

VideoWindow::VideoWindow(QWidget* parent) : QWidget(parent) {
    // The picture covers the whole window, so nothing beneath needs painting first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
}

QImage& VideoWindow::canvas(QSize size) {
    if (picture_.size() != size) {
        picture_ = QImage(size, QImage::Format_RGB32);
        picture_.fill(Qt::black);
    }
    return picture_;
}

void VideoWindow::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    p.drawImage(event->rect(), picture_, event->rect());
}

}  // namespace tambrel::media
