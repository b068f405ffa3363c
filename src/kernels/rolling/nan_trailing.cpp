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

// The statistic of one position from its window sums and count c (as a double).
template <Stat kStat>
inline double finish(double s, double s1, double s2, double c, double xj, double k) {
    if constexpr (kStat == Stat::Mean) {
        (void)s1, (void)s2, (void)xj, (void)k;
        return c >= 1.0 ? s / c : kNan;
    } else if constexpr (kStat == Stat::Std) {
        (void)s, (void)xj, (void)k;
        const double var = (s2 - s1 * s1 / c) / (c - 1.0);
        const double sd = std::sqrt(var < 0.0 ? 0.0 : var);
        return c >= 2.0 && var == var ? sd : kNan;
    } else {
        (void)s;
        double var = (s2 - s1 * s1 / c) / (c - 1.0);
        var = var < 0.0 ? 0.0 : var;
        const double sd = std::sqrt(var);
        const double z = ((xj - k) - s1 / c) / sd;
        return xj == xj && c >= 2.0 && sd != kInf && var > 0.0 ? z : kNan;
    }
}

// Running state of one trailing window: plain sums over its non-NaN values and their count.
template <Stat kStat>
struct Sums {
    double k = 0.0;
    double s = 0.0, s1 = 0.0, s2 = 0.0;
    std::size_t c = 0;

    void add(double v) {
        if constexpr (kStat == Stat::Mean) {
            s += v;
        } else {
            const double d = v - k;
            s1 += d;
            s2 += d * d;
        }
    }
    void remove(double v) {
        if constexpr (kStat == Stat::Mean) {
            s -= v;
        } else {
            const double d = v - k;
            s1 -= d;
            s2 -= d * d;
        }
    }
    void add_unless_nan(double v) {
        if (v != v) return;
        add(v);
        ++c;
    }
    void remove_unless_nan(double v) {
        if (v != v) return;
        remove(v);
        --c;
    }
    double value(double xj) const { return finish<kStat>(s, s1, s2, static_cast<double>(c), xj, k); }
};

template <Stat kStat>
void run(std::span<const double> x, std::size_t w, std::span<double> out) {
    const std::size_t n = x.size();
    Sums<kStat> sums;
    if constexpr (kStat != Stat::Mean) sums.k = first_finite(x);
    // While a window holds infinities its result follows from their signs alone; the sums
    // are rebuilt once the last one has left (position `restart_at`).
    std::size_t restart_at = kNone;
    std::size_t pos_inf = 0, neg_inf = 0;
    auto step = [&](std::size_t j) {
        const double v = x[j];
        if (!is_finite_bits(v) && v == v) {
            // Rebuilt once it has left; a window reaching past the end never drops it.
            restart_at = w < n - j ? j + w : n;
            ++(v > 0.0 ? pos_inf : neg_inf);
        }
        sums.add_unless_nan(v);
        if (j >= w) sums.remove_unless_nan(x[j - w]);
        if (restart_at != kNone) {
            if (j < restart_at) {
                if (j >= w) {
                    const double o = x[j - w];
                    if (!is_finite_bits(o) && o == o) --(o > 0.0 ? pos_inf : neg_inf);
                }
                if constexpr (kStat == Stat::Mean) out[j] = pos_inf && neg_inf ? kNan : pos_inf ? kInf : -kInf;
                else out[j] = kNan;
                return;
            }
            restart_at = kNone;
            pos_inf = neg_inf = 0;
            const double k = sums.k;
            sums = Sums<kStat>{};
            sums.k = k;
            for (std::size_t i = j + 1 - w; i <= j; ++i) sums.add_unless_nan(x[i]);
        }
        out[j] = sums.value(v);
    };
    std::size_t j = 0;
    for (; j < std::min(w, n); ++j) step(j);

    // Steady state. When the incoming and the outgoing value are both finite and no
    // infinity is pending, the count stands still and a step is just two adds.
    for (; j < n; ++j) {
        const double v = x[j], o = x[j - w];
        if (restart_at == kNone && is_finite_bits(v) && is_finite_bits(o)) [[likely]] {
            sums.add(v);
            sums.remove(o);
            out[j] = sums.value(v);
        } else {
            step(j);
        }
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
