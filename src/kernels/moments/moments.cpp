#include "kernels/moments/moments.hpp"

#include <cmath>
#include <limits>
#include <vector>

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

double mean_skipna(std::span<const double> a) {
    double s = 0.0;
    std::uint64_t count = 0;
    for (double x : a) {
        if (x == x) {
            s += x;
            ++count;
        }
    }
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

double var_slice_skipna(std::span<const double> a) {
    std::vector<double> kept;
    kept.reserve(a.size());
    for (double x : a)
        if (x == x) kept.push_back(x);
    return var_two_pass(kept);
}

double skew_biased(std::span<const double> a) {
    const std::size_t n = a.size();
    if (n < 3) return kNaN;
    const double dn = static_cast<double>(n);
    const double m = sum_in_order(a) / dn;
    double m2 = 0.0, m3 = 0.0;
    for (double x : a) {
        const double d = x - m;
        m2 += d * d;
        m3 += d * (d * d);
    }
    const double v = m2 / dn;
    // A NaN v (non-finite data) fails this test and flows through to a NaN result.
    if (v <= 0.0) return kNaN;
    return (m3 / dn) / std::pow(v, 1.5);
}

double kurtosis_excess(std::span<const double> a) {
    const std::size_t n = a.size();
    if (n < 4) return kNaN;
    const double dn = static_cast<double>(n);
    const double m = sum_in_order(a) / dn;
    double m2 = 0.0, m4 = 0.0;
    for (double x : a) {
        const double d = x - m;
        const double e = d * d;
        m2 += e;
        m4 += e * e;
    }
    const double v = m2 / dn;
    if (v <= 0.0) return kNaN;
    return (m4 / dn) / (v * v) - 3.0;
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
