#include "media/service/video_device.h"

#include <algorithm>
#include <atomic>
#include <chrono>

#include "core/surface.h"
#include "media/service/video_window.h"

namespace tambrel::media {

namespace {
// Devices open in this process, whichever service opened them.
std::atomic<size_t> open_devices{0};
}  // namespace

std::unique_ptr<VideoDevice> VideoDevice::open(const std::string& path, QWidget* parent,
                                               MediaError& error) {
    if (open_devices.load() >= kMaxOpenDevices) {
        error = MediaError::TooManyDevices;
        return nullptr;
    }
    auto clip = VideoClip::open(path, error);
    if (!clip) return nullptr;
    return std::unique_ptr<VideoDevice>(new VideoDevice(std::move(clip), parent));
}

VideoDevice::VideoDevice(std::unique_ptr<VideoClip> clip, QWidget* parent)
    : clip_(std::move(clip)), dest_(QPoint(0, 0), clip_->size()) {
    ++open_devices;
    clock_ = [] {
        return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
    };
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
        catch_up();
        schedule_next();
    });
    if (parent) {
        window_ = new VideoWindow(parent);  // owned by its parent widget
        window_->setGeometry(dest_);
        refresh_window();
        window_->show();
    }
}

VideoDevice::~VideoDevice() {
    --open_devices;
    timer_.stop();
    delete window_.data();  // null when the parent has already taken it down
}

void VideoDevice::set_clock(std::function<int64_t()> now_ns) {
    halt();
    clock_ = std::move(now_ns);
}

QWidget* VideoDevice::window() const { return window_.data(); }

int64_t VideoDevice::position() {
    catch_up();
    return clip_->current();
}

MediaError VideoDevice::set_destination(std::optional<QRect> rect) {
    const QRect wanted = rect.value_or(QRect(QPoint(0, 0), clip_->size()));
    if (window_) {
        // The window keeps a picture of the destination's size: it comes from the budget.
        const size_t bytes = static_cast<size_t>(wanted.width()) * wanted.height() * 4;
        canvas_share_.reset();
        canvas_share_ = BudgetShare::take(MemoryBudget::process(), bytes);
        if (!canvas_share_) {
            canvas_share_ = BudgetShare::take(
                MemoryBudget::process(), static_cast<size_t>(dest_.width()) * dest_.height() * 4);
            return MediaError::NoMemory;
        }
    }
    dest_ = wanted;
    if (window_) {
        window_->setGeometry(dest_);
        refresh_window();
    }
    return MediaError::None;
}

MediaError VideoDevice::go_to(int64_t n) {
    const auto e = clip_->go_to(n);
    if (e == MediaError::None) refresh_window();
    return e;
}

void VideoDevice::refresh_window() {
    if (!window_) return;
    QImage& canvas = window_->canvas(dest_.size());
    if (clip_->draw(canvas, canvas.rect(), VideoClip::Scaler::Window) == MediaError::None)
        window_->update();
}

MediaError VideoDevice::play() {
    halt();
    if (clip_->current() >= length() - 1) return MediaError::None;  // nothing left to show
    playing_ = true;
    play_from_ = clip_->current();
    play_start_ns_ = clock_();
    schedule_next();
    return MediaError::None;
}

void VideoDevice::halt() {
    if (playing_) catch_up();  // stop where the clip stands now, not where it last ticked
    playing_ = false;
    timer_.stop();
}

MediaError VideoDevice::step(bool reverse) {
    halt();
    const int64_t at = clip_->current();
    const int64_t to = reverse ? std::max<int64_t>(at - 1, 0) : std::min(at + 1, length() - 1);
    return to == at ? MediaError::None : go_to(to);
}

MediaError VideoDevice::seek(int64_t frame) {
    if (frame < 0 || frame > length()) return MediaError::OutOfRange;
    halt();
    return go_to(std::min(frame, length() - 1));
}

MediaError VideoDevice::update(PictureSurface& surface) {
    catch_up();
    const auto e = clip_->draw(surface.target(), dest_, VideoClip::Scaler::Surface);
    if (e == MediaError::None) surface.target_changed();
    return e;
}

int64_t VideoDevice::frames_in(int64_t ns) const {
    return clip_->frame_at_ns(clip_->time_ns(play_from_) + ns) - play_from_;
}

int64_t VideoDevice::due_ns(int64_t frame) const {
    return clip_->time_ns(frame) - clip_->time_ns(play_from_);
}

void VideoDevice::catch_up() {
    if (!playing_) return;
    const int64_t last = length() - 1;
    const int64_t elapsed = elapsed_ns();
    const int64_t target = std::min(play_from_ + frames_in(elapsed), last);
    const int64_t start = clip_->current();
    if (target > start) {
        // The position follows the clock, not the number of ticks. Decoding is done
        // within most of one frame period so the caller's thread is never held longer;
        // what is left is caught up at the next tick.
        const int64_t period = std::max<int64_t>(due_ns(play_from_ + 1), 1'000'000);
        const int64_t budget = period * 3 / 4;
        // Measured on the device's clock, so that a test's clock decides it too.
        const int64_t began = clock_();
        const FrameIndex& index = clip_->index();
        int64_t at = start;
        while (at < target) {
            int64_t next = at + 1;
            // A keyframe past the next frame starts a shorter decode to the target.
            const int64_t key = index.key_at_or_before(index.picture_of(target)).slot;
            if (key > next) next = key;
            if (clip_->go_to(next) != MediaError::None) {
                playing_ = false;  // a damaged clip ends playback where it broke
                break;
            }
            at = next;
            if (clock_() - began > budget) break;
        }
        if (at > start) {
            refresh_window();
            ++stats_.shown;
            stats_.skipped += at - start - 1;
            if (elapsed_ns() - due_ns(at) > period / 2) ++stats_.late;
        }
    }
    if (clip_->current() >= last) playing_ = false;  // stops by itself at the end
    if (!playing_) timer_.stop();
}

void VideoDevice::schedule_next() {
    if (!playing_) return;
    const int64_t wait_ns = due_ns(clip_->current() + 1) - elapsed_ns();
    timer_.start(static_cast<int>(std::clamp<int64_t>((wait_ns + 999'999) / 1'000'000, 0, 60'000)));
}

}  // namespace tambrel::media
