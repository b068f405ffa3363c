// Robust location and scale estimators on read-only slices. Each works on its own
// private copy; degenerate input gives NaN (never an error), as documented per kernel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace quarnel::robust {

inline constexpr double kQnFactor = 2.2219;
inline constexpr double kQnFactorTwo = 0.8224;
inline constexpr double kBiweightC = 9.0;
inline constexpr double kHuberK = 1.345;
inline constexpr std::uint64_t kHuberMaxIter = 30;
inline constexpr double kHuberMadFactor = 1.4826;
inline constexpr double kHuberTol = 1e-6;

// Mean of the values left after cutting floor(p n) from each end of the ascending order,
// summed in ascending order. NaN for n = 0, p not in [0, 0.5) or a NaN in the slice.
double trimmed_mean_slice(std::span<const double> s, double p);
// Sample standard deviation (divisor m - 1) of the same kept values; NaN also when m < 2.
double trimmed_std_slice(std::span<const double> s, double p);
// Mean after clipping to the interpolated lower/upper percentiles (in percent, clamped
// to [0, 100]). NaN unless lower < upper, for n = 0, or a NaN in the slice.
double winsorized_mean_slice(std::span<const double> s, double lower, double upper);
// 2.2219 times the pairwise absolute difference of rank floor(m / 4) (0-based, total
// order) among the m = n(n-1)/2 pairs; |x0 - x1| * 0.8224 for n = 2; NaN for n < 2 or a
// NaN in the slice. O(n) memory, O(n log n) time.
double qn_scale_slice(std::span<const double> s);
// Biweight midvariance around the median with tuning constant c; NaN for n < 2, a MAD
// that is not positive and finite, or a zero denominator.
double biweight_midvariance(std::span<const double> s, double c);

// One Huber M-estimation of location from `start` with the fixed scale s > 0 (finite).
// Stops after the first step with tol * s > |step|, or after max_iter steps.
// With `stop_on_zero_weight`, a zero total weight ends the iteration at the current
// estimate instead of taking the (NaN) step.
double huber_iterate(std::span<const double> x, double start, double s, double k, std::uint64_t max_iter,
                     double tol, bool stop_on_zero_weight);
// Huber location from the median with scale 1.4826 * MAD; the median itself when the MAD
// is not positive and finite (so NaN data gives NaN), and NaN for n = 0.
double huber_location(std::span<const double> s, double k, std::uint64_t max_iter);

}  // namespace quarnel::robust
