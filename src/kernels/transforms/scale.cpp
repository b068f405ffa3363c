// Standardisation, scaling, clipping, signs and outlier flags.
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "kernels/moments/moments.hpp"
#include "kernels/order/order.hpp"
#include "kernels/common/simd.hpp"
#include "kernels/transforms/transforms.hpp"

namespace quarnel::transforms {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Mean and sum of squared deviations from it, the two passes of the sample variance:
// ss / (count - 1) is bit for bit the two-pass variance of the moments kernels.
struct Centered {
    double mean = kNaN, ss = kNaN;
    std::size_t count = 0;
};

Centered centered(std::span<const double> a) {
    Centered c;
    c.count = a.size();
    if (c.count == 0) return c;
    c.mean = sum_in_order(a) / static_cast<double>(c.count);
    double ss = 0.0;
    for (double x : a) {
        const double d = x - c.mean;
        ss += d * d;
    }
    c.ss = ss;
    return c;
}

// The same over the non-NaN values, without copying them out: the kept values are visited
// in index order, so the sums equal those of the copying skip-NaN variance.
Centered centered_skipna(std::span<const double> a) {
    Centered c;
    double sum = 0.0;
    std::size_t count = 0;
    for (double x : a) {
        if (x == x) {
            sum += x;
            ++count;
        }
    }
    c.count = count;
    if (count == 0) return c;
    c.mean = sum / static_cast<double>(count);
    double ss = 0.0;
    for (double x : a) {
        if (x == x) {
            const double d = x - c.mean;
            ss += d * d;
        }
    }
    c.ss = ss;
    return c;
}

double sample_var(const Centered& c) { return c.count < 2 ? kNaN : c.ss / static_cast<double>(c.count - 1); }

std::int8_t sign_of(double x) { return static_cast<std::int8_t>((x > 0.0) - (x < 0.0)); }

void fill(std::span<double> out, double v) { std::fill(out.begin(), out.end(), v); }

// The median of the values sorted in total order (NaN included): the middle one, or the
// mean of the two middle ones. Reorders s; s is not empty.
double sorted_median(std::span<double> s) {
    const std::size_t k = s.size() / 2;
    const double upper = select_nth_f64(s, k);
    if (s.size() % 2 == 1) return upper;
    return (upper + select_nth_f64(s.first(k), k - 1)) * 0.5;
}

}  // namespace

QUARNEL_VECTOR_CLONES void zscore(std::span<const double> a, std::span<double> out) {
    if (a.empty()) return;
    const Centered c = centered(a);
    const double s = std::sqrt(sample_var(c));
    if (!(s > 0.0 && s < std::numeric_limits<double>::infinity())) return fill(out, kNaN);
    const double m = c.mean;
    for (std::size_t i = 0; i < a.size(); ++i) out[i] = (a[i] - m) / s;
}

QUARNEL_VECTOR_CLONES void zscore_skipna(std::span<const double> a, std::span<double> out) {
    const Centered c = centered_skipna(a);
    const double v = sample_var(c);
    if (!(v > 0.0)) return fill(out, kNaN);
    const double s = std::sqrt(v), m = c.mean;
    // A NaN element stays NaN through the arithmetic.
    for (std::size_t i = 0; i < a.size(); ++i) out[i] = (a[i] - m) / s;
}

QUARNEL_VECTOR_CLONES Location robust_scale(std::span<const double> a, double scale_factor, std::span<double> out) {
    if (a.empty()) return {kNaN, kNaN};
    if (has_nan(a)) {
        fill(out, kNaN);
        return {kNaN, kNaN};
    }
    // The middle order statistics do not depend on how they are found, so selection
    // gives the medians of the sorted copy in linear time.
    std::vector<double> work(a.begin(), a.end());
    const double med = median_inplace(work);
    for (double& v : work) v = std::fabs(v - med);
    // An infinite median leaves NaN deviations (|inf - inf|); they sort last and the MAD
    // is still the middle of the sorted deviations, which the NaN rule of
    // median_inplace would hide.
    const double mad = has_nan(work) ? sorted_median(work) : median_inplace(work);
    const double scale = mad == 0.0 ? 1e-12 : scale_factor * mad;
    for (std::size_t i = 0; i < a.size(); ++i) out[i] = (a[i] - med) / scale;
    return {med, mad};
}

namespace {

// The first element equal to v (used to pick the sign of a zero extreme).
double first_equal(std::span<const double> a, double v) {
    for (double x : a)
        if (x == v) return x;
    return v;
}

}  // namespace

QUARNEL_VECTOR_CLONES Location minmax_scale(std::span<const double> a, std::span<double> out) {
    const std::size_t n = a.size();
    if (n == 0) return {kNaN, kNaN};
    // Sequentially, lo is the first element holding the smallest value: later NaNs never
    // win a strict comparison, and a NaN first element wins them all. Independent lanes
    // seeded with a[0] find the same value; only which zero (+0.0 or -0.0) came first
    // is lost, and is looked up afterwards.
    constexpr std::size_t kLanes = 4;
    double lo_l[kLanes], hi_l[kLanes];
    for (std::size_t k = 0; k < kLanes; ++k) lo_l[k] = hi_l[k] = a[0];
    std::size_t i = 1;
    for (; i + kLanes <= n; i += kLanes) {
        for (std::size_t k = 0; k < kLanes; ++k) {
            const double v = a[i + k];
            lo_l[k] = v < lo_l[k] ? v : lo_l[k];
            hi_l[k] = v > hi_l[k] ? v : hi_l[k];
        }
    }
    double lo = a[0], hi = a[0];
    for (std::size_t k = 0; k < kLanes; ++k) {
        lo = lo_l[k] < lo ? lo_l[k] : lo;
        hi = hi_l[k] > hi ? hi_l[k] : hi;
    }
    for (; i < n; ++i) {
        lo = a[i] < lo ? a[i] : lo;
        hi = a[i] > hi ? a[i] : hi;
    }
    if (lo == 0.0) lo = first_equal(a, lo);
    if (hi == 0.0) hi = first_equal(a, hi);
    if (lo == hi) {
        fill(out, 0.0);
    } else {  // also when lo or hi is NaN
        const double range = hi - lo;
        for (std::size_t j = 0; j < n; ++j) out[j] = (a[j] - lo) / range;
    }
    return {lo, hi};
}

QUARNEL_VECTOR_CLONES void winsorize(std::span<const double> a, double lower_q, double upper_q, std::span<double> out) {
    if (a.empty()) return;
    // With a NaN in the data both limits are NaN and every element passes unchanged.
    const double lo = percentile_slice(a, lower_q * 100.0);
    const double hi = percentile_slice(a, upper_q * 100.0);
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double x = a[i];
        out[i] = lo > x ? lo : (hi < x ? hi : x);
    }
}

QUARNEL_VECTOR_CLONES void winsorize_clip(std::span<const double> a, double lower, double upper, std::span<double> out) {
    const double lo = lower <= upper ? lower : upper;
    const double hi = upper >= lower ? upper : lower;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double x = a[i];
        out[i] = lo > x ? lo : (x > hi ? hi : x);
    }
}

QUARNEL_VECTOR_CLONES void sign_mask(std::span<const double> a, std::span<std::int8_t> out) {
    for (std::size_t i = 0; i < a.size(); ++i) out[i] = sign_of(a[i]);
}

QUARNEL_VECTOR_CLONES void demean_with_signs(std::span<const double> a, std::span<double> d, std::span<std::int8_t> s) {
    if (a.empty()) return;
    const double m = mean(a);
    for (std::size_t i = 0; i < a.size(); ++i) {
        d[i] = a[i] - m;
        s[i] = sign_of(d[i]);
    }
}

QUARNEL_VECTOR_CLONES void iqr_outliers(std::span<const double> a, double k, std::span<bool> out) {
    // The interpolated quartiles at 25 % and 75 % are the quartiles of the sorted data
    // (same positions, same interpolation); selection finds them without sorting.
    const double q1 = percentile_slice(a, 25.0), q3 = percentile_slice(a, 75.0);
    const double iqr = q3 - q1;
    if (iqr != iqr) {
        std::fill(out.begin(), out.end(), false);
        return;
    }
    const double upper = q3 + k * iqr, lower = q1 - k * iqr;
    for (std::size_t i = 0; i < a.size(); ++i) out[i] = (a[i] > upper) | (a[i] < lower);
}

QUARNEL_VECTOR_CLONES void zscore_outliers(std::span<const double> a, double threshold, std::span<bool> out) {
    const Centered c = centered(a);
    const double v = sample_var(c);
    if (!(v > 0.0)) {
        std::fill(out.begin(), out.end(), false);
        return;
    }
    const double m = c.mean, s = std::sqrt(v);
    for (std::size_t i = 0; i < a.size(); ++i) out[i] = threshold < std::fabs((a[i] - m) / s);
}

}  // namespace quarnel::transforms
