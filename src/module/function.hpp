// How a family declares its functions. Each function is written once:
//
//     PyObject* diff_np(const py::Args& args) { ... }
//     ...
//     const FunctionDef kTransformFunctions[] = {
//         def<diff_np>("diff_np(a, periods=1)"),
//         def<kde_gaussian_np>("kde_gaussian_np(x, points=200, bandwidth=None)", "Gaussian ..."),
//     };
//
// The text signature is the only place where parameter names and defaults are written:
// registration parses it into the parameter table used for argument matching, for the
// messages, for __text_signature__ and for the defaults. The family table is listed once
// in registry.cpp; the module's order comes from the ordered name list there.
#pragma once

#include "module/frame.hpp"

#include <span>
#include <string>
#include <vector>

namespace quarnel::py {

using Body = PyObject* (*)(const Args&);

struct ParamTable {
    std::string function_name;              // "mean_np"
    std::string call_name;                  // "mean_np()", used in messages
    std::vector<std::string> names;         // positional names, then keyword-only names
    std::vector<PyObject*> interned;        // the same names as interned str objects
    std::size_t positional = 0;             // positional-or-keyword parameters
    std::size_t required = 0;               // leading positional parameters without default
    std::vector<PyObject*> defaults;        // per parameter: default object or nullptr (required)
};

// Parses "name(a, b=1, *, c=True)" (a method's "name($self, a)" too) into a table;
// defaults become Python objects.
// Fails with a Python exception set (registration then fails the import).
bool parse_signature(const char* signature, ParamTable& out);

// Matches a fast call against `table` into `slots` (size table.names.size()) and runs
// `body`; translates every escaping failure into a Python exception.
PyObject* call_entry(const ParamTable& table, Body body, PyObject* self, PyObject* const* args,
                     Py_ssize_t nargs, PyObject* kwnames);

template <Body F, int Variant>
struct Entry {
    static inline ParamTable table;
    static PyObject* call(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return call_entry(table, F, self, args, nargs, kwnames);
    }
};

struct FunctionDef {
    const char* signature;  // exact text signature
    const char* doc;        // docstring after the signature block; may be ""
    PyObject* (*entry)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
    ParamTable* table;
};

// Variant distinguishes two registered names that share one body.
template <Body F, int Variant = 0>
constexpr FunctionDef def(const char* signature, const char* doc = "") {
    return FunctionDef{signature, doc, &Entry<F, Variant>::call, &Entry<F, Variant>::table};
}

using FamilyTable = std::span<const FunctionDef>;

// A class registered in the module order (RobustStats). `make_type` builds the type
// object (a new reference) or returns nullptr with an exception set.
struct ClassDef {
    const char* name;
    PyObject* (*make_type)();
};

}  // namespace quarnel::py
