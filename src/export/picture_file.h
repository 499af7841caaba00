#pragma once
// Writing what leaves the tool as a file: the composite as PNG, JPEG or BMP (chosen by
// the name's extension) and text files. Each goes through a temporary file renamed into
// place, so a failed write leaves an existing file as it was.

#include <QByteArray>
#include <QImage>
#include <QString>
#include <optional>

namespace tambrel {

// The save dialog's filter for these formats ("caption|pattern|…", PNG first).
QString picture_filter();

// "png", "jpg" or "bmp" for a name ending in .png, .jpg/.jpeg, .bmp (any case).
std::optional<QByteArray> picture_format(const QString& path);
// The name as chosen, with ".png" added when its extension names none of the formats.
QString picture_path(const QString& chosen);

// nullopt on success, else the reason in the user's words.
std::optional<QString> write_picture(const QImage& image, const QString& path);
std::optional<QString> write_file(const QByteArray& bytes, const QString& path);

}  // namespace tambrel
