// Numeric core of the configurable robust location/scale model. The names are parsed
// into these policies once; fitting and scoring dispatch on them without string work.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "kernels/common/expected.hpp"

namespace quarnel::robust {

struct Mad {
    bool consistent;
};
struct Iqr {};
struct Qn {};
using ScalePolicy = std::variant<Mad, Iqr, Qn>;

struct Median {};
struct TrimmedMean {
    double trim;
};
struct Huber {
    double c;
    std::uint64_t max_iter;
    double tol;
    ScalePolicy scale;  // held fixed during the iteration
};
using LocationPolicy = std::variant<Median, TrimmedMean, Huber>;

struct RobustConfig {
    LocationPolicy location;
    ScalePolicy scale;
};

// Exact, case-sensitive names: "mad", "iqr", "qn".
Expected<ScalePolicy> parse_scale_policy(std::string_view name, bool mad_consistent);
// "median", "trimmed_mean" or "huber"; for "huber" the scale name is parsed here too.
Expected<LocationPolicy> parse_location_policy(std::string_view location, std::string_view scale, double c,
                                               double trim, std::uint64_t max_iter, double tol, bool mad_consistent);

double compute_scale(std::span<const double> x, const ScalePolicy& policy);
double compute_location(std::span<const double> x, const RobustConfig& config);
// (location, scale); (NaN, NaN) for empty x.
std::pair<double, double> robust_fit_slice(std::span<const double> x, const RobustConfig& config);
// (x_i - location) / scale, every element NaN when the scale is not positive and finite;
// a single NaN for empty x.
std::vector<double> robust_score_slice(std::span<const double> x, const RobustConfig& config);

}  // namespace quarnel::robust
