#include "measure/tracking/clip_tracker.h"

#include <QImage>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "compose/background.h"
#include "measure/clip_timing.h"
#include "measure/tracking/track_path.h"
#include "media/service/clip_reader.h"
#include "media/service/memory_budget.h"

namespace tambrel::tracking {

namespace {

using media::ClipReader;

PictureView view_of(const QImage& image) {
    return {reinterpret_cast<const uint32_t*>(image.constBits()), image.bytesPerLine() / 4,
            image.width(), image.height()};
}

// Parts of a run tracked side by side: one per processor, at most four, none shorter
// than kMinFramesPerPart, and only as many as the memory budget has room for (each
// opens the clip again, with its decoder and a picture of its own).
constexpr size_t kMinFramesPerPart = 24;
size_t part_count(const ClipReader& reader, size_t frames) {
    size_t parts = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 4);
    parts = std::clamp<size_t>(std::min(parts, frames / kMinFramesPerPart), 1, parts);
    const size_t per_part = reader.working_bytes() + 2 * size_t(4) * size_t(reader.size().width()) *
                                                         size_t(reader.size().height());
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

ClipTracker::ClipTracker(std::unique_ptr<ClipReader> reader) : reader_(std::move(reader)) {}
ClipTracker::~ClipTracker() = default;

int64_t ClipTracker::length() const { return reader_->length(); }
QSize ClipTracker::size() const { return reader_->size(); }

std::variant<std::unique_ptr<ClipTracker>, TrackFailure> ClipTracker::open(
    const std::string& path) {
    auto opened = ClipReader::open(path);
    if (auto* failure = std::get_if<media::ReaderFailure>(&opened))
        return TrackFailure{TrackFailure::Kind::Open, failure->message};
    return std::unique_ptr<ClipTracker>(
        new ClipTracker(std::get<std::unique_ptr<ClipReader>>(std::move(opened))));
}

std::variant<TrackResult, TrackFailure> ClipTracker::track(std::span<const int64_t> frames,
                                                           bool strict,
                                                           const TrackCallbacks& callbacks) {
    using Kind = TrackFailure::Kind;
    ClipReader& reader = *reader_;
    TrackResult result;
    result.size = reader.size();
    result.frame_rate = reader.frame_rate();
    result.capture_rate = reader.capture_rate();
    if (frames.empty()) return result;
    const std::string clip_frames =
        " (the clip's frames are 0 to " + std::to_string(reader.length() - 1) + ")";
    for (const int64_t n : frames)
        if (n < 0 || n >= reader.length())
            return TrackFailure{Kind::Plan,
                                "frame " + std::to_string(n) + " is not in the clip" + clip_frames};

    const auto [first, last] = std::minmax_element(frames.begin(), frames.end());
    const std::vector<int64_t> spread =
        compose::background_frames(*first, *last, compose::background_frame_limit(result.size));
    const int64_t total = int64_t(spread.size() + frames.size());
    const auto cancelled = [] { return TrackFailure{Kind::Cancelled, "cancelled"}; };
    bool cancelled_by_caller = false;
    const auto skippable = [&](media::MediaError e) {
        return !strict && e == media::MediaError::DecodeFailed;
    };

    // The background: the median of the spread frames.
    int64_t done = 0;
    compose::BackgroundSource source;
    source.draw = [&](int64_t n, QImage& into) { return reader.draw(n, into); };
    source.strict = strict;
    source.skipped = [&](int64_t n, const std::string& reason) {
        if (callbacks.skipped) callbacks.skipped(n, true, reason);
    };
    source.progress = [&] { return !callbacks.progress || callbacks.progress(++done, total); };
    auto made = compose::median_background(spread, result.size, QImage(), source);
    if (auto* failure = std::get_if<compose::RunFailure>(&made)) return *failure;
    const QImage background = std::get<compose::MedianPicture>(made).image;
    result.background_frames = std::get<compose::MedianPicture>(made).frames;

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
    const auto part = [&](ClipReader& own, size_t from, size_t to,
                          const std::function<void()>& after_each) {
        QImage picture(result.size, QImage::Format_RGB32);
        if (picture.isNull()) {
            fail_at(from, {Kind::Memory, "not enough memory for pictures of " +
                                             std::to_string(result.size.width()) + " x " +
                                             std::to_string(result.size.height()) + " pixels"});
            return;
        }
        for (size_t k = from; k < to && !stop; ++k) {
            TrackedFrame& tracked = result.frames[k];
            if (const auto e = own.draw(frames[k], picture); e != media::MediaError::None) {
                if (!skippable(e)) {
                    fail_at(k, {Kind::Decode, "frame " + std::to_string(frames[k]) +
                                                  " cannot be decoded: " +
                                                  ClipReader::error_text(e)});
                    return;
                }
                std::lock_guard lock(mutex);
                skips.push_back({frames[k], ClipReader::error_text(e)});
                tracked.decoded = false;
            } else {
                tracked.time_ms = own.time_ms(frames[k]);
                regions[k] = find_regions(view_of(picture), view_of(background));
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
            auto own = reader.reopen();
            if (auto* failure = std::get_if<media::ReaderFailure>(&own))
                fail_at(n * i / parts, {Kind::Open, failure->message});
            else
                part(*std::get<std::unique_ptr<ClipReader>>(own), n * i / parts,
                     n * (i + 1) / parts, {});
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
