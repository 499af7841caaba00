// Real-world AVI clips from the shared folder (TAMBREL_CLIPS, or ../shared/clips beside
// the source tree). For every clip: the answered length, every frame reached by
// stepping equal to a plain sequential decode of the file, and seeks and backward
// steps equal to what stepping reached.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
}

#include <QDir>
#include <algorithm>
#include <filesystem>
#include <map>
#include <random>

#include "media/service/frame_digest.h"
#include "service_fixture.h"

namespace tambrel::media::testing {
namespace {

namespace fs = std::filesystem;

fs::path clips_dir() {
    if (const char* env = std::getenv("TAMBREL_CLIPS"); env && *env) return env;
    return fs::path(TAMBREL_SOURCE_DIR) / ".." / "shared" / "clips";
}

std::vector<fs::path> clip_files() {
    std::vector<fs::path> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(clips_dir(), ec))
        if (e.path().extension() == ".avi") out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

// Frame counts, empty "repeat the previous frame" chunks included. mpeg2-vcr2 answers
// 157: its stream header and index hold 157 frames; only the file header's total says
// 158, and no chunk stands behind the 158th.
const std::map<std::string, int64_t> kLengths = {
    {"ball-roll-mjpeg.avi", 51},       {"ball-roll-msmpeg4v2.avi", 51},
    {"bbb-h264-bframes.avi", 300},     {"bounce-synthetic-fmp4.avi", 44},
    {"cinepak-100x75-pcm.avi", 152},   {"mjpeg-nullframes-ac3.avi", 9},
    {"mpeg2-vcr2-pcm.avi", 157},       {"msvideo1-pal8-skating.avi", 225},
    {"msvideo1-rgb555-clock.avi", 30}, {"road-xvid-mp3.avi", 360},
    {"xvid-packed-bframes.avi", 15},
};

// The reference: decode the whole file from its start, in one go, one thread, and take
// the i-th picture out as the picture of the i-th data chunk in slot order.
struct Reference {
    std::vector<int64_t> data_slots;  // data_slots of the chunks with data, ascending
    std::vector<uint64_t> digests;    // pictures in output order
    uint64_t at(int64_t frame) const {
        auto it = std::upper_bound(data_slots.begin(), data_slots.end(), frame);
        size_t i = it == data_slots.begin() ? 0 : static_cast<size_t>(it - data_slots.begin()) - 1;
        i = std::min(i, digests.size() - 1);  // frames past the last picture show it
        return digests[i];
    }
};

Reference decode_reference(const std::string& path) {
    Reference ref;
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return ref;
    const AVCodec* codec = nullptr;
    const int vs = avformat_find_stream_info(fmt, nullptr) < 0
                       ? -1
                       : av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    AVCodecContext* dec = vs >= 0 ? avcodec_alloc_context3(codec) : nullptr;
    AVBSFContext* bsf = nullptr;
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    bool ok = dec && avcodec_parameters_to_context(dec, fmt->streams[vs]->codecpar) >= 0;
    if (ok) {
        dec->thread_count = 1;
        ok = avcodec_open2(dec, codec, nullptr) >= 0;
    }
    if (ok && fmt->streams[vs]->codecpar->codec_id == AV_CODEC_ID_MPEG4) {
        ok = av_bsf_alloc(av_bsf_get_by_name("mpeg4_unpack_bframes"), &bsf) >= 0 &&
             avcodec_parameters_copy(bsf->par_in, fmt->streams[vs]->codecpar) >= 0 &&
             av_bsf_init(bsf) >= 0;
    }
    auto drain = [&] {
        while (avcodec_receive_frame(dec, frame) == 0) {
            ref.digests.push_back(frame_digest(*frame));
            av_frame_unref(frame);
        }
    };
    auto decode = [&](AVPacket* p) {
        EXPECT_GE(avcodec_send_packet(dec, p), 0) << path;
        drain();
    };
    while (ok && av_read_frame(fmt, pkt) >= 0) {
        if (pkt->stream_index == vs && pkt->size > 0) {
            ref.data_slots.push_back(pkt->dts);
            if (bsf) {
                EXPECT_GE(av_bsf_send_packet(bsf, pkt), 0);
                while (av_bsf_receive_packet(bsf, pkt) == 0) decode(pkt);
            } else {
                decode(pkt);
            }
        }
        av_packet_unref(pkt);
    }
    if (ok) decode(nullptr);
    std::sort(ref.data_slots.begin(), ref.data_slots.end());
    av_frame_free(&frame);
    av_packet_free(&pkt);
    av_bsf_free(&bsf);
    avcodec_free_context(&dec);
    avformat_close_input(&fmt);
    return ref;
}

class RealClip : public ::testing::TestWithParam<fs::path> {};

TEST_P(RealClip, AnswersLengthAndStepsAndSeeksExactly) {
    const fs::path path = GetParam();
    const std::string name = path.filename().string();
    ServiceHarness h;
    ASSERT_EQ(h.send(ServiceHarness::open_command(path.string())).rc, 0) << name;
    const int64_t length = h.number("status avfile length");
    if (const auto it = kLengths.find(name); it != kLengths.end()) {
        EXPECT_EQ(length, it->second);
    }
    ASSERT_GT(length, 0);
    EXPECT_EQ(h.position(), 0);

    const Reference ref = decode_reference(path.string());
    ASSERT_FALSE(ref.digests.empty()) << name;
    VideoClip& clip = h.device().clip();

    std::vector<uint64_t> stepped{clip.picture_digest()};
    for (int64_t n = 1; n < length; ++n) {
        ASSERT_EQ(h.send("step avfile").rc, 0) << name << " step to " << n;
        stepped.push_back(clip.picture_digest());
    }
    EXPECT_EQ(h.position(), length - 1);
    for (int64_t n = 0; n < length; ++n)
        EXPECT_EQ(stepped[n], ref.at(n)) << name << ": frame " << n << " reached by stepping";

    // Seeks: every frame of a short clip, a sample of a long one, plus each keyframe
    // and its neighbours (where start-point mistakes show).
    std::vector<int64_t> targets;
    if (length <= 60) {
        for (int64_t n = 0; n < length; ++n) targets.push_back(n);
    } else {
        std::mt19937 rng(7);
        for (int i = 0; i < 40; ++i) targets.push_back(static_cast<int64_t>(rng() % length));
    }
    for (int64_t n = 0; n < length; ++n) {
        if (clip.index().is_data(n) && clip.index().key_at_or_before(n).slot == n) {
            for (const int64_t t : {n - 1, n, n + 1})
                if (t >= 0 && t < length) targets.push_back(t);
        }
        if (targets.size() > 120) break;
    }
    std::shuffle(targets.begin(), targets.end(), std::mt19937(11));
    for (const int64_t n : targets) {
        ASSERT_EQ(h.send("seek avfile to " + std::to_string(n)).rc, 0) << name;
        EXPECT_EQ(h.position(), n);
        EXPECT_EQ(clip.picture_digest(), stepped[n]) << name << ": seek to " << n;
    }
    // Backward steps from the end, with the cache too small to help: each one goes
    // back to its keyframe.
    clip.set_cache_bound(1);
    ASSERT_EQ(h.send("seek avfile to " + std::to_string(length)).rc, 0);
    for (int64_t n = length - 2; n >= std::max<int64_t>(0, length - 12); --n) {
        ASSERT_EQ(h.send("step avfile reverse").rc, 0);
        EXPECT_EQ(clip.picture_digest(), stepped[n]) << name << ": step back to " << n;
    }
    // The picture draws in the clip's pixel format.
    h.surface.target().fill(Qt::white);
    ASSERT_EQ(h.send("put avfile destination at 0 0  316  236").rc, 0);
    ASSERT_EQ(h.send("update avfile hdc " + std::to_string(h.hdc)).rc, 0);
    int white = 0;
    for (int y = 0; y < 236; ++y)
        for (int x = 0; x < 316; ++x) white += h.surface.image().pixel(x, y) == qRgb(255, 255, 255);
    EXPECT_LT(white, 316 * 236) << name << ": nothing drawn";
    EXPECT_EQ(h.send("close avfile").rc, 0);
}

INSTANTIATE_TEST_SUITE_P(Shared, RealClip, ::testing::ValuesIn(clip_files()), [](const auto& info) {
    std::string s = info.param.stem().string();
    std::replace_if(
        s.begin(), s.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); },
        '_');
    return s;
});

// Keeps the run honest when the folder is missing: one test that says it skipped.
TEST(RealClips, FolderPresent) {
    if (clip_files().empty()) GTEST_SKIP() << "no clips in " << clips_dir();
    SUCCEED();
}
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(RealClip);

}  // namespace
}  // namespace tambrel::media::testing
