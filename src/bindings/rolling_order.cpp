// Rolling order statistics (deque minimum/maximum/range, median), coefficient of
// variation and threshold counts.
#include "bindings/families.hpp"
#include "kernels/rolling/cv.hpp"
#include "kernels/rolling/median_window.hpp"
#include "kernels/rolling/minmax_deque.hpp"
#include "kernels/rolling/threshold.hpp"
#include "kernels/rolling/trailing_windows.hpp"

namespace quarnel::bindings {
namespace {

using WindowKernel = void (*)(std::span<const double>, std::size_t, std::span<double>);

// (x, window=20): contiguity, then the window check.
template <WindowKernel K>
PyObject* window_body(const py::Args& args) {
    auto xv = args.vec(0);
    const auto w = args.u64(1);
    auto x = xv.slice();
    const auto m = py::unwrap(rolling::checked_windows(x.size(), w));
    auto out = py::new_f64(m);
    K(x, w, out.data);
    return out.obj.release();
}

template <bool kFraction>
PyObject* threshold_body(const py::Args& args) {
    auto xv = args.vec(0);
    const double threshold = args.f64(1);
    const auto w = args.u64(2);
    auto x = xv.slice();
    const auto m = py::unwrap(rolling::checked_windows(x.size(), w));
    auto out = py::new_f64(m);
    rolling::rolling_count_above(x, threshold, w, kFraction, out.data);
    return out.obj.release();
}

PyObject* rolling_median(const py::Args& args) {
    auto xv = args.vec(0);
    const auto w = args.u64(1);
    auto x = xv.slice();
    auto out = py::new_f64(x.size());
    rolling::rolling_median(x, w, out.data);
    return out.obj.release();
}

const py::FunctionDef kFunctions[] = {
    py::def<rolling_median>("rolling_median(x, window)", "Rolling median with adaptive algorithm - OPTIMIZED"),
    py::def<window_body<rolling::rolling_min>>("rolling_min(x, window=20)",
                                               "Rolling minimum using monotonic deque (O(1) amortized)"),
    py::def<window_body<rolling::rolling_max>>("rolling_max(x, window=20)",
                                               "Rolling maximum using monotonic deque (O(1) amortized)"),
    py::def<window_body<rolling::rolling_range>>("rolling_range(x, window=20)",
                                                 "Rolling range (max - min) using two monotonic deques"),
    py::def<window_body<rolling::rolling_cv>>("rolling_cv(x, window=20)",
                                              "Rolling coefficient of variation (std / mean) using Welford"),
    py::def<threshold_body<false>>("rolling_count_above(x, threshold=0.0, window=20)",
                                   "Rolling count of values above threshold (O(1) updates)"),
    py::def<threshold_body<true>>("rolling_pct_above(x, threshold=0.0, window=20)",
                                  "Rolling percent above threshold (O(1) updates)"),
};

}  // namespace

const py::FamilyTable kRollingOrder{kFunctions};

}  // namespace quarnel::bindings
