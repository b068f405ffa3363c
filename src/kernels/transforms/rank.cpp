// Sorting transforms: the empirical distribution function and rank-based bins.
//
// Both sort by the IEEE total order. An LSD radix sort on the total-order keys is stable
// by construction (ties keep input order, as the bins require) and runs in a fixed
// number of linear passes, well ahead of comparison sorts at large n.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "kernels/order/radix_sort.hpp"
#include "kernels/transforms/transforms.hpp"

namespace quarnel::transforms {
namespace {

constexpr std::size_t kSmall = 256;  // below this a comparison sort is quicker

// Integer words over double buffers; the compiler is told that they alias.
using KeyWord = std::uint64_t __attribute__((__may_alias__));

struct Keyed {
    std::uint64_t key;
    std::uint64_t index;
};

}  // namespace

void ecdf(std::span<const double> a, std::span<double> sorted, std::span<double> prob) {
    const std::size_t n = a.size();
    // The keys are sorted inside the result buffers: `sorted` holds them, `prob` is the
    // scratch, and both are overwritten with their values afterwards.
    auto* keys = reinterpret_cast<KeyWord*>(sorted.data());
    auto* scratch = reinterpret_cast<KeyWord*>(prob.data());
    for (std::size_t i = 0; i < n; ++i) keys[i] = sort_key(a[i]);
    if (n < kSmall) std::sort(keys, keys + n);
    else radix_sort(keys, scratch, n, [](std::uint64_t k) { return k; });
    const double dn = static_cast<double>(n);
    for (std::size_t i = 0; i < n; ++i) {
        sorted[i] = from_sort_key(keys[i]);
        prob[i] = static_cast<double>(i + 1) / dn;
    }
}

void quantile_bins(std::span<const double> a, std::uint64_t n_bins, std::span<std::int64_t> out) {
    const std::size_t n = a.size();
    if (n == 0) return;
    std::unique_ptr<Keyed[]> items(new Keyed[n]);  // no zero fill: every slot is written next
    for (std::size_t i = 0; i < n; ++i) items[i] = {sort_key(a[i]), i};
    if (n < kSmall) {
        std::stable_sort(items.get(), items.get() + n, [](const Keyed& x, const Keyed& y) { return x.key < y.key; });
    } else {
        std::unique_ptr<Keyed[]> tmp(new Keyed[n]);
        radix_sort(items.get(), tmp.get(), n, [](const Keyed& e) { return e.key; });
    }
    // Sorted position r falls in bin floor((k (r + 1) - 1) / n): the b with
    // floor(n b / k) <= r < floor(n (b + 1) / k). The numerator k (r + 1) - 1 grows by k
    // per position, so the quotient is carried along as quotient and remainder, which
    // never overflows (both stay below k and n) and needs no division in the loop.
    const std::uint64_t k = n_bins, nn = n;
    const std::uint64_t step_q = k / nn, step_r = k % nn;
    std::uint64_t q = (k - 1) / nn, rem = (k - 1) % nn;
    for (std::size_t r = 0; r < n; ++r) {
        out[items[r].index] = static_cast<std::int64_t>(q);
        q += step_q;
        rem += step_r;  // both below n, so the sum stays below 2^64
        if (rem >= nn) {
            rem -= nn;
            ++q;
        }
    }
}

}  // namespace quarnel::transforms
