// Order-statistic kernels shared by the descriptive, robust, transform, rolling and
// robust-model families. All order by the IEEE total order (total_order.hpp).
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace quarnel {

// Value of rank k (0-based) in total order; reorders `s` so that everything before k is
// not greater and everything after it not smaller. k < s.size() is the caller's duty
// (a violation throws std::out_of_range, an internal failure).
double select_nth_f64(std::span<double> s, std::size_t k);

// Median of a mutable slice: NaN if empty or holding a NaN (then nothing is reordered);
// for even n the mean of the two middle values, (upper + lower) * 0.5.
double median_inplace(std::span<double> s);

// Makes the MAD a consistent estimate of the normal standard deviation: 1 / Phi^-1(3/4).
inline constexpr double kMadNormal = 1.482602218505602;

// A median and the median of the absolute deviations from it (the raw MAD, no scale factor).
struct MedianMad {
    double median;
    double mad;
};

// The median, and the median with its MAD, of a read-only slice, computed on a private
// buffer of sort keys (one pass to copy, none to convert back). With `finite_only`, NaN and infinities
// are dropped first; otherwise a NaN anywhere gives NaN. Empty data give NaN.
double median_of_copy(std::span<const double> s, bool finite_only = false);
MedianMad median_mad_of_copy(std::span<const double> s, bool finite_only = false);

// Linearly interpolated percentile (q in percent, clamped to [0, 100]) on a private copy;
// NaN for n = 0, q NaN, or a NaN in the data.
double percentile_slice(std::span<const double> s, double q);

// Sorts a copy ascending in total order.
std::vector<double> sorted_copy(std::span<const double> s);

namespace quantile {
struct Quartiles {
    double q1, q3, iqr;
};
// (q1, q3, q3 - q1); all NaN for n = 0 or a NaN in the data; (x, x, 0) for n = 1.
Quartiles iqr_slice(std::span<const double> s);
}  // namespace quantile

namespace robust {
// q3 - q1 only; NaN for n < 2 or a NaN in the data.
double iqr_slice(std::span<const double> s);
}  // namespace robust

// Copies of the values kept by the skipping rules.
std::vector<double> finite_values(std::span<const double> s);
bool has_nan(std::span<const double> s);

}  // namespace quarnel
