// Moment statistics on slices. Every sum is one accumulator started at 0.0 and fed in
// index order, so results are reproducible bit for bit.
#pragma once

#include <cstddef>
#include <span>

namespace quarnel {

double sum_in_order(std::span<const double> a);
// sum / n; NaN for n = 0.
double mean(std::span<const double> a);
// Two passes: mean, then sum of squared deviations; divisor n - 1; NaN for n < 2.
double var_two_pass(std::span<const double> a);
// Sample variance of the non-NaN values (divisor m - 1); NaN for m < 2.
double var_slice_skipna(std::span<const double> a);

}  // namespace quarnel
