// The service on clips made by tambrel_clipgen, in every codec this machine can write:
// frame numbers read back from the pictures, exact seeks and steps, decode costs,
// drawing, playback, the video window and every refusal.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>
#include <cstring>
#include <map>
#include <numeric>
#include <random>
#include <set>

#include "clipgen.h"
#include "media/service/video_window.h"
#include "robustness/avi_bytes.h"
#include "service_fixture.h"

namespace tambrel::media::testing {
namespace {

using clipgen::Codec;

constexpr int kFrames = 40;
constexpr int kGop = 12;
constexpr int kWidth = 320, kHeight = 240;

// One clip per codec for the whole run (writing them is the slow part).
const std::string& clip_path(Codec codec) {
    static QTemporaryDir dir;
    static std::map<Codec, std::string> made;
    if (auto it = made.find(codec); it != made.end()) return it->second;
    clipgen::ClipOptions o;
    o.path = QDir(dir.path())
                 .filePath(QString::fromLatin1(clipgen::codec_name(codec)) + ".avi")
                 .toStdString();
    o.codec = codec;
    o.width = kWidth;
    o.height = kHeight;
    o.frames = kFrames;
    o.keyframe_interval = kGop;
    o.audio = codec == Codec::Mpeg4;  // one clip interleaves audio chunks between frames
    if (const auto err = clipgen::write_clip(o)) ADD_FAILURE() << "write_clip: " << *err;
    return made.emplace(codec, o.path).first->second;
}

std::vector<Codec> available_codecs() {
    std::vector<Codec> out;
    for (const Codec c : clipgen::all_codecs)
        if (clipgen::codec_available(c)) out.push_back(c);
    return out;
}

class ClipTest : public ::testing::TestWithParam<Codec> {
  protected:
    void SetUp() override {
        ASSERT_EQ(h.send(ServiceHarness::open_command(clip_path(GetParam()))).rc, 0);
    }
    // The frame number the current picture carries, drawn through "update".
    int shown_number() {
        h.surface.target().fill(Qt::white);
        const Answer a = h.send("update avfile hdc " + std::to_string(h.hdc));
        EXPECT_EQ(a.rc, 0);
        const QSize size = h.device().clip().size();
        return clipgen::read_frame_number(
            h.surface.image().copy(0, 0, size.width(), size.height()));
    }
    void expect_at(int64_t n) {
        EXPECT_EQ(h.position(), n);
        EXPECT_EQ(shown_number(), n) << "picture at position " << n;
    }
    ServiceHarness h;
};

TEST_P(ClipTest, LengthPositionStepsAndSeeksLandOnTheRightPicture) {
    EXPECT_EQ(h.number("status avfile length"), kFrames);
    expect_at(0);
    for (int n = 1; n < kFrames; ++n) {
        ASSERT_EQ(h.send("step avfile").rc, 0);
        expect_at(n);
    }
    // At the last frame a step is accepted and the position stays.
    EXPECT_EQ(h.send("step avfile").rc, 0);
    expect_at(kFrames - 1);
    for (int n = kFrames - 2; n >= 0; --n) {
        ASSERT_EQ(h.send("step avfile reverse").rc, 0);
        expect_at(n);
    }
    EXPECT_EQ(h.send("step avfile reverse").rc, 0);
    expect_at(0);

    std::mt19937 rng(1234);
    for (int i = 0; i < 25; ++i) {
        const int n = static_cast<int>(rng() % kFrames);
        ASSERT_EQ(h.send("seek avfile to " + std::to_string(n)).rc, 0);
        expect_at(n);
    }
    // The length itself lands on the last frame; beyond either end is refused.
    EXPECT_EQ(h.send("seek avfile to " + std::to_string(kFrames)).rc, 0);
    expect_at(kFrames - 1);
    const Answer past = h.send("seek avfile to " + std::to_string(kFrames + 1));
    EXPECT_EQ(past.rc, code(MediaError::OutOfRange));
    EXPECT_EQ(h.send("seek avfile to -1").rc, code(MediaError::OutOfRange));
    expect_at(kFrames - 1);  // a refused seek leaves the clip where it was
}

TEST_P(ClipTest, SeekGivesExactlyThePictureThatSteppingReaches) {
    VideoClip& clip = h.device().clip();
    std::vector<uint64_t> stepped{clip.picture_digest()};
    for (int n = 1; n < kFrames; ++n) {
        ASSERT_EQ(h.send("step avfile").rc, 0);
        stepped.push_back(clip.picture_digest());
    }
    EXPECT_EQ(std::set<uint64_t>(stepped.begin(), stepped.end()).size(), size_t{kFrames})
        << "every frame of the generated clip differs";
    // Without the cache every seek decodes from its keyframe.
    clip.set_cache_bound(0);
    std::vector<int> order(kFrames);
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), std::mt19937(99));
    for (const int n : order) {
        ASSERT_EQ(h.send("seek avfile to " + std::to_string(n)).rc, 0);
        EXPECT_EQ(clip.picture_digest(), stepped[n]) << "frame " << n;
    }
}

TEST_P(ClipTest, DecodeCostsStayWithinOneGroupOfPictures) {
    VideoClip& clip = h.device().clip();
    const int64_t delay = clip.decoder_delay();
    // Forward steps: one decode each and no seek.
    ASSERT_EQ(h.send("seek avfile to 3").rc, 0);
    for (int n = 4; n < 30; ++n) {
        const auto before = clip.counters();
        ASSERT_EQ(h.send("step avfile").rc, 0);
        const auto after = clip.counters();
        EXPECT_EQ(after.seeks, before.seeks) << "step to " << n;
        EXPECT_EQ(after.decoded - before.decoded, 1) << "step to " << n;
    }
    // Backward steps inside the cached group: no decoding at all.
    for (int n = 28; n > 20; --n) {
        const auto before = clip.counters();
        ASSERT_EQ(h.send("step avfile reverse").rc, 0);
        EXPECT_EQ(clip.counters().decoded, before.decoded) << "step back to " << n;
    }
    // With room for one picture only, a backward step is one seek and at most one
    // group's decodes.
    clip.set_cache_bound(1);
    ASSERT_EQ(h.position(), 21);
    for (int n = 20; n > 10; --n) {
        const auto before = clip.counters();
        ASSERT_EQ(h.send("step avfile reverse").rc, 0);
        const auto after = clip.counters();
        const int64_t key = clip.index().key_at_or_before(n).slot;
        EXPECT_EQ(after.seeks - before.seeks, 1) << "step back to " << n;
        EXPECT_LE(after.decoded - before.decoded, n - key + 1 + delay) << "step back to " << n;
    }
    // A random seek: one keyframe seek, then the decodes up to the target.
    for (const int n : {37, 5, 26, 13}) {
        const auto before = clip.counters();
        ASSERT_EQ(h.send("seek avfile to " + std::to_string(n)).rc, 0);
        const auto after = clip.counters();
        const int64_t key = clip.index().key_at_or_before(n).slot;
        EXPECT_LE(after.seeks - before.seeks, 1) << "seek to " << n;
        EXPECT_LE(after.decoded - before.decoded, n - key + 1 + delay) << "seek to " << n;
    }
}

TEST_P(ClipTest, UpdateDrawsIntoTheDestinationRectangleOnly) {
    const QRgb fill = qRgb(0x12, 0x34, 0x56);
    ASSERT_EQ(h.send("seek avfile to 17").rc, 0);

    auto check = [&](const QRect& dest, const char* what) {
        h.surface.target().fill(fill);
        EXPECT_EQ(h.send("update avfile hdc " + std::to_string(h.hdc)).rc, 0) << what;
        const QImage& img = h.surface.image();
        int outside_changed = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                if (!dest.contains(x, y) && img.pixel(x, y) != fill) ++outside_changed;
        EXPECT_EQ(outside_changed, 0) << what;
        const QRect visible = dest.intersected(img.rect());
        int inside_fill = 0;
        for (int y = visible.top(); y <= visible.bottom(); ++y)
            for (int x = visible.left(); x <= visible.right(); ++x)
                inside_fill += img.pixel(x, y) == fill;
        EXPECT_LT(inside_fill, visible.width() * visible.height() / 10) << what;
        return img.copy(dest);
    };
    // Before any destination: the clip's own size at 0, 0.
    EXPECT_EQ(clipgen::read_frame_number(check(QRect(0, 0, kWidth, kHeight), "own size")), 17);
    ASSERT_EQ(h.send("put avfile destination at 37 21  300  225").rc, 0);
    EXPECT_EQ(clipgen::read_frame_number(check(QRect(37, 21, 300, 225), "scaled down")), 17);
    // Hanging over the surface's edges: clipped, nothing outside touched.
    ASSERT_EQ(h.send("put avfile destination at -20 100 352 264").rc, 0);
    check(QRect(-20, 100, 352, 264), "clipped");
    ASSERT_EQ(h.send("put avfile destination").rc, 0);
    check(QRect(0, 0, kWidth, kHeight), "reset to own size");
}

TEST_P(ClipTest, PlaybackFollowsTheClockAndStopsWhereItIs) {
    VideoDevice& device = h.device();
    int64_t now = 1'000'000'000;
    device.set_clock([&now] { return now; });
    const int64_t period = 1'000'000'000 / 30 + 1;  // generated clips run at 30 fps

    ASSERT_EQ(h.send("seek avfile to 4").rc, 0);
    ASSERT_EQ(h.send("play avfile window").rc, 0);
    EXPECT_TRUE(device.playing());
    now += period * 5 / 2;  // two and a half frame periods
    EXPECT_EQ(h.position(), 6);
    now += period * 10;
    EXPECT_EQ(h.position(), 16);
    EXPECT_EQ(shown_number(), 16);
    ASSERT_EQ(h.send("pause avfile").rc, 0);
    EXPECT_FALSE(device.playing());
    now += period * 10;
    EXPECT_EQ(h.position(), 16);

    // Stop, step and seek each end playback.
    ASSERT_EQ(h.send("play avfile").rc, 0);
    now += period;
    ASSERT_EQ(h.send("stop avfile").rc, 0);
    now += period * 5;
    EXPECT_EQ(h.position(), 17);
    ASSERT_EQ(h.send("play avfile").rc, 0);
    ASSERT_EQ(h.send("step avfile").rc, 0);
    now += period * 5;
    EXPECT_EQ(h.position(), 18);
    ASSERT_EQ(h.send("play avfile").rc, 0);
    ASSERT_EQ(h.send("seek avfile to 2").rc, 0);
    now += period * 5;
    EXPECT_EQ(h.position(), 2);

    // It stops by itself at the last frame.
    ASSERT_EQ(h.send("play avfile").rc, 0);
    now += period * 1000;
    EXPECT_EQ(h.position(), kFrames - 1);
    EXPECT_FALSE(device.playing());
    EXPECT_EQ(shown_number(), kFrames - 1);
    // Pausing or stopping a device that does not play is accepted.
    EXPECT_EQ(h.send("pause avfile").rc, 0);
    EXPECT_EQ(h.send("stop avfile").rc, 0);
}

TEST_P(ClipTest, ClipCutShortWithoutIndexIsScannedAndStartPointsChecked) {
    // A capture cut short has no index; the demuxer then calls every chunk a keyframe,
    // so start points must be checked on the decoded picture.
    QTemporaryDir dir;
    const QString cut = QDir(dir.path()).filePath("cut.avi");
    {
        QFile in(QString::fromStdString(clip_path(GetParam())));
        ASSERT_TRUE(in.open(QIODevice::ReadOnly));
        const QByteArray bytes = in.readAll();
        QFile out(cut);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(bytes.left(bytes.size() * 7 / 10));
    }
    ServiceHarness cut_h;
    ASSERT_EQ(cut_h.send(ServiceHarness::open_command(cut.toStdString(), "cut")).rc, 0);
    // The header's 40 frames stand; those lost with the cut fail instead of vanishing.
    const int64_t length = cut_h.number("status cut length");
    EXPECT_EQ(length, kFrames);
    VideoClip& clip = cut_h.service.device("cut")->clip();
    std::vector<uint64_t> stepped{clip.picture_digest()};
    for (int64_t n = 1; n < length; ++n) {
        const Answer a = cut_h.send("step cut");
        if (a.rc != 0) {
            EXPECT_EQ(a.rc, code(MediaError::DecodeFailed)) << "step to " << n;
            break;
        }
        stepped.push_back(clip.picture_digest());
    }
    const auto reached = static_cast<int64_t>(stepped.size()) - 1;
    EXPECT_GT(reached, kFrames / 3);
    EXPECT_LT(reached, kFrames - 1);
    EXPECT_EQ(cut_h.number("status cut position"), reached);
    for (const int64_t n : {reached + 1, (reached + length) / 2, length - 1}) {
        EXPECT_EQ(cut_h.send("seek cut to " + std::to_string(n)).rc, code(MediaError::DecodeFailed))
            << "seek to lost frame " << n;
    }
    EXPECT_EQ(cut_h.number("status cut position"), reached);
    clip.set_cache_bound(0);
    // The last chunk reached may be cut in half; every whole one carries its own number.
    for (int64_t n = reached - 1; n >= 0; n -= 3) {
        ASSERT_EQ(cut_h.send("seek cut to " + std::to_string(n)).rc, 0);
        EXPECT_EQ(clip.picture_digest(), stepped[n]) << "seek to " << n;
        cut_h.surface.target().fill(Qt::white);
        ASSERT_EQ(cut_h.send("update cut hdc " + std::to_string(cut_h.hdc)).rc, 0);
        EXPECT_EQ(clipgen::read_frame_number(cut_h.surface.image().copy(0, 0, kWidth, kHeight)), n);
    }
}

TEST_P(ClipTest, DamagedChunkAnswersAlikeOnEveryPathAndSparesTheOtherGroups) {
    // The second half of one chunk inside a group overwritten. Codecs differ in what they
    // make of it (a refusal, a picture decoded in part, a wrong one), but each frame must
    // answer alike however it is reached, and the groups around the damage keep their
    // pictures.
    VideoClip& whole = h.device().clip();
    std::vector<uint64_t> reference{whole.picture_digest()};
    for (int n = 1; n < kFrames; ++n) {
        ASSERT_EQ(whole.go_to(n), MediaError::None);
        reference.push_back(whole.picture_digest());
    }
    constexpr int kDamaged = 15;
    const int64_t group = whole.index().key_at_or_before(kDamaged).slot;
    int64_t next_group = kFrames;
    for (int64_t n = kFrames - 1; n > kDamaged; --n)
        if (whole.index().key_at_or_before(n).slot == n) next_group = n;

    QByteArray bytes = robustness::read_file(QString::fromStdString(clip_path(GetParam())));
    const auto chunks = robustness::video_chunks(bytes);
    ASSERT_GT(chunks.size(), size_t{kDamaged});
    const qsizetype at = chunks[kDamaged];
    const uint32_t size = robustness::chunk_size(bytes, at);
    for (uint32_t i = size / 2; i < size; ++i)
        bytes[at + 8 + i] = static_cast<char>((i * 37 + 11) & 0xff);
    QTemporaryDir dir;
    const std::string path = QDir(dir.path()).filePath("damaged.avi").toStdString();
    ASSERT_TRUE(robustness::write_file(QString::fromStdString(path), bytes));

    // Each path on a clip of its own: the digest of every frame's picture, 0 where it fails.
    auto answers = [&](const std::vector<int>& order, size_t cache_bound) {
        std::vector<uint64_t> out(kFrames, 1);
        MediaError error = MediaError::None;
        const auto clip = VideoClip::open(path, error);
        EXPECT_TRUE(clip) << "the damage lies after the start";
        if (!clip) return out;
        clip->set_cache_bound(cache_bound);
        for (const int n : order) {
            const MediaError e = clip->go_to(n);
            EXPECT_TRUE(e == MediaError::None || e == MediaError::DecodeFailed) << "frame " << n;
            out[n] = e == MediaError::None ? clip->picture_digest() : 0;
        }
        return out;
    };
    std::vector<int> forward(kFrames);
    std::iota(forward.begin(), forward.end(), 0);
    const std::vector<int> backward(forward.rbegin(), forward.rend());
    std::vector<int> shuffled = forward;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(5));

    const std::vector<uint64_t> stepped = answers(forward, VideoClip::kDefaultCacheBound);
    EXPECT_EQ(answers(backward, VideoClip::kDefaultCacheBound), stepped) << "stepping back";
    EXPECT_EQ(answers(shuffled, 0), stepped) << "seeking without a cache";
    for (int64_t n = 0; n < kFrames; ++n) {
        if (n < group || n >= next_group) {
            EXPECT_EQ(stepped[n], reference[n]) << "frame " << n << " outside the damaged group";
        }
    }
}

TEST_P(ClipTest, ChunkTheFileEndsInsideFailsOnEveryPath) {
    // A capture cut short inside a chunk: that frame has no whole picture. It fails like
    // the frames after it, however it is reached, and the frames before keep theirs. (A
    // decoder of plain 8-bit pictures fills the rows the chunk lacks from memory it never
    // wrote: a picture that changed from run to run.)
    VideoClip& whole = h.device().clip();
    std::vector<uint64_t> reference{whole.picture_digest()};
    for (int n = 1; n < kFrames; ++n) {
        ASSERT_EQ(whole.go_to(n), MediaError::None);
        reference.push_back(whole.picture_digest());
    }
    constexpr int kCut = 21;
    QByteArray bytes = robustness::read_file(QString::fromStdString(clip_path(GetParam())));
    const auto chunks = robustness::video_chunks(bytes);
    ASSERT_GT(chunks.size(), size_t{kCut});
    const qsizetype at = chunks[kCut];
    bytes = bytes.left(at + 8 + robustness::chunk_size(bytes, at) / 2);
    QTemporaryDir dir;
    const std::string path = QDir(dir.path()).filePath("cut.avi").toStdString();
    ASSERT_TRUE(robustness::write_file(QString::fromStdString(path), bytes));

    // The digest of every frame's picture on one path, 0 where it fails.
    auto answers = [&](const std::vector<int>& order, size_t cache_bound) {
        std::vector<uint64_t> out(kFrames, 1);
        MediaError error = MediaError::None;
        const auto clip = VideoClip::open(path, error);
        EXPECT_TRUE(clip) << "the cut lies after the start";
        if (!clip) return out;
        EXPECT_EQ(clip->length(), kFrames);
        clip->set_cache_bound(cache_bound);
        for (const int n : order) {
            const MediaError e = clip->go_to(n);
            EXPECT_TRUE(e == MediaError::None || e == MediaError::DecodeFailed) << "frame " << n;
            out[n] = e == MediaError::None ? clip->picture_digest() : 0;
        }
        return out;
    };
    std::vector<int> forward(kFrames);
    std::iota(forward.begin(), forward.end(), 0);
    const std::vector<int> backward(forward.rbegin(), forward.rend());
    std::vector<int> shuffled = forward;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(9));

    const std::vector<uint64_t> stepped = answers(forward, VideoClip::kDefaultCacheBound);
    EXPECT_EQ(answers(backward, VideoClip::kDefaultCacheBound), stepped) << "stepping back";
    EXPECT_EQ(answers(shuffled, 0), stepped) << "seeking without a cache";
    // Where the decoder reorders, a few pictures shown before the cut frame come from
    // chunks after it, or are predicted from it, and go with it.
    const int64_t reordered = std::max<int64_t>(whole.decoder_delay(), 2);
    for (int64_t n = 0; n < kFrames; ++n) {
        if (n >= kCut)
            EXPECT_EQ(stepped[n], 0u) << "frame " << n << " from the cut on";
        else if (n < kCut - reordered)
            EXPECT_EQ(stepped[n], reference[n]) << "frame " << n << " before the cut";
        else
            EXPECT_TRUE(stepped[n] == 0 || stepped[n] == reference[n]) << "frame " << n;
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, ClipTest, ::testing::ValuesIn(available_codecs()),
                         [](const auto& info) {
                             std::string name(clipgen::codec_name(info.param));
                             std::erase(name, '-');
                             return name;
                         });

class ServiceTest : public ::testing::Test {
  protected:
    const std::string& clip() { return clip_path(Codec::Mjpeg); }
    ServiceHarness h;
};

TEST_F(ServiceTest, PlaybackRunsOnTheEventLoopAndPauseHoldsThePosition) {
    ASSERT_EQ(h.send(ServiceHarness::open_command(clip())).rc, 0);
    ASSERT_EQ(h.send("play avfile window").rc, 0);
    // Wait for the timer-driven playback to move (bounded, condition-based).
    QElapsedTimer bound;
    bound.start();
    while (h.device().clip().current() < 3 && bound.elapsed() < 30'000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const int64_t reached = h.device().clip().current();
    EXPECT_GE(reached, 3);
    ASSERT_EQ(h.send("pause avfile").rc, 0);
    const int64_t held = h.position();
    EXPECT_GE(held, reached);
    QCoreApplication::processEvents();
    EXPECT_EQ(h.position(), held);
    EXPECT_FALSE(h.device().playing());
}

TEST_F(ServiceTest, TimeItemsAndSourceSizeFollowTheClip) {
    ASSERT_EQ(h.send(ServiceHarness::open_command(clip())).rc, 0);
    EXPECT_EQ(h.send("status avfile frame rate").reply, "30");
    EXPECT_EQ(h.send("status avfile capture rate").reply, "30");
    EXPECT_EQ(h.send("status avfile time").reply, "0");
    ASSERT_EQ(h.send("seek avfile to 15").rc, 0);
    EXPECT_EQ(h.send("status avfile time").reply, "500");
    ASSERT_EQ(h.send("step avfile").rc, 0);
    EXPECT_EQ(h.send("status avfile time").reply, "533.333");
    EXPECT_EQ(h.send("where avfile source").reply,
              "0 0 " + std::to_string(kWidth) + " " + std::to_string(kHeight));
    EXPECT_EQ(h.send("status nothing time").rc, code(MediaError::NotOpen));
}

TEST_F(ServiceTest, EveryRefusalHasItsNumberAndText) {
    QTemporaryDir dir;
    const std::string text_file = QDir(dir.path()).filePath("notes.avi").toStdString();
    {
        QFile f(QString::fromStdString(text_file));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("this is not a video\n");
    }
    const std::string cut_file = QDir(dir.path()).filePath("cut.avi").toStdString();
    {
        QFile in(QString::fromStdString(clip()));
        ASSERT_TRUE(in.open(QIODevice::ReadOnly));
        QFile out(QString::fromStdString(cut_file));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(in.read(300));  // the header only, no frame
    }
    // A header claiming a picture of 20000 pixels a side is refused before anything is
    // decoded or allocated.
    const std::string huge_file = QDir(dir.path()).filePath("huge.avi").toStdString();
    {
        QFile in(QString::fromStdString(clip_path(Codec::RawBgr24)));
        ASSERT_TRUE(in.open(QIODevice::ReadOnly));
        QByteArray bytes = in.readAll();
        const qsizetype strf = bytes.indexOf("strf");
        ASSERT_GT(strf, 0);
        const uint32_t width = 20000;
        std::memcpy(bytes.data() + strf + 12, &width, 4);  // BITMAPINFOHEADER.biWidth
        QFile out(QString::fromStdString(huge_file));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(bytes);
    }
    const std::string open_ok = ServiceHarness::open_command(clip());
    struct Case {
        std::string command;
        MediaError error;
    };
    const Case before_open[] = {
        {"close avfile", MediaError::NotOpen},
        {"jump avfile", MediaError::UnknownCommand},
        {"open " + encode_command_path(dir.path().toStdString() + "/missing.avi") + " alias avfile",
         MediaError::FileNotFound},
        {"open " + encode_command_path(dir.path().toStdString()) + " alias avfile",
         MediaError::FileNotFound},
        {ServiceHarness::open_command(text_file), MediaError::NotPlayable},
        {ServiceHarness::open_command(cut_file), MediaError::NotPlayable},
        {ServiceHarness::open_command(huge_file), MediaError::NotPlayable},
        {open_ok + " style child parent 424242", MediaError::UnknownHandle},
        {"open " + encode_command_path(clip()), MediaError::BadParameter},
    };
    for (const auto& c : before_open) EXPECT_EQ(h.send(c.command).rc, code(c.error)) << c.command;

    ASSERT_EQ(h.send(open_ok).rc, 0);
    const Case after_open[] = {
        {open_ok, MediaError::AliasInUse},
        {ServiceHarness::open_command(clip(), "AVFILE"), MediaError::AliasInUse},
        {"status other length", MediaError::NotOpen},
        {"seek avfile to 41", MediaError::OutOfRange},
        {"seek avfile to", MediaError::BadParameter},
        {"status avfile size", MediaError::BadParameter},
        {"put avfile destination at 0 0 0 0", MediaError::OutOfRange},
        {"update avfile hdc 424243", MediaError::UnknownHandle},
    };
    for (const auto& c : after_open) {
        char reply[256] = "stale";
        EXPECT_EQ(h.service.send_string(c.command.c_str(), reply, sizeof reply), code(c.error))
            << c.command;
        EXPECT_STREQ(reply, "") << c.command;
        char text[256] = {};
        ASSERT_TRUE(h.service.error_string(code(c.error), text, sizeof text));
        EXPECT_EQ(std::string_view(text), error_text(code(c.error)));
    }
    // Nothing of that disturbed the open clip.
    EXPECT_EQ(h.number("status AVFILE length"), kFrames);
    EXPECT_EQ(h.position(), 0);
}

TEST_F(ServiceTest, CloseFreesTheAliasAndAliasesAreSeparateDevices) {
    ASSERT_EQ(h.send(ServiceHarness::open_command(clip())).rc, 0);
    ASSERT_EQ(h.send(ServiceHarness::open_command(clip_path(Codec::Mpeg4), "second")).rc, 0);
    ASSERT_EQ(h.send("seek avfile to 9").rc, 0);
    EXPECT_EQ(h.number("status second position"), 0);
    EXPECT_EQ(h.send("close avfile").rc, 0);
    EXPECT_EQ(h.send("status avfile position").rc, code(MediaError::NotOpen));
    EXPECT_EQ(h.send("close avfile").rc, code(MediaError::NotOpen));
    ASSERT_EQ(h.send(ServiceHarness::open_command(clip())).rc, 0);
    EXPECT_EQ(h.position(), 0);  // a fresh device
    EXPECT_EQ(h.send("close second").rc, 0);
}

TEST_F(ServiceTest, VideoWindowIsAChildShowingTheFrameAtTheDestination) {
    QWidget parent;
    parent.resize(316, 236);
    const int32_t hwnd = h.handles.add_window(&parent);
    ASSERT_EQ(
        h.send(ServiceHarness::open_command(clip()) + " style child parent " + std::to_string(hwnd))
            .rc,
        0);
    auto windows = parent.findChildren<VideoWindow*>();
    ASSERT_EQ(windows.size(), 1);
    VideoWindow* window = windows[0];
    EXPECT_EQ(window->geometry(), QRect(0, 0, kWidth, kHeight));
    EXPECT_EQ(clipgen::read_frame_number(window->picture()), 0);

    ASSERT_EQ(h.send("put avfile destination at 0 0  316  236").rc, 0);
    EXPECT_EQ(window->geometry(), QRect(0, 0, 316, 236));
    EXPECT_EQ(window->picture().size(), QSize(316, 236));
    ASSERT_EQ(h.send("seek avfile to 23").rc, 0);
    EXPECT_EQ(clipgen::read_frame_number(window->picture()), 23);
    ASSERT_EQ(h.send("step avfile reverse").rc, 0);
    EXPECT_EQ(clipgen::read_frame_number(window->picture()), 22);

    ASSERT_EQ(h.send("close avfile").rc, 0);
    EXPECT_TRUE(parent.findChildren<VideoWindow*>().isEmpty());
    // Without a parent there is no window at all.
    ASSERT_EQ(h.send(ServiceHarness::open_command(clip())).rc, 0);
    EXPECT_EQ(h.device().window(), nullptr);
}

}  // namespace
}  // namespace tambrel::media::testing
