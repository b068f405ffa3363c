#include "kernels/matrix/cov.hpp"

#include "kernels/common/total_order.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "kernels/matrix/pair_sums.hpp"
#include "platform/pool.hpp"

namespace quarnel::matrix {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Subtracts the column means in place; each mean is the column sum (rows added in order)
// times 1/n.
// Both passes run on the pool: the sums by blocks of columns (each sum still adds the rows in
// order), the subtraction by blocks of rows.
void centre(std::span<double> x, std::size_t n, std::size_t p) {
    constexpr std::size_t kCols = 64, kRows = 512;
    std::vector<double> means(p, 0.0);
    double* __restrict mean = means.data();
    const double inv = 1.0 / static_cast<double>(n);
    pool::parallel_for((p + kCols - 1) / kCols, [&](std::size_t b0, std::size_t b1) {
        const std::size_t j0 = b0 * kCols, j1 = std::min(p, b1 * kCols);
        for (std::size_t r = 0; r < n; ++r) {
            const double* __restrict row = x.data() + r * p;
            for (std::size_t j = j0; j < j1; ++j) mean[j] += row[j];
        }
        for (std::size_t j = j0; j < j1; ++j) mean[j] *= inv;
    });
    pool::parallel_for((n + kRows - 1) / kRows, [&](std::size_t b0, std::size_t b1) {
        for (std::size_t r = b0 * kRows; r < std::min(n, b1 * kRows); ++r) {
            double* __restrict row = x.data() + r * p;
            for (std::size_t j = 0; j < p; ++j) row[j] = row[j] - mean[j];
        }
    });
}

void gram(Columns a, double divisor, std::span<double> out) {
    upper_dot(a, divisor, out);
    mirror_upper(out, a.p);
}

}  // namespace

PairSums pair_sums(std::span<const double> x, std::span<const double> y, bool skip_nan, bool squares) {
    PairSums s;
    const double kx = first_finite(x), ky = first_finite(y);
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (std::isnan(x[i]) || std::isnan(y[i])) {
            if (skip_nan) continue;
            s.nan = true;
            return s;
        }
        const double u = x[i] - kx, v = y[i] - ky;
        s.sxy += v * u;
        s.sx += u;
        s.sy += v;
        if (squares) {
            s.sxx += u * u;
            s.syy += v * v;
        }
        ++s.m;
    }
    return s;
}

namespace {
double cov_from(const PairSums& s) {
    if (s.nan || s.m < 2) return kNaN;
    const double m = static_cast<double>(s.m);
    return (s.sxy - (s.sx * s.sy) / m) / (m - 1.0);
}
}  // namespace

double cov_pair(std::span<const double> x, std::span<const double> y) { return cov_from(pair_sums(x, y, false, false)); }
double cov_pair_skipna(std::span<const double> x, std::span<const double> y) { return cov_from(pair_sums(x, y, true, false)); }

void cov_matrix_out(std::span<double> x, std::size_t n, std::size_t p, std::span<double> out) {
    expect_size(x, n, p);
    expect_size(out, p, p);
    if (n < 2) {
        std::fill(out.begin(), out.end(), kNaN);
        return;
    }
    centre(x, n, p);
    gram({x, n, p}, static_cast<double>(n - 1), out);
}

void cov_matrix_bias_out(std::span<double> x, std::size_t n, std::size_t p, std::span<double> out) {
    expect_size(x, n, p);
    expect_size(out, p, p);
    if (n == 0) return;
    centre(x, n, p);
    gram({x, n, p}, static_cast<double>(n), out);
}

void cov_matrix_centered_out(std::span<double> x, std::size_t n, std::size_t p, std::span<double> out) {
    expect_size(x, n, p);
    expect_size(out, p, p);
    if (n < 2) return;
    gram({x, n, p}, static_cast<double>(n - 1), out);
}

void cov_matrix_skipna_out(std::span<double> x, std::size_t n, std::size_t p, std::span<double> out) {
    expect_size(x, n, p);
    expect_size(out, p, p);
    if (n < 2) return;
    std::vector<double> shift(p, 0.0);
    std::vector<bool> found(p, false);
    std::size_t missing = p;
    for (std::size_t r = 0; r < n && missing > 0; ++r) {
        for (std::size_t c = 0; c < p; ++c) {
            const double v = x[r * p + c];
            if (!found[c] && std::isfinite(v)) {
                shift[c] = v;
                found[c] = true;
                --missing;
            }
        }
    }
    // x becomes the shifted values, NaN where it is not finite.
    for (std::size_t r = 0; r < n; ++r) {
        double* row = x.data() + r * p;
        for (std::size_t c = 0; c < p; ++c) row[c] = std::isfinite(row[c]) ? row[c] - shift[c] : kNaN;
    }
    upper_skipna_cov({x, n, p}, out);
    mirror_upper(out, p);
}

void xtx_matrix_out(std::span<double> x, std::size_t n, std::size_t p, std::span<double> out) {
    expect_size(x, n, p);
    expect_size(out, p, p);
    gram({x, n, p}, 1.0, out);
}

void xxt_matrix_out(std::span<double> x, std::size_t n, std::size_t p, std::span<double> out) {
    expect_size(x, n, p);
    expect_size(out, n, n);
    // The rows of x become the columns of a p x n panel; the sums then run over k in order.
    std::vector<double> t(x.size());
    constexpr std::size_t kBlock = 32;
    for (std::size_t a0 = 0; a0 < n; a0 += kBlock) {
        for (std::size_t k0 = 0; k0 < p; k0 += kBlock) {
            for (std::size_t k = k0; k < std::min(p, k0 + kBlock); ++k) {
                for (std::size_t a = a0; a < std::min(n, a0 + kBlock); ++a) t[k * n + a] = x[a * p + k];
            }
        }
    }
    gram({t, p, n}, 1.0, out);
}

void euclidean_cols_out(std::span<double> x, std::size_t n, std::size_t p, std::span<double> out) {
    expect_size(x, n, p);
    expect_size(out, p, p);
    if (n == 0) return;
    upper_euclidean({x, n, p}, out);
    mirror_upper(out, p);
}

}  // namespace quarnel::matrix
