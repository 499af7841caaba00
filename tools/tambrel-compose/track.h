#pragma once
// --track: the moving object's place in each frame of the run, as CSV, and --fit's
// report of the positions found.

#include <string>
#include <variant>

#include "arguments.h"
#include "measure/tracking/clip_tracker.h"
#include "run.h"

namespace tambrel::compose_cli {

// Opens the clip and finds the object in the frames --start, --step and --count name.
std::variant<tracking::TrackResult, RunFailure> track(
    const ComposeOptions& options, const tracking::TrackCallbacks& callbacks = {});

// The CSV text: a header row "k,frame,t_s,x_px,y_px,area_px,found" (",x_m,y_m" with a
// scale), then one row per frame; a frame not found has its place, area and metres
// empty.
std::string track_csv(const tracking::TrackResult& result, std::optional<double> scale);

// What --fit prints: a line naming the fit and how many positions it used, then one
// line per quantity, "name = value +/- error unit", each value to the second
// significant digit of its error. `warning` gets a line instead where the positions
// found are too few for the fit.
struct FitReport {
    std::string text;
    std::string warning;
};
FitReport fit_report(const tracking::TrackResult& result, TrackFit fit,
                     std::optional<double> scale);

}  // namespace tambrel::compose_cli
