// Small utilities on square matrices (row-major rows x cols buffers).
#pragma once

#include <cstddef>
#include <span>

namespace quarnel::matrix {

// a[i][i] into out (length p) of a p x p matrix.
void diag_out(std::span<const double> a, std::size_t p, std::span<double> out);
// Σ a[i][i], one accumulator from 0.0 in index order.
double trace(std::span<const double> a, std::size_t p);
// False for a non-square matrix or for a pair i < k where exactly one of a[i][k], a[k][i] is
// NaN or where tol < |a[i][k] − a[k][i]|; true otherwise. So a NaN tol accepts every pair
// that is not a NaN against a number, and two NaN count as equal.
bool is_symmetric(std::span<const double> a, std::size_t rows, std::size_t cols, double tol);

}  // namespace quarnel::matrix
