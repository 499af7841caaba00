#include "track.h"

#include <cstdio>
#include <vector>

#include "measure/tracking/fits.h"

namespace tambrel::compose_cli {

namespace {

using tracking::Estimate;

std::string format(const char* pattern, double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, decimals, value);
    return text;
}

// "name = 1.4291 +/- 0.0021 s"; without an error, the value to `fallback` decimals.
std::string quantity(const std::string& name, const Estimate& e, const std::string& unit,
                     int fallback) {
    const int decimals = tracking::decimals_for_error(e.error, fallback);
    std::string line = name + " = " + format("%.*f", e.value, decimals);
    if (e.error > 0 && std::isfinite(e.error)) line += " +/- " + format("%.*f", e.error, decimals);
    return line + " " + unit + "\n";
}

}  // namespace

std::variant<tracking::TrackResult, RunFailure> track(const ComposeOptions& options,
                                                      const tracking::TrackCallbacks& callbacks) {
    using Kind = tracking::TrackFailure::Kind;
    const auto status_of = [](Kind kind) { return kind == Kind::Plan ? kExitUsage : kExitClip; };
    auto opened = tracking::ClipTracker::open(options.clip);
    if (const auto* failure = std::get_if<tracking::TrackFailure>(&opened))
        return RunFailure{status_of(failure->kind), failure->message};
    tracking::ClipTracker& tracker = *std::get<std::unique_ptr<tracking::ClipTracker>>(opened);
    const int64_t total =
        frames_in_run(tracker.length(), options.start, options.step, options.count);
    if (total == 0)
        return RunFailure{kExitUsage, "--start " + std::to_string(options.start) +
                                          " is past the clip's last frame (" +
                                          std::to_string(tracker.length() - 1) + ")"};
    std::vector<int64_t> frames;
    frames.reserve(size_t(total));
    for (int64_t k = 0; k < total; ++k) frames.push_back(options.start + k * options.step);
    auto result = tracker.track(frames, options.strict, callbacks);
    if (const auto* failure = std::get_if<tracking::TrackFailure>(&result))
        return RunFailure{status_of(failure->kind), failure->message};
    return std::get<tracking::TrackResult>(std::move(result));
}

std::string track_csv(const tracking::TrackResult& result, std::optional<double> scale) {
    std::string text = "k,frame,t_s,x_px,y_px,area_px,found";
    if (scale) text += ",x_m,y_m";
    text += "\n";
    char line[256];
    for (size_t k = 0; k < result.frames.size(); ++k) {
        const tracking::TrackedFrame& f = result.frames[k];
        const auto t = result.scene_seconds(f);
        std::snprintf(line, sizeof line, "%zu,%lld,", k, static_cast<long long>(f.frame));
        text += line;
        if (t) text += format("%.*f", *t, 6);
        if (f.object) {
            std::snprintf(line, sizeof line, ",%.3f,%.3f,%d,1", f.object->x, f.object->y,
                          f.object->area);
            text += line;
            if (scale) {
                std::snprintf(line, sizeof line, ",%.6f,%.6f", f.object->x * *scale,
                              f.object->y * *scale);
                text += line;
            }
        } else {
            text += scale ? ",,,,0,," : ",,,,0";
        }
        text += "\n";
    }
    return text;
}

FitReport fit_report(const tracking::TrackResult& result, TrackFit fit,
                     std::optional<double> scale) {
    std::vector<double> t, x, y;
    for (const tracking::TrackedFrame& f : result.frames) {
        const auto seconds = result.scene_seconds(f);
        if (!f.object || !seconds) continue;
        t.push_back(*seconds);
        x.push_back(f.object->x * scale.value_or(1));
        y.push_back(f.object->y * scale.value_or(1));
    }
    const std::string length = scale ? "m" : "px";
    const int fallback = scale ? 6 : 3;
    const std::string found =
        std::to_string(t.size()) + " of " + std::to_string(result.frames.size()) + " frames";
    const auto too_few = [&](const char* name, int needed) {
        return FitReport{{},
                         std::string("a ") + name + " needs at least " + std::to_string(needed) +
                             " positions found at different "
                             "times; " +
                             found + " have one"};
    };
    FitReport report;
    switch (fit) {
        case TrackFit::Line: {
            const auto fx = tracking::fit_line(t, x), fy = tracking::fit_line(t, y);
            if (!fx || !fy) return too_few("line", 3);
            report.text = "line fit to the positions of " + found + " (x to the right, y down):\n" +
                          quantity("vx", fx->velocity, length + "/s", fallback) +
                          quantity("vy", fy->velocity, length + "/s", fallback);
            break;
        }
        case TrackFit::Parabola: {
            const auto fx = tracking::fit_parabola(t, x), fy = tracking::fit_parabola(t, y);
            if (!fx || !fy) return too_few("parabola", 4);
            report.text = "parabola fit to the positions of " + found +
                          " (x to the right, y down):\n" +
                          quantity("ax", fx->acceleration, length + "/s^2", fallback) +
                          quantity("ay", fy->acceleration, length + "/s^2", fallback);
            if (scale) {
                Estimate g = fy->acceleration;
                g.value = std::abs(g.value);
                report.text += quantity("g", g, "m/s^2", fallback);
            }
            break;
        }
        case TrackFit::Sine: {
            const bool across = tracking::first_moves_most(x, y);
            const auto f = tracking::fit_sine(t, across ? x : y);
            if (!f) return too_few("sine", 5);
            const std::string axis = across ? "x" : "y";
            report.text = "sine fit to " + axis + " of " + found + ":\n" +
                          quantity("period", f->period, "s", 6) +
                          quantity("amplitude", f->amplitude, length, fallback) +
                          quantity("centre", f->centre, length, fallback);
            break;
        }
    }
    return report;
}

}  // namespace tambrel::compose_cli
