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

// Deviations of one window from its mean (sum in index order / w) and their sum of squares.
double centre(const double* x, std::size_t w, double* dev) {
    double sum = 0.0;
    for (std::size_t k = 0; k < w; ++k) sum += x[k];
    const double m = sum / static_cast<double>(w);
    double ss = 0.0;
    for (std::size_t k = 0; k < w; ++k) {
        dev[k] = x[k] - m;
        ss += dev[k] * dev[k];
    }
    return ss;
}

double lagged(const double* dev, std::size_t w, std::size_t lag, double ss) {
    double num = 0.0;
    for (std::size_t k = 0; k + lag < w; ++k) num += dev[k] * dev[k + lag];
    return num / ss;
}

}  // namespace

void rolling_autocorr(std::span<const double> x, std::size_t w, std::size_t lag, std::span<double> out) {
    if (out.empty()) return;  // w may exceed n by any amount: allocate nothing then
    std::vector<double> dev(w);
    for (std::size_t j = 0; j < out.size(); ++j) {
        const double ss = centre(x.data() + j, w, dev.data());
        out[j] = ss <= 0.0 ? kNaN : lagged(dev.data(), w, lag, ss);
    }
}

void rolling_autocorr_multi(std::span<const double> x, std::size_t w, std::span<const std::uint64_t> lags,
                            std::span<double> out) {
    const std::size_t nl = lags.size();
    if (out.empty()) return;
    const std::size_t windows = out.size() / nl;
    std::vector<double> dev(w);
    for (std::size_t j = 0; j < windows; ++j) {
        const double ss = centre(x.data() + j, w, dev.data());
        double* row = out.data() + j * nl;
        for (std::size_t k = 0; k < nl; ++k)
            row[k] = ss <= 0.0 ? kNaN : lagged(dev.data(), w, static_cast<std::size_t>(lags[k]), ss);
    }
}

void rolling_correlation(std::span<const double> x, std::span<const double> y, std::size_t w,
                         std::span<double> out) {
    const double wd = static_cast<double>(w);
    for (std::size_t j = 0; j < out.size(); ++j) {
        const double* xs = x.data() + j;
        const double* ys = y.data() + j;
        double sx = 0.0, sy = 0.0;
        for (std::size_t k = 0; k < w; ++k) {
            sx += xs[k];
            sy += ys[k];
        }
        const double mx = sx / wd, my = sy / wd;
        double sxx = 0.0, syy = 0.0, sxy = 0.0;
        for (std::size_t k = 0; k < w; ++k) {
            const double ex = xs[k] - mx, ey = ys[k] - my;
            sxx += ex * ex;
            syy += ey * ey;
            sxy += ex * ey;
        }
        const double p = syy * sxx;
        out[j] = p != 0.0 ? sxy / std::sqrt(p) : kNaN;
    }
}

}  // namespace quarnel::rolling
