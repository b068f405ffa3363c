#include "kernels/robust/extended.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "kernels/moments/moments.hpp"
#include "kernels/order/order.hpp"

namespace quarnel::robust {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool positive_finite(double v) { return v > 0.0 && v < std::numeric_limits<double>::infinity(); }

// The ascending copy and the kept range [lo, lo + m) after cutting floor(p n) per end;
// m = 0 when the proportion or the data are unusable.
struct Trimmed {
    std::vector<double> sorted;
    std::size_t lo = 0, m = 0;
    std::span<const double> kept() const { return {sorted.data() + lo, m}; }
};

Trimmed trim(std::span<const double> s, double p) {
    Trimmed t;
    const std::size_t n = s.size();
    // NaN fails both comparisons; -0.0 counts as 0.
    if (n == 0 || !(p >= 0.0 && p < 0.5) || has_nan(s)) return t;
    const double cut = std::floor(p * static_cast<double>(n));
    const auto c = static_cast<std::size_t>(cut);
    if (c >= n - c) return t;  // 2c >= n, without overflow
    t.sorted = sorted_copy(s);
    t.lo = c;
    t.m = n - 2 * c;
    return t;
}

// Clamps to [0, 100] (NaN excluded by the caller) and reads the interpolated percentile.
double sorted_percentile_limit(std::span<const double> sorted, double percent) {
    const double f = std::clamp(percent, 0.0, 100.0) / 100.0;
    const double pos = f * static_cast<double>(sorted.size() - 1);
    const auto lo = static_cast<std::size_t>(std::floor(pos));
    const auto hi = static_cast<std::size_t>(std::ceil(pos));
    if (lo == hi || hi >= sorted.size()) return sorted[lo];
    const double frac = pos - static_cast<double>(lo);
    return frac * sorted[hi] + (1.0 - frac) * sorted[lo];
}

double sign_or_nan(double w) { return w > 0.0 ? 1.0 : (w < 0.0 ? -1.0 : (w == 0.0 ? 0.0 : w)); }

}  // namespace

double trimmed_mean_slice(std::span<const double> s, double p) {
    const Trimmed t = trim(s, p);
    if (t.m == 0) return kNaN;
    return sum_in_order(t.kept()) / static_cast<double>(t.m);
}

double trimmed_std_slice(std::span<const double> s, double p) {
    const Trimmed t = trim(s, p);
    if (t.m < 2) return kNaN;
    const std::span<const double> kept = t.kept();
    const double mean = sum_in_order(kept) / static_cast<double>(t.m);
    double ss = 0.0;
    for (double v : kept) ss += (v - mean) * (v - mean);
    return std::sqrt(ss / static_cast<double>(t.m - 1));
}

double winsorized_mean_slice(std::span<const double> s, double lower, double upper) {
    if (!(lower < upper) || s.empty() || has_nan(s)) return kNaN;
    std::vector<double> sorted = sorted_copy(s);
    const double lo_limit = sorted_percentile_limit(sorted, lower);
    const double hi_limit = sorted_percentile_limit(sorted, upper);
    double sum = 0.0;
    for (double v : sorted) {
        if (lo_limit > v) v = lo_limit;
        else if (hi_limit < v) v = hi_limit;
        sum += v;
    }
    return sum / static_cast<double>(sorted.size());
}

double biweight_midvariance(std::span<const double> s, double c) {
    const std::size_t n = s.size();
    if (n < 2) return kNaN;
    const auto [med, mad] = median_mad_of_copy(s);
    if (!positive_finite(mad)) return kNaN;
    const double scale = c * mad;
    double num = 0.0, den = 0.0;
    for (double x : s) {
        const double d = x - med;
        const double u = d / scale;
        if (std::fabs(u) < 1.0) {
            const double w = 1.0 - u * u;
            num += (w * w * (w * w)) * (d * d);
            den += w * ((u * u) * -5.0 + 1.0);
        }
    }
    if (den == 0.0) return kNaN;
    return static_cast<double>(n) * num / (den * den);
}

double huber_iterate(std::span<const double> x, double start, double s, double k, std::uint64_t max_iter,
                     double tol, bool stop_on_zero_weight) {
    double mu = start;
    for (std::uint64_t it = 0; it < max_iter; ++it) {
        double psi_sum = 0.0, weight_sum = 0.0;
        for (double v : x) {
            const double w = (v - mu) / s;
            const double aw = std::fabs(w);
            if (aw <= k) {
                psi_sum += w;
                weight_sum += 1.0;
            } else {
                psi_sum += k * sign_or_nan(w);
                weight_sum += k / aw;
            }
        }
        if (stop_on_zero_weight && weight_sum == 0.0) break;
        const double step = psi_sum * s / weight_sum;
        mu += step;
        // A NaN step never passes this test, so such a run uses every iteration.
        if (tol * s > std::fabs(step)) break;
    }
    return mu;
}

double huber_location(std::span<const double> s, double k, std::uint64_t max_iter) {
    if (s.empty()) return kNaN;
    const auto [med, mad] = median_mad_of_copy(s);
    if (!positive_finite(mad)) return med;
    return huber_iterate(s, med, mad * kHuberMadFactor, k, max_iter, kHuberTol, false);
}

}  // namespace quarnel::robust
