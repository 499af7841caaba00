#include "measure/tracking/clip_tracker.h"

#include <QImage>
#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "compose/median.h"
#include "core/handles.h"
#include "core/picture_fit.h"
#include "core/surface.h"
#include "measure/clip_timing.h"
#include "measure/tracking/track_path.h"
#include "media/service/command_service.h"
#include "media/service/media_errors.h"
#include "media/service/memory_budget.h"
#include "media/service/path_codec.h"
#include "media/service/video_device.h"

namespace tambrel::tracking {

namespace {

constexpr const char* kAlias = "tambrel-track";

// What the background's pictures may hold at once; fewer frames for large pictures.
constexpr int64_t kBackgroundBudget = 256LL * 1024 * 1024;

std::optional<double> number(const std::string& text) {
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

PictureView view_of(const QImage& image) {
    return {reinterpret_cast<const uint32_t*>(image.constBits()), image.bytesPerLine() / 4,
            image.width(), image.height()};
}

}  // namespace

namespace detail {

// The clip open in a service of its own under kAlias, drawn at its own size into one
// picture.
class FrameReader {
  public:
    FrameReader() : service_(handles_) {}
    ~FrameReader() {
        if (open_) run("close " + std::string(kAlias));
        if (handle_) handles_.remove(handle_);
    }
    FrameReader(const FrameReader&) = delete;
    FrameReader& operator=(const FrameReader&) = delete;

    std::optional<TrackFailure> open(const std::string& path) {
        const auto failed = [&](int32_t rc, const std::string& what) {
            return TrackFailure{TrackFailure::Kind::Open,
                                "cannot " + what + " '" + path + "': " + error_text(rc)};
        };
        if (const int32_t rc = run("open " + media::encode_command_path(path) + " alias " + kAlias);
            rc != 0)
            return failed(rc, "open");
        open_ = true;
        // The run goes forward but for the background's frames: pictures kept for
        // stepping back would only take memory.
        if (auto* device = service_.device(kAlias)) device->clip().set_cache_bound(0);
        if (const int32_t rc = ask("status", "length"); rc != 0)
            return failed(rc, "read the length of");
        const auto length = number(reply_);
        if (!length || *length < 0) return failed(0, "read the length of");
        length_ = int64_t(*length);
        if (const int32_t rc = ask("where", "source"); rc != 0)
            return failed(rc, "read the size of");
        const auto size = source_size_from_reply(reply_);
        if (!size) return failed(0, "read the size of");
        size_ = *size;
        if (ask("status", "frame rate") == 0) frame_rate_ = number(reply_).value_or(0);
        if (ask("status", "capture rate") == 0) capture_rate_ = number(reply_).value_or(0);
        if (const int32_t rc = run("put " + std::string(kAlias) + " destination"); rc != 0)
            return failed(rc, "draw the frames of");
        surface_ = std::make_unique<PictureSurface>(size_.width(), size_.height());
        if (surface_->image().isNull())
            return TrackFailure{TrackFailure::Kind::Memory,
                                "not enough memory for pictures of " +
                                    std::to_string(size_.width()) + " x " +
                                    std::to_string(size_.height()) + " pixels"};
        handle_ = handles_.add_surface(surface_.get());
        return std::nullopt;
    }

    // Makes frame n current and draws it: 0, or the service's error number.
    int32_t read(int64_t n) {
        if (const int32_t rc = run("seek " + std::string(kAlias) + " to " + std::to_string(n)))
            return rc;
        return run("update " + std::string(kAlias) + " hdc " + std::to_string(handle_));
    }
    std::optional<double> time_ms() {
        if (ask("status", "time") != 0) return std::nullopt;
        return number(reply_);
    }
    const QImage& picture() const { return surface_->image(); }
    // What the decoder holds for this clip (a further reader holds as much again).
    size_t working_bytes() {
        auto* device = service_.device(kAlias);
        return device ? device->clip().working_bytes() : 0;
    }

    std::string error_text(int32_t rc) {
        char text[256] = {};
        if (rc == 0 || !service_.error_string(rc, text, sizeof text))
            return rc == 0 ? "an unexpected reply" : "media error " + std::to_string(rc);
        return text;
    }

    int64_t length_ = 0;
    QSize size_;
    double frame_rate_ = 0, capture_rate_ = 0;

  private:
    int32_t run(const std::string& line) {
        reply_.clear();
        return service_.execute(line, reply_);
    }
    int32_t ask(const char* verb, const char* item) {
        return run(std::string(verb) + ' ' + kAlias + ' ' + item);
    }

    HandleTable handles_;
    media::CommandService service_;
    std::unique_ptr<PictureSurface> surface_;
    int32_t handle_ = 0;
    bool open_ = false;
    std::string reply_;
};

}  // namespace detail

namespace {

// Parts of a run tracked side by side: one per processor, at most four, none shorter
// than kMinFramesPerPart, and only as many as the memory budget has room for (each
// opens the clip again, with its decoder and a picture of its own).
constexpr size_t kMinFramesPerPart = 24;
size_t part_count(detail::FrameReader& reader, size_t frames) {
    size_t parts = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 4);
    parts = std::clamp<size_t>(std::min(parts, frames / kMinFramesPerPart), 1, parts);
    const size_t per_part = reader.working_bytes() + 2 * size_t(4) * size_t(reader.size_.width()) *
                                                         size_t(reader.size_.height());
    const size_t room = media::MemoryBudget::process().available();
    if (per_part > 0) parts = std::min(parts, 1 + room / per_part);
    return std::max<size_t>(parts, 1);
}

}  // namespace

std::optional<double> TrackResult::scene_seconds(const TrackedFrame& f) const {
    ClipTiming timing;
    timing.frame_rate = frame_rate;
    timing.file_capture_rate = capture_rate;
    if (f.time_ms) return timing.known() ? timing.scene_seconds(*f.time_ms) : *f.time_ms / 1000;
    if (!timing.known()) return std::nullopt;
    return timing.scene_seconds(double(f.frame) * 1000 / frame_rate);
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

ClipTracker::ClipTracker(std::string path, std::unique_ptr<detail::FrameReader> reader)
    : path_(std::move(path)), reader_(std::move(reader)) {}
ClipTracker::~ClipTracker() = default;

int64_t ClipTracker::length() const { return reader_->length_; }
QSize ClipTracker::size() const { return reader_->size_; }

std::variant<std::unique_ptr<ClipTracker>, TrackFailure> ClipTracker::open(
    const std::string& path) {
    auto reader = std::make_unique<detail::FrameReader>();
    if (auto failure = reader->open(path)) return *failure;
    return std::unique_ptr<ClipTracker>(new ClipTracker(path, std::move(reader)));
}

std::variant<TrackResult, TrackFailure> ClipTracker::track(std::span<const int64_t> frames,
                                                           bool strict,
                                                           const TrackCallbacks& callbacks) {
    using Kind = TrackFailure::Kind;
    detail::FrameReader& reader = *reader_;
    TrackResult result;
    result.size = reader.size_;
    result.frame_rate = reader.frame_rate_;
    result.capture_rate = reader.capture_rate_;
    if (frames.empty()) return result;
    const std::string clip_frames =
        " (the clip's frames are 0 to " + std::to_string(reader.length_ - 1) + ")";
    for (const int64_t n : frames)
        if (n < 0 || n >= reader.length_)
            return TrackFailure{Kind::Plan,
                                "frame " + std::to_string(n) + " is not in the clip" + clip_frames};

    const auto [first, last] = std::minmax_element(frames.begin(), frames.end());
    const int64_t frame_bytes = int64_t{4} * result.size.width() * result.size.height();
    const std::vector<int64_t> spread =
        background_frames(*first, *last,
                          std::min<int64_t>(kMostBackgroundFrames,
                                            std::max<int64_t>(1, kBackgroundBudget / frame_bytes)));
    const int64_t total = int64_t(spread.size() + frames.size());
    int64_t done = 0;
    const auto step_done = [&]() {
        ++done;
        return !callbacks.progress || callbacks.progress(done, total);
    };
    const auto cancelled = [] { return TrackFailure{Kind::Cancelled, "cancelled"}; };
    bool cancelled_by_caller = false;
    const auto cannot = [&](int64_t n, int32_t rc) {
        return "frame " + std::to_string(n) + " cannot be decoded: " + reader.error_text(rc);
    };
    const auto skippable = [&](int32_t rc) {
        return !strict && rc == media::code(media::MediaError::DecodeFailed);
    };

    // The background: the median of the spread frames.
    std::vector<QImage> pictures;
    for (const int64_t n : spread) {
        if (const int32_t rc = reader.read(n); rc != 0) {
            if (!skippable(rc))
                return TrackFailure{Kind::Decode, "the background's " + cannot(n, rc)};
            if (callbacks.skipped) callbacks.skipped(n, true, reader.error_text(rc));
        } else {
            pictures.push_back(reader.picture().convertToFormat(QImage::Format_RGB32));
            if (pictures.back().isNull())
                return TrackFailure{Kind::Memory, "not enough memory for the background"};
        }
        if (!step_done()) return cancelled();
    }
    if (pictures.empty())
        return TrackFailure{Kind::Decode, "no frame for the background can be decoded (frames " +
                                              std::to_string(*first) + " to " +
                                              std::to_string(*last) + ")"};
    std::vector<ConstPixelBlock> blocks;
    for (const QImage& p : pictures)
        blocks.push_back({reinterpret_cast<const uint32_t*>(p.constBits()), p.bytesPerLine() / 4});
    QImage background(result.size, QImage::Format_RGB32);
    if (background.isNull())
        return TrackFailure{Kind::Memory, "not enough memory for the background"};
    median_rgb32(blocks, reinterpret_cast<uint32_t*>(background.bits()),
                 background.bytesPerLine() / 4, background.width(), background.height());
    result.background_frames = int(pictures.size());
    pictures.clear();

    // Every frame's regions, in consecutive parts side by side (each on a service of its
    // own: decoding and finding overlap), then the object over the whole run.
    const size_t n = frames.size();
    std::vector<FrameRegions> regions(n);
    result.frames.resize(n);
    for (size_t k = 0; k < n; ++k) result.frames[k].frame = frames[k];
    const size_t parts = part_count(reader, n);
    std::atomic<int64_t> frames_done{0};
    std::atomic<bool> stop{false};
    std::mutex mutex;
    struct Skip {
        int64_t frame;
        std::string reason;
    };
    std::vector<Skip> skips;              // guarded by mutex
    std::optional<size_t> failed_at;      // guarded by mutex: the earliest k
    std::optional<TrackFailure> failure;  // guarded by mutex
    const auto fail_at = [&](size_t k, TrackFailure f) {
        std::lock_guard lock(mutex);
        if (!failed_at || k < *failed_at) {
            failed_at = k;
            failure = std::move(f);
        }
        stop = true;
    };
    // Frames k = from .. to - 1 on `own`; `after_each` runs after each frame.
    const auto part = [&](detail::FrameReader& own, size_t from, size_t to,
                          const std::function<void()>& after_each) {
        for (size_t k = from; k < to && !stop; ++k) {
            TrackedFrame& tracked = result.frames[k];
            if (const int32_t rc = own.read(frames[k]); rc != 0) {
                if (!skippable(rc)) {
                    fail_at(k, {Kind::Decode, "frame " + std::to_string(frames[k]) +
                                                  " cannot be decoded: " + own.error_text(rc)});
                    return;
                }
                std::lock_guard lock(mutex);
                skips.push_back({frames[k], own.error_text(rc)});
                tracked.decoded = false;
            } else {
                tracked.time_ms = own.time_ms();
                const QImage& picture = own.picture();
                const QImage frame = picture.format() == QImage::Format_RGB32
                                         ? picture
                                         : picture.convertToFormat(QImage::Format_RGB32);
                regions[k] = find_regions(view_of(frame), view_of(background));
            }
            ++frames_done;
            if (after_each) after_each();
        }
    };
    const auto report = [&] {
        if (callbacks.progress &&
            !callbacks.progress(int64_t(spread.size()) + frames_done.load(), total)) {
            stop = true;
            cancelled_by_caller = true;
        }
    };
    std::vector<std::thread> threads;
    int running = int(parts) - 1;  // guarded by mutex
    std::condition_variable finished;
    for (size_t i = 1; i < parts; ++i)
        threads.emplace_back([&, i] {
            detail::FrameReader own;
            if (auto opened = own.open(path_))
                fail_at(n * i / parts, *opened);
            else
                part(own, n * i / parts, n * (i + 1) / parts, {});
            std::lock_guard lock(mutex);
            --running;
            finished.notify_all();
        });
    part(reader, 0, n / parts, report);
    {
        std::unique_lock lock(mutex);
        while (!finished.wait_for(lock, std::chrono::milliseconds(100),
                                  [&] { return running == 0; })) {
            lock.unlock();
            report();
            lock.lock();
        }
    }
    for (std::thread& t : threads) t.join();
    if (cancelled_by_caller) return cancelled();
    if (failure) return *failure;
    report();
    if (cancelled_by_caller) return cancelled();
    std::sort(skips.begin(), skips.end(),
              [](const Skip& a, const Skip& b) { return a.frame < b.frame; });
    if (callbacks.skipped)
        for (const Skip& skip : skips) callbacks.skipped(skip.frame, false, skip.reason);

    std::vector<double> times(n);
    for (size_t k = 0; k < n; ++k)
        times[k] = result.scene_seconds(result.frames[k]).value_or(double(k));
    // Times must grow for the path; frame numbers do where a clip's times do not.
    bool increasing = true;
    for (size_t k = 1; k < times.size(); ++k) increasing &= times[k] > times[k - 1];
    if (!increasing)
        for (size_t k = 0; k < times.size(); ++k) times[k] = double(k);
    const auto chosen = choose_path(regions, times);
    for (size_t k = 0; k < n; ++k) result.frames[k].object = chosen[k];
    return result;
}

}  // namespace tambrel::tracking
