// Stable least-significant-digit radix sort on 64-bit total-order keys: eight byte-wide
// passes (256 buckets, so counters and write heads stay in L1), skipping every pass whose
// digit is shared by all keys. Several times faster than a comparison sort from a few
// hundred values on, at the price of one scratch buffer. Stable by construction, so ties
// keep their input order where a caller sorts (key, index) pairs.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "kernels/common/total_order.hpp"

namespace quarnel {

// Unsigned key whose ascending order is the total order of the doubles.
inline std::uint64_t sort_key(double x) {
    return static_cast<std::uint64_t>(total_order_key(x)) ^ (std::uint64_t{1} << 63);
}
// Inverse of sort_key (the total-order map is an involution on the bit pattern).
inline double from_sort_key(std::uint64_t k) {
    return std::bit_cast<double>(total_order_key(std::bit_cast<double>(k ^ (std::uint64_t{1} << 63))));
}

// Sorts v[0..n) by key(v[i]) ascending; tmp is scratch for n items. n >= 1.
template <class T, class Key>
void radix_sort(T* v, T* tmp, std::size_t n, Key key) {
    constexpr unsigned kDigitBits = 8, kPasses = 64 / kDigitBits;
    constexpr std::size_t kBuckets = std::size_t{1} << kDigitBits;
    std::vector<std::array<std::size_t, kBuckets>> hist(kPasses);
    for (auto& h : hist) h.fill(0);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t k = key(v[i]);
        for (unsigned p = 0; p < kPasses; ++p) ++hist[p][(k >> (p * kDigitBits)) & (kBuckets - 1)];
    }
    T* src = v;
    T* dst = tmp;
    for (unsigned p = 0; p < kPasses; ++p) {
        auto& h = hist[p];
        const unsigned shift = p * kDigitBits;
        if (h[(key(src[0]) >> shift) & (kBuckets - 1)] == n) continue;
        std::size_t pos = 0;
        for (auto& c : h) pos += std::exchange(c, pos);
        for (std::size_t i = 0; i < n; ++i) {
            const T e = src[i];
            dst[h[(key(e) >> shift) & (kBuckets - 1)]++] = e;
        }
        std::swap(src, dst);
    }
    if (src != v) std::memcpy(v, src, n * sizeof(T));
}

}  // namespace quarnel
