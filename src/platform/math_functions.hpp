// Statistical special functions. Boost.Math is confined to math_functions.cpp, whose error policy
// returns NaN (or the limit) for domain errors and never throws or widens to long double.
#pragma once

namespace quarnel::special {

double erfc(double x);
double erfc_inv(double x);
double lgamma(double x);
double norm_cdf(double x);
double norm_sf(double x);
double norm_ppf(double p);
double student_t_cdf(double t, double df);
double student_t_sf(double t, double df);
double student_t_ppf(double p, double df);
double chi2_cdf(double x, double df);
double chi2_sf(double x, double df);
double f_cdf(double x, double df1, double df2);
double f_sf(double x, double df1, double df2);

}  // namespace quarnel::special
