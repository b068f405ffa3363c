// Means along lines of a strided array. Every line is summed in its own index order;
// speed comes from running several lines side by side, never from splitting one sum.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "kernels/transforms/simd.hpp"
#include "kernels/transforms/transforms.hpp"

namespace quarnel::transforms {
namespace {

double load(const char* p) {
    double v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// NaN-skipping sums start at +0.0 and therefore never hold -0.0, so adding +0.0 in place
// of a NaN leaves them exactly as skipping it would; unlike a branch, it vectorises.
double zero_if_nan(double v) {
    const std::uint64_t keep = std::uint64_t{0} - static_cast<std::uint64_t>(v == v);
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(v) & keep);
}

struct Plain {
    static constexpr bool kSkip = false;
};
struct SkipNaN {
    static constexpr bool kSkip = true;
};

// Lines that sit next to each other in memory (a C-ordered matrix read by columns): one
// step along the lines is a contiguous run, added lane by lane into the block's sums.
template <class Rule>
[[gnu::always_inline]] inline void adjacent_lines(const Lines& L, double init, std::span<double> out) {
    constexpr std::size_t kBlock = 1024;  // 8 KiB of sums: stays in L1 with the counts
    std::array<double, kBlock> acc;
    std::array<double, kBlock> cnt;
    for (std::size_t l0 = 0; l0 < L.count; l0 += kBlock) {
        const std::size_t nb = std::min(kBlock, L.count - l0);
        std::fill(acc.begin(), acc.begin() + nb, init);
        std::fill(cnt.begin(), cnt.begin() + nb, 0.0);
        const char* base = L.data + L.line_offset(l0);
        for (std::size_t i = 0; i < L.length; ++i) {
            const auto* p = reinterpret_cast<const double*>(base + static_cast<std::ptrdiff_t>(i) * L.elem_stride);
            for (std::size_t b = 0; b < nb; ++b) {
                if constexpr (Rule::kSkip) {
                    acc[b] += zero_if_nan(p[b]);
                    cnt[b] += static_cast<double>(p[b] == p[b]);
                } else {
                    acc[b] += p[b];
                }
            }
        }
        const double len = static_cast<double>(L.length);
        for (std::size_t b = 0; b < nb; ++b) out[l0 + b] = acc[b] / (Rule::kSkip ? cnt[b] : len);
    }
}

// Any other layout: B lines at a time, each walked along its own stride, so B
// independent sums are in flight instead of one long dependency chain.
template <std::size_t B, class Rule>
[[gnu::always_inline]] inline void strided_block(const Lines& L, std::size_t l0, double init, std::span<double> out) {
    const char* base[B];
    double acc[B];
    std::size_t cnt[B];
    for (std::size_t b = 0; b < B; ++b) {
        base[b] = L.data + L.line_offset(l0 + b);
        acc[b] = init;
        cnt[b] = 0;
    }
    for (std::size_t i = 0; i < L.length; ++i) {
        const std::ptrdiff_t off = static_cast<std::ptrdiff_t>(i) * L.elem_stride;
        for (std::size_t b = 0; b < B; ++b) {
            const double v = load(base[b] + off);
            if constexpr (Rule::kSkip) {
                acc[b] += zero_if_nan(v);
                cnt[b] += v == v;
            } else {
                acc[b] += v;
            }
        }
    }
    for (std::size_t b = 0; b < B; ++b)
        out[l0 + b] = acc[b] / static_cast<double>(Rule::kSkip ? cnt[b] : L.length);
}

template <class Rule>
[[gnu::always_inline]] inline void lines_mean(const Lines& L, double init, std::span<double> out) {
    // A handful of adjacent lines is not worth the lanes.
    if (L.offsets.empty() && L.line_stride == static_cast<std::ptrdiff_t>(sizeof(double)) && L.count >= 4)
        return adjacent_lines<Rule>(L, init, out);
    constexpr std::size_t kBlock = 8;
    std::size_t l = 0;
    for (; l + kBlock <= L.count; l += kBlock) strided_block<kBlock, Rule>(L, l, init, out);
    for (; l < L.count; ++l) strided_block<1, Rule>(L, l, init, out);
}

}  // namespace

QUARNEL_VECTOR_CLONES void line_means(const Lines& lines, double init, std::span<double> out) {
    lines_mean<Plain>(lines, init, out);
}

QUARNEL_VECTOR_CLONES void line_means_skipna(const Lines& lines, std::span<double> out) {
    lines_mean<SkipNaN>(lines, 0.0, out);
}

}  // namespace quarnel::transforms
