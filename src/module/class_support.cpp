#include "module/class_support.hpp"

#include <new>
#include <vector>

namespace quarnel::py {

PyObject* call_entry_tuple(const ParamTable& table, Body body, PyObject* self, PyObject* args, PyObject* kwargs) {
    try {
        const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
        const Py_ssize_t nkw = kwargs ? PyDict_GET_SIZE(kwargs) : 0;
        std::vector<PyObject*> stack(static_cast<std::size_t>(nargs + nkw));
        for (Py_ssize_t i = 0; i < nargs; ++i) stack[static_cast<std::size_t>(i)] = PyTuple_GET_ITEM(args, i);
        Ref kwnames;
        if (nkw > 0) {
            kwnames = Ref::checked(PyTuple_New(nkw));
            Py_ssize_t pos = 0, k = 0;
            PyObject *key, *value;
            // Borrowed values: the caller's dict outlives the call.
            while (PyDict_Next(kwargs, &pos, &key, &value)) {
                PyTuple_SET_ITEM(kwnames.get(), k, Py_NewRef(key));
                stack[static_cast<std::size_t>(nargs + k)] = value;
                ++k;
            }
        }
        return call_entry(table, body, self, stack.data(), nargs, kwnames.get());
    } catch (const PyError&) {
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    }
    return nullptr;
}

}  // namespace quarnel::py
