#include "kernels/rolling/multi.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "kernels/common/total_order.hpp"

namespace quarnel::rolling {
namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// One window, element by element. A propagating scan stops at the first NaN (the whole
// window is void then); otherwise NaN values are skipped.
template <bool kStopAtNan>
WindowScan scan_window(const double* p, std::size_t len) {
    WindowScan w;
    bool have_k = false;
    for (std::size_t i = 0; i < len; ++i) {
        const double v = p[i];
        if (v != v) {
            w.saw_nan = true;
            if constexpr (kStopAtNan) return w;
            continue;
        }
        ++w.used;
        if (v < w.min) w.min = v;
        if (v > w.max) w.max = v;
        if (!is_finite_bits(v)) {
            (v > 0.0 ? w.pos_inf : w.neg_inf) = true;
            continue;
        }
        if (!have_k) {
            w.k = v;
            have_k = true;
        }
        w.s.add(v);
        const double d = v - w.k;
        w.s1.add(d);
        w.s2.add(d * d);
    }
    return w;
}

// ---- clean groups: consecutive windows of equal length holding only finite values
//
// Most windows hold neither NaN nor infinity. For those, each window's scan is the same
// sequence of compensated adds, so runs of consecutive windows are scanned side by side,
// one vector lane per window: lane g of every step adds the same value the scalar scan of
// window g adds at that step. No sum is reassociated, so each lane's result is that of
// scan_window, bit for bit.

// The AVX type only ever lives inside the AVX2-targeted scanner, where it is inlined.
#pragma GCC diagnostic ignored "-Wpsabi"
using V2 = double __attribute__((vector_size(16)));
using V4 = double __attribute__((vector_size(32)));

enum Need : unsigned { kNeedSum = 1, kNeedShift = 2, kNeedExtremes = 4 };

template <class V>
[[gnu::always_inline]] inline V load(const double* p) {
    V v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}

// Windows p[g .. g + len - 1] for g = 0 .. kVecs * lanes - 1.
template <class V, int kVecs, unsigned kNeed>
[[gnu::always_inline]] inline void scan_group_impl(const double* p, std::size_t len, WindowScan* out) {
    constexpr int kLanes = sizeof(V) / sizeof(double);
    V s[kVecs], cs[kVecs], s1[kVecs], c1[kVecs], s2[kVecs], c2[kVecs], k[kVecs], lo[kVecs], hi[kVecs];
    for (int v = 0; v < kVecs; ++v) {
        s[v] = cs[v] = s1[v] = c1[v] = s2[v] = c2[v] = V{};
        k[v] = load<V>(p + v * kLanes);
        lo[v] = hi[v] = k[v];
    }
    for (std::size_t i = 0; i < len; ++i) {
#pragma GCC unroll 4
        for (int v = 0; v < kVecs; ++v) {
            const V x = load<V>(p + i + v * kLanes);
            if constexpr (kNeed & kNeedSum) kahan_add(s[v], cs[v], x);
            if constexpr (kNeed & kNeedShift) {
                const V d = x - k[v];
                kahan_add(s1[v], c1[v], d);
                kahan_add(s2[v], c2[v], d * d);
            }
            if constexpr (kNeed & kNeedExtremes) {
                lo[v] = x < lo[v] ? x : lo[v];
                hi[v] = x > hi[v] ? x : hi[v];
            }
        }
    }
    for (int v = 0; v < kVecs; ++v) {
        for (int g = 0; g < kLanes; ++g) {
            WindowScan& w = out[v * kLanes + g];
            w = WindowScan{};
            w.s.s = s[v][g];
            w.s1.s = s1[v][g];
            w.s2.s = s2[v][g];
            w.k = k[v][g];
            w.min = lo[v][g];
            w.max = hi[v][g];
            w.used = len;
        }
    }
}

// Vectors in flight per scan: enough independent chains to hide the latency of the
// compensated adds, few enough that every accumulator stays in a register.
template <unsigned kNeed>
constexpr int kVecsInFlight = (kNeed & kNeedShift) ? 2 : 4;
constexpr int kMaxGroup = 4 * 4;

template <unsigned kNeed>
[[gnu::target("avx2")]] void scan_group_avx2(const double* p, std::size_t len, WindowScan* out) {
    scan_group_impl<V4, kVecsInFlight<kNeed>, kNeed>(p, len, out);
}

template <unsigned kNeed>
void scan_group_sse2(const double* p, std::size_t len, WindowScan* out) {
    scan_group_impl<V2, kVecsInFlight<kNeed>, kNeed>(p, len, out);
}

using GroupFn = void (*)(const double*, std::size_t, WindowScan*);

struct GroupScanner {
    GroupFn fn;
    int width;
};

template <unsigned kNeed>
GroupScanner pick_scanner() {
    if (__builtin_cpu_supports("avx2")) return {&scan_group_avx2<kNeed>, 4 * kVecsInFlight<kNeed>};
    return {&scan_group_sse2<kNeed>, 2 * kVecsInFlight<kNeed>};
}

GroupScanner scanner_for(StatsMask mask) {
    const unsigned need = (mask.has(StatsMask::kMean) ? kNeedSum : 0u) |
                          (mask.has(StatsMask::kStd | StatsMask::kVar) ? kNeedShift : 0u) |
                          (mask.has(StatsMask::kMin | StatsMask::kMax) ? kNeedExtremes : 0u);
    switch (need) {
        case 0: return pick_scanner<0>();
        case 1: return pick_scanner<1>();
        case 2: return pick_scanner<2>();
        case 3: return pick_scanner<3>();
        case 4: return pick_scanner<4>();
        case 5: return pick_scanner<5>();
        case 6: return pick_scanner<6>();
        default: return pick_scanner<7>();
    }
}

// The first non-finite index at or after a position, for positions that only grow.
class NonFiniteCursor {
public:
    explicit NonFiniteCursor(std::span<const double> x) : x_(x) { seek(0); }
    std::size_t at_or_after(std::size_t pos) {
        if (next_ < pos) seek(pos);
        return next_;
    }

private:
    void seek(std::size_t pos) {
        next_ = pos;
        while (next_ < x_.size() && is_finite_bits(x_[next_])) ++next_;
    }
    std::span<const double> x_;
    std::size_t next_ = 0;
};

// `len` is the number of positions the window covers (truncated at the series' ends).
Verdict judge(const RollingConfig& cfg, const WindowScan& w, std::size_t len) {
    const bool propagate = cfg.nan_policy == NanPolicy::Propagate;
    if (cfg.alignment == Alignment::Centered) {
        const std::size_t required = cfg.min_periods.value_or(len);
        const bool has_nan = w.used < len;
        const bool enough = w.used >= required;
        return {enough && !(has_nan && propagate), enough && !(has_nan && propagate) && w.used >= 2,
                static_cast<double>(w.used)};
    }
    if (propagate) {
        if (w.saw_nan) return {false, false, kNan};
        return {true, true, static_cast<double>(len)};
    }
    const std::size_t m = cfg.min_periods.value_or(cfg.window);
    return {w.used >= m, w.used >= std::max<std::size_t>(m, 2), static_cast<double>(w.used)};
}

double mean_of(const WindowScan& w) {
    if (w.pos_inf || w.neg_inf) return w.pos_inf && w.neg_inf ? kNan : w.pos_inf ? kInf : -kInf;
    return w.s.s / static_cast<double>(w.used);
}

double var_of(const WindowScan& w) {
    if (w.pos_inf || w.neg_inf) return kNan;
    const double c = static_cast<double>(w.used);
    const double m1 = w.s1.s / c;
    const double q = (w.s2.s - m1 * c * m1) / (c - 1.0);
    return std::isnan(q) ? kNan : std::max(q, 0.0);
}

}  // namespace

void write_stats(std::size_t position, const WindowScan& scan, const Verdict& verdict, StatsMask mask,
                 const MultiOutputs& out) {
    if (mask.has(StatsMask::kMean)) out.mean[position] = verdict.value_ok ? mean_of(scan) : kNan;
    if (mask.has(StatsMask::kStd | StatsMask::kVar)) {
        const double var = verdict.spread_ok ? var_of(scan) : kNan;
        if (mask.has(StatsMask::kStd)) out.std[position] = std::sqrt(var);
        if (mask.has(StatsMask::kVar)) out.var[position] = var;
    }
    if (mask.has(StatsMask::kCount)) out.count[position] = verdict.count;
    if (mask.has(StatsMask::kMin)) out.min[position] = verdict.value_ok ? scan.min : kNan;
    if (mask.has(StatsMask::kMax)) out.max[position] = verdict.value_ok ? scan.max : kNan;
}

void rolling_multi_into(std::span<const double> x, const RollingConfig& config, StatsMask mask,
                        const MultiOutputs& out) {
    const std::size_t n = x.size();
    const bool stop_at_nan = config.alignment == Alignment::Trailing && config.nan_policy == NanPolicy::Propagate;
    auto scalar = [&](std::size_t pos, std::size_t start, std::size_t len) {
        const double* p = x.data() + start;
        const WindowScan scan = stop_at_nan ? scan_window<true>(p, len) : scan_window<false>(p, len);
        write_stats(pos, scan, judge(config, scan, len), mask, out);
    };
    // Full-length windows: trailing ones, or the centered ones clear of both ends; output
    // position pos describes the window starting at pos - offset.
    std::size_t first = 0, last = 0, offset = 0, len = config.window;
    if (config.alignment == Alignment::Trailing) {
        last = config.output_length(n);
    } else {
        const std::size_t h = config.half_width();
        len = 2 * h + 1;
        offset = h;
        if (n >= len) {
            first = h;
            last = n - h;
        }
        // The truncated windows near both ends.
        for (std::size_t i = 0; i < n; ++i) {
            if (i >= first && i < last) continue;
            const std::size_t lo = i >= h ? i - h : 0;
            scalar(i, lo, std::min(n - 1, i + h) - lo + 1);
        }
    }
    const GroupScanner group = scanner_for(mask);
    const auto width = static_cast<std::size_t>(group.width);
    NonFiniteCursor bad(x);
    WindowScan scans[kMaxGroup];
    for (std::size_t pos = first; pos < last;) {
        const std::size_t start = pos - offset;
        if (pos + width <= last && bad.at_or_after(start) >= start + width - 1 + len) {
            group.fn(x.data() + start, len, scans);
            for (std::size_t g = 0; g < width; ++g)
                write_stats(pos + g, scans[g], judge(config, scans[g], len), mask, out);
            pos += width;
        } else {
            scalar(pos, start, len);
            ++pos;
        }
    }
}

void rolling_multi_axis0(const double* x, std::size_t rows, std::size_t cols, const RollingConfig& config,
                         StatsMask mask, const MultiOutputs& out) {
    const std::size_t len = config.output_length(rows);
    if (len == 0 || cols == 0) return;
    std::vector<double> column(rows);
    std::vector<double> scratch[6];
    std::span<double> outs2d[6] = {out.mean, out.std, out.var, out.count, out.min, out.max};
    MultiOutputs col_out;
    std::span<double>* col_spans[6] = {&col_out.mean, &col_out.std, &col_out.var,
                                       &col_out.count, &col_out.min, &col_out.max};
    for (int s = 0; s < 6; ++s) {
        if (!mask.has(StatsMask::kAll[s])) continue;
        scratch[s].resize(len);
        *col_spans[s] = scratch[s];
    }
    for (std::size_t c = 0; c < cols; ++c) {
        for (std::size_t r = 0; r < rows; ++r) column[r] = x[r * cols + c];
        rolling_multi_into(column, config, mask, col_out);
        for (int s = 0; s < 6; ++s) {
            if (scratch[s].empty()) continue;
            for (std::size_t k = 0; k < len; ++k) outs2d[s][k * cols + c] = scratch[s][k];
        }
    }
}

}  // namespace quarnel::rolling
