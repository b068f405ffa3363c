#include "kernels/matrix/square.hpp"

#include <algorithm>
#include <cmath>

#include "kernels/matrix/pair_sums.hpp"

namespace quarnel::matrix {

void diag_out(std::span<const double> a, std::size_t p, std::span<double> out) {
    expect_size(a, p, p);
    expect_size(out, p, 1);
    for (std::size_t i = 0; i < p; ++i) out[i] = a[i * p + i];
}

double trace(std::span<const double> a, std::size_t p) {
    expect_size(a, p, p);
    double s = 0.0;
    for (std::size_t i = 0; i < p; ++i) s += a[i * p + i];
    return s;
}

bool is_symmetric(std::span<const double> a, std::size_t rows, std::size_t cols, double tol) {
    expect_size(a, rows, cols);
    if (rows != cols) return false;
    // The answer does not depend on the order of the pairs, so they are visited in square
    // tiles: the rows read across and the rows read down both stay in cache.
    const std::size_t p = rows;
    constexpr std::size_t kBlock = 32;
    for (std::size_t i0 = 0; i0 < p; i0 += kBlock) {
        for (std::size_t k0 = i0; k0 < p; k0 += kBlock) {
            for (std::size_t i = i0; i < std::min(p, i0 + kBlock); ++i) {
                for (std::size_t k = std::max(k0, i + 1); k < std::min(p, k0 + kBlock); ++k) {
                    const double upper = a[i * p + k], lower = a[k * p + i];
                    if (std::isnan(upper) != std::isnan(lower)) return false;
                    if (tol < std::fabs(upper - lower)) return false;
                }
            }
        }
    }
    return true;
}

}  // namespace quarnel::matrix
