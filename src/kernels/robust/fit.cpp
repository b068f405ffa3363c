#include "kernels/robust/fit.hpp"

#include <cmath>
#include <limits>
#include <string>

#include "kernels/order/order.hpp"
#include "kernels/robust/extended.hpp"

namespace quarnel::robust {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

double mad_scale(const MedianMad& mm, bool consistent) { return consistent ? mm.mad * kMadNormal : mm.mad; }

bool positive_finite(double v) { return v > 0.0 && v < std::numeric_limits<double>::infinity(); }

}  // namespace

Expected<ScalePolicy> parse_scale_policy(std::string_view name, bool mad_consistent) {
    if (name == "mad") return ScalePolicy{Mad{mad_consistent}};
    if (name == "iqr") return ScalePolicy{Iqr{}};
    if (name == "qn") return ScalePolicy{Qn{}};
    return kernel_error("Invalid scale: " + std::string(name) + ". Must be 'mad', 'iqr', or 'qn'");
}

Expected<LocationPolicy> parse_location_policy(std::string_view location, std::string_view scale, double c,
                                               double trim, std::uint64_t max_iter, double tol,
                                               bool mad_consistent) {
    if (location == "median") return LocationPolicy{Median{}};
    if (location == "trimmed_mean") return LocationPolicy{TrimmedMean{trim}};
    if (location == "huber") {
        Expected<ScalePolicy> s = parse_scale_policy(scale, mad_consistent);
        if (!s.ok()) return kernel_error(s.error());
        return LocationPolicy{Huber{c, max_iter, tol, s.value()}};
    }
    return kernel_error("Invalid location: " + std::string(location) +
                        ". Must be 'median', 'trimmed_mean', or 'huber'");
}

double compute_scale(std::span<const double> x, const ScalePolicy& policy) {
    return std::visit(Overloaded{
                          [&](const Mad& m) { return mad_scale(median_mad_of_copy(x), m.consistent); },
                          [&](const Iqr&) { return iqr_slice(x); },
                          [&](const Qn&) { return qn_scale_slice(x); },
                      },
                      policy);
}

double compute_location(std::span<const double> x, const RobustConfig& config) {
    return std::visit(Overloaded{
                          [&](const Median&) { return median_of_copy(x); },
                          [&](const TrimmedMean& t) { return trimmed_mean_slice(x, t.trim); },
                          [&](const Huber& h) {
                              if (h.max_iter == 0) return median_of_copy(x);
                              double mu, s;
                              if (const Mad* mad = std::get_if<Mad>(&h.scale)) {
                                  // The starting median is also the centre of the MAD.
                                  const MedianMad mm = median_mad_of_copy(x);
                                  mu = mm.median;
                                  s = mad_scale(mm, mad->consistent);
                              } else {
                                  mu = median_of_copy(x);
                                  s = compute_scale(x, h.scale);
                              }
                              if (!positive_finite(s)) return mu;
                              return huber_iterate(x, mu, s, h.c, h.max_iter, h.tol, true);
                          },
                      },
                      config.location);
}

std::pair<double, double> robust_fit_slice(std::span<const double> x, const RobustConfig& config) {
    if (x.empty()) return {kNaN, kNaN};
    const Mad* mad = std::get_if<Mad>(&config.scale);
    if (mad && std::holds_alternative<Median>(config.location)) {
        // The median serves as the location and as the centre of the MAD.
        const MedianMad mm = median_mad_of_copy(x);
        return {mm.median, mad_scale(mm, mad->consistent)};
    }
    return {compute_location(x, config), compute_scale(x, config.scale)};
}

std::vector<double> robust_score_slice(std::span<const double> x, const RobustConfig& config) {
    if (x.empty()) return {kNaN};
    const auto [location, scale] = robust_fit_slice(x, config);
    std::vector<double> z(x.size(), kNaN);
    if (positive_finite(scale))
        for (std::size_t i = 0; i < x.size(); ++i) z[i] = (x[i] - location) / scale;
    return z;
}

}  // namespace quarnel::robust
