#pragma once
// From composite to worksheet: the length calibration, the clip's time, the points
// recorded on the composite with their table and plot, and the composite and table
// leaving the tool as files and on the clipboard. Form1 creates one and calls it from
// the composition run; everything else it reaches through the window's controls, its
// own menu items and the media commands it sees pass (CommandTap).

#include <QObject>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <optional>
#include <string_view>

#include "compose/run_record.h"
#include "measure/calibration.h"
#include "measure/clip_timing.h"
#include "measure/point_fit.h"
#include "measure/point_table.h"
#include "measure/tracking/clip_tracker.h"

class QAction;
class QLabel;
class QMenu;
class QShortcut;

namespace tambrel {

class AutoRecorder;
class CalibrationDialog;
class CommandTap;
class Form1;
class FullResolutionSave;
class MarkerOverlay;
class Module1;
class Platform;
class PointTableWindow;

class Worksheet : public QObject {
    Q_OBJECT
public:
    // Adds the menu 測定(&M), the new items of ﾌｧｲﾙ and the status bar to `form`. Create
    // it after the form's own handlers are connected: its reactions to the same events
    // (the clear button, a click on the composite) come after theirs.
    Worksheet(Form1& form, Module1& module1, Platform& platform, CommandTap& tap);
    ~Worksheet() override;

    // --- called by the composition run ---
    void run_started(int16_t steps);
    void seeded();
    void merged();

    // --- read by the window ---
    const Calibration& calibration() const { return calibration_; }
    const ClipTiming& timing() const { return timing_; }
    const RunRecord& record() const { return record_; }
    const PointTable& points() const { return points_; }
    bool clip_open() const { return clip_open_; }
    // The rows of the table as they are shown and copied.
    TextTable table_text() const;

    // --- menu items (public for tests; names are the items' object names) ---
    QMenu* mnumeasure;
    QAction* mnucalibrate;    // 長さの基準(&L)…
    QAction* mnuuncalibrate;  // 目盛に戻す
    QAction* mnucapture;      // 撮影速度(&R)…
    QAction* mnurecord;       // 位置を記録(&P), checkable
    QAction* mnuautorecord;   // 自動で位置を記録(&A)
    QAction* mnutable;        // 記録表(&T)
    QAction* mnuundo;         // 最後の点を取り消す, Ctrl+Z
    QAction* mnuclearpoints;  // 記録をすべて消去
    QAction* mnusave;         // 合成画像を保存(&S)…, Ctrl+S
    QAction* mnucopy;         // 合成画像をコピー, Ctrl+C
    QAction* mnusavefull;     // 元の解像度で保存…, Ctrl+Shift+S
    QAction* mnusavescaled;   // 元の解像度で保存（目盛付き）…, when calibrated
    QLabel* time_label;       // "t = 1.234 s"
    QLabel* interval_label;   // "合成間隔 Δt = 0.100 s"
    QLabel* tick_label;       // "1 目盛 = 0.052 m"
    QLabel* fit_label;        // the fit picked in the table window, with its errors
    PointTableWindow* table_window() const { return table_window_; }
    AutoRecorder* auto_recorder() const { return recorder_; }
    MarkerOverlay* overlay() const { return overlay_; }
    CalibrationDialog* calibration_dialog() const { return calibration_dialog_; }
    FullResolutionSave* full_save() const { return full_save_; }

    // --- actions ---
    void start_calibration();
    void uncalibrate();
    void ask_capture_rate();
    void set_recording(bool on);
    // The object found by itself in the frames the composite is made of; the points
    // follow once it has been looked for in all of them.
    void auto_record();
    void show_table();
    void undo_point();
    void clear_points();
    void save_composite();
    void copy_composite();
    // The recorded run at the clip's own size; with the scale drawn to match when asked.
    void save_full_resolution(bool with_scale);
    void copy_table();
    void save_table();

private:
    void build_menus();
    void build_status_bar();
    void on_command(std::string_view command, int32_t rc, std::string_view reply);
    void composite_emptied();
    void ask_clip_info();
    void ask_time();
    std::optional<double> ask_number(const char* command);
    std::optional<int64_t> ask_position();
    void on_press(float x, float y);
    void on_move(Qt::MouseButtons buttons, float x, float y);
    void on_release(float x, float y);
    void finish_calibration_drag(QPointF a, QPointF b);
    void end_calibration_mode();
    ShownScale shown_scale() const;
    PointAxes axes() const;
    void refresh();
    void points_changed();
    void show_mode_hint();
    QString seconds_text(double seconds) const;
    void auto_recorded(const tracking::TrackResult& result, const std::vector<int64_t>& frames);
    std::optional<int> marker_at(float x, float y) const;
    void highlight(std::optional<int> k);
    PointFitResult current_fit(const std::vector<PointRow>& rows) const;

    Form1& form_;
    Module1& module1_;
    Platform& platform_;

    Calibration calibration_;
    ClipTiming timing_;
    RunRecord record_;
    PointTable points_;

    bool clip_open_ = false;
    bool time_refused_ = false;  // this clip does not answer "status avfile time"
    bool time_pending_ = false;
    QString clip_path_;
    std::optional<QSizeF> source_size_;       // the clip's picture, upright, square pixels
    std::optional<QSizeF> destination_size_;  // where the window draws it
    std::optional<QRectF> destination_rect_;  // ... and at which place
    QString last_position_;                   // the last position reply seen
    std::optional<QString> timed_position_;   // ... when the last time reply passed
    std::optional<double> current_ms_;        // that reply

    bool calibrating_ = false;
    std::optional<QPointF> band_from_, band_to_;
    std::optional<QPointF> pending_a_, pending_b_;
    double last_length_ = 1.0;
    LengthUnit last_unit_ = LengthUnit::Metre;

    // A marker pressed: dragged to correct its point, or (recording, not moved) a click
    // that records the next point there.
    std::optional<int> drag_k_;
    QPointF pressed_at_;
    bool drag_moved_ = false;
    std::optional<int> highlighted_;

    bool table_placed_ = false;
    AutoRecorder* recorder_ = nullptr;
    MarkerOverlay* overlay_ = nullptr;
    PointTableWindow* table_window_ = nullptr;
    CalibrationDialog* calibration_dialog_ = nullptr;
    QShortcut* escape_ = nullptr;
    FullResolutionSave* full_save_ = nullptr;
};

}  // namespace tambrel
