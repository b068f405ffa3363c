// Module creation: once per process, refused in a second interpreter.
#define QUARNEL_IMPORTS_NUMPY
#include "module/numpy.hpp"

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>

#include "module/registry.hpp"

namespace quarnel::py {
namespace {

std::atomic<std::int64_t> first_interpreter{-1};
PyObject* module_object = nullptr;

PyModuleDef module_def = {PyModuleDef_HEAD_INIT, "quarnel_ext", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr};

// Method definitions must outlive the function objects, which live until the process ends.
std::deque<PyMethodDef>& method_defs() {
    static auto* defs = new std::deque<PyMethodDef>();
    return *defs;
}
std::deque<std::string>& doc_texts() {
    static auto* docs = new std::deque<std::string>();
    return *docs;
}

bool add_name(PyObject* module, PyObject* name, PyObject* obj) {
    PyObject* all = PyObject_GetAttrString(module, "__all__");
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
        PyErr_Clear();
        all = PyList_New(0);
        if (!all || PyObject_SetAttrString(module, "__all__", all) < 0) { Py_XDECREF(all); return false; }
    }
    const int appended = PyList_Append(all, name);
    Py_DECREF(all);
    if (appended < 0) return false;
    return PyObject_SetAttr(module, name, obj) == 0;
}

bool add_function(PyObject* module, PyObject* module_name, const FunctionDef& f) {
    if (f.table->function_name.empty() && !parse_signature(f.signature, *f.table))
        return false;
    std::string& doc = doc_texts().emplace_back(std::string(f.signature) + "\n--\n\n" + f.doc);
    PyMethodDef& md = method_defs().emplace_back();
    md.ml_name = f.table->function_name.c_str();
    md.ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f.entry));
    md.ml_flags = METH_FASTCALL | METH_KEYWORDS;
    md.ml_doc = doc.c_str();
    PyObject* func = PyCFunction_NewEx(&md, module, module_name);
    if (!func) return false;
    PyObject* name = PyObject_GetAttrString(func, "__name__");
    const bool ok = name && add_name(module, name, func);
    Py_XDECREF(name);
    Py_DECREF(func);
    return ok;
}

bool add_class(PyObject* module, const ClassDef& c) {
    PyObject* type = c.make_type();
    if (!type) return false;
    PyObject* name = PyUnicode_FromString(c.name);
    const bool ok = name && add_name(module, name, type);
    Py_XDECREF(name);
    Py_DECREF(type);
    return ok;
}

PyObject* create_module() {
    PyObject* module = PyModule_Create2(&module_def, 1013);
    if (!module) return nullptr;
    PyObject* module_name = PyModule_GetNameObject(module);
    bool ok = module_name != nullptr;
    for (const Registered& r : registration_order()) {
        if (!ok) break;
        ok = r.function ? add_function(module, module_name, *r.function) : add_class(module, *r.cls);
    }
    Py_XDECREF(module_name);
    if (!ok) { Py_DECREF(module); return nullptr; }
    return module;
}

}  // namespace
}  // namespace quarnel::py

extern "C" PyMODINIT_FUNC PyInit_quarnel_ext() {
    using namespace quarnel::py;
    const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "an exception was expected but none was set");
        return nullptr;
    }
    std::int64_t expected = -1;
    if (!first_interpreter.compare_exchange_strong(expected, id) && expected != id) {
        PyErr_SetString(PyExc_ImportError,
                        "quarnel_ext does not support sub-interpreters: it was already initialised in another "
                        "interpreter of this process");
        return nullptr;
    }
    if (module_object) return Py_NewRef(module_object);
    if (_import_array() < 0) return nullptr;  // NumPy's interface, once, before any conversion
    PyObject* module = create_module();
    if (!module) return nullptr;
    module_object = module;
    return Py_NewRef(module_object);
}
