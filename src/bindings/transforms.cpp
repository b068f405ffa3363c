// Transforms, outlier flags, the Gaussian KDE and axis means.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

#include "bindings/families.hpp"
#include "kernels/transforms/transforms.hpp"

namespace quarnel::bindings {
namespace {

namespace tf = transforms;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

using Slice = std::span<const double>;

// array -> array transforms of the same length.
template <void (*Kernel)(Slice, std::span<double>)>
PyObject* map_f64(const py::Args& args) {
    const Slice a = args.vec(0).slice();
    auto out = py::new_f64(a.size());
    Kernel(a, out.data);
    return out.obj.release();
}

PyObject* robust_scale_np(const py::Args& args) {
    const auto view = args.vec(0);
    const double factor = args.f64(1);
    const Slice a = view.slice();
    auto out = py::new_f64(a.size());
    const tf::Location loc = tf::robust_scale(a, factor, out.data);
    return py::make_tuple(std::move(out.obj), py::to_float(loc.center), py::to_float(loc.spread));
}

PyObject* minmax_scale_np(const py::Args& args) {
    const Slice a = args.vec(0).slice();
    auto out = py::new_f64(a.size());
    const tf::Location range = tf::minmax_scale(a, out.data);
    return py::make_tuple(std::move(out.obj), py::to_float(range.center), py::to_float(range.spread));
}

PyObject* winsorize_np(const py::Args& args) {
    const auto view = args.vec(0);
    const double lower_q = args.f64(1), upper_q = args.f64(2);
    if (!(lower_q >= 0.0 && lower_q <= 1.0 && upper_q >= 0.0 && upper_q <= 1.0 && lower_q < upper_q))
        py::raise_value_error("winsorize quantiles must satisfy 0 <= lower_q < upper_q <= 1");
    const Slice a = view.slice();
    auto out = py::new_f64(a.size());
    tf::winsorize(a, lower_q, upper_q, out.data);
    return out.obj.release();
}

PyObject* winsorize_clip_np(const py::Args& args) {
    const auto view = args.vec(0);
    const double lower = args.f64(1), upper = args.f64(2);
    const Slice a = view.slice();
    auto out = py::new_f64(a.size());
    tf::winsorize_clip(a, lower, upper, out.data);
    return out.obj.release();
}

template <void (*Kernel)(Slice, std::int64_t, std::span<double>)>
PyObject* shift_f64(const py::Args& args) {
    const auto view = args.vec(0);
    const std::int64_t periods = args.i64(1);
    const Slice a = view.slice();
    auto out = py::new_f64(a.size());
    Kernel(a, periods, out.data);
    return out.obj.release();
}

PyObject* ewma_np(const py::Args& args) {
    const auto view = args.vec(0);
    const double alpha = args.f64(1);
    if (!(alpha > 0.0 && alpha <= 1.0)) py::raise_value_error("alpha must satisfy 0 < alpha <= 1");
    const Slice a = view.slice();
    auto out = py::new_f64(a.size());
    tf::ewma(a, alpha, out.data);
    return out.obj.release();
}

PyObject* ecdf_np(const py::Args& args) {
    const Slice a = args.vec(0).slice();
    auto sorted = py::new_f64(a.size());
    auto prob = py::new_f64(a.size());
    tf::ecdf(a, sorted.data, prob.data);
    return py::make_tuple(sorted.obj.release(), prob.obj.release());
}

PyObject* quantile_bins_np(const py::Args& args) {
    const auto view = args.vec(0);
    const std::uint64_t n_bins = args.u64(1);
    if (n_bins == 0) py::raise_value_error("n_bins must be >= 1");
    // Bin numbers are int64.
    if (n_bins > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        py::raise_value_error("n_bins must be <= 9223372036854775807");
    const Slice a = view.slice();
    auto out = py::new_i64(a.size());
    tf::quantile_bins(a, n_bins, out.data);
    return out.obj.release();
}

PyObject* sign_mask_np(const py::Args& args) {
    const Slice a = args.vec(0).slice();
    auto out = py::new_i8(a.size());
    tf::sign_mask(a, out.data);
    return out.obj.release();
}

PyObject* demean_with_signs_np(const py::Args& args) {
    const Slice a = args.vec(0).slice();
    auto d = py::new_f64(a.size());
    auto s = py::new_i8(a.size());
    tf::demean_with_signs(a, d.data, s.data);
    return py::make_tuple(d.obj.release(), s.obj.release());
}

PyObject* pad_nan_np(const py::Args& args) {
    auto out = py::new_f64(args.u64(0));
    std::fill(out.data.begin(), out.data.end(), kNaN);
    return out.obj.release();
}

template <void (*Kernel)(Slice, double, std::span<bool>)>
PyObject* flags(const py::Args& args) {
    const auto view = args.vec(0);
    const double limit = args.f64(1);
    const Slice a = view.slice();
    auto out = py::new_bool(a.size());
    Kernel(a, limit, out.data);
    return out.obj.release();
}

PyObject* kde_gaussian_np(const py::Args& args) {
    const auto view = args.vec(0);
    const std::uint64_t points = args.u64(1);
    const std::optional<double> bandwidth = args.opt_f64(2);
    const Slice x = view.slice();
    const double h = py::unwrap(tf::kde_bandwidth(x, points, bandwidth));
    auto grid = py::new_f64(points);
    auto density = py::new_f64(points);
    tf::kde_gaussian(x, h, grid.data, density.data);
    return py::make_tuple(grid.obj.release(), density.obj.release());
}

PyObject* mean_axis_np(const py::Args& args) {
    const py::NdView x = args.nd(0);
    const std::int64_t axis = args.i64(1);
    const bool skipna = args.opt_flag(2).value_or(false);
    const auto shape = x.shape();
    const auto strides = x.strides();
    tf::Lines lines;
    lines.data = x.data();
    if (shape.size() == 1) {
        if (axis != 0) py::raise_value_error("mean_axis_np: for 1D input, axis must be 0");
        lines.count = 1;
        lines.length = shape[0];
        lines.elem_stride = strides[0];
        if (lines.length >= 2 && lines.elem_stride != static_cast<std::ptrdiff_t>(sizeof(double)))
            py::raise_value_error("mean_axis_np: 1D input must be contiguous");
    } else if (shape.size() == 2) {
        if (axis != 0 && axis != 1) py::raise_value_error("mean_axis_np: for 2D input, axis must be 0 or 1");
        // axis 0 averages each column over the rows, axis 1 each row over the columns.
        const std::size_t along = axis == 0 ? 0 : 1, across = 1 - along;
        lines.count = shape[across];
        lines.length = shape[along];
        lines.elem_stride = strides[along];
        lines.line_stride = strides[across];
    } else {
        py::raise_value_error("mean_axis_np currently supports only 1D or 2D arrays");
    }
    auto out = py::new_f64(lines.count);
    if (skipna) tf::line_means_skipna(lines, out.data);
    else tf::line_means(lines, 0.0, out.data);
    return out.obj.release();
}

PyObject* mean_over_last_axis_dyn_np(const py::Args& args) {
    const py::NdView x = args.nd(0);
    const auto shape = x.shape();
    const std::size_t k = shape.size();
    if (k == 0) {
        auto out = py::new_f64(1);
        std::memcpy(out.data.data(), x.data(), sizeof(double));
        return out.obj.release();
    }
    // One line per combination of the leading indices, in row-major order.
    std::size_t count = 1;
    for (std::size_t d = 0; d + 1 < k; ++d) {
        if (shape[d] != 0 && count > std::numeric_limits<std::size_t>::max() / shape[d]) py::raise_memory_error();
        count *= shape[d];
    }
    auto out = py::new_f64(count);
    tf::last_axis_means(x.data(), shape, x.strides(), -0.0, out.data);
    return out.obj.release();
}

constexpr const char* kKdeDoc =
    "Gaussian kernel density estimate of x on `points` evenly spaced values reaching three\n"
    "bandwidths beyond the smallest and largest observation. `bandwidth` defaults to Scott's\n"
    "rule, n**-0.2 * std(x, ddof=1). Returns (grid, density).";

const py::FunctionDef kFunctions[] = {
    py::def<map_f64<tf::zscore>>("zscore_np(a)"),
    py::def<map_f64<tf::zscore_skipna>>("zscore_skipna_np(a)"),
    py::def<robust_scale_np>("robust_scale_np(a, scale_factor)"),
    py::def<minmax_scale_np>("minmax_scale_np(a)"),
    py::def<winsorize_np>("winsorize_np(a, lower_q, upper_q)"),
    py::def<winsorize_clip_np>("winsorize_clip_np(a, lower, upper)"),
    py::def<shift_f64<tf::diff>>("diff_np(a, periods=1)"),
    py::def<shift_f64<tf::pct_change>>("pct_change_np(a, periods)"),
    py::def<map_f64<tf::cumsum>>("cumsum_np(a)"),
    py::def<map_f64<tf::cummean>>("cummean_np(a)"),
    py::def<ewma_np>("ewma_np(a, alpha)"),
    py::def<ecdf_np>("ecdf_np(a)"),
    py::def<quantile_bins_np>("quantile_bins_np(a, n_bins)"),
    py::def<sign_mask_np>("sign_mask_np(a)"),
    py::def<demean_with_signs_np>("demean_with_signs_np(a)"),
    py::def<pad_nan_np>("pad_nan_np(n)"),
    py::def<flags<tf::iqr_outliers>>("iqr_outliers_np(a, k=1.5)"),
    py::def<flags<tf::zscore_outliers>>("zscore_outliers_np(a, threshold=3.0)"),
    py::def<kde_gaussian_np>("kde_gaussian_np(x, points=200, bandwidth=None)", kKdeDoc),
    py::def<mean_axis_np>("mean_axis_np(x, axis, skipna=None)"),
    py::def<mean_over_last_axis_dyn_np>("mean_over_last_axis_dyn_np(arr)"),
};

}  // namespace

const py::FamilyTable kTransforms{kFunctions};

}  // namespace quarnel::bindings
