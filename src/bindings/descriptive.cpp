// Core descriptive statistics: moments, Welford summary, medians, MAD, IQR, percentile.
#include <cmath>

#include "bindings/families.hpp"
#include "kernels/moments/moments.hpp"
#include "kernels/order/order.hpp"

namespace quarnel::bindings {
namespace {

std::span<const double> input(const py::Args& args) { return args.vec(0).slice(); }

PyObject* mean_np(const py::Args& args) { return py::to_float(mean(input(args))); }
PyObject* mean_skipna_np(const py::Args& args) { return py::to_float(mean_skipna(input(args))); }
PyObject* var_np(const py::Args& args) { return py::to_float(var_two_pass(input(args))); }
PyObject* var_skipna_np(const py::Args& args) { return py::to_float(var_slice_skipna(input(args))); }
PyObject* std_np(const py::Args& args) { return py::to_float(std::sqrt(var_two_pass(input(args)))); }
PyObject* std_skipna_np(const py::Args& args) { return py::to_float(std::sqrt(var_slice_skipna(input(args)))); }
PyObject* skew_np(const py::Args& args) { return py::to_float(skew_biased(input(args))); }
PyObject* kurtosis_np(const py::Args& args) { return py::to_float(kurtosis_excess(input(args))); }

PyObject* welford_np(const py::Args& args) {
    const WelfordSummary w = welford(input(args));
    return py::make_tuple(py::to_float(w.mean), py::to_float(w.variance), py::to_count(w.count));
}

PyObject* median_np(const py::Args& args) { return py::to_float(median_of_copy(input(args))); }
PyObject* median_skipna_np(const py::Args& args) { return py::to_float(median_of_copy(input(args), true)); }
PyObject* mad_np(const py::Args& args) { return py::to_float(median_mad_of_copy(input(args)).mad); }
PyObject* mad_skipna_np(const py::Args& args) { return py::to_float(median_mad_of_copy(input(args), true).mad); }
PyObject* mad_std_np(const py::Args& args) { return py::to_float(median_mad_of_copy(input(args)).mad * kMadNormal); }

PyObject* iqr_np(const py::Args& args) {
    const quantile::Quartiles q = quantile::iqr_slice(input(args));
    return py::make_tuple(py::to_float(q.q1), py::to_float(q.q3), py::to_float(q.iqr));
}

PyObject* iqr_width_np(const py::Args& args) {
    const quantile::Quartiles q = quantile::iqr_slice(input(args));
    return py::to_float(q.q1 != q.q1 || q.q3 != q.q3 ? NAN : q.iqr);
}

PyObject* iqr_skipna_np(const py::Args& args) { return py::to_float(robust::iqr_slice(finite_values(input(args)))); }

PyObject* percentile_np(const py::Args& args) {
    const py::VecView a = args.vec(0);
    const double q = args.f64(1);
    if (!(q >= 0.0 && q <= 100.0)) py::raise_value_error("q must be in the range [0, 100] (numpy.percentile semantics)");
    return py::to_float(percentile_slice(a.slice(), q));
}

const py::FunctionDef kFunctions[] = {
    py::def<mean_np>("mean_np(a)"),
    py::def<mean_skipna_np>("mean_skipna_np(a)"),
    py::def<mean_skipna_np, 1>("mean_nan_np(a)"),
    py::def<var_np>("var_np(a)"),
    py::def<var_skipna_np>("var_skipna_np(a)"),
    py::def<var_skipna_np, 1>("var_nan_np(a)"),
    py::def<std_np>("std_np(a)"),
    py::def<std_skipna_np>("std_skipna_np(a)"),
    py::def<std_skipna_np, 1>("std_nan_np(a)"),
    py::def<skew_np>("skew_np(a)"),
    py::def<kurtosis_np>("kurtosis_np(a)"),
    py::def<percentile_np>("percentile_np(a, q)"),
    py::def<iqr_np>("iqr_np(a)"),
    py::def<iqr_width_np>("iqr_width_np(a)"),
    py::def<mad_np>("mad_np(a)"),
    py::def<median_np>("median_np(a)"),
    py::def<mad_std_np>("mad_std_np(a)"),
    py::def<median_skipna_np>("median_skipna_np(a)"),
    py::def<mad_skipna_np>("mad_skipna_np(a)"),
    py::def<iqr_skipna_np>("iqr_skipna_np(a)"),
    py::def<welford_np>("welford_np(a)"),
};

}  // namespace

const py::FamilyTable kDescriptive{kFunctions};

}  // namespace quarnel::bindings
