// Gaussian kernel density estimate on an evenly spaced grid.
#include <cmath>
#include <limits>

#include "kernels/common/total_order.hpp"
#include "kernels/moments/moments.hpp"
#include "kernels/transforms/transforms.hpp"

namespace quarnel::transforms {
namespace {

constexpr double kSqrtTwoPi = 2.5066282746310002;
constexpr double kMarginBandwidths = 3.0;

}  // namespace

Expected<double> kde_bandwidth(std::span<const double> x, std::uint64_t points, std::optional<double> bandwidth) {
    if (points == 0) return kernel_error("points must be >= 1");
    if (x.empty()) return kernel_error("x must have at least 1 element");
    for (double v : x)
        if (!is_finite_bits(v)) return kernel_error("x contains NaN or Inf");
    if (bandwidth) {
        const double h = *bandwidth;
        if (!(h > 0.0 && h < std::numeric_limits<double>::infinity()))
            return kernel_error("bandwidth must be a positive finite number");
        return h;
    }
    // Scott's rule; it fails for a single point, constant data, or a spread that overflows.
    const double var = var_two_pass(x);
    const double s = std::sqrt(var);
    if (x.size() < 2 || !(var > 0.0) || std::isinf(s))
        return kernel_error("cannot infer a bandwidth from constant or singleton data; pass bandwidth explicitly");
    return std::pow(static_cast<double>(x.size()), -0.2) * s;
}

void kde_gaussian(std::span<const double> x, double h, std::span<double> grid, std::span<double> density) {
    const std::size_t n = x.size(), points = grid.size();
    double lo = x[0], hi = x[0];
    for (double v : x) {
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
    }
    const double grid_lo = lo - kMarginBandwidths * h, grid_hi = hi + kMarginBandwidths * h;
    if (points == 1) {
        grid[0] = (grid_lo + grid_hi) * 0.5;
    } else {
        const double step = (grid_hi - grid_lo) / static_cast<double>(points - 1);
        for (std::size_t j = 0; j < points; ++j) grid[j] = static_cast<double>(j) * step + grid_lo;
    }
    const double inv = 1.0 / h;
    const double c = 1.0 / (static_cast<double>(n) * h * kSqrtTwoPi);
    for (std::size_t j = 0; j < points; ++j) {
        const double g = grid[j];
        double sum = 0.0;
        for (double v : x) {
            const double u = (g - v) * inv;
            sum += std::exp((u * -0.5) * u);
        }
        density[j] = c * sum;
    }
}

}  // namespace quarnel::transforms
