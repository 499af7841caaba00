#include "measure/tracking/track_path.h"

#include <algorithm>
#include <cmath>

namespace tambrel::tracking {

namespace {

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    const size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(middle), values.end());
    return values[middle];
}

struct Point {
    double x, y;
};

// Where a frame's object should be from the regions chosen around it, and how far from
// there it may lie.
struct Expectation {
    Point at;
    double tolerance;
};

}  // namespace

std::vector<std::optional<Region>> choose_path(std::span<const FrameRegions> frames,
                                               std::span<const double> times) {
    const size_t n = std::min(frames.size(), times.size());
    std::vector<std::optional<Region>> chosen(n);

    std::vector<double> largest;
    int at_edge = 0;
    for (size_t k = 0; k < n; ++k) {
        if (frames[k].regions.empty()) continue;
        largest.push_back(frames[k].regions.front().area);
        at_edge += frames[k].regions.front().at_edge ? 1 : 0;
    }
    if (largest.empty()) return chosen;
    const double size = median(largest);
    const bool edges_allowed = 2 * at_edge > int(largest.size());
    const double radius = std::sqrt(size / M_PI);

    const auto fits = [&](const Region& r) {
        return r.area >= size / 2 && r.area <= size * 2 && (edges_allowed || !r.at_edge);
    };
    for (size_t k = 0; k < n; ++k)
        for (const Region& r : frames[k].regions)
            if (fits(r)) {
                chosen[k] = r;
                break;
            }

    const auto distance = [](Point a, Point b) { return std::hypot(a.x - b.x, a.y - b.y); };
    const auto place = [&](size_t k) { return Point{chosen[k]->x, chosen[k]->y}; };

    // Checked worst first until every chosen region lies on the path. Each round drops a
    // region or puts one that fits better in its place; the bound only guards against
    // two regions taking turns.
    for (size_t round = 0; round < 2 * n + 2; ++round) {
        std::vector<size_t> picked;
        for (size_t k = 0; k < n; ++k)
            if (chosen[k]) picked.push_back(k);
        if (picked.size() < 3) break;
        std::vector<double> speeds;
        for (size_t i = 0; i + 1 < picked.size(); ++i) {
            const double dt = std::abs(times[picked[i + 1]] - times[picked[i]]);
            if (dt > 0) speeds.push_back(distance(place(picked[i]), place(picked[i + 1])) / dt);
        }
        const double speed = median(speeds);

        const auto expect = [&](size_t i) -> Expectation {
            const size_t k = picked[i];
            const double t = times[k];
            // Between the neighbours where there are two; past the end, on from the
            // two nearest.
            size_t a, b;
            if (i > 0 && i + 1 < picked.size()) {
                a = picked[i - 1];
                b = picked[i + 1];
            } else if (i == 0) {
                a = picked[1];
                b = picked[2];
            } else {
                a = picked[i - 2];
                b = picked[i - 1];
            }
            const double ta = times[a], tb = times[b];
            const double f = tb != ta ? (t - ta) / (tb - ta) : 0.5;
            const Point pa = place(a), pb = place(b);
            const Point at{pa.x + f * (pb.x - pa.x), pa.y + f * (pb.y - pa.y)};
            const double span = std::max({std::abs(t - ta), std::abs(t - tb), std::abs(tb - ta)});
            return {at, std::max(3 * radius, 2 * speed * span)};
        };

        size_t worst = picked.size();
        double worst_ratio = 1;
        Expectation worst_expected{};
        for (size_t i = 0; i < picked.size(); ++i) {
            const Expectation e = expect(i);
            const double ratio = distance(place(picked[i]), e.at) / e.tolerance;
            if (ratio > worst_ratio) {
                worst_ratio = ratio;
                worst = i;
                worst_expected = e;
            }
        }
        if (worst == picked.size()) break;

        const size_t k = picked[worst];
        std::optional<Region> better;
        double best = worst_expected.tolerance;
        for (const Region& r : frames[k].regions) {
            if (!fits(r)) continue;
            const double d = distance({r.x, r.y}, worst_expected.at);
            if (d <= best && !(r.x == chosen[k]->x && r.y == chosen[k]->y)) {
                best = d;
                better = r;
            }
        }
        chosen[k] = better;
    }
    return chosen;
}

}  // namespace tambrel::tracking
