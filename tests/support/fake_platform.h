#pragma once
// A platform for tests: counts beeps, records message boxes, answers the file dialog
// from a script, keeps the clipboard in memory, and has a clock that moves only when
// told, by each wait, or by a fixed amount at every read.

#include <QImage>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "core/platform.h"

namespace tambrel::testing {

class FakePlatform : public Platform {
public:
    int beeps = 0;
    struct Message {
        QString text, title;
        bool stop_icon;
    };
    std::vector<Message> messages;
    // Answers for the next dialogs; an empty optional is a cancel. No answer left: cancel.
    std::deque<std::optional<QString>> dialog_answers;
    QStringList dialog_filters;
    std::vector<int> dialog_selected;  // the entry each dialog opened with
    // Answers for the next save dialogs, as for the open dialog.
    std::deque<std::optional<QString>> save_answers;
    QStringList save_filters, save_suggestions;
    std::optional<QImage> clipboard;
    std::optional<QString> clipboard_text;
    int clipboard_clears = 0;
    int clipboard_sets = 0;
    int32_t now_ms = 1000000;
    int32_t ms_per_read = 0;  // added to the clock after every tick_count()
    int tick_reads = 0;
    int yields = 0;
    // Runs inside each yield (the nested handlers of a test), with the yield's number.
    std::function<void(int)> on_yield;
    int waits = 0;
    // Runs inside each wait, after the clock has moved on by the time waited, with the
    // wait's number.
    std::function<void(int)> on_wait;
    bool ended = false;

    void beep() override { ++beeps; }
    void message_box_stop(QWidget*, const QString& text, const QString& title) override {
        messages.push_back({text, title, true});
    }
    void message_box_info(QWidget*, const QString& text, const QString& title) override {
        messages.push_back({text, title, false});
    }
    std::optional<QString> open_file_dialog(QWidget*, const QString& filter,
                                            int selected) override {
        dialog_filters << filter;
        dialog_selected.push_back(selected);
        if (dialog_answers.empty()) return std::nullopt;
        auto answer = dialog_answers.front();
        dialog_answers.pop_front();
        return answer;
    }
    std::optional<QString> save_file_dialog(QWidget*, const QString& filter,
                                            const QString& suggested) override {
        save_filters << filter;
        save_suggestions << suggested;
        if (save_answers.empty()) return std::nullopt;
        auto answer = save_answers.front();
        save_answers.pop_front();
        return answer;
    }
    void clipboard_clear() override {
        ++clipboard_clears;
        clipboard.reset();
        clipboard_text.reset();
    }
    void clipboard_set_image(const QImage& image) override {
        ++clipboard_sets;
        clipboard = image.copy();
        clipboard_text.reset();
    }
    void clipboard_set_text(const QString& text) override {
        clipboard_text = text;
        clipboard.reset();
    }
    int32_t tick_count() override {
        ++tick_reads;
        const int32_t t = now_ms;
        now_ms += ms_per_read;
        return t;
    }
    void yield() override {
        ++yields;
        if (on_yield) on_yield(yields);
    }
    void wait(int32_t ms) override {
        ++waits;
        now_ms += ms;
        if (on_wait) on_wait(waits);
    }
    void end_program() override { ended = true; }
    bool ending() const override { return ended; }
};

}  // namespace tambrel::testing
