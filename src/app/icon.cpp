#include "app/icon.h"

#include <cmath>
#include <cstdlib>

namespace tambrel {

namespace {
// The classic 16-colour palette; the icon uses black, bright red and bright green.
constexpr QRgb kVga16[16] = {0xff000000, 0xff800000, 0xff008000, 0xff808000, 0xff000080, 0xff800080,
                             0xff008080, 0xffc0c0c0, 0xff808080, 0xffff0000, 0xff00ff00, 0xffffff00,
                             0xff0000ff, 0xffff00ff, 0xff00ffff, 0xffffffff};
constexpr uchar kBlack = 0, kRed = 9, kGreen = 10;

void plot_line(QImage& img, int x0, int y0, int x1, int y1, uchar index) {
    const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        img.setPixel(x0, y0, index);
        if (x0 == x1 && y0 == y1) break;
        const int e2 = 2 * err;
        if (e2 >= dy) err += dy, x0 += sx;
        if (e2 <= dx) err += dx, y0 += sy;
    }
}

void plot_disc(QImage& img, int cx, int cy, int r, uchar index) {
    for (int y = cy - r; y <= cy + r; ++y)
        for (int x = cx - r; x <= cx + r; ++x)
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r && x >= 0 && y >= 0 &&
                x < img.width() && y < img.height())
                img.setPixel(x, y, index);
}
}  // namespace

QImage pendulum_icon() {
    QImage img(32, 32, QImage::Format_Indexed8);
    img.setColorTable(QList<QRgb>(std::begin(kVga16), std::end(kVga16)));
    img.fill(kGreen);
    const int px = 15, py = 1;
    const int bobs[3][2] = {{5, 25}, {15, 27}, {25, 25}};
    for (const auto& b : bobs) plot_line(img, px, py, b[0], b[1], kBlack);
    for (const auto& b : bobs) plot_disc(img, b[0], b[1], 3, kRed);
    plot_line(img, px - 2, 0, px + 2, 0, kBlack);  // the pivot's mount
    return img;
}

}  // namespace tambrel
