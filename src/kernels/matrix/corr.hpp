// Correlation of two series and correlation-type matrices of the columns of a matrix
// (conventions as in cov.hpp).
#pragma once

#include <cstddef>
#include <span>

namespace quarnel::matrix {

// Pearson correlation clamped to [−1, 1]; NaN for fewer than 2 pairs, a NaN pair, a variance
// that is not strictly positive and finite, or a covariance that is not finite.
double corr_pair(std::span<const double> x, std::span<const double> y);
// The same over the pairs where neither value is NaN.
double corr_pair_skipna(std::span<const double> x, std::span<const double> y);

// Correlation matrix from a p x p covariance matrix; a column whose variance is not strictly
// positive and finite is NaN in its whole row and column, diagonal included. cov and out may
// be the same buffer (each entry is read before it is written).
void corr_matrix_from_cov_out(std::span<const double> cov, std::size_t p, std::span<double> out);
// cov_matrix_out, then corr_matrix_from_cov_out in place; n < 2 leaves zeros.
void corr_matrix_out(std::span<double> x, std::size_t n, std::size_t p, std::span<double> out);
// From the pairwise-complete covariance; n < 2 leaves zeros.
void corr_matrix_skipna_out(std::span<double> x, std::size_t n, std::size_t p, std::span<double> out);
// 1 − correlation; n < 2 leaves zeros.
void corr_distance_out(std::span<double> x, std::size_t n, std::size_t p, std::span<double> out);
// Cosine distances 1 − dot/(norm·norm) between columns; a zero norm gives NaN.
void cosine_cols_out(std::span<double> x, std::size_t n, std::size_t p, std::span<double> out);

}  // namespace quarnel::matrix
