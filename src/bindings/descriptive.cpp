// Core descriptive statistics: moments, Welford summary, medians, MAD, IQR, percentile.
#include "bindings/families.hpp"
#include "kernels/moments/moments.hpp"

namespace quarnel::bindings {
namespace {

PyObject* mean_np(const py::Args& args) {
    auto a = args.vec(0).slice();
    return py::to_float(mean(a));
}

const py::FunctionDef kFunctions[] = {
    py::def<mean_np>("mean_np(a)"),
};

}  // namespace

const py::FamilyTable kDescriptive{kFunctions};

}  // namespace quarnel::bindings
