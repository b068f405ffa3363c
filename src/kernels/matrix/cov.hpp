// Covariance of two series and covariance-type matrices of the columns of a matrix.
//
// Matrix kernels take an n x p row-major matrix x (rows = observations), the call's private
// copy of the input, which they may overwrite (centring happens in place). They write every
// entry of a p x p result (n x n for xxt_matrix_out) that the caller allocated zero-filled;
// degenerate shapes leave the zeros or write NaN as each kernel says. Each entry is one sequential sum in
// row order; the results do not depend on the number of worker threads.
#pragma once

#include <cstddef>
#include <span>

namespace quarnel::matrix {

// Shifted sums of a pair of equal-length series: u = x − Kx, v = y − Ky with K the first
// finite element of each series (0.0 if none). skip_nan drops the pairs holding a NaN;
// otherwise the walk stops at the first NaN and `nan` is set.
struct PairSums {
    double sx = 0.0, sy = 0.0, sxy = 0.0, sxx = 0.0, syy = 0.0;
    std::size_t m = 0;
    bool nan = false;
};
PairSums pair_sums(std::span<const double> x, std::span<const double> y, bool skip_nan, bool squares);

// Sample covariance (divisor m − 1); NaN for fewer than 2 pairs or a NaN pair.
double cov_pair(std::span<const double> x, std::span<const double> y);
// The same over the pairs where neither value is NaN (infinities are kept).
double cov_pair_skipna(std::span<const double> x, std::span<const double> y);

// Divisor n − 1, centred on the column means; n < 2 gives NaN everywhere.
void cov_matrix_out(std::span<double> x, std::size_t n, std::size_t p, std::span<double> out);
// Divisor n; n = 0 leaves zeros.
void cov_matrix_bias_out(std::span<double> x, std::size_t n, std::size_t p, std::span<double> out);
// XᵀX / (n − 1) of already centred data; n < 2 leaves zeros.
void cov_matrix_centered_out(std::span<double> x, std::size_t n, std::size_t p, std::span<double> out);
// Pairwise-complete covariance over the finite values of each pair of columns; n < 2 leaves zeros.
void cov_matrix_skipna_out(std::span<double> x, std::size_t n, std::size_t p, std::span<double> out);
// XᵀX (p x p).
void xtx_matrix_out(std::span<double> x, std::size_t n, std::size_t p, std::span<double> out);
// XXᵀ (n x n).
void xxt_matrix_out(std::span<double> x, std::size_t n, std::size_t p, std::span<double> out);
// Euclidean distances between columns; n = 0 leaves zeros.
void euclidean_cols_out(std::span<double> x, std::size_t n, std::size_t p, std::span<double> out);

}  // namespace quarnel::matrix
