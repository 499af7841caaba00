#include "compose/engine/clip_composer.h"

#include <QPainter>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "compose/blend.h"
#include "core/fonts.h"
#include "core/picture_fit.h"
#include "core/surface.h"
#include "core/window_layout.h"
#include "media/service/clip_reader.h"
#include "media/service/memory_budget.h"
#include "scale/axes_geometry.h"
#include "scale/axes_paint.h"

namespace tambrel::compose {

namespace {

using media::ClipReader;
using Kind = CompositionFailure::Kind;

// Fewer frames than this per part do not pay for another clip opening.
constexpr int64_t kMinFramesPerPart = 24;
constexpr int kMostParts = 8;

// The window's pictures are white where no frame is drawn.
QImage white_picture(QSize size) {
    QImage picture(size, QImage::Format_RGB32);
    if (!picture.isNull()) picture.fill(0xFFFFFFFFu);
    return picture;
}

// The plan as a run works through it: frame k = 0 is the seed, every later one is
// merged with priorities[k].
struct Plan {
    std::vector<int64_t> frames;
    std::vector<Priority> priorities;  // priorities[0] is unused
    bool as_shown = false;
    bool strict = false;
    QSize frame_size, composite_size, merge;
    QRect dest;         // where a frame lies in pictures of frame_size (white elsewhere)
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

// Draws frame n of the plan into `into` (of the plan's frame size) where the plan puts
// it; the service's error and what to say when it cannot.
struct DrawFailure {
    media::MediaError error;
    std::string message;
};
std::optional<DrawFailure> draw_frame(ClipReader& reader, const Plan& plan, int64_t n,
                                      QImage& into) {
    if (const auto e = reader.draw(n, into, plan.dest); e != media::MediaError::None)
        return DrawFailure{e, "frame " + std::to_string(n) +
                                  " cannot be decoded: " + ClipReader::error_text(e)};
    return std::nullopt;
}

bool skippable(const Plan& plan, media::MediaError e) {
    return !plan.strict && e == media::MediaError::DecodeFailed;
}

// Frames k = first .. end - 1 of the plan: the first that can be decoded is drawn
// straight into a fresh composite, as the window's seeding cycle does, every later one
// merged into it. `on_frame` runs after each frame; a part that stops (the run cancelled,
// or an earlier part failed) ends early, its result unused.
PartResult compose_part(ClipReader& reader, const Plan& plan, size_t part, int64_t first,
                        int64_t end, Shared& shared, const std::function<void()>& on_frame) {
    QImage composite = white_picture(plan.composite_size);
    QImage frame = white_picture(plan.frame_size);
    if (composite.isNull() || frame.isNull()) return memory_failure(plan.composite_size);

    int64_t merged = 0;
    for (int64_t k = first; k < end && !shared.stops(part); ++k) {
        const int64_t n = plan.frame(k);
        QImage& into = merged == 0 ? composite : frame;
        if (const auto failed = draw_frame(reader, plan, n, into)) {
            if (!skippable(plan, failed->error))
                return CompositionFailure{Kind::Decode, failed->message};
            shared.skip(part, n, ClipReader::error_text(failed->error));
        } else {
            if (merged > 0) merge_into(composite, frame, plan, plan.priority(k));
            ++merged;
        }
        ++shared.done;
        if (on_frame) on_frame();
    }
    if (merged == 0) return PartPicture{};
    return PartPicture{std::move(composite), merged};
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
std::vector<int64_t> part_starts(const ClipReader& reader, const Plan& plan, int max_parts) {
    int parts = max_parts > 0 ? max_parts
                              : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    parts = static_cast<int>(std::clamp<int64_t>(
        std::min<int64_t>(parts, plan.total() / kMinFramesPerPart), 1, kMostParts));
    // Every further part opens the clip again and keeps a composite and a frame of its
    // own: as many as the memory budget has room for.
    const size_t per_part = reader.working_bytes() +
                            2 * static_cast<size_t>(plan.frame_size.width()) *
                                static_cast<size_t>(plan.frame_size.height()) * 4;
    const size_t room = media::MemoryBudget::process().available();
    if (per_part > 0)
        parts = static_cast<int>(std::min<size_t>(static_cast<size_t>(parts), 1 + room / per_part));
    for (; parts > 1; --parts) {
        std::vector<int64_t> starts;
        bool independent = true;
        for (int i = 0; i <= parts; ++i) starts.push_back(plan.total() * i / parts);
        for (int i = 1; i < parts && independent; ++i) {
            const int64_t key = reader.key_frame_at_or_before(plan.frame(starts[i]));
            independent =
                key > plan.frame(starts[i - 1]) && one_priority(plan, starts[i], starts[i + 1]);
        }
        if (independent) return starts;
    }
    return {0, plan.total()};
}

// The background picture difference priority measures against, at the frame size.
std::variant<QImage, CompositionFailure> make_background(ClipReader& reader, const Plan& plan,
                                                         const Background& wanted, QSize clip_size,
                                                         const Callbacks& callbacks) {
    if (const auto* one = std::get_if<FrameBackground>(&wanted)) {
        QImage picture = white_picture(plan.frame_size);
        if (picture.isNull()) return memory_failure(plan.frame_size);
        if (const auto failed = draw_frame(reader, plan, one->frame, picture))
            return CompositionFailure{Kind::Decode, "the background's " + failed->message};
        return picture;
    }

    if (const auto* given = std::get_if<PictureBackground>(&wanted)) {
        if (given->image.size() != clip_size)
            return CompositionFailure{
                Kind::Plan, "the background picture is " + size_text(given->image.size()) +
                                " pixels, the clip's frames " + size_text(clip_size)};
        const QImage picture = given->image.convertToFormat(QImage::Format_RGB32);
        if (!plan.as_shown) return picture;
        // Where the frames are fitted, white elsewhere as around them.
        QImage fitted = white_picture(plan.frame_size);
        if (fitted.isNull()) return memory_failure(plan.frame_size);
        QPainter painter(&fitted);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(plan.dest, picture);
        painter.end();
        return fitted;
    }

    // The median of frames spread over the plan's range, as many as the budget holds.
    const auto [first, last] = std::minmax_element(plan.frames.begin(), plan.frames.end());
    const std::vector<int64_t> frames =
        background_frames(*first, *last, background_frame_limit(plan.frame_size));
    BackgroundSource source;
    source.draw = [&](int64_t n, QImage& into) { return reader.draw(n, into, plan.dest); };
    source.strict = plan.strict;
    source.skipped = [&](int64_t n, const std::string& reason) {
        if (callbacks.skipped) callbacks.skipped({n, true, reason});
    };
    source.progress = [&] {
        return !callbacks.progress || callbacks.progress(Progress{0, plan.total(), 0});
    };
    auto made = median_background(frames, plan.frame_size, white_picture(plan.frame_size), source);
    if (auto* failure = std::get_if<RunFailure>(&made)) return *failure;
    return std::get<MedianPicture>(std::move(made)).image;
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

ClipComposer::ClipComposer(std::unique_ptr<ClipReader> reader)
    : reader_(std::move(reader)), length_(reader_->length()), size_(reader_->size()) {}

ClipComposer::~ClipComposer() = default;

std::variant<std::unique_ptr<ClipComposer>, CompositionFailure> ClipComposer::open(
    const std::string& path) {
    auto opened = ClipReader::open(path);
    if (auto* failure = std::get_if<media::ReaderFailure>(&opened))
        return CompositionFailure{Kind::Open, failure->message};
    return std::unique_ptr<ClipComposer>(
        new ClipComposer(std::get<std::unique_ptr<ClipReader>>(std::move(opened))));
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
        // Fitted into the frame area as the window fits it: a 4:3 picture over the
        // whole area, any other shape with its proportions.
        plan.dest = picture_fit(size_, plan.frame_size);
    } else {
        plan.frame_size = plan.composite_size = plan.merge = size_;
        plan.dest = QRect(QPoint(0, 0), size_);
    }
    ClipReader& reader = *reader_;

    if (needs_background) {
        auto made = make_background(reader, plan, wanted.background, size_, callbacks);
        if (auto* e = std::get_if<CompositionFailure>(&made)) return *e;
        plan.background = std::get<QImage>(std::move(made));
    }

    const std::vector<int64_t> starts = part_starts(reader, plan, limits.max_parts);
    const size_t parts = starts.size() - 1;
    std::vector<PartResult> results(parts, PartPicture{});
    Shared shared(parts);
    shared.running = static_cast<int>(parts) - 1;

    // Parts after the first run on threads of their own, each with its own service.
    std::vector<std::thread> threads;
    for (size_t i = 1; i < parts; ++i) {
        threads.emplace_back([&, i] {
            PartResult result;
            auto own = reader.reopen();
            if (auto* failure = std::get_if<media::ReaderFailure>(&own)) {
                result = CompositionFailure{Kind::Open, "cannot open '" + reader.path() +
                                                            "' again: " +
                                                            ClipReader::error_text(failure->error)};
            } else {
                result = compose_part(*std::get<std::unique_ptr<ClipReader>>(own), plan, i,
                                      starts[i], starts[i + 1], shared, {});
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
    results[0] = compose_part(reader, plan, 0, starts[0], starts[1], shared, report);
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
