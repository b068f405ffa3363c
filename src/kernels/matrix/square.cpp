#include "kernels/matrix/square.hpp"

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
    const std::size_t p = rows;
    for (std::size_t i = 0; i < p; ++i) {
        for (std::size_t k = i + 1; k < p; ++k) {
            const double upper = a[i * p + k], lower = a[k * p + i];
            if (std::isnan(upper) != std::isnan(lower)) return false;
            if (tol < std::fabs(upper - lower)) return false;
        }
    }
    return true;
}

}  // namespace quarnel::matrix
