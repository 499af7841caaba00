#include "measure/tracking/fits.h"

#include <algorithm>
#include <array>
#include <numbers>
#include <vector>

namespace tambrel::tracking {

namespace {

template <size_t P>
using Vec = std::array<double, P>;
template <size_t P>
using Mat = std::array<Vec<P>, P>;

// The inverse of a symmetric positive definite matrix by Gauss-Jordan elimination with
// partial pivoting; nullopt when it is singular (to working precision).
template <size_t P>
std::optional<Mat<P>> inverse(Mat<P> a) {
    Mat<P> inv{};
    for (size_t i = 0; i < P; ++i) inv[i][i] = 1;
    double scale = 0;
    for (size_t i = 0; i < P; ++i) scale = std::max(scale, std::abs(a[i][i]));
    if (!(scale > 0) || !std::isfinite(scale)) return std::nullopt;
    for (size_t c = 0; c < P; ++c) {
        size_t pivot = c;
        for (size_t r = c + 1; r < P; ++r)
            if (std::abs(a[r][c]) > std::abs(a[pivot][c])) pivot = r;
        if (std::abs(a[pivot][c]) <= scale * 1e-13) return std::nullopt;
        std::swap(a[c], a[pivot]);
        std::swap(inv[c], inv[pivot]);
        const double d = a[c][c];
        for (size_t k = 0; k < P; ++k) {
            a[c][k] /= d;
            inv[c][k] /= d;
        }
        for (size_t r = 0; r < P; ++r) {
            if (r == c || a[r][c] == 0) continue;
            const double f = a[r][c];
            for (size_t k = 0; k < P; ++k) {
                a[r][k] -= f * a[c][k];
                inv[r][k] -= f * inv[c][k];
            }
        }
    }
    return inv;
}

// Least squares of x on P columns: the estimates, their covariance s²(XᵀX)⁻¹ and the
// residual sum of squares. `row(i)` gives the columns' values for point i.
template <size_t P>
struct LinearSolution {
    Vec<P> beta;
    Mat<P> covariance;
    double rss;
};

template <size_t P, typename Row>
std::optional<LinearSolution<P>> linear_least_squares(std::span<const double> x, Row row) {
    const size_t n = x.size();
    if (n <= P) return std::nullopt;
    Mat<P> normal{};
    Vec<P> right{};
    for (size_t i = 0; i < n; ++i) {
        const Vec<P> r = row(i);
        for (size_t a = 0; a < P; ++a) {
            right[a] += r[a] * x[i];
            for (size_t b = 0; b < P; ++b) normal[a][b] += r[a] * r[b];
        }
    }
    const auto inv = inverse<P>(normal);
    if (!inv) return std::nullopt;
    LinearSolution<P> s{};
    for (size_t a = 0; a < P; ++a)
        for (size_t b = 0; b < P; ++b) s.beta[a] += (*inv)[a][b] * right[b];
    s.rss = 0;
    for (size_t i = 0; i < n; ++i) {
        const Vec<P> r = row(i);
        double fitted = 0;
        for (size_t a = 0; a < P; ++a) fitted += r[a] * s.beta[a];
        s.rss += (x[i] - fitted) * (x[i] - fitted);
    }
    const double variance = s.rss / double(n - P);
    for (size_t a = 0; a < P; ++a)
        for (size_t b = 0; b < P; ++b) s.covariance[a][b] = (*inv)[a][b] * variance;
    return s;
}

// The points usable for a fit: same count, finite, at least two different times.
bool usable(std::span<const double> t, std::span<const double> x) {
    if (t.size() != x.size() || t.empty()) return false;
    for (size_t i = 0; i < t.size(); ++i)
        if (!std::isfinite(t[i]) || !std::isfinite(x[i])) return false;
    const auto [low, high] = std::minmax_element(t.begin(), t.end());
    return *high > *low;
}

double mean_of(std::span<const double> v) {
    double sum = 0;
    for (const double e : v) sum += e;
    return sum / double(v.size());
}

double error_of(double variance) {
    return variance >= 0 && std::isfinite(variance) ? std::sqrt(variance)
                                                    : std::numeric_limits<double>::quiet_NaN();
}

// The sine's linear parts at a fixed ω: offset, cosine and sine amplitudes, and the
// residual sum of squares.
std::optional<LinearSolution<3>> sine_at(std::span<const double> u, std::span<const double> x,
                                         double omega) {
    return linear_least_squares<3>(x, [&](size_t i) {
        const double phase = omega * u[i];
        return Vec<3>{1.0, std::cos(phase), std::sin(phase)};
    });
}

}  // namespace

int decimals_for_error(double error, int fallback) {
    if (!(error > 0) || !std::isfinite(error)) return fallback;
    return std::clamp(1 - int(std::floor(std::log10(error))), 0, 9);
}

bool first_moves_most(std::span<const double> first, std::span<const double> second) {
    const auto spread = [](std::span<const double> v) {
        if (v.empty()) return 0.0;
        const double m = mean_of(v);
        double sum = 0;
        for (const double e : v) sum += (e - m) * (e - m);
        return sum;
    };
    return spread(first) >= spread(second);
}

std::optional<LineFit> fit_line(std::span<const double> t, std::span<const double> x) {
    if (!usable(t, x)) return std::nullopt;
    LineFit fit;
    fit.mean_t = mean_of(t);
    const auto [low, high] = std::minmax_element(t.begin(), t.end());
    const double scale = *high - *low;
    const auto s = linear_least_squares<2>(x, [&](size_t i) {
        return Vec<2>{1.0, (t[i] - fit.mean_t) / scale};
    });
    if (!s) return std::nullopt;
    fit.mean_x = s->beta[0];
    fit.velocity = {s->beta[1] / scale, error_of(s->covariance[1][1]) / scale};
    fit.points = int(t.size());
    fit.rms = std::sqrt(s->rss / double(t.size()));
    return fit;
}

std::optional<ParabolaFit> fit_parabola(std::span<const double> t, std::span<const double> x) {
    if (!usable(t, x)) return std::nullopt;
    ParabolaFit fit;
    fit.mean_t = mean_of(t);
    const auto [low, high] = std::minmax_element(t.begin(), t.end());
    fit.scale = *high - *low;
    const auto s = linear_least_squares<3>(x, [&](size_t i) {
        const double u = (t[i] - fit.mean_t) / fit.scale;
        return Vec<3>{1.0, u, u * u};
    });
    if (!s) return std::nullopt;
    fit.c0 = s->beta[0];
    fit.c1 = s->beta[1];
    fit.c2 = s->beta[2];
    const double s2 = fit.scale * fit.scale;
    fit.acceleration = {2 * fit.c2 / s2, 2 * error_of(s->covariance[2][2]) / s2};
    fit.velocity = {fit.c1 / fit.scale, error_of(s->covariance[1][1]) / fit.scale};
    fit.points = int(t.size());
    fit.rms = std::sqrt(s->rss / double(t.size()));
    return fit;
}

std::optional<SineFit> fit_sine(std::span<const double> t, std::span<const double> x) {
    constexpr double kTau = 2 * std::numbers::pi;
    const size_t n = t.size();
    if (!usable(t, x) || n < 5) return std::nullopt;
    SineFit fit;
    fit.mean_t = mean_of(t);
    std::vector<double> u(n);
    for (size_t i = 0; i < n; ++i) u[i] = t[i] - fit.mean_t;

    // The grid: periods from twice the usual spacing (the fastest oscillation the
    // points can show) to four times their span, evenly in ω, ten steps to the width of
    // a minimum (2π / span).
    std::vector<double> sorted(t.begin(), t.end());
    std::sort(sorted.begin(), sorted.end());
    std::vector<double> gaps;
    for (size_t i = 0; i + 1 < n; ++i)
        if (sorted[i + 1] > sorted[i]) gaps.push_back(sorted[i + 1] - sorted[i]);
    std::nth_element(gaps.begin(), gaps.begin() + std::ptrdiff_t(gaps.size() / 2), gaps.end());
    const double spacing = gaps[gaps.size() / 2];
    const double span = sorted.back() - sorted.front();
    const double omega_low = kTau / (4 * span), omega_high = std::numbers::pi / spacing;
    if (!(omega_high > omega_low)) return std::nullopt;
    const double step = kTau / span / 10;
    const size_t steps = std::clamp<size_t>(size_t((omega_high - omega_low) / step) + 1, 2, 20000);
    double best_rss = std::numeric_limits<double>::infinity(), best_omega = 0;
    for (size_t i = 0; i <= steps; ++i) {
        const double omega = omega_low + (omega_high - omega_low) * double(i) / double(steps);
        const auto s = sine_at(u, x, omega);
        if (s && s->rss < best_rss) {
            best_rss = s->rss;
            best_omega = omega;
        }
    }
    auto start = sine_at(u, x, best_omega);
    if (!start) return std::nullopt;

    // Gauss-Newton on (centre, a, b, ω) together, damped where a step does not lower
    // the residuals.
    Vec<4> p{start->beta[0], start->beta[1], start->beta[2], best_omega};
    const auto residuals = [&](const Vec<4>& q) {
        double rss = 0;
        for (size_t i = 0; i < n; ++i) {
            const double r =
                x[i] - (q[0] + q[1] * std::cos(q[3] * u[i]) + q[2] * std::sin(q[3] * u[i]));
            rss += r * r;
        }
        return rss;
    };
    const auto normal_equations = [&](const Vec<4>& q, Mat<4>& jtj, Vec<4>& jtr) {
        jtj = {};
        jtr = {};
        for (size_t i = 0; i < n; ++i) {
            const double c = std::cos(q[3] * u[i]), s = std::sin(q[3] * u[i]);
            const Vec<4> j{1.0, c, s, u[i] * (-q[1] * s + q[2] * c)};
            const double r = x[i] - (q[0] + q[1] * c + q[2] * s);
            for (size_t a = 0; a < 4; ++a) {
                jtr[a] += j[a] * r;
                for (size_t b = 0; b < 4; ++b) jtj[a][b] += j[a] * j[b];
            }
        }
    };
    double rss = residuals(p), damping = 1e-3;
    for (int iteration = 0; iteration < 100; ++iteration) {
        Mat<4> jtj;
        Vec<4> jtr;
        normal_equations(p, jtj, jtr);
        Mat<4> damped = jtj;
        for (size_t a = 0; a < 4; ++a) damped[a][a] *= 1 + damping;
        const auto inv = inverse<4>(damped);
        if (!inv) break;
        Vec<4> next = p;
        for (size_t a = 0; a < 4; ++a)
            for (size_t b = 0; b < 4; ++b) next[a] += (*inv)[a][b] * jtr[b];
        const double next_rss = residuals(next);
        if (next_rss < rss) {
            const bool settled = rss - next_rss <= 1e-12 * rss;
            p = next;
            rss = next_rss;
            damping = std::max(damping / 10, 1e-12);
            if (settled) break;
        } else {
            damping *= 10;
            if (damping > 1e8) break;
        }
    }

    Mat<4> jtj;
    Vec<4> jtr;
    normal_equations(p, jtj, jtr);
    const auto inv = inverse<4>(jtj);
    if (!inv || !(p[3] > 0)) return std::nullopt;
    const double variance = rss / double(n - 4);
    fit.centre = {p[0], error_of((*inv)[0][0] * variance)};
    fit.a = p[1];
    fit.b = p[2];
    fit.omega = p[3];
    const double amplitude = std::hypot(p[1], p[2]);
    // The amplitude's error through its gradient (a, b) / A.
    double amplitude_variance = 0;
    if (amplitude > 0) {
        const Vec<2> g{p[1] / amplitude, p[2] / amplitude};
        for (size_t a = 0; a < 2; ++a)
            for (size_t b = 0; b < 2; ++b)
                amplitude_variance += g[a] * g[b] * (*inv)[1 + a][1 + b] * variance;
    }
    fit.amplitude = {amplitude, error_of(amplitude_variance)};
    fit.period = {kTau / p[3], kTau / (p[3] * p[3]) * error_of((*inv)[3][3] * variance)};
    fit.points = int(n);
    fit.rms = std::sqrt(rss / double(n));
    return fit;
}

}  // namespace tambrel::tracking
