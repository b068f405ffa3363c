// Column-wise rolling mean and standard deviation of a row-major matrix: output row r of
// column c describes rows r .. r + w - 1 of that column. Each column is an independent
// series of plain running sums updated by differences (S += x_in - x_out); the shifted
// sums use K_c = the column's first value of the run (0 if not finite).
//
// A non-finite value poisons its column's sums, so the column restarts (sums rebuilt in
// row order, new shift) at the first window after its last non-finite value has left.
// While a window holds non-finite values its mean is NaN when one is NaN or both signs
// of infinity are present, else that infinity; its standard deviation is NaN.
#pragma once

#include <cstddef>

namespace quarnel::rolling {

// x: rows x cols, row-major. Outputs (nullptr when not wanted) are (rows - w + 1) x cols,
// row-major; rows >= w >= 1.
// `means` = S / w from raw sums.
void rolling_mean_axis0(const double* x, std::size_t rows, std::size_t cols, std::size_t w, double* means);
// `means` (optional) = K + S1 / w from the shifted sums; `stds` (optional).
void rolling_mean_std_axis0(const double* x, std::size_t rows, std::size_t cols, std::size_t w, double* means,
                            double* stds);

}  // namespace quarnel::rolling
