// Basic rolling statistics: the compensated running mean/std engine over full windows,
// the NaN-skipping trailing variants, and the column-wise (axis 0) running sums.
#include "bindings/families.hpp"
#include "kernels/rolling/axis0.hpp"
#include "kernels/rolling/nan_trailing.hpp"
#include "kernels/rolling/running_mean_std.hpp"

namespace quarnel::bindings {
namespace {

using rolling::full_windows;

struct SeriesArgs {
    std::span<const double> x;
    std::size_t w;
};

// Conversion, then the window check, then contiguity: the order callers see errors in.
SeriesArgs series_args(const py::Args& args) {
    const auto view = args.vec(0);
    const std::size_t w = py::unwrap(rolling::validate_window(args.u64(1)));
    return {view.slice(), w};
}

PyObject* rolling_mean_np(const py::Args& args) {
    const auto [x, w] = series_args(args);
    auto out = py::new_f64(full_windows(x.size(), w));
    rolling::rolling_mean_std_vec(x, w, out.data, {});
    return out.obj.release();
}

PyObject* rolling_std_np(const py::Args& args) {
    const auto [x, w] = series_args(args);
    auto out = py::new_f64(full_windows(x.size(), w));
    rolling::rolling_mean_std_vec(x, w, {}, out.data);
    return out.obj.release();
}

PyObject* rolling_var_np(const py::Args& args) {
    const auto [x, w] = series_args(args);
    auto out = py::new_f64(full_windows(x.size(), w));
    rolling::rolling_var_vec(x, w, out.data);
    return out.obj.release();
}

PyObject* rolling_mean_std_np(const py::Args& args) {
    const auto [x, w] = series_args(args);
    auto means = py::new_f64(full_windows(x.size(), w));
    auto stds = py::new_f64(full_windows(x.size(), w));
    rolling::rolling_mean_std_vec(x, w, means.data, stds.data);
    return py::make_tuple(means.obj.release(), stds.obj.release());
}

PyObject* rolling_zscore_np(const py::Args& args) {
    const auto [x, w] = series_args(args);
    auto out = py::new_f64(full_windows(x.size(), w));
    rolling::rolling_zscore_vec(x, w, out.data);
    return out.obj.release();
}

template <void (*kKernel)(std::span<const double>, std::size_t, std::span<double>)>
PyObject* trailing_nan(const py::Args& args) {
    const auto [x, w] = series_args(args);
    auto out = py::new_f64(x.size());
    kKernel(x, w, out.data);
    return out.obj.release();
}

// ---- axis 0

struct MatrixArgs {
    const double* data = nullptr;  // row-major; null when nothing is to be computed
    std::size_t rows = 0, cols = 0, w = 0, out_rows = 0;
};

// Conversion, the window check, then the early returns for empty outputs (which need no
// particular layout), and only then the layout check.
MatrixArgs matrix_args(const py::Args& args) {
    const auto view = args.mat(0);
    const std::size_t w = py::unwrap(rolling::validate_window(args.u64(1)));
    MatrixArgs m{nullptr, view.rows(), view.cols(), w, full_windows(view.rows(), w)};
    if (m.out_rows == 0 || m.cols == 0) return m;
    if (!view.c_contiguous()) py::raise_value_error("array must be contiguous");
    m.data = reinterpret_cast<const double*>(view.data());
    return m;
}

PyObject* rolling_mean_axis0_np(const py::Args& args) {
    const auto m = matrix_args(args);
    auto out = py::new_f64_2d(m.out_rows, m.cols);
    if (m.data) rolling::rolling_mean_axis0(m.data, m.rows, m.cols, m.w, out.data.data());
    return out.obj.release();
}

PyObject* rolling_std_axis0_np(const py::Args& args) {
    const auto m = matrix_args(args);
    auto out = py::new_f64_2d(m.out_rows, m.cols);
    if (m.data) rolling::rolling_mean_std_axis0(m.data, m.rows, m.cols, m.w, nullptr, out.data.data());
    return out.obj.release();
}

PyObject* rolling_mean_std_axis0_np(const py::Args& args) {
    const auto m = matrix_args(args);
    auto means = py::new_f64_2d(m.out_rows, m.cols);
    auto stds = py::new_f64_2d(m.out_rows, m.cols);
    if (m.data) rolling::rolling_mean_std_axis0(m.data, m.rows, m.cols, m.w, means.data.data(), stds.data.data());
    return py::make_tuple(means.obj.release(), stds.obj.release());
}

const py::FunctionDef kFunctions[] = {
    py::def<rolling_mean_np>("rolling_mean_np(a, window)"),
    py::def<rolling_var_np>("rolling_var_np(a, window)"),
    py::def<rolling_std_np>("rolling_std_np(a, window)"),
    py::def<rolling_mean_std_np>("rolling_mean_std_np(a, window)"),
    py::def<rolling_zscore_np>("rolling_zscore_np(a, window)"),
    py::def<rolling_mean_std_axis0_np>("rolling_mean_std_axis0_np(x, window)"),
    py::def<rolling_mean_axis0_np>("rolling_mean_axis0_np(x, window)"),
    py::def<rolling_std_axis0_np>("rolling_std_axis0_np(x, window)"),
    py::def<trailing_nan<rolling::rolling_mean_nan_vec>>("rolling_mean_nan_np(a, window)"),
    py::def<trailing_nan<rolling::rolling_std_nan_vec>>("rolling_std_nan_np(a, window)"),
    py::def<trailing_nan<rolling::rolling_zscore_nan_vec>>("rolling_zscore_nan_np(a, window)"),
};

}  // namespace

const py::FamilyTable kRollingBasic{kFunctions};

}  // namespace quarnel::bindings
