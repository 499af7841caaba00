#include "window/module1.h"

#include <QFile>
#include <QFileInfo>
#include <array>
#include <cstring>

#include "media/service/path_codec.h"

namespace tambrel {

int32_t Module1::mci_send(const QString& command, QString& reply) {
    std::array<char, kBufferSize> buffer{};  // fresh and all NUL at every call
    const QByteArray text = command.toUtf8();
    const int32_t rc = service_.send_string(text.constData(), buffer.data(), buffer.size());
    if (rc != 0) {
        platform_.beep();
        service_.error_string(rc, buffer.data(), buffer.size());  // its own result is ignored
    }
    const auto* nul = static_cast<const char*>(std::memchr(buffer.data(), 0, buffer.size()));
    if (nul) reply = QString::fromUtf8(buffer.data(), nul - buffer.data());
    return rc;
}

QString Module1::short_path(const QString& path) {
    if (path.isEmpty()) return {};
    const QByteArray bytes = QFile::encodeName(QFileInfo(path).absoluteFilePath());
    return QString::fromStdString(
        media::encode_command_path(std::string_view(bytes.constData(), size_t(bytes.size()))));
}

}  // namespace tambrel
