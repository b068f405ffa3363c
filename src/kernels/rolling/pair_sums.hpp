// Rolling statistics of two aligned series from shifted running sums, updated in O(1) per
// step. Output j describes the trailing window of positions j ... j + w - 1; there are
// n - w + 1 outputs (none when n < w).
//
// Deviations are dx = x - Kx, dy = y - Ky, where Kx (Ky) is the first finite element of x
// (y), or 0 when there is none. A window holding a non-finite term gives NaN; once that
// term has left, the sums are rebuilt from the next window's own elements, so a NaN or an
// infinity never spoils later windows. On finite data the update scheme is untouched.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "kernels/common/expected.hpp"
#include "kernels/rolling/trailing_windows.hpp"

namespace quarnel::rolling {

inline constexpr std::string_view kPairLengthMessage = "x and y must have the same length";
inline constexpr std::string_view kSkipLengthMessage = "length mismatch";

// Number of windows of two series: the length check (with `mismatch`), then the window
// check. 0 when n < w.
Expected<std::size_t> pair_window_count(std::size_t nx, std::size_t ny, std::size_t w,
                                        std::string_view mismatch);

// Each kernel writes out.size() == n - w + 1 values (callers pass w >= 1).

// Sample covariance from sums updated by differences. NaN for w = 1.
void rolling_cov(std::span<const double> x, std::span<const double> y, std::size_t w,
                 std::span<double> out);
// Pearson correlation from the same kind of sums, clamped to [-1, 1]. NaN for w = 1.
void rolling_corr(std::span<const double> x, std::span<const double> y, std::size_t w,
                  std::span<double> out);

// The pair-skipping family: a pair is valid unless dx or dy is NaN; invalid pairs never
// enter the sums (removal of the outgoing pair comes before addition of the incoming one).
// An infinite valid pair makes its windows NaN.

// Covariance of windows whose w pairs are all valid (w >= 2), else NaN.
void rolling_cov_valid(std::span<const double> x, std::span<const double> y, std::size_t w,
                       std::span<double> out);
// Correlation of windows whose w pairs are all valid (w >= 2), else NaN.
void rolling_corr_valid(std::span<const double> x, std::span<const double> y, std::size_t w,
                        std::span<double> out);
// Slope cov(x, y) / var(x) over the valid pairs of each window (at least two).
void rolling_beta_valid(std::span<const double> x, std::span<const double> y, std::size_t w,
                        std::span<double> out);
// Least-squares line of y on x over the valid pairs of each window (at least two).
void rolling_linreg_valid(std::span<const double> x, std::span<const double> y, std::size_t w,
                          std::span<double> slopes, std::span<double> intercepts);

}  // namespace quarnel::rolling
