// Clips in the containers, codecs and forms phones and cameras write, decoded again with
// libavformat/libavcodec as a player would: every frame there, upright, square, on time,
// with the side data that was asked for.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/log.h>
#include <libavutil/mastering_display_metadata.h>
}

#include "clip_checks.h"
#include "clipgen.h"
#include "support/decoded_clip.h"

namespace tambrel::clipgen {
namespace {

using testing::bob_centroid;
using testing::ClipFacts;
using testing::decode_clip;
using testing::DecodedClip;
using testing::mean_abs_difference;

class Quiet : public ::testing::Environment {
  public:
    void SetUp() override { av_log_set_level(AV_LOG_ERROR); }
};
const auto* const quiet = ::testing::AddGlobalTestEnvironment(new Quiet);

// How the stream says its colours are coded. Bt601: untagged, or a BT.601 matrix (what the
// JPEG and DV decoders report).
enum class Tags { Bt601, Bt709, Hlg, Pq };

struct FormatCase {
    const char* name;
    const char* file;
    Codec codec;
    const char* demuxer;  // part of libavformat's demuxer name
    const char* decoder;  // libavcodec's codec name
    Tags tags;
    const char* audio = nullptr;  // audio codec, when the clip has a track
    void (*adjust)(ClipOptions&) = nullptr;
    double tolerance = 1.0;  // bob centre, upright pixels
};

void PrintTo(const FormatCase& c, std::ostream* out) { *out << c.name; }

void rotate90(ClipOptions& o) { o.rotation = 90; }
void rotate270_slow_motion(ClipOptions& o) {
    o.rotation = 270;
    o.fps_num = 240;
    o.capture_fps = 240;
}
void upside_down_mirrored(ClipOptions& o) {
    o.rotation = 180;
    o.hflip = true;
}
void selfie_portrait(ClipOptions& o) {
    o.rotation = 90;
    o.hflip = true;
}
void wide_pixels(ClipOptions& o) { o.sar = {4, 3}; }
void tall_pixels(ClipOptions& o) { o.sar = {3, 4}; }
void hlg(ClipOptions& o) { o.transfer = Transfer::Hlg; }
void pq(ClipOptions& o) { o.transfer = Transfer::Pq; }
void ntsc_dv(ClipOptions& o) { o.width = 720, o.height = 480, o.fps_num = 30000, o.fps_den = 1001; }
void pal_dv_wide(ClipOptions& o) {
    o.width = 720, o.height = 576, o.fps_num = 25, o.sar = {64, 45};
}
void falling_vfr(ClipOptions& o) {
    o.vfr = true;
    o.motion = Motion::Fall;
    o.pixels_per_metre = 60;  // 12 frames fall about 0.8 m: 47 of the 96 pixels
}
void gliding_vfr_textured(ClipOptions& o) {
    o.vfr = true;
    o.motion = Motion::Linear;
    o.velocity = {5, 1};
    o.textured_background = true;
}

const FormatCase format_cases[] = {
    {"mp4_h264_aac", "c.mp4", Codec::H264, "mp4", "h264", Tags::Bt709, "aac"},
    {"mov_hevc_portrait", "c.mov", Codec::Hevc, "mov", "hevc", Tags::Bt709, nullptr, rotate90},
    {"mp4_hevc_slow_motion_270", "c.MP4", Codec::Hevc, "mp4", "hevc", Tags::Bt709, nullptr,
     rotate270_slow_motion},
    {"mov_h264_180_mirrored", "c.mov", Codec::H264, "mov", "h264", Tags::Bt709, "aac",
     upside_down_mirrored},
    {"mp4_av1_selfie", "c.mp4", Codec::Av1, "mp4", "av1", Tags::Bt709, nullptr, selfie_portrait,
     1.5},
    {"m4v_h264_wide_pixels", "c.m4v", Codec::H264, "mp4", "h264", Tags::Bt709, nullptr,
     wide_pixels},
    {"3gp_mpeg4_aac", "c.3gp", Codec::Mpeg4, "3gp", "mpeg4", Tags::Bt601, "aac"},
    {"mov_mjpeg", "c.mov", Codec::Mjpeg, "mov", "mjpeg", Tags::Bt601, "aac"},
    {"mov_prores", "c.mov", Codec::ProRes, "mov", "prores", Tags::Bt709},
    {"mov_dv_pal_wide", "c.mov", Codec::Dv, "mov", "dvvideo", Tags::Bt601, nullptr, pal_dv_wide,
     1.5},
    {"avi_dv_ntsc", "c.avi", Codec::Dv, "avi", "dvvideo", Tags::Bt601, "pcm_s16le", ntsc_dv, 1.5},
    {"mkv_vp9_tall_pixels", "c.mkv", Codec::Vp9, "matroska", "vp9", Tags::Bt709, nullptr,
     tall_pixels},
    {"mkv_ffv1_lossless", "c.mkv", Codec::Ffv1, "matroska", "ffv1", Tags::Bt601, "aac"},
    {"mkv_vp9_vfr_textured", "c.mkv", Codec::Vp9, "matroska", "vp9", Tags::Bt709, nullptr,
     gliding_vfr_textured},
    {"webm_vp8_opus", "c.webm", Codec::Vp8, "webm", "vp8", Tags::Bt601, "opus"},
    {"webm_av1", "c.webm", Codec::Av1, "webm", "av1", Tags::Bt709, nullptr, nullptr, 1.5},
    {"ts_h264_aac", "c.ts", Codec::H264, "mpegts", "h264", Tags::Bt709, "aac"},
    {"mts_h264_vfr_fall", "c.MTS", Codec::H264, "mpegts", "h264", Tags::Bt709, nullptr,
     falling_vfr},
    {"m2ts_hevc", "c.m2ts", Codec::Hevc, "mpegts", "hevc", Tags::Bt709},
    {"ts_mpeg2_wide_pixels", "c.ts", Codec::Mpeg2, "mpegts", "mpeg2video", Tags::Bt709, nullptr,
     wide_pixels},
    {"mpg_mpeg2_mp2", "c.mpg", Codec::Mpeg2, "mpeg", "mpeg2video", Tags::Bt709, "mp2"},
    {"wmv_wmv2_wma", "c.wmv", Codec::Wmv2, "asf", "wmv2", Tags::Bt601, "wmav2", nullptr, 1.5},
    {"mp4_h264_vfr_fall", "c.mp4", Codec::H264, "mp4", "h264", Tags::Bt709, nullptr, falling_vfr},
    {"mp4_hevc10_sdr", "c.mp4", Codec::Hevc10, "mp4", "hevc", Tags::Bt709},
    {"mp4_hevc10_hlg_portrait", "c.mp4", Codec::Hevc10, "mp4", "hevc", Tags::Hlg, nullptr,
     [](ClipOptions& o) {
         o.transfer = Transfer::Hlg;
         o.rotation = 90;
     }},
    {"mkv_hevc10_pq", "c.mkv", Codec::Hevc10, "matroska", "hevc", Tags::Pq, nullptr, pq},
    {"ts_hevc10_hlg", "c.ts", Codec::Hevc10, "mpegts", "hevc", Tags::Hlg, nullptr, hlg},
    {"webm_vp9_hlg", "c.webm", Codec::Vp9, "webm", "vp9", Tags::Hlg, nullptr, hlg},
};

// HDR frames back to SDR with the inverse of the conversion that made them (zscale, SDR
// white at 100 cd/m^2): the picture the clip was made from, give or take coding.
class SdrFromHdr {
  public:
    QImage convert(const AVFrame& frame) {
        if (!graph_ && !open(frame)) return {};
        av::FramePtr in(av_frame_clone(&frame));
        av::FramePtr out(av_frame_alloc());
        if (!in || !out || av_buffersrc_add_frame(source_, in.get()) < 0 ||
            av_buffersink_get_frame(sink_, out.get()) < 0)
            return {};
        QImage image(out->width, out->height, QImage::Format_RGB32);
        for (int y = 0; y < out->height; ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            const uint8_t* g = out->data[0] + static_cast<ptrdiff_t>(y) * out->linesize[0];
            const uint8_t* b = out->data[1] + static_cast<ptrdiff_t>(y) * out->linesize[1];
            const uint8_t* r = out->data[2] + static_cast<ptrdiff_t>(y) * out->linesize[2];
            for (int x = 0; x < out->width; ++x) line[x] = qRgb(r[x], g[x], b[x]);
        }
        return image;
    }

  private:
    bool open(const AVFrame& frame) {
        graph_.reset(avfilter_graph_alloc());
        if (!graph_) return false;
        const std::string args =
            "video_size=" + std::to_string(frame.width) + "x" + std::to_string(frame.height) +
            ":pix_fmt=" + std::to_string(frame.format) + ":time_base=1/1:pixel_aspect=1/1";
        AVFilterInOut* outputs = avfilter_inout_alloc();
        AVFilterInOut* inputs = avfilter_inout_alloc();
        bool ok = outputs != nullptr && inputs != nullptr &&
                  avfilter_graph_create_filter(&source_, avfilter_get_by_name("buffer"), "in",
                                               args.c_str(), nullptr, graph_.get()) >= 0 &&
                  avfilter_graph_create_filter(&sink_, avfilter_get_by_name("buffersink"), "out",
                                               nullptr, nullptr, graph_.get()) >= 0;
        if (ok) {
            outputs->name = av_strdup("in");
            outputs->filter_ctx = source_;
            inputs->name = av_strdup("out");
            inputs->filter_ctx = sink_;
            ok = avfilter_graph_parse_ptr(
                     graph_.get(),
                     "zscale=primaries=709:transfer=709:matrix=709:range=full:npl=203,format=gbrp",
                     &inputs, &outputs, nullptr) >= 0 &&
                 avfilter_graph_config(graph_.get(), nullptr) >= 0;
        }
        avfilter_inout_free(&outputs);
        avfilter_inout_free(&inputs);
        return ok;
    }
    struct GraphFree {
        void operator()(AVFilterGraph* graph) const { avfilter_graph_free(&graph); }
    };
    std::unique_ptr<AVFilterGraph, GraphFree> graph_;
    AVFilterContext* source_ = nullptr;
    AVFilterContext* sink_ = nullptr;
};

// The turn and mirror a player applies, as the integer matrix of (p, q) -> (a p + c q,
// b p + d q): a quarter turn clockwise maps right to down (y grows downwards); the mirror
// comes after the turn and negates x'.
std::array<int, 4> expected_orientation(const ClipOptions& o) {
    std::array<int, 4> m{1, 0, 0, 1};  // a, b, c, d
    for (int turn = 0; turn < o.rotation; turn += 90) m = {-m[1], m[0], -m[3], m[2]};
    if (o.hflip) m[0] = -m[0], m[2] = -m[2];
    return m;
}

std::array<int, 4> stated_orientation(const ClipFacts& facts) {
    if (!facts.display_matrix) return {1, 0, 0, 1};
    const auto& m = *facts.display_matrix;
    const auto unit = [](int32_t v) { return static_cast<int>(std::lround(v / 65536.0)); };
    return {unit(m[0]), unit(m[1]), unit(m[3]), unit(m[4])};
}

class ClipFormats : public ::testing::TestWithParam<FormatCase> {
  protected:
    void SetUp() override {
        if (!codec_available(GetParam().codec))
            GTEST_SKIP() << codec_name(GetParam().codec) << " encoder not available";
        ASSERT_TRUE(dir_.isValid());
    }
    QTemporaryDir dir_;
};

TEST_P(ClipFormats, DecodeToEveryFrameUprightSquareAndOnTimeWithTheirSideData) {
    const FormatCase& c = GetParam();
    ClipOptions o;
    o.path = dir_.filePath(c.file).toStdString();
    o.codec = c.codec;
    o.width = 128;
    o.height = 96;
    o.frames = 12;
    o.keyframe_interval = 5;
    o.audio = c.audio != nullptr;
    if (c.adjust) c.adjust(o);
    ASSERT_EQ(write_clip(o), std::nullopt);

    SdrFromHdr to_sdr;
    std::vector<QImage> sdr;  // HDR clips: each frame converted back
    DecodedClip clip;
    clip.facts = testing::decode_each_frame(o.path, [&](const testing::DecodedFrame& d) {
        clip.pts.push_back(d.pts);
        clip.time_us.push_back(d.time_us);
        clip.stored.push_back(testing::rgb_picture(*d.frame));
        if (c.tags == Tags::Hlg || c.tags == Tags::Pq) sdr.push_back(to_sdr.convert(*d.frame));
        if (c.tags == Tags::Pq && d.index == 0) {
            // HDR10's light levels: a tone mapper takes SDR white (100 cd/m^2) as the peak.
            const AVFrameSideData* light =
                av_frame_get_side_data(d.frame, AV_FRAME_DATA_CONTENT_LIGHT_LEVEL);
            ASSERT_NE(light, nullptr);
            EXPECT_EQ(reinterpret_cast<const AVContentLightMetadata*>(light->data)->MaxCLL, 203u);
            EXPECT_NE(av_frame_get_side_data(d.frame, AV_FRAME_DATA_MASTERING_DISPLAY_METADATA),
                      nullptr);
        }
    });
    const ClipFacts& facts = clip.facts;
    ASSERT_EQ(facts.error, "");
    EXPECT_NE(facts.format_name.find(c.demuxer), std::string::npos) << facts.format_name;
    EXPECT_EQ(facts.codec_name, c.decoder);
    ASSERT_EQ(clip.count(), o.frames);
    EXPECT_EQ(facts.decoded_frames, o.frames);

    // Side data: display matrix, pixel shape, colours, capture rate, audio.
    EXPECT_EQ(stated_orientation(facts), expected_orientation(o));
    if (facts.display_matrix && !o.hflip) {  // how a reader asks for the turn
        EXPECT_EQ(std::lround(-av_display_rotation_get(facts.display_matrix->data()) + 360) % 360,
                  o.rotation);
    }
    const Ratio sar = effective_sar(o);
    const AVRational stated = facts.sar.num == 0 ? AVRational{1, 1} : facts.sar;  // unknown: square
    EXPECT_EQ(av_cmp_q(stated, AVRational{sar.num, sar.den}), 0)
        << facts.sar.num << ":" << facts.sar.den;
    switch (c.tags) {
        case Tags::Bt601:
            EXPECT_TRUE(facts.matrix == AVCOL_SPC_UNSPECIFIED ||
                        facts.matrix == AVCOL_SPC_BT470BG || facts.matrix == AVCOL_SPC_SMPTE170M)
                << facts.matrix;
            break;
        case Tags::Bt709:
            EXPECT_EQ(facts.primaries, AVCOL_PRI_BT709);
            EXPECT_EQ(facts.transfer, AVCOL_TRC_BT709);
            EXPECT_EQ(facts.matrix, AVCOL_SPC_BT709);
            break;
        case Tags::Hlg:
        case Tags::Pq:
            EXPECT_EQ(facts.primaries, AVCOL_PRI_BT2020);
            EXPECT_EQ(facts.transfer,
                      c.tags == Tags::Hlg ? AVCOL_TRC_ARIB_STD_B67 : AVCOL_TRC_SMPTE2084);
            EXPECT_EQ(facts.matrix, AVCOL_SPC_BT2020_NCL);
            EXPECT_EQ(facts.range, AVCOL_RANGE_MPEG);
            EXPECT_EQ(av_pix_fmt_desc_get(facts.pixel_format)->comp[0].depth, 10);
            break;
    }
    if (o.capture_fps > 0)
        EXPECT_EQ(facts.format_metadata.at("com.android.capture.fps"), "240.000000");
    else
        EXPECT_EQ(facts.format_metadata.count("com.android.capture.fps"), 0u);
    EXPECT_EQ(facts.audio_streams, o.audio ? 1 : 0);
    if (c.audio) {
        EXPECT_EQ(facts.audio_codec, c.audio);
    }

    // Every frame on time (within the container's rounding), upright, square, numbered.
    const double tick_us = 1e6 * av_q2d(facts.time_base);
    const QSize shown = display_size(o);
    double worst_difference = 0;
    for (int n = 0; n < clip.count(); ++n) {
        SCOPED_TRACE("frame " + std::to_string(n));
        EXPECT_LE(std::abs(clip.time_us[n] - frame_time_us(o, n)), tick_us / 2 + 1)
            << clip.time_us[n];
        const QImage upright =
            sdr.empty() ? clip.upright(n)
                        : testing::upright_picture(sdr[n], facts.sar, facts.display_matrix);
        ASSERT_EQ(upright.size(), shown);
        EXPECT_EQ(read_frame_number(upright), n);
        if (o.rotation != 0 || o.hflip) {  // the stored picture alone does not read
            EXPECT_EQ(read_frame_number(clip.stored[n]), -1);
        }
        const auto bob = bob_centroid(upright);
        ASSERT_TRUE(bob.has_value());
        const QPointF expected = bob_position(o, n);
        EXPECT_NEAR(bob->x(), expected.x(), c.tolerance);
        EXPECT_NEAR(bob->y(), expected.y(), c.tolerance);
        const QImage reference = render_frame(o, n);
        if (c.codec == Codec::Ffv1) {
            EXPECT_EQ(upright, reference);
        }
        worst_difference = std::max(worst_difference, mean_abs_difference(upright, reference));
    }
    // Coding, chroma subsampling, the squeeze and the HDR round trip stay close (measured
    // at most 1.2 levels per channel on average, WMV 8); a wrong range or transfer would
    // move the whole dark field by several levels.
    EXPECT_LT(worst_difference, 2.0);
}

INSTANTIATE_TEST_SUITE_P(PhoneAndCameraClips, ClipFormats, ::testing::ValuesIn(format_cases),
                         [](const auto& info) { return std::string(info.param.name); });

// The B-frames of H.264 and HEVC in MP4/MOV come with an edit list (the mov muxer's way of
// starting presentation at the first picture, not the first decoded one), as phones write
// them; the decoder's count and times still start at frame 0.
TEST(ClipFormatsMp4, BFramesComeWithAnEditListAndFrameZeroStillComesFirst) {
    for (const auto* name : {"b.mp4", "b.mov"}) {
        for (Codec codec : {Codec::H264, Codec::Hevc}) {
            SCOPED_TRACE(std::string(name) + " " + std::string(codec_name(codec)));
            QTemporaryDir dir;
            ClipOptions o;
            o.path = dir.filePath(name).toStdString();
            o.codec = codec;
            o.width = 128;
            o.height = 96;
            o.frames = 20;
            o.keyframe_interval = 10;
            ASSERT_EQ(write_clip(o), std::nullopt);

            std::ifstream in(o.path, std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(in)), {});
            EXPECT_NE(bytes.find("elst"), std::string::npos);

            AVFormatContext* raw = nullptr;
            ASSERT_GE(avformat_open_input(&raw, o.path.c_str(), nullptr, nullptr), 0);
            av::InputPtr format(raw);
            av::PacketPtr packet(av_packet_alloc());
            int reordered = 0, packets = 0;
            while (av_read_frame(format.get(), packet.get()) >= 0) {
                ++packets;
                if (packet->pts != packet->dts) ++reordered;
                av_packet_unref(packet.get());
            }
            EXPECT_EQ(packets, 20);
            EXPECT_GT(reordered, 0);  // B-frames: decode order differs from display order

            const DecodedClip clip = decode_clip(o.path);
            ASSERT_EQ(clip.facts.error, "");
            ASSERT_EQ(clip.count(), 20);
            for (int n = 0; n < clip.count(); ++n) {
                EXPECT_EQ(read_frame_number(clip.upright(n)), n);
                EXPECT_EQ(clip.time_us[n], frame_time_us(o, n));
            }
            EXPECT_EQ(clip.pts.front(), 0);  // presentation starts at zero after the edit
        }
    }
}

TEST(ClipFormatsRefusals, SayWhatTheContainerOrCodecCannotDo) {
    QTemporaryDir dir;
    const auto refusal = [&](const char* file, auto change) {
        ClipOptions o;
        o.path = dir.filePath(file).toStdString();
        o.width = 128;
        o.height = 96;
        change(o);
        const auto error = validate(o);
        EXPECT_EQ(write_clip(o), error);
        EXPECT_FALSE(std::filesystem::exists(o.path)) << file;
        return error.value_or("(accepted)");
    };
    const auto says = [](const std::string& text, std::initializer_list<const char*> parts) {
        for (const char* part : parts) EXPECT_NE(text.find(part), std::string::npos) << text;
    };
    says(refusal("a.webm", [](ClipOptions& o) { o.codec = Codec::H264; }),
         {"WebM (.webm)", "cannot hold h264", "vp8, vp9, av1"});
    says(refusal("a.avi", [](ClipOptions& o) { o.codec = Codec::Hevc; }), {"AVI", "hevc"});
    says(refusal("a.wmv", [](ClipOptions& o) { o.codec = Codec::Mpeg2; }), {"ASF", "wmv2"});
    says(refusal("a.mp5", [](ClipOptions&) {}), {"a.mp5", ".mp4", ".m2ts", ".wmv"});
    says(refusal("noextension", [](ClipOptions&) {}), {".avi"});
    says(refusal("a.mkv",
                 [](ClipOptions& o) {
                     o.codec = Codec::H264;
                     o.rotation = 90;
                 }),
         {"MP4", "rotation"});
    says(refusal("a.mp4",
                 [](ClipOptions& o) {
                     o.codec = Codec::H264;
                     o.rotation = 45;
                 }),
         {"0, 90, 180 or 270"});
    says(refusal("a.3gp",
                 [](ClipOptions& o) {
                     o.codec = Codec::H264;
                     o.capture_fps = 120;
                 }),
         {"capture rate"});
    says(refusal("a.avi", [](ClipOptions& o) { o.sar = {4, 3}; }), {"AVI", "square"});
    says(refusal("a.wmv",
                 [](ClipOptions& o) {
                     o.codec = Codec::Wmv2;
                     o.sar = {4, 3};
                 }),
         {"ASF", "wmv2", "sample aspect ratio"});
    says(refusal("a.mkv",
                 [](ClipOptions& o) {
                     o.codec = Codec::Vp9;
                     o.width = 130;
                     o.sar = {4, 3};
                 }),
         {"whole pixels"});
    says(refusal("a.ts",
                 [](ClipOptions& o) {
                     o.codec = Codec::Mpeg2;
                     o.sar = {5, 4};
                 }),
         {"4:3, 16:9"});
    says(refusal("a.avi", [](ClipOptions& o) { o.vfr = true; }), {"AVI", "fixed frame rate"});
    says(refusal("a.mpg",
                 [](ClipOptions& o) {
                     o.codec = Codec::Mpeg2;
                     o.fps_num = 7;
                 }),
         {"mpeg2", "7/1"});
    says(refusal("a.mp4",
                 [](ClipOptions& o) {
                     o.codec = Codec::H264;
                     o.transfer = Transfer::Hlg;
                 }),
         {"10 bits", "hevc10"});
    says(refusal("a.mov", [](ClipOptions& o) { o.codec = Codec::Dv; }), {"720x480", "720x576"});
    says(refusal("a.mov",
                 [](ClipOptions& o) {
                     o.codec = Codec::Dv;
                     o.width = 720, o.height = 480, o.fps_num = 30000, o.fps_den = 1001;
                     o.sar = {1, 1};
                 }),
         {"8:9", "32:27"});
    says(refusal("a.webm",
                 [](ClipOptions& o) {
                     o.codec = Codec::Av1;
                     o.width = 62;
                 }),
         {"64x64"});
    says(refusal("a.mp4",
                 [](ClipOptions& o) {
                     o.codec = Codec::Hevc;
                     o.width = 127;
                 }),
         {"hevc", "even"});
    // Upper case as phones write it, and AVI as before.
    ClipOptions phone;
    phone.path = dir.filePath("IMG_0001.MOV").toStdString();
    phone.codec = Codec::Hevc;
    EXPECT_EQ(validate(phone), std::nullopt);
    EXPECT_EQ(container_for_path(phone.path), Container::Mov);
    EXPECT_EQ(container_for_path("00001.MTS"), Container::M2ts);
    EXPECT_EQ(container_for_path("dir.mp4/clip"), std::nullopt);
    ClipOptions avi;
    avi.path = "x.avi";
    EXPECT_EQ(validate(avi), std::nullopt);
}

// The pure geometry and timing the other tests and the service's tests rely on.
TEST(ClipFormatsGeometry, ShownSizeAndFrameTimesFollowTheStatedRules) {
    const auto shown = [](auto change) {
        ClipOptions o;
        o.path = "x.mp4";
        o.codec = Codec::H264;
        change(o);
        return display_size(o);
    };
    EXPECT_EQ(shown([](ClipOptions&) {}), QSize(320, 240));
    EXPECT_EQ(shown([](ClipOptions& o) { o.rotation = 90; }), QSize(240, 320));
    EXPECT_EQ(shown([](ClipOptions& o) { o.rotation = 180; }), QSize(320, 240));
    EXPECT_EQ(shown([](ClipOptions& o) { o.sar = {4, 3}; }), QSize(427, 240));  // widened
    EXPECT_EQ(shown([](ClipOptions& o) { o.sar = {3, 4}; }), QSize(320, 320));  // heightened
    EXPECT_EQ(shown([](ClipOptions& o) {
                  o.sar = {3, 4};
                  o.rotation = 270;
              }),
              QSize(320, 320));
    EXPECT_EQ(shown([](ClipOptions& o) {
                  o.sar = {2, 1};
                  o.rotation = 90;
              }),
              QSize(240, 640));
    EXPECT_EQ(shown([](ClipOptions& o) {
                  o.codec = Codec::Dv;
                  o.width = 720, o.height = 480;
              }),
              QSize(720, 540));
    EXPECT_EQ(shown([](ClipOptions& o) {
                  o.codec = Codec::Dv;
                  o.width = 720, o.height = 576, o.sar = {64, 45};
              }),
              QSize(1024, 576));

    ClipOptions o;
    o.fps_num = 30000;
    o.fps_den = 1001;
    EXPECT_EQ(frame_time_us(o, 1), 33367);  // 33366.67 rounded
    EXPECT_EQ(frame_time_us(o, 30000), 1001000000);
    o.vfr = true;
    o.fps_num = 30;
    o.fps_den = 1;
    const std::vector<int64_t> expected = {0, 30000, 63000, 99000, 129000, 162000, 198000};
    for (int n = 0; n < 7; ++n) EXPECT_EQ(frame_time_us(o, n), expected[n]) << n;
    EXPECT_EQ(frame_time_us(o, 3000), 99000000);
    o.fps_num = 60;  // 17 ms around, 2 ms either side
    EXPECT_EQ(frame_time_us(o, 3), 51000);
    EXPECT_EQ(frame_time_us(o, 4), 66000);
}

}  // namespace
}  // namespace tambrel::clipgen
