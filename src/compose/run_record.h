#pragma once
// What the composite is made of: the frame each cycle drew (the seed, then every merged
// frame with the priority it was merged with), the frame's time in the clip, and the
// frames per step of the run that merged it. A composite outlives a run (a later run
// blends on), so the record goes on across runs until the composite is emptied.
//
// Frames and times are known only when a clip was open to be asked; a cycle without a
// clip merges whatever the frame picture held and is recorded as unknown.

#include <cstdint>
#include <optional>
#include <vector>

#include "compose/blend.h"

namespace tambrel {

struct RunCycle {
    std::optional<int64_t> frame;
    std::optional<double> time_ms;     // from frame 0, in clip milliseconds
    std::optional<Priority> priority;  // none for the seed
    int16_t steps = 0;                 // frames per step of the run that drew it
    int run = 0;                       // 1, 2, … since the composite was emptied
};

// A composite rebuilt elsewhere: the seed, then the merges in order.
struct CompositionPlan {
    int64_t seed = 0;
    struct Merge {
        int64_t frame;
        Priority priority;
        bool operator==(const Merge&) const = default;
    };
    std::vector<Merge> merges;
};

class RunRecord {
public:
    // The composite was emptied (cleared, a clip opened).
    void clear();
    // A composition run starts with `steps` frames per step.
    void start_run(int16_t steps);
    // The seed cycle drew a frame into the (emptied) composite: the record starts over.
    void seed(std::optional<int64_t> frame, std::optional<double> time_ms);
    void merge(std::optional<int64_t> frame, std::optional<double> time_ms, Priority priority);

    const std::vector<RunCycle>& cycles() const { return cycles_; }
    bool empty() const { return cycles_.empty(); }
    // Frames per step of the latest run (0 before any).
    int16_t steps() const { return steps_; }

    // The clip time between merged frames of the latest run, in milliseconds: from the
    // recorded times of its merges and the frame it stepped from (so exact, on average
    // over the run, for a variable frame rate), else its frames per step at the nominal
    // frame rate. nullopt when neither is known.
    std::optional<double> interval_ms(double frame_rate) const;

    // The clip time of the k-th merged frame (0 the seed): as recorded, or counted on
    // from the last recorded time before it by the latest interval.
    std::optional<double> time_of(int k, double frame_rate) const;

    // The seed and merges as a plan; nullopt when the record does not start with a seed
    // or a frame is unknown.
    std::optional<CompositionPlan> plan() const;

private:
    std::vector<RunCycle> cycles_;
    int16_t steps_ = 0;
    int run_ = 0;
};

}  // namespace tambrel
