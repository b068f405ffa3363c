// Element-wise and whole-series transforms, outlier flags, the Gaussian kernel density
// estimate and line means over strided arrays.
//
// Kernels write into caller-provided output spans of the input's length (the binding
// allocates the result arrays, so no result is ever copied). Sums are single
// accumulators fed in index order; independent sums may run side by side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "kernels/common/expected.hpp"

namespace quarnel::transforms {

// ---- standardisation and scaling (scale.cpp) ----

void zscore(std::span<const double> a, std::span<double> out);
void zscore_skipna(std::span<const double> a, std::span<double> out);

struct Location {
    double center, spread;
};
// Writes (x - median) / scale; returns (median, raw MAD).
Location robust_scale(std::span<const double> a, double scale_factor, std::span<double> out);
// Writes (x - lo) / (hi - lo); returns (lo, hi).
Location minmax_scale(std::span<const double> a, std::span<double> out);

void winsorize(std::span<const double> a, double lower_q, double upper_q, std::span<double> out);
void winsorize_clip(std::span<const double> a, double lower, double upper, std::span<double> out);

void sign_mask(std::span<const double> a, std::span<std::int8_t> out);
void demean_with_signs(std::span<const double> a, std::span<double> d, std::span<std::int8_t> s);

void iqr_outliers(std::span<const double> a, double k, std::span<bool> out);
void zscore_outliers(std::span<const double> a, double threshold, std::span<bool> out);

// ---- series transforms (series.cpp) ----

void diff(std::span<const double> a, std::int64_t periods, std::span<double> out);
void pct_change(std::span<const double> a, std::int64_t periods, std::span<double> out);
void cumsum(std::span<const double> a, std::span<double> out);
void cummean(std::span<const double> a, std::span<double> out);
void ewma(std::span<const double> a, double alpha, std::span<double> out);

// ---- rank-based transforms (rank.cpp) ----

void ecdf(std::span<const double> a, std::span<double> sorted, std::span<double> prob);
// n_bins >= 1 is the caller's duty.
void quantile_bins(std::span<const double> a, std::uint64_t n_bins, std::span<std::int64_t> out);

// ---- kernel density (density.cpp) ----

// Validates the inputs and returns the bandwidth to use.
Expected<double> kde_bandwidth(std::span<const double> x, std::uint64_t points, std::optional<double> bandwidth);
// grid and density hold `points` values; x is non-empty and finite, h > 0.
void kde_gaussian(std::span<const double> x, double h, std::span<double> grid, std::span<double> density);

// ---- line means (axis_mean.cpp) ----

// `count` equally long lines of `length` doubles: element i of line l sits at byte
// offset l * line_stride + i * elem_stride from `data`.
struct Lines {
    const char* data = nullptr;
    std::size_t count = 0, length = 0;
    std::ptrdiff_t elem_stride = 0;
    std::ptrdiff_t line_stride = 0;  // between consecutive lines
    std::ptrdiff_t line_offset(std::size_t l) const { return static_cast<std::ptrdiff_t>(l) * line_stride; }
};
// out[l] = (init + x_0 + ... + x_(m-1)) / m per line, summed in index order (NaN for
// m = 0).
void line_means(const Lines& lines, double init, std::span<double> out);
// The same from +0.0 over the non-NaN elements, divided by their count.
void line_means_skipna(const Lines& lines, std::span<double> out);
// Means along the last axis of an array of any shape (at least one axis) and strides, one
// per combination of the leading indices in row-major order; out holds that many values.
void last_axis_means(const char* data, std::span<const std::size_t> shape, std::span<const std::ptrdiff_t> strides,
                     double init, std::span<double> out);

}  // namespace quarnel::transforms
