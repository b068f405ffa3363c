// The fused multi-statistic rolling engine: any subset of mean, std, var, count, min and
// max, returned as one array per requested name in the caller's order.
#include <bit>
#include <cstring>

#include "bindings/families.hpp"
#include "kernels/rolling/multi.hpp"

namespace quarnel::bindings {
namespace {

using rolling::StatsMask;

// Full Unicode lower-casing (the interpreter's), so that an unknown name is reported as
// the engine's parser sees it.
std::string unicode_lower(const std::string& text) {
    py::Ref s = py::Ref::checked(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr));
    py::Ref lower = py::Ref::checked(PyObject_CallMethod(s.get(), "lower", nullptr));
    Py_ssize_t len = 0;
    const char* data = PyUnicode_AsUTF8AndSize(lower.get(), &len);
    if (!data) throw py::PyError{};
    return {data, static_cast<std::size_t>(len)};
}

struct Request {
    rolling::RollingConfig config;
    StatsMask mask;
    std::vector<std::uint32_t> order;  // one statistic bit per requested name
};

// Everything after the array: parse the options, the config, then the statistic names.
// A name is resolved again, untrimmed, for the result: one that the mask parser accepted
// only after trimming or splitting is refused here, before any work is done.
Request parse_request(std::uint64_t window, std::optional<std::uint64_t> min_periods,
                      std::string_view alignment_text, std::string_view nan_policy_text,
                      std::optional<std::vector<std::string>> stats) {
    const auto alignment = py::unwrap(rolling::parse_alignment(alignment_text));
    const auto nan_policy = py::unwrap(rolling::parse_nan_policy(nan_policy_text));
    Request req{py::unwrap(rolling::RollingConfig::create(window, min_periods, alignment, nan_policy)), {}, {}};
    const std::vector<std::string> names = stats ? std::move(*stats) : std::vector<std::string>{"mean"};
    std::string joined;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i) joined += ',';
        joined += names[i];
    }
    req.mask = py::unwrap(StatsMask::from_str_list(unicode_lower(joined)));
    for (const std::string& name : names) {
        const std::uint32_t bit = rolling::stat_bit(name);
        if (bit == 0) py::raise_value_error("Unknown stat: " + name);
        req.order.push_back(bit);
    }
    return req;
}

int slot_of(std::uint32_t bit) { return std::countr_zero(bit); }

// One array per requested statistic, allocated by `make(len)`; the result takes each
// array for the first name asking for it and an independent copy for every repeat.
template <class Make>
PyObject* run_and_build(const Request& req, Make&& make, std::size_t total, auto&& compute) {
    py::NewArray<double> arrays[6];
    rolling::MultiOutputs out;
    std::span<double>* spans[6] = {&out.mean, &out.std, &out.var, &out.count, &out.min, &out.max};
    for (int s = 0; s < 6; ++s) {
        if (!req.mask.has(StatsMask::kAll[s])) continue;
        arrays[s] = make();
        *spans[s] = arrays[s].data;
    }
    compute(out);
    py::Ref result = py::Ref::checked(PyTuple_New(static_cast<Py_ssize_t>(req.order.size())));
    bool taken[6] = {};
    for (std::size_t i = 0; i < req.order.size(); ++i) {
        const int s = slot_of(req.order[i]);
        PyObject* item;
        if (!taken[s]) {
            item = arrays[s].obj.release();
            taken[s] = true;
        } else {
            auto copy = make();
            if (total) std::memcpy(copy.data.data(), arrays[s].data.data(), total * sizeof(double));
            item = copy.obj.release();
        }
        PyTuple_SET_ITEM(result.get(), static_cast<Py_ssize_t>(i), item);
    }
    return result.release();
}

// Arguments 1 to 5, shared by both entry points, converted in parameter order.
struct Options {
    std::uint64_t window;
    std::optional<std::uint64_t> min_periods;
    std::string_view alignment, nan_policy;
    std::optional<std::vector<std::string>> stats;
};

Options convert_options(const py::Args& args) {
    Options o;
    o.window = args.u64(1);
    o.min_periods = args.opt_u64(2);
    o.alignment = args.str(3);
    o.nan_policy = args.str(4);
    o.stats = args.str_list(5);
    return o;
}

Request parse_request(Options&& o) {
    return parse_request(o.window, o.min_periods, o.alignment, o.nan_policy, std::move(o.stats));
}

PyObject* rolling_multi_np(const py::Args& args) {
    const auto view = args.vec(0);
    Options options = convert_options(args);
    const auto x = view.slice();
    const Request req = parse_request(std::move(options));
    const std::size_t len = req.config.output_length(x.size());
    return run_and_build(req, [&] { return py::new_f64(len); }, len,
                         [&](const rolling::MultiOutputs& out) { rolling::rolling_multi_into(x, req.config, req.mask, out); });
}

PyObject* rolling_multi_axis0_np(const py::Args& args) {
    const auto view = args.mat(0);
    Options options = convert_options(args);
    if (view.rows() > 0 && view.cols() > 0 && !view.c_contiguous()) py::raise_value_error("Array must be contiguous");
    const Request req = parse_request(std::move(options));
    const std::size_t len = req.config.output_length(view.rows());
    // No output rows: shape (0, 0), whatever the column count.
    const std::size_t cols = len == 0 ? 0 : view.cols();
    const auto* data = reinterpret_cast<const double*>(view.data());
    const std::size_t rows = view.rows();
    return run_and_build(req, [&] { return py::new_f64_2d(len, cols); }, len * cols,
                         [&](const rolling::MultiOutputs& out) {
                             rolling::rolling_multi_axis0(data, rows, cols, req.config, req.mask, out);
                         });
}

const py::FunctionDef kFunctions[] = {
    py::def<rolling_multi_np>(
        "rolling_multi_np(x, window, min_periods=None, alignment=\"trailing\", nan_policy=\"propagate\", stats=None)"),
    py::def<rolling_multi_axis0_np>("rolling_multi_axis0_np(x, window, min_periods=None, alignment=\"trailing\", "
                                    "nan_policy=\"propagate\", stats=None)"),
};

}  // namespace

const py::FamilyTable kRollingMulti{kFunctions};

}  // namespace quarnel::bindings
