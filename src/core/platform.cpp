#include "core/platform.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <ctime>

namespace tambrel {

QString qt_file_filter(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString caption = parts[i];
        const QString pattern = parts[i + 1];
        // Qt reads the patterns from the last parentheses; add them unless the caption
        // already names exactly these patterns.
        const QString patterns = QString(pattern).replace(';', ' ');
        if (caption.endsWith(QStringLiteral("(") + patterns + QStringLiteral(")")))
            entries << caption;
        else
            entries << caption + QStringLiteral(" (") + patterns + QStringLiteral(")");
    }
    return entries.join(QStringLiteral(";;"));
}

void QtPlatform::beep() { QApplication::beep(); }

void QtPlatform::message_box_stop(QWidget* parent, const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok, parent);
    box.exec();
}

void QtPlatform::message_box_info(QWidget* parent, const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, parent);
    box.exec();
}

void set_up_open_dialog(QFileDialog& dialog, const QString& filter, int selected) {
    // Qt's own dialog: the same on every desktop, and scriptable by typing a path.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    // Without QDir::CaseSensitive in the dialog's filter the name patterns match any case.
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    const QString entries = qt_file_filter(filter);
    dialog.setNameFilter(entries);
    const QStringList names = entries.split(QStringLiteral(";;"));
    if (selected >= 0 && selected < names.size()) dialog.selectNameFilter(names[selected]);
}

std::optional<QString> QtPlatform::open_file_dialog(QWidget* parent, const QString& filter,
                                                    int selected) {
    QFileDialog dialog(parent);
    set_up_open_dialog(dialog, filter, selected);
    dialog.setWindowModality(Qt::ApplicationModal);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().front();
}

std::optional<QString> QtPlatform::save_file_dialog(QWidget* parent, const QString& filter,
                                                    const QString& suggested) {
    QFileDialog dialog(parent);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(qt_file_filter(filter));
    dialog.selectFile(suggested);
    dialog.setWindowModality(Qt::ApplicationModal);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().front();
}

void QtPlatform::clipboard_clear() { QGuiApplication::clipboard()->clear(); }

void QtPlatform::clipboard_set_image(const QImage& image) {
    QGuiApplication::clipboard()->setImage(image);
}

void QtPlatform::clipboard_set_text(const QString& text) {
    QGuiApplication::clipboard()->setText(text);
}

int32_t QtPlatform::tick_count() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms = uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
    return static_cast<int32_t>(static_cast<uint32_t>(ms));
}

void QtPlatform::yield() { QCoreApplication::processEvents(); }

void QtPlatform::wait(int32_t ms) {
    if (ending_) return;
    // The event loop sleeps until an event comes; this timer's own event ends the wait
    // when nothing else does.
    QTimer bound;
    bound.setSingleShot(true);
    bound.setTimerType(Qt::PreciseTimer);
    bound.start(std::max(ms, 0));
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void QtPlatform::end_program() {
    if (ending_) return;
    ending_ = true;
    // Windows go away at once; the event loop ends once the stack unwinds back to it,
    // and QApplication's teardown hands the clipboard to the desktop's manager.
    for (QWidget* w : QApplication::topLevelWidgets()) w->hide();
    QCoreApplication::exit(0);
}

}  // namespace tambrel
