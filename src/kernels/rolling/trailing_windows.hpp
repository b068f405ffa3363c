// Window bookkeeping shared by the rolling kernels.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>

#include "kernels/common/expected.hpp"

namespace quarnel::rolling {

inline constexpr std::string_view kWindowMessage = "window must be >= 1";
inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Number of full windows of length w in n values: n - w + 1, or 0 when n < w.
inline std::size_t full_windows(std::size_t n, std::size_t w) { return n < w ? 0 : n - w + 1; }

// Every fixed-window function refuses an empty window before looking at data.
inline Expected<std::size_t> validate_window(std::size_t w) {
    if (w == 0) return kernel_error(std::string(kWindowMessage));
    return w;
}

// full_windows after the window check.
inline Expected<std::size_t> checked_windows(std::size_t n, std::size_t w) {
    if (w == 0) return kernel_error(std::string(kWindowMessage));
    return full_windows(n, w);
}

}  // namespace quarnel::rolling
