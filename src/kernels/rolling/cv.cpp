#include "kernels/rolling/cv.hpp"

#include <algorithm>
#include <cmath>

#include "kernels/common/total_order.hpp"
#include "kernels/rolling/trailing_windows.hpp"

namespace quarnel::rolling {

void rolling_cv(std::span<const double> x, std::size_t w, std::span<double> out) {
    if (out.empty()) return;
    if (w == 1) { std::fill(out.begin(), out.end(), kNaN); return; }
    const double wd = static_cast<double>(w);
    std::size_t clean_from = 0;  // windows starting before this hold a non-finite value
    for (std::size_t i = 0; i + 1 < w; ++i)
        if (!is_finite_bits(x[i])) clean_from = i + 1;
    double mean = 0.0, m2 = 0.0;
    bool live = false;
    for (std::size_t j = 0; j < out.size(); ++j) {
        const std::size_t in = j + w - 1;
        const double a = x[in];
        if (!is_finite_bits(a)) clean_from = in + 1;
        if (j < clean_from) {
            live = false;
            out[j] = kNaN;
            continue;
        }
        if (live) {
            const double b = x[j - 1];
            const double mean_new = (a - b) / wd + mean;
            m2 = m2 + (((a - mean_new) + b) - mean) * (a - b);
            mean = mean_new;
        } else {
            mean = 0.0;
            m2 = 0.0;
            for (std::size_t k = 0; k < w; ++k) {
                const double v = x[j + k];
                const double mean_new = (v - mean) / static_cast<double>(k + 1) + mean;
                m2 = (v - mean_new) * (v - mean) + m2;
                mean = mean_new;
            }
            live = true;
        }
        // Rounding can leave M2 slightly negative for a constant window after varied data.
        const double am = std::fabs(mean);
        out[j] = am > 1e-10 ? std::sqrt(std::max(m2, 0.0) / (wd - 1.0)) / am : kNaN;
    }
}

}  // namespace quarnel::rolling
