#include "kernels/rolling/nan_trailing.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "kernels/common/total_order.hpp"

namespace quarnel::rolling {
namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::size_t kNone = static_cast<std::size_t>(-1);

enum class Stat { Mean, Std, ZScore };

// Running state of one trailing window. A skipped NaN adds 0.0 instead of branching: the
// sums start at +0.0 and can never become -0.0, so adding +0.0 leaves them unchanged.
template <Stat kStat>
struct Sums {
    double k = 0.0;
    double s = 0.0, s1 = 0.0, s2 = 0.0;
    std::size_t c = 0;

    void add(double v) {
        const bool keep = v == v;
        c += keep;
        if constexpr (kStat == Stat::Mean) {
            s += keep ? v : 0.0;
        } else {
            const double d = v - k;
            s1 += keep ? d : 0.0;
            s2 += keep ? d * d : 0.0;
        }
    }
    void remove(double v) {
        const bool keep = v == v;
        c -= keep;
        if constexpr (kStat == Stat::Mean) {
            s -= keep ? v : 0.0;
        } else {
            const double d = v - k;
            s1 -= keep ? d : 0.0;
            s2 -= keep ? d * d : 0.0;
        }
    }

    double value(double xj) const {
        if constexpr (kStat == Stat::Mean) {
            return c >= 1 ? s / static_cast<double>(c) : kNan;
        } else if constexpr (kStat == Stat::Std) {
            if (c < 2) return kNan;
            const double cd = static_cast<double>(c);
            const double var = (s2 - s1 * s1 / cd) / (cd - 1.0);
            return std::isnan(var) ? kNan : std::sqrt(std::max(var, 0.0));
        } else {
            if (xj != xj || c < 2) return kNan;
            const double cd = static_cast<double>(c);
            double var = (s2 - s1 * s1 / cd) / (cd - 1.0);
            var = std::isnan(var) ? var : std::max(var, 0.0);
            const double sd = std::sqrt(var);
            if (sd == kInf) return kNan;
            return var > 0.0 ? ((xj - k) - s1 / cd) / sd : kNan;
        }
    }
};

template <Stat kStat>
void run(std::span<const double> x, std::size_t w, std::span<double> out) {
    const std::size_t n = x.size();
    Sums<kStat> sums;
    if constexpr (kStat != Stat::Mean) {
        const auto first = std::find_if(x.begin(), x.end(), [](double v) { return is_finite_bits(v); });
        sums.k = first == x.end() ? 0.0 : *first;
    }
    // While a window holds infinities its result follows from their signs alone; the sums
    // are rebuilt once the last one has left (position `restart_at`).
    std::size_t restart_at = kNone;
    std::size_t pos_inf = 0, neg_inf = 0;
    for (std::size_t j = 0; j < n; ++j) {
        const double v = x[j];
        if (!is_finite_bits(v) && v == v) {
            // Rebuilt once it has left; a window reaching past the end never drops it.
            restart_at = w < n - j ? j + w : n;
            ++(v > 0.0 ? pos_inf : neg_inf);
        }
        sums.add(v);
        if (j >= w) sums.remove(x[j - w]);
        if (restart_at != kNone) {
            if (j < restart_at) {
                if (j >= w) {
                    const double o = x[j - w];
                    if (!is_finite_bits(o) && o == o) --(o > 0.0 ? pos_inf : neg_inf);
                }
                if constexpr (kStat == Stat::Mean) out[j] = pos_inf && neg_inf ? kNan : pos_inf ? kInf : -kInf;
                else out[j] = kNan;
                continue;
            }
            restart_at = kNone;
            pos_inf = neg_inf = 0;
            const double k = sums.k;
            sums = Sums<kStat>{};
            sums.k = k;
            for (std::size_t i = j + 1 - w; i <= j; ++i) sums.add(x[i]);
        }
        out[j] = sums.value(v);
    }
}

}  // namespace

void rolling_mean_nan_vec(std::span<const double> x, std::size_t w, std::span<double> out) {
    run<Stat::Mean>(x, w, out);
}
void rolling_std_nan_vec(std::span<const double> x, std::size_t w, std::span<double> out) {
    run<Stat::Std>(x, w, out);
}
void rolling_zscore_nan_vec(std::span<const double> x, std::size_t w, std::span<double> out) {
    run<Stat::ZScore>(x, w, out);
}

}  // namespace quarnel::rolling
