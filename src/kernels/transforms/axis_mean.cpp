// Means along lines of a strided array. Every line is summed in its own index order;
// speed comes from running several lines side by side, never from splitting one sum.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "kernels/transforms/transforms.hpp"

namespace quarnel::transforms {
namespace {

double load(const char* p) {
    double v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Lines that sit next to each other in memory (a C-ordered matrix read by columns):
// one row of a block of lines is a contiguous run, added lane by lane into the block's
// accumulators. Skipping a NaN by adding +0.0 is exact because these sums start at +0.0
// and so never hold -0.0.
template <bool SkipNaN>
void adjacent_lines(const Lines& L, double init, std::span<double> out) {
    constexpr std::size_t kBlock = 256;
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
                const double v = p[b];
                if constexpr (SkipNaN) {
                    acc[b] += v == v ? v : 0.0;
                    cnt[b] += v == v ? 1.0 : 0.0;
                } else {
                    acc[b] += v;
                }
            }
        }
        const double len = static_cast<double>(L.length);
        for (std::size_t b = 0; b < nb; ++b) out[l0 + b] = acc[b] / (SkipNaN ? cnt[b] : len);
    }
}

// Any other layout: B lines at a time, each walked along its own stride, so B
// independent sums are in flight instead of one long dependency chain.
template <std::size_t B, bool SkipNaN>
void strided_block(const Lines& L, std::size_t l0, double init, std::span<double> out) {
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
            if constexpr (SkipNaN) {
                if (v == v) {
                    acc[b] += v;
                    ++cnt[b];
                }
            } else {
                acc[b] += v;
            }
        }
    }
    for (std::size_t b = 0; b < B; ++b)
        out[l0 + b] = acc[b] / static_cast<double>(SkipNaN ? cnt[b] : L.length);
}

template <bool SkipNaN>
void strided_lines(const Lines& L, double init, std::span<double> out) {
    constexpr std::size_t kBlock = 8;
    std::size_t l = 0;
    for (; l + kBlock <= L.count; l += kBlock) strided_block<kBlock, SkipNaN>(L, l, init, out);
    for (; l < L.count; ++l) strided_block<1, SkipNaN>(L, l, init, out);
}

}  // namespace

void line_means(const Lines& lines, double init, bool skipna, std::span<double> out) {
    // The NaN skip of the adjacent layout needs a +0.0 start; a handful of lines is not
    // worth the lanes.
    const bool adjacent = lines.offsets.empty() && lines.line_stride == static_cast<std::ptrdiff_t>(sizeof(double)) &&
                          lines.count >= 4 && !(skipna && std::signbit(init));
    if (adjacent) {
        if (skipna) adjacent_lines<true>(lines, init, out);
        else adjacent_lines<false>(lines, init, out);
    } else {
        if (skipna) strided_lines<true>(lines, init, out);
        else strided_lines<false>(lines, init, out);
    }
}

}  // namespace quarnel::transforms
