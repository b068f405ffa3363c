// Means along lines of a strided array. Every line is summed in its own index order;
// speed comes from running several lines side by side, never from splitting one sum.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kernels/common/simd.hpp"
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
    if (L.line_stride == static_cast<std::ptrdiff_t>(sizeof(double)) && L.count >= 4)
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

QUARNEL_VECTOR_CLONES void last_axis_means(const char* data, std::span<const std::size_t> shape,
                                           std::span<const std::ptrdiff_t> strides, double init, std::span<double> out) {
    const std::size_t k = shape.size();
    Lines lines;
    lines.data = data;
    lines.length = shape[k - 1];
    lines.elem_stride = strides[k - 1];
    lines.count = out.size();
    if (lines.count == 0) return;
    // Leading axes that nest like a C-ordered block collapse into one line stride: the
    // stride of the innermost leading axis longer than 1. Axes of length 1 take no part,
    // whatever stride they carry.
    bool nested = true;
    std::ptrdiff_t line_stride = 0;
    std::size_t inner = 1;  // lines spanned by the leading axes after d
    for (std::size_t d = k - 1; d-- > 0;) {
        if (shape[d] == 1) continue;
        std::ptrdiff_t want;
        if (inner == 1) line_stride = strides[d];
        else if (__builtin_mul_overflow(line_stride, static_cast<std::ptrdiff_t>(inner), &want) || strides[d] != want)
            nested = false;
        inner *= shape[d];
    }
    if (nested) {
        lines.line_stride = line_stride;
        return lines_mean<Plain>(lines, init, out);
    }
    // Otherwise take the lines in runs: start from the leading axis with the smallest
    // stride (the first axis of a Fortran-ordered array, whose lines are adjacent) and
    // absorb every axis that continues it in memory, so that a run's lines sit at equal
    // steps. Each run's means are then put in their row-major places.
    const std::size_t lead = k - 1;
    std::size_t first = lead;
    for (std::size_t d = 0; d < lead; ++d)
        if (shape[d] > 1 && (first == lead || std::llabs(strides[d]) < std::llabs(strides[first]))) first = d;
    std::vector<std::size_t> out_step(lead, 1);
    for (std::size_t d = lead - 1; d-- > 0;) out_step[d] = out_step[d + 1] * shape[d + 1];
    std::vector<std::size_t> chain{first};
    std::vector<bool> in_run(lead, false);
    in_run[first] = true;
    std::size_t run_len = shape[first];
    for (bool grew = true; grew;) {
        grew = false;
        for (std::size_t d = 0; d < lead; ++d) {
            if (!in_run[d] && shape[d] > 1 && strides[d] == strides[first] * static_cast<std::ptrdiff_t>(run_len)) {
                chain.push_back(d);
                in_run[d] = true;
                run_len *= shape[d];
                grew = true;
            }
        }
    }
    // Output index of the r-th line of a run, r read in mixed radix along the chain.
    std::vector<std::size_t> run_out(run_len);
    for (std::size_t r = 0; r < run_len; ++r) {
        std::size_t rest = r, at = 0;
        for (std::size_t d : chain) {
            at += (rest % shape[d]) * out_step[d];
            rest /= shape[d];
        }
        run_out[r] = at;
    }
    lines.count = run_len;
    lines.line_stride = strides[first];
    std::vector<double> means(run_len);
    std::vector<std::size_t> index(lead, 0);
    std::ptrdiff_t offset = 0;
    std::size_t out_base = 0;
    for (;;) {
        lines.data = data + offset;
        lines_mean<Plain>(lines, init, means);
        for (std::size_t r = 0; r < run_len; ++r) out[out_base + run_out[r]] = means[r];
        // Odometer over the leading axes outside the run.
        std::size_t d = lead;
        while (d-- > 0) {
            if (in_run[d]) continue;
            if (++index[d] < shape[d]) {
                offset += strides[d];
                out_base += out_step[d];
                break;
            }
            offset -= strides[d] * static_cast<std::ptrdiff_t>(shape[d] - 1);
            out_base -= out_step[d] * (shape[d] - 1);
            index[d] = 0;
        }
        if (d == static_cast<std::size_t>(-1)) return;
    }
}

}  // namespace quarnel::transforms
