#include "export/picture_file.h"

#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>

namespace tambrel {

QString picture_filter() {
    return QStringLiteral(
        "PNG 画像 (*.png)|*.png|JPEG 画像 (*.jpg *.jpeg)|*.jpg;*.jpeg|BMP 画像 (*.bmp)|*.bmp");
}

std::optional<QByteArray> picture_format(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("png")) return QByteArray("png");
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg")) return QByteArray("jpg");
    if (suffix == QLatin1String("bmp")) return QByteArray("bmp");
    return std::nullopt;
}

QString picture_path(const QString& chosen) {
    return picture_format(chosen) ? chosen : chosen + QStringLiteral(".png");
}

namespace {

QString could_not_write(const QString& path, const QString& reason) {
    return QStringLiteral("「%1」に保存できませんでした。\n%2").arg(path, reason);
}

}  // namespace

std::optional<QString> write_picture(const QImage& image, const QString& path) {
    const std::optional<QByteArray> format = picture_format(path);
    if (!format)
        return could_not_write(path,
                               QStringLiteral("PNG・JPEG・BMP のいずれかの名前にしてください。"));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return could_not_write(path, file.errorString());
    QImageWriter writer(&file, *format);
    // JPEG drops detail; keep the composite's edges sharp enough to measure on.
    if (*format == "jpg") writer.setQuality(95);
    if (!writer.write(image)) {
        file.cancelWriting();
        return could_not_write(path, writer.errorString());
    }
    if (!file.commit()) return could_not_write(path, file.errorString());
    return std::nullopt;
}

std::optional<QString> write_file(const QByteArray& bytes, const QString& path) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return could_not_write(path, file.errorString());
    if (file.write(bytes) != bytes.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return could_not_write(path, reason);
    }
    if (!file.commit()) return could_not_write(path, file.errorString());
    return std::nullopt;
}

}  // namespace tambrel
