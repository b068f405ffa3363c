#include "kernels/moments/moments.hpp"

#include <cmath>
#include <limits>
#include <vector>

namespace quarnel {

double sum_in_order(std::span<const double> a) {
    double s = 0.0;
    for (double x : a) s += x;
    return s;
}

double mean(std::span<const double> a) {
    if (a.empty()) return std::numeric_limits<double>::quiet_NaN();
    return sum_in_order(a) / static_cast<double>(a.size());
}

double var_two_pass(std::span<const double> a) {
    const std::size_t n = a.size();
    if (n < 2) return std::numeric_limits<double>::quiet_NaN();
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

}  // namespace quarnel
