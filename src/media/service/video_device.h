#pragma once
// One open clip under an alias: its position, destination rectangle, playback and
// optional video window. Runs on the thread that owns the widgets.

#include <QPointer>
#include <QRect>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "media/service/media_errors.h"
#include "media/service/memory_budget.h"
#include "media/service/video_clip.h"

namespace tambrel {
class PictureSurface;
}

namespace tambrel::media {

class VideoWindow;

struct PlaybackStats {
    int64_t shown = 0;    // pictures put on screen by playback
    int64_t late = 0;     // of those, shown more than half a frame after their time
    int64_t skipped = 0;  // frames passed over without being shown
};

class VideoDevice {
  public:
    // Opens `path`; with a parent the device gets a video window inside it.
    static std::unique_ptr<VideoDevice> open(const std::string& path, QWidget* parent,
                                             MediaError& error);
    ~VideoDevice();
    VideoDevice(const VideoDevice&) = delete;
    VideoDevice& operator=(const VideoDevice&) = delete;

    int64_t length() const { return clip_->length(); }
    // The current frame; while playing, playback is first brought up to date.
    int64_t position();
    bool playing() const { return playing_; }

    // The rectangle the video is scaled into; nullopt: the clip's own size at 0, 0.
    // NoMemory when the video window's picture of that size would not fit in the
    // memory budget; the destination is then unchanged.
    MediaError set_destination(std::optional<QRect> rect);
    QRect destination() const { return dest_; }

    // Starts playback from the current frame and returns at once.
    MediaError play();
    // Ends playback where it is (pause and stop are the same for a video clip).
    void halt();
    MediaError step(bool reverse);
    // 0 .. length; length lands on the last frame.
    MediaError seek(int64_t frame);
    // Draws the current picture into the surface's target at the destination.
    MediaError update(PictureSurface& surface);

    PlaybackStats playback_stats() const { return stats_; }
    // The monotonic clock playback follows, in nanoseconds (tests drive their own).
    void set_clock(std::function<int64_t()> now_ns);
    VideoClip& clip() { return *clip_; }
    QWidget* window() const;

  private:
    VideoDevice(std::unique_ptr<VideoClip> clip, QWidget* parent);
    MediaError go_to(int64_t n);
    void catch_up();
    void schedule_next();
    void refresh_window();
    int64_t frames_in(int64_t nanoseconds) const;
    int64_t due_ns(int64_t frame) const;  // when `frame` is due, from playback start
    int64_t elapsed_ns() const { return clock_() - play_start_ns_; }

    std::unique_ptr<VideoClip> clip_;
    QPointer<VideoWindow> window_;
    BudgetShare canvas_share_;  // the video window's picture
    QRect dest_;
    bool playing_ = false;
    int64_t play_from_ = 0;
    std::function<int64_t()> clock_;
    int64_t play_start_ns_ = 0;
    QTimer timer_;
    PlaybackStats stats_;
};

}  // namespace tambrel::media
