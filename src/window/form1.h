#pragma once
// Form1: the one window. It owns every control and the window-level variables, and
// each event handler is a member. The handlers are spread over this folder by what
// they work on: form1.cpp (controls, start-up, exits, cmd_enabled), form1_media.cpp
// (open, close, transport), form1_compose.cpp (composition run, clearing),
// form1_scale.cpp (the scale and the axis switches), form1_readout.cpp (the pointer
// read-out) and form1_tracing.cpp (segment tracing).

#include <QMainWindow>
#include <QRect>
#include <QSize>
#include <QString>
#include <cstdint>
#include <optional>

#include "core/handles.h"
#include "core/picture_box.h"
#include "core/platform.h"
#include "window/command_tap.h"
#include "window/module1.h"
#include "window/scroll_map.h"
#include "media/service/media_service.h"

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QTimer;

namespace tambrel {

class Worksheet;

class Form1 : public QMainWindow {
    Q_OBJECT
public:
    Form1(Platform& platform, media::MediaService& service, HandleTable& handles,
          QWidget* parent = nullptr);
    ~Form1() override;

    // Start-up in the order the program runs it: Form_Load, show, Form_Activate.
    void start();

    // --- controls (names as the window defines them) ---
    QLabel* Label1;
    QPushButton* Cmd_Reserve;
    QPushButton* Command2;
    QPushButton* Command1;
    QScrollBar* HScroll1;
    QLabel* Label2;
    QPushButton* Command4;
    QPushButton* Command3;
    QLabel* Label10;
    QLineEdit* Text6;
    QPushButton* CmdGosei;
    QPushButton* Cmdgouseistop;
    QPushButton* Command6;
    QPushButton* Cmd_End;
    PictureBox* Picture1;
    QProgressBar* ProgressBar1;
    QGroupBox* Frame1;
    QRadioButton* Option1;
    QRadioButton* Option2;
    QLabel* Label3;
    PictureBox* Picture3;
    QLabel* Label4;
    QLineEdit* Text1;
    QLabel* Label5;
    QLineEdit* Text2;
    QPushButton* Cmd_xchange;
    QLabel* Label8;
    QLabel* Label6;
    QLineEdit* Text3;
    QLabel* Label7;
    QLineEdit* Text4;
    QLabel* Label9;
    QLineEdit* Text5;
    QPushButton* Cmd_ychange;
    PictureBox* Picture2;
    QTimer* Timer1;
    QMenu* mnufile;
    QAction* mnuopen;
    QAction* mnuclose;
    QAction* mnuend;

    // The window's inner (client) area, where the controls stand.
    QWidget* client_area() const { return client_; }
    // Label2's caption exactly as set (line feed and carriage return included); the
    // label shows them as one line break.
    const QString& label2_caption() const { return label2_caption_; }

    // --- window-level variables (all zero when the window is created) ---
    int16_t gosei_running = 0;
    int16_t gosei_fresh = 0;
    int16_t xaxis_mode = 0;
    int16_t yaxis_mode = 0;
    int16_t drag_on = 0;
    float drag_x0 = 0, drag_y0 = 0;
    int16_t seg_pending = 0;
    float seg_x0 = 0, seg_y0 = 0, band_x = 0, band_y = 0;

    // --- app: start-up, exits, command availability ---
    void Form_Load();
    void Form_Unload(int16_t& cancel);
    void mnuend_Click();
    void Cmd_End_Click();
    void cmd_enabled(int play_on, int transport_on);

    // --- media: open, close, transport ---
    void mnuopen_Click();
    // The open item's steps with `path` standing for the dialog's answer (a dropped file,
    // the command line's file); nullopt asks the dialog, as the open item does.
    void open_clip(const std::optional<QString>& path);
    void mnuclose_Click();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Cmd_Reserve_Click();
    void HScroll1_Scroll();
    void Timer1_Timer();

    // --- compose: composition run, clearing ---
    void CmdGosei_Click();
    void Cmdgouseistop_Click();
    void Command6_Click();
    // Steps n frames, one per 300 ms slot of the tick count, waiting asleep while the
    // window takes events; false when the cycle cannot go on: the run stopped, an exit,
    // the window gone, or the composite emptied.
    bool paced_advance(int16_t n);
    void blend_pass();

    // --- measure: scale, pointer read-out, segment tracing ---
    void Form_Activate();
    void Cmd_xchange_Click();
    void Cmd_ychange_Click();
    void draw_axes();
    void Picture3_MouseDown(Qt::MouseButtons button, Qt::KeyboardModifiers shift, float x, float y);
    void Picture3_MouseMove(Qt::MouseButtons button, Qt::KeyboardModifiers shift, float x, float y);
    void Picture3_MouseUp(Qt::MouseButtons button, Qt::KeyboardModifiers shift, float x, float y);
    void Picture2_MouseDown(Qt::MouseButtons button, Qt::KeyboardModifiers shift, float x, float y);
    void Picture2_MouseMove(Qt::MouseButtons button, Qt::KeyboardModifiers shift, float x, float y);

    Platform& platform() { return platform_; }
    // Calibration, time, recorded points and saving: the 測定 menu, the new ﾌｧｲﾙ items
    // and the status bar.
    Worksheet* worksheet() const { return worksheet_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    int32_t mci_send(const QString& command, QString& reply) {
        return module1_.mci_send(command, reply);
    }
    static QString short_path(const QString& path) { return Module1::short_path(path); }
    void set_label2_caption(const QString& caption);
    // Where the open clip's picture goes in Picture1 (and in the pictures that receive
    // its frames): its fit to Picture1's inner area.
    QRect clip_destination() const;
    // The read-out with no clip open: the timer off and Label2 saying so.
    void show_no_clip();
    void build_controls();
    void connect_events();

    Platform& platform_;
    CommandTap tap_;  // between Module1 and the service: the worksheet sees the commands
    Module1 module1_;
    HandleTable& handles_;
    QWidget* client_;
    QString label2_caption_;
    // The open clip's picture size as the service reports it; nullopt when unknown.
    std::optional<QSize> clip_source_;
    ScrollMap scroll_map_;
    // From an accepted open command to the next close command: only then has the
    // read-out a position to ask for.
    bool clip_open_ = false;
    // Set while a tick moves HScroll1. Qt reports that as a thumb move when the user
    // holds the thumb, and it must not seek.
    bool tick_sets_bar_ = false;
    Worksheet* worksheet_ = nullptr;
};

}  // namespace tambrel
