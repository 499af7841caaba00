#include "core/picture_box.h"

#include <QMouseEvent>
#include <QPainter>

#include "core/window_layout.h"

namespace tambrel {

namespace {
constexpr int kBorder = layout::kBorder;
}

class PictureBox::Client : public QWidget {
public:
    Client(PictureBox* box) : QWidget(box), box_(box) {
        setMouseTracking(true);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent* e) override {
        QPainter p(this);
        p.drawImage(e->rect(), box_->surface_.displayed(), e->rect());
    }
    void mousePressEvent(QMouseEvent* e) override {
        const QPointF pos = e->position();
        emit box_->mouseDown(e->button(), e->modifiers(), float(pos.x()), float(pos.y()));
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        const QPointF pos = e->position();
        emit box_->mouseMove(e->buttons(), e->modifiers(), float(pos.x()), float(pos.y()));
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        const QPointF pos = e->position();
        emit box_->mouseUp(e->button(), e->modifiers(), float(pos.x()), float(pos.y()));
    }

private:
    PictureBox* box_;
};

PictureBox::PictureBox(HandleTable& handles, QWidget* parent)
    : QWidget(parent), handles_(handles), surface_(1, 1), client_(new Client(this)) {
    hwnd_ = handles_.add_window(client_);
    hdc_ = handles_.add_surface(&surface_);
    surface_.on_change = [this] { client_->update(); };
}

PictureBox::~PictureBox() {
    surface_.on_change = nullptr;
    handles_.remove(hwnd_);
    handles_.remove(hdc_);
}

void PictureBox::paintEvent(QPaintEvent*) {
    // The classic two-pixel sunken border: dark above and left, light below and right.
    QPainter p(this);
    const int w = width() - 1, h = height() - 1;
    p.setPen(QColor(128, 128, 128));
    p.drawLine(0, 0, w - 1, 0);
    p.drawLine(0, 0, 0, h - 1);
    p.setPen(QColor(64, 64, 64));
    p.drawLine(1, 1, w - 2, 1);
    p.drawLine(1, 1, 1, h - 2);
    p.setPen(QColor(255, 255, 255));
    p.drawLine(0, h, w, h);
    p.drawLine(w, 0, w, h);
    p.setPen(QColor(212, 208, 200));
    p.drawLine(1, h - 1, w - 1, h - 1);
    p.drawLine(w - 1, 1, w - 1, h - 1);
}

QWidget* PictureBox::client() const { return client_; }

void PictureBox::set_outer_size(int width, int height) {
    resize(width, height);
    const int iw = std::max(width - 2 * kBorder, 1), ih = std::max(height - 2 * kBorder, 1);
    client_->setGeometry(kBorder, kBorder, iw, ih);
    surface_.resize(iw, ih);
}

}  // namespace tambrel
