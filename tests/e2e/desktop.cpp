#include "desktop.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QTemporaryFile>
#include <cstdio>

namespace tambrel::e2e {

void fail(const QString& what) { throw E2eFailure(what.toStdString()); }

void log(const QString& line) {
    std::fprintf(stdout, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
}

CommandResult run_command(const QString& program, const QStringList& args, int timeout_ms) {
    QProcess process;
    process.start(program, args);
    CommandResult result;
    if (!process.waitForStarted(timeout_ms)) return result;
    process.closeWriteChannel();
    if (!process.waitForFinished(timeout_ms)) {
        process.kill();
        process.waitForFinished(2000);
        return result;
    }
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    result.exit_code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

QImage Desktop::grab() const {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) fail(QStringLiteral("no screen to take a screenshot of"));
    return screen->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
}

void Desktop::xdotool(const QStringList& args) const {
    const CommandResult r = run_command(QStringLiteral("xdotool"), args);
    if (r.exit_code != 0)
        fail(QStringLiteral("xdotool %1 failed: %2")
                 .arg(args.join(' '), QString::fromLocal8Bit(r.err).trimmed()));
}

namespace {

std::vector<qulonglong> window_ids(const QByteArray& out) {
    std::vector<qulonglong> ids;
    for (const QByteArray& line : out.split('\n')) {
        bool ok = false;
        const qulonglong id = line.trimmed().toULongLong(&ok);
        if (ok) ids.push_back(id);
    }
    return ids;
}

// xdotool takes a POSIX extended regular expression.
QString anchored(const QString& text) {
    QString pattern = QStringLiteral("^");
    for (QChar c : text) {
        if (QStringLiteral(".[](){}*+?|^$\\").contains(c)) pattern += QLatin1Char('\\');
        pattern += c;
    }
    return pattern + QLatin1Char('$');
}

}  // namespace

std::vector<qulonglong> Desktop::windows_named(const QString& exact_name) const {
    // xdotool matches a regular expression; anchor it and keep only exact names.
    const CommandResult r = run_command(QStringLiteral("xdotool"),
                                        {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                         QStringLiteral("--name"), anchored(exact_name)});
    std::vector<qulonglong> exact;
    for (qulonglong id : window_ids(r.out))
        if (window_name(id) == exact_name) exact.push_back(id);
    return exact;
}

std::vector<qulonglong> Desktop::windows_of_process(qint64 pid) const {
    const CommandResult r = run_command(QStringLiteral("xdotool"),
                                        {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                         QStringLiteral("--pid"), QString::number(pid)});
    return window_ids(r.out);
}

QString Desktop::window_name(qulonglong window) const {
    const CommandResult r = run_command(QStringLiteral("xdotool"),
                                        {QStringLiteral("getwindowname"), QString::number(window)});
    QString name = QString::fromUtf8(r.out);
    if (name.endsWith(QLatin1Char('\n'))) name.chop(1);
    return name;
}

QRect Desktop::window_geometry(qulonglong window) const {
    const CommandResult r = run_command(
        QStringLiteral("xdotool"),
        {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), QString::number(window)});
    int x = 0, y = 0, w = 0, h = 0;
    for (const QByteArray& line : r.out.split('\n')) {
        const QList<QByteArray> kv = line.trimmed().split('=');
        if (kv.size() != 2) continue;
        const int v = kv[1].toInt();
        if (kv[0] == "X") x = v;
        if (kv[0] == "Y") y = v;
        if (kv[0] == "WIDTH") w = v;
        if (kv[0] == "HEIGHT") h = v;
    }
    return {x, y, w, h};
}

void Desktop::move_to(QPoint p) const {
    xdotool({QStringLiteral("mousemove"), QString::number(p.x()), QString::number(p.y())});
}

void Desktop::click_at(QPoint p) const {
    move_to(p);
    xdotool({QStringLiteral("click"), QStringLiteral("1")});
}

void Desktop::press() const { xdotool({QStringLiteral("mousedown"), QStringLiteral("1")}); }

void Desktop::release() const { xdotool({QStringLiteral("mouseup"), QStringLiteral("1")}); }

void Desktop::key(const QString& keys) const { xdotool({QStringLiteral("key"), keys}); }

void Desktop::type(const QString& text) const {
    xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("40"), text});
}

std::optional<QImage> Desktop::clipboard_png() const {
    const CommandResult r =
        run_command(QStringLiteral("xclip"),
                    {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                     QStringLiteral("-t"), QStringLiteral("image/png"), QStringLiteral("-o")});
    if (r.exit_code != 0 || r.out.isEmpty()) return std::nullopt;
    QImage image;
    if (!image.loadFromData(r.out, "PNG")) return std::nullopt;
    return image.convertToFormat(QImage::Format_RGB32);
}

void Desktop::set_clipboard_text(const QString& text) const {
    QTemporaryFile file;
    if (!file.open() || file.write(text.toUtf8()) < 0 || !file.flush())
        fail(QStringLiteral("cannot write the text for the clipboard"));
    const CommandResult r = run_command(QStringLiteral("xclip"),
                                        {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                                         QStringLiteral("-i"), file.fileName()});
    if (r.exit_code != 0)
        fail(QStringLiteral("xclip could not take the clipboard: %1")
                 .arg(QString::fromLocal8Bit(r.err).trimmed()));
}

std::optional<QString> Desktop::clipboard_text() const {
    const CommandResult r =
        run_command(QStringLiteral("xclip"),
                    {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                     QStringLiteral("-t"), QStringLiteral("UTF8_STRING"), QStringLiteral("-o")});
    if (r.exit_code != 0 || r.out.isEmpty()) return std::nullopt;
    return QString::fromUtf8(r.out);
}

void Desktop::move_window(qulonglong window, QPoint top_left) const {
    xdotool({QStringLiteral("windowmove"), QString::number(window), QString::number(top_left.x()),
             QString::number(top_left.y())});
}

}  // namespace tambrel::e2e
