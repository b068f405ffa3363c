#include "kernels/matrix/corr.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "kernels/matrix/cov.hpp"
#include "kernels/matrix/pair_sums.hpp"
#include "platform/pool.hpp"

namespace quarnel::matrix {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Usable as a variance: strictly positive (subnormals included) and finite.
bool valid_variance(double v) { return v > 0.0 && v < std::numeric_limits<double>::infinity(); }

// Into [−1, 1]; NaN stays NaN.
double clamp_unit(double r) {
    if (r < -1.0) r = -1.0;
    if (r > 1.0) r = 1.0;
    return r;
}

double corr_from(const PairSums& s) {
    if (s.nan || s.m < 2) return kNaN;
    const double m = static_cast<double>(s.m);
    const double varx = (s.sxx - (s.sx * s.sx) / m) / (m - 1.0);
    const double vary = (s.syy - (s.sy * s.sy) / m) / (m - 1.0);
    const double cov = (s.sxy - (s.sx * s.sy) / m) / (m - 1.0);
    if (!valid_variance(varx) || !valid_variance(vary) || !std::isfinite(cov)) return kNaN;
    return clamp_unit(cov / std::sqrt(varx * vary));
}

// Rows 0 .. p-1 of an O(p²) pass, in pool tasks of a few rows each.
template <class F>
void for_each_row(std::size_t p, F&& row) {
    constexpr std::size_t kRows = 32;
    pool::parallel_for((p + kRows - 1) / kRows, [&](std::size_t t0, std::size_t t1) {
        for (std::size_t i = t0 * kRows; i < std::min(p, t1 * kRows); ++i) row(i);
    });
}

}  // namespace

double corr_pair(std::span<const double> x, std::span<const double> y) { return corr_from(pair_sums(x, y, false, true)); }
double corr_pair_skipna(std::span<const double> x, std::span<const double> y) { return corr_from(pair_sums(x, y, true, true)); }

void corr_matrix_from_cov_out(std::span<const double> cov, std::size_t p, std::span<double> out) {
    expect_size(cov, p, p);
    expect_size(out, p, p);
    std::vector<double> sd(p);
    for (std::size_t i = 0; i < p; ++i) {
        const double v = cov[i * p + i];
        sd[i] = valid_variance(v) ? std::sqrt(v) : kNaN;
    }
    for_each_row(p, [&](std::size_t i) {
        for (std::size_t j = i; j < p; ++j) {
            const double q = sd[j] * sd[i];
            out[i * p + j] = (q != 0.0 && !std::isnan(q)) ? clamp_unit(cov[i * p + j] / q) : kNaN;
        }
    });
    for (std::size_t i = 0; i < p; ++i) out[i * p + i] = std::isnan(sd[i]) ? kNaN : 1.0;
    mirror_upper(out, p);
}

namespace {
// A covariance kernel, then the correlation from it in the same buffer; n < 2 leaves zeros.
void corr_from_cov_kernel(void (*cov_kernel)(std::span<double>, std::size_t, std::size_t, std::span<double>),
                          std::span<double> x, std::size_t n, std::size_t p, std::span<double> out) {
    expect_size(x, n, p);
    expect_size(out, p, p);
    if (n < 2) return;
    cov_kernel(x, n, p, out);
    corr_matrix_from_cov_out(out, p, out);
}
}  // namespace

void corr_matrix_out(std::span<double> x, std::size_t n, std::size_t p, std::span<double> out) {
    corr_from_cov_kernel(cov_matrix_out, x, n, p, out);
}

void corr_matrix_skipna_out(std::span<double> x, std::size_t n, std::size_t p, std::span<double> out) {
    corr_from_cov_kernel(cov_matrix_skipna_out, x, n, p, out);
}

void corr_distance_out(std::span<double> x, std::size_t n, std::size_t p, std::span<double> out) {
    expect_size(x, n, p);
    expect_size(out, p, p);
    if (n < 2) return;
    corr_matrix_out(x, n, p, out);
    for_each_row(p, [&](std::size_t i) {
        for (std::size_t j = 0; j < p; ++j) {
            double& v = out[i * p + j];
            v = std::isnan(v) ? kNaN : 1.0 - v;
        }
    });
}

void cosine_cols_out(std::span<double> x, std::size_t n, std::size_t p, std::span<double> out) {
    expect_size(x, n, p);
    expect_size(out, p, p);
    // The dot products; the diagonal holds Σ x², the squared norms, summed in row order.
    upper_dot({x, n, p}, 1.0, out);
    std::vector<double> norm(p);
    for (std::size_t c = 0; c < p; ++c) norm[c] = std::sqrt(out[c * p + c]);
    for_each_row(p, [&](std::size_t i) {
        out[i * p + i] = norm[i] == 0.0 ? kNaN : 0.0;
        for (std::size_t j = i + 1; j < p; ++j) {
            const double q = norm[j] * norm[i];
            out[i * p + j] = (q != 0.0 && !std::isnan(q)) ? 1.0 - out[i * p + j] / q : kNaN;
        }
    });
    mirror_upper(out, p);
}

}  // namespace quarnel::matrix
