#pragma once
// The X display as a user meets it: real pointer and key events through xdotool, the
// real clipboard through xclip, and screenshots of the whole screen. Every wait is on a
// condition with a bound; a missed bound throws E2eFailure with what was awaited.

#include <QElapsedTimer>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QThread>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tambrel::e2e {

struct E2eFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void fail(const QString& what);
void log(const QString& line);

struct CommandResult {
    int exit_code = -1;  // -1: did not start or did not finish within its bound
    QByteArray out;
    QByteArray err;
};

// Runs a program to its end (bounded) and returns what it printed.
CommandResult run_command(const QString& program, const QStringList& args, int timeout_ms = 20000);

class Desktop {
  public:
    // The whole screen as it is shown now (RGB32).
    QImage grab() const;

    // xdotool: visible top-level windows by exact name or by owning process.
    std::vector<qulonglong> windows_named(const QString& exact_name) const;
    std::vector<qulonglong> windows_of_process(qint64 pid) const;
    QString window_name(qulonglong window) const;
    QRect window_geometry(qulonglong window) const;

    void move_to(QPoint p) const;
    void click_at(QPoint p) const;
    void press() const;
    void release() const;
    void key(const QString& keys) const;
    void type(const QString& text) const;

    // xclip: the clipboard's image/png, or nullopt when nothing readable is offered.
    std::optional<QImage> clipboard_png() const;
    // xclip: offers `text` on the clipboard (xclip serves it until another program
    // takes the clipboard).
    void set_clipboard_text(const QString& text) const;
    // xclip: the clipboard's text (UTF-8), or nullopt when no text is offered.
    std::optional<QString> clipboard_text() const;
    // Moves a top-level window, as a user drags it by its title bar.
    void move_window(qulonglong window, QPoint top_left) const;

  private:
    void xdotool(const QStringList& args) const;
};

// Polls probe every 50 ms until it gives a value, or fails after timeout_ms. The probe
// may store its last observation in `last` to make a timeout message useful.
template <typename Probe>
auto wait_for(const QString& what, int timeout_ms, Probe&& probe, const QString* last = nullptr) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (auto value = probe()) return *value;
        if (clock.elapsed() > timeout_ms)
            fail(QStringLiteral("gave up after %1 ms waiting for %2%3")
                     .arg(timeout_ms)
                     .arg(what)
                     .arg(last && !last->isEmpty() ? QStringLiteral(" (last seen: %1)").arg(*last)
                                                   : QString()));
        QThread::msleep(50);
    }
}

}  // namespace tambrel::e2e
