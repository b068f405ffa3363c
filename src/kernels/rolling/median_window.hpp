// Trailing rolling median in O(log w) per step. Values are ordered by the IEEE total order,
// so every window's result is exactly the median of its own values: the middle value for
// odd w, (upper + lower) * 0.5 of the two middle values for even w, and NaN for a window
// holding a NaN.
#pragma once

#include <cstddef>
#include <span>

namespace quarnel::rolling {

// out.size() == x.size(): out[j + w - 1] is the median of x[j ... j + w - 1]; the first
// w - 1 positions, and all of them when w = 0 or n < w, are NaN.
void rolling_median(std::span<const double> x, std::size_t w, std::span<double> out);

}  // namespace quarnel::rolling
