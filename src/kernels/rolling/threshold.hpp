// Rolling count (or fraction) of values strictly above a threshold, O(1) per step. NaN
// never counts. Output j describes x[j ... j + w - 1]; out.size() == n - w + 1 (callers
// pass w >= 1).
#pragma once

#include <cstddef>
#include <span>

namespace quarnel::rolling {

// Writes the count, or count / w when `fraction`.
void rolling_count_above(std::span<const double> x, double threshold, std::size_t w, bool fraction,
                         std::span<double> out);

}  // namespace quarnel::rolling
