#include "kernels/rolling/threshold.hpp"

namespace quarnel::rolling {

void rolling_count_above(std::span<const double> x, double threshold, std::size_t w, bool fraction,
                         std::span<double> out) {
    if (out.empty()) return;
    const double wd = static_cast<double>(w);
    std::size_t c = 0;
    for (std::size_t i = 0; i < w; ++i) c += threshold < x[i];
    out[0] = fraction ? static_cast<double>(c) / wd : static_cast<double>(c);
    for (std::size_t j = 1; j < out.size(); ++j) {
        c += threshold < x[j + w - 1];
        c -= threshold < x[j - 1];
        out[j] = fraction ? static_cast<double>(c) / wd : static_cast<double>(c);
    }
}

}  // namespace quarnel::rolling
