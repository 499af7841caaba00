#include "compose/run_record.h"

#include <cmath>

namespace tambrel {

void RunRecord::clear() {
    cycles_.clear();
    run_ = 0;
}

void RunRecord::start_run(int16_t steps) {
    steps_ = steps;
    ++run_;
}

void RunRecord::seed(std::optional<int64_t> frame, std::optional<double> time_ms) {
    cycles_.clear();
    if (run_ == 0) run_ = 1;
    cycles_.push_back({frame, time_ms, std::nullopt, 0, run_});
}

void RunRecord::merge(std::optional<int64_t> frame, std::optional<double> time_ms,
                      Priority priority) {
    if (run_ == 0) run_ = 1;
    cycles_.push_back({frame, time_ms, priority, steps_, run_});
}

std::optional<double> RunRecord::interval_ms(double frame_rate) const {
    // The latest run's merges, and the cycle just before its first merge.
    size_t first = cycles_.size();
    while (first > 0 && cycles_[first - 1].run == run_ && cycles_[first - 1].priority) --first;
    const size_t merges = cycles_.size() - first;
    if (merges > 0 && first > 0) {
        const auto& from = cycles_[first - 1].time_ms;
        const auto& to = cycles_.back().time_ms;
        if (from && to) return (*to - *from) / static_cast<double>(merges);
    }
    if (frame_rate > 0 && std::isfinite(frame_rate)) return steps_ * 1000.0 / frame_rate;
    return std::nullopt;
}

std::optional<double> RunRecord::time_of(int k, double frame_rate) const {
    if (k < 0) return std::nullopt;
    for (int j = std::min<int>(k, static_cast<int>(cycles_.size()) - 1); j >= 0; --j) {
        const auto& known = cycles_[static_cast<size_t>(j)].time_ms;
        if (!known) continue;
        if (j == k) return known;
        const auto interval = interval_ms(frame_rate);
        if (!interval) return std::nullopt;
        return *known + (k - j) * *interval;
    }
    return std::nullopt;
}

std::optional<CompositionPlan> RunRecord::plan() const {
    if (cycles_.empty() || cycles_.front().priority || !cycles_.front().frame) return std::nullopt;
    CompositionPlan plan;
    plan.seed = *cycles_.front().frame;
    for (size_t i = 1; i < cycles_.size(); ++i) {
        if (!cycles_[i].frame || !cycles_[i].priority) return std::nullopt;
        plan.merges.push_back({*cycles_[i].frame, *cycles_[i].priority});
    }
    return plan;
}

}  // namespace tambrel
