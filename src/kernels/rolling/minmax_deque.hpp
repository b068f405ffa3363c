// Rolling minimum, maximum and range by monotonic deques: amortised O(1) per element.
// Windows of up to 96 values are instead folded directly, several at a time in SIMD
// lanes, which is faster there than the deque's data-dependent branches.
// Output j describes x[j ... j + w - 1]; out.size() == n - w + 1 (callers pass w >= 1).
// A window holding a NaN gives NaN; every other window gives its true extreme, the
// newest of equal values.
#pragma once

#include <cstddef>
#include <span>

namespace quarnel::rolling {

void rolling_min(std::span<const double> x, std::size_t w, std::span<double> out);
void rolling_max(std::span<const double> x, std::size_t w, std::span<double> out);
void rolling_range(std::span<const double> x, std::size_t w, std::span<double> out);

}  // namespace quarnel::rolling
