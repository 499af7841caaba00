#include "media/service/clip_reader.h"

#include "media/service/memory_budget.h"
#include "media/service/video_clip.h"

namespace tambrel::media {

std::variant<std::unique_ptr<ClipReader>, ReaderFailure> ClipReader::open(
    const std::string& path, const ReaderOptions& options) {
    MediaError error = MediaError::None;
    auto clip = VideoClip::open(path, error,
                                VideoClip::Options{options.budget, options.cache_bound});
    if (!clip) return ReaderFailure{error, "cannot open '" + path + "': " + error_text(error)};
    return std::unique_ptr<ClipReader>(new ClipReader(path, options, std::move(clip)));
}

ClipReader::ClipReader(std::string path, ReaderOptions options, std::unique_ptr<VideoClip> clip)
    : path_(std::move(path)), options_(options), clip_(std::move(clip)) {}

ClipReader::~ClipReader() = default;

std::variant<std::unique_ptr<ClipReader>, ReaderFailure> ClipReader::reopen() const {
    return open(path_, options_);
}

int64_t ClipReader::length() const { return clip_->length(); }
QSize ClipReader::size() const { return clip_->size(); }
double ClipReader::frame_rate() const { return clip_->frame_rate(); }
double ClipReader::capture_rate() const { return clip_->capture_rate(); }

std::optional<double> ClipReader::time_ms(int64_t frame) const {
    if (frame < 0 || frame >= clip_->length()) return std::nullopt;
    return static_cast<double>(clip_->time_us(frame)) / 1000.0;
}

int64_t ClipReader::key_frame_at_or_before(int64_t frame) const {
    const FrameIndex& index = clip_->index();
    return index.key_at_or_before(index.picture_of(frame)).slot;
}

size_t ClipReader::working_bytes() const { return clip_->working_bytes(); }

MediaError ClipReader::draw(int64_t frame, QImage& picture) {
    if (picture.size() != clip_->size() || picture.format() != QImage::Format_RGB32)
        return MediaError::BadParameter;
    return draw(frame, picture, picture.rect());
}

MediaError ClipReader::draw(int64_t frame, QImage& picture, const QRect& dest) {
    if (frame < 0 || frame >= clip_->length()) return MediaError::OutOfRange;
    if (const MediaError e = clip_->go_to(frame); e != MediaError::None) return e;
    return clip_->draw(picture, dest, VideoClip::Scaler::Surface);
}

std::string ClipReader::error_text(MediaError error) {
    const std::string_view text = media::error_text(code(error));
    return text.empty() ? "media error " + std::to_string(code(error)) : std::string(text);
}

}  // namespace tambrel::media
