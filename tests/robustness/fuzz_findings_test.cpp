// What the clip fuzz targets (fuzz/) found, made again from make-clip clips by byte
// surgery: each case is something a damaged or oddly made file of the field carries, and
// the clip must still play it frame by frame as a player would. Under the sanitizer build
// (scripts/test-sanitize) these cases also guard against the undefined behaviour that
// was found.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QTemporaryDir>
#include <functional>

#include "avi_bytes.h"
#include "clipgen.h"
#include "core/surface.h"
#include "media/service/video_device.h"

using namespace tambrel;
using namespace tambrel::robustness;
using media::MediaError;

namespace {

constexpr int kFrames = 6;

// Every frame of the clip at `path` reached by a seek draws the frame it is, read from
// its pixels.
void expect_every_frame_drawn(const QString& path) {
    MediaError error = MediaError::None;
    auto device = media::VideoDevice::open(path.toStdString(), nullptr, error);
    ASSERT_TRUE(device) << "refused with " << media::code(error);
    ASSERT_EQ(device->length(), kFrames);
    const QSize size = device->clip().size();
    PictureSurface surface(size.width(), size.height());
    for (int n = kFrames - 1; n >= 0; --n) {
        ASSERT_EQ(device->seek(n), MediaError::None) << "frame " << n;
        ASSERT_EQ(device->update(surface), MediaError::None) << "frame " << n;
        EXPECT_EQ(clipgen::read_frame_number(surface.target()), n);
    }
}

// Offsets just past each occurrence of `marker` in `bytes`.
std::vector<qsizetype> after_each(const QByteArray& bytes, const QByteArray& marker) {
    std::vector<qsizetype> out;
    for (qsizetype at = bytes.indexOf(marker); at >= 0; at = bytes.indexOf(marker, at + 1))
        out.push_back(at + marker.size());
    return out;
}

}  // namespace

// A colour description with numbers that name no primaries, transfer or matrix (253, 118
// and 16, as the fuzzer met them). The MPEG-2 and ProRes decoders copy these from each
// picture unchecked, and the Matroska demuxer from the track's Colour element: the
// picture is drawn as an unlabelled one (the HDR clip stays HDR with BT.2020 assumed), and
// such a number is never read as its enum type, which is undefined behaviour in C++.
TEST(FuzzFindings, ColourNumbersThatNameNothingDrawAsUnlabelled) {
    QTemporaryDir dir;
    struct Case {
        const char* name;
        clipgen::Codec codec;
        clipgen::Transfer transfer;
        // Rewrites the colour numbers in the file; how many places it changed.
        std::function<int(QByteArray&)> patch;
    };
    const Case cases[] = {
        {"mpeg2.mpg", clipgen::Codec::Mpeg2, clipgen::Transfer::Sdr,
         [](QByteArray& b) {
             // Sequence display extension: its identifier 2 in the high nibble, then the
             // colour description flag, then primaries, transfer and matrix bytes.
             int n = 0;
             for (const qsizetype at : after_each(b, QByteArray("\x00\x00\x01\xb5", 4)))
                 if (at + 4 <= b.size() && (b[at] & 0xf0) == 0x20 && (b[at] & 0x01)) {
                     b[at + 1] = char(253), b[at + 2] = char(118), b[at + 3] = char(16);
                     ++n;
                 }
             return n;
         }},
        {"prores.mov", clipgen::Codec::ProRes, clipgen::Transfer::Sdr,
         [](QByteArray& b) {
             // Each frame's header follows its "icpf" tag; primaries, transfer and
             // matrix are its bytes 14 to 16.
             int n = 0;
             for (const qsizetype at : after_each(b, "icpf"))
                 if (at + 17 <= b.size()) {
                     b[at + 14] = char(253), b[at + 15] = char(118), b[at + 16] = char(16);
                     ++n;
                 }
             return n;
         }},
        {"vp9-pq.webm", clipgen::Codec::Vp9, clipgen::Transfer::Pq,
         [](QByteArray& b) {
             // The Primaries element (55 BB, one byte long) inside the Colour element.
             const qsizetype colour = b.indexOf("\x55\xb0");
             const qsizetype at = b.indexOf("\x55\xbb\x81", colour);
             if (colour < 0 || at < 0 || at > colour + 64) return 0;
             b[at + 3] = char(253);
             return 1;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clipgen::ClipOptions o;
        o.path = dir.filePath(c.name).toStdString();
        o.codec = c.codec;
        o.transfer = c.transfer;
        o.width = 128;
        o.height = 96;
        o.frames = kFrames;
        o.keyframe_interval = 3;
        const auto error = clipgen::write_clip(o);
        ASSERT_FALSE(error) << *error;
        QByteArray bytes = read_file(QString::fromStdString(o.path));
        ASSERT_GT(c.patch(bytes), 0) << "no colour description found to change";
        const QString damaged = dir.filePath(QStringLiteral("odd-") + c.name);
        ASSERT_TRUE(write_file(damaged, bytes));
        expect_every_frame_drawn(damaged);
    }
}
