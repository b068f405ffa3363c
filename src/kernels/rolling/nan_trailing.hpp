// NaN-skipping trailing windows: output j describes x[max(0, j - w + 1) .. j], so the
// result has one value per input position. Plain running sums over the non-NaN values,
// with a count; the shifted sums use K = the first finite element of the whole series.
//
// Infinities are ordinary values, but they poison running sums once they leave, so the
// sums restart (rebuilt in index order) at the first position whose window no longer holds
// an infinity. A window holding infinities has that infinity as its mean (NaN when both
// signs are present) and a NaN standard deviation and z-score.
#pragma once

#include <cstddef>
#include <span>

namespace quarnel::rolling {

// Each fills `out` (length x.size()); w >= 1.
void rolling_mean_nan_vec(std::span<const double> x, std::size_t w, std::span<double> out);
void rolling_std_nan_vec(std::span<const double> x, std::size_t w, std::span<double> out);
void rolling_zscore_nan_vec(std::span<const double> x, std::size_t w, std::span<double> out);

}  // namespace quarnel::rolling
