#include "compose/background.h"

#include <algorithm>
#include <cmath>

#include "compose/median.h"

namespace tambrel::compose {

int64_t background_frame_limit(QSize size) {
    const int64_t frame_bytes = std::max<int64_t>(int64_t{4} * size.width() * size.height(), 1);
    return std::min<int64_t>(kMostBackgroundFrames,
                             std::max<int64_t>(1, kBackgroundBudget / frame_bytes));
}

std::vector<int64_t> background_frames(int64_t first, int64_t last, int64_t most) {
    std::vector<int64_t> frames;
    if (last < first) return frames;
    most = std::max<int64_t>(most, 1);
    if (last - first + 1 <= most) {
        for (int64_t n = first; n <= last; ++n) frames.push_back(n);
        return frames;
    }
    const double golden = (std::sqrt(5.0) - 1) / 2;
    const double span = double(last - first);
    for (int64_t i = 0; i < most; ++i) {
        const double place = std::fmod(0.5 + double(i) * golden, 1.0);
        frames.push_back(first + std::llround(place * span));
    }
    std::sort(frames.begin(), frames.end());
    frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
    return frames;
}

std::variant<MedianPicture, RunFailure> median_background(std::span<const int64_t> frames,
                                                          QSize size, const QImage& blank,
                                                          const BackgroundSource& source) {
    using Kind = RunFailure::Kind;
    const RunFailure no_memory{Kind::Memory, "not enough memory for the background"};
    std::vector<QImage> pictures;
    for (const int64_t n : frames) {
        QImage picture = blank.isNull() ? QImage(size, QImage::Format_RGB32) : blank.copy();
        if (picture.isNull()) return no_memory;
        if (const media::MediaError e = source.draw(n, picture); e != media::MediaError::None) {
            const std::string reason(media::error_text(media::code(e)));
            if (source.strict || e != media::MediaError::DecodeFailed)
                return RunFailure{Kind::Decode, "the background's frame " + std::to_string(n) +
                                                    " cannot be decoded: " + reason};
            if (source.skipped) source.skipped(n, reason);
        } else {
            pictures.push_back(std::move(picture));
        }
        if (source.progress && !source.progress()) return RunFailure{Kind::Cancelled, "cancelled"};
    }
    if (pictures.empty()) {
        const auto [first, last] = std::minmax_element(frames.begin(), frames.end());
        return RunFailure{Kind::Decode,
                          frames.empty() ? "no frame for the background"
                                         : "no frame for the background can be decoded (frames " +
                                               std::to_string(*first) + " to " +
                                               std::to_string(*last) + ")"};
    }
    std::vector<ConstPixelBlock> blocks;
    for (const QImage& p : pictures)
        blocks.push_back({reinterpret_cast<const uint32_t*>(p.constBits()), p.bytesPerLine() / 4});
    QImage median(size, QImage::Format_RGB32);
    if (median.isNull()) return no_memory;
    median_rgb32(blocks, reinterpret_cast<uint32_t*>(median.bits()), median.bytesPerLine() / 4,
                 median.width(), median.height());
    return MedianPicture{std::move(median), static_cast<int>(pictures.size())};
}

}  // namespace tambrel::compose
