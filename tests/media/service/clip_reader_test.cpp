// The typed reader the engines use, against the text protocol the window uses: the
// same clip gives the same length, size, times and pictures either way, frame by frame
// in any order, and a reader of its own (reopen) reads the same file.

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <random>

#include "clipgen.h"
#include "media/service/clip_reader.h"
#include "media/service/memory_budget.h"
#include "service_fixture.h"

namespace tambrel::media {
namespace {

using testing::ServiceHarness;

class ClipReaderTest : public ::testing::Test {
  protected:
    // A phone-like clip: H.264 with B-frames behind an edit list, a variable rate,
    // turned a quarter to be upright, 41 frames.
    std::string phone_clip() {
        clipgen::ClipOptions o;
        o.path = dir_.filePath("phone.mp4").toStdString();
        o.codec = clipgen::Codec::H264;
        o.width = 176;
        o.height = 144;
        o.frames = 41;
        o.keyframe_interval = 12;
        o.vfr = true;
        o.rotation = 90;
        if (const auto err = clipgen::write_clip(o)) ADD_FAILURE() << *err;
        return o.path;
    }
    QTemporaryDir dir_;
};

TEST_F(ClipReaderTest, ReadsWhatTheServiceShowsInAnyOrder) {
    const std::string path = phone_clip();
    auto opened = ClipReader::open(path);
    ASSERT_TRUE(std::holds_alternative<std::unique_ptr<ClipReader>>(opened));
    ClipReader& reader = *std::get<std::unique_ptr<ClipReader>>(opened);

    ServiceHarness service;
    ASSERT_EQ(service.send(ServiceHarness::open_command(path)).rc, 0);
    ASSERT_EQ(service.send("put avfile destination").rc, 0);
    EXPECT_EQ(reader.length(), service.number("status avfile length"));
    EXPECT_EQ(reader.length(), 41);
    EXPECT_EQ(reader.size(), QSize(144, 176));  // upright
    EXPECT_EQ(service.send("where avfile source").reply, "0 0 144 176");
    EXPECT_NEAR(reader.frame_rate(), std::stod(service.send("status avfile frame rate").reply),
                0.0005);

    std::vector<int64_t> order(static_cast<size_t>(reader.length()));
    for (size_t n = 0; n < order.size(); ++n) order[n] = int64_t(n);
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    QImage picture(reader.size(), QImage::Format_RGB32);
    PictureSurface& shown = service.surface;
    for (const int64_t n : order) {
        ASSERT_EQ(reader.draw(n, picture), MediaError::None) << n;
        EXPECT_EQ(clipgen::read_frame_number(picture), n);
        ASSERT_EQ(service.send("seek avfile to " + std::to_string(n)).rc, 0);
        ASSERT_EQ(service.send("update avfile hdc " + std::to_string(service.hdc)).rc, 0);
        EXPECT_EQ(shown.image().copy(QRect(QPoint(0, 0), reader.size())), picture) << n;
        // Times as the service tells them, to the microsecond.
        EXPECT_EQ(reader.time_ms(n), std::stod(service.send("status avfile time").reply)) << n;
    }
    EXPECT_EQ(reader.time_ms(0), 0.0);
    EXPECT_EQ(reader.time_ms(reader.length()), std::nullopt);
}

TEST_F(ClipReaderTest, FitsIntoARectangleAndRefusesWhatIsNotThere) {
    const std::string path = phone_clip();
    auto reader = std::get<std::unique_ptr<ClipReader>>(ClipReader::open(path));

    // Scaled into a rectangle: what lies outside it stays as it was.
    QImage picture(160, 190, QImage::Format_RGB32);
    picture.fill(0xFFFFFFFFu);
    const QRect dest(10, 5, 137, 168);
    ASSERT_EQ(reader->draw(5, picture, dest), MediaError::None);
    for (const QPoint outside : {QPoint(5, 50), QPoint(150, 10), QPoint(20, 180), QPoint(20, 2)})
        EXPECT_EQ(picture.pixel(outside), 0xFFFFFFFFu) << outside.x() << ", " << outside.y();
    EXPECT_EQ(clipgen::read_frame_number(picture.copy(dest)), 5);

    // Another reader of the same file reads the same frames.
    auto again = reader->reopen();
    ASSERT_TRUE(std::holds_alternative<std::unique_ptr<ClipReader>>(again));
    QImage a(reader->size(), QImage::Format_RGB32), b(reader->size(), QImage::Format_RGB32);
    ASSERT_EQ(reader->draw(33, a), MediaError::None);
    ASSERT_EQ(std::get<std::unique_ptr<ClipReader>>(again)->draw(33, b), MediaError::None);
    EXPECT_EQ(a, b);

    EXPECT_EQ(reader->draw(-1, a), MediaError::OutOfRange);
    EXPECT_EQ(reader->draw(41, a), MediaError::OutOfRange);
    QImage wrong(10, 10, QImage::Format_RGB32);
    EXPECT_EQ(reader->draw(3, wrong), MediaError::BadParameter);

    const auto missing = ClipReader::open(dir_.filePath("none.mp4").toStdString());
    ASSERT_TRUE(std::holds_alternative<ReaderFailure>(missing));
    EXPECT_EQ(std::get<ReaderFailure>(missing).error, MediaError::FileNotFound);
    EXPECT_NE(std::get<ReaderFailure>(missing).message.find("none.mp4"), std::string::npos);
}

TEST_F(ClipReaderTest, HoldsItsPicturesFromTheBudgetItIsGiven) {
    const std::string path = phone_clip();
    MemoryBudget budget(64u << 20);
    {
        auto reader =
            std::get<std::unique_ptr<ClipReader>>(ClipReader::open(path, {&budget, 0}));
        EXPECT_GT(budget.used(), 0u);
        EXPECT_EQ(budget.used(), reader->working_bytes());
    }
    EXPECT_EQ(budget.used(), 0u);
    MemoryBudget tiny(1024);
    const auto refused = ClipReader::open(path, {&tiny, 0});
    ASSERT_TRUE(std::holds_alternative<ReaderFailure>(refused));
    EXPECT_EQ(std::get<ReaderFailure>(refused).error, MediaError::NoMemory);
}

}  // namespace
}  // namespace tambrel::media
