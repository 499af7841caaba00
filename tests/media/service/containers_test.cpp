// The service on the files phones and cameras write, made by make-clip: every container
// and case answers FFmpeg's own passthrough count, shows frame n upright at square pixels
// on every path (steps both ways, seeks, playback then pause), and reports the times the
// file stamps. Each case is checked against an independent decode of the same file.

#include <QDir>
#include <QTemporaryDir>
#include <cmath>
#include <numeric>
#include <random>

#include "clip_checks.h"
#include "clipgen.h"
#include "service_fixture.h"
#include "support/decoded_clip.h"

namespace tambrel::media::testing {
namespace {

using clipgen::Codec;
using clipgen::Transfer;

struct Case {
    const char* name;  // also the file's name: its extension picks the container
    Codec codec;
    int rotation = 0;
    bool hflip = false;
    clipgen::Ratio sar{};
    bool vfr = false;
    Transfer transfer = Transfer::Sdr;
    double capture_fps = 0;
    int fps = 30;
    int width = 192, height = 144;
};

const Case kCases[] = {
    {"h264_bframes.mp4", Codec::H264},
    {"hevc10.mov", Codec::Hevc10},
    {"h264.3gp", Codec::H264},
    {"vp9.mkv", Codec::Vp9},
    {"vp8.webm", Codec::Vp8},
    {"av1.mp4", Codec::Av1},
    {"mjpeg.mkv", Codec::Mjpeg},
    {"mpeg4.mp4", Codec::Mpeg4},
    {"h264.ts", Codec::H264},
    {"hevc.m2ts", Codec::Hevc},
    {"h264.mts", Codec::H264},
    {"mpeg2.mpg", Codec::Mpeg2},
    {"wmv2.wmv", Codec::Wmv2},
    {"prores.mov", Codec::ProRes},
    {"portrait90.mp4", Codec::H264, 90},
    {"upside180.mov", Codec::Hevc, 180},
    {"portrait270.mp4", Codec::H264, 270},
    {"selfie90.mp4", Codec::H264, 90, true},
    {"anamorphic.mp4", Codec::H264, 0, false, {4, 3}, false, Transfer::Sdr, 0, 30, 144, 144},
    {"tall_pixels.mkv", Codec::Vp9, 0, false, {3, 4}},
    {"vfr.mp4", Codec::H264, 0, false, {}, true},
    {"vfr.mkv", Codec::Vp9, 0, false, {}, true},
    {"slowmo.mov", Codec::Hevc, 0, false, {}, false, Transfer::Sdr, 240, 30},
    {"hlg.mov", Codec::Hevc10, 0, false, {}, false, Transfer::Hlg},
    {"pq.mp4", Codec::Hevc10, 0, false, {}, false, Transfer::Pq},
};

constexpr int kFrames = 36;
constexpr int kGop = 12;

clipgen::ClipOptions options_of(const Case& c) {
    static QTemporaryDir dir;
    clipgen::ClipOptions o;
    o.path = QDir(dir.path()).filePath(QString::fromLatin1(c.name)).toStdString();
    o.codec = c.codec;
    o.width = c.width;
    o.height = c.height;
    o.fps_num = c.fps;
    o.frames = kFrames;
    o.keyframe_interval = kGop;
    o.rotation = c.rotation;
    o.hflip = c.hflip;
    o.sar = c.sar;
    o.vfr = c.vfr;
    o.transfer = c.transfer;
    o.capture_fps = c.capture_fps;
    o.audio = true;  // phones record sound: its packets come between the frames
    return o;
}

class Containers : public ::testing::TestWithParam<Case> {
  protected:
    void SetUp() override {
        o = options_of(GetParam());
        if (!clipgen::codec_available(o.codec)) GTEST_SKIP() << "no encoder here";
        if (const auto err = clipgen::write_clip(o)) FAIL() << *err;
        reference = tambrel::testing::decode_clip(o.path);
        ASSERT_TRUE(reference.facts.error.empty()) << reference.facts.error;
        ASSERT_EQ(h.send(ServiceHarness::open_command(o.path)).rc, 0);
        const QSize shown = clipgen::display_size(o);
        picture = std::make_unique<PictureSurface>(shown.width(), shown.height());
        hdc = h.handles.add_surface(picture.get());
    }
    void TearDown() override {
        if (hdc) h.handles.remove(hdc);
    }
    QImage shown() {
        EXPECT_EQ(h.send("update avfile hdc " + std::to_string(hdc)).rc, 0);
        return picture->image();
    }
    // The band of the picture the service shows names its frame; the picture as a whole
    // is FFmpeg's own frame n, turned upright and stretched to square pixels.
    void expect_frame(int n, const char* path) {
        SCOPED_TRACE(::testing::Message() << path << " to frame " << n);
        EXPECT_EQ(h.position(), n);
        const QImage image = shown();
        EXPECT_EQ(clipgen::read_frame_number(image), n);
        if (o.transfer == Transfer::Sdr) {
            const QImage upright = reference.upright(n);
            ASSERT_EQ(upright.size(), image.size());
            EXPECT_LT(tambrel::testing::mean_abs_difference(image, upright), 2.0);
        }
    }

    clipgen::ClipOptions o;
    tambrel::testing::DecodedClip reference;
    ServiceHarness h;
    std::unique_ptr<PictureSurface> picture;
    int32_t hdc = 0;
};

TEST_P(Containers, EveryFrameOnEveryPathIsFfmpegsFrameUpright) {
    const QSize shown_size = clipgen::display_size(o);
    EXPECT_EQ(h.number("status avfile length"), reference.count());
    EXPECT_EQ(reference.count(), kFrames);
    EXPECT_EQ(h.send("where avfile source").reply, "0 0 " + std::to_string(shown_size.width()) +
                                                       " " + std::to_string(shown_size.height()));

    expect_frame(0, "open");
    for (int n = 1; n < kFrames; ++n) {
        ASSERT_EQ(h.send("step avfile").rc, 0);
        expect_frame(n, "step");
    }
    for (int n = kFrames - 2; n >= kFrames - 2 * kGop; --n) {
        ASSERT_EQ(h.send("step avfile reverse").rc, 0);
        expect_frame(n, "step back");
    }
    std::vector<int> targets(kFrames);
    std::iota(targets.begin(), targets.end(), 0);
    std::shuffle(targets.begin(), targets.end(), std::mt19937(7));
    for (const int n : targets) {
        ASSERT_EQ(h.send("seek avfile to " + std::to_string(n)).rc, 0);
        expect_frame(n, "seek");
    }
    // Playback on the clip's own times, then a pause where it stands.
    VideoDevice& device = h.device();
    int64_t now = 0;
    device.set_clock([&now] { return now; });
    ASSERT_EQ(h.send("seek avfile to 3").rc, 0);
    ASSERT_EQ(h.send("play avfile").rc, 0);
    now = (reference.time_us[20] - reference.time_us[3]) * 1000 + 1000;
    ASSERT_EQ(h.send("pause avfile").rc, 0);
    expect_frame(20, "playback");
}

TEST_P(Containers, TimesAreTheFilesOwn) {
    // The rate the frames keep on average (for a constant rate, that rate).
    const double rate = (reference.count() - 1) * 1e6 / reference.time_us.back();
    EXPECT_NEAR(std::stod(h.send("status avfile frame rate").reply), rate, rate / 100);
    if (!o.vfr) EXPECT_DOUBLE_EQ(std::stod(h.send("status avfile frame rate").reply), o.fps_num);
    EXPECT_NEAR(std::stod(h.send("status avfile capture rate").reply),
                o.capture_fps > 0 ? o.capture_fps : rate, rate / 100);
    for (const int n : {0, 1, 2, 7, 19, kFrames - 1}) {
        ASSERT_EQ(h.send("seek avfile to " + std::to_string(n)).rc, 0);
        // Milliseconds with three decimals: the stamps' own microseconds (Matroska keeps
        // whole milliseconds, MP4 the encoder's clock).
        const double ms = std::stod(h.send("status avfile time").reply);
        EXPECT_NEAR(ms, reference.time_us[n] / 1000.0, 0.0015) << "frame " << n;
        // A variable rate's uneven times come through as they were written.
        if (o.vfr) EXPECT_NEAR(ms, clipgen::frame_time_us(o, n) / 1000.0, 0.0015) << "frame " << n;
    }
}

TEST_P(Containers, HdrLooksLikeTheSdrPictureItWasMadeFrom) {
    if (o.transfer == Transfer::Sdr) GTEST_SKIP() << "SDR";
    for (const int n : {0, 17}) {
        ASSERT_EQ(h.send("seek avfile to " + std::to_string(n)).rc, 0);
        // Neither washed out nor dark: within a few levels of the picture graded for SDR.
        EXPECT_LT(tambrel::testing::mean_abs_difference(shown(), clipgen::render_frame(o, n)), 3.0)
            << "frame " << n;
        EXPECT_EQ(clipgen::read_frame_number(shown()), n);
    }
}

INSTANTIATE_TEST_SUITE_P(Phones, Containers, ::testing::ValuesIn(kCases), [](const auto& info) {
    std::string name = info.param.name;
    for (char& c : name)
        if (c == '.') c = '_';
    return name;
});

}  // namespace
}  // namespace tambrel::media::testing
