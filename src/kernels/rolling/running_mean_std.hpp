// Rolling mean and sample standard deviation over full windows of a series, by compensated
// running sums: S of the values, S1 of x - K and S2 of (x - K)^2, with the shift K taken
// from the first element of the run. Output j describes x[j .. j + w - 1].
//
// A NaN or infinity poisons running sums, so the run restarts (sums rebuilt in index order,
// new shift) at the first window after the last non-finite value has left. Windows holding
// a non-finite value give what the running arithmetic gives there (NaN, except an infinity
// that closes the very first window, whose mean is that infinity).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "kernels/rolling/trailing_windows.hpp"

namespace quarnel::rolling {

// Fills `means` and/or `stds` (each empty when not wanted, else of full_windows(n, w)
// length). Only the sums a requested output needs are kept. w >= 1; w = 1 gives NaN stds.
void rolling_mean_std_vec(std::span<const double> x, std::size_t w, std::span<double> means,
                          std::span<double> stds);

// Square of each standard deviation: negative rounding residues were already clamped to 0.
void rolling_var_vec(std::span<const double> x, std::size_t w, std::span<double> out);

// z-score of the oldest element of each window: (x[j] - mean_j) / std_j; 0 when std_j = 0,
// NaN when std_j is NaN or infinite.
void rolling_zscore_vec(std::span<const double> x, std::size_t w, std::span<double> out);

}  // namespace quarnel::rolling
