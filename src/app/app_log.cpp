#include "app/app_log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <cstdio>
#include <mutex>
#include <string_view>

#include "media/service/av_log.h"

namespace tambrel::app_log {

namespace {

constexpr qint64 kFreshAbove = 1 << 20;  // bytes
constexpr int kLinesPerSession = 5000;

struct Log {
    std::mutex mutex;
    QFile file;
    int lines = 0;
};

Log& log() {
    static Log l;
    return l;
}

void write(std::string_view level, std::string_view text) {
    Log& l = log();
    std::lock_guard lock(l.mutex);
    if (!l.file.isOpen() || l.lines > kLinesPerSession) return;
    const QByteArray stamp = QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toUtf8();
    QByteArray line = stamp + ' ' + QByteArray(level.data(), qsizetype(level.size())) + ' ' +
                      QByteArray(text.data(), qsizetype(text.size())) + '\n';
    if (++l.lines > kLinesPerSession)
        line = stamp + " (further messages of this session left out)\n";
    l.file.write(line);
    l.file.flush();
}

void qt_messages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    static constexpr std::string_view kLevels[] = {"debug", "warning", "critical", "fatal", "info"};
    const auto index = static_cast<size_t>(type);
    write(index < std::size(kLevels) ? kLevels[index] : "message", message.toStdString());
    if (type == QtFatalMsg) std::fprintf(stderr, "tambrel: %s\n", qPrintable(message));
}

}  // namespace

void install() {
    QString name = qEnvironmentVariable("TAMBREL_LOG");
    if (name.isEmpty()) {
        const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
        if (dir.isEmpty() || !QDir().mkpath(dir)) return;
        name = QDir(dir).filePath(QStringLiteral("tambrel.log"));
    }
    Log& l = log();
    {
        std::lock_guard lock(l.mutex);
        l.file.setFileName(name);
        const bool fresh = QFile(name).size() > kFreshAbove;
        if (!l.file.open(QIODevice::WriteOnly | (fresh ? QIODevice::Truncate : QIODevice::Append)))
            return;
    }
    qInstallMessageHandler(qt_messages);
    media::libav_log::install();
    media::libav_log::route_to(
        [](media::libav_log::Level level, std::string_view line) {
            // Called with the handler's lock held; the log has its own.
            write(level == media::libav_log::Level::Error ? "libav-error" : "libav", line);
        },
        kLinesPerSession);
}

QString path() { return log().file.fileName(); }

}  // namespace tambrel::app_log
