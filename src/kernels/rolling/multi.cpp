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

// Runs `fn(position, window start, window length)` over every output position.
template <class Fn>
void for_each_window(std::size_t n, const RollingConfig& cfg, Fn&& fn) {
    if (cfg.alignment == Alignment::Trailing) {
        const std::size_t windows = cfg.output_length(n);
        for (std::size_t j = 0; j < windows; ++j) fn(j, j, cfg.window);
        return;
    }
    const std::size_t h = cfg.half_width();
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t lo = i >= h ? i - h : 0;
        const std::size_t hi = std::min(n - 1, i + h);
        fn(i, lo, hi - lo + 1);
    }
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
    const bool stop_at_nan = config.alignment == Alignment::Trailing && config.nan_policy == NanPolicy::Propagate;
    for_each_window(x.size(), config, [&](std::size_t pos, std::size_t start, std::size_t len) {
        const double* p = x.data() + start;
        const WindowScan scan = stop_at_nan ? scan_window<true>(p, len) : scan_window<false>(p, len);
        write_stats(pos, scan, judge(config, scan, len), mask, out);
    });
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
