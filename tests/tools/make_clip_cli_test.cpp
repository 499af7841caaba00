// The make-clip command line, run as a separate process.

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <filesystem>

#include "avi_probe.h"
#include "clipgen.h"
#include "support/decoded_clip.h"

namespace tambrel::clipgen {
namespace {

struct ToolRun {
    int exit_code = -1;
    std::string out, err;
};

ToolRun run(const QStringList& args) {
    QProcess process;
    process.start(QStringLiteral(MAKE_CLIP_PATH), args);
    ToolRun result;
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.exit_code = process.exitCode();
    result.out = process.readAllStandardOutput().toStdString();
    result.err = process.readAllStandardError().toStdString();
    return result;
}

TEST(MakeClipCommandLine, RejectsBadArgumentsWithAMessageAndExitCodeTwo) {
    QTemporaryDir dir;
    const QString out = dir.filePath("out.avi");
    const std::vector<QStringList> bad = {
        {},
        {out, "--size", "10x10"},
        {out, "--size", "320"},
        {out, "--size", "320x240x3"},
        {out, "--fps", "0"},
        {out, "--fps", "30/0"},
        {out, "--fps", "thirty"},
        {out, "--frames", "-1"},
        {out, "--frames", "70000"},
        {out, "--frames"},
        {out, "--codec", "divx"},
        {out, "--gop", "0"},
        {out, "--length", "1"},
        {out, "--pendulum", "--amplitude", "200"},
        {out, "--pendulum", "--length", "-0.5"},
        {out, "--bogus"},
        {out, dir.filePath("second.avi")},
        {out, "--codec", "hevc"},   // AVI does not hold it
        {dir.filePath("out.xyz")},  // no such container
        {dir.filePath("out.mkv"), "--codec", "h264", "--rotate", "90"},
        {dir.filePath("out.mp4"), "--codec", "h264", "--rotate", "45"},
        {dir.filePath("out.mp4"), "--codec", "h264", "--sar", "4"},
        {dir.filePath("out.mp4"), "--codec", "h264", "--sar", "0:1"},
        {dir.filePath("out.mp4"), "--codec", "h264", "--hlg"},  // needs 10 bits
        {dir.filePath("out.mkv"), "--codec", "vp9", "--capture-fps", "240"},
        {out, "--vfr"},
        {out, "--motion", "spin"},
        {out, "--g", "9.8"},         // needs --motion fall
        {out, "--velocity", "1,2"},  // needs --motion linear
        {out, "--motion", "linear", "--velocity", "1"},
        {out, "--scale", "300"},  // needs a pendulum or a fall
        {out, "--codec", "dv", "--size", "640x480"},
    };
    for (const QStringList& args : bad) {
        const ToolRun r = run(args);
        EXPECT_EQ(r.exit_code, 2) << args.join(' ').toStdString();
        EXPECT_EQ(r.err.rfind("make-clip: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("--help"), std::string::npos) << r.err;
        if (!args.isEmpty()) {
            EXPECT_FALSE(std::filesystem::exists(args.front().toStdString()))
                << args.join(' ').toStdString();
        }
    }
    const ToolRun unwritable = run({dir.filePath("no/such/dir/x.avi"), "--frames", "2"});
    EXPECT_EQ(unwritable.exit_code, 1);
    EXPECT_NE(unwritable.err.find("no/such/dir/x.avi"), std::string::npos) << unwritable.err;
}

TEST(MakeClipCommandLine, HelpListsContainersCodecsCasesAndThePendulumPeriodCheck) {
    const ToolRun r = run({"--help"});
    ASSERT_EQ(r.exit_code, 0);
    for (Codec codec : every_codec)
        EXPECT_NE(r.out.find(std::string(codec_name(codec))), std::string::npos);
    for (Container container : all_containers)
        EXPECT_NE(r.out.find(container_description(container)), std::string::npos);
    for (const char* option :
         {"--rotate", "--hflip", "--sar", "--vfr", "--hlg", "--pq", "--capture-fps", "--motion",
          "--velocity", "--start", "--g", "--texture", "--second", "Exit status", "720x480"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
    EXPECT_NE(r.out.find("2*pi*sqrt(L/g)"), std::string::npos);
    EXPECT_NE(r.out.find("L = 0.50 m, 20 degrees, 600 px/m"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1.419 s"), std::string::npos) << r.out;
}

TEST(MakeClipCommandLine, WritesTheClipItIsAskedFor) {
    QTemporaryDir dir;
    const QString out = dir.filePath("clip.avi");
    const ToolRun r = run({out, "--codec", "mpeg4", "--size", "97x65", "--fps", "25", "--frames",
                           "12", "--gop", "5", "--audio"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const testing::ProbedClip clip = testing::probe_clip(out.toStdString());
    ASSERT_EQ(clip.error, "");
    EXPECT_EQ(clip.fourcc, "FMP4");
    EXPECT_EQ(clip.width, 97);
    EXPECT_EQ(clip.height, 65);
    EXPECT_EQ(clip.rate_num, 25);
    EXPECT_EQ(clip.rate_den, 1);
    EXPECT_EQ(clip.header_frames, 12);
    EXPECT_EQ(clip.key_slots, (std::vector<int64_t>{0, 5, 10}));
    EXPECT_TRUE(clip.has_audio);
    EXPECT_EQ(clip.audio_samples, 12 * 8000 / 25);
    ASSERT_EQ(clip.frames.size(), 12u);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(read_frame_number(clip.frames[i]), i);
}

TEST(MakeClipCommandLine, WritesAPhoneClipByItsExtension) {
    QTemporaryDir dir;
    const QString out = dir.filePath("VID_0001.MP4");
    const ToolRun r =
        run({out,        "--codec", "hevc",     "--size", "128x96",        "--fps", "240",
             "--frames", "8",       "--rotate", "90",     "--capture-fps", "240",   "--audio",
             "--motion", "fall",    "--g",      "9.81",   "--scale",       "200"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");  // no encoder chatter
    const testing::DecodedClip clip = testing::decode_clip(out.toStdString());
    ASSERT_EQ(clip.facts.error, "");
    EXPECT_EQ(clip.facts.codec_name, "hevc");
    EXPECT_EQ(clip.facts.format_metadata.at("com.android.capture.fps"), "240.000000");
    EXPECT_EQ(clip.facts.audio_codec, "aac");
    ASSERT_EQ(clip.count(), 8);
    for (int n = 0; n < 8; ++n) {
        const QImage upright = clip.upright(n);
        EXPECT_EQ(upright.size(), QSize(96, 128));
        EXPECT_EQ(read_frame_number(upright), n);
    }

    // DV without a size is NTSC DV, with its own pixel shape.
    const QString dv = dir.filePath("tape.avi");
    const ToolRun made = run({dv, "--codec", "dv", "--frames", "3"});
    ASSERT_EQ(made.exit_code, 0) << made.err;
    const testing::DecodedClip tape = testing::decode_clip(dv.toStdString());
    ASSERT_EQ(tape.count(), 3);
    EXPECT_EQ(tape.facts.width, 720);
    EXPECT_EQ(tape.facts.height, 480);
    EXPECT_EQ(av_cmp_q(tape.facts.avg_frame_rate, AVRational{30000, 1001}), 0);
    EXPECT_EQ(av_cmp_q(tape.facts.sar, AVRational{8, 9}), 0);
    EXPECT_EQ(read_frame_number(tape.upright(2)), 2);
}

TEST(MakeClipCommandLine, PendulumDefaultsToTheSampleFormat) {
    QTemporaryDir dir;
    const QString out = dir.filePath("pendulum.avi");
    const ToolRun r = run({out, "--pendulum", "--frames", "3", "--fps", "30000/1001"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");  // the default swing fits the default picture
    const testing::ProbedClip clip = testing::probe_clip(out.toStdString());
    ASSERT_EQ(clip.error, "");
    EXPECT_EQ(clip.fourcc, "MJPG");
    EXPECT_EQ(clip.width, 640);
    EXPECT_EQ(clip.height, 480);
    EXPECT_EQ(clip.rate_num, 30000);
    EXPECT_EQ(clip.rate_den, 1001);
    EXPECT_EQ(clip.header_frames, 3);

    const ToolRun too_long = run({out, "--pendulum", "--frames", "2", "--length", "2"});
    EXPECT_EQ(too_long.exit_code, 0);
    EXPECT_NE(too_long.err.find("warning: the bob leaves"), std::string::npos) << too_long.err;
}

}  // namespace
}  // namespace tambrel::clipgen
