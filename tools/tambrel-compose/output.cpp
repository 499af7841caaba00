#include "output.h"

#include <unistd.h>

#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>
#include <algorithm>
#include <filesystem>

namespace tambrel::compose_cli {

namespace {
QString qpath(const std::string& path) { return QFile::decodeName(path.c_str()); }
std::string text(const QString& s) { return s.toStdString(); }
}  // namespace

std::variant<QByteArray, FormatError> output_format(const std::string& path) {
    const QString suffix = QFileInfo(qpath(path)).suffix().toLower();
    if (suffix.isEmpty()) return QByteArray("png");
    QList<QByteArray> known = QImageWriter::supportedImageFormats();
    const QByteArray wanted = suffix.toUtf8();
    if (known.contains(wanted)) return wanted;
    std::sort(known.begin(), known.end());
    return FormatError{"no image writer for '." + text(suffix) +
                       "' files (known: " + text(QString::fromUtf8(known.join(", "))) + ")"};
}

std::string output_problem(const std::string& path) {
    const QFileInfo info(qpath(path));
    if (info.isDir()) return "cannot write '" + path + "': it is a folder";
    const QString folder = info.absolutePath();
    const QFileInfo folder_info(folder);
    if (!folder_info.exists() || !folder_info.isDir())
        return "cannot write '" + path + "': there is no folder '" + text(folder) + "'";
    // The picture goes to a new file in the folder first, renamed over the output.
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0)
        return "cannot write '" + path + "': the folder '" + text(folder) + "' is not writable";
    return {};
}

bool same_file(const std::string& output, const std::string& clip) {
    std::error_code ec;
    return std::filesystem::equivalent(output, clip, ec) && !ec;
}

std::string write_image(const QImage& image, const std::string& path, const QByteArray& format) {
    QSaveFile file(qpath(path));
    if (!file.open(QIODevice::WriteOnly))
        return "cannot write '" + path + "': " + text(file.errorString());
    QImageWriter writer(&file, format);
    if (!writer.write(image)) {
        file.cancelWriting();
        return "cannot write '" + path + "': " + text(writer.errorString());
    }
    if (!file.commit()) return "cannot write '" + path + "': " + text(file.errorString());
    return {};
}

}  // namespace tambrel::compose_cli
