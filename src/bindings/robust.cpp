// Robust estimators: trimmed and winsorised means, robust IQR, Qn, biweight, Huber.
#include "bindings/families.hpp"
#include "kernels/order/order.hpp"
#include "kernels/robust/extended.hpp"

namespace quarnel::bindings {
namespace {

// Checked before the data are reached (so before the contiguity test).
double proportion_to_cut(const py::Args& args, std::size_t i) {
    const double p = args.f64(i);
    if (!(p >= 0.0 && p < 0.5)) py::raise_value_error("proportion_to_cut must be in the range [0, 0.5)");
    return p;
}

PyObject* trimmed_mean_np(const py::Args& args) {
    const py::VecView a = args.vec(0);
    const double p = proportion_to_cut(args, 1);
    return py::to_float(robust::trimmed_mean_slice(a.slice(), p));
}

PyObject* trimmed_mean_skipna_np(const py::Args& args) {
    const py::VecView a = args.vec(0);
    const double p = proportion_to_cut(args, 1);
    // An empty finite set gives NaN through the kernel's n = 0 rule.
    return py::to_float(robust::trimmed_mean_slice(finite_values(a.slice()), p));
}

PyObject* trimmed_std_np(const py::Args& args) {
    const py::VecView a = args.vec(0);
    const double p = args.f64(1);
    return py::to_float(robust::trimmed_std_slice(a.slice(), p));
}

PyObject* winsorized_mean_np(const py::Args& args) {
    const py::VecView a = args.vec(0);
    const double lower = args.f64(1), upper = args.f64(2);
    return py::to_float(robust::winsorized_mean_slice(a.slice(), lower, upper));
}

PyObject* iqr_robust_np(const py::Args& args) { return py::to_float(robust::iqr_slice(args.vec(0).slice())); }

PyObject* qn_scale_np(const py::Args& args) { return py::to_float(robust::qn_scale_slice(args.vec(0).slice())); }

PyObject* biweight_midvariance_np(const py::Args& args) {
    const py::VecView a = args.vec(0);
    const double c = args.opt_f64(1).value_or(robust::kBiweightC);
    return py::to_float(robust::biweight_midvariance(a.slice(), c));
}

PyObject* huber_location_np(const py::Args& args) {
    const py::VecView a = args.vec(0);
    const double k = args.opt_f64(1).value_or(robust::kHuberK);
    const std::uint64_t max_iter = args.opt_u64(2).value_or(robust::kHuberMaxIter);
    return py::to_float(robust::huber_location(a.slice(), k, max_iter));
}

const py::FunctionDef kFunctions[] = {
    py::def<trimmed_mean_np>("trimmed_mean_np(a, proportion_to_cut)"),
    py::def<iqr_robust_np>("iqr_robust_np(a)"),
    py::def<winsorized_mean_np>("winsorized_mean_np(a, lower_percentile, upper_percentile)"),
    py::def<trimmed_std_np>("trimmed_std_np(a, proportion_to_cut)"),
    py::def<biweight_midvariance_np>("biweight_midvariance_np(a, c=None)"),
    py::def<qn_scale_np>("qn_scale_np(a)"),
    py::def<huber_location_np>("huber_location_np(a, k=None, max_iter=None)"),
    py::def<trimmed_mean_skipna_np>("trimmed_mean_skipna_np(a, proportion_to_cut)"),
};

}  // namespace

const py::FamilyTable kRobust{kFunctions};

}  // namespace quarnel::bindings
