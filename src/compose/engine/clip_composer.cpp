#include "compose/engine/clip_composer.h"

#include <QPainter>
#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "compose/blend.h"
#include "compose/median.h"
#include "core/fonts.h"
#include "core/handles.h"
#include "core/picture_fit.h"
#include "media/service/memory_budget.h"
#include "core/surface.h"
#include "core/window_layout.h"
#include "scale/axes_geometry.h"
#include "scale/axes_paint.h"
#include "media/service/command_service.h"
#include "media/service/media_errors.h"
#include "media/service/path_codec.h"
#include "media/service/video_device.h"

namespace tambrel::compose {

namespace detail {

constexpr const char* kAlias = "tambrel-compose";

// A media service of its own with the clip open under kAlias, closed again when this
// goes. One thread uses it.
class ServiceClip {
  public:
    ServiceClip() : service_(handles_) {}
    ~ServiceClip() {
        if (open_) run("close", "");
    }
    ServiceClip(const ServiceClip&) = delete;
    ServiceClip& operator=(const ServiceClip&) = delete;

    int32_t open(const std::string& path) {
        const int32_t rc =
            run_line("open " + media::encode_command_path(path) + " alias " + kAlias);
        open_ = rc == 0;
        // A run only moves forward: pictures kept for stepping back would only take
        // memory and keep the decoder from reusing its buffers.
        if (open_) device().clip().set_cache_bound(0);
        return rc;
    }
    int32_t run(const char* verb, const std::string& rest) {
        return run_line(std::string(verb) + ' ' + kAlias + rest);
    }
    const std::string& reply() const { return reply_; }
    media::VideoDevice& device() { return *service_.device(kAlias); }
    HandleTable& handles() { return handles_; }

    std::string error_text(int32_t rc) {
        char text[256] = {};
        if (!service_.error_string(rc, text, sizeof text))
            return "media error " + std::to_string(rc);
        return text;
    }

  private:
    int32_t run_line(const std::string& line) {
        reply_.clear();
        return service_.execute(line, reply_);
    }

    HandleTable handles_;
    media::CommandService service_;
    bool open_ = false;
    std::string reply_;
};

}  // namespace detail

namespace {

using detail::ServiceClip;
using Kind = CompositionFailure::Kind;

// Fewer frames than this per part do not pay for another clip opening.
constexpr int64_t kMinFramesPerPart = 24;
constexpr int kMostParts = 8;

// The frames a median background holds at once, in bytes: fewer than
// kMostBackgroundFrames for large pictures.
constexpr int64_t kBackgroundBudget = 256LL * 1024 * 1024;

// A surface known to a handle table for as long as this lives.
class RegisteredSurface {
  public:
    RegisteredSurface(HandleTable& handles, QSize size)
        : handles_(handles),
          surface_(std::make_unique<PictureSurface>(size.width(), size.height())) {
        handle_ = handles_.add_surface(surface_.get());
    }
    ~RegisteredSurface() { handles_.remove(handle_); }
    RegisteredSurface(const RegisteredSurface&) = delete;
    RegisteredSurface& operator=(const RegisteredSurface&) = delete;

    QImage& image() { return surface_->target(); }
    std::string hdc() const { return " hdc " + std::to_string(handle_); }
    bool allocated() const { return !surface_->image().isNull(); }

  private:
    HandleTable& handles_;
    std::unique_ptr<PictureSurface> surface_;
    int32_t handle_ = 0;
};

// The plan as a run works through it: frame k = 0 is the seed, every later one is
// merged with priorities[k].
struct Plan {
    std::vector<int64_t> frames;
    std::vector<Priority> priorities;  // priorities[0] is unused
    bool as_shown = false;
    bool strict = false;
    QSize frame_size, composite_size, merge;
    QImage background;  // frame_size, RGB32; null where no merge needs one
    int64_t total() const { return static_cast<int64_t>(frames.size()); }
    int64_t frame(int64_t k) const { return frames[static_cast<size_t>(k)]; }
    Priority priority(int64_t k) const { return priorities[static_cast<size_t>(k)]; }
};

// What the parts of a run share.
struct Shared {
    explicit Shared(size_t parts) : part_finished(parts) {}
    std::atomic<int64_t> done{0};
    std::atomic<bool> cancelled{false};  // by the caller
    // The earliest part that failed. A failure in a later part stops only the parts after
    // it: those before run on, as a single pass would, and may fail first.
    std::atomic<size_t> failed_part{SIZE_MAX};
    std::mutex mutex;
    std::condition_variable finished;
    int running = 0;  // guarded by mutex
    // Frames left out and not yet reported, with their part: guarded by mutex.
    std::vector<std::pair<size_t, SkippedFrame>> untold;
    std::vector<int64_t> skipped;     // guarded by mutex
    std::vector<char> part_finished;  // guarded by mutex

    bool stops(size_t part) const { return cancelled || failed_part.load() < part; }
    void fail(size_t part) {
        size_t earliest = failed_part.load();
        while (part < earliest && !failed_part.compare_exchange_weak(earliest, part)) {
        }
    }
    void skip(size_t part, int64_t frame, std::string reason) {
        std::lock_guard lock(mutex);
        skipped.push_back(frame);
        untold.push_back({part, {frame, false, std::move(reason)}});
    }
};

// A part's composite; null when none of its frames could be decoded.
struct PartPicture {
    QImage image;
    int64_t merged = 0;
};
using PartResult = std::variant<PartPicture, CompositionFailure>;

CompositionFailure memory_failure(QSize size) {
    return {Kind::Memory, "not enough memory for pictures of " + std::to_string(size.width()) +
                              " x " + std::to_string(size.height()) + " pixels"};
}

std::string size_text(QSize size) {
    return std::to_string(size.width()) + " x " + std::to_string(size.height());
}

void merge_into(QImage& composite, const QImage& frame, const Plan& plan, Priority priority) {
    int columns = std::min({plan.merge.width(), frame.width(), composite.width()});
    int rows = std::min({plan.merge.height(), frame.height(), composite.height()});
    BackgroundBlock background;
    if (!plan.background.isNull()) {
        background = {reinterpret_cast<const uint32_t*>(plan.background.constBits()),
                      plan.background.bytesPerLine() / 4};
        columns = std::min(columns, plan.background.width());
        rows = std::min(rows, plan.background.height());
    }
    blend_rgb32(reinterpret_cast<uint32_t*>(composite.bits()), composite.bytesPerLine() / 4,
                reinterpret_cast<const uint32_t*>(frame.constBits()), frame.bytesPerLine() / 4,
                columns, rows, priority, background);
}

// Fits the clip into the window's frame area when the run is as shown, as the window
// fits it: a 4:3 picture over the whole area, any other shape with its proportions.
std::optional<CompositionFailure> set_destination(ServiceClip& clip, const Plan& plan) {
    if (!plan.as_shown) return std::nullopt;
    std::optional<QSize> source;
    if (clip.run("where", " source") == 0) source = source_size_from_reply(clip.reply());
    const QRect fit = picture_fit(source.value_or(QSize()), plan.frame_size);
    const std::string put = " destination at " + std::to_string(fit.x()) + ' ' +
                            std::to_string(fit.y()) + ' ' + std::to_string(fit.width()) + ' ' +
                            std::to_string(fit.height());
    if (const int32_t rc = clip.run("put", put); rc != 0)
        return CompositionFailure{
            Kind::Open, "cannot fit the clip into the frame area: " + clip.error_text(rc)};
    return std::nullopt;
}

// Makes frame n the clip's current picture and draws it into `into`. Empty when done;
// otherwise the service's error number and what to say.
struct DrawFailure {
    int32_t rc;
    std::string message;
};
std::optional<DrawFailure> draw_frame(ServiceClip& clip, int64_t n, RegisteredSurface& into) {
    if (const int32_t rc = clip.run("seek", " to " + std::to_string(n)); rc != 0)
        return DrawFailure{
            rc, "frame " + std::to_string(n) + " cannot be decoded: " + clip.error_text(rc)};
    if (const int32_t rc = clip.run("update", into.hdc()); rc != 0)
        return DrawFailure{
            rc, "frame " + std::to_string(n) + " cannot be drawn: " + clip.error_text(rc)};
    return std::nullopt;
}

// A picture of its own, never shared with a surface the service draws into again.
QImage snapshot(const QImage& image) {
    return image.format() == QImage::Format_RGB32 ? image.copy()
                                                  : image.convertToFormat(QImage::Format_RGB32);
}

bool skippable(const Plan& plan, int32_t rc) {
    return !plan.strict && rc == media::code(media::MediaError::DecodeFailed);
}

// Frames k = first .. end - 1 of the plan: the first that can be decoded is drawn
// straight into a fresh composite, as the window's seeding cycle does, every later one
// merged into it. `on_frame` runs after each frame; a part that stops (the run cancelled,
// or an earlier part failed) ends early, its result unused.
PartResult compose_part(ServiceClip& clip, const Plan& plan, size_t part, int64_t first,
                        int64_t end, Shared& shared, const std::function<void()>& on_frame) {
    RegisteredSurface composite(clip.handles(), plan.composite_size);
    RegisteredSurface frame(clip.handles(), plan.frame_size);
    if (!composite.allocated() || !frame.allocated()) return memory_failure(plan.composite_size);

    int64_t merged = 0;
    for (int64_t k = first; k < end && !shared.stops(part); ++k) {
        const int64_t n = plan.frame(k);
        RegisteredSurface& into = merged == 0 ? composite : frame;
        if (const auto failed = draw_frame(clip, n, into)) {
            if (!skippable(plan, failed->rc))
                return CompositionFailure{Kind::Decode, failed->message};
            shared.skip(part, n, clip.error_text(failed->rc));
        } else {
            if (merged > 0) merge_into(composite.image(), frame.image(), plan, plan.priority(k));
            ++merged;
        }
        ++shared.done;
        if (on_frame) on_frame();
    }
    if (merged == 0) return PartPicture{};
    QImage picture = composite.image().copy();
    if (picture.isNull()) return memory_failure(plan.composite_size);
    return PartPicture{std::move(picture), merged};
}

// Whether plan frames from .. to - 1 are all merged with one priority.
bool one_priority(const Plan& plan, int64_t from, int64_t to) {
    for (int64_t k = from + 1; k < to; ++k)
        if (plan.priority(k) != plan.priority(from)) return false;
    return true;
}

// Where each part starts, as indices into the plan (the last entry is the total).
// Parts need a keyframe of their own near their start, or each would decode what the
// part before it decodes; and every part after the first, one priority.
std::vector<int64_t> part_starts(ServiceClip& clip, const Plan& plan, int max_parts) {
    int parts = max_parts > 0 ? max_parts
                              : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    parts = static_cast<int>(std::clamp<int64_t>(
        std::min<int64_t>(parts, plan.total() / kMinFramesPerPart), 1, kMostParts));
    // Every further part opens the clip again and keeps a composite and a frame of its
    // own: as many as the memory budget has room for.
    const size_t per_part = clip.device().clip().working_bytes() +
                            2 * static_cast<size_t>(plan.frame_size.width()) *
                                static_cast<size_t>(plan.frame_size.height()) * 4;
    const size_t room = media::MemoryBudget::process().available();
    if (per_part > 0)
        parts = static_cast<int>(std::min<size_t>(static_cast<size_t>(parts), 1 + room / per_part));
    const media::FrameIndex& index = clip.device().clip().index();
    for (; parts > 1; --parts) {
        std::vector<int64_t> starts;
        bool independent = true;
        for (int i = 0; i <= parts; ++i) starts.push_back(plan.total() * i / parts);
        for (int i = 1; i < parts && independent; ++i) {
            const int64_t key =
                index.key_at_or_before(index.picture_of(plan.frame(starts[i]))).slot;
            independent =
                key > plan.frame(starts[i - 1]) && one_priority(plan, starts[i], starts[i + 1]);
        }
        if (independent) return starts;
    }
    return {0, plan.total()};
}

// Frames first .. last spread evenly, at most `most` of them, first and last included.
std::vector<int64_t> spread_frames(int64_t first, int64_t last, int64_t most) {
    const int64_t count = std::clamp<int64_t>(last - first + 1, 1, std::max<int64_t>(most, 1));
    std::vector<int64_t> frames;
    for (int64_t i = 0; i < count; ++i)
        frames.push_back(count == 1 ? first : first + i * (last - first) / (count - 1));
    return frames;
}

// The background picture difference priority measures against, at the frame size.
std::variant<QImage, CompositionFailure> make_background(ServiceClip& clip, const Plan& plan,
                                                         const Background& wanted, QSize clip_size,
                                                         const Callbacks& callbacks) {
    RegisteredSurface surface(clip.handles(), plan.frame_size);
    if (!surface.allocated()) return memory_failure(plan.frame_size);

    if (const auto* one = std::get_if<FrameBackground>(&wanted)) {
        if (const auto failed = draw_frame(clip, one->frame, surface))
            return CompositionFailure{Kind::Decode, "the background's " + failed->message};
        return snapshot(surface.image());
    }

    if (const auto* given = std::get_if<PictureBackground>(&wanted)) {
        if (given->image.size() != clip_size)
            return CompositionFailure{
                Kind::Plan, "the background picture is " + size_text(given->image.size()) +
                                " pixels, the clip's frames " + size_text(clip_size)};
        const QImage picture = given->image.convertToFormat(QImage::Format_RGB32);
        if (!plan.as_shown) return picture;
        // Where the service fits the frames, white elsewhere as around them.
        QImage fitted = snapshot(surface.image());
        QPainter painter(&fitted);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(clip.device().destination(), picture);
        painter.end();
        return fitted;
    }

    // The median of frames spread over the plan's range, as many as the budget holds.
    const auto [first, last] = std::minmax_element(plan.frames.begin(), plan.frames.end());
    const int64_t frame_bytes = int64_t{4} * plan.frame_size.width() * plan.frame_size.height();
    const int64_t most = std::min<int64_t>(kMostBackgroundFrames,
                                           std::max<int64_t>(1, kBackgroundBudget / frame_bytes));
    std::vector<QImage> pictures;
    for (const int64_t n : spread_frames(*first, *last, most)) {
        if (callbacks.progress && !callbacks.progress(Progress{0, plan.total(), 0}))
            return CompositionFailure{Kind::Cancelled, "cancelled"};
        if (const auto failed = draw_frame(clip, n, surface)) {
            if (!skippable(plan, failed->rc))
                return CompositionFailure{Kind::Decode, "the background's " + failed->message};
            if (callbacks.skipped) callbacks.skipped({n, true, clip.error_text(failed->rc)});
            continue;
        }
        pictures.push_back(snapshot(surface.image()));
        if (pictures.back().isNull()) return memory_failure(plan.frame_size);
    }
    if (pictures.empty())
        return CompositionFailure{
            Kind::Decode, "no frame for the background can be decoded (frames " +
                              std::to_string(*first) + " to " + std::to_string(*last) + ")"};
    std::vector<ConstPixelBlock> blocks;
    for (const QImage& p : pictures)
        blocks.push_back({reinterpret_cast<const uint32_t*>(p.constBits()), p.bytesPerLine() / 4});
    QImage median(plan.frame_size, QImage::Format_RGB32);
    if (median.isNull()) return memory_failure(plan.frame_size);
    median_rgb32(blocks, reinterpret_cast<uint32_t*>(median.bits()), median.bytesPerLine() / 4,
                 median.width(), median.height());
    return median;
}

std::optional<CompositionFailure> check_frames(const CompositionPlan& plan, int64_t length) {
    const auto outside = [length](int64_t n) { return n < 0 || n >= length; };
    const std::string frames = " (the clip's frames are 0 to " + std::to_string(length - 1) + ")";
    if (outside(plan.seed))
        return CompositionFailure{
            Kind::Plan, "frame " + std::to_string(plan.seed) + " is not in the clip" + frames};
    for (const Merge& m : plan.merges)
        if (outside(m.frame))
            return CompositionFailure{
                Kind::Plan, "frame " + std::to_string(m.frame) + " is not in the clip" + frames};
    if (const auto* one = std::get_if<FrameBackground>(&plan.background);
        one && outside(one->frame))
        return CompositionFailure{Kind::Plan, "the background frame " + std::to_string(one->frame) +
                                                  " is not in the clip" + frames};
    return std::nullopt;
}

}  // namespace

WindowLayout window_layout() {
    // The frame area is the inner area of Picture1, which the scale also frames.
    using namespace layout;
    const auto area = image_area(kPicture1Width, kPicture1Height);
    const QSize frame(area->width, area->height);
    const QSize composite(kPicture1Width + kPicture3Extra - 2 * kBorder,
                          kPicture1Height + kPicture3Extra - 2 * kBorder);
    // A merge pass runs x and y from 0 to the inner size minus 4, both ends included.
    const QSize merge(frame.width() - 3, frame.height() - 3);
    return {frame, composite, merge};
}

ClipComposer::ClipComposer(std::string path, std::unique_ptr<ServiceClip> clip, int64_t length,
                           QSize size)
    : path_(std::move(path)), clip_(std::move(clip)), length_(length), size_(size) {}

ClipComposer::~ClipComposer() = default;

std::variant<std::unique_ptr<ClipComposer>, CompositionFailure> ClipComposer::open(
    const std::string& path) {
    auto clip = std::make_unique<ServiceClip>();
    if (const int32_t rc = clip->open(path); rc != 0)
        return CompositionFailure{Kind::Open,
                                  "cannot open '" + path + "': " + clip->error_text(rc)};
    int64_t length = 0;
    if (clip->run("status", " length") != 0 ||
        std::from_chars(clip->reply().data(), clip->reply().data() + clip->reply().size(), length)
                .ec != std::errc())
        return CompositionFailure{Kind::Open, "cannot read the length of '" + path + "'"};
    const QSize size = clip->device().destination().size();
    return std::unique_ptr<ClipComposer>(new ClipComposer(path, std::move(clip), length, size));
}

std::variant<Composite, CompositionFailure> ClipComposer::compose(const CompositionPlan& wanted,
                                                                  const Callbacks& callbacks,
                                                                  RunLimits limits) {
    if (auto e = check_frames(wanted, length_)) return *e;
    Plan plan;
    plan.frames.reserve(wanted.merges.size() + 1);
    plan.priorities.reserve(wanted.merges.size() + 1);
    plan.frames.push_back(wanted.seed);
    plan.priorities.push_back(Priority::White);
    bool needs_background = false;
    for (const Merge& m : wanted.merges) {
        plan.frames.push_back(m.frame);
        plan.priorities.push_back(m.priority);
        needs_background |= m.priority == Priority::Difference;
    }
    plan.as_shown = wanted.size == OutputSize::AsShown;
    plan.strict = wanted.strict;
    if (plan.as_shown) {
        const WindowLayout layout = window_layout();
        plan.frame_size = layout.frame_area;
        plan.composite_size = layout.composite;
        plan.merge = layout.merge_region;
    } else {
        plan.frame_size = plan.composite_size = plan.merge = size_;
    }
    ServiceClip& clip = *clip_;
    // A run before this one may have left the picture fitted elsewhere.
    if (const int32_t rc = clip.run("put", " destination"); rc != 0)
        return CompositionFailure{Kind::Open,
                                  "cannot draw the clip at its own size: " + clip.error_text(rc)};
    if (auto e = set_destination(clip, plan)) return *e;

    if (needs_background) {
        auto made = make_background(clip, plan, wanted.background, size_, callbacks);
        if (auto* e = std::get_if<CompositionFailure>(&made)) return *e;
        plan.background = std::get<QImage>(std::move(made));
    }

    const std::vector<int64_t> starts = part_starts(clip, plan, limits.max_parts);
    const size_t parts = starts.size() - 1;
    std::vector<PartResult> results(parts, PartPicture{});
    Shared shared(parts);
    shared.running = static_cast<int>(parts) - 1;

    // Parts after the first run on threads of their own, each with its own service.
    std::vector<std::thread> threads;
    for (size_t i = 1; i < parts; ++i) {
        threads.emplace_back([&, i] {
            ServiceClip own;
            PartResult result;
            if (const int32_t rc = own.open(path_); rc != 0) {
                result = CompositionFailure{
                    Kind::Open, "cannot open '" + path_ + "' again: " + own.error_text(rc)};
            } else if (auto e = set_destination(own, plan)) {
                result = *e;
            } else {
                result = compose_part(own, plan, i, starts[i], starts[i + 1], shared, {});
            }
            if (std::holds_alternative<CompositionFailure>(result)) shared.fail(i);
            results[i] = std::move(result);
            std::lock_guard lock(shared.mutex);
            shared.part_finished[i] = 1;
            --shared.running;
            shared.finished.notify_all();
        });
    }
    bool cancelled_by_caller = false;
    // Frames left out are told in the plan's order: a part's only once every part before
    // it has finished.
    const auto report = [&] {
        std::vector<std::pair<size_t, SkippedFrame>> ready;
        int64_t skipped = 0;
        {
            std::lock_guard lock(shared.mutex);
            size_t open_part = 0;
            while (open_part < parts && shared.part_finished[open_part]) ++open_part;
            const auto later =
                std::stable_partition(shared.untold.begin(), shared.untold.end(),
                                      [&](const auto& u) { return u.first <= open_part; });
            ready.assign(std::make_move_iterator(shared.untold.begin()),
                         std::make_move_iterator(later));
            shared.untold.erase(shared.untold.begin(), later);
            skipped = static_cast<int64_t>(shared.skipped.size());
        }
        std::stable_sort(ready.begin(), ready.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        if (callbacks.skipped)
            for (const auto& [part, s] : ready) callbacks.skipped(s);
        if (callbacks.progress &&
            !callbacks.progress(Progress{shared.done.load(), plan.total(), skipped})) {
            cancelled_by_caller = true;
            shared.cancelled = true;
        }
    };
    results[0] = compose_part(clip, plan, 0, starts[0], starts[1], shared, report);
    if (std::holds_alternative<CompositionFailure>(results[0])) shared.fail(0);
    {
        std::unique_lock lock(shared.mutex);
        shared.part_finished[0] = 1;
        while (!shared.finished.wait_for(lock, std::chrono::milliseconds(100),
                                         [&] { return shared.running == 0; })) {
            lock.unlock();
            report();
            lock.lock();
        }
    }
    for (std::thread& t : threads) t.join();
    report();
    if (cancelled_by_caller) return CompositionFailure{Kind::Cancelled, "cancelled"};

    // The earliest part's failure is the one a single pass would have met first.
    for (const PartResult& r : results)
        if (const auto* f = std::get_if<CompositionFailure>(&r)) return *f;
    Composite done;
    done.parts = static_cast<int>(parts);
    for (size_t i = 0; i < parts; ++i) {
        PartPicture& part = std::get<PartPicture>(results[i]);
        if (part.image.isNull()) continue;
        done.merged += part.merged;
        // A part whose frames all failed leaves the next one to seed the composite, as
        // a single pass would.
        if (done.image.isNull())
            done.image = std::move(part.image);
        else
            merge_into(done.image, part.image, plan, plan.priority(starts[i]));
    }
    done.skipped = std::move(shared.skipped);
    std::sort(done.skipped.begin(), done.skipped.end());
    if (done.image.isNull())
        return CompositionFailure{
            Kind::Decode,
            plan.total() == 1
                ? "frame " + std::to_string(plan.frame(0)) + " cannot be decoded"
                : "none of the run's " + std::to_string(plan.total()) + " frames can be decoded"};

    if (plan.as_shown) {
        // The window redraws the scale after every cycle. Within the merged block it
        // covers only the frame's first column and row, which end black whatever was
        // merged there, so painting it as often at the end gives the same picture. Its
        // numbers are antialiased, so each painting darkens their edges until a
        // painting changes nothing; from then on none does.
        PictureSurface surface(done.image.width(), done.image.height());
        surface.set_picture(&done.image);
        surface.font = default_ui_font();
        const AxesDrawing scale =
            axes_geometry(static_cast<int16_t>(plan.frame_size.width()),
                          static_cast<int16_t>(plan.frame_size.height()), true, true);
        QImage before;
        for (int64_t k = 0; k < plan.total() && surface.image() != before; ++k) {
            before = surface.image().copy();
            paint_axes(surface, scale);
        }
        done.image = surface.image();
    }
    return done;
}

}  // namespace tambrel::compose
