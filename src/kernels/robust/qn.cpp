// Qn scale without materialising the n(n-1)/2 pairwise differences.
//
// On the ascending sample y, the computed difference d(i, j) = y[j] - y[i] (i < j) is
// non-decreasing along a row (j up) and non-increasing down a column (i up): the exact
// difference is, and rounding to nearest is monotone (overflow to +inf included). So the
// pairs form a sorted matrix, and the value of a given rank is found by repeatedly
// splitting every row's candidate range at a trial value (the weighted median of the row
// middles), counting the pairs below it row by row with two monotone pointers, and keeping
// the side that holds the rank. Each split drops at least a quarter of the candidates, so
// O(log n) rounds of O(n) work follow the O(n log n) sort, in O(n) memory.
//
// These computed differences are exactly |x_i - x_j| of the direct definition (rounding
// is symmetric), so the result is the same value, bit for bit.
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "kernels/order/order.hpp"
#include "kernels/robust/extended.hpp"

namespace quarnel::robust {
namespace {

// Pair counts reach n^2 / 2, beyond 64 bits for n above 2^32.
using Count = unsigned __int128;

Count pairs_of(std::size_t n) { return n < 2 ? 0 : static_cast<Count>(n) * (n - 1) / 2; }

struct Candidate {
    double value;
    std::size_t weight;
};

// Smallest value whose cumulative weight (in ascending value order) reaches half the total.
// Quickselect on the values, expected linear time.
double weighted_median(std::vector<Candidate>& a) {
    Count total = 0;
    for (const Candidate& c : a) total += c.weight;
    const Count target = (total + 1) / 2;
    auto lo = a.begin(), hi = a.end();
    Count before = 0;
    while (hi - lo > 1) {
        const auto mid = lo + (hi - lo) / 2;
        std::nth_element(lo, mid, hi, [](const Candidate& x, const Candidate& y) { return x.value < y.value; });
        Count left = 0;
        for (auto it = lo; it != mid; ++it) left += it->weight;
        if (before + left >= target) {
            hi = mid;
        } else {
            before += left;
            lo = mid;
        }
    }
    return lo->value;
}

// Value of rank k (0-based) among the pairwise differences of the ascending finite (or
// overflowing to +inf, never NaN) sample y; k < pairs_of(y.size()).
double kth_pair_difference(std::span<const double> y, Count k) {
    const std::size_t b = y.size();
    const auto d = [&y](std::size_t i, std::size_t j) { return y[j] - y[i]; };
    // Candidates of row i are the columns left[i] ..= right[i] (empty when left > right);
    // columns before left[i] are known to be below the answer, after right[i] above it.
    std::vector<std::size_t> left(b), right(b), lt(b), le(b);
    for (std::size_t i = 0; i < b; ++i) {
        left[i] = i + 1;
        right[i] = b - 1;
    }
    Count below = 0, remaining = pairs_of(b);
    std::vector<Candidate> middles;
    middles.reserve(b);
    while (remaining > b) {
        middles.clear();
        for (std::size_t i = 0; i < b; ++i)
            if (left[i] <= right[i])
                middles.push_back({d(i, left[i] + (right[i] - left[i]) / 2), right[i] - left[i] + 1});
        const double t = weighted_median(middles);

        // lt[i] / le[i]: first column of row i whose difference is >= t / > t. Both move
        // right as i grows, since a column's differences shrink down the rows.
        Count n_lt = 0, n_le = 0;
        std::size_t p = 0, q = 0;
        for (std::size_t i = 0; i < b; ++i) {
            p = std::max(p, i + 1);
            while (p < b && d(i, p) < t) ++p;
            q = std::max(q, p);
            while (q < b && d(i, q) <= t) ++q;
            lt[i] = p;
            le[i] = q;
            n_lt += p - (i + 1);
            n_le += q - (i + 1);
        }
        if (k < n_lt) {
            for (std::size_t i = 0; i < b; ++i) right[i] = std::min(right[i], lt[i] - 1);
        } else if (k >= n_le) {
            for (std::size_t i = 0; i < b; ++i) left[i] = std::max(left[i], le[i]);
        } else {
            return t;  // rank k falls among the pairs equal to t
        }
        below = remaining = 0;
        for (std::size_t i = 0; i < b; ++i) {
            below += left[i] - (i + 1);
            if (left[i] <= right[i]) remaining += right[i] - left[i] + 1;
        }
    }
    std::vector<double> rest;
    rest.reserve(static_cast<std::size_t>(remaining));
    for (std::size_t i = 0; i < b; ++i)
        for (std::size_t j = left[i]; j <= right[i] && j < b; ++j) rest.push_back(d(i, j));
    const auto r = static_cast<std::size_t>(k - below);
    std::nth_element(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(r), rest.end());
    return rest[r];
}

}  // namespace

double qn_scale_slice(std::span<const double> s) {
    const std::size_t n = s.size();
    if (n < 2 || has_nan(s)) return std::numeric_limits<double>::quiet_NaN();
    if (n == 2) return std::fabs(s[0] - s[1]) * kQnFactorTwo;
    const Count k = pairs_of(n) / 4;
    const std::vector<double> y = sorted_copy(s);

    // With infinities the differences are no longer a sorted matrix: +inf - +inf and
    // -inf - -inf are NaN, which the total order puts above everything. Count those
    // groups instead: finite pairs first, then the +inf ones (an infinity against any
    // other value), then the NaN pairs within each infinite block.
    constexpr double kInf = std::numeric_limits<double>::infinity();
    std::size_t neg = 0, pos = 0;
    while (neg < n && y[neg] == -kInf) ++neg;
    while (pos < n - neg && y[n - 1 - pos] == kInf) ++pos;
    const std::size_t finite = n - neg - pos;
    const Count finite_pairs = pairs_of(finite);
    const Count infinite_pairs = static_cast<Count>(neg) * (finite + pos) + static_cast<Count>(finite) * pos;
    if (k < finite_pairs) return kth_pair_difference({y.data() + neg, finite}, k) * kQnFactor;
    if (k < finite_pairs + infinite_pairs) return kInf;
    return std::numeric_limits<double>::quiet_NaN();
}

}  // namespace quarnel::robust
