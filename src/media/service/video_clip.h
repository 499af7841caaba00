#pragma once
// A video clip on FFmpeg, in any container its demuxers read (AVI, MP4/MOV,
// Matroska/WebM, MPEG transport and program streams, ASF): frame-exact access to any
// frame by number, and drawing of the current picture into a QImage. No FFmpeg type
// appears here.
//
// Access pattern it is built for: stepping forward costs one decode; stepping back is
// served from a byte-bounded cache of decoded pictures and costs at most one decode
// from the group's keyframe; a random seek is one keyframe seek plus the decodes up to
// the target. Every decode loop is bounded, so a damaged file ends in an error, never
// a hang. One owner, one thread: not thread-safe.

#include <QImage>
#include <QRect>
#include <QSize>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "media/service/frame_index.h"
#include "media/service/media_errors.h"

namespace tambrel::media {

class MemoryBudget;

// Largest accepted picture: per side and in total. Checked before anything is allocated.
inline constexpr int kMaxFrameSide = 16384;
inline constexpr int64_t kMaxFramePixels = 64LL * 1024 * 1024;

class VideoClip {
  public:
    // Decoded pictures kept for stepping back, by their size in bytes.
    static constexpr size_t kDefaultCacheBound = 128u * 1024 * 1024;

    struct Counters {
        int64_t decoded = 0;     // pictures received from the decoder
        int64_t seeks = 0;       // container seeks (keyframe starts)
        int64_t cache_hits = 0;  // requests served without decoding
    };

    struct Options {
        // Where the clip's working pictures and its step-back cache are held from;
        // null: the process's budget. It must outlive the clip.
        MemoryBudget* budget = nullptr;
        // Decoded pictures kept for stepping back, in bytes (0: none; a run that only
        // goes forward keeps the decoder's buffers free for reuse).
        size_t cache_bound = kDefaultCacheBound;
    };

    // Opens `path` and decodes its first picture. On failure returns nullptr and sets
    // `error` (FileNotFound, NotPlayable, NoMemory).
    static std::unique_ptr<VideoClip> open(const std::string& path, MediaError& error,
                                           const Options& options);
    static std::unique_ptr<VideoClip> open(const std::string& path, MediaError& error) {
        return open(path, error, Options{});
    }
    ~VideoClip();
    VideoClip(const VideoClip&) = delete;
    VideoClip& operator=(const VideoClip&) = delete;

    int64_t length() const;
    QSize size() const;  // picture size in pixels
    // One frame lasts frame_num / frame_den seconds (the nominal rate).
    int64_t frame_num() const;
    int64_t frame_den() const;
    // Presentation time of frame n (0 <= n < length) from frame 0, in nanoseconds
    // (rounded up) and microseconds (rounded down).
    int64_t time_ns(int64_t n) const;
    int64_t time_us(int64_t n) const { return time_ns(n) / 1000; }
    // The last frame whose time is at or before t nanoseconds from frame 0.
    int64_t frame_at_ns(int64_t t) const;
    // Nominal frames per second; the rate the scene was filmed at where the file states
    // one (slow motion), otherwise the frame rate.
    double frame_rate() const;
    double capture_rate() const;
    const FrameIndex& index() const;
    // The display delay of the decoder in frames, measured at open.
    int64_t decoder_delay() const;

    // Makes frame n (0 <= n < length) the current picture. DecodeFailed when it cannot
    // be decoded; the current picture is then unchanged. A frame whose chunk is damaged
    // or missing, and every frame predicted from it up to the next key picture, cannot;
    // each frame answers alike however it is reached (step, step back or seek).
    MediaError go_to(int64_t n);
    int64_t current() const;  // the frame number last reached by go_to (0 after open)

    // Draws the current picture scaled into `dest` of `target` (clipped to the image).
    // Uses one of two cached scalers so that window and device-context drawing at
    // different sizes do not rebuild each other's. Pixels outside `dest` are untouched.
    enum class Scaler { Window, Surface };
    MediaError draw(QImage& target, const QRect& dest, Scaler which);

    // Test and benchmark hooks.
    // A digest of the current picture's decoded samples (see frame_digest.h).
    uint64_t picture_digest() const;
    Counters counters() const;
    size_t cache_bytes() const;
    // What the clip holds from the memory budget for its working pictures (the step-back
    // cache not included): about what another open of it would need.
    size_t working_bytes() const;
    size_t cache_bound() const;
    void set_cache_bound(size_t bytes);
    // Naive mode: no cache, every request seeks to its keyframe and decodes forward.
    void set_naive(bool naive);

  private:
    struct Impl;
    explicit VideoClip(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> d_;
};

}  // namespace tambrel::media
