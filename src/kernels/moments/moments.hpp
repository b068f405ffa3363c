// Moment statistics on slices. Every sum is one accumulator started at 0.0 and fed in
// index order, so results are reproducible bit for bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace quarnel {

double sum_in_order(std::span<const double> a);
// sum / n; NaN for n = 0.
double mean(std::span<const double> a);
// Mean of the values with x == x (infinities kept); NaN when none remains.
double mean_skipna(std::span<const double> a);
// Two passes: mean, then sum of squared deviations; divisor n - 1; NaN for n < 2.
double var_two_pass(std::span<const double> a);
// Sample variance of the non-NaN values (divisor m - 1), two passes as var_two_pass on
// those values in order; NaN for m < 2.
double var_slice_skipna(std::span<const double> a);

// Population-moment skewness m3 / m2^1.5; NaN for n < 3 or zero spread.
double skew_biased(std::span<const double> a);
// Population-moment excess kurtosis m4 / m2^2 - 3; NaN for n < 4 or zero spread.
double kurtosis_excess(std::span<const double> a);

// Welford's running mean and M2 over the non-NaN values, in index order.
struct WelfordSummary {
    double mean;
    double variance;  // M2 / (count - 1); NaN for count < 2
    std::uint64_t count;
};
WelfordSummary welford(std::span<const double> a);

}  // namespace quarnel
