// The entry path every function takes: match arguments, run the body, and turn every
// escaping failure into a Python exception.
#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "module/errors.hpp"
#include "module/function.hpp"

namespace quarnel::py {
namespace {

constexpr std::size_t kMaxParams = 16;

std::string quoted_list(const std::vector<const std::string*>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
        out += "'" + *names[i] + "'";
    }
    return out;
}

[[noreturn]] void too_many_positional(const ParamTable& t, Py_ssize_t given) {
    const char* verb = given == 1 ? "was" : "were";
    if (t.required == t.positional)
        PyErr_Format(PyExc_TypeError, "%s takes %zu positional arguments but %zd %s given", t.call_name.c_str(),
                     t.positional, given, verb);
    else
        PyErr_Format(PyExc_TypeError, "%s takes from %zu to %zu positional arguments but %zd %s given",
                     t.call_name.c_str(), t.required, t.positional, given, verb);
    throw PyError{};
}

// Index of the parameter named by `key`: keyword-only names first, then positional ones.
std::size_t find_keyword(const ParamTable& t, PyObject* key) {
    const std::size_t n = t.names.size();
    for (std::size_t i = t.positional; i < n; ++i)
        if (t.interned[i] == key) return i;
    for (std::size_t i = 0; i < t.positional; ++i)
        if (t.interned[i] == key) return i;
    if (!PyUnicode_Check(key)) return n;
    for (std::size_t pass = 0; pass < 2; ++pass) {
        const std::size_t lo = pass == 0 ? t.positional : 0, hi = pass == 0 ? n : t.positional;
        for (std::size_t i = lo; i < hi; ++i) {
            const int eq = PyUnicode_Compare(key, t.interned[i]);
            if (eq == 0) return i;
            if (eq == -1 && PyErr_Occurred()) PyErr_Clear();
        }
    }
    return n;
}

void match(const ParamTable& t, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** slots) {
    const std::size_t n = t.names.size();
    if (static_cast<std::size_t>(nargs) > t.positional) too_many_positional(t, nargs);
    for (std::size_t i = 0; i < n; ++i) slots[i] = i < static_cast<std::size_t>(nargs) ? args[i] : nullptr;
    if (kwnames) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            PyObject* key = PyTuple_GET_ITEM(kwnames, k);
            const std::size_t i = find_keyword(t, key);
            if (i == n) {
                PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%S'", t.call_name.c_str(), key);
                throw PyError{};
            }
            if (slots[i]) {
                PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%S'", t.call_name.c_str(), key);
                throw PyError{};
            }
            slots[i] = args[nargs + k];
        }
    }
    std::vector<const std::string*> missing;
    for (std::size_t i = 0; i < t.required; ++i)
        if (!slots[i]) missing.push_back(&t.names[i]);
    if (!missing.empty()) {
        const std::string msg = t.call_name + " missing " + std::to_string(missing.size()) + " required positional " +
                                (missing.size() == 1 ? "argument" : "arguments") + ": " + quoted_list(missing);
        raise_type_error(msg);
    }
    for (std::size_t i = 0; i < n; ++i)
        if (!slots[i]) slots[i] = t.defaults[i];
}

}  // namespace

PyObject* call_entry(const ParamTable& table, Body body, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) {
    try {
        // Common case: every parameter given positionally, nothing to copy.
        if (!kwnames && static_cast<std::size_t>(nargs) == table.positional && table.positional == table.names.size()) {
            return body(Args(table, args, self));
        }
        PyObject* slots[kMaxParams];
        if (table.names.size() > kMaxParams) throw std::logic_error("parameter table larger than the frame allows");
        match(table, args, nargs, kwnames, slots);
        return body(Args(table, slots, self));
    } catch (const PyError&) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "an exception was expected but none was set");
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        raise_internal_failure(e.what());
    } catch (...) {
        raise_internal_failure("unknown internal failure");
    }
    return nullptr;
}

}  // namespace quarnel::py
