// Rolling autocorrelation and correlation recomputed from each window's own elements, so
// a NaN or an infinity affects only the windows that hold it. O(w) per window and lag.
// Output j describes positions j ... j + w - 1; n - w + 1 outputs (none when n < w).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "kernels/common/expected.hpp"
#include "kernels/rolling/trailing_windows.hpp"

namespace quarnel::rolling {

inline constexpr std::string_view kCorrelationLengthMessage = "x and y must have same length";

// Window count after the window check, then the lag check.
Expected<std::size_t> autocorr_window_count(std::size_t n, std::size_t w, std::uint64_t lag);
// Window count after the window check, then the check of each lag in the given order.
Expected<std::size_t> autocorr_multi_window_count(std::size_t n, std::size_t w,
                                                  std::span<const std::uint64_t> lags);

// Lag-`lag` autocorrelation of each window, normalised by the window's own sum of squared
// deviations; NaN where that sum is not positive. Requires lag < w.
void rolling_autocorr(std::span<const double> x, std::size_t w, std::size_t lag, std::span<double> out);
// Row-major (windows x lags): column k is rolling_autocorr at lags[k].
void rolling_autocorr_multi(std::span<const double> x, std::size_t w, std::span<const std::uint64_t> lags,
                            std::span<double> out);
// Pearson correlation of each window pair, unclamped; NaN where Sxx * Syy is 0.
void rolling_correlation(std::span<const double> x, std::span<const double> y, std::size_t w,
                         std::span<double> out);

}  // namespace quarnel::rolling
