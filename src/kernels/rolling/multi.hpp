// Fused multi-statistic rolling engine: mean, sample std and variance, count, min and max
// of every window in one scan, under a trailing or centered alignment and a NaN policy.
// Every window is evaluated from its own elements (compensated sums from zero, shifted by
// the window's first finite value), so a non-finite value affects only the windows that
// hold it.
#pragma once

#include <cstddef>
#include <limits>
#include <span>

#include "kernels/rolling/kahan_sum.hpp"
#include "kernels/rolling/multi_config.hpp"

namespace quarnel::rolling {

// Output buffers; a statistic that was not requested has an empty span. 1-D: each of the
// config's output length; 2-D (axis-0 driver): that length times the column count.
struct MultiOutputs {
    std::span<double> mean, std, var, count, min, max;
};

// What one window contributes: sums over its finite values, extremes and count over the
// values it uses (NaN excluded), and which infinities it holds.
struct WindowScan {
    KahanSum s, s1, s2;  // of x, of d = x - k and of d * d, finite values only
    double k = 0.0;      // the first finite value used, 0 when none
    double min = std::numeric_limits<double>::infinity();
    double max = -std::numeric_limits<double>::infinity();
    std::size_t used = 0;
    bool saw_nan = false;
    bool pos_inf = false, neg_inf = false;
};

// Which statistics of a window are defined under the config's rules.
struct Verdict {
    bool value_ok;   // mean, min, max
    bool spread_ok;  // var, std
    double count;    // the count to report (NaN when a NaN voids a propagating window)
};

// Writes the requested statistics of one window at `position`.
void write_stats(std::size_t position, const WindowScan& scan, const Verdict& verdict, StatsMask mask,
                 const MultiOutputs& out);

// Fills the requested buffers (each of config.output_length(x.size())).
void rolling_multi_into(std::span<const double> x, const RollingConfig& config, StatsMask mask,
                        const MultiOutputs& out);

// Column driver: each column of the row-major rows x cols matrix is one series; outputs are
// row-major (output_length(rows) x cols).
void rolling_multi_axis0(const double* x, std::size_t rows, std::size_t cols, const RollingConfig& config,
                         StatsMask mask, const MultiOutputs& out);

}  // namespace quarnel::rolling
