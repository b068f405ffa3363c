#include "kernels/matrix/cov.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "kernels/matrix/pair_sums.hpp"

namespace quarnel::matrix {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// First finite element, or 0.0: the shift that keeps the shifted sums small.
double first_finite(std::span<const double> a) {
    for (double v : a)
        if (std::isfinite(v)) return v;
    return 0.0;
}

Panel copy_of(std::span<const double> x, std::size_t n, std::size_t p) {
    Panel a(n, p);
    for (std::size_t r = 0; r < n; ++r) std::memcpy(a.row(r), x.data() + r * p, p * sizeof(double));
    return a;
}

// x minus its column means; each mean is the column sum (rows added in order) times 1/n.
Panel centred(std::span<const double> x, std::size_t n, std::size_t p) {
    std::vector<double> mean(p, 0.0);
    for (std::size_t r = 0; r < n; ++r) {
        const double* row = x.data() + r * p;
        for (std::size_t j = 0; j < p; ++j) mean[j] += row[j];
    }
    const double inv = 1.0 / static_cast<double>(n);
    for (double& m : mean) m *= inv;
    Panel c(n, p);
    for (std::size_t r = 0; r < n; ++r) {
        const double* row = x.data() + r * p;
        double* out = c.row(r);
        for (std::size_t j = 0; j < p; ++j) out[j] = row[j] - mean[j];
    }
    return c;
}

void gram(const Panel& a, double divisor, std::span<double> out) {
    upper_dot(a, divisor, out);
    mirror_upper(out, a.cols());
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

void cov_matrix_out(std::span<const double> x, std::size_t n, std::size_t p, std::span<double> out) {
    expect_size(x, n, p);
    expect_size(out, p, p);
    if (n < 2) {
        std::fill(out.begin(), out.end(), kNaN);
        return;
    }
    gram(centred(x, n, p), static_cast<double>(n - 1), out);
}

void cov_matrix_bias_out(std::span<const double> x, std::size_t n, std::size_t p, std::span<double> out) {
    expect_size(x, n, p);
    expect_size(out, p, p);
    if (n == 0) return;
    gram(centred(x, n, p), static_cast<double>(n), out);
}

void cov_matrix_centered_out(std::span<const double> x, std::size_t n, std::size_t p, std::span<double> out) {
    expect_size(x, n, p);
    expect_size(out, p, p);
    if (n < 2) return;
    gram(copy_of(x, n, p), static_cast<double>(n - 1), out);
}

void cov_matrix_skipna_out(std::span<const double> x, std::size_t n, std::size_t p, std::span<double> out) {
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
    Panel u(n, p), valid(n, p);
    const double all_ones = std::bit_cast<double>(~std::uint64_t{0});
    for (std::size_t r = 0; r < n; ++r) {
        const double* row = x.data() + r * p;
        double* ur = u.row(r);
        double* vr = valid.row(r);
        for (std::size_t c = 0; c < p; ++c) {
            const bool ok = std::isfinite(row[c]);
            ur[c] = ok ? row[c] - shift[c] : 0.0;
            vr[c] = ok ? all_ones : 0.0;
        }
    }
    upper_skipna_cov(u, valid, out);
    mirror_upper(out, p);
}

void xtx_matrix_out(std::span<const double> x, std::size_t n, std::size_t p, std::span<double> out) {
    expect_size(x, n, p);
    expect_size(out, p, p);
    gram(copy_of(x, n, p), 1.0, out);
}

void xxt_matrix_out(std::span<const double> x, std::size_t n, std::size_t p, std::span<double> out) {
    expect_size(x, n, p);
    expect_size(out, n, n);
    // The rows of x become the columns of a p x n panel; the sums then run over k in order.
    Panel t(p, n);
    constexpr std::size_t kBlock = 32;
    for (std::size_t a0 = 0; a0 < n; a0 += kBlock) {
        for (std::size_t k0 = 0; k0 < p; k0 += kBlock) {
            for (std::size_t k = k0; k < std::min(p, k0 + kBlock); ++k) {
                double* tk = t.row(k);
                for (std::size_t a = a0; a < std::min(n, a0 + kBlock); ++a) tk[a] = x[a * p + k];
            }
        }
    }
    gram(t, 1.0, out);
}

void euclidean_cols_out(std::span<const double> x, std::size_t n, std::size_t p, std::span<double> out) {
    expect_size(x, n, p);
    expect_size(out, p, p);
    if (n == 0) return;
    upper_euclidean(copy_of(x, n, p), out);
    mirror_upper(out, p);
}

}  // namespace quarnel::matrix
