// The limits that keep a large or lying clip from harming the tool: picture sizes beyond
// 16384 pixels a side or 64 megapixels are refused before a picture is allocated, the
// decoded-picture cache keeps to its bound, a process keeps to its memory budget and to
// 16 open clips (peaks measured on the console in a child process), a clip longer than
// the scroll bar works to its last frame, and damaged clips keep standard error quiet.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include "avi_bytes.h"
#include "clipgen.h"
#include "core/surface.h"
#include "media/service/path_codec.h"
#include "media/service/video_clip.h"
#include "media/service/video_device.h"
#include "session.h"

using namespace tambrel;
using namespace tambrel::robustness;
using media::MediaError;

namespace {

long peak_rss_kb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// The console run as a child with `args`, its input given; what it printed and the most
// memory it held.
struct ChildRun {
    int status = -1;
    QString out, err;
    long peak_kb = 0;
};

ChildRun run_console(const QStringList& args, const QByteArray& input, const QTemporaryDir& dir) {
    ChildRun run;
    const QByteArray in_path = QFile::encodeName(dir.filePath("in.txt"));
    const QByteArray out_path = QFile::encodeName(dir.filePath("out.txt"));
    const QByteArray err_path = QFile::encodeName(dir.filePath("err.txt"));
    if (!write_file(QString::fromLocal8Bit(in_path), input)) return run;
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, in_path.constData(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, out_path.constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&files, 2, err_path.constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    std::vector<QByteArray> words{QByteArray(TAMBREL_MCI)};
    for (const QString& a : args) words.push_back(a.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ) == 0) {
        rusage usage{};
        int status = 0;
        if (wait4(pid, &status, 0, &usage) == pid) {
            run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            run.peak_kb = usage.ru_maxrss;
        }
    }
    posix_spawn_file_actions_destroy(&files);
    run.out = QString::fromUtf8(read_file(QString::fromLocal8Bit(out_path)));
    run.err = QString::fromUtf8(read_file(QString::fromLocal8Bit(err_path)));
    return run;
}

// Memory figures mean little under AddressSanitizer, which keeps freed memory aside.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMemoryMeasured = false;
#else
constexpr bool kMemoryMeasured = true;
#endif
// The console's own libraries and buffers, beside the pictures the budget counts.
constexpr long kBaselineKb = 160 * 1024;
constexpr long kBudgetKb = 512 * 1024;

class Limits : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    QString file(const QString& name, const QByteArray& bytes) {
        EXPECT_TRUE(write_file(dir.filePath(name), bytes));
        return dir.filePath(name);
    }
};

}  // namespace

TEST_F(Limits, PictureSizeAtTheBoundOpensAndBeyondItIsRefused) {
    Session s;
    struct Case {
        int width, height;
        bool opens;
    };
    for (const Case c : {Case{16384, 2, true}, Case{2, 16384, true}, Case{16385, 2, false},
                         Case{2, 16385, false}}) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        RawAvi layout;
        layout.width = c.width;
        layout.height = c.height;
        layout.frames = 2;
        const Answer a = s.open(file("side.avi", raw_avi(layout)));
        if (c.opens) {
            EXPECT_EQ(a.rc, 0);
            EXPECT_EQ(s.send("step avfile").rc, 0);
            EXPECT_EQ(s.send("close avfile").rc, 0);
        } else {
            EXPECT_EQ(a.rc, media::code(MediaError::NotPlayable));
            EXPECT_EQ(a.reply, error_text_of(MediaError::NotPlayable));
        }
    }
}

// A header claiming a picture of 64 megapixels and more (here 16000 x 16000, 768 MB as
// 24-bit pixels) over a few bytes of data is refused without a buffer of that size ever
// being filled: the peak resident memory of the whole test stays far below it.
TEST_F(Limits, HugeClaimedPictureIsRefusedBeforeAllocating) {
    Session s;
    const long before = peak_rss_kb();
    for (const auto& [w, h] : {std::pair{16000, 16000}, std::pair{8192, 8193}}) {
        RawAvi layout;
        layout.header_width = w;
        layout.header_height = h;
        const Answer a = s.open(file("claims.avi", raw_avi(layout)));
        EXPECT_EQ(a.rc, media::code(MediaError::NotPlayable));
    }
    EXPECT_LT(peak_rss_kb() - before, 64 * 1024);
}

TEST_F(Limits, DecodedPictureCacheKeepsToItsBound) {
    clipgen::ClipOptions o;
    o.path = dir.filePath("gop.avi").toStdString();
    o.codec = clipgen::Codec::Mpeg4;
    o.width = 320;
    o.height = 240;
    o.frames = 48;
    o.keyframe_interval = 24;
    ASSERT_FALSE(clipgen::write_clip(o));
    MediaError error = MediaError::None;
    auto clip = media::VideoClip::open(o.path, error);
    ASSERT_TRUE(clip);
    EXPECT_LE(clip->cache_bound(), media::VideoClip::kDefaultCacheBound);
    // Room for about four pictures of 320 x 240 in 4:2:0.
    const size_t bound = 4 * 320 * 240 * 3 / 2 + 4096;
    clip->set_cache_bound(bound);
    QImage picture(320, 240, QImage::Format_RGB32);
    size_t peak = 0;
    // Forward, then backward across a group boundary: the pattern that fills a cache.
    for (int n = 0; n < 48; ++n) {
        ASSERT_EQ(clip->go_to(n), MediaError::None);
        peak = std::max(peak, clip->cache_bytes());
    }
    for (int n = 47; n >= 0; --n) {
        ASSERT_EQ(clip->go_to(n), MediaError::None);
        peak = std::max(peak, clip->cache_bytes());
        if (n % 8 == 0) {
            ASSERT_EQ(clip->draw(picture, picture.rect(), media::VideoClip::Scaler::Surface),
                      MediaError::None);
            EXPECT_EQ(clipgen::read_frame_number(picture), n);
        }
    }
    EXPECT_GT(peak, 0u);
    EXPECT_LE(peak, bound);
}

// More than 32767 frames, more than the bar's 16 bits: the bar spans the whole clip, the
// read-out shows the exact frame, and the clip is usable to its last frame.
TEST_F(Limits, ClipLongerThanTheBarIsUsableToItsLastFrame) {
    RawAvi layout;
    layout.width = 4;
    layout.height = 2;
    layout.frames = 40000;
    const QString long_clip = file("long.avi", raw_avi(layout));

    Window w;
    const int beeps = w.platform.beeps;
    w.open(long_clip);
    EXPECT_EQ(w.platform.beeps - beeps, 1);  // only the close with nothing open
    EXPECT_TRUE(w.platform.messages.empty());
    EXPECT_EQ(w.form->HScroll1->maximum(), 32767);
    EXPECT_EQ(w.form->Label1->text(), long_clip);
    EXPECT_TRUE(w.form->Timer1->isActive());
    media::VideoDevice* device = w.service.device("avfile");
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->length(), 40000);
    w.form->Command1_Click();
    w.form->Command2_Click();
    EXPECT_EQ(device->seek(39998), MediaError::None);
    w.form->Command3_Click();
    w.form->Timer1_Timer();
    // The bar's end stands for the length, as a short clip's does: frame 39999 is one
    // step short of it.
    EXPECT_EQ(w.form->HScroll1->value(), 32766);
    EXPECT_TRUE(w.form->label2_caption().endsWith("39999"));
}

// A header that claims 2147483647 frames over ten, more than a file of its size can
// hold: the length is the frames the file really has, in the service and the window.
TEST_F(Limits, ImpossibleFrameCountInTheHeaderGivesWayToTheFile) {
    RawAvi layout;
    layout.header_frames = 0x7fffffff;
    const QString lying = file("count.avi", raw_avi(layout));
    Session s;
    ASSERT_EQ(s.open(lying).rc, 0);
    EXPECT_EQ(s.send("status avfile length").reply, QString::number(layout.frames));
    EXPECT_EQ(s.send("seek avfile to 9").rc, 0);
    const Answer past = s.send("step avfile");
    EXPECT_EQ(past.rc, 0);  // already at the last frame: it stays there
    EXPECT_EQ(s.send("status avfile position").reply, "9");
    EXPECT_EQ(s.send("seek avfile to 2000000000").rc, media::code(MediaError::OutOfRange));

    Window w;
    w.open(lying);
    EXPECT_EQ(w.form->Label1->text(), lying);
    EXPECT_EQ(w.form->HScroll1->maximum(), layout.frames);
}

// A 16-bit 4:4:4 clip of 8192 x 8192 pixels is 384 MiB a picture: it does not fit the
// budget with its conversion, and is refused at open; the process stays within it.
TEST_F(Limits, PicturesBeyondTheMemoryBudgetAreRefusedAtOpen) {
    const QString ffmpeg = QStandardPaths::findExecutable("ffmpeg");
    if (ffmpeg.isEmpty()) GTEST_SKIP() << "the ffmpeg command is not installed";
    const QString clip = dir.filePath("deep.mkv");
    QProcess make;
    make.start(ffmpeg,
               {"-v", "error", "-y", "-f", "lavfi", "-i", "color=c=gray:s=8192x8192:r=30",
                "-frames:v", "2", "-pix_fmt", "yuv444p16le", "-c:v", "ffv1", "-level", "3", clip});
    ASSERT_TRUE(make.waitForFinished(300000) && make.exitCode() == 0)
        << make.readAllStandardError().toStdString();
    const QString open =
        "open " +
        QString::fromStdString(media::encode_command_path(QFile::encodeName(clip).toStdString())) +
        " alias a\n";
    const ChildRun run = run_console({}, (open + "step a\nstep a\nstep a\n").toUtf8(), dir);
    EXPECT_TRUE(run.out.startsWith(QString::number(media::code(MediaError::NoMemory)) + '\t'))
        << run.out.toStdString();
    EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
    if (kMemoryMeasured) EXPECT_LT(run.peak_kb, kBudgetKb + kBaselineKb);
}

// Opening one 720p clip 300 times: 16 open, the rest are refused with their own error,
// and the memory stays within the budget.
TEST_F(Limits, OpenClipsAreCappedAndShareTheBudget) {
    clipgen::ClipOptions o;
    o.path = dir.filePath("hd.mp4").toStdString();
    o.codec = clipgen::Codec::H264;
    o.width = 1280;
    o.height = 720;
    o.frames = 12;
    ASSERT_FALSE(clipgen::write_clip(o));
    const std::string path = media::encode_command_path(o.path);
    QByteArray commands;
    for (int i = 0; i < 300; ++i)
        commands += QByteArray::fromStdString("open " + path + " alias a" + std::to_string(i) +
                                              "\nseek a" + std::to_string(i) + " to 11\n");
    const ChildRun run = run_console({}, commands, dir);
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 600);
    int opened = 0, refused = 0;
    for (int i = 0; i < 600; i += 2) {
        if (lines[i].startsWith("0\t")) ++opened;
        if (lines[i].startsWith(QString::number(media::code(MediaError::TooManyDevices)) + '\t'))
            ++refused;
    }
    EXPECT_EQ(opened, 16);
    EXPECT_EQ(refused, 284);
    if (kMemoryMeasured) EXPECT_LT(run.peak_kb, kBudgetKb + kBaselineKb);
    // A smaller budget takes fewer: each 720p clip holds its working pictures.
    const ChildRun small =
        run_console({"--memory", "40"}, commands.left(commands.indexOf("a5 ")), dir);
    EXPECT_TRUE(small.out.contains(QString::number(media::code(MediaError::NoMemory)) + '\t'))
        << small.out.toStdString();
}

// A damaged clip makes the decoder talk; the console keeps it off standard error unless
// asked, so a caller that reads only the answers never blocks on a full pipe.
TEST_F(Limits, DamagedClipsKeepStandardErrorQuiet) {
    clipgen::ClipOptions o;
    o.path = dir.filePath("good.avi").toStdString();
    o.codec = clipgen::Codec::Mpeg4;
    o.width = 320;
    o.height = 240;
    o.frames = 24;
    ASSERT_FALSE(clipgen::write_clip(o));
    QByteArray bytes = read_file(QString::fromStdString(o.path));
    for (const qsizetype chunk : video_chunks(bytes))
        for (qsizetype i = chunk + 8 + 20; i < chunk + 8 + qsizetype(chunk_size(bytes, chunk)) - 4;
             i += 7)
            bytes[i] = char(0xA5);
    const QString damaged = file("damaged.avi", bytes);
    QByteArray commands = QByteArray::fromStdString(
        "open " + media::encode_command_path(QFile::encodeName(damaged).toStdString()) +
        " alias a\n");
    for (int i = 0; i < 23; ++i) commands += "step a\n";
    const ChildRun quiet = run_console({}, commands, dir);
    EXPECT_TRUE(quiet.err.isEmpty()) << quiet.err.left(400).toStdString();
    const ChildRun loud = run_console({"--verbose"}, commands, dir);
    EXPECT_FALSE(loud.err.isEmpty());
    EXPECT_EQ(loud.out, quiet.out);  // the answers are the same either way
}

// A destination far larger than any window, drawn into a small picture, would need a
// scratch picture of its size: refused from the budget, never allocated.
TEST_F(Limits, UpdateIntoAHugeDestinationIsRefusedNotAllocated) {
    RawAvi layout;
    layout.frames = 2;
    Session s;
    ASSERT_EQ(s.open(file("small.avi", raw_avi(layout))).rc, 0);
    PictureSurface surface(64, 48);
    const int32_t hdc = s.handles.add_surface(&surface);
    const long before = peak_rss_kb();
    ASSERT_EQ(s.send("put avfile destination at 0 0 16384 16384").rc, 0);
    const Answer a = s.send("update avfile hdc " + QString::number(hdc));
    EXPECT_EQ(a.rc, media::code(MediaError::NoMemory));
    if (kMemoryMeasured) EXPECT_LT(peak_rss_kb() - before, 256 * 1024);  // not the 1 GiB
    ASSERT_EQ(s.send("put avfile destination at 0 0 64 48").rc, 0);
    EXPECT_EQ(s.send("update avfile hdc " + QString::number(hdc)).rc, 0);
}
