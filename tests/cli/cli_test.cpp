// tambrel-compose run as a separate process on generated raw clips, whose decoded
// frames are exactly what render_frame paints: the composites it writes against ones
// worked out here, its options, the end of the clip, and every failure's status.

#include <gtest/gtest.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <memory>

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
    }
    static void TearDownTestSuite() { clip_dir_.reset(); }

    static QString clip_path() { return QString::fromStdString(clip_.path); }
    QString out(const QString& name = "out.png") const { return dir_.filePath(name); }

    // Runs the tool; on success loads what it wrote.
    QImage composite(QStringList args, const QString& output = {}) {
        const QString path = output.isEmpty() ? out() : output;
        args.prepend(path);
        args.prepend("-o");
        args.prepend(clip_path());
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
