#pragma once
// Curves fitted to positions over time, each quantity with its standard error: a
// straight line (the velocity), a parabola (the acceleration) and a sine (the period
// and amplitude of an oscillation). Least squares throughout; the standard errors are
// those of the estimates, s²(JᵀJ)⁻¹ with s² the residuals' variance, so they say how
// well the points themselves fix each quantity. Pure.
//
// Line and parabola: linear least squares by the normal equations, in time measured
// from the points' mean time and scaled by their span (so the equations stay well
// conditioned for times far from 0). Sine: the period searched on a grid from twice the
// points' usual spacing to four times their whole span, with the offset, cosine and
// sine parts solved exactly at each (a periodogram of least-squares fits), and the best
// refined together with them by Gauss-Newton steps with Levenberg-Marquardt damping.

#include <cmath>
#include <limits>
#include <optional>
#include <span>

namespace tambrel::tracking {

struct Estimate {
    double value = 0;
    double error = std::numeric_limits<double>::quiet_NaN();  // one standard error
};

// x(t) = x̄ + v (t − t̄).
struct LineFit {
    Estimate velocity;
    double mean_t = 0, mean_x = 0;
    int points = 0;
    double rms = 0;  // of the residuals
    double at(double t) const { return mean_x + velocity.value * (t - mean_t); }
};

// x(t) = c0 + c1 u + c2 u², u = (t − t̄) / s; the acceleration is 2 c2 / s².
struct ParabolaFit {
    Estimate acceleration;
    Estimate velocity;  // at the points' mean time
    double mean_t = 0, scale = 1;
    double c0 = 0, c1 = 0, c2 = 0;
    int points = 0;
    double rms = 0;
    double at(double t) const {
        const double u = (t - mean_t) / scale;
        return c0 + (c1 + c2 * u) * u;
    }
};

// x(t) = centre + a cos(ω (t − t̄)) + b sin(ω (t − t̄)), amplitude √(a² + b²), period 2π/ω.
struct SineFit {
    Estimate period, amplitude, centre;
    double mean_t = 0, omega = 0, a = 0, b = 0;
    int points = 0;
    double rms = 0;
    double at(double t) const {
        const double phase = omega * (t - mean_t);
        return centre.value + a * std::cos(phase) + b * std::sin(phase);
    }
};

// Decimals that show a value with this standard error to the error's second
// significant digit (0.0021 → 4, 0.35 → 2, 12 → 0), from 0 to 9; `fallback` where the
// error is not a positive finite number.
int decimals_for_error(double error, int fallback);

// Which of two coordinates moves most (the larger spread about its mean): true for the
// first. A pendulum filmed from the front swings across; its height changes at twice
// the frequency and far less.
bool first_moves_most(std::span<const double> first, std::span<const double> second);

// Each needs more points than it has parameters (3, 4 and 5 at least) at different
// times, and finite values; nullopt otherwise. `t` and `x` pair up by index.
std::optional<LineFit> fit_line(std::span<const double> t, std::span<const double> x);
std::optional<ParabolaFit> fit_parabola(std::span<const double> t, std::span<const double> x);
std::optional<SineFit> fit_sine(std::span<const double> t, std::span<const double> x);

}  // namespace tambrel::tracking
