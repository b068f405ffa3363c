#include "kernels/rolling/autocorr.hpp"

#include <cmath>

namespace quarnel::rolling {

Expected<std::size_t> autocorr_window_count(std::size_t n, std::size_t w, std::uint64_t lag) {
    if (w == 0) return kernel_error(std::string(kWindowMessage));
    if (lag >= w) return kernel_error("lag must be smaller than window");
    return full_windows(n, w);
}

Expected<std::size_t> autocorr_multi_window_count(std::size_t n, std::size_t w,
                                                  std::span<const std::uint64_t> lags) {
    if (w == 0) return kernel_error(std::string(kWindowMessage));
    for (std::uint64_t lag : lags)
        if (lag >= w) return kernel_error("all lags must be smaller than window, got lag=" + std::to_string(lag));
    return full_windows(n, w);
}

namespace {

// Windows are processed kLanes at a time: each window keeps its own accumulators, fed in
// index order, so the lanes run side by side (and in SIMD) without changing any sum.
constexpr std::size_t kLanes = 4;

// Means and sums of squared deviations of the L windows starting at xs[0 ... L - 1].
template <std::size_t L>
struct Centred {
    double mean[L], ss[L];
    Centred(const double* xs, std::size_t w) {
        double sum[L] = {};
        for (std::size_t k = 0; k < w; ++k)
            for (std::size_t b = 0; b < L; ++b) sum[b] += xs[b + k];
        for (std::size_t b = 0; b < L; ++b) {
            mean[b] = sum[b] / static_cast<double>(w);
            ss[b] = 0.0;
        }
        for (std::size_t k = 0; k < w; ++k)
            for (std::size_t b = 0; b < L; ++b) {
                const double d = xs[b + k] - mean[b];
                ss[b] += d * d;
            }
    }
    // Writes out[b * stride] for each window: the lag-`lag` autocorrelation, NaN where the
    // sum of squares is not positive.
    void autocorr(const double* xs, std::size_t w, std::size_t lag, double* out, std::size_t stride) const {
        double num[L] = {};
        for (std::size_t k = 0; k + lag < w; ++k)
            for (std::size_t b = 0; b < L; ++b) num[b] += (xs[b + k] - mean[b]) * (xs[b + k + lag] - mean[b]);
        for (std::size_t b = 0; b < L; ++b) out[b * stride] = ss[b] <= 0.0 ? kNaN : num[b] / ss[b];
    }
};

// Runs body<L>(j) over groups of kLanes windows, then single windows for the rest.
template <class Body>
void by_lanes(std::size_t windows, Body body) {
    std::size_t j = 0;
    for (; j + kLanes <= windows; j += kLanes) body.template operator()<kLanes>(j);
    for (; j < windows; ++j) body.template operator()<1>(j);
}

}  // namespace

void rolling_autocorr(std::span<const double> x, std::size_t w, std::size_t lag, std::span<double> out) {
    by_lanes(out.size(), [&]<std::size_t L>(std::size_t j) {
        Centred<L>(x.data() + j, w).autocorr(x.data() + j, w, lag, out.data() + j, 1);
    });
}

void rolling_autocorr_multi(std::span<const double> x, std::size_t w, std::span<const std::uint64_t> lags,
                            std::span<double> out) {
    const std::size_t nl = lags.size();
    if (nl == 0) return;
    by_lanes(out.size() / nl, [&]<std::size_t L>(std::size_t j) {
        const Centred<L> c(x.data() + j, w);
        for (std::size_t k = 0; k < nl; ++k)
            c.autocorr(x.data() + j, w, static_cast<std::size_t>(lags[k]), out.data() + j * nl + k, nl);
    });
}

void rolling_correlation(std::span<const double> x, std::span<const double> y, std::size_t w,
                         std::span<double> out) {
    const double wd = static_cast<double>(w);
    by_lanes(out.size(), [&]<std::size_t L>(std::size_t j) {
        const double* xs = x.data() + j;
        const double* ys = y.data() + j;
        double sx[L] = {}, sy[L] = {};
        for (std::size_t k = 0; k < w; ++k)
            for (std::size_t b = 0; b < L; ++b) {
                sx[b] += xs[b + k];
                sy[b] += ys[b + k];
            }
        double mx[L], my[L], sxx[L] = {}, syy[L] = {}, sxy[L] = {};
        for (std::size_t b = 0; b < L; ++b) {
            mx[b] = sx[b] / wd;
            my[b] = sy[b] / wd;
        }
        for (std::size_t k = 0; k < w; ++k)
            for (std::size_t b = 0; b < L; ++b) {
                const double ex = xs[b + k] - mx[b], ey = ys[b + k] - my[b];
                sxx[b] += ex * ex;
                syy[b] += ey * ey;
                sxy[b] += ex * ey;
            }
        for (std::size_t b = 0; b < L; ++b) {
            const double p = syy[b] * sxx[b];
            out[j + b] = p != 0.0 ? sxy[b] / std::sqrt(p) : kNaN;
        }
    });
}

}  // namespace quarnel::rolling
