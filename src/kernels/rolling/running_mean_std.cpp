#include "kernels/rolling/running_mean_std.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "kernels/common/total_order.hpp"
#include "kernels/rolling/kahan_sum.hpp"

namespace quarnel::rolling {
namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

template <bool kMean, bool kStd>
class RunningMeanStd {
public:
    RunningMeanStd(const double* x, std::size_t w, double* means, double* stds)
        : x_(x), w_(w), wd_(static_cast<double>(w)), wm1_(static_cast<double>(w - 1)), means_(means), stds_(stds) {}

    void run(std::size_t windows) {
        start(0);
        for (std::size_t j = 1; j < windows; ++j) {
            const double a = x_[j + w_ - 1];
            const double b = x_[j - 1];
            if (!is_finite_bits(a)) clean_from_ = j + w_;
            if (j == clean_from_) {  // the last non-finite value just left: rebuild
                start(j);
                continue;
            }
            if constexpr (kMean) {
                s_.add(a);
                s_.add(-b);
            }
            if constexpr (kStd) {
                const double da = a - k_, db = b - k_;
                s1_.add(da);
                s1_.add(-db);
                s2_.add(da * da);
                s2_.add(-(db * db));
            }
            emit(j);
        }
    }

private:
    // Sums window j from scratch, in index order, as for the first window of a series.
    void start(std::size_t j) {
        s_ = s1_ = s2_ = KahanSum{};
        k_ = is_finite_bits(x_[j]) ? x_[j] : 0.0;
        for (std::size_t i = j; i < j + w_; ++i) {
            const double v = x_[i];
            if (!is_finite_bits(v)) clean_from_ = i + 1;
            if constexpr (kMean) s_.add(v);
            if constexpr (kStd) {
                const double d = v - k_;
                s1_.add(d);
                s2_.add(d * d);
            }
        }
        emit(j);
    }

    void emit(std::size_t j) {
        if constexpr (kMean) means_[j] = s_.s / wd_;
        if constexpr (kStd) {
            if (w_ == 1) {
                stds_[j] = kNan;
            } else {
                const double var = (s2_.s - s1_.s * s1_.s / wd_) / wm1_;
                stds_[j] = std::isnan(var) ? kNan : std::sqrt(std::max(var, 0.0));
            }
        }
    }

    const double* x_;
    std::size_t w_;
    double wd_, wm1_;
    double* means_;
    double* stds_;
    KahanSum s_, s1_, s2_;
    double k_ = 0.0;
    std::size_t clean_from_ = 0;  // first window index holding no non-finite value seen so far
};

template <bool kMean, bool kStd>
void run_engine(std::span<const double> x, std::size_t w, double* means, double* stds) {
    const std::size_t windows = full_windows(x.size(), w);
    if (windows == 0) return;
    RunningMeanStd<kMean, kStd>(x.data(), w, means, stds).run(windows);
}

}  // namespace

void rolling_mean_std_vec(std::span<const double> x, std::size_t w, std::span<double> means,
                          std::span<double> stds) {
    const bool want_mean = !means.empty(), want_std = !stds.empty();
    if (want_mean && want_std) run_engine<true, true>(x, w, means.data(), stds.data());
    else if (want_mean) run_engine<true, false>(x, w, means.data(), nullptr);
    else if (want_std) run_engine<false, true>(x, w, nullptr, stds.data());
}

void rolling_var_vec(std::span<const double> x, std::size_t w, std::span<double> out) {
    rolling_mean_std_vec(x, w, {}, out);
    for (double& v : out) v = v * v;
}

void rolling_zscore_vec(std::span<const double> x, std::size_t w, std::span<double> out) {
    std::vector<double> means(out.size());
    rolling_mean_std_vec(x, w, means, out);  // the stds land in `out`, then become scores
    for (std::size_t j = 0; j < out.size(); ++j) {
        const double s = out[j];
        if (!is_finite_bits(s)) out[j] = kNan;
        else if (s > 0.0) out[j] = (x[j] - means[j]) / s;
        else out[j] = 0.0;
    }
}

}  // namespace quarnel::rolling
