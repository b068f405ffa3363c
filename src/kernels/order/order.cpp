#include "kernels/order/order.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <utility>

#include "kernels/common/total_order.hpp"
#include "kernels/order/radix_sort.hpp"

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

// Median of n > 0 NaN-free keys; reorders them. K is KeyWord over a double buffer or a
// plain key array.
template <class K>
double median_of_keys(K* k, std::size_t n) {
    const std::size_t mid = n / 2;
    std::nth_element(k, k + mid, k + n);
    const double upper = key_value(k[mid]);
    if (n % 2 == 1) return upper;
    return (upper + key_value(*std::max_element(k, k + mid))) * 0.5;
}

constexpr std::size_t kNanMet = static_cast<std::size_t>(-1);

// Writes the keys of the values kept by the rule to `out` (room for s.size()) and returns
// their count, or kNanMet when a NaN is met under the all-values rule.
std::size_t write_keys(std::span<const double> s, bool finite_only, std::int64_t* out) {
    if (finite_only) {
        std::size_t m = 0;
        for (double x : s)
            if (is_finite_bits(x)) out[m++] = total_order_key(x);
        return m;
    }
    bool nan = false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        nan |= s[i] != s[i];
        out[i] = total_order_key(s[i]);
    }
    return nan ? kNanMet : s.size();
}

// Runs f(keys, m) on a private key buffer: on the stack for small inputs (no allocation on
// the per-call path), else on the heap without zero-filling.
template <class F>
auto with_keys(std::span<const double> s, bool finite_only, F f) {
    constexpr std::size_t kStackKeys = 64;
    std::int64_t small[kStackKeys];
    std::unique_ptr<std::int64_t[]> big;
    std::int64_t* buf = small;
    if (s.size() > kStackKeys) {
        big.reset(new std::int64_t[s.size()]);
        buf = big.get();
    }
    return f(buf, write_keys(s, finite_only, buf));
}

using UKeyWord = std::uint64_t __attribute__((__may_alias__));

// Ascending sorted copy of a large slice by radix sort of the total-order keys, sorted
// inside `out` with one scratch buffer. Equal keys are equal bit patterns, so stability
// is moot here.
void radix_sorted_copy(std::span<const double> s, std::vector<double>& out) {
    const std::size_t n = s.size();
    out.resize(n);
    std::unique_ptr<std::uint64_t[]> scratch(new std::uint64_t[n]);
    auto* u = reinterpret_cast<UKeyWord*>(out.data());
    for (std::size_t i = 0; i < n; ++i) u[i] = sort_key(s[i]);
    radix_sort(u, reinterpret_cast<UKeyWord*>(scratch.get()), n, [](std::uint64_t k) { return k; });
    for (std::size_t i = 0; i < n; ++i) out[i] = from_sort_key(u[i]);
}

// Linear interpolation between the values of ranks floor(pos) and ceil(pos), as the
// sorted-copy quantile reads them: frac * upper + (1 - frac) * lower.
double interpolate(double pos, std::size_t lo, std::size_t hi, double v_lo, double v_hi) {
    if (lo == hi) return v_lo;
    const double frac = pos - static_cast<double>(lo);
    return frac * v_hi + (1.0 - frac) * v_lo;
}

// Quartiles 0.25 and 0.75 of n NaN-free keys, exactly as read from a sorted copy, but found
// by selection: after selecting rank lo, the next rank is the smallest key behind it, and
// the upper quartile's ranks lie behind the lower one's.
std::pair<double, double> quartiles_of_keys(std::int64_t* keys, std::size_t n) {
    double q[2];
    // The ranks selected so far are final, the last being done - 1; every key from `done` on
    // is not smaller, so a later rank is selected among those alone.
    std::size_t done = 0;
    const double ps[2] = {0.25, 0.75};
    for (int j = 0; j < 2; ++j) {
        const double pos = ps[j] * static_cast<double>(n - 1);
        const auto lo = static_cast<std::size_t>(std::floor(pos));
        const auto hi = static_cast<std::size_t>(std::ceil(pos));
        if (lo >= done) {
            std::nth_element(keys + done, keys + lo, keys + n);
            done = lo + 1;
        }
        const double v_lo = key_value(keys[lo]);
        double v_hi = v_lo;
        if (hi != lo) {
            if (hi >= done) {
                std::nth_element(keys + done, keys + hi, keys + n);
                done = hi + 1;
            }
            v_hi = key_value(keys[hi]);
        }
        q[j] = interpolate(pos, lo, hi, v_lo, v_hi);
    }
    return {q[0], q[1]};
}

// Both quartiles NaN when the data hold a NaN.
std::pair<double, double> quartiles_by_selection(std::span<const double> s) {
    return with_keys(s, false, [](std::int64_t* keys, std::size_t n) {
        return n == kNanMet ? std::pair(kNaN, kNaN) : quartiles_of_keys(keys, n);
    });
}

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
    const double result = median_of_keys(to_keys(s), n);
    from_keys(s);
    return result;
}

double median_of_copy(std::span<const double> s, bool finite_only) {
    return with_keys(s, finite_only, [](std::int64_t* k, std::size_t m) {
        return m == 0 || m == kNanMet ? kNaN : median_of_keys(k, m);
    });
}

MedianMad median_mad_of_copy(std::span<const double> s, bool finite_only) {
    return with_keys(s, finite_only, [](std::int64_t* k, std::size_t n) -> MedianMad {
        if (n == 0 || n == kNanMet) return {kNaN, kNaN};
        const double med = median_of_keys(k, n);
        if (med != med) return {med, kNaN};  // -inf and +inf in the middle: every deviation is NaN
        for (std::size_t i = 0; i < n; ++i) k[i] = total_order_key(std::fabs(key_value(k[i]) - med));
        return {med, median_of_keys(k, n)};
    });
}

double percentile_slice(std::span<const double> s, double q) {
    const std::size_t n = s.size();
    if (n == 0 || q != q) return kNaN;
    const double f = std::clamp(q, 0.0, 100.0) / 100.0;
    const double pos = static_cast<double>(n - 1) * f;
    const auto lo = static_cast<std::size_t>(std::floor(pos));
    const auto hi = static_cast<std::size_t>(std::ceil(pos));
    return with_keys(s, false, [&](std::int64_t* k, std::size_t m) {
        if (m == kNanMet) return kNaN;
        std::nth_element(k, k + lo, k + n);
        const double v_lo = key_value(k[lo]);
        // After selecting rank lo, rank lo + 1 is the smallest key behind it.
        const double v_hi = hi == lo ? v_lo : key_value(*std::min_element(k + lo + 1, k + n));
        return interpolate(pos, lo, hi, v_lo, v_hi);
    });
}

std::vector<double> sorted_copy(std::span<const double> s) {
    constexpr std::size_t kRadixFrom = 2048;
    std::vector<double> out;
    if (s.size() >= kRadixFrom) {
        radix_sorted_copy(s, out);
        return out;
    }
    out.assign(s.begin(), s.end());
    KeyWord* keys = to_keys(out);
    std::sort(keys, keys + out.size());
    from_keys(out);
    return out;
}

namespace quantile {
Quartiles iqr_slice(std::span<const double> s) {
    if (s.empty()) return {kNaN, kNaN, kNaN};
    const auto [q1, q3] = quartiles_by_selection(s);
    return {q1, q3, q3 - q1};
}
}  // namespace quantile

namespace robust {
double iqr_slice(std::span<const double> s) {
    if (s.size() < 2) return kNaN;
    const auto [q1, q3] = quartiles_by_selection(s);
    return q3 - q1;
}
}  // namespace robust

}  // namespace quarnel
