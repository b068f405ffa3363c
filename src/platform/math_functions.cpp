// The one translation unit that includes Boost.Math.
#include "platform/math_functions.hpp"

#include <cmath>
#include <limits>

#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/fisher_f.hpp>
#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <boost/math/special_functions/erf.hpp>
#include <boost/math/special_functions/gamma.hpp>

namespace quarnel::special {
namespace {

using namespace boost::math::policies;
// Domain and pole errors give NaN, overflow gives infinity, nothing throws, and double
// arithmetic is never promoted to long double.
using Policy = policy<domain_error<ignore_error>, pole_error<ignore_error>, overflow_error<ignore_error>,
                      underflow_error<ignore_error>, denorm_error<ignore_error>, evaluation_error<ignore_error>,
                      rounding_error<ignore_error>, indeterminate_result_error<ignore_error>,
                      promote_float<false>, promote_double<false>>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

template <class Dist, class... P>
double cdf_or_nan(double x, P... params) {
    for (double p : {params...})
        if (!(p > 0)) return kNaN;
    if (std::isnan(x)) return kNaN;
    return boost::math::cdf(Dist(params...), x);
}

template <class Dist, class... P>
double sf_or_nan(double x, P... params) {
    for (double p : {params...})
        if (!(p > 0)) return kNaN;
    if (std::isnan(x)) return kNaN;
    return boost::math::cdf(boost::math::complement(Dist(params...), x));
}

}  // namespace

double erfc(double x) { return boost::math::erfc(x, Policy()); }
double erfc_inv(double x) { return boost::math::erfc_inv(x, Policy()); }
double lgamma(double x) { return boost::math::lgamma(x, Policy()); }

double norm_cdf(double x) { return std::isnan(x) ? kNaN : 0.5 * erfc(-x / std::sqrt(2.0)); }
double norm_sf(double x) { return std::isnan(x) ? kNaN : 0.5 * erfc(x / std::sqrt(2.0)); }
double norm_ppf(double p) {
    if (std::isnan(p) || p < 0 || p > 1) return kNaN;
    return -std::sqrt(2.0) * erfc_inv(2.0 * p);
}

double student_t_cdf(double t, double df) {
    return cdf_or_nan<boost::math::students_t_distribution<double, Policy>>(t, df);
}
double student_t_sf(double t, double df) {
    return sf_or_nan<boost::math::students_t_distribution<double, Policy>>(t, df);
}
double student_t_ppf(double p, double df) {
    if (!(df > 0) || !(p >= 0 && p <= 1)) return kNaN;
    return boost::math::quantile(boost::math::students_t_distribution<double, Policy>(df), p);
}
double chi2_cdf(double x, double df) {
    if (x < 0) return 0.0;
    return cdf_or_nan<boost::math::chi_squared_distribution<double, Policy>>(x, df);
}
double chi2_sf(double x, double df) {
    if (x < 0) return 1.0;
    return sf_or_nan<boost::math::chi_squared_distribution<double, Policy>>(x, df);
}
double f_cdf(double x, double df1, double df2) {
    if (x < 0) return 0.0;
    return cdf_or_nan<boost::math::fisher_f_distribution<double, Policy>>(x, df1, df2);
}
double f_sf(double x, double df1, double df2) {
    if (x < 0) return 1.0;
    return sf_or_nan<boost::math::fisher_f_distribution<double, Policy>>(x, df1, df2);
}

}  // namespace quarnel::special
