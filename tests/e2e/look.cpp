#include "look.h"

#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <deque>

#include "core/fonts.h"

namespace tambrel::e2e {

namespace {

int px(int twips) { return (twips + 7) / 15; }

// Exposes the style option QScrollBar builds for itself.
class ProbeScrollBar : public QScrollBar {
  public:
    using QScrollBar::QScrollBar;
    QStyleOptionSlider option() const {
        QStyleOptionSlider opt;
        initStyleOption(&opt);
        return opt;
    }
    QRect part(QStyle::SubControl sc) const {
        const QStyleOptionSlider opt = option();
        return style()->subControlRect(QStyle::CC_ScrollBar, &opt, sc, this);
    }
};

int channel_mean(QRgb c) { return (qRed(c) + qGreen(c) + qBlue(c)) / 3; }

}  // namespace

QRect twips_rect(int left, int top, int width, int height) {
    return {px(left), px(top), px(width), px(height)};
}

QRect PictureGeometry::picture1_inner() {
    return {px(3360) + 2, px(600) + 2, kPicture1Width - 4, kPicture1Height - 4};
}

QRect PictureGeometry::picture3_inner() {
    return {px(8520) + 2, px(600) + 2, kPicture1Width + 50 - 4, kPicture1Height + 50 - 4};
}

QRect PictureGeometry::merged_region() {
    return {0, 0, kPicture1Width - 4 - 4 + 1, kPicture1Height - 4 - 4 + 1};
}

int differing_pixels(const QImage& a, const QImage& b, int tolerance) {
    if (a.size() != b.size()) return std::max(a.width() * a.height(), b.width() * b.height());
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    int count = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
        const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col) {
            const int d = std::max({std::abs(qRed(p[col]) - qRed(q[col])),
                                    std::abs(qGreen(p[col]) - qGreen(q[col])),
                                    std::abs(qBlue(p[col]) - qBlue(q[col]))});
            if (d > tolerance) ++count;
        }
    }
    return count;
}

Replicas::Replicas() : stage_(std::make_unique<QWidget>()) {
    // The window's own fonts: the default of its controls and the read-out's face.
    stage_->setFont(default_ui_font());
    stage_->setAutoFillBackground(true);
    stage_->setAttribute(Qt::WA_DontShowOnScreen);
    stage_->resize(1000, 500);

    text_box_ = new QLineEdit(stage_.get());
    text_box_->setGeometry(twips_rect(9000, 5280, 735, 375));

    label2_ = new QLabel(stage_.get());
    label2_->setFont(design_font(11.25));
    label2_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label2_->setWordWrap(true);
    label2_->setGeometry(twips_rect(1440, 1920, 975, 615));

    label1_ = new QLabel(stage_.get());
    label1_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label1_->setWordWrap(true);
    label1_->setGeometry(twips_rect(120, 120, 7215, 255));

    bar_ = new ProbeScrollBar(Qt::Horizontal, stage_.get());
    bar_->setSingleStep(1);
    bar_->setPageStep(1);
    bar_->setGeometry(twips_rect(720, 1440, 1932, 255));

    stage_->show();
}

Replicas::~Replicas() = default;

QImage Replicas::text_box(const QString& text) {
    text_box_->setText(text);
    text_box_->setCursorPosition(text.size());
    return text_box_->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QImage Replicas::frame_readout(int frame) {
    // The caption's line feed and carriage return show as one line break.
    label2_->setText(QStringLiteral("フレーム\n    ") + QString::number(frame));
    return label2_->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

int Replicas::menu_bar_height() {
    QMenuBar bar(stage_.get());
    bar.addMenu(QStringLiteral("ﾌｧｲﾙ（&F）"));
    bar.addMenu(QStringLiteral("測定(&M)"));
    return bar.sizeHint().height();
}

QImage Replicas::path_label(const QString& path) {
    label1_->setText(path);
    return label1_->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QRect Replicas::scroll_thumb(int maximum, int value) {
    bar_->setRange(0, maximum);
    bar_->setValue(value);
    return static_cast<ProbeScrollBar*>(bar_)->part(QStyle::SC_ScrollBarSlider);
}

QRect Replicas::scroll_right_arrow(int maximum, int value) {
    bar_->setRange(0, maximum);
    bar_->setValue(value);
    return static_cast<ProbeScrollBar*>(bar_)->part(QStyle::SC_ScrollBarAddLine);
}

int Replicas::scroll_value_after_drag(int maximum, int value, int grab_x, int release_x) {
    // What QScrollBar does with a dragged thumb: the thumb's left edge follows the
    // pointer at the offset where it was grabbed, mapped over the groove.
    auto* bar = static_cast<ProbeScrollBar*>(bar_);
    const QRect thumb = scroll_thumb(maximum, value);
    const QRect groove = bar->part(QStyle::SC_ScrollBarGroove);
    const int offset = grab_x - thumb.x();
    const int slider_min = groove.x();
    const int slider_max = groove.right() - thumb.width() + 1;
    return QStyle::sliderValueFromPosition(0, maximum, release_x - offset - slider_min,
                                           slider_max - slider_min, false);
}

double Replicas::values_per_pixel(int maximum, int value) {
    auto* bar = static_cast<ProbeScrollBar*>(bar_);
    const QRect thumb = scroll_thumb(maximum, value);
    const QRect groove = bar->part(QStyle::SC_ScrollBarGroove);
    const int span = std::max(1, groove.width() - thumb.width());
    return std::max(1.0, double(maximum) / span);
}

QStringList scale_problems(const QImage& p3) {
    // Image area W x H = Picture1's inner size; ticks run right of and below it.
    const int W = PictureGeometry::kPicture1Width - 4, H = PictureGeometry::kPicture1Height - 4;
    QStringList problems;
    const auto dark = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < p3.width() && y < p3.height() &&
               channel_mean(p3.pixel(x, y)) < 100;
    };
    const auto dark_near = [&](int x, int y, int dx, int dy) {
        for (int i = -dx; i <= dx; ++i)
            for (int j = -dy; j <= dy; ++j)
                if (dark(x + i, y + j)) return true;
        return false;
    };
    for (int x : {20, 100, 200, 300}) {
        if (!dark_near(x, 0, 0, 1)) problems << QStringLiteral("top edge at x=%1").arg(x);
        if (!dark_near(x, H, 0, 1)) problems << QStringLiteral("bottom edge at x=%1").arg(x);
    }
    for (int y : {20, 100, 200}) {
        if (!dark_near(0, y, 1, 0)) problems << QStringLiteral("left edge at y=%1").arg(y);
        if (!dark_near(W, y, 1, 0)) problems << QStringLiteral("right edge at y=%1").arg(y);
    }
    // x axis: long ticks (22 px) every 40, middle ones (18 px) between, short (14 px)
    // every 4, all counted from the right edge.
    for (int i = 0; W - 40 * i > 0; ++i) {
        const int x = W - 40 * i;
        if (!dark_near(x, H + 20, 1, 0)) problems << QStringLiteral("long x tick at %1").arg(x);
        if (x - 20 > 0 && (!dark_near(x - 20, H + 16, 1, 0) || dark_near(x - 20, H + 20, 1, 0)))
            problems << QStringLiteral("middle x tick at %1").arg(x - 20);
        int dark_px = 0;  // the number printed below the long tick
        for (int yy = H + 30; yy < H + 46; ++yy)
            for (int xx = x - 2; xx < x + 10; ++xx) dark_px += dark(xx, yy) ? 1 : 0;
        if (dark_px < 3) problems << QStringLiteral("x number below x=%1").arg(x);
    }
    for (int i = 0; W - 4 * i > 2; ++i) {
        const int x = W - 4 * i;
        if (!dark_near(x, H + 10, 0, 0) || dark_near(x - 2, H + 10, 0, 0))
            problems << QStringLiteral("short x tick at %1").arg(x);
    }
    for (int i = 0; H - 40 * i > 0; ++i) {
        const int y = H - 40 * i;
        if (!dark_near(W + 21, y, 0, 1)) problems << QStringLiteral("long y tick at %1").arg(y);
        if (y - 20 > 0 && (!dark_near(W + 18, y - 20, 0, 1) || dark_near(W + 22, y - 20, 0, 1)))
            problems << QStringLiteral("middle y tick at %1").arg(y - 20);
        int dark_px = 0;
        for (int yy = y - 5; yy < y + 11; ++yy)
            for (int xx = W + 30; xx < W + 42; ++xx) dark_px += dark(xx, yy) ? 1 : 0;
        if (dark_px < 3) problems << QStringLiteral("y number beside y=%1").arg(y);
    }
    for (int i = 0; H - 4 * i > 2; ++i) {
        const int y = H - 4 * i;
        if (!dark_near(W + 10, y, 0, 0) || dark_near(W + 10, y - 2, 0, 0))
            problems << QStringLiteral("short y tick at %1").arg(y);
    }
    return problems;
}

std::vector<Blob> bright_blobs(const QImage& image, QRect region, int level, int min_area) {
    region = region.intersected(image.rect());
    std::vector<char> seen(size_t(image.width()) * image.height(), 0);
    const auto bright = [&](int x, int y) { return channel_mean(image.pixel(x, y)) > level; };
    std::vector<Blob> blobs;
    for (int y = region.top(); y <= region.bottom(); ++y) {
        for (int x = region.left(); x <= region.right(); ++x) {
            const size_t at = size_t(y) * image.width() + x;
            if (seen[at] || !bright(x, y)) continue;
            Blob blob;
            blob.bounds = QRect(x, y, 1, 1);
            std::deque<QPoint> todo{QPoint(x, y)};
            seen[at] = 1;
            while (!todo.empty()) {
                const QPoint p = todo.front();
                todo.pop_front();
                ++blob.area;
                blob.bounds |= QRect(p, QSize(1, 1));
                for (const QPoint d : {QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1)}) {
                    const QPoint q = p + d;
                    if (!region.contains(q)) continue;
                    const size_t qi = size_t(q.y()) * image.width() + q.x();
                    if (seen[qi] || !bright(q.x(), q.y())) continue;
                    seen[qi] = 1;
                    todo.push_back(q);
                }
            }
            if (blob.area >= min_area) blobs.push_back(blob);
        }
    }
    return blobs;
}

double mean_level(const QImage& image, QPoint centre, int r) {
    double sum = 0;
    int n = 0;
    for (int y = centre.y() - r; y <= centre.y() + r; ++y)
        for (int x = centre.x() - r; x <= centre.x() + r; ++x)
            if (image.rect().contains(x, y)) {
                sum += channel_mean(image.pixel(x, y));
                ++n;
            }
    return n ? sum / n : 0;
}

}  // namespace tambrel::e2e
