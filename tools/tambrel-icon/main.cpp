// Build-time helper: writes the pendulum icon for the hicolor theme, a PNG at each size
// of the set and an SVG, all from the window's own drawing:
//   OUT_DIR/NxN/apps/tambrel.png, OUT_DIR/scalable/apps/tambrel.svg
#include <QDir>
#include <QPainter>
#include <QString>
#include <QSvgGenerator>
#include <cstdio>

#include "window/icon.h"

namespace {

bool write_svg(const QString& path) {
    // Drawn at the largest size, so its strokes match the 256-pixel PNG.
    const int side = tambrel::kPendulumIconSizes.back();
    QSvgGenerator svg;
    svg.setFileName(path);
    svg.setSize(QSize(side, side));
    svg.setViewBox(QRect(0, 0, side, side));
    svg.setTitle(QStringLiteral("Tambrel"));
    svg.setDescription(QStringLiteral("A pendulum in three positions"));
    QPainter painter;
    if (!painter.begin(&svg)) return false;
    tambrel::paint_pendulum(painter, side, false);
    return painter.end();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tambrel-icon OUT_DIR\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    const auto fail = [](const QString& path) {
        std::fprintf(stderr, "tambrel-icon: cannot write %s\n", qPrintable(path));
        return 4;
    };
    for (const int side : tambrel::kPendulumIconSizes) {
        const QString dir = out.filePath(QStringLiteral("%1x%1/apps").arg(side));
        const QString path = dir + QStringLiteral("/tambrel.png");
        if (!QDir().mkpath(dir) || !tambrel::pendulum_icon(side).save(path, "PNG"))
            return fail(path);
    }
    const QString dir = out.filePath(QStringLiteral("scalable/apps"));
    const QString path = dir + QStringLiteral("/tambrel.svg");
    if (!QDir().mkpath(dir) || !write_svg(path)) return fail(path);
    return 0;
}
