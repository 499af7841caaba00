#pragma once
// Everything the window code takes from the desktop, behind one interface so tests can
// count beeps, script the dialog, keep the clipboard in memory and drive the clock.

#include <QImage>
#include <QString>
#include <cstdint>
#include <optional>

class QFileDialog;
class QWidget;

namespace tambrel {

class Platform {
public:
    virtual ~Platform() = default;

    virtual void beep() = 0;
    // Modal message box with the stop icon and one OK button.
    virtual void message_box_stop(QWidget* parent, const QString& text, const QString& title) = 0;
    // Modal informational message (used where the window must explain a refused input).
    virtual void message_box_info(QWidget* parent, const QString& text, const QString& title) = 0;
    // Modal file-open dialog. `filter` is in the "caption|pattern|caption|pattern" form
    // (several patterns of one entry separated by ';'); entry `selected` (0 = the first)
    // is the one chosen when the dialog opens. nullopt when the user cancels: the caller
    // treats that as a failure.
    virtual std::optional<QString> open_file_dialog(QWidget* parent, const QString& filter,
                                                    int selected) = 0;
    // Modal file-save dialog starting at `suggested`: the chosen path (replacing an
    // existing file has been confirmed), or nullopt when the user cancels.
    virtual std::optional<QString> save_file_dialog(QWidget* parent, const QString& filter,
                                                    const QString& suggested) = 0;
    virtual void clipboard_clear() = 0;
    virtual void clipboard_set_image(const QImage& image) = 0;
    virtual void clipboard_set_text(const QString& text) = 0;
    // Milliseconds since system start, wrapping as a signed 32-bit value.
    virtual int32_t tick_count() = 0;
    // Dispatches every pending event once and returns.
    virtual void yield() = 0;
    // Waits up to `ms` milliseconds without using the processor while the window paints
    // and takes clicks; returns once an event has been handled or the time is up.
    virtual void wait(int32_t ms) = 0;
    // Ends the program at once: windows go away, no further handler runs, and code that
    // is unwinding out of a nested yield must check ending() and stop.
    virtual void end_program() = 0;
    virtual bool ending() const = 0;
};

// Converts the "caption|pattern|..." filter form into Qt's "caption (pattern);;..." form.
QString qt_file_filter(const QString& filter);

// Sets up `dialog` as QtPlatform's open dialog: Qt's own (the same on every desktop,
// scriptable by typing a path), one existing file, the filter's entries with `selected`
// chosen, extensions matched without regard to case.
void set_up_open_dialog(QFileDialog& dialog, const QString& filter, int selected);

class QtPlatform : public Platform {
public:
    void beep() override;
    void message_box_stop(QWidget* parent, const QString& text, const QString& title) override;
    void message_box_info(QWidget* parent, const QString& text, const QString& title) override;
    std::optional<QString> open_file_dialog(QWidget* parent, const QString& filter,
                                            int selected) override;
    std::optional<QString> save_file_dialog(QWidget* parent, const QString& filter,
                                            const QString& suggested) override;
    void clipboard_clear() override;
    void clipboard_set_image(const QImage& image) override;
    void clipboard_set_text(const QString& text) override;
    int32_t tick_count() override;
    void yield() override;
    void wait(int32_t ms) override;
    void end_program() override;
    bool ending() const override { return ending_; }

private:
    bool ending_ = false;
};

}  // namespace tambrel
