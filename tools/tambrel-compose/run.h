#pragma once
// From a command line to a composite: the clip opened once, the plan built from
// --start, --step, --count, --priority and the background options, and the engine's
// run, with every failure turned into the exit status --help documents.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "arguments.h"
#include "compose/engine/clip_composer.h"

namespace tambrel::compose_cli {

// Frames a run merges, the seed included: start, start + step, ... while below
// `length`, and at most `count` of them. 0 when `start` is past the clip's end.
int64_t frames_in_run(int64_t length, int64_t start, int64_t step, std::optional<int64_t> count);

// The plan of `total` frames (frames_in_run) the options ask for. The background comes
// from the options except a picture's, which is given read.
compose::CompositionPlan plan_for(const ComposeOptions& options, int64_t total,
                                  const QImage& background_picture = {});

struct RunFailure {
    int status;           // kExitUsage, kExitClip, ...
    std::string message;  // one line, without the program's name
};

// Reads the background picture if the options name one, opens the clip and composes.
// With as_shown the painting needs a QGuiApplication.
std::variant<compose::Composite, RunFailure> compose(const ComposeOptions& options,
                                                     const compose::Callbacks& callbacks = {},
                                                     compose::RunLimits limits = {});

}  // namespace tambrel::compose_cli
