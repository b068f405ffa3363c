// Matrix and pairwise statistics: covariance and correlation of pairs and of matrix columns,
// Gram matrices, column distances, diagonal, trace and the symmetry test.
#include <algorithm>

#include "bindings/families.hpp"
#include "kernels/matrix/corr.hpp"
#include "kernels/matrix/cov.hpp"
#include "kernels/matrix/square.hpp"

namespace quarnel::bindings {
namespace {

using PairKernel = double (*)(std::span<const double>, std::span<const double>);
using MatrixKernel = void (*)(std::span<double>, std::size_t, std::size_t, std::span<double>);

// Both slices are taken (x first) before the lengths are compared.
template <PairKernel Kernel>
PyObject* pair_stat(const py::Args& args, const char* length_message) {
    const py::VecView xv = args.vec(0), yv = args.vec(1);
    const auto x = xv.slice();
    const auto y = yv.slice();
    if (x.size() != y.size()) py::raise_value_error(length_message);
    return py::to_float(Kernel(x, y));
}

PyObject* cov_np(const py::Args& args) { return pair_stat<matrix::cov_pair>(args, "x and y must have the same length"); }
PyObject* corr_np(const py::Args& args) { return pair_stat<matrix::corr_pair>(args, "x and y must have the same length"); }
PyObject* cov_skipna(const py::Args& args) { return pair_stat<matrix::cov_pair_skipna>(args, "length mismatch"); }
PyObject* corr_skipna(const py::Args& args) { return pair_stat<matrix::corr_pair_skipna>(args, "length mismatch"); }

// A p x p result (n x n when `by_rows`), zero-filled before the kernel writes it. The kernel
// may overwrite the copy of the input.
template <MatrixKernel Kernel, bool by_rows = false>
PyObject* matrix_stat(const py::Args& args) {
    py::Matrix m = py::extract_mat_f64(args.raw(0));
    const std::size_t dim = by_rows ? m.rows : m.cols;
    py::NewArray<double> out = py::new_f64_2d(dim, dim);
    std::fill(out.data.begin(), out.data.end(), 0.0);
    // An empty result needs no kernel; skipping it also keeps a zero-size input of huge
    // shape (2**59 rows of no columns) from costing a walk over its rows.
    if (!out.data.empty()) Kernel(m.data, m.rows, m.cols, out.data);
    return out.obj.release();
}

PyObject* diag_np(const py::Args& args) {
    const py::Matrix m = py::extract_mat_f64(args.raw(0));
    if (m.rows != m.cols) py::raise_value_error("diag_np expects a square 2D array");
    py::NewArray<double> out = py::new_f64(m.rows);
    matrix::diag_out(m.data, m.rows, out.data);
    return out.obj.release();
}

PyObject* trace_np(const py::Args& args) {
    const py::Matrix m = py::extract_mat_f64(args.raw(0));
    if (m.rows != m.cols) py::raise_value_error("trace_np expects a square 2D array");
    return py::to_float(matrix::trace(m.data, m.rows));
}

// tol is converted as an argument before the matrix is looked at.
PyObject* is_symmetric_np(const py::Args& args) {
    const double tol = args.f64(1);
    const py::Matrix m = py::extract_mat_f64(args.raw(0));
    return py::to_bool(matrix::is_symmetric(m.data, m.rows, m.cols, tol));
}

const py::FunctionDef kFunctions[] = {
    py::def<cov_np>("cov_np(x, y)"),
    py::def<corr_np>("corr_np(x, y)"),
    py::def<matrix_stat<matrix::cov_matrix_out>>("cov_matrix_np(x)"),
    py::def<matrix_stat<matrix::cov_matrix_bias_out>>("cov_matrix_bias_np(x)"),
    py::def<matrix_stat<matrix::cov_matrix_centered_out>>("cov_matrix_centered_np(x_centered)"),
    py::def<matrix_stat<matrix::cov_matrix_skipna_out>>("cov_matrix_skipna_np(x)"),
    py::def<matrix_stat<matrix::xtx_matrix_out>>("xtx_matrix_np(x)"),
    py::def<matrix_stat<matrix::xxt_matrix_out, true>>("xxt_matrix_np(x)"),
    py::def<matrix_stat<matrix::euclidean_cols_out>>("pairwise_euclidean_cols_np(x)"),
    py::def<matrix_stat<matrix::cosine_cols_out>>("pairwise_cosine_cols_np(x)"),
    py::def<matrix_stat<matrix::corr_matrix_out>>("corr_matrix_np(a)"),
    py::def<matrix_stat<matrix::corr_matrix_skipna_out>>("corr_matrix_skipna_np(a)"),
    py::def<matrix_stat<matrix::corr_distance_out>>("corr_distance_np(a)"),
    py::def<diag_np>("diag_np(a)"),
    py::def<trace_np>("trace_np(a)"),
    py::def<is_symmetric_np>("is_symmetric_np(a, tol)"),
    py::def<cov_skipna, 1>("cov_nan_np(x, y)"),
    py::def<corr_skipna, 1>("corr_nan_np(x, y)"),
    py::def<cov_skipna>("cov_skipna(x, y)"),
    py::def<corr_skipna>("corr_skipna(x, y)"),
};

}  // namespace

const py::FamilyTable kMatrix{kFunctions};

}  // namespace quarnel::bindings
