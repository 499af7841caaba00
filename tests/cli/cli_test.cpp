// tambrel-compose run as a separate process on generated raw clips, whose decoded
// frames are exactly what their generators paint: the composites it writes against ones
// worked out here, its options, the end of the clip, damaged frames, special and full
// outputs, and every failure's status.

#include <gtest/gtest.h>
#include <pty.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <system_error>
#include <variant>

#include "ball_scene.h"
#include "reference_composite.h"
#include "tool_process.h"

extern char** environ;

namespace tambrel::compose_cli::testing {
namespace {

constexpr int kFrames = 20;

class ComposeTool : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        clip_dir_ = std::make_unique<QTemporaryDir>();
        clip_ = raw_clip(clip_dir_->filePath("bob.avi"), kFrames);
        ASSERT_EQ(clipgen::write_clip(clip_), std::nullopt);
        ASSERT_TRUE(BallScene().write(scene_path()));
    }
    static void TearDownTestSuite() { clip_dir_.reset(); }

    static QString clip_path() { return QString::fromStdString(clip_.path); }
    static QString scene_path() { return clip_dir_->filePath("ball.avi"); }
    QString out(const QString& name = "out.png") const { return dir_.filePath(name); }

    // Runs the tool; on success loads what it wrote.
    QImage composite(QStringList args, const QString& output = {}, const QString& clip = {}) {
        const QString path = output.isEmpty() ? out() : output;
        args.prepend(path);
        args.prepend("-o");
        args.prepend(clip.isEmpty() ? clip_path() : clip);
        const ToolRun r = run_tool(args);
        EXPECT_EQ(r.exit_code, 0) << args.join(' ').toStdString() << "\n" << r.err;
        EXPECT_EQ(r.err, "") << "nothing on standard error when it is no terminal";
        EXPECT_EQ(r.out, "");
        QImage image(path);
        QFile::remove(path);
        return image;
    }

    // A failed run: its status, one line on standard error, and nothing written.
    void expect_failure(const QStringList& args, int status, const std::string& mentions = {}) {
        const QStringList before = files_in(QDir(dir_.path()));
        const ToolRun r = run_tool(args);
        const std::string what = args.join(' ').toStdString();
        EXPECT_EQ(r.exit_code, status) << what << "\n" << r.err;
        EXPECT_EQ(r.err.rfind("tambrel-compose: ", 0), 0u) << what << "\n" << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << what << "\n" << r.err;
        if (!mentions.empty()) {
            EXPECT_NE(r.err.find(mentions), std::string::npos) << r.err;
        }
        EXPECT_EQ(files_in(QDir(dir_.path())), before) << what;
    }

    static inline std::unique_ptr<QTemporaryDir> clip_dir_;
    static inline clipgen::ClipOptions clip_;
    QTemporaryDir dir_;
};

TEST_F(ComposeTool, MergesEveryFramePixelByPixelAtTheClipsOwnSize) {
    const QSize whole(clip_.width, clip_.height);
    const auto frames = rendered_frames(clip_, 0, 1, kFrames);
    const QImage white = composite({});
    EXPECT_EQ(difference(white, fold_frames(frames, true, whole)), "");
    const QImage black = composite({"--priority", "black"});
    EXPECT_EQ(difference(black, fold_frames(frames, false, whole)), "");
    // The moving bob leaves a trail under white priority and none under black.
    EXPECT_NE(difference(white, black), "");
    EXPECT_NE(difference(white, frames.front().convertToFormat(QImage::Format_RGB32)), "");
}

TEST_F(ComposeTool, StartStepCountAndPriorityChooseTheFramesAndTheRule) {
    struct Case {
        QStringList args;
        int start, step, count;
        bool white;
    };
    const std::vector<Case> cases = {
        {{"--count", "5"}, 0, 1, 5, true},
        {{"--start", "7"}, 7, 1, kFrames, true},
        {{"--step", "3"}, 0, 3, kFrames, true},
        {{"--start=2", "--step=5", "--count=3"}, 2, 5, 3, true},
        {{"--priority=black", "--step", "4", "--start", "1"}, 1, 4, kFrames, false},
        {{"--count", "1"}, 0, 1, 1, true},
    };
    const QSize whole(clip_.width, clip_.height);
    const QImage everything = fold_frames(rendered_frames(clip_, 0, 1, kFrames), true, whole);
    for (const Case& c : cases) {
        const std::string what = c.args.join(' ').toStdString();
        const QImage expected =
            fold_frames(rendered_frames(clip_, c.start, c.step, c.count), c.white, whole);
        const QImage actual = composite(c.args);
        EXPECT_EQ(difference(actual, expected), "") << what;
        EXPECT_NE(difference(actual, everything), "") << what << " changed nothing";
    }
}

TEST_F(ComposeTool, StopsAtTheClipsEnd) {
    const QSize whole(clip_.width, clip_.height);
    // 15 and 19; the next would be 23, past the last frame.
    const QImage two = fold_frames(rendered_frames(clip_, 15, 4, 2), true, whole);
    EXPECT_EQ(difference(composite({"--start", "15", "--step", "4"}), two), "");
    EXPECT_EQ(difference(composite({"--start", "15", "--step", "4", "--count", "50"}), two), "");
    // The last frame alone.
    EXPECT_EQ(difference(composite({"--start", "19", "--count", "3"}),
                         clipgen::render_frame(clip_, 19).convertToFormat(QImage::Format_RGB32)),
              "");
    expect_failure({clip_path(), "-o", out(), "--start", "20"}, 2, "past the clip's last frame");
}

TEST_F(ComposeTool, BadArgumentsExitWithTwoAndWriteNothing) {
    const QString o = out();
    const std::vector<QStringList> bad = {
        {},
        {clip_path()},
        {"-o", o},
        {clip_path(), "-o"},
        {clip_path(), "-o", o, "--step", "0"},
        {clip_path(), "-o", o, "--step", "-2"},
        {clip_path(), "-o", o, "--count", "0"},
        {clip_path(), "-o", o, "--count", "2.5"},
        {clip_path(), "-o", o, "--start", "x"},
        {clip_path(), "-o", o, "--start", "99999999999"},
        {clip_path(), "-o", o, "--priority", "grey"},
        {clip_path(), "-o", o, "--as-shown=yes"},
        {clip_path(), "-o", o, "--step", "2", "--step", "3"},
        {clip_path(), "-o", o, "--bogus"},
        {clip_path(), clip_path(), "-o", o},
        {clip_path(), "-o", out("out.nosuchformat")},
        {clip_path(), "-o", clip_path()},
    };
    for (const QStringList& args : bad) expect_failure(args, 2);
    // A bad argument is reported before the clip is looked at.
    expect_failure({dir_.filePath("missing.avi"), "-o", o, "--step", "0"}, 2, "--step");
    EXPECT_TRUE(QFile::exists(clip_path()));
}

TEST_F(ComposeTool, AClipThatCannotBeOpenedExitsWithThree) {
    expect_failure({dir_.filePath("missing.avi"), "-o", out()}, 3, "missing.avi");
    QFile text(dir_.filePath("notes.avi"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not a video\n");
    text.close();
    expect_failure({text.fileName(), "-o", out()}, 3, "notes.avi");
    QFile empty(dir_.filePath("empty.avi"));
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    expect_failure({empty.fileName(), "-o", out()}, 3);
    expect_failure({dir_.path(), "-o", out()}, 3);
}

TEST_F(ComposeTool, AnOutputThatCannotBeWrittenExitsWithFourAndLeavesNoFile) {
    expect_failure({clip_path(), "-o", dir_.filePath("no/such/folder/out.png")}, 4,
                   "no/such/folder");
    ASSERT_TRUE(QDir(dir_.path()).mkdir("taken.png"));
    expect_failure({clip_path(), "-o", out("taken.png")}, 4, "taken.png");
    // Found only when the picture is written, after the whole run.
    if (::access("/proc", W_OK) == 0) expect_failure({clip_path(), "-o", "/proc/out.png"}, 4);
}

TEST_F(ComposeTool, DifferenceKeepsEveryBallWholeWhereBrightnessPriorityLosesSome) {
    const BallScene scene;
    const QImage empty = scene.background();
    std::vector<QImage> frames;
    for (int k = 0; k < scene.frames; ++k) frames.push_back(scene.frame(k));
    // The empty scene with every instance of the given frames whole: wherever one of them
    // differs from the empty scene (the instances do not touch), its pixel.
    const auto instances = [&](int start, int step, int count) {
        QImage picture = empty.copy();
        for (int k = start, n = 0; k < scene.frames && n < count; k += step, ++n)
            for (int y = 0; y < picture.height(); ++y)
                for (int x = 0; x < picture.width(); ++x)
                    if (frames[k].pixel(x, y) != empty.pixel(x, y))
                        picture.setPixel(x, y, frames[k].pixel(x, y));
        return picture;
    };
    // How many balls a composite does not show whole.
    const auto lost = [&](const QImage& composite) {
        int balls = 0;
        for (int k = 1; k < scene.frames; ++k) {
            bool whole = true;
            for (int y = 0; y < empty.height() && whole; ++y)
                for (int x = 0; x < empty.width() && whole; ++x)
                    whole = frames[k].pixel(x, y) == empty.pixel(x, y) ||
                            composite.pixel(x, y) == frames[k].pixel(x, y);
            balls += whole ? 0 : 1;
        }
        return balls;
    };

    const QString empty_png = dir_.filePath("empty.png");
    ASSERT_TRUE(empty.save(empty_png));
    struct Case {
        QStringList args;
        int start, step, count;
    };
    const int all = scene.frames;
    for (const Case& c : {
             // The median of all 13 frames, of 12 with the ball in each, of the odd ones.
             Case{{"--priority", "difference"}, 0, 1, all},
             Case{{"--priority", "difference", "--start", "1"}, 1, 1, all},
             Case{{"--priority=difference", "--start=1", "--step=2"}, 1, 2, all},
             Case{{"--priority", "difference", "--background", "0", "--start", "3"}, 3, 1, all},
             Case{{"--priority", "difference", "--background-image", empty_png, "--count", "6"},
                  0,
                  1,
                  6},
         }) {
        const QImage composite = this->composite(c.args, {}, scene_path());
        EXPECT_EQ(difference(composite, instances(c.start, c.step, c.count)), "")
            << c.args.join(' ').toStdString();
    }
    EXPECT_EQ(lost(composite({"--priority", "difference"}, {}, scene_path())), 0);
    // Brightness loses the ball over the floor and the white line (white priority) or
    // over the dark mat and the board (black), and keeps it elsewhere.
    const int white = lost(composite({}, {}, scene_path()));
    const int black = lost(composite({"--priority", "black"}, {}, scene_path()));
    EXPECT_GT(white, 0);
    EXPECT_LT(white, all - 1);
    EXPECT_GT(black, 0);
    EXPECT_LT(black, all - 1);
}

TEST_F(ComposeTool, BackgroundOptionsAreChecked) {
    const QString o = out();
    const QStringList difference{scene_path(), "-o", o, "--priority", "difference"};
    expect_failure(difference + QStringList{"--background", "13"}, 2,
                   "--background 13 is past the clip's last frame (12)");
    expect_failure(difference + QStringList{"--background-image", dir_.filePath("none.png")}, 2,
                   "cannot read the background image");
    QFile text(dir_.filePath("notes.png"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not a picture\n");
    text.close();
    expect_failure(difference + QStringList{"--background-image", text.fileName()}, 2,
                   "cannot read the background image");
    const QString small = dir_.filePath("small.png");
    ASSERT_TRUE(BallScene().background().scaled(100, 30).save(small));
    expect_failure(difference + QStringList{"--background-image", small}, 2,
                   "is 100 x 30 pixels, not the clip's 320 x 96");
    expect_failure({scene_path(), "-o", o, "--background", "0"}, 2,
                   "--background is for --priority difference only");
    QFile::remove(small);
}

TEST_F(ComposeTool, ADamagedFrameIsSkippedWithOneWarningUnlessTheRunIsStrict) {
    // Motion JPEG, every frame a picture of its own: scrambling frame 7's chunk damages
    // that frame alone, and libav complains about it.
    clipgen::ClipOptions o = raw_clip(dir_.filePath("source.avi"), kFrames);
    o.codec = clipgen::Codec::Mjpeg;
    ASSERT_EQ(clipgen::write_clip(o), std::nullopt);
    QByteArray bytes = robustness::read_file(dir_.filePath("source.avi"));
    const qsizetype chunk = robustness::video_chunks(bytes)[7];
    for (uint32_t i = 0; i < robustness::chunk_size(bytes, chunk); ++i)
        bytes[chunk + 8 + i] = static_cast<char>((i * 37 + 11) & 0xff);
    const QString damaged = dir_.filePath("damaged.avi");
    ASSERT_TRUE(robustness::write_file(damaged, bytes));
    QFile::remove(dir_.filePath("source.avi"));

    ToolRun r = run_tool({damaged, "-o", out()});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(r.err.starts_with("tambrel-compose: warning: frame 7 cannot be decoded, skipped: "))
        << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "no libav line:\n" << r.err;
    EXPECT_FALSE(QImage(out()).isNull());

    expect_failure({damaged, "-o", out("strict.png"), "--strict"}, 3, "frame 7 cannot be decoded");

    r = run_tool({damaged, "-o", out("verbose.png"), "--verbose"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(("\n" + r.err).find("\n[mjpeg @ "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("tambrel-compose: warning: frame 7 cannot be decoded"), std::string::npos);
}

// stat of `path`, or errno's text.
std::variant<struct stat, std::string> status_of(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::error_code(errno, std::generic_category()).message();
    return st;
}

TEST_F(ComposeTool, OnlyARegularFileOrANewNameIsReplaced) {
    // Each special file is made here, named as the output, and must stay as it was: the
    // same node of the same kind. A device node needs the right to make one (root);
    // without it that case is left out.
    const auto c_path = [](const QString& p) { return QFile::encodeName(p); };
    int listening = -1;
    struct Special {
        QString name;
        std::function<bool(const QString&)> make;
        std::string says;
    };
    const std::vector<Special> specials = {
        {"pipe.png", [&](const QString& p) { return ::mkfifo(c_path(p), 0644) == 0; },
         "it is a named pipe"},
        {"socket.png",
         [&](const QString& p) {
             listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
             sockaddr_un address{};
             address.sun_family = AF_UNIX;
             const QByteArray name = c_path(p);
             if (listening < 0 || name.size() >= qsizetype(sizeof address.sun_path)) return false;
             std::memcpy(address.sun_path, name.constData(), name.size());
             return ::bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
         },
         "it is a socket"},
        {"null.png",
         [&](const QString& p) {
             return ::mknod(c_path(p), S_IFCHR | 0666, makedev(1, 3)) == 0;  // as /dev/null
         },
         "it is a device"},
        {"folder.png", [&](const QString& p) { return QDir().mkdir(p); }, "it is a folder"},
        {"link-to-pipe.png",
         [&](const QString& p) { return ::symlink(c_path(out("pipe.png")), c_path(p)) == 0; },
         "it is a named pipe"},
    };
    for (const Special& special : specials) {
        const QString path = out(special.name);
        if (!special.make(path)) {
            EXPECT_EQ(special.name, "null.png") << std::strerror(errno);
            continue;
        }
        const auto before = status_of(path);
        ASSERT_TRUE(std::holds_alternative<struct stat>(before));
        expect_failure({clip_path(), "-o", path}, 4,
                       "cannot write '" + path.toStdString() + "': " + special.says +
                           "; only a regular file or a new name is replaced");
        const auto after = status_of(path);
        ASSERT_TRUE(std::holds_alternative<struct stat>(after)) << special.name.toStdString();
        const auto& b = std::get<struct stat>(before);
        const auto& a = std::get<struct stat>(after);
        EXPECT_EQ(a.st_ino, b.st_ino) << special.name.toStdString();
        EXPECT_EQ(a.st_mode, b.st_mode) << special.name.toStdString();
        EXPECT_EQ(a.st_rdev, b.st_rdev) << special.name.toStdString();
    }
    if (listening >= 0) ::close(listening);
}

TEST_F(ComposeTool, AReplacedFileKeepsItsPermissionBitsAndALinkStaysALink) {
    const QImage expected =
        fold_frames(rendered_frames(clip_, 0, 1, kFrames), true, QSize(clip_.width, clip_.height));
    const QByteArray path = QFile::encodeName(out());
    const auto mode = [&](const QByteArray& p) {
        struct stat st {};
        return ::stat(p.constData(), &st) == 0 ? st.st_mode & 07777 : 0u;
    };
    // Root may replace a read-only file; its bits stay read-only.
    std::vector<mode_t> modes = {0640, 0604, 0664, 02751};
    if (::geteuid() == 0) modes.push_back(0444);
    for (const mode_t bits : modes) {
        ASSERT_TRUE(robustness::write_file(out(), "earlier"));
        ASSERT_EQ(::chmod(path.constData(), bits), 0);
        const ToolRun r = run_tool({clip_path(), "-o", out()});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(mode(path), bits) << std::oct << bits;
        EXPECT_EQ(difference(QImage(out()), expected), "") << std::oct << bits;
    }
    if (::geteuid() != 0) {
        ASSERT_TRUE(robustness::write_file(out("kept.png"), "earlier"));
        ASSERT_EQ(::chmod(QFile::encodeName(out("kept.png")).constData(), 0444), 0);
        expect_failure({clip_path(), "-o", out("kept.png")}, 4, "Permission denied");
        EXPECT_EQ(robustness::read_file(out("kept.png")), QByteArray("earlier"));
    }
    // A new file gets the bits any new file gets.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    QFile::remove(out());
    EXPECT_EQ(run_tool({clip_path(), "-o", out()}).exit_code, 0);
    EXPECT_EQ(mode(path), 0666u & ~mask);
    // Through a link the file it leads to is replaced, and the link stays.
    ASSERT_TRUE(robustness::write_file(out("target.png"), "earlier"));
    ASSERT_EQ(::symlink(QFile::encodeName(out("target.png")).constData(),
                        QFile::encodeName(out("link.png")).constData()),
              0);
    EXPECT_EQ(run_tool({clip_path(), "-o", out("link.png")}).exit_code, 0);
    EXPECT_TRUE(QFileInfo(out("link.png")).isSymLink());
    EXPECT_EQ(difference(QImage(out("target.png")), expected), "");
}

// What a run onto a full disk left: its status, standard error, the folder's entries
// and the earlier output's bytes; `how` says how the disk was filled, empty when it
// could not be.
struct FullDiskRun {
    std::string how;
    int status = -1;
    std::string err, entries, earlier;
};

// The run happens in a shell that prints a report: "status N", the entries, "--", the
// earlier output, "--", standard error.
FullDiskRun parse_full_disk_report(const std::string& how, const QByteArray& report) {
    FullDiskRun run;
    const QList<QByteArray> parts = report.split('\x1e');
    if (parts.size() != 4 || !parts[0].startsWith("status ")) return run;
    run.how = how;
    run.status = parts[0].mid(7).trimmed().toInt();
    run.entries = parts[1].trimmed().toStdString();
    run.earlier = parts[2].toStdString();
    run.err = parts[3].toStdString();
    return run;
}

FullDiskRun compose_onto_full_disk(const QString& folder, const QString& clip) {
    // The tool's standard error is kept in the shell, not on the full disk.
    const QString report = QStringLiteral(
        R"(printf earlier > "$1/out.bmp" || exit 91
err=$("$2" "$3" -o "$1/out.bmp" 2>&1 >/dev/null)
printf 'status %s\036' $?; ls -A "$1"; printf '\036'; cat "$1/out.bmp"; printf '\036%s' "$err")");
    const QStringList values{folder, QStringLiteral(TAMBREL_COMPOSE_PATH), clip};
    // Best: a tmpfs of four pages in a mount namespace of the run's own, which nothing
    // outside sees and which goes with the run, whatever happens to this test.
    if (const QString unshare = QStandardPaths::findExecutable("unshare"); !unshare.isEmpty()) {
        QProcess p;
        p.start(unshare,
                QStringList{"--mount", "sh", "-c",
                            "mount -t tmpfs -o size=16k tmpfs \"$1\" || exit 90\n" + report, "sh"} +
                    values);
        if (p.waitForFinished(120000) && p.exitCode() == 0)
            return parse_full_disk_report("a 16 KiB tmpfs", p.readAllStandardOutput());
    }
    // Otherwise a limit on the size of files the tool may write (4 KiB).
    QProcess p;
    p.start("sh", QStringList{"-c", "ulimit -f 8\n" + report, "sh"} + values);
    if (p.waitForFinished(120000) && p.exitCode() == 0)
        return parse_full_disk_report("a file size limit", p.readAllStandardOutput());
    return {};
}

TEST_F(ComposeTool, AFullDiskIsToldInOneLineWithTheSystemsOwnText) {
    // A BMP of the 96 x 72 clip takes about 20 KiB.
    const FullDiskRun run = compose_onto_full_disk(dir_.path(), clip_path());
    if (run.how.empty()) GTEST_SKIP() << "neither a tmpfs nor a file size limit could be set";
    RecordProperty("full_disk", run.how);
    const std::string expected =
        run.how == "a file size limit"
            ? std::error_code(EFBIG, std::generic_category()).message()
            : "the disk is full (" + std::error_code(ENOSPC, std::generic_category()).message() +
                  ")";
    EXPECT_EQ(run.status, 4) << run.how << "\n" << run.err;
    // One line (the shell took its line end).
    EXPECT_EQ(run.err, "tambrel-compose: cannot write '" + dir_.filePath("out.bmp").toStdString() +
                           "': " + expected)
        << run.how;
    EXPECT_EQ(run.entries, "out.bmp") << "the temporary file is gone";
    EXPECT_EQ(run.earlier, "earlier");
}

TEST_F(ComposeTool, AFailedRunLeavesAnEarlierOutputAsItWas) {
    QFile earlier(out());
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
    earlier.write("earlier");
    earlier.close();
    expect_failure({dir_.filePath("missing.avi"), "-o", out()}, 3);
    expect_failure({clip_path(), "-o", out(), "--start", "400"}, 2);
    ASSERT_TRUE(earlier.open(QIODevice::ReadOnly));
    EXPECT_EQ(earlier.readAll(), QByteArray("earlier"));
    earlier.close();
    // A successful run replaces it whole.
    const QImage expected =
        fold_frames(rendered_frames(clip_, 0, 1, kFrames), true, QSize(clip_.width, clip_.height));
    EXPECT_EQ(difference(composite({}, out()), expected), "");
}

TEST_F(ComposeTool, WritesTheFormatOfTheOutputsExtension) {
    const QImage expected =
        fold_frames(rendered_frames(clip_, 0, 1, 4), true, QSize(clip_.width, clip_.height));
    struct Case {
        QString name;
        QByteArray magic;
    };
    for (const Case& c : {Case{"out.bmp", "BM"}, Case{"OUT.PNG", "\x89PNG"},
                          Case{"no-extension", "\x89PNG"}, Case{"out.ppm", "P6"}}) {
        const ToolRun r = run_tool({clip_path(), "-o", out(c.name), "--count", "4"});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        QFile file(out(c.name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << c.name.toStdString();
        EXPECT_TRUE(file.read(c.magic.size()) == c.magic) << c.name.toStdString();
        file.close();
        EXPECT_EQ(difference(QImage(out(c.name)), expected), "") << c.name.toStdString();
    }
}

// A body falling from rest at a stated scale, with a smaller second body circling below
// it, out at the bottom before the end: --track's rows against where make-clip drew it,
// g from --fit parabola, and the composite beside them with -o.
TEST_F(ComposeTool, TrackWritesThePositionsAndFitPrintsGAtTheScale) {
    clipgen::ClipOptions fall = raw_clip(dir_.filePath("fall.avi"), 30, 320, 240);
    fall.motion = clipgen::Motion::Fall;
    fall.frame_number_band = false;
    fall.fps_num = 60;
    fall.pixels_per_metre = 300;
    fall.fall_g = 9.81;
    fall.second_object = true;
    ASSERT_EQ(clipgen::write_clip(fall), std::nullopt);
    const QString clip = QString::fromStdString(fall.path);
    const QString csv = out("fall.csv"), picture = out("fall.png");

    const ToolRun r =
        run_tool({clip, "--track", csv, "-o", picture, "--scale",
                  QString::number(1.0 / 300, 'g', 17), "--fit", "parabola", "--step", "2"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(QImage(picture).isNull());
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1 + 15);
    EXPECT_EQ(lines[0], "k,frame,t_s,x_px,y_px,area_px,found,x_m,y_m");
    int found = 0;
    for (int k = 0; k < 15; ++k) {
        const QStringList cells = lines[k + 1].split(',');
        ASSERT_EQ(cells.size(), 9) << lines[k + 1].toStdString();
        const int frame = 2 * k;
        EXPECT_EQ(cells[0].toInt(), k);
        EXPECT_EQ(cells[1].toInt(), frame);
        EXPECT_NEAR(cells[2].toDouble(), frame / 60.0, 1e-6);
        const clipgen::ObjectPlace bob = clipgen::bob_place(fall, frame);
        if (cells[6] == "0") {
            EXPECT_NE(bob.visibility, clipgen::Visibility::Whole) << "frame " << frame;
            EXPECT_EQ(cells.mid(3, 3).join(""), "");
            EXPECT_EQ(cells.mid(7).join(""), "");
            continue;
        }
        ++found;
        EXPECT_EQ(cells[6], "1");
        EXPECT_NE(bob.visibility, clipgen::Visibility::Hidden) << "frame " << frame;
        EXPECT_NEAR(cells[3].toDouble(), bob.centre.x(), 0.5) << "frame " << frame;
        EXPECT_NEAR(cells[4].toDouble(), bob.centre.y(), 0.5) << "frame " << frame;
        EXPECT_NEAR(cells[5].toDouble(), M_PI * bob.radius * bob.radius,
                    0.1 * M_PI * bob.radius * bob.radius);
        EXPECT_NEAR(cells[7].toDouble(), cells[3].toDouble() / 300, 3e-6);
        EXPECT_NEAR(cells[8].toDouble(), cells[4].toDouble() / 300, 3e-6);
    }
    EXPECT_GE(found, 9);
    EXPECT_LT(found, 15);  // it drops out at the bottom

    // "g = 9.81 +/- 0.01 m/s^2" among the fit's lines.
    const size_t g = r.out.find("\ng = ");
    ASSERT_NE(g, std::string::npos) << r.out;
    EXPECT_NEAR(std::stod(r.out.substr(g + 5)), 9.81, 0.0981) << r.out;
    EXPECT_NE(r.out.find(" m/s^2\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.rfind("parabola fit to the positions of ", 0), 0u) << r.out;

    // Without -o only the positions; without --scale, pixels. (Frames far enough apart
    // for the body to be elsewhere in most of them: where it is in most, the median
    // background holds it.)
    QFile::remove(csv);
    const ToolRun alone = run_tool(
        {clip, "--track", csv, "--fit", "line", "--start", "8", "--step", "4", "--count", "4"});
    EXPECT_EQ(alone.exit_code, 0) << alone.err;
    EXPECT_NE(alone.out.find("\nvy = "), std::string::npos) << alone.out;
    EXPECT_NE(alone.out.find(" px/s\n"), std::string::npos) << alone.out;
    EXPECT_TRUE(QFile::exists(csv));
    // Two positions make no parabola: told, not guessed; the positions are written.
    const ToolRun few = run_tool({clip, "--track", csv, "--fit", "parabola", "--count", "2"});
    EXPECT_EQ(few.exit_code, 0);
    EXPECT_EQ(few.out, "");
    EXPECT_EQ(few.err.rfind("tambrel-compose: warning: a parabola needs at least 4 positions", 0),
              0u)
        << few.err;

    // Failures write nothing, the composite included.
    QFile::remove(csv);
    QFile::remove(picture);
    QDir(dir_.path()).mkdir("folder.csv");
    expect_failure({clip, "--track", out("folder.csv"), "-o", picture}, 4, "a folder");
    QDir(dir_.path()).rmdir("folder.csv");
    expect_failure({clip, "--track", csv, "--start", "30"}, 2, "--start 30");
    expect_failure({clip, "--track", clip}, 2, "is the clip itself");
    expect_failure({out("none.avi"), "--track", csv}, 3);
}

TEST_F(ComposeTool, HelpDocumentsTheOptionsAndExitStatuses) {
    const ToolRun r = run_tool({"--help"});
    ASSERT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");
    for (const char* word : {"-o, --output OUT", "--start N", "--step N", "--count K",
                             "--priority white|black", "--as-shown", "316 x 236", "313 x 233",
                             "  2  usage", "  3  the clip", "  4  the output", "terminal"})
        EXPECT_NE(r.out.find(word), std::string::npos) << word;
    EXPECT_EQ(run_tool({"-h"}).out, r.out);
}

// The tool with its standard error on a pseudo-terminal; what it wrote there.
std::string run_on_terminal(const std::vector<std::string>& args, int& status) {
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return "no pseudo-terminal";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, slave, STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, master);
    std::vector<char*> argv{const_cast<char*>(TAMBREL_COMPOSE_PATH)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned =
        posix_spawn(&pid, TAMBREL_COMPOSE_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(slave);
    std::string text;
    if (spawned == 0) {
        char buffer[4096];
        for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) text.append(buffer, n);
        int raw = 0;
        waitpid(pid, &raw, 0);
        status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    ::close(master);
    return text;
}

TEST_F(ComposeTool, ShowsAProgressBarAndASummaryOnlyOnATerminal) {
    int status = -1;
    const std::string shown =
        run_on_terminal({clip_path().toStdString(), "-o", out().toStdString()}, status);
    EXPECT_EQ(status, 0) << shown;
    EXPECT_NE(shown.find("100%  20/20 frames"), std::string::npos) << shown;
    // Taken away at the end: the line is cleared after its last state, and the summary
    // takes its place (the terminal turns the line end into CR LF).
    const size_t summary = shown.rfind("\r\033[Ktambrel-compose: 20 frames merged, 0 skipped, ");
    ASSERT_NE(summary, std::string::npos) << shown;
    EXPECT_TRUE(shown.ends_with(" frames/s\r\n")) << shown;
    EXPECT_EQ(std::count(shown.begin() + summary, shown.end(), '\n'), 1) << shown;
    EXPECT_TRUE(QFile::exists(out()));

    // A failure found after the run has started is told on a line of its own, after
    // the bar has been taken away.
    if (::access("/proc", W_OK) == 0) {
        const std::string failed =
            run_on_terminal({clip_path().toStdString(), "-o", "/proc/out.png"}, status);
        EXPECT_EQ(status, 4);
        EXPECT_NE(failed.find("frames\r\033[Ktambrel-compose: cannot write '/proc/out.png'"),
                  std::string::npos)
            << failed;
    }
}

}  // namespace
}  // namespace tambrel::compose_cli::testing
