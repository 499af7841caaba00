#pragma once
// A clip read in process, typed: the engines (the composer, the tracker and the saves
// built on them) ask for frame n and get exactly frame n, drawn at the clip's own size
// or fitted into a rectangle, with no command text in between. The text protocol
// (CommandService) stays what the window and tambrel-mci speak.
//
// One reader, one thread: not thread-safe. Parts of a run read side by side through
// readers of their own (reopen()).

#include <QImage>
#include <QRect>
#include <QSize>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "media/service/media_errors.h"

namespace tambrel::media {

class MemoryBudget;
class VideoClip;

struct ReaderOptions {
    // Where the decoder's working pictures and the step-back cache are held from; null:
    // the process's budget. It must outlive the reader.
    MemoryBudget* budget = nullptr;
    // Pictures kept for stepping back, in bytes. A run that only moves forward keeps
    // none, so the decoder's buffers are reused.
    size_t cache_bound = 0;
};

struct ReaderFailure {
    MediaError error = MediaError::NotPlayable;
    std::string message;  // one line, naming the file
};

class ClipReader {
  public:
    static std::variant<std::unique_ptr<ClipReader>, ReaderFailure> open(
        const std::string& path, const ReaderOptions& options = {});
    ~ClipReader();
    ClipReader(const ClipReader&) = delete;
    ClipReader& operator=(const ClipReader&) = delete;

    // The same file opened again with the same options, for a part of a run on another
    // thread.
    std::variant<std::unique_ptr<ClipReader>, ReaderFailure> reopen() const;

    const std::string& path() const { return path_; }
    int64_t length() const;
    // The pictures as a player shows them: upright, square pixels.
    QSize size() const;
    // Nominal frames per second, and the rate the scene was filmed at (the frame rate
    // where the file states none).
    double frame_rate() const;
    double capture_rate() const;
    // Frame n's own time from frame 0 in milliseconds (to the microsecond; exact for a
    // variable rate); nullopt outside the clip.
    std::optional<double> time_ms(int64_t frame) const;
    // The frame a decoder starting for frame n starts at: the key picture at or before it.
    int64_t key_frame_at_or_before(int64_t frame) const;
    // What the decoder holds from the budget for this clip: about what reopen() costs.
    size_t working_bytes() const;

    // Decodes frame n (0 <= n < length()) and draws it over the whole of `picture`,
    // which must be RGB32 of size(): the clip at its own size. DecodeFailed when the
    // frame cannot be decoded; OutOfRange outside the clip.
    MediaError draw(int64_t frame, QImage& picture);
    // The same, scaled into `dest` of `picture` (clipped to it); pixels outside `dest`
    // are untouched.
    MediaError draw(int64_t frame, QImage& picture, const QRect& dest);

    // The service's one-line text for an error.
    static std::string error_text(MediaError error);

  private:
    ClipReader(std::string path, ReaderOptions options, std::unique_ptr<VideoClip> clip);
    std::string path_;
    ReaderOptions options_;
    std::unique_ptr<VideoClip> clip_;
};

}  // namespace tambrel::media
