#include "kernels/order/order.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>

#include "kernels/common/total_order.hpp"

namespace quarnel {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Integer view of a double buffer that the compiler knows may alias the doubles.
using KeyWord = std::int64_t __attribute__((__may_alias__));

// The total-order key map is an involution on the bit pattern, so a double buffer can be
// turned into integer keys in place, selected or sorted with plain integer compares, and
// turned back. That is much faster than comparing through the key on every step.
KeyWord* to_keys(std::span<double> s) {
    auto* k = reinterpret_cast<KeyWord*>(s.data());
    for (std::size_t i = 0; i < s.size(); ++i) k[i] = total_order_key(s[i]);
    return k;
}
void from_keys(std::span<double> s) {
    auto* k = reinterpret_cast<KeyWord*>(s.data());
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = std::bit_cast<double>(total_order_key(std::bit_cast<double>(k[i])));
}
double key_value(std::int64_t key) { return std::bit_cast<double>(total_order_key(std::bit_cast<double>(key))); }

}  // namespace

bool has_nan(std::span<const double> s) {
    for (double x : s)
        if (x != x) return true;
    return false;
}

std::vector<double> finite_values(std::span<const double> s) {
    std::vector<double> out;
    out.reserve(s.size());
    for (double x : s)
        if (is_finite_bits(x)) out.push_back(x);
    return out;
}

double select_nth_f64(std::span<double> s, std::size_t k) {
    if (k >= s.size()) throw std::out_of_range("select_nth_f64: rank outside the slice");
    KeyWord* keys = to_keys(s);
    std::nth_element(keys, keys + k, keys + s.size());
    from_keys(s);
    return s[k];
}

double median_inplace(std::span<double> s) {
    const std::size_t n = s.size();
    if (n == 0 || has_nan(s)) return kNaN;
    if (n == 1) return s[0];
    KeyWord* keys = to_keys(s);
    const std::size_t mid = n / 2;
    std::nth_element(keys, keys + mid, keys + n);
    double result;
    if (n % 2 == 1) {
        result = key_value(keys[mid]);
    } else {
        const double upper = key_value(keys[mid]);
        const double lower = key_value(*std::max_element(keys, keys + mid));
        result = (upper + lower) * 0.5;
    }
    from_keys(s);
    return result;
}

MedianMad median_mad_inplace(std::span<double> s) {
    const double med = median_inplace(s);
    if (med != med) return {med, kNaN};
    for (double& x : s) x = std::fabs(x - med);
    return {med, median_inplace(s)};
}

double percentile_slice(std::span<const double> s, double q) {
    const std::size_t n = s.size();
    if (n == 0 || q != q || has_nan(s)) return kNaN;
    q = std::clamp(q, 0.0, 100.0);
    const double f = q / 100.0;
    if (n == 1) return s[0];
    std::vector<double> copy(s.begin(), s.end());
    const double pos = static_cast<double>(n - 1) * f;
    const auto lo = static_cast<std::size_t>(std::floor(pos));
    const auto hi = static_cast<std::size_t>(std::ceil(pos));
    KeyWord* keys = to_keys(copy);
    std::nth_element(keys, keys + lo, keys + n);
    const double v_lo = key_value(keys[lo]);
    if (hi == lo) return v_lo;
    // After selecting rank lo, rank lo + 1 is the smallest element behind it.
    const double v_hi = key_value(*std::min_element(keys + lo + 1, keys + n));
    const double frac = pos - static_cast<double>(lo);
    return v_hi * frac + (1.0 - frac) * v_lo;
}

std::vector<double> sorted_copy(std::span<const double> s) {
    std::vector<double> copy(s.begin(), s.end());
    KeyWord* keys = to_keys(copy);
    std::sort(keys, keys + copy.size());
    from_keys(copy);
    return copy;
}

double sorted_quantile(std::span<const double> sorted, double p) {
    const double pos = p * static_cast<double>(sorted.size() - 1);
    const auto lo = static_cast<std::size_t>(std::floor(pos));
    const auto hi = static_cast<std::size_t>(std::ceil(pos));
    if (lo == hi) return sorted[lo];
    const double frac = pos - static_cast<double>(lo);
    return frac * sorted[hi] + (1.0 - frac) * sorted[lo];
}

namespace quantile {
Quartiles iqr_slice(std::span<const double> s) {
    if (s.empty() || has_nan(s)) return {kNaN, kNaN, kNaN};
    const std::vector<double> sorted = sorted_copy(s);
    const double q1 = sorted_quantile(sorted, 0.25), q3 = sorted_quantile(sorted, 0.75);
    return {q1, q3, q3 - q1};
}
}  // namespace quantile

namespace robust {
double iqr_slice(std::span<const double> s) {
    if (s.size() < 2 || has_nan(s)) return kNaN;
    const std::vector<double> sorted = sorted_copy(s);
    return sorted_quantile(sorted, 0.75) - sorted_quantile(sorted, 0.25);
}
}  // namespace robust

}  // namespace quarnel
