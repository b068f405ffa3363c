// The robust location/scale model: the RobustStats class, which parses its configuration
// once, and robust_fit / robust_score, which parse it on every call.
#include <cmath>
#include <cstdio>
#include <new>
#include <string>
#include <string_view>

#include "bindings/families.hpp"
#include "kernels/robust/fit.hpp"
#include "module/class_support.hpp"

namespace quarnel::bindings {
namespace {

using robust::RobustConfig;

// The configuration arguments, converted in parameter order starting at `first`.
struct ModelArgs {
    std::string_view location, scale;
    double c, trim;
    std::uint64_t max_iter;
    double tol;
    bool mad_consistent;
};

ModelArgs convert_model_args(const py::Args& args, std::size_t first) {
    ModelArgs m;
    m.location = args.str(first);
    m.scale = args.str(first + 1);
    m.c = args.f64(first + 2);
    m.trim = args.f64(first + 3);
    m.max_iter = args.u64(first + 4);
    m.tol = args.f64(first + 5);
    m.mad_consistent = args.flag(first + 6);
    return m;
}

RobustConfig parse_config(const ModelArgs& m) {
    robust::LocationPolicy location = py::unwrap(robust::parse_location_policy(
        m.location, m.scale, m.c, m.trim, m.max_iter, m.tol, m.mad_consistent));
    robust::ScalePolicy scale = py::unwrap(robust::parse_scale_policy(m.scale, m.mad_consistent));
    return RobustConfig{std::move(location), std::move(scale)};
}

PyObject* fit_result(std::span<const double> x, const RobustConfig& config) {
    const auto [location, scale] = robust::robust_fit_slice(x, config);
    return py::make_tuple(py::to_float(location), py::to_float(scale));
}

PyObject* score_result(std::span<const double> x, const RobustConfig& config) {
    return py::array_from(robust::robust_score_slice(x, config)).release();
}

#define MODEL_PARAMS "location=\"median\", scale=\"mad\", c=1.345, trim=0.1, max_iter=50, tol=1e-6, mad_consistent=True"

PyObject* robust_fit(const py::Args& args) {
    const py::VecView x = args.vec(0);
    const ModelArgs m = convert_model_args(args, 1);
    const std::span<const double> data = x.slice();
    return fit_result(data, parse_config(m));
}

PyObject* robust_score(const py::Args& args) {
    const py::VecView x = args.vec(0);
    const ModelArgs m = convert_model_args(args, 1);
    const std::span<const double> data = x.slice();
    return score_result(data, parse_config(m));
}

const py::FunctionDef kFunctions[] = {
    py::def<robust_fit>("robust_fit(x, " MODEL_PARAMS ")", "Compute robust location and scale - OPTIMIZED"),
    py::def<robust_score>("robust_score(x, " MODEL_PARAMS ")", "Compute robust z-scores - OPTIMIZED"),
};

// ---------------------------------------------------------------- RobustStats

struct ModelState {
    std::string location, scale;  // as passed, for the representation
    RobustConfig config;
    double c, trim;
    bool mad_consistent;
};

struct RobustStatsObject {
    PyObject_HEAD
    ModelState state;  // built in place by the constructor, destroyed by dealloc
};

ModelState& state_of(PyObject* self) { return reinterpret_cast<RobustStatsObject*>(self)->state; }

constexpr const char* kConstructorSignature = "RobustStats(" MODEL_PARAMS ")";
constexpr const char* kClassDoc =
    "Robust statistics estimator with configurable policies - OPTIMIZED\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "location : str\n"
    "    Location estimator: 'median', 'trimmed_mean' or 'huber'.\n"
    "scale : str\n"
    "    Scale estimator: 'mad', 'iqr' or 'qn'.\n"
    "c : float\n"
    "    Huber tuning constant.\n"
    "trim : float\n"
    "    Proportion cut from each end by the trimmed mean.\n"
    "max_iter : int\n"
    "    Maximum number of Huber iterations.\n"
    "tol : float\n"
    "    Huber convergence tolerance, relative to the scale.\n"
    "mad_consistent : bool\n"
    "    Multiply the MAD by 1.482602218505602 to make it consistent for the normal law.\n"
    "\n"
    "The configuration is parsed once at construction; fit and score reuse it.";

// Constructor body: `args.self()` is the type being instantiated.
PyObject* construct(const py::Args& args) {
    const ModelArgs m = convert_model_args(args, 0);
    // Everything that can fail happens before the object exists, so dealloc always finds
    // a constructed state.
    ModelState state{std::string(m.location), std::string(m.scale), parse_config(m), m.c, m.trim, m.mad_consistent};
    auto* type = reinterpret_cast<PyTypeObject*>(args.self());
    py::Ref obj = py::Ref::checked(type->tp_alloc(type, 0));
    new (&state_of(obj.get())) ModelState(std::move(state));  // noexcept move
    return obj.release();
}

PyObject* fit(const py::Args& args) { return fit_result(args.vec(0).slice(), state_of(args.self()).config); }
PyObject* score(const py::Args& args) { return score_result(args.vec(0).slice(), state_of(args.self()).config); }

using ConstructorEntry = py::Entry<construct, 0>;
using FitEntry = py::Entry<fit, 0>;
using ScoreEntry = py::Entry<score, 0>;

PyObject* robust_stats_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return py::call_entry_tuple(ConstructorEntry::table, construct, reinterpret_cast<PyObject*>(type), args, kwargs);
}

void robust_stats_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    state_of(self).~ModelState();
    type->tp_free(self);
    Py_DECREF(type);
}

// Three digits after the point, correctly rounded; NaN, inf and -inf spelled out.
std::string fixed3(double v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
    char buf[400];  // the largest double has 309 integer digits
    std::snprintf(buf, sizeof buf, "%.3f", v);
    return buf;
}

PyObject* robust_stats_repr(PyObject* self) {
    const ModelState& s = state_of(self);
    try {
        const std::string text = "RobustStats(location='" + s.location + "', scale='" + s.scale +
                                 "', c=" + fixed3(s.c) + ", trim=" + fixed3(s.trim) +
                                 ", mad_consistent=" + (s.mad_consistent ? "true" : "false") + ")";
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

constexpr const char* kFitSignature = "fit($self, x)";
constexpr const char* kScoreSignature = "score($self, x)";
constexpr const char* kMethodNote = "\n\nZero string operations - uses pre-built enum config.";

PyObject* make_type() {
    static const std::string class_doc = std::string(kConstructorSignature) + "\n--\n\n" + kClassDoc;
    static const std::string fit_doc =
        std::string(kFitSignature) + "\n--\n\nFit robust location and scale - OPTIMIZED" + kMethodNote;
    static const std::string score_doc =
        std::string(kScoreSignature) + "\n--\n\nCompute robust z-scores - OPTIMIZED" + kMethodNote;
    static PyMethodDef methods[] = {
        {"fit", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&FitEntry::call)),
         METH_FASTCALL | METH_KEYWORDS, fit_doc.c_str()},
        {"score", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&ScoreEntry::call)),
         METH_FASTCALL | METH_KEYWORDS, score_doc.c_str()},
        {nullptr, nullptr, 0, nullptr},
    };
    // Each table is parsed once per process, even if a failed import runs this again.
    const auto parsed = [](const char* sig, py::ParamTable& t) {
        return !t.function_name.empty() || py::parse_signature(sig, t);
    };
    if (!parsed(kConstructorSignature, ConstructorEntry::table) || !parsed(kFitSignature, FitEntry::table) ||
        !parsed(kScoreSignature, ScoreEntry::table))
        return nullptr;
    static PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(&robust_stats_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(&robust_stats_dealloc)},
        {Py_tp_repr, reinterpret_cast<void*>(&robust_stats_repr)},
        {Py_tp_methods, methods},
        {Py_tp_doc, const_cast<char*>(class_doc.c_str())},
        {0, nullptr},
    };
#ifdef Py_TPFLAGS_IMMUTABLETYPE
    constexpr unsigned long kFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE;  // no monkey-patching
#else
    constexpr unsigned long kFlags = Py_TPFLAGS_DEFAULT;
#endif
    static PyType_Spec spec = {"quarnel.RobustStats", static_cast<int>(sizeof(RobustStatsObject)), 0,
                               static_cast<unsigned int>(kFlags), slots};
    return PyType_FromSpec(&spec);
}

}  // namespace

const py::FamilyTable kRobustModel{kFunctions};
const py::ClassDef kRobustStatsClass{"RobustStats", &make_type};

}  // namespace quarnel::bindings
