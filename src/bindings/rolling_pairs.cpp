// Pairwise rolling statistics (running sums) and rolling autocorrelation (recomputed per
// window).
#include "bindings/families.hpp"
#include "kernels/rolling/autocorr.hpp"
#include "kernels/rolling/pair_sums.hpp"

namespace quarnel::bindings {
namespace {

using Spans = std::span<const double>;
using PairKernel = void (*)(Spans, Spans, std::size_t, std::span<double>);

// (x, y, window): contiguity of x then y, the length check, the window check.
template <PairKernel K>
PyObject* pair_body(const py::Args& args, std::string_view mismatch) {
    auto xv = args.vec(0);
    auto yv = args.vec(1);
    const auto w = args.u64(2);
    auto x = xv.slice();
    auto y = yv.slice();
    const auto m = py::unwrap(rolling::pair_window_count(x.size(), y.size(), w, mismatch));
    auto out = py::new_f64(m);
    K(x, y, w, out.data);
    return out.obj.release();
}

PyObject* rolling_cov_np(const py::Args& a) { return pair_body<rolling::rolling_cov>(a, rolling::kPairLengthMessage); }
PyObject* rolling_corr_np(const py::Args& a) { return pair_body<rolling::rolling_corr>(a, rolling::kPairLengthMessage); }
PyObject* rolling_cov_nan_np(const py::Args& a) {
    return pair_body<rolling::rolling_cov_valid>(a, rolling::kSkipLengthMessage);
}
PyObject* rolling_corr_nan_np(const py::Args& a) {
    return pair_body<rolling::rolling_corr_valid>(a, rolling::kSkipLengthMessage);
}
PyObject* rolling_beta_skipna(const py::Args& a) {
    return pair_body<rolling::rolling_beta_valid>(a, rolling::kSkipLengthMessage);
}
PyObject* rolling_correlation(const py::Args& a) {
    return pair_body<rolling::rolling_correlation>(a, rolling::kCorrelationLengthMessage);
}

PyObject* rolling_linreg_skipna(const py::Args& args) {
    auto xv = args.vec(0);
    auto yv = args.vec(1);
    const auto w = args.u64(2);
    auto x = xv.slice();
    auto y = yv.slice();
    const auto m = py::unwrap(rolling::pair_window_count(x.size(), y.size(), w, rolling::kSkipLengthMessage));
    auto slopes = py::new_f64(m);
    auto intercepts = py::new_f64(m);
    rolling::rolling_linreg_valid(x, y, w, slopes.data, intercepts.data);
    return py::make_tuple(slopes.obj.release(), intercepts.obj.release());
}

PyObject* rolling_autocorr(const py::Args& args) {
    auto xv = args.vec(0);
    const auto lag = args.u64(1);
    const auto w = args.u64(2);
    auto x = xv.slice();
    const auto m = py::unwrap(rolling::autocorr_window_count(x.size(), w, lag));
    auto out = py::new_f64(m);
    rolling::rolling_autocorr(x, w, lag, out.data);
    return out.obj.release();
}

PyObject* rolling_autocorr_multi(const py::Args& args) {
    auto xv = args.vec(0);
    const auto lags = args.u64_seq(1);
    const auto w = args.u64(2);
    auto x = xv.slice();
    const auto m = py::unwrap(rolling::autocorr_multi_window_count(x.size(), w, lags));
    auto out = py::new_f64_2d(m, lags.size());
    rolling::rolling_autocorr_multi(x, w, lags, out.data);
    return out.obj.release();
}

const py::FunctionDef kFunctions[] = {
    py::def<rolling_cov_np>("rolling_cov_np(x, y, window)"),
    py::def<rolling_corr_np>("rolling_corr_np(x, y, window)"),
    py::def<rolling_cov_nan_np>("rolling_cov_nan_np(x, y, window)"),
    py::def<rolling_corr_nan_np>("rolling_corr_nan_np(x, y, window)"),
    py::def<rolling_cov_nan_np, 1>("rolling_cov_skipna(x, y, window)"),
    py::def<rolling_corr_nan_np, 1>("rolling_corr_skipna(x, y, window)"),
    py::def<rolling_beta_skipna>("rolling_beta_skipna(x, y, window)"),
    py::def<rolling_linreg_skipna>("rolling_linreg_skipna(x, y, window)"),
    py::def<rolling_autocorr>("rolling_autocorr(x, lag=1, window=50)"),
    py::def<rolling_correlation>("rolling_correlation(x, y, window=50)"),
    py::def<rolling_autocorr_multi>("rolling_autocorr_multi(x, lags, window=50)"),
};

}  // namespace

const py::FamilyTable kRollingPairs{kFunctions};

}  // namespace quarnel::bindings
