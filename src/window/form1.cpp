// The window itself: its controls as defined in twips, start-up, the three exits and
// the rule for which commands are available.

#include "window/form1.h"

#include <QCloseEvent>
#include <QFont>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>
#include <cmath>
#include <map>

#include "window/clip_sources.h"
#include "window/icon.h"
#include "core/fonts.h"
#include "core/window_layout.h"
#include "window/worksheet/worksheet.h"

namespace tambrel {

namespace {

constexpr int kTwipsPerPixel = 15;
constexpr int px(int twips) { return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel; }

void place(QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(px(left), px(top), px(width), px(height));
}

QLabel* make_label(QWidget* parent, const QString& name, const QString& caption) {
    auto* l = new QLabel(caption, parent);
    l->setObjectName(name);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    l->setWordWrap(true);
    return l;
}

QPushButton* make_button(QWidget* parent, const QString& name, const QString& caption) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    return b;
}

QLineEdit* make_text(QWidget* parent, const QString& name, const QString& text) {
    auto* t = new QLineEdit(text, parent);
    t->setObjectName(name);
    return t;
}

}  // namespace

Form1::Form1(Platform& platform, media::MediaService& service, HandleTable& handles,
             QWidget* parent)
    : QMainWindow(parent),
      platform_(platform),
      tap_(service),
      module1_(tap_, platform),
      handles_(handles) {
    build_controls();
    connect_events();
    worksheet_ = new Worksheet(*this, module1_, platform_, tap_);
}

Form1::~Form1() = default;

void Form1::build_controls() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Tambrel "));
    setWindowIcon(pendulum_icon_set());
    setFont(default_ui_font());

    client_ = new QWidget(this);
    client_->setObjectName(QStringLiteral("client"));
    client_->setAutoFillBackground(true);
    setCentralWidget(client_);
    QWidget* c = client_;

    // Created in the order that keeps later controls on top where they overlap
    // (the text boxes over the labels that run under them).
    Label1 = make_label(c, "Label1", {});
    place(Label1, 120, 120, 7215, 255);
    Cmd_Reserve = make_button(c, "Cmd_Reserve", QStringLiteral("巻き戻し"));
    place(Cmd_Reserve, 240, 720, 975, 495);
    Command2 = make_button(c, "Command2", QStringLiteral("一時停止"));
    place(Command2, 1200, 720, 975, 495);
    Command1 = make_button(c, "Command1", QStringLiteral("再生"));
    place(Command1, 2160, 720, 975, 495);
    HScroll1 = new QScrollBar(Qt::Horizontal, c);
    HScroll1->setObjectName("HScroll1");
    HScroll1->setRange(0, 32767);
    HScroll1->setSingleStep(1);
    HScroll1->setPageStep(1);
    HScroll1->setValue(0);
    place(HScroll1, 720, 1440, 1932, 255);
    Label2 = make_label(c, "Label2", {});
    Label2->setFont(design_font(11.25));
    place(Label2, 1440, 1920, 975, 615);
    Command4 = make_button(c, "Command4", QStringLiteral("コマ戻し"));
    place(Command4, 720, 2640, 975, 495);
    Command3 = make_button(c, "Command3", QStringLiteral("コマ送り"));
    place(Command3, 1680, 2640, 975, 495);
    Label10 = make_label(c, "Label10", QStringLiteral("送りコマ数"));
    Label10->setFont(design_font(11.25));
    place(Label10, 720, 3360, 1095, 375);
    Text6 = make_text(c, "Text6", QStringLiteral("1"));
    Text6->setFont(design_font(11.25));
    place(Text6, 1800, 3240, 615, 375);
    CmdGosei = make_button(c, "CmdGosei", QStringLiteral("合成開始"));
    place(CmdGosei, 720, 3840, 1935, 492);
    Cmdgouseistop = make_button(c, "Cmdgouseistop", QStringLiteral("合成中止"));
    place(Cmdgouseistop, 720, 4320, 1935, 495);
    Command6 = make_button(c, "Command6", QStringLiteral("合成画像消去"));
    place(Command6, 720, 4800, 1935, 492);
    Cmd_End = make_button(c, "Cmd_End", QStringLiteral("終了"));
    place(Cmd_End, 720, 5640, 1935, 492);
    Picture1 = new PictureBox(handles_, c);
    Picture1->setObjectName("Picture1");
    Picture1->move(px(3360), px(600));
    Picture1->set_outer_size(px(4800), px(3600));
    ProgressBar1 = new QProgressBar(c);
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->setTextVisible(false);
    place(ProgressBar1, 3360, 4320, 4800, 375);
    ProgressBar1->hide();
    Frame1 = new QGroupBox(QStringLiteral("合成方法の選択"), c);
    Frame1->setObjectName("Frame1");
    place(Frame1, 4440, 5040, 1935, 1215);
    Option1 = new QRadioButton(QStringLiteral("白優先"), Frame1);
    Option1->setObjectName("Option1");
    place(Option1, 360, 360, 1095, 300);
    Option2 = new QRadioButton(QStringLiteral("黒優先"), Frame1);
    Option2->setObjectName("Option2");
    place(Option2, 360, 720, 975, 255);
    Option1->setChecked(true);
    Label3 = make_label(c, "Label3", QStringLiteral("合成画像"));
    Label3->setFont(design_font(10.5));
    place(Label3, 10680, 120, 975, 255);
    Picture3 = new PictureBox(handles_, c);
    Picture3->setObjectName("Picture3");
    Picture3->move(px(8520), px(600));
    Picture3->set_outer_size(px(5550), px(4350));
    Picture3->client()->setCursor(Qt::UpArrowCursor);
    Label4 = make_label(c, "Label4", QStringLiteral("x座標"));
    place(Label4, 8520, 5400, 855, 375);
    Text1 = make_text(c, "Text1", {});
    place(Text1, 9000, 5280, 735, 375);
    Label5 = make_label(c, "Label5", QStringLiteral("ｙ座標"));
    place(Label5, 9960, 5400, 615, 375);
    Text2 = make_text(c, "Text2", {});
    place(Text2, 10440, 5280, 735, 375);
    Cmd_xchange = make_button(c, "Cmd_xchange", QStringLiteral("x軸変更"));
    place(Cmd_xchange, 12960, 5280, 1215, 495);
    Label8 = make_label(c, "Label8", QStringLiteral("ドラッグ"));
    place(Label8, 7800, 6000, 735, 255);
    Label6 = make_label(c, "Label6", QStringLiteral("Δｘ"));
    place(Label6, 8520, 6000, 375, 255);
    Text3 = make_text(c, "Text3", {});
    place(Text3, 9000, 5880, 735, 375);
    Label7 = make_label(c, "Label7", QStringLiteral("Δｙ"));
    place(Label7, 10080, 6000, 375, 255);
    Text4 = make_text(c, "Text4", {});
    place(Text4, 10440, 5880, 735, 375);
    Label9 = make_label(c, "Label9", QStringLiteral("Δｓ"));
    place(Label9, 11400, 6000, 375, 255);
    Text5 = make_text(c, "Text5", {});
    place(Text5, 11880, 5880, 735, 375);
    Cmd_ychange = make_button(c, "Cmd_ychange", QStringLiteral("ｙ軸変更"));
    place(Cmd_ychange, 12960, 5760, 1215, 495);
    Picture2 = new PictureBox(handles_, c);
    Picture2->setObjectName("Picture2");
    Picture2->move(px(3240), px(7080));
    Picture2->set_outer_size(px(4800), px(3600));

    // Pictures print in the window's font.
    for (PictureBox* p : {Picture1, Picture2, Picture3}) p->surface().font = default_ui_font();

    // Labels that run under a text box stay beneath it.
    Label4->lower();
    Label5->lower();

    // Keyboard focus follows the defined tab order.
    const std::map<int, QWidget*> tab_order = {
        {0, Command1},  {1, Command2},       {2, Command3},     {5, HScroll1},
        {7, Command4},  {9, Command6},       {10, CmdGosei},    {13, Cmd_End},
        {16, Option1},  {17, Option2},       {18, Text1},       {19, Text2},
        {22, Cmd_xchange}, {23, Cmd_ychange}, {24, Cmd_Reserve}, {25, Text3},
        {26, Text4},    {30, Text5},         {33, Text6},       {34, Cmdgouseistop}};
    QWidget* previous = nullptr;
    for (const auto& [index, widget] : tab_order) {
        if (previous) setTabOrder(previous, widget);
        previous = widget;
    }

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");

    mnufile = menuBar()->addMenu(QStringLiteral("ﾌｧｲﾙ（&F）"));
    mnufile->setObjectName("mnufile");
    mnuopen = mnufile->addAction(QStringLiteral("開く(&O)"));
    mnuopen->setObjectName("mnuopen");
    mnuclose = mnufile->addAction(QStringLiteral("閉じる(&C)"));
    mnuclose->setObjectName("mnuclose");
    mnuend = mnufile->addAction(QStringLiteral("終了(&X)"));
    mnuend->setObjectName("mnuend");

    // The client area as defined: 14460 x 6795 twips.
    client_->setMinimumSize(0, 0);
    resize(px(14460), px(6795) + menuBar()->sizeHint().height());
}

void Form1::connect_events() {
    // Once an exit has run, no further handler may run, whatever is still queued.
    auto on = [this](auto* sender, auto signal, auto handler) {
        connect(sender, signal, this, [this, handler](auto&&...) {
            if (!platform_.ending()) (this->*handler)();
        });
    };
    on(Command1, &QPushButton::clicked, &Form1::Command1_Click);
    on(Command2, &QPushButton::clicked, &Form1::Command2_Click);
    on(Command3, &QPushButton::clicked, &Form1::Command3_Click);
    on(Command4, &QPushButton::clicked, &Form1::Command4_Click);
    on(Cmd_Reserve, &QPushButton::clicked, &Form1::Cmd_Reserve_Click);
    on(CmdGosei, &QPushButton::clicked, &Form1::CmdGosei_Click);
    on(Cmdgouseistop, &QPushButton::clicked, &Form1::Cmdgouseistop_Click);
    on(Command6, &QPushButton::clicked, &Form1::Command6_Click);
    on(Cmd_End, &QPushButton::clicked, &Form1::Cmd_End_Click);
    on(Cmd_xchange, &QPushButton::clicked, &Form1::Cmd_xchange_Click);
    on(Cmd_ychange, &QPushButton::clicked, &Form1::Cmd_ychange_Click);
    on(mnuopen, &QAction::triggered, &Form1::mnuopen_Click);
    on(mnuclose, &QAction::triggered, &Form1::mnuclose_Click);
    on(mnuend, &QAction::triggered, &Form1::mnuend_Click);
    on(Timer1, &QTimer::timeout, &Form1::Timer1_Timer);
    // Only dragging the thumb seeks; arrow and track clicks move the bar silently.
    on(HScroll1, &QScrollBar::sliderMoved, &Form1::HScroll1_Scroll);

    using Mouse = void (Form1::*)(Qt::MouseButtons, Qt::KeyboardModifiers, float, float);
    auto mouse = [this](PictureBox* box, auto signal, Mouse handler) {
        connect(box, signal, this,
                [this, handler](Qt::MouseButtons b, Qt::KeyboardModifiers s, float x, float y) {
                    if (!platform_.ending()) (this->*handler)(b, s, x, y);
                });
    };
    mouse(Picture3, &PictureBox::mouseDown, &Form1::Picture3_MouseDown);
    mouse(Picture3, &PictureBox::mouseMove, &Form1::Picture3_MouseMove);
    mouse(Picture3, &PictureBox::mouseUp, &Form1::Picture3_MouseUp);
    mouse(Picture2, &PictureBox::mouseDown, &Form1::Picture2_MouseDown);
    mouse(Picture2, &PictureBox::mouseMove, &Form1::Picture2_MouseMove);

    // A video file dropped on the window opens as the open item would open it.
    new ClipDropTarget(this, [this](const QString& path) {
        if (!platform_.ending()) open_clip(path);
    });
}

void Form1::start() {
    Form_Load();
    show();
    Form_Activate();
}

void Form1::Form_Load() {
    // 1-2. Size the window so its client area is the defined 964 x 453 pixels (the
    // frame around it is the window manager's; the status bar lies under the client
    // area), then centre it on the screen.
    resize(px(14460),
           px(6795) + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
    if (const QScreen* s = screen()) {
        const QRect frame = frameGeometry();
        const float left = (float(s->geometry().width()) - float(frame.width())) / 2.0f;
        const float top = (float(s->geometry().height()) - float(frame.height())) / 2.0f;
        move(s->geometry().left() + int(std::lround(left)),
             s->geometry().top() + int(std::lround(top)));
    }
    // 3-7. Units are pixels throughout; the pictures take their working sizes.
    Picture1->set_outer_size(layout::kPicture1Width, layout::kPicture1Height);
    Picture2->set_outer_size(Picture1->outer_width(), Picture1->outer_height());
    Picture3->set_outer_size(Picture1->outer_width() + layout::kPicture3Extra,
                             Picture1->outer_height() + layout::kPicture3Extra);
    // 8. White priority.
    Option1->setChecked(true);
    Option2->setChecked(false);
    // 9. The file dialog reports a cancel as a failure (Platform::open_file_dialog).
    // 10-11.
    cmd_enabled(0, 0);
    CmdGosei->setEnabled(false);
    Cmd_Reserve->setEnabled(false);
    Cmdgouseistop->setEnabled(false);
    // 12.
    Timer1->setInterval(100);
    Timer1->stop();
    // 13.
    gosei_fresh = 1;
}

void Form1::cmd_enabled(int play_on, int transport_on) {
    const bool play = play_on != 0, transport = transport_on != 0;
    Command1->setEnabled(play);
    Command2->setEnabled(transport);
    Command3->setEnabled(transport);
    Command4->setEnabled(transport);
    CmdGosei->setEnabled(true);
    Command6->setEnabled(transport);
    HScroll1->setEnabled(transport);
}

void Form1::mnuend_Click() {
    QString reply;
    mci_send(QStringLiteral("close avfile"), reply);
    Timer1->stop();
    platform_.end_program();
}

void Form1::Form_Unload(int16_t& /*cancel*/) { mnuend_Click(); }

void Form1::Cmd_End_Click() {
    platform_.clipboard_clear();
    Timer1->stop();
    platform_.end_program();
}

void Form1::closeEvent(QCloseEvent* event) {
    if (!platform_.ending()) {
        int16_t cancel = 0;
        Form_Unload(cancel);
    }
    event->accept();
}

void Form1::set_label2_caption(const QString& caption) {
    label2_caption_ = caption;
    QString shown = caption;
    shown.replace(QStringLiteral("\n\r"), QStringLiteral("\n"));
    shown.remove(QLatin1Char('\r'));
    Label2->setText(shown);
}

}  // namespace tambrel
