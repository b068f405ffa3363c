// Rolling coefficient of variation (sample standard deviation / |mean|) by a sliding
// Welford update. Output j describes x[j ... j + w - 1]; out.size() == n - w + 1 (callers
// pass w >= 1). NaN where |mean| <= 1e-10, for w = 1, and for windows holding a NaN or an
// infinity; the first window after the last such value restarts the recurrence from its
// own elements, so later windows are unaffected.
#pragma once

#include <cstddef>
#include <span>

namespace quarnel::rolling {

void rolling_cv(std::span<const double> x, std::size_t w, std::span<double> out);

}  // namespace quarnel::rolling
