// End-to-end run of the real tambrel binary on an X display without a window manager.
// It is driven only by real input (xdotool) and read only from screenshots and the
// real clipboard (xclip). Usage:
//   tambrel_e2e_driver --tambrel BIN --make-clip BIN --artifacts DIR
// Exit status 0 when every step held, 1 on the first failure (with failure.png).

#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTextStream>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <set>
#include <variant>

#include "clipgen.h"
#include "core/numbers.h"
#include "desktop.h"
#include "look.h"

namespace tambrel::e2e {
namespace {

// The pendulum clip: small enough to fit Picture1 nearly unscaled, long enough that
// play, pause, steps, a seek into the second half and a run never reach its end, and
// swinging wide enough that the bob samples of a run stand apart.
clipgen::ClipOptions pendulum_options(const QString& path) {
    clipgen::ClipOptions o;
    o.path = path.toStdString();
    o.codec = clipgen::Codec::Mjpeg;
    o.motion = clipgen::Motion::Pendulum;
    o.width = 320;
    o.height = 240;
    o.frames = 600;
    o.pendulum_length_m = 0.5;
    o.amplitude_deg = 60;
    o.pixels_per_metre = 300;
    return o;
}

// A 16:9 clip longer than the scroll bar's 16-bit range: 2 min 47 s of 240 fps slow
// motion. MPEG-4 with a keyframe every half second keeps it small and quick to write.
constexpr int kLongFrames = 40000;
clipgen::ClipOptions long_options(const QString& path) {
    clipgen::ClipOptions o;
    o.path = path.toStdString();
    o.codec = clipgen::Codec::Mpeg4;
    o.width = 320;
    o.height = 180;
    o.fps_num = 240;
    o.frames = kLongFrames;
    o.keyframe_interval = 120;
    return o;
}

// The scroll bar's 16-bit range spread over a clip that is longer: value v stands for
// frame v · length / 32767 and frame f shows as f · 32767 / length, both to the nearest.
constexpr int kBarLimit = 32767;
int frame_of_bar(int value, int length) {
    return int((2LL * value * length + kBarLimit) / (2LL * kBarLimit));
}
int bar_of_frame(int frame, int length) {
    return int((2LL * frame * kBarLimit + length) / (2LL * length));
}

// The sample clip as the build makes it: 0.5 m, 20 degrees, 600 pixels per metre,
// 640 x 480 at 30 fps, no frame-number band.
clipgen::ClipOptions sample_options(const QString& path) {
    clipgen::ClipOptions o;
    o.path = path.toStdString();
    o.codec = clipgen::Codec::Mjpeg;
    o.motion = clipgen::Motion::Pendulum;
    o.width = 640;
    o.height = 480;
    o.frames = 300;
    o.frame_number_band = false;
    return o;
}

// Two colours whose brightness order disagrees with their red channel's: merging them
// whole-pixel keeps one of them, merging channel by channel makes a third colour.
constexpr QRgb kDimColour = 0xDC2828;     // (220, 40, 40): channel sum 300, even frames
constexpr QRgb kBrightColour = 0x283CE6;  // (40, 60, 230): channel sum 330, odd frames

constexpr int kLong = 30000;       // bound for things that happen at once
constexpr int kVeryLong = 120000;  // bound for waits over several composition cycles

// Controls, by their twips geometry in the window's definition.
const QRect kCommand1 = twips_rect(2160, 720, 975, 495);   // 再生
const QRect kCommand2 = twips_rect(1200, 720, 975, 495);   // 一時停止
const QRect kCommand3 = twips_rect(1680, 2640, 975, 495);  // コマ送り
const QRect kHScroll1 = twips_rect(720, 1440, 1932, 255);
const QRect kLabel1 = twips_rect(120, 120, 7215, 255);
const QRect kLabel2 = twips_rect(1440, 1920, 975, 615);
const QRect kText6 = twips_rect(1800, 3240, 615, 375);
const QRect kCmdGosei = twips_rect(720, 3840, 1935, 492);       // 合成開始
const QRect kCmdgouseistop = twips_rect(720, 4320, 1935, 495);  // 合成中止
const QRect kCommand6 = twips_rect(720, 4800, 1935, 492);       // 合成画像消去
const QRect kCmdXchange = twips_rect(12960, 5280, 1215, 495);   // x軸変更
const QRect kCmdReserve = twips_rect(240, 720, 975, 495);       // 巻き戻し
// Option1 and Option2 stand inside Frame1 at (360, 360) and (360, 720).
const QRect kOption1 = twips_rect(4440 + 360, 5040 + 360, 1095, 300);
const QRect kOption2 = twips_rect(4440 + 360, 5040 + 720, 975, 255);
const QRect kTextBoxes[5] = {twips_rect(9000, 5280, 735, 375), twips_rect(10440, 5280, 735, 375),
                             twips_rect(9000, 5880, 735, 375), twips_rect(10440, 5880, 735, 375),
                             twips_rect(11880, 5880, 735, 375)};

QImage crop(const QImage& image, QRect r) { return image.copy(r); }

// A teacher's folder for the pendulum clip: several hundred bytes of Japanese, beyond
// what a path form with every byte of a character escaped could carry in 255 bytes.
QString japanese_folder() {
    QStringList parts = {QStringLiteral("振り子実験データ"), QStringLiteral("令和六年度"),
                         QStringLiteral("第三学年"),
                         QStringLiteral("振り子の長さと周期の関係を調べる実験の記録")};
    return parts.join(QLatin1Char('/'));
}

// Processor time the process has used so far, in seconds (Linux /proc).
double cpu_seconds(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return -1;
    const QByteArray line = stat.readAll();
    // Fields after the command name, which is in parentheses and may hold blanks.
    const QList<QByteArray> f = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (f.size() < 13) return -1;
    return (f[11].toDouble() + f[12].toDouble()) / double(sysconf(_SC_CLK_TCK));
}

class Scenario {
  public:
    Scenario(QString tambrel, QString make_clip, QString artifacts)
        : tambrel_(std::move(tambrel)),
          make_clip_(std::move(make_clip)),
          dir_(std::move(artifacts)) {}

    void run();
    void on_failure(const QString& what);

  private:
    // --- set-up ---
    void make_clips();
    void start_app();
    void save(const QImage& shot, const QString& name, const QString& what);

    // --- where things are and what they show ---
    QPoint on_screen(QPoint client_point) const { return client_origin_ + client_point; }
    QRect on_screen(QRect client_rect) const { return client_rect.translated(client_origin_); }
    QPoint centre(QRect client_rect) const { return on_screen(client_rect).center(); }
    QImage control(const QImage& shot, QRect client_rect) const {
        return crop(shot, on_screen(client_rect));
    }
    // The frame number coded into the picture in Picture1 (the part the clip's picture
    // covers: all of it for 4:3, the top or left part for other shapes).
    int picture1_frame(const QImage& shot) const {
        return clipgen::read_frame_number(control(shot, shown_picture_));
    }
    // The frame number the read-out Label2 shows, found by comparing it with the
    // label rendered for each candidate; -1 when it shows none of them.
    int readout(const QImage& shot, int hint = -1);
    bool text_box_shows(const QImage& shot, int box, const QString& text);

    // --- waits ---
    QImage wait_for_frame(int frame, bool check_picture, const QString& what);
    // Waits until picture and read-out agree and stay put over several polls.
    std::pair<int, QImage> wait_until_still(bool check_picture, const QString& what);
    // Opens the menu ﾌｧｲﾙ (or with `keys`, the menu those keys open) and returns its popup.
    QRect open_menu(const QString& keys = {});
    // Opens a menu, shows it in a screenshot, and chooses the item by its access key.
    void choose_menu_item(const QString& menu_keys, const QString& item_key, const QString& name,
                          const QString& shot_name);
    // A window of the program that was not there before `before`, at least `min_width` wide.
    qulonglong wait_for_new_window(const std::set<qulonglong>& before, int min_width,
                                   const QString& what);
    std::set<qulonglong> program_windows() const;
    void open_clip(const QString& path, const QString& step);
    // 再生 until the read-out leaves frame 0, then 一時停止 until the picture stands.
    void play_a_little(const QString& clip);
    // The scroll bar's thumb grabbed at `grab_x` and dragged in small moves to
    // `release_x` (both from the bar's left end), then the pointer parked off the bar.
    void drag_thumb(const QRect& bar, const QRect& thumb, int grab_x, int release_x);
    // Returns the screenshot in which Text1..Text5 show `texts`.
    QImage wait_for_text_boxes(const QStringList& texts, const QString& what);
    // Runs a composition until the clipboard has shown `cycles` different pictures,
    // stops it, and returns the clipboard's picture after the stop. `during(n)` runs
    // each time the clipboard has shown its n-th different picture.
    QImage compose(int cycles, const QString& step, const std::function<void(int)>& during = {});
    // Where the pendulum's bob stands in Picture3 at `frame`, and its radius there.
    QPoint bob_in_composite(int frame) const;
    double bob_radius() const;
    // The last frame a pendulum run from `seed` with `step` frames per step merged, when
    // it ended at frame `end`; `screen` is the composite as the window shows it.
    int last_merged(const QImage& screen, int seed, int end, int step);
    // Checks a composite of that run: the bob of every sampled frame up to `last_kept`,
    // and of none of the other frames up to `end`. Returns how many bobs are in it.
    int check_bobs(const QImage& composite, int seed, int last_kept, int end, int step,
                   const QString& what);

    // --- the steps ---
    void step1_start();
    void step2_open();
    void step3_transport();
    void step3b_seek();
    void step4_compose();
    void step5_clipboard();
    void step5b_long_pace();
    void step6_readout();
    void step6b_priority();
    void step6c_long_clip();
    void step6d_portrait();
    void step6e_worksheet();
    void step6f_auto_record();
    void step7_exit();

    QString tambrel_, make_clip_;
    QDir dir_;
    QString pendulum_path_, colours_path_, long_path_, portrait_path_, sample_path_;
    clipgen::ClipOptions pendulum_, long_, sample_;
    QImage portrait_upright_;  // frame 0 of the portrait clip as ffmpeg shows it
    QRect shown_picture_ = PictureGeometry::picture1_inner();
    QProcess app_;
    Desktop desk_;
    Replicas replicas_;
    qulonglong window_ = 0;
    QRect window_rect_;
    QPoint client_origin_;
    std::map<int, QImage> readout_looks_;
    QTextStream* index_ = nullptr;
    QFile index_file_;
    QTextStream index_stream_;  // outlives run(), so the failure path can still write
    int seed_frame_ = -1, end_frame_ = -1;
    QImage final_clipboard_;
    QImage composed_shot_;
    int shot_number_ = 0;
};

void Scenario::save(const QImage& shot, const QString& name, const QString& what) {
    const QString file =
        QStringLiteral("%1-%2.png").arg(++shot_number_, 2, 10, QLatin1Char('0')).arg(name);
    shot.save(dir_.filePath(file));
    if (index_) *index_ << file << ": " << what << "\n", index_->flush();
    log(QStringLiteral("  saved %1: %2").arg(file, what));
}

void Scenario::make_clips() {
    dir_.mkpath(japanese_folder());
    pendulum_path_ =
        dir_.filePath(japanese_folder() + QStringLiteral("/振り子の周期測定の動画.avi"));
    pendulum_ = pendulum_options(pendulum_path_);
    // The user's tool makes the clip; the same options tell where the bob is in each frame.
    const CommandResult made = run_command(
        make_clip_,
        {pendulum_path_, QStringLiteral("--pendulum"), QStringLiteral("--codec"),
         QStringLiteral("mjpeg"), QStringLiteral("--size"), QStringLiteral("320x240"),
         QStringLiteral("--frames"), QString::number(pendulum_.frames), QStringLiteral("--length"),
         QStringLiteral("0.5"), QStringLiteral("--amplitude"), QStringLiteral("60"),
         QStringLiteral("--scale"), QStringLiteral("300")},
        120000);
    if (made.exit_code != 0)
        fail(QStringLiteral("make-clip failed: %1").arg(QString::fromLocal8Bit(made.err)));

    sample_path_ = dir_.filePath(QStringLiteral("sample-pendulum.avi"));
    sample_ = sample_options(sample_path_);
    const CommandResult sample =
        run_command(make_clip_,
                    {sample_path_, QStringLiteral("--pendulum"), QStringLiteral("--no-band"),
                     QStringLiteral("--codec"), QStringLiteral("mjpeg"), QStringLiteral("--size"),
                     QStringLiteral("640x480"), QStringLiteral("--fps"), QStringLiteral("30"),
                     QStringLiteral("--frames"), QStringLiteral("300"), QStringLiteral("--length"),
                     QStringLiteral("0.5"), QStringLiteral("--amplitude"), QStringLiteral("20")},
                    120000);
    if (sample.exit_code != 0)
        fail(QStringLiteral("make-clip failed on the sample: %1")
                 .arg(QString::fromLocal8Bit(sample.err)));

    // Lossless, so the colours arrive exactly as written.
    colours_path_ = dir_.filePath(QStringLiteral("colours.avi"));
    const auto channel = [](const char* name, int even, int odd) {
        return QStringLiteral("%1='if(mod(N,2),%2,%3)'")
            .arg(QLatin1String(name))
            .arg(odd)
            .arg(even);
    };
    const QString filter =
        QStringLiteral("color=c=black:s=320x240:r=30:d=10,format=gbrp,geq=%1:%2:%3")
            .arg(channel("r", qRed(kDimColour), qRed(kBrightColour)),
                 channel("g", qGreen(kDimColour), qGreen(kBrightColour)),
                 channel("b", qBlue(kDimColour), qBlue(kBrightColour)));
    const CommandResult colours = run_command(
        QStringLiteral("ffmpeg"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
         QStringLiteral("lavfi"), QStringLiteral("-i"), filter, QStringLiteral("-pix_fmt"),
         QStringLiteral("bgr0"), QStringLiteral("-c:v"), QStringLiteral("ffv1"), colours_path_},
        120000);
    if (colours.exit_code != 0)
        fail(QStringLiteral("ffmpeg could not write the two-colour clip: %1")
                 .arg(QString::fromLocal8Bit(colours.err)));

    long_path_ = dir_.filePath(QStringLiteral("slow-motion-16x9.avi"));
    long_ = long_options(long_path_);
    const CommandResult made_long =
        run_command(make_clip_,
                    {long_path_, QStringLiteral("--codec"), QStringLiteral("mpeg4"),
                     QStringLiteral("--size"), QStringLiteral("320x180"), QStringLiteral("--fps"),
                     QStringLiteral("240"), QStringLiteral("--frames"),
                     QString::number(kLongFrames), QStringLiteral("--gop"), QStringLiteral("120")},
                    600000);
    if (made_long.exit_code != 0)
        fail(QStringLiteral("make-clip could not write the long clip: %1")
                 .arg(QString::fromLocal8Bit(made_long.err)));

    // A portrait phone clip as phones store it: H.264 in MP4, coded landscape (320 x 180)
    // with a display rotation of -90 degrees, a bright disc near one end. The display
    // rotation is added by a stream copy, where this ffmpeg writes it.
    const QString coded = dir_.filePath(QStringLiteral("portrait-coded.mp4"));
    portrait_path_ = dir_.filePath(QStringLiteral("IMG_0001.MP4"));
    const QString upright = dir_.filePath(QStringLiteral("portrait-upright.png"));
    const QStringList quiet = {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y")};
    const CommandResult encoded = run_command(
        QStringLiteral("ffmpeg"),
        quiet + QStringList{QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                            QStringLiteral("color=c=black:s=320x180:r=30:d=2,format=yuv420p,"
                                           "geq=lum='if(lt(hypot(X-60,Y-90),30),235,40)':"
                                           "cb=128:cr=128"),
                            QStringLiteral("-c:v"), QStringLiteral("libx264"),
                            QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), coded},
        120000);
    const CommandResult rotated =
        encoded.exit_code != 0
            ? encoded
            : run_command(
                  QStringLiteral("ffmpeg"),
                  quiet + QStringList{QStringLiteral("-i"), coded, QStringLiteral("-c"),
                                      QStringLiteral("copy"), QStringLiteral("-metadata:s:v:0"),
                                      QStringLiteral("rotate=270"), portrait_path_},
                  120000);
    // What a player shows: ffmpeg applies the rotation when it decodes.
    const CommandResult reference =
        rotated.exit_code != 0
            ? rotated
            : run_command(
                  QStringLiteral("ffmpeg"),
                  quiet + QStringList{QStringLiteral("-i"), portrait_path_,
                                      QStringLiteral("-frames:v"), QStringLiteral("1"), upright},
                  120000);
    portrait_upright_ = QImage(upright);
    if (reference.exit_code != 0 || portrait_upright_.size() != QSize(180, 320))
        fail(QStringLiteral("ffmpeg could not write the portrait clip (%1): %2")
                 .arg(portrait_upright_.width())
                 .arg(QString::fromLocal8Bit(reference.err)));
}

void Scenario::start_app() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    app_.setProcessEnvironment(env);
    app_.setProcessChannelMode(QProcess::ForwardedChannels);
    app_.start(tambrel_, {});
    if (!app_.waitForStarted(kLong))
        fail(QStringLiteral("tambrel did not start: %1").arg(tambrel_));
}

int Scenario::readout(const QImage& shot, int hint) {
    const QImage shown = control(shot, kLabel2);
    const auto matches = [&](int n) {
        auto it = readout_looks_.find(n);
        if (it == readout_looks_.end())
            it = readout_looks_.emplace(n, replicas_.frame_readout(n)).first;
        return differing_pixels(shown, it->second) <= 2;
    };
    // Without a hint the picture's own frame number is the best guess.
    if (hint < 0) hint = picture1_frame(shot);
    if (hint >= 0)
        for (int n = std::max(0, hint - 3); n <= hint + 3; ++n)
            if (matches(n)) return n;
    for (int n = 0; n <= pendulum_.frames; ++n)
        if (matches(n)) return n;
    return -1;
}

bool Scenario::text_box_shows(const QImage& shot, int box, const QString& text) {
    return differing_pixels(control(shot, kTextBoxes[box]), replicas_.text_box(text)) <= 2;
}

QImage Scenario::wait_for_frame(int frame, bool check_picture, const QString& what) {
    QString last;
    return wait_for(
        what, kLong,
        [&]() -> std::optional<QImage> {
            const QImage shot = desk_.grab();
            const int shown = readout(shot, frame);
            const int pictured = check_picture ? picture1_frame(shot) : frame;
            last = QStringLiteral("read-out %1, picture %2").arg(shown).arg(pictured);
            if (shown == frame && pictured == frame) return shot;
            return std::nullopt;
        },
        &last);
}

std::pair<int, QImage> Scenario::wait_until_still(bool check_picture, const QString& what) {
    QString last;
    int previous = -1, polls_alike = 0;
    QElapsedTimer alike_since;
    return wait_for(
        what, kLong,
        [&]() -> std::optional<std::pair<int, QImage>> {
            const QImage shot = desk_.grab();
            const int shown = readout(shot, previous);
            const int pictured = check_picture ? picture1_frame(shot) : shown;
            last = QStringLiteral("read-out %1, picture %2").arg(shown).arg(pictured);
            if (shown < 0 || shown != pictured || shown != previous) {
                previous = shown == pictured ? shown : -1;
                polls_alike = 0;
                alike_since.start();
                return std::nullopt;
            }
            // Playing at 30 frames a second moves on within 35 ms: several alike polls
            // spread over a third of a second mean the clip stands.
            if (++polls_alike >= 4 && alike_since.elapsed() >= 330)
                return std::make_pair(shown, shot);
            return std::nullopt;
        },
        &last);
}

std::set<qulonglong> Scenario::program_windows() const {
    std::set<qulonglong> ids;
    for (qulonglong w : desk_.windows_of_process(app_.processId())) ids.insert(w);
    return ids;
}

qulonglong Scenario::wait_for_new_window(const std::set<qulonglong>& before, int min_width,
                                         const QString& what) {
    return wait_for(what, kLong, [&]() -> std::optional<qulonglong> {
        for (qulonglong w : desk_.windows_of_process(app_.processId()))
            if (!before.count(w) && desk_.window_geometry(w).width() >= min_width) return w;
        return std::nullopt;
    });
}

QRect Scenario::open_menu(const QString& keys) {
    const std::set<qulonglong> before = program_windows();
    if (keys.isEmpty()) {
        desk_.click_at(QPoint(window_rect_.x() + 25,
                              window_rect_.y() + (client_origin_.y() - window_rect_.y()) / 2));
    } else {
        // Without a window manager keys go to the window last clicked: click on a label.
        desk_.click_at(centre(kLabel1));
        desk_.key(keys);
    }
    return wait_for(QStringLiteral("a menu to open"), kLong, [&]() -> std::optional<QRect> {
        for (qulonglong w : desk_.windows_of_process(app_.processId())) {
            if (before.count(w)) continue;
            const QRect r = desk_.window_geometry(w);
            if (r.height() > 20 && r.top() >= client_origin_.y() - 2) return r;
        }
        return std::nullopt;
    });
}

void Scenario::choose_menu_item(const QString& menu_keys, const QString& item_key,
                                const QString& name, const QString& shot_name) {
    const QRect popup = open_menu(menu_keys);
    save(desk_.grab(), shot_name, QStringLiteral("the menu open to choose %1").arg(name));
    (void)popup;
    // The open menu has the keyboard: the item's access key chooses it.
    desk_.key(item_key);
}

void Scenario::open_clip(const QString& path, const QString& step) {
    const std::set<qulonglong> before = program_windows();
    choose_menu_item({}, QStringLiteral("o"), QStringLiteral("開く(&O)"),
                     step + QStringLiteral("-menu-open"));
    const qulonglong dialog = wait_for_new_window(before, 201, QStringLiteral("the file dialog"));
    const QRect box = desk_.window_geometry(dialog);
    // Without a window manager keys go where the pointer is.
    desk_.move_to(box.center());
    const QImage empty = desk_.grab().copy(box);
    // xdotool types characters missing from the keyboard map by remapping a key for
    // each, and the program may read some of them before the map has changed: a path
    // with such characters is pasted into the dialog instead.
    const bool keyboard_text =
        std::all_of(path.begin(), path.end(), [](QChar c) { return c.unicode() < 0x7f; });
    if (keyboard_text) {
        desk_.type(path);
    } else {
        desk_.set_clipboard_text(path);
        desk_.key(QStringLiteral("ctrl+v"));
    }
    const QImage typed = wait_for(QStringLiteral("the typed path in the file dialog"), kLong,
                                  [&]() -> std::optional<QImage> {
                                      const QImage shot = desk_.grab();
                                      if (differing_pixels(shot.copy(box), empty) > 50) return shot;
                                      return std::nullopt;
                                  });
    save(typed, step + QStringLiteral("-dialog"),
         QStringLiteral("the file dialog with the clip's path typed (or pasted)"));
    desk_.key(QStringLiteral("Return"));
    wait_for(QStringLiteral("the file dialog to close"), kLong, [&]() -> std::optional<bool> {
        for (qulonglong w : desk_.windows_of_process(app_.processId()))
            if (w == dialog) return std::nullopt;
        return true;
    });
}

void Scenario::play_a_little(const QString& clip) {
    desk_.click_at(centre(kCommand1));
    QString last;
    wait_for(
        clip + QStringLiteral(" to play"), kLong,
        [&]() -> std::optional<bool> {
            const int f = readout(desk_.grab());
            last = QString::number(f);
            if (f > 0) return true;
            return std::nullopt;
        },
        &last);
    desk_.click_at(centre(kCommand2));
    wait_until_still(false, clip + QStringLiteral(" to stand"));
}

void Scenario::drag_thumb(const QRect& bar, const QRect& thumb, int grab_x, int release_x) {
    const int y = bar.top() + thumb.center().y();
    desk_.move_to(QPoint(bar.left() + grab_x, y));
    desk_.press();
    for (int x = grab_x + 5; x < release_x; x += 8) desk_.move_to(QPoint(bar.left() + x, y));
    desk_.move_to(QPoint(bar.left() + release_x, y));
    desk_.release();
    desk_.move_to(centre(kLabel1));
}

QImage Scenario::wait_for_text_boxes(const QStringList& texts, const QString& what) {
    QString last;
    return wait_for(
        what, kLong,
        [&]() -> std::optional<QImage> {
            const QImage s = desk_.grab();
            QStringList wrong;
            for (int i = 0; i < 5; ++i)
                if (!text_box_shows(s, i, texts[i]))
                    wrong << QStringLiteral("Text%1 is not \"%2\"").arg(i + 1).arg(texts[i]);
            last = wrong.join(QStringLiteral(", "));
            if (wrong.isEmpty()) return s;
            return std::nullopt;
        },
        &last);
}

QImage Scenario::compose(int cycles, const QString& step, const std::function<void(int)>& during) {
    // Each cycle puts the composite on the clipboard; count the pictures that differ
    // from what it held before and from each other.
    const std::optional<QImage> before = desk_.clipboard_png();
    desk_.click_at(centre(kCmdGosei));
    std::vector<QImage> seen;
    QString last;
    wait_for(
        QStringLiteral("%1 different composites on the clipboard").arg(cycles), kVeryLong,
        [&]() -> std::optional<bool> {
            if (const auto image = desk_.clipboard_png()) {
                const QImage& previous = seen.empty() ? (before ? *before : QImage()) : seen.back();
                if (*image != previous) {
                    seen.push_back(*image);
                    if (during) during(int(seen.size()));
                }
            }
            last = QStringLiteral("%1 so far").arg(seen.size());
            if (int(seen.size()) >= cycles) return true;
            return std::nullopt;
        },
        &last);
    const QImage running = desk_.grab();
    save(running, step + QStringLiteral("-running"),
         QStringLiteral("a composition run in progress (transport buttons disabled)"));
    // 再生 is disabled while the run loops; the stop enables it again.
    const QImage play_disabled = control(running, kCommand1);
    desk_.click_at(centre(kCmdgouseistop));
    wait_for(QStringLiteral("the run to stop (再生 enabled again)"), kVeryLong,
             [&]() -> std::optional<bool> {
                 if (differing_pixels(control(desk_.grab(), kCommand1), play_disabled) > 20)
                     return true;
                 return std::nullopt;
             });
    const std::optional<QImage> after = desk_.clipboard_png();
    if (!after) fail(QStringLiteral("the clipboard holds no image/png after the run"));
    return *after;
}

// ---------------------------------------------------------------------------------------

void Scenario::step1_start() {
    log(QStringLiteral("step 1: start"));
    start_app();
    window_ = wait_for(QStringLiteral("a window titled \"Tambrel \""), kLong,
                       [&]() -> std::optional<qulonglong> {
                           const auto found = desk_.windows_named(QStringLiteral("Tambrel "));
                           if (found.empty()) return std::nullopt;
                           return found.front();
                       });
    window_rect_ = desk_.window_geometry(window_);
    // The client area lies between the menu bar and the status bar.
    const int menu_bar = replicas_.menu_bar_height();
    const int status_bar = window_rect_.height() - 453 - menu_bar;
    if (window_rect_.width() != 964 || menu_bar <= 0 || status_bar <= 0 || status_bar > 60)
        fail(QStringLiteral("window is %1 x %2; expected a 964 x 453 client area between a menu "
                            "bar of %3 and a status bar")
                 .arg(window_rect_.width())
                 .arg(window_rect_.height())
                 .arg(menu_bar));
    client_origin_ = window_rect_.topLeft() + QPoint(0, menu_bar);
    log(QStringLiteral("  window at %1,%2, menu bar %3 px")
            .arg(window_rect_.x())
            .arg(window_rect_.y())
            .arg(menu_bar));
    QString last;
    const QImage shot = wait_for(
        QStringLiteral("the scale on the composite"), kLong,
        [&]() -> std::optional<QImage> {
            const QImage s = desk_.grab();
            const QStringList problems =
                scale_problems(control(s, PictureGeometry::picture3_inner()));
            last = problems.join(QStringLiteral(", "));
            if (problems.isEmpty()) return s;
            return std::nullopt;
        },
        &last);
    // The composite itself is still empty: white inside the frame.
    const QImage p3 = control(shot, PictureGeometry::picture3_inner());
    if (mean_level(p3, QPoint(150, 120), 20) < 250)
        fail(QStringLiteral("the composite is not empty at start"));
    save(shot, QStringLiteral("start"),
         QStringLiteral("the window at start: empty composite with frame, ticks and numbers"));
}

void Scenario::step2_open() {
    log(QStringLiteral("step 2: open the pendulum clip through the menu and the file dialog"));
    open_clip(pendulum_path_, QStringLiteral("open"));
    const QImage shot = wait_for_frame(
        0, true, QStringLiteral("the read-out \"フレーム\" 0 and frame 0 in Picture1"));
    if (differing_pixels(control(shot, kLabel1), replicas_.path_label(pendulum_path_)) > 2)
        fail(QStringLiteral("Label1 does not show the path of the clip"));
    save(shot, QStringLiteral("opened"),
         QStringLiteral("the clip open: frame 0 in Picture1, read-out フレーム 0, path in Label1"));
}

void Scenario::step3_transport() {
    log(QStringLiteral("step 3: play, pause, three frame steps"));
    desk_.click_at(centre(kCommand1));
    QString last;
    const QImage playing = wait_for(
        QStringLiteral("playback to move the picture"), kLong,
        [&]() -> std::optional<QImage> {
            const QImage s = desk_.grab();
            const int f = picture1_frame(s);
            last = QStringLiteral("picture %1").arg(f);
            if (f > 0) return s;
            return std::nullopt;
        },
        &last);
    save(playing, QStringLiteral("playing"), QStringLiteral("playing after 再生"));

    // The thumb held while the clip plays: each read-out tick moves it under the
    // pointer, which is no seek, so playback goes on.
    log(QStringLiteral("step 3a: the scroll bar's thumb held during playback"));
    const int before_press = readout(desk_.grab());
    const QRect thumb = replicas_.scroll_thumb(pendulum_.frames, before_press + 3);
    desk_.move_to(on_screen(kHScroll1).topLeft() + thumb.center());
    desk_.press();
    const int held_from = readout(desk_.grab(), before_press);
    wait_for(
        QStringLiteral("playback to go on under the held thumb (from frame %1)").arg(held_from),
        kLong,
        [&]() -> std::optional<bool> {
            const int f = readout(desk_.grab(), held_from);
            last = QStringLiteral("read-out %1").arg(f);
            if (f >= held_from + 20) return true;
            return std::nullopt;
        },
        &last);
    save(desk_.grab(), QStringLiteral("thumb-held"),
         QStringLiteral("the thumb held during playback: the clip plays on (%1)").arg(last));
    desk_.release();
    log(QStringLiteral("  thumb {%1 px wide} held from frame %2, playing on: %3")
            .arg(thumb.width())
            .arg(held_from)
            .arg(last));
    desk_.click_at(centre(kCommand2));
    const auto [paused, paused_shot] =
        wait_until_still(true, QStringLiteral("the clip to stand after 一時停止"));
    if (paused <= 0)
        fail(QStringLiteral("the read-out did not move during playback (%1)").arg(paused));
    log(QStringLiteral("  paused at frame %1").arg(paused));
    save(paused_shot, QStringLiteral("paused"),
         QStringLiteral("paused after 一時停止 at frame %1").arg(paused));
    for (int k = 1; k <= 3; ++k) {
        desk_.click_at(centre(kCommand3));
        const QImage s = wait_for_frame(
            paused + k, true, QStringLiteral("frame %1 after コマ送り #%2").arg(paused + k).arg(k));
        if (k == 3)
            save(s, QStringLiteral("stepped"),
                 QStringLiteral("three コマ送り later: frame %1").arg(paused + 3));
    }
    seed_frame_ = paused + 3;
}

void Scenario::step3b_seek() {
    log(QStringLiteral(
        "step 3b: seek by dragging the scroll bar's thumb; an arrow click does not seek"));
    const int maximum = pendulum_.frames;
    const int from = seed_frame_;
    const QRect thumb = replicas_.scroll_thumb(maximum, from);
    const QRect bar = on_screen(kHScroll1);
    const int grab_x = thumb.center().x(), release_x = kHScroll1.width() * 2 / 3;
    const int expected = replicas_.scroll_value_after_drag(maximum, from, grab_x, release_x);
    const int accuracy = int(std::ceil(replicas_.values_per_pixel(maximum, from)));
    drag_thumb(bar, thumb, grab_x, release_x);
    const auto [landed, shot] =
        wait_until_still(true, QStringLiteral("the clip to stand after the thumb drag"));
    log(QStringLiteral("  thumb dragged: frame %1, the bar's value there is %2 (±%3)")
            .arg(landed)
            .arg(expected)
            .arg(accuracy));
    if (std::abs(landed - expected) > accuracy)
        fail(QStringLiteral("dragging the thumb to value %1 left the clip at frame %2")
                 .arg(expected)
                 .arg(landed));
    save(shot, QStringLiteral("seek"),
         QStringLiteral("after dragging the scroll bar's thumb: frame %1").arg(landed));

    // An arrow click moves the bar by one without a seek; the step after it goes on
    // from where the clip stands.
    const QRect arrow = replicas_.scroll_right_arrow(maximum, landed);
    desk_.click_at(bar.topLeft() + arrow.center());
    desk_.click_at(centre(kCommand3));
    const auto [stepped, stepped_shot] =
        wait_until_still(true, QStringLiteral("the clip to stand after arrow click and コマ送り"));
    if (stepped != landed + 1)
        fail(QStringLiteral("after an arrow click and one コマ送り from frame %1 the clip is at %2 "
                            "(expected %3)")
                 .arg(landed)
                 .arg(stepped)
                 .arg(landed + 1));
    save(stepped_shot, QStringLiteral("arrow"),
         QStringLiteral("arrow click (no seek) then コマ送り: frame %1").arg(stepped));
    seed_frame_ = stepped;
}

void Scenario::step4_compose() {
    log(QStringLiteral(
        "step 4: 3 frames per step, 合成開始, x軸変更 in the middle of the run, 合成中止"));
    desk_.click_at(centre(kText6));
    desk_.key(QStringLiteral("ctrl+a"));
    desk_.type(QStringLiteral("3"));
    // Seed, then blend cycles, each with its own composite on the clipboard; the x axis
    // is switched once the first merge is on the clipboard, and frames merged after the
    // switch must stay in the composite like those before it.
    final_clipboard_ = compose(5, QStringLiteral("compose"), [&](int seen) {
        if (seen == 3) desk_.click_at(centre(kCmdXchange));
    });
    const auto [end, shot] = wait_until_still(true, QStringLiteral("the read-out after the run"));
    end_frame_ = end;
    composed_shot_ = shot;
    log(QStringLiteral("  run from frame %1 to frame %2").arg(seed_frame_).arg(end_frame_));
    save(shot, QStringLiteral("composed"),
         QStringLiteral("after 合成中止: composite of frames %1, %2, ..., the x numbers of "
                        "both orientations over each other")
             .arg(seed_frame_)
             .arg(seed_frame_ + 3));
    // Back to the first orientation (on the display only) for the read-out of step 6.
    desk_.click_at(centre(kCmdXchange));
}

void Scenario::step5_clipboard() {
    log(QStringLiteral("step 5: the composite on the clipboard"));
    const QImage& clip = final_clipboard_;
    save(clip, QStringLiteral("clipboard"),
         QStringLiteral("the clipboard's image/png after the run (xclip)"));
    const QSize composite = PictureGeometry::picture3_inner().size();
    if (clip.size() != composite)
        fail(QStringLiteral("clipboard picture is %1 x %2, the composite %3 x %4")
                 .arg(clip.width())
                 .arg(clip.height())
                 .arg(composite.width())
                 .arg(composite.height()));
    // Every cycle merges one sampled frame, and the clipboard copy comes before the
    // merge: the screen holds every frame merged, the clipboard all but the last.
    const QImage screen = control(composed_shot_, PictureGeometry::picture3_inner());
    const int merged = last_merged(screen, seed_frame_, end_frame_, 3);
    const int on_screen_now = check_bobs(screen, seed_frame_, merged, end_frame_, 3,
                                         QStringLiteral("the composite on the screen"));
    const int on_clipboard =
        check_bobs(clip, seed_frame_, merged - 3, end_frame_, 3, QStringLiteral("the clipboard"));
    if (on_clipboard < 4)
        fail(QStringLiteral("only %1 sampled frames on the clipboard").arg(on_clipboard));
    log(QStringLiteral("  %1 frames merged, %2 of them on the clipboard")
            .arg(on_screen_now)
            .arg(on_clipboard));
}

QPoint Scenario::bob_in_composite(int frame) const {
    const double sx = (PictureGeometry::kPicture1Width - 4) / double(pendulum_.width);
    const double sy = (PictureGeometry::kPicture1Height - 4) / double(pendulum_.height);
    const QPointF p = clipgen::bob_position(pendulum_, frame);
    return QPoint(int(std::lround((p.x() + 0.5) * sx - 0.5)),
                  int(std::lround((p.y() + 0.5) * sy - 0.5)));
}

double Scenario::bob_radius() const {
    return pendulum_.height / 16.0 * (PictureGeometry::kPicture1Height - 4) /
           double(pendulum_.height);
}

int Scenario::last_merged(const QImage& screen, int seed, int end, int step) {
    // A stop acts within the pace, after the step under way, so the run merged every
    // sampled frame it stepped past. Ended right on a sampled frame, it merged that one
    // only if the stop came after the merge: the screen shows which, where that bob
    // stands apart from the others.
    const int last = seed + (end - seed) / step * step;
    if (last != end || last == seed) return last;
    const QPoint p = bob_in_composite(last);
    for (int f = seed; f < last; f += step) {
        const QPoint q = bob_in_composite(f);
        if (std::hypot(p.x() - q.x(), p.y() - q.y()) <= bob_radius() + 5) return last;
    }
    return mean_level(screen, p) >= 180 ? last : last - step;
}

int Scenario::check_bobs(const QImage& clip, int seed, int last_kept, int end, int step,
                         const QString& what) {
    // Below the frame-number band, inside the merged part of the frame.
    const double sy = (PictureGeometry::kPicture1Height - 4) / double(pendulum_.height);
    const double band_row = std::max(8.0, std::round(pendulum_.height / 20.0));
    const int band_bottom = int(std::ceil(3 * band_row * sy)) + 2;
    QRect region = PictureGeometry::merged_region();
    region.setTop(band_bottom);
    region.adjust(2, 0, -1, -1);
    const auto blobs = bright_blobs(clip, region, 180, 60);
    log(QStringLiteral("  %1 bright blobs in %2").arg(blobs.size()).arg(what));
    if (blobs.size() < 3)
        fail(QStringLiteral("the bob appears %1 times in %2; expected several")
                 .arg(blobs.size())
                 .arg(what));

    std::vector<QPoint> sampled;
    for (int f = seed; f <= last_kept; f += step) {
        sampled.push_back(bob_in_composite(f));
        if (mean_level(clip, sampled.back()) < 180)
            fail(QStringLiteral("frame %1's bob is missing from %2 at %3,%4")
                     .arg(f)
                     .arg(what)
                     .arg(sampled.back().x())
                     .arg(sampled.back().y()));
    }
    int absent_checked = 0;
    for (int f = seed + 1; f <= end; ++f) {
        if ((f - seed) % step == 0 && f <= last_kept) continue;
        const QPoint p = bob_in_composite(f);
        bool apart = true;
        for (QPoint s : sampled)
            apart = apart && std::hypot(p.x() - s.x(), p.y() - s.y()) > bob_radius() + 5;
        if (!apart) continue;
        ++absent_checked;
        if (mean_level(clip, p) > 120)
            fail(QStringLiteral("frame %1's bob is in %2 at %3,%4 but that frame was not merged "
                                "before it was taken")
                     .arg(f)
                     .arg(what)
                     .arg(p.x())
                     .arg(p.y()));
    }
    log(QStringLiteral("  %1: bobs of %2 sampled frames present, %3 other places dark")
            .arg(what)
            .arg(sampled.size())
            .arg(absent_checked));
    return int(sampled.size());
}

void Scenario::step5b_long_pace() {
    log(QStringLiteral("step 5b: 1000 frames per step, stopped in the middle of the pace"));
    desk_.click_at(centre(kCommand6));
    desk_.click_at(centre(kText6));
    desk_.key(QStringLiteral("ctrl+a"));
    desk_.type(QStringLiteral("1000"));
    const int from = wait_until_still(true, QStringLiteral("the clip before the run")).first;
    const std::optional<QImage> before = desk_.clipboard_png();
    desk_.click_at(centre(kCmdGosei));
    const QImage seed = wait_for(QStringLiteral("the seed on the clipboard"), kLong,
                                 [&]() -> std::optional<QImage> {
                                     const auto image = desk_.clipboard_png();
                                     if (image && (!before || *image != *before)) return image;
                                     return std::nullopt;
                                 });
    // One frame per 300 ms: the read-out follows the steps, so the window paints while
    // the run paces (a pace that spun would show nothing for five minutes).
    QString last;
    const QImage running = wait_for(
        QStringLiteral("the read-out to follow the paced steps"), kLong,
        [&]() -> std::optional<QImage> {
            const QImage shot = desk_.grab();
            const int f = readout(shot, from + 3);
            last = QStringLiteral("read-out %1").arg(f);
            if (f >= from + 3) return shot;
            return std::nullopt;
        },
        &last);
    save(running, QStringLiteral("long-pace"),
         QStringLiteral("1000 frames per step: the window paints while the run paces (%1)")
             .arg(last));
    // Reported, not asserted: the processor time the window takes while it paces.
    const qint64 pid = app_.processId();
    const double cpu0 = cpu_seconds(pid);
    QElapsedTimer span;
    span.start();
    QThread::msleep(1500);
    const double cpu1 = cpu_seconds(pid);
    log(QStringLiteral("  processor time while pacing: %1 % of one core over %2 ms")
            .arg(100.0 * (cpu1 - cpu0) / (span.elapsed() / 1000.0), 0, 'f', 1)
            .arg(span.elapsed()));

    const QImage play_disabled = control(running, kCommand1);
    QElapsedTimer stop_clock;
    stop_clock.start();
    desk_.click_at(centre(kCmdgouseistop));
    wait_for(QStringLiteral("合成中止 to end the run within the pace (再生 enabled again)"), kLong,
             [&]() -> std::optional<bool> {
                 if (differing_pixels(control(desk_.grab(), kCommand1), play_disabled) > 20)
                     return true;
                 return std::nullopt;
             });
    log(QStringLiteral("  the run ended %1 ms after the click on 合成中止")
            .arg(stop_clock.elapsed()));
    const auto [stopped, shot] =
        wait_until_still(true, QStringLiteral("the clip to stand after the stop"));
    if (stopped <= from || stopped >= from + 1000)
        fail(QStringLiteral("the run stepped from frame %1 to %2").arg(from).arg(stopped));
    // Nothing of the interrupted cycle was merged or copied: the seed alone.
    const std::optional<QImage> after = desk_.clipboard_png();
    if (!after || *after != seed)
        fail(QStringLiteral("the clipboard changed after the seed of a run stopped in its pace"));
    // Inside the scale's frame, the composite on the screen is the seed as it was copied.
    const QRect inside = PictureGeometry::merged_region().adjusted(3, 3, -1, -1);
    if (differing_pixels(control(shot, PictureGeometry::picture3_inner()).copy(inside),
                         seed.copy(inside)) > 0)
        fail(QStringLiteral("the composite is no longer the seed after a run stopped in its pace"));
    save(shot, QStringLiteral("long-pace-stopped"),
         QStringLiteral("合成中止 during the pace: stepped from frame %1 to %2, composite the seed")
             .arg(from)
             .arg(stopped));
    desk_.click_at(centre(kText6));
    desk_.key(QStringLiteral("ctrl+a"));
    desk_.type(QStringLiteral("3"));
}

void Scenario::step6_readout() {
    log(QStringLiteral("step 6: pointer read-out and drag over the composite"));
    const QRect p3 = on_screen(PictureGeometry::picture3_inner());
    desk_.move_to(p3.topLeft() + QPoint(116, 76));
    const QImage pointer =
        wait_for_text_boxes({QStringLiteral("3"), QStringLiteral("2"), QStringLiteral("0"),
                             QStringLiteral("0"), QStringLiteral("0")},
                            QStringLiteral("the read-out of the point (116, 76)"));
    save(pointer, QStringLiteral("pointer"),
         QStringLiteral("pointer at (116, 76) of the composite: x 3, y 2, no drag"));
    desk_.press();
    for (int k = 1; k <= 3; ++k)
        desk_.move_to(p3.topLeft() + QPoint(116 + 10 * k, 76 + 40 * k / 3));
    const QImage drag =
        wait_for_text_boxes({QStringLiteral("3.75"), QStringLiteral("3"), QStringLiteral("0.75"),
                             QStringLiteral("1"), QStringLiteral("1.25")},
                            QStringLiteral("the read-out of a drag by (30, 40)"));
    save(drag, QStringLiteral("drag"),
         QStringLiteral("dragging from (116, 76) to (146, 116): Δx 0.75, Δy 1, Δs 1.25"));
    desk_.release();
    desk_.move_to(p3.topLeft() + QPoint(156, 116));
    const QImage released =
        wait_for_text_boxes({QStringLiteral("4"), QStringLiteral("3"), QStringLiteral("0"),
                             QStringLiteral("0"), QStringLiteral("0")},
                            QStringLiteral("the read-out after the release"));
    save(released, QStringLiteral("released"),
         QStringLiteral("after the release, pointer at (156, 116): x 4, y 3, drag read-outs 0"));
}

void Scenario::step6b_priority() {
    log(QStringLiteral("step 6b: whole-pixel priority on a clip of two alternating colours"));
    open_clip(colours_path_, QStringLiteral("colours"));
    wait_for_frame(0, false, QStringLiteral("the read-out 0 for the two-colour clip"));
    play_a_little(QStringLiteral("the two-colour clip"));
    // The seed must be the colour the rule does not keep, or the merge changes nothing
    // and the clipboard never shows a third picture: a dim (even) frame for white
    // priority, a bright (odd) one for black priority.
    const auto stand_on = [&](int parity) {
        const int at =
            wait_until_still(false, QStringLiteral("the two-colour clip to stand")).first;
        if (at % 2 == parity) return;
        desk_.click_at(centre(kCommand3));
        wait_for_frame(at + 1, false, QStringLiteral("one コマ送り to frame %1").arg(at + 1));
    };
    stand_on(0);

    // The seed and at least one merged frame (3 apart: the other colour).
    const QImage white = compose(3, QStringLiteral("colours-white"));
    save(white, QStringLiteral("colours-white-clipboard"),
         QStringLiteral("two-colour composite, white priority: the brighter colour everywhere"));
    const QRect inside = PictureGeometry::merged_region().adjusted(4, 4, -4, -4);
    const auto uniform = [&](const QImage& image, QRgb want, const QString& rule) {
        for (int y = inside.top(); y <= inside.bottom(); y += 7)
            for (int x = inside.left(); x <= inside.right(); x += 7) {
                const QRgb c = image.pixel(x, y);
                if (std::abs(qRed(c) - qRed(want)) > 12 ||
                    std::abs(qGreen(c) - qGreen(want)) > 12 ||
                    std::abs(qBlue(c) - qBlue(want)) > 12)
                    fail(QStringLiteral(
                             "%1: composite pixel %2,%3 is (%4, %5, %6), expected (%7, %8, %9)")
                             .arg(rule)
                             .arg(x)
                             .arg(y)
                             .arg(qRed(c))
                             .arg(qGreen(c))
                             .arg(qBlue(c))
                             .arg(qRed(want))
                             .arg(qGreen(want))
                             .arg(qBlue(want)));
            }
    };
    uniform(white, kBrightColour, QStringLiteral("white priority"));

    // Black priority from a fresh composite: the darker colour everywhere.
    desk_.click_at(centre(kOption2));
    desk_.click_at(centre(kCommand6));
    stand_on(1);
    const QImage black = compose(3, QStringLiteral("colours-black"));
    save(black, QStringLiteral("colours-black-clipboard"),
         QStringLiteral("two-colour composite, black priority: the darker colour everywhere"));
    uniform(black, kDimColour, QStringLiteral("black priority"));
}

void Scenario::step6c_long_clip() {
    log(QStringLiteral("step 6c: a 16:9 clip of %1 frames: fitted with its proportions, the "
                       "bar over the whole clip, the exact frame in the read-out, a run there")
            .arg(kLongFrames));
    // 320 x 180 is wider than the frame area's 316 x 236: the width fills it and the
    // height is 316 · 180 / 320 = 177.75, drawn 178 rows high at the top.
    const QRect inner = PictureGeometry::picture1_inner();
    shown_picture_ = QRect(inner.topLeft(), QSize(316, 178));
    open_clip(long_path_, QStringLiteral("long"));
    const QImage opened = wait_for_frame(0, true, QStringLiteral("frame 0 of the long clip"));
    const QImage below = control(opened, QRect(inner.left(), inner.top() + 180, 316, 56));
    for (int y = 0; y < below.height(); y += 3)
        for (int x = 0; x < below.width(); x += 3)
            if (mean_level(below, QPoint(x, y), 0) < 250)
                fail(QStringLiteral("Picture1 is not its white background below the 16:9 "
                                    "picture at row %1")
                         .arg(180 + y));
    save(opened, QStringLiteral("long-opened"),
         QStringLiteral("the 16:9 clip of %1 frames open: 316 x 178 at the top of Picture1, "
                        "white below")
             .arg(kLongFrames));

    desk_.click_at(centre(kCommand1));
    wait_for(QStringLiteral("the long clip to play"), kLong, [&]() -> std::optional<bool> {
        if (picture1_frame(desk_.grab()) > 0) return true;
        return std::nullopt;
    });
    desk_.click_at(centre(kCommand2));
    const auto [paused, paused_shot] =
        wait_until_still(true, QStringLiteral("the long clip to stand after 一時停止"));

    // The thumb dragged to where the bar's value is about nine tenths of its range lands
    // past frame 32 767.
    const int from = bar_of_frame(paused, kLongFrames);
    const QRect thumb = replicas_.scroll_thumb(kBarLimit, from);
    const QRect bar = on_screen(kHScroll1);
    const int grab_x = thumb.center().x();
    int release_x = grab_x;
    while (release_x < kHScroll1.width() &&
           replicas_.scroll_value_after_drag(kBarLimit, from, grab_x, release_x) <
               kBarLimit * 9 / 10)
        ++release_x;
    const int value = replicas_.scroll_value_after_drag(kBarLimit, from, grab_x, release_x);
    const int expected = frame_of_bar(value, kLongFrames);
    const int accuracy =
        int(std::ceil(replicas_.values_per_pixel(kBarLimit, from) * kLongFrames / kBarLimit)) + 1;
    drag_thumb(bar, thumb, grab_x, release_x);
    const auto [landed, landed_shot] =
        wait_until_still(true, QStringLiteral("the long clip to stand after the thumb drag"));
    log(QStringLiteral("  paused at frame %1; thumb dragged to value %2: frame %3 (expected %4 "
                       "± %5)")
            .arg(paused)
            .arg(value)
            .arg(landed)
            .arg(expected)
            .arg(accuracy));
    if (landed <= 32767 || std::abs(landed - expected) > accuracy)
        fail(QStringLiteral("dragging the thumb to value %1 of 32767 left the clip at frame %2, "
                            "expected %3")
                 .arg(value)
                 .arg(landed)
                 .arg(expected));
    save(landed_shot, QStringLiteral("long-seek"),
         QStringLiteral("thumb dragged to nine tenths of the bar: frame %1, read-out and picture "
                        "agree")
             .arg(landed));
    desk_.click_at(centre(kCommand3));
    wait_for_frame(landed + 1, true, QStringLiteral("frame %1 after コマ送り").arg(landed + 1));

    // A run there: white priority, 12 frames per step, so that the slow-motion bob has
    // moved clear of itself between merges.
    desk_.click_at(centre(kOption1));
    desk_.click_at(centre(kText6));
    desk_.key(QStringLiteral("ctrl+a"));
    desk_.type(QStringLiteral("12"));
    const int seed = landed + 1;
    const QImage composite = compose(4, QStringLiteral("long"));
    const auto [end, end_shot] = wait_until_still(true, QStringLiteral("the long run to end"));
    log(QStringLiteral("  run from frame %1 to frame %2").arg(seed).arg(end));
    // A stop acts within the pace, so the last cycle may have stepped only part way.
    if (end <= seed)
        fail(QStringLiteral("the run went from frame %1 to %2: no step was taken")
                 .arg(seed)
                 .arg(end));
    save(end_shot, QStringLiteral("long-composed"),
         QStringLiteral("after the run on the long clip: composite of frames %1, %2, ...")
             .arg(seed)
             .arg(seed + 12));
    save(composite, QStringLiteral("long-clipboard"),
         QStringLiteral("the clipboard after the run on the 16:9 clip: round bobs, white below"));

    // The composite keeps the clip's proportions: every bob is as wide as it is high
    // (stretched to the whole area they would be a third higher than wide), and below
    // the picture the composite is its white background.
    const double s = 316.0 / long_.width;
    const double band_row = std::max(8.0, std::round(long_.height / 20.0));
    const QRect picture(0, int(std::ceil(2 * band_row * s)) + 3, 313, 178);
    const auto blobs = bright_blobs(composite, picture.intersected(QRect(0, 0, 313, 178)), 180, 60);
    if (blobs.size() < 2)
        fail(QStringLiteral("the bob appears %1 times in the long clip's composite")
                 .arg(blobs.size()));
    // Samples near the sweep's turn may overlap; every bob that stands alone is measured.
    const double diameter = 2 * std::max(3.0, long_.height / 16.0) * s;
    int alone = 0;
    for (const Blob& b : blobs) {
        log(QStringLiteral("  bob at %1,%2: %3 x %4, %5 pixels")
                .arg(b.bounds.x())
                .arg(b.bounds.y())
                .arg(b.bounds.width())
                .arg(b.bounds.height())
                .arg(b.area));
        if (b.area > 1.3 * M_PI * diameter * diameter / 4) continue;
        ++alone;
        if (std::abs(b.bounds.width() - b.bounds.height()) > 2 ||
            std::abs(b.bounds.height() - diameter) > 3)
            fail(QStringLiteral("a bob of the 16:9 composite is %1 x %2 pixels, not a circle "
                                "%3 pixels across")
                     .arg(b.bounds.width())
                     .arg(b.bounds.height())
                     .arg(diameter, 0, 'f', 1));
    }
    if (alone == 0) fail(QStringLiteral("no bob of the long clip's composite stands alone"));
    const QPointF bob = clipgen::bob_position(long_, seed);
    if (mean_level(composite, QPoint(int(bob.x() * s), int(bob.y() * s))) < 180)
        fail(QStringLiteral("the seed frame %1's bob is missing from the composite").arg(seed));
    for (int y = 182; y < 232; y += 4)
        for (int x = 4; x < 310; x += 6)
            if (mean_level(composite, QPoint(x, y), 0) < 250)
                fail(QStringLiteral("the composite is not white below the 16:9 picture at %1,%2")
                         .arg(x)
                         .arg(y));
    shown_picture_ = inner;
}

void Scenario::step6d_portrait() {
    log(QStringLiteral("step 6d: a portrait phone clip (MP4, stored landscape, rotated -90°)"));
    std::set<qulonglong> before;
    for (qulonglong w : desk_.windows_of_process(app_.processId())) before.insert(w);
    open_clip(portrait_path_, QStringLiteral("portrait"));
    // Either the window shows the clip, or the media service refuses MP4 with a message.
    using Outcome = std::variant<QImage, qulonglong>;
    const Outcome outcome = wait_for(
        QStringLiteral("the portrait clip to open or be refused"), kLong,
        [&]() -> std::optional<Outcome> {
            for (qulonglong w : desk_.windows_of_process(app_.processId()))
                if (!before.count(w) && desk_.window_geometry(w).width() > 100) return Outcome(w);
            const QImage shot = desk_.grab();
            if (differing_pixels(control(shot, kLabel1), replicas_.path_label(portrait_path_)) <= 2)
                return Outcome(shot);
            return std::nullopt;
        });
    if (const auto* box = std::get_if<qulonglong>(&outcome)) {
        save(desk_.grab(), QStringLiteral("portrait-refused"),
             QStringLiteral("the media service refuses the portrait MP4: its message"));
        log(
            QStringLiteral("  SKIPPED: the media service does not open MP4 yet; the portrait "
                           "clip's checks wait for it"));
        desk_.move_to(desk_.window_geometry(*box).center());
        desk_.key(QStringLiteral("Return"));
        wait_for(QStringLiteral("the message box to close"), kLong, [&]() -> std::optional<bool> {
            for (qulonglong w : desk_.windows_of_process(app_.processId()))
                if (w == *box) return std::nullopt;
            return true;
        });
        return;
    }
    // Upright 180 x 320 is higher than the frame area: the height fills it, the width is
    // 236 · 180 / 320 = 132.75, drawn 133 columns wide at the left.
    const QImage shot =
        wait_for_frame(0, false, QStringLiteral("the read-out 0 for the portrait clip"));
    const QImage picture1 = control(shot, PictureGeometry::picture1_inner());
    const QImage expected =
        portrait_upright_.scaled(133, 236, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const int wrong = differing_pixels(picture1.copy(0, 0, 133, 236), expected);
    log(QStringLiteral("  %1 of %2 pixels differ from ffmpeg's upright frame")
            .arg(wrong)
            .arg(133 * 236));
    if (wrong > 133 * 236 / 50)
        fail(QStringLiteral("Picture1 does not show the portrait clip upright at 133 x 236 "
                            "(%1 pixels differ)")
                 .arg(wrong));
    for (int y = 0; y < 236; y += 3)
        for (int x = 136; x < 316; x += 3)
            if (mean_level(picture1, QPoint(x, y), 0) < 250)
                fail(QStringLiteral("Picture1 is not its white background beside the portrait "
                                    "picture at %1,%2")
                         .arg(x)
                         .arg(y));
    const auto discs = bright_blobs(picture1, QRect(0, 0, 133, 236), 180, 60);
    if (discs.size() != 1 || std::abs(discs[0].bounds.width() - discs[0].bounds.height()) > 2)
        fail(QStringLiteral("the portrait clip's disc is not one round blob"));
    save(shot, QStringLiteral("portrait"),
         QStringLiteral("the portrait MP4 upright at the left of Picture1, white beside it"));
}

void Scenario::step6e_worksheet() {
    log(
        QStringLiteral("step 6e: the sample calibrated at its 600 px/m, five positions recorded, "
                       "the table through the clipboard, the composite saved as shown and at "
                       "the clip's own size"));
    open_clip(sample_path_, QStringLiteral("sample"));
    wait_for_frame(0, false, QStringLiteral("the sample at frame 0"));
    play_a_little(QStringLiteral("the sample"));
    desk_.click_at(centre(kCmdReserve));
    wait_for_frame(0, false, QStringLiteral("the sample rewound to frame 0"));
    desk_.click_at(centre(kOption1));  // a bright bob on a dark field
    desk_.click_at(centre(kText6));
    desk_.key(QStringLiteral("ctrl+a"));
    desk_.type(QStringLiteral("3"));
    compose(5, QStringLiteral("sample"));  // frames 0, 3, 6, 9, 12 at least

    // Shown pixels of the composite: the clip is stretched into 316 x 236.
    const double sx = 316.0 / sample_.width, sy = 236.0 / sample_.height;
    const QRect p3 = on_screen(PictureGeometry::picture3_inner());

    // 237 shown pixels across are 480 clip pixels: 0.8 m at 600 px/m.
    std::set<qulonglong> before = program_windows();
    choose_menu_item(QStringLiteral("alt+m"), QStringLiteral("l"),
                     QStringLiteral("長さの基準(&L)…"), QStringLiteral("calibrate-menu"));
    desk_.move_to(p3.topLeft() + QPoint(20, 200));
    desk_.press();
    for (int x = 40; x < 257; x += 30) desk_.move_to(p3.topLeft() + QPoint(x, 200));
    desk_.move_to(p3.topLeft() + QPoint(257, 200));
    desk_.release();
    const qulonglong dialog =
        wait_for_new_window(before, 150, QStringLiteral("the calibration dialog"));
    desk_.move_to(desk_.window_geometry(dialog).center());
    desk_.key(QStringLiteral("ctrl+a"));
    desk_.type(QStringLiteral("0.8"));
    save(desk_.grab(), QStringLiteral("calibration-dialog"),
         QStringLiteral("the calibration dialog: 237 pixels dragged, 0.8 m typed"));
    desk_.key(QStringLiteral("Return"));
    wait_for(QStringLiteral("the calibration dialog to close"), kLong,
             [&]() -> std::optional<bool> {
                 if (program_windows().count(dialog)) return std::nullopt;
                 return true;
             });

    // The read-out in metres: the scale's origin, each axis with its own stretch.
    const double per_x = 0.8 / 237, per_y = 0.8 / 480 * (sample_.height / 236.0);
    const auto metres = [](double v) {
        return QString::fromStdString(format_single(float(std::round(v * 1e4) / 1e4)));
    };
    desk_.move_to(p3.topLeft() + QPoint(116, 76));
    const QImage calibrated =
        wait_for_text_boxes({metres(120 * per_x), metres(80 * per_y), QStringLiteral("0"),
                             QStringLiteral("0"), QStringLiteral("0")},
                            QStringLiteral("the read-out in metres at (116, 76)"));
    save(calibrated, QStringLiteral("calibrated"),
         QStringLiteral("calibrated: the pointer at (116, 76) reads %1 m, %2 m")
             .arg(metres(120 * per_x), metres(80 * per_y)));

    // Recording: the table opens in a window of its own, moved off the composite.
    before = program_windows();
    choose_menu_item(QStringLiteral("alt+m"), QStringLiteral("p"), QStringLiteral("位置を記録(&P)"),
                     QStringLiteral("record-menu"));
    const qulonglong table = wait_for_new_window(before, 300, QStringLiteral("the table window"));
    desk_.move_window(table, QPoint(0, window_rect_.bottom() + 4));
    const int frames[5] = {0, 3, 6, 9, 12};
    QPoint clicked[5];
    for (int k = 0; k < 5; ++k) {
        const QPointF bob = clipgen::bob_position(sample_, frames[k]);
        clicked[k] = QPoint(int(std::lround((bob.x() + 0.5) * sx - 0.5)),
                            int(std::lround((bob.y() + 0.5) * sy - 0.5)));
        desk_.click_at(p3.topLeft() + clicked[k]);
    }
    desk_.move_to(p3.topLeft() + QPoint(300, 30));
    QThread::msleep(300);
    save(desk_.grab(), QStringLiteral("recorded"),
         QStringLiteral("five positions recorded on the composite (marks on screen only) and the "
                        "table window below"));

    // The table, copied in its window, pasted with xclip.
    const QRect table_rect = desk_.window_geometry(table);
    desk_.click_at(table_rect.topLeft() + QPoint(40, 30));
    desk_.key(QStringLiteral("ctrl+c"));
    const QString text = wait_for(QStringLiteral("the table as text on the clipboard"), kLong,
                                  [&]() -> std::optional<QString> {
                                      const auto t = desk_.clipboard_text();
                                      if (t && t->startsWith(QStringLiteral("k\t"))) return t;
                                      return std::nullopt;
                                  });
    log(QStringLiteral("  the table pasted:\n%1").arg(text.trimmed()));
    QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (lines.value(0) !=
        QStringLiteral("k\t時刻 t [s]\t位置 x [m]\t位置 y [m]\t速度 vx [m/s]\t速度 vy [m/s]"))
        fail(QStringLiteral("the table's header row is \"%1\"").arg(lines.value(0)));
    if (lines.size() != 6)
        fail(QStringLiteral("the table has %1 rows, not 5").arg(lines.size() - 1));
    double x[5], y[5];
    for (int k = 0; k < 5; ++k) {
        const QStringList cells = lines[k + 1].split(QLatin1Char('\t'));
        bool ok_t = false, ok_x = false, ok_y = false;
        const double t = cells.value(1).toDouble(&ok_t);
        x[k] = cells.value(2).toDouble(&ok_x);
        y[k] = cells.value(3).toDouble(&ok_y);
        if (cells.size() != 6 || cells[0] != QString::number(k) || !ok_t || !ok_x || !ok_y)
            fail(QStringLiteral("table row %1 reads \"%2\"").arg(k).arg(lines[k + 1]));
        // Every third frame at 30 fps.
        if (std::abs(t - 0.1 * k) > 0.00006)
            fail(QStringLiteral("k = %1 is at t = %2 s, not %3 s").arg(k).arg(t).arg(0.1 * k));
        // Where it was clicked, in metres from the scale's origin 4 pixels outside.
        if (std::abs(x[k] - (clicked[k].x() + 4) * per_x) > 0.00006 ||
            std::abs(y[k] - (clicked[k].y() + 4) * per_y) > 0.00006)
            fail(QStringLiteral("k = %1 reads (%2, %3) m, clicked at (%4, %5)")
                     .arg(k)
                     .arg(x[k])
                     .arg(y[k])
                     .arg(clicked[k].x())
                     .arg(clicked[k].y()));
        // And where the bob is, to a shown pixel.
        const QPointF bob = clipgen::bob_position(sample_, frames[k]);
        if (std::abs(x[k] - 4 * per_x - bob.x() / 600) > 0.0035 ||
            std::abs(y[k] - 4 * per_y - bob.y() / 600) > 0.0035)
            fail(QStringLiteral("k = %1 reads (%2, %3) m; the bob is at (%4, %5) m in the clip")
                     .arg(k)
                     .arg(x[k])
                     .arg(y[k])
                     .arg(bob.x() / 600)
                     .arg(bob.y() / 600));
    }
    // Velocities from the neighbours, against the bob's own motion over the same 0.2 s.
    for (int k = 1; k < 4; ++k) {
        const double vx = lines[k + 1].split(QLatin1Char('\t')).value(4).toDouble();
        const double truth = (clipgen::bob_position(sample_, frames[k + 1]).x() -
                              clipgen::bob_position(sample_, frames[k - 1]).x()) /
                             600 / 0.2;
        if (std::abs(vx - truth) > 0.035)
            fail(QStringLiteral("k = %1: vx %2 m/s, the bob moves at %3 m/s")
                     .arg(k)
                     .arg(vx)
                     .arg(truth));
    }

    // The composite saved as shown: the file has the scale and the bobs, not the marks.
    const QString saved = dir_.filePath(QStringLiteral("saved-composite.png"));
    QFile::remove(saved);
    const QImage screen = desk_.grab();
    before = program_windows();
    desk_.click_at(centre(kLabel1));
    desk_.key(QStringLiteral("ctrl+s"));
    const qulonglong save_dialog =
        wait_for_new_window(before, 201, QStringLiteral("the save dialog after Ctrl+S"));
    desk_.move_to(desk_.window_geometry(save_dialog).center());
    desk_.key(QStringLiteral("ctrl+a"));
    desk_.type(saved);
    save(desk_.grab(), QStringLiteral("save-dialog"),
         QStringLiteral("ﾌｧｲﾙ › 合成画像を保存 (Ctrl+S): the save dialog with the name typed"));
    desk_.key(QStringLiteral("Return"));
    const QImage file =
        wait_for(QStringLiteral("the saved composite"), kLong, [&]() -> std::optional<QImage> {
            QImage image;
            if (!image.load(saved)) return std::nullopt;
            return image.convertToFormat(QImage::Format_RGB32);
        });
    save(file, QStringLiteral("saved-composite"), QStringLiteral("the saved composite, opened"));
    if (file.size() != PictureGeometry::picture3_inner().size())
        fail(QStringLiteral("the saved composite is %1 x %2").arg(file.width()).arg(file.height()));
    const QStringList problems = scale_problems(file);
    if (!problems.isEmpty())
        fail(QStringLiteral("the saved composite's scale: %1").arg(problems.join(", ")));
    const QImage shown = control(screen, PictureGeometry::picture3_inner());
    for (int k = 0; k < 5; ++k) {
        const QRgb mark = shown.pixel(clicked[k]);
        const QRgb plain = file.pixel(clicked[k]);
        // On screen a red cross; in the file the bob's pale yellow.
        if (!(qRed(mark) > qGreen(mark) + 80) || mean_level(file, clicked[k]) < 180 ||
            std::abs(qRed(plain) - qGreen(plain)) > 40)
            fail(QStringLiteral("k = %1: the mark is not on screen only").arg(k));
    }

    // The same run at the clip's own size: ﾌｧｲﾙ › 元の解像度で保存… (Ctrl+Shift+S).
    open_menu();
    save(
        desk_.grab(), QStringLiteral("file-menu"),
        QStringLiteral("ﾌｧｲﾙ open: 合成画像を保存, 元の解像度で保存, 元の解像度で保存（目盛付き）, "
                       "合成画像をコピー"));
    desk_.key(QStringLiteral("Escape"));
    const QString full = dir_.filePath(QStringLiteral("saved-full-resolution.png"));
    QFile::remove(full);
    before = program_windows();
    desk_.click_at(centre(kLabel1));
    desk_.key(QStringLiteral("ctrl+shift+s"));
    const qulonglong full_dialog =
        wait_for_new_window(before, 201, QStringLiteral("the save dialog after Ctrl+Shift+S"));
    desk_.move_to(desk_.window_geometry(full_dialog).center());
    desk_.key(QStringLiteral("ctrl+a"));
    desk_.type(full);
    desk_.key(QStringLiteral("Return"));
    // The file appears whole (written aside and renamed into place).
    const QImage big = wait_for(QStringLiteral("the full-resolution composite"), kLong,
                                [&]() -> std::optional<QImage> {
                                    QImage image;
                                    if (!image.load(full)) return std::nullopt;
                                    return image.convertToFormat(QImage::Format_RGB32);
                                });
    save(big, QStringLiteral("saved-full-resolution"),
         QStringLiteral("the composite saved at the clip's own size, opened"));
    if (big.size() != QSize(sample_.width, sample_.height))
        fail(QStringLiteral("the full-resolution composite is %1 x %2, the clip %3 x %4")
                 .arg(big.width())
                 .arg(big.height())
                 .arg(sample_.width)
                 .arg(sample_.height));
    // Every recorded bob where the clip has it, in clip pixels, without scale or marks.
    for (const int frame : frames) {
        const QPointF bob = clipgen::bob_position(sample_, frame);
        if (mean_level(big, bob.toPoint()) < 180)
            fail(QStringLiteral("the full-resolution composite has no bob of frame %1 at (%2, %3)")
                     .arg(frame)
                     .arg(bob.x())
                     .arg(bob.y()));
    }
}

void Scenario::step6f_auto_record() {
    log(
        QStringLiteral("step 6f: the sample composed over a full swing, its positions recorded "
                       "by themselves, the sine fit's period from the copied table"));
    // A fresh composite from frame 0, every third frame (送りコマ数 is still 3), until
    // the clipboard has held 16 composites: frames 0 to 45 at least, more than one
    // period of 42.9 frames.
    desk_.click_at(centre(kCommand6));
    desk_.click_at(centre(kCmdReserve));
    wait_for_frame(0, false, QStringLiteral("the sample rewound to frame 0"));
    compose(16, QStringLiteral("auto"));

    choose_menu_item(QStringLiteral("alt+m"), QStringLiteral("a"),
                     QStringLiteral("自動で位置を記録(&A)"), QStringLiteral("auto-record-menu"));
    // The table window stays where step 6e moved it; the positions fill it once the
    // bob has been looked for in every frame of the run. Its Ctrl+C copies the table.
    const std::vector<qulonglong> tables = desk_.windows_named(QStringLiteral("位置の記録"));
    if (tables.empty()) fail(QStringLiteral("the table window is not shown"));
    const QRect table_rect = desk_.window_geometry(tables.front());
    const auto copied = [&]() -> std::optional<QStringList> {
        desk_.click_at(table_rect.topLeft() + QPoint(40, 30));
        desk_.key(QStringLiteral("ctrl+c"));
        QThread::msleep(200);
        const auto t = desk_.clipboard_text();
        if (!t) return std::nullopt;
        return t->split(QLatin1Char('\n'));
    };
    QString last;
    const QStringList rows = wait_for(
        QStringLiteral("the table filled by 自動で位置を記録"), kVeryLong,
        [&]() -> std::optional<QStringList> {
            const auto lines = copied();
            if (!lines) return std::nullopt;
            // Each row: k, t, x, y; a place found for most of them.
            int found = 0;
            for (int i = 1; i < lines->size(); ++i) {
                const QStringList cells = (*lines)[i].split(QLatin1Char('\t'));
                bool ok = false;
                cells.value(2).toDouble(&ok);
                found += ok && cells.value(0) == QString::number(i - 1);
            }
            last = QStringLiteral("%1 rows with a place").arg(found);
            if (found >= 16) return *lines;
            return std::nullopt;
        },
        &last);
    log(QStringLiteral("  the positions found:\n%1").arg(rows.join(QLatin1Char('\n')).trimmed()));

    // The sine fit, chosen in the table window by its access key: 当てはめ(&F), End.
    desk_.click_at(table_rect.topLeft() + QPoint(40, 30));
    desk_.key(QStringLiteral("alt+f"));
    desk_.key(QStringLiteral("End"));
    const double period = 4 * std::sqrt(sample_.pendulum_length_m / clipgen::gravity) *
                          std::comp_ellint_1(std::sin(sample_.amplitude_deg / 2 * M_PI / 180));
    const QStringList fitted = wait_for(
        QStringLiteral("the sine fit's rows under the table"), kLong,
        [&]() -> std::optional<QStringList> {
            const auto lines = copied();
            if (!lines) return std::nullopt;
            for (const QString& line : *lines)
                if (line.startsWith(QStringLiteral("周期 T [s]\t"))) return *lines;
            last = lines->value(lines->size() - 2);
            return std::nullopt;
        },
        &last);
    save(desk_.grab(), QStringLiteral("auto-recorded"),
         QStringLiteral("自動で位置を記録: a marker on every bob found, and the table window with "
                        "the sine fit (period and amplitude with their standard errors)"));
    QString period_line;
    for (const QString& line : fitted)
        if (line.startsWith(QStringLiteral("周期 T [s]\t"))) period_line = line;
    log(QStringLiteral("  the fit: %1").arg(period_line));
    bool ok = false;
    const double read = period_line.split(QLatin1Char('\t')).value(1).toDouble(&ok);
    if (!ok || std::abs(read - period) > 0.01 * period)
        fail(QStringLiteral("the sine fit's period is \"%1\"; the sample swings with %2 s")
                 .arg(period_line)
                 .arg(period, 0, 'f', 4));
    log(QStringLiteral("  the sine fit's period %1 s against the sample's %2 s (%3 %)")
            .arg(read, 0, 'f', 4)
            .arg(period, 0, 'f', 4)
            .arg(100 * (read - period) / period, 0, 'f', 3));
}

void Scenario::step7_exit() {
    log(QStringLiteral("step 7: ﾌｧｲﾙ（&F） › 終了(&X)"));
    const QRect popup = open_menu();
    save(desk_.grab(), QStringLiteral("exit-menu"),
         QStringLiteral("the menu open to choose 終了(&X)"));
    (void)popup;
    QElapsedTimer clock;
    clock.start();
    desk_.key(QStringLiteral("x"));
    if (!app_.waitForFinished(kLong)) fail(QStringLiteral("tambrel did not end after 終了(&X)"));
    const qint64 took = clock.elapsed();
    log(QStringLiteral("  tambrel ended %1 ms after the click, status %2")
            .arg(took)
            .arg(app_.exitCode()));
    if (app_.exitStatus() != QProcess::NormalExit || app_.exitCode() != 0)
        fail(QStringLiteral("tambrel ended with status %1").arg(app_.exitCode()));
    // Reported, not asserted: on a loaded machine a wall-clock bound would only be luck.
    if (took > 1000) log(QStringLiteral("  NOTE: the exit took longer than a second"));
    if (!desk_.windows_named(QStringLiteral("Tambrel ")).empty())
        fail(QStringLiteral("the window is still shown after the exit"));
}

void Scenario::run() {
    QElapsedTimer total;
    total.start();
    dir_.mkpath(QStringLiteral("."));
    for (const QString& old : dir_.entryList({QStringLiteral("*.png")}, QDir::Files))
        dir_.remove(old);
    index_file_.setFileName(dir_.filePath(QStringLiteral("screenshots.txt")));
    if (!index_file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        fail(QStringLiteral("cannot write into %1").arg(dir_.path()));
    index_stream_.setDevice(&index_file_);
    index_ = &index_stream_;
    make_clips();
    step1_start();
    step2_open();
    step3_transport();
    step3b_seek();
    step4_compose();
    step5_clipboard();
    step5b_long_pace();
    step6_readout();
    step6b_priority();
    step6c_long_clip();
    step6d_portrait();
    step6e_worksheet();
    step6f_auto_record();
    step7_exit();
    log(QStringLiteral("all steps held in %1 s").arg(total.elapsed() / 1000.0, 0, 'f', 1));
    index_ = nullptr;
}

void Scenario::on_failure(const QString& what) {
    log(QStringLiteral("FAILED: %1").arg(what));
    try {
        save(desk_.grab(), QStringLiteral("failure"),
             QStringLiteral("the screen when the test failed: ") + what);
    } catch (const E2eFailure&) {
    }
    index_ = nullptr;
    if (app_.state() != QProcess::NotRunning) {
        app_.kill();
        app_.waitForFinished(5000);
    }
}

}  // namespace
}  // namespace tambrel::e2e

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    QString tambrel, make_clip, artifacts;
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--tambrel"))
            tambrel = args[i + 1];
        else if (args[i] == QLatin1String("--make-clip"))
            make_clip = args[i + 1];
        else if (args[i] == QLatin1String("--artifacts"))
            artifacts = args[i + 1];
    }
    if (tambrel.isEmpty() || make_clip.isEmpty() || artifacts.isEmpty()) {
        std::fprintf(stderr,
                     "usage: tambrel_e2e_driver --tambrel BIN --make-clip BIN --artifacts DIR\n");
        return 2;
    }
    tambrel::e2e::Scenario scenario(tambrel, make_clip, artifacts);
    try {
        scenario.run();
    } catch (const tambrel::e2e::E2eFailure& failure) {
        scenario.on_failure(QString::fromStdString(failure.what()));
        return 1;
    }
    return 0;
}
