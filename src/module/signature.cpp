// Text signature -> parameter table, parsed once at registration.
#include <cstdlib>
#include <string>
#include <vector>

#include "module/function.hpp"

namespace quarnel::py {
namespace {

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// Splits on commas outside string literals.
std::vector<std::string> split_params(const std::string& list) {
    std::vector<std::string> out;
    std::string cur;
    char quote = 0;
    for (char ch : list) {
        if (quote) {
            if (ch == quote) quote = 0;
        } else if (ch == '"' || ch == '\'') {
            quote = ch;
        } else if (ch == ',') {
            out.push_back(trim(cur));
            cur.clear();
            continue;
        }
        cur += ch;
    }
    if (!trim(cur).empty()) out.push_back(trim(cur));
    return out;
}

// A Python literal as written in a signature: None, True, False, "str", int or float.
PyObject* parse_literal(const std::string& text) {
    if (text == "None") return Py_NewRef(Py_None);
    if (text == "True") return Py_NewRef(Py_True);
    if (text == "False") return Py_NewRef(Py_False);
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\''))
        return PyUnicode_FromStringAndSize(text.data() + 1, static_cast<Py_ssize_t>(text.size() - 2));
    if (text.find_first_of(".eEni") != std::string::npos) {
        char* end = nullptr;
        const double v = std::strtod(text.c_str(), &end);
        if (end && *end == '\0') return PyFloat_FromDouble(v);
    } else {
        PyObject* v = PyLong_FromString(text.c_str(), nullptr, 10);
        if (v) return v;
        PyErr_Clear();
    }
    PyErr_Format(PyExc_SystemError, "quarnel_ext: unreadable default '%s'", text.c_str());
    return nullptr;
}

}  // namespace

bool parse_signature(const char* signature, ParamTable& out) {
    const std::string sig(signature);
    const auto open = sig.find('(');
    const auto close = sig.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) {
        PyErr_Format(PyExc_SystemError, "quarnel_ext: malformed signature '%s'", signature);
        return false;
    }
    out.function_name = sig.substr(0, open);
    out.call_name = out.function_name + "()";
    bool keyword_only = false;
    for (const std::string& p : split_params(sig.substr(open + 1, close - open - 1))) {
        if (p == "*") { keyword_only = true; continue; }
        const auto eq = p.find('=');
        const std::string name = trim(p.substr(0, eq));
        if (name == "$self") continue;  // a method's instance is not a matched parameter
        PyObject* def = nullptr;
        if (eq != std::string::npos && !(def = parse_literal(trim(p.substr(eq + 1))))) return false;
        PyObject* interned = PyUnicode_InternFromString(name.c_str());
        if (!interned) { Py_XDECREF(def); return false; }
        out.names.push_back(name);
        out.interned.push_back(interned);
        out.defaults.push_back(def);
        if (!keyword_only) {
            ++out.positional;
            if (!def && out.required + 1 == out.positional) ++out.required;
        }
    }
    return true;
}

}  // namespace quarnel::py
