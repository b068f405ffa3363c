// Differences, percentage changes, running sums and means, exponential smoothing.
#include <algorithm>
#include <bit>
#include <limits>

#include "kernels/common/simd.hpp"
#include "kernels/transforms/transforms.hpp"

namespace quarnel::transforms {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// |p| as an unsigned value: negating in unsigned arithmetic is exact even for INT64_MIN.
std::uint64_t magnitude(std::int64_t p) {
    return p < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(p) : static_cast<std::uint64_t>(p);
}

// Applies f(x, base) where the shifted partner exists and NaN elsewhere; the caller has
// ruled out p = 0 and |p| >= n.
template <class F>
[[gnu::always_inline]] inline void shifted(std::span<const double> a, std::int64_t p, std::span<double> out, F f) {
    const std::size_t n = a.size(), m = static_cast<std::size_t>(magnitude(p));
    if (p > 0) {
        std::fill(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(m), kNaN);
        for (std::size_t i = m; i < n; ++i) out[i] = f(a[i], a[i - m]);
    } else {
        for (std::size_t i = 0; i < n - m; ++i) out[i] = f(a[i], a[i + m]);
        std::fill(out.begin() + static_cast<std::ptrdiff_t>(n - m), out.end(), kNaN);
    }
}

}  // namespace

QUARNEL_VECTOR_CLONES void diff(std::span<const double> a, std::int64_t periods, std::span<double> out) {
    if (a.empty()) return;
    if (periods == 0) return std::fill(out.begin(), out.end(), 0.0);
    if (magnitude(periods) >= a.size()) return std::fill(out.begin(), out.end(), kNaN);
    shifted(a, periods, out, [](double x, double b) { return x - b; });
}

QUARNEL_VECTOR_CLONES void pct_change(std::span<const double> a, std::int64_t periods, std::span<double> out) {
    if (a.empty()) return;
    if (periods == 0 || magnitude(periods) >= a.size()) return std::fill(out.begin(), out.end(), kNaN);
    // A zero base gives NaN; a NaN base is not zero and propagates through the division.
    // The choice is a bit mask rather than a branch so that the loop vectorises.
    shifted(a, periods, out, [](double x, double b) {
        const auto r = std::bit_cast<std::uint64_t>((x - b) / b);
        const std::uint64_t keep = std::uint64_t{0} - static_cast<std::uint64_t>(b != 0.0);
        return std::bit_cast<double>((r & keep) | (std::bit_cast<std::uint64_t>(kNaN) & ~keep));
    });
}

void cumsum(std::span<const double> a, std::span<double> out) {
    if (a.empty()) return;
    double s = a[0];  // not 0.0 + a[0], which would turn a leading -0.0 into +0.0
    out[0] = s;
    for (std::size_t i = 1; i < a.size(); ++i) out[i] = s += a[i];
}

void cummean(std::span<const double> a, std::span<double> out) {
    if (a.empty()) return;
    double s = a[0];
    out[0] = s;
    for (std::size_t i = 1; i < a.size(); ++i) {
        s += a[i];
        out[i] = s / static_cast<double>(i + 1);
    }
}

void ewma(std::span<const double> a, double alpha, std::span<double> out) {
    if (a.empty()) return;
    const double keep = 1.0 - alpha;
    double e = a[0];
    out[0] = e;
    for (std::size_t i = 1; i < a.size(); ++i) out[i] = e = e * keep + a[i] * alpha;
}

}  // namespace quarnel::transforms
