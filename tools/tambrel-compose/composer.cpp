#include "composer.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "compose/blend.h"
#include "core/fonts.h"
#include "core/handles.h"
#include "core/picture_fit.h"
#include "core/surface.h"
#include "measure/axes_geometry.h"
#include "measure/axes_paint.h"
#include "media/service/video_device.h"
#include "media/service/command_service.h"
#include "media/service/path_codec.h"

namespace tambrel::compose_cli {

namespace {

using Kind = ComposeFailure::Kind;
using PartResult = std::variant<QImage, ComposeFailure>;

// The window sizes Picture1 to 320 x 240 pixels at start-up and Picture3 50 pixels
// wider and taller; both have a 2-pixel border.
constexpr int kPicture1OuterWidth = 320, kPicture1OuterHeight = 240;
constexpr int kPicture3Extra = 50;
constexpr int kBorder = 2;

// Fewer frames than this per part do not pay for another clip opening.
constexpr int64_t kMinFramesPerPart = 24;
constexpr int kMostParts = 8;

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

struct Plan {
    std::string clip;
    int64_t start = 0, step = 1, total = 0;
    Priority priority = Priority::White;
    bool as_shown = false;
    QSize frame_size, composite_size, merge;
    int64_t frame(int64_t k) const { return start + k * step; }
};

// What the parts of a run share.
struct Shared {
    std::atomic<int64_t> done{0};
    std::atomic<bool> cancelled{false};
    std::mutex mutex;
    std::condition_variable finished;
    int running = 0;
};

ComposeFailure memory_failure(QSize size) {
    return {Kind::Memory, "not enough memory for pictures of " + std::to_string(size.width()) +
                              " x " + std::to_string(size.height()) + " pixels"};
}

void merge_into(QImage& composite, const QImage& frame, const Plan& plan) {
    const int columns = std::min({plan.merge.width(), frame.width(), composite.width()});
    const int rows = std::min({plan.merge.height(), frame.height(), composite.height()});
    blend_rgb32(reinterpret_cast<uint32_t*>(composite.bits()), composite.bytesPerLine() / 4,
                reinterpret_cast<const uint32_t*>(frame.constBits()), frame.bytesPerLine() / 4,
                columns, rows, plan.priority);
}

// Fits the clip into the window's frame area when the run is as shown, as the window
// fits it: a 4:3 picture over the whole area, any other shape with its proportions.
std::optional<ComposeFailure> set_destination(ServiceClip& clip, const Plan& plan) {
    if (!plan.as_shown) return std::nullopt;
    std::optional<QSize> source;
    if (clip.run("where", " source") == 0) source = source_size_from_reply(clip.reply());
    const QRect fit = picture_fit(source.value_or(QSize()), plan.frame_size);
    const std::string put = " destination at " + std::to_string(fit.x()) + ' ' +
                            std::to_string(fit.y()) + ' ' + std::to_string(fit.width()) + ' ' +
                            std::to_string(fit.height());
    if (const int32_t rc = clip.run("put", put); rc != 0)
        return ComposeFailure{Kind::Clip,
                              "cannot fit the clip into the frame area: " + clip.error_text(rc)};
    return std::nullopt;
}

// Frames k = first .. end - 1 of the plan: the first drawn straight into a fresh
// composite, as the window's seeding cycle does, every other one merged into it.
// `on_frame` runs after each frame; a cancelled run ends early (its result unused).
PartResult compose_part(ServiceClip& clip, const Plan& plan, int64_t first, int64_t end,
                        Shared& shared, const std::function<void()>& on_frame) {
    RegisteredSurface composite(clip.handles(), plan.composite_size);
    RegisteredSurface frame(clip.handles(), plan.frame_size);
    if (!composite.allocated() || !frame.allocated()) return memory_failure(plan.composite_size);

    for (int64_t k = first; k < end && !shared.cancelled; ++k) {
        const int64_t n = plan.frame(k);
        RegisteredSurface& into = k == first ? composite : frame;
        if (const int32_t rc = clip.run("seek", " to " + std::to_string(n)); rc != 0)
            return ComposeFailure{Kind::Clip, "frame " + std::to_string(n) +
                                                  " cannot be decoded: " + clip.error_text(rc)};
        if (const int32_t rc = clip.run("update", into.hdc()); rc != 0)
            return ComposeFailure{Kind::Clip, "frame " + std::to_string(n) +
                                                  " cannot be drawn: " + clip.error_text(rc)};
        if (k != first) merge_into(composite.image(), frame.image(), plan);
        ++shared.done;
        if (on_frame) on_frame();
    }
    return composite.image().copy();
}

// Where each part starts, as indices into the plan (the last entry is the total).
// Parts need a keyframe of their own near their start, or each would decode what the
// part before it decodes.
std::vector<int64_t> part_starts(ServiceClip& clip, const Plan& plan, int max_parts) {
    int parts = max_parts > 0 ? max_parts
                              : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    parts = static_cast<int>(std::clamp<int64_t>(
        std::min<int64_t>(parts, plan.total / kMinFramesPerPart), 1, kMostParts));
    const media::FrameIndex& index = clip.device().clip().index();
    for (; parts > 1; --parts) {
        std::vector<int64_t> starts;
        bool independent = true;
        for (int i = 0; i <= parts; ++i) starts.push_back(plan.total * i / parts);
        for (int i = 1; i < parts && independent; ++i) {
            const int64_t key =
                index.key_at_or_before(index.picture_of(plan.frame(starts[i]))).slot;
            independent = key > plan.frame(starts[i - 1]);
        }
        if (independent) return starts;
    }
    return {0, plan.total};
}

}  // namespace

WindowLayout window_layout() {
    // The frame area is the inner area of Picture1, which the scale also frames.
    const auto area = image_area(kPicture1OuterWidth, kPicture1OuterHeight);
    const QSize frame(area->width, area->height);
    const QSize composite(kPicture1OuterWidth + kPicture3Extra - 2 * kBorder,
                          kPicture1OuterHeight + kPicture3Extra - 2 * kBorder);
    // A merge pass runs x and y from 0 to the inner size minus 4, both ends included.
    const QSize merge(frame.width() - 3, frame.height() - 3);
    return {frame, composite, merge};
}

int64_t frames_in_run(int64_t length, int64_t start, int64_t step, std::optional<int64_t> count) {
    if (start < 0 || step < 1 || start >= length) return 0;
    const int64_t available = (length - 1 - start) / step + 1;
    return count ? std::min(*count, available) : available;
}

std::variant<Composite, ComposeFailure> compose(const ComposeOptions& options,
                                                const ProgressFn& progress, RunLimits limits) {
    ServiceClip clip;
    if (const int32_t rc = clip.open(options.clip); rc != 0)
        return ComposeFailure{Kind::Clip,
                              "cannot open '" + options.clip + "': " + clip.error_text(rc)};
    int64_t length = 0;
    if (clip.run("status", " length") != 0 ||
        std::from_chars(clip.reply().data(), clip.reply().data() + clip.reply().size(), length)
                .ec != std::errc())
        return ComposeFailure{Kind::Clip, "cannot read the length of '" + options.clip + "'"};

    Plan plan;
    plan.clip = options.clip;
    plan.start = options.start;
    plan.step = options.step;
    plan.priority = options.priority;
    plan.as_shown = options.as_shown;
    plan.total = frames_in_run(length, options.start, options.step, options.count);
    if (plan.total == 0)
        return ComposeFailure{Kind::StartPastEnd, "--start " + std::to_string(options.start) +
                                                      " is past the clip's last frame (" +
                                                      std::to_string(length - 1) + ")"};
    if (options.as_shown) {
        const WindowLayout layout = window_layout();
        plan.frame_size = layout.frame_area;
        plan.composite_size = layout.composite;
        plan.merge = layout.merge_region;
    } else {
        plan.frame_size = plan.composite_size = plan.merge = clip.device().destination().size();
    }
    if (auto e = set_destination(clip, plan)) return *e;

    const std::vector<int64_t> starts = part_starts(clip, plan, limits.max_parts);
    const size_t parts = starts.size() - 1;
    std::vector<PartResult> results(parts, QImage());
    Shared shared;
    shared.running = static_cast<int>(parts) - 1;

    // Parts after the first run on threads of their own, each with its own service.
    std::vector<std::thread> threads;
    for (size_t i = 1; i < parts; ++i) {
        threads.emplace_back([&, i] {
            ServiceClip own;
            PartResult result;
            if (const int32_t rc = own.open(plan.clip); rc != 0) {
                result = ComposeFailure{
                    Kind::Clip, "cannot open '" + plan.clip + "' again: " + own.error_text(rc)};
            } else if (auto e = set_destination(own, plan)) {
                result = *e;
            } else {
                result = compose_part(own, plan, starts[i], starts[i + 1], shared, {});
            }
            if (std::holds_alternative<ComposeFailure>(result)) shared.cancelled = true;
            results[i] = std::move(result);
            std::lock_guard lock(shared.mutex);
            --shared.running;
            shared.finished.notify_all();
        });
    }
    const auto report = [&] {
        if (progress) progress(shared.done.load(), plan.total);
    };
    results[0] = compose_part(clip, plan, starts[0], starts[1], shared, report);
    if (std::holds_alternative<ComposeFailure>(results[0])) shared.cancelled = true;
    {
        std::unique_lock lock(shared.mutex);
        while (!shared.finished.wait_for(lock, std::chrono::milliseconds(100),
                                         [&] { return shared.running == 0; })) {
            lock.unlock();
            report();
            lock.lock();
        }
    }
    for (std::thread& t : threads) t.join();
    report();

    // The earliest part's failure is the one a single pass would have met first.
    for (const PartResult& r : results)
        if (const auto* f = std::get_if<ComposeFailure>(&r)) return *f;
    QImage composite = std::get<QImage>(results[0]);
    if (composite.isNull()) return memory_failure(plan.composite_size);
    for (size_t i = 1; i < parts; ++i) merge_into(composite, std::get<QImage>(results[i]), plan);

    if (plan.as_shown) {
        // The window redraws the scale after every cycle. Within the merged block it
        // covers only the frame's first column and row, which end black whatever was
        // merged there, so painting it as often at the end gives the same picture. Its
        // numbers are antialiased, so each painting darkens their edges until a
        // painting changes nothing; from then on none does.
        PictureSurface surface(composite.width(), composite.height());
        surface.set_picture(&composite);
        surface.font = default_ui_font();
        const AxesDrawing scale =
            axes_geometry(static_cast<int16_t>(plan.frame_size.width()),
                          static_cast<int16_t>(plan.frame_size.height()), true, true);
        QImage before;
        for (int64_t k = 0; k < plan.total && surface.image() != before; ++k) {
            before = surface.image().copy();
            paint_axes(surface, scale);
        }
        composite = surface.image();
    }
    return Composite{composite, static_cast<int>(parts)};
}

}  // namespace tambrel::compose_cli
