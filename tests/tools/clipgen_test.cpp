// Clips written by make-clip, decoded again with libavformat/libavcodec.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTransform>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

extern "C" {
#include <libavutil/log.h>
}

#include "avi_probe.h"
#include "clip_checks.h"
#include "clipgen.h"

namespace tambrel::clipgen {
namespace {

using testing::bob_centroid;
using testing::mean_abs_difference;
using testing::probe_clip;
using testing::ProbedClip;

class Quiet : public ::testing::Environment {
  public:
    void SetUp() override { av_log_set_level(AV_LOG_ERROR); }
};
const auto* const quiet = ::testing::AddGlobalTestEnvironment(new Quiet);

QImage scaled(const QImage& image, double fx, double fy) {
    return image.scaled(static_cast<int>(std::lround(image.width() * fx)),
                        static_cast<int>(std::lround(image.height() * fy)), Qt::IgnoreAspectRatio,
                        Qt::SmoothTransformation);
}

bool intra_only(Codec codec) {
    return codec == Codec::RawBgr24 || codec == Codec::RawPal8 || codec == Codec::Mjpeg ||
           codec == Codec::HuffYuv;
}

bool lossless(Codec codec) {
    return codec == Codec::RawBgr24 || codec == Codec::Ffv1 || codec == Codec::HuffYuv;
}

// ---- The frame-number band on its own ----

TEST(FrameNumberBand, ReadsEveryPatternAtAnySizeScaleAndFormat) {
    const std::vector<int> numbers = {0, 1, 2, 0x5555, 0xAAAA, 0x00FF, 0xFF00, 12345, 65535};
    const std::vector<QSize> sizes = {{96, 72}, {161, 121}, {320, 240}, {640, 480}};
    for (QSize size : sizes) {
        ClipOptions options;
        options.width = size.width();
        options.height = size.height();
        for (int number : numbers) {
            SCOPED_TRACE(std::to_string(size.width()) + "x" + std::to_string(size.height()) + " #" +
                         std::to_string(number));
            const QImage image = render_frame(options, number);
            EXPECT_EQ(read_frame_number(image), number);
            for (auto [fx, fy] : {std::pair{0.9, 0.9}, {1.1, 1.1}, {0.92, 1.08}, {1.08, 0.92}})
                EXPECT_EQ(read_frame_number(scaled(image, fx, fy)), number) << fx << "x" << fy;
            for (auto format : {QImage::Format_Grayscale8, QImage::Format_RGB888,
                                QImage::Format_ARGB32_Premultiplied, QImage::Format_Indexed8})
                EXPECT_EQ(read_frame_number(image.convertToFormat(format)), number) << format;
        }
    }
    // The window's picture area: 320 x 240 shown in 316 x 236.
    ClipOptions options;
    const QImage frame = render_frame(options, 4321);
    EXPECT_EQ(
        read_frame_number(frame.scaled(316, 236, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)),
        4321);
}

TEST(FrameNumberBand, RejectsPicturesThatCarryNoValidNumber) {
    ClipOptions options;
    options.width = 161;
    options.height = 121;
    EXPECT_EQ(read_frame_number(QImage()), -1);
    QImage blank(161, 121, QImage::Format_RGB32);
    blank.fill(Qt::black);
    EXPECT_EQ(read_frame_number(blank), -1);
    blank.fill(Qt::white);
    EXPECT_EQ(read_frame_number(blank), -1);
    // An upside-down picture (a bottom-up DIB read top-down) must not yield a number.
    const QImage frame = render_frame(options, 777);
    EXPECT_EQ(read_frame_number(frame.transformed(QTransform().scale(1, -1))), -1);
    EXPECT_EQ(read_frame_number(frame.transformed(QTransform().scale(-1, 1))), -1);

    // Any single wrong cell is caught by the check bits rather than read as another number.
    // Band layout: 11 equal columns (markers in the first and last), 2 rows of
    // max(8, height/20) pixels.
    const int row = std::max(8, static_cast<int>(std::lround(options.height / 20.0)));
    for (int number : {0, 777, 0xFFFF}) {
        const QImage original = render_frame(options, number);
        for (int r = 0; r < 2; ++r) {
            for (int c = 1; c < 10; ++c) {
                QImage damaged = original;
                const int x0 = static_cast<int>(std::lround(c * options.width / 11.0));
                const int x1 = static_cast<int>(std::lround((c + 1) * options.width / 11.0));
                for (int y = r * row; y < (r + 1) * row; ++y)
                    for (int x = x0; x < x1; ++x)
                        damaged.setPixel(x, y, damaged.pixel(x, y) ^ 0x00FFFFFF);
                EXPECT_EQ(read_frame_number(damaged), -1)
                    << "number " << number << " cell " << r << "," << c;
            }
        }
    }
}

TEST(FrameNumberBand, CanBeLeftOutForTheSample) {
    ClipOptions options;
    options.motion = Motion::Pendulum;
    options.width = 640;
    options.height = 480;
    options.frame_number_band = false;
    const QImage frame = render_frame(options, 12);
    EXPECT_EQ(read_frame_number(frame), -1);
    // The top edge is plain field, with no white cells.
    for (int x = 0; x < frame.width(); x += 7) EXPECT_LT(qGray(frame.pixel(x, 2)), 64) << x;
}

TEST(FrameNumberBand, BobStaysClearOfTheBandAndInsideThePicture) {
    for (QSize size : {QSize(96, 72), QSize(161, 121), QSize(640, 480)}) {
        ClipOptions options;
        options.width = size.width();
        options.height = size.height();
        const double radius = size.height() / 16.0;
        const int band = 2 * std::max(8, static_cast<int>(std::lround(size.height() / 20.0)));
        for (int frame = 0; frame < 120; ++frame) {
            const QPointF bob = bob_position(options, frame);
            EXPECT_GE(bob.y() - radius, band + 1) << frame;
            EXPECT_LE(bob.y() + radius, size.height()) << frame;
            EXPECT_GE(bob.x() - radius, 0) << frame;
            EXPECT_LE(bob.x() + radius, size.width()) << frame;
        }
    }
}

// ---- Round trips through each codec ----

class CodecRoundTrip : public ::testing::TestWithParam<Codec> {
  protected:
    void SetUp() override {
        if (!codec_available(GetParam()))
            GTEST_SKIP() << codec_name(GetParam()) << " encoder not available";
        ASSERT_TRUE(dir_.isValid());
    }
    std::string path(const std::string& name) const {
        return dir_.filePath(QString::fromStdString(name)).toStdString();
    }
    QTemporaryDir dir_;
};

TEST_P(CodecRoundTrip, EveryFrameDecodesWithItsNumberAndBob) {
    const Codec codec = GetParam();
    // Fewer frames at the largest size: the Cinepak encoder is slow.
    for (auto [size, frames] :
         {std::pair{QSize(96, 72), 24}, {QSize(161, 121), 24}, {QSize(320, 240), 8}}) {
        SCOPED_TRACE(std::to_string(size.width()) + "x" + std::to_string(size.height()));
        ClipOptions options;
        options.path = path("clip.avi");
        options.codec = codec;
        options.width = size.width();
        options.height = size.height();
        options.frames = frames;
        options.keyframe_interval = 5;
        ASSERT_EQ(write_clip(options), std::nullopt);

        const ProbedClip clip = probe_clip(options.path);
        ASSERT_EQ(clip.error, "");
        const QSize coded = encoded_size(codec, size.width(), size.height());
        EXPECT_EQ(clip.width, coded.width());
        EXPECT_EQ(clip.height, coded.height());
        EXPECT_EQ(clip.rate_num, 30);
        EXPECT_EQ(clip.rate_den, 1);
        EXPECT_EQ(clip.header_frames, frames);
        ASSERT_EQ(clip.frames.size(), static_cast<size_t>(frames));
        double worst_difference = 0;
        for (int i = 0; i < frames; ++i) {
            const QImage& frame = clip.frames[i];
            ASSERT_EQ(frame.size(), coded);
            EXPECT_EQ(read_frame_number(frame), i);
            EXPECT_EQ(read_frame_number(scaled(frame, 0.9, 0.9)), i);
            EXPECT_EQ(read_frame_number(scaled(frame, 1.1, 1.1)), i);
            if (size == QSize(320, 240)) {
                EXPECT_EQ(read_frame_number(frame.scaled(316, 236, Qt::IgnoreAspectRatio,
                                                         Qt::SmoothTransformation)),
                          i);
            }
            const auto bob = bob_centroid(frame);
            ASSERT_TRUE(bob.has_value()) << "frame " << i;
            const QPointF expected = bob_position(options, i);
            EXPECT_NEAR(bob->x(), expected.x(), 1.0) << "frame " << i;
            EXPECT_NEAR(bob->y(), expected.y(), 1.0) << "frame " << i;

            const QImage reference = render_frame(options, i);
            const QImage decoded = frame.copy(0, 0, size.width(), size.height());
            if (lossless(codec)) {
                EXPECT_EQ(decoded, reference) << "frame " << i;
            }
            worst_difference = std::max(worst_difference, mean_abs_difference(decoded, reference));
        }
        // Palette rounding and the lossy codecs at their quality settings stay close (all
        // measured under 1 level per channel on average).
        EXPECT_LT(worst_difference, 2.0);
    }
}

TEST_P(CodecRoundTrip, ChunksFillEverySlotAndKeyFramesKeepTheInterval) {
    const Codec codec = GetParam();
    ClipOptions options;
    options.path = path("gop.avi");
    options.codec = codec;
    options.width = 96;
    options.height = 72;
    options.frames = 30;
    options.keyframe_interval = 7;
    ASSERT_EQ(write_clip(options), std::nullopt);
    const ProbedClip clip = probe_clip(options.path);
    ASSERT_EQ(clip.error, "");
    std::vector<int64_t> every_slot(30);
    for (int i = 0; i < 30; ++i) every_slot[i] = i;
    EXPECT_EQ(clip.packet_slots, every_slot);
    std::vector<int64_t> keys;
    for (int i = 0; i < 30; i += intra_only(codec) ? 1 : 7) keys.push_back(i);
    EXPECT_EQ(clip.key_slots, keys);
    EXPECT_EQ(clip.frames.size(), 30u);
}

INSTANTIATE_TEST_SUITE_P(AllCodecs, CodecRoundTrip, ::testing::ValuesIn(all_codecs),
                         [](const auto& info) {
                             std::string name(codec_name(info.param));
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST(CodecAvailability, DebianFfmpegEncodesEveryCodecAndNamesRoundTrip) {
    for (Codec codec : all_codecs) {
        EXPECT_EQ(codec_from_name(codec_name(codec)), codec);
        // Debian's FFmpeg 5.1 ships all of these encoders, libx264 included.
        EXPECT_TRUE(codec_available(codec)) << codec_name(codec);
    }
    EXPECT_EQ(codec_from_name("xvid"), std::nullopt);
    EXPECT_EQ(encoded_size(Codec::MsVideo1, 161, 121), QSize(164, 124));
    EXPECT_EQ(encoded_size(Codec::Cinepak, 160, 120), QSize(160, 120));
    EXPECT_EQ(encoded_size(Codec::H264, 161, 121), QSize(161, 121));
}

// ---- Packed B-frames as DivX and Xvid store them ----

TEST(PackedBFramesClip, DecodesTheSameWithAndWithoutUnpacking) {
    QTemporaryDir dir;
    ClipOptions options;
    options.path = dir.filePath("packed.avi").toStdString();
    options.codec = Codec::Mpeg4BFrames;
    options.width = 160;
    options.height = 120;
    options.frames = 40;
    options.keyframe_interval = 12;
    ASSERT_EQ(write_clip(options), std::nullopt);

    const ProbedClip packed = probe_clip(options.path, false);
    const ProbedClip unpacked = probe_clip(options.path, true);
    ASSERT_EQ(packed.error, "");
    ASSERT_EQ(unpacked.error, "");
    EXPECT_EQ(packed.fourcc, "XVID");
    EXPECT_EQ(packed.header_frames, 40);
    ASSERT_EQ(packed.frames.size(), 40u);
    ASSERT_EQ(unpacked.frames.size(), 40u);
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(read_frame_number(packed.frames[i]), i);
        EXPECT_EQ(read_frame_number(unpacked.frames[i]), i);
    }
    // Slots left by a reference travelling with a B-frame hold a not-coded VOP.
    const int tiny =
        static_cast<int>(std::count_if(packed.packet_sizes.begin(), packed.packet_sizes.end(),
                                       [](int size) { return size <= 8; }));
    EXPECT_GT(tiny, 5);
    const std::string first(packed.first_packets.at(0).begin(), packed.first_packets.at(0).end());
    EXPECT_NE(first.find("DivX999b000p"), std::string::npos);
}

// ---- Audio ----

TEST(ClipAudio, PcmTrackCoversTheWholeClipOnlyWhenAsked) {
    QTemporaryDir dir;
    ClipOptions options;
    options.path = dir.filePath("audio.avi").toStdString();
    options.codec = Codec::Mjpeg;
    options.width = 96;
    options.height = 72;
    options.frames = 45;
    options.audio = true;
    ASSERT_EQ(write_clip(options), std::nullopt);
    ProbedClip clip = probe_clip(options.path);
    ASSERT_EQ(clip.error, "");
    EXPECT_TRUE(clip.has_audio);
    EXPECT_EQ(clip.audio_codec, "pcm_s16le");
    EXPECT_EQ(clip.audio_rate, 8000);
    EXPECT_EQ(clip.audio_channels, 1);
    EXPECT_EQ(clip.audio_samples, 12000);  // 1.5 s
    EXPECT_EQ(clip.frames.size(), 45u);

    // NTSC rate: 30 frames of 1001/30000 s.
    options.fps_num = 30000;
    options.fps_den = 1001;
    options.frames = 30;
    ASSERT_EQ(write_clip(options), std::nullopt);
    clip = probe_clip(options.path);
    ASSERT_EQ(clip.error, "");
    EXPECT_EQ(clip.rate_num, 30000);
    EXPECT_EQ(clip.rate_den, 1001);
    EXPECT_EQ(clip.audio_samples, 8008);
    EXPECT_EQ(clip.frames.size(), 30u);

    options.audio = false;
    ASSERT_EQ(write_clip(options), std::nullopt);
    clip = probe_clip(options.path);
    ASSERT_EQ(clip.error, "");
    EXPECT_FALSE(clip.has_audio);
}

// ---- Failures ----

TEST(WriteClip, RefusesBadOptionsWithoutTouchingFiles) {
    QTemporaryDir dir;
    const std::string existing = dir.filePath("existing.avi").toStdString();
    std::ofstream(existing) << "keep me";
    ClipOptions good;
    good.path = existing;
    const auto refused = [&](auto change) {
        ClipOptions options = good;
        change(options);
        const auto error = write_clip(options);
        EXPECT_TRUE(error.has_value());
        EXPECT_EQ(std::filesystem::file_size(existing), 7u);
        return error.value_or("");
    };
    refused([](ClipOptions& o) { o.path.clear(); });
    refused([](ClipOptions& o) { o.width = 40; });
    refused([](ClipOptions& o) { o.height = 5000; });
    refused([](ClipOptions& o) { o.fps_num = 0; });
    refused([](ClipOptions& o) { o.fps_den = -1; });
    refused([](ClipOptions& o) { o.frames = 0; });
    EXPECT_NE(refused([](ClipOptions& o) { o.frames = max_frame_number + 2; }).find("65536"),
              std::string::npos);
    refused([](ClipOptions& o) { o.keyframe_interval = 0; });
    refused([](ClipOptions& o) {
        o.motion = Motion::Pendulum;
        o.pendulum_length_m = 0;
    });
    refused([](ClipOptions& o) {
        o.motion = Motion::Pendulum;
        o.amplitude_deg = 180;
    });

    ClipOptions unwritable = good;
    unwritable.path = dir.filePath("missing/dir/clip.avi").toStdString();
    const auto error = write_clip(unwritable);
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find("missing/dir/clip.avi"), std::string::npos);
}

}  // namespace
}  // namespace tambrel::clipgen
