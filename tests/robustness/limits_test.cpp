// The limits that keep a large or lying clip from harming the tool: picture sizes beyond
// 16384 pixels a side or 64 megapixels are refused before a picture is allocated, the
// decoded-picture cache keeps to its bound, and a clip longer than the scroll bar can
// show takes the open handler's overflow path.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>

#include "avi_bytes.h"
#include "clipgen.h"
#include "core/surface.h"
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
