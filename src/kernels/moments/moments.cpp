#include "kernels/moments/moments.hpp"

#include <cmath>
#include <limits>
#include <utility>

namespace quarnel {
namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
}  // namespace

double sum_in_order(std::span<const double> a) {
    double s = 0.0;
    for (double x : a) s += x;
    return s;
}

double mean(std::span<const double> a) {
    if (a.empty()) return kNaN;
    return sum_in_order(a) / static_cast<double>(a.size());
}

namespace {

// In-order sum and count of the non-NaN values. Branch-free: a NaN adds +0.0 instead of
// being skipped. That is exact, because a sum started at +0.0 is never -0.0 under
// round-to-nearest (+0.0 + -0.0 is +0.0), and s + 0.0 == s bit for bit for every other s.
std::pair<double, std::uint64_t> sum_count_skipna(std::span<const double> a) {
    double s = 0.0;
    std::uint64_t count = 0;
    for (double x : a) {
        const bool keep = x == x;
        s += keep ? x : 0.0;
        count += keep;
    }
    return {s, count};
}

}  // namespace

double mean_skipna(std::span<const double> a) {
    const auto [s, count] = sum_count_skipna(a);
    return count == 0 ? kNaN : s / static_cast<double>(count);
}

double var_two_pass(std::span<const double> a) {
    const std::size_t n = a.size();
    if (n < 2) return kNaN;
    const double m = sum_in_order(a) / static_cast<double>(n);
    double ss = 0.0;
    for (double x : a) {
        const double d = x - m;
        ss += d * d;
    }
    return ss / static_cast<double>(n - 1);
}

// The two-pass variance of the non-NaN values, without copying them out: the same values
// in the same order, NaN positions adding +0.0 (exact, as in sum_count_skipna).
double var_slice_skipna(std::span<const double> a) {
    const auto [s, m] = sum_count_skipna(a);
    if (m < 2) return kNaN;
    const double mean = s / static_cast<double>(m);
    double ss = 0.0;
    for (double x : a) {
        const double d = x - mean;
        ss += x == x ? d * d : 0.0;
    }
    return ss / static_cast<double>(m - 1);
}

namespace {

// Sums of the 2nd, 3rd and 4th powers of the deviations from the mean, each its own
// in-order accumulator (d^3 as d * (d * d), d^4 as (d * d)^2). The three chains are
// independent, so the loop costs no more than one of them.
struct CentralSums {
    double m2 = 0.0, m3 = 0.0, m4 = 0.0;
};
CentralSums central_sums(std::span<const double> a, double mean) {
    CentralSums c;
    for (double x : a) {
        const double d = x - mean;
        const double e = d * d;
        c.m2 += e;
        c.m3 += d * e;
        c.m4 += e * e;
    }
    return c;
}

}  // namespace

double skew_biased(std::span<const double> a) {
    if (a.size() < 3) return kNaN;
    const double dn = static_cast<double>(a.size());
    const CentralSums c = central_sums(a, sum_in_order(a) / dn);
    const double v = c.m2 / dn;
    // A NaN v (non-finite data) fails this test and flows through to a NaN result.
    if (v <= 0.0) return kNaN;
    return (c.m3 / dn) / std::pow(v, 1.5);
}

double kurtosis_excess(std::span<const double> a) {
    if (a.size() < 4) return kNaN;
    const double dn = static_cast<double>(a.size());
    const CentralSums c = central_sums(a, sum_in_order(a) / dn);
    const double v = c.m2 / dn;
    if (v <= 0.0) return kNaN;
    return (c.m4 / dn) / (v * v) - 3.0;
}

WelfordSummary welford(std::span<const double> a) {
    double mean = 0.0, m2 = 0.0, last = kNaN;
    std::uint64_t count = 0;
    for (double x : a) {
        if (x != x) continue;
        ++count;
        last = x;
        const double new_mean = mean + (x - mean) / static_cast<double>(count);
        m2 += (x - new_mean) * (x - mean);
        mean = new_mean;
    }
    if (count == 0) return {kNaN, kNaN, 0};
    if (count == 1) return {last, kNaN, 1};  // the value itself (keeps a -0.0)
    return {mean, m2 / static_cast<double>(count - 1), count};
}

}  // namespace quarnel
