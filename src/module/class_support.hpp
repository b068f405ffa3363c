// Machinery for the module's class: constructors and methods go through the same argument
// matching, messages and failure translation as module functions.
#pragma once

#include "module/function.hpp"

namespace quarnel::py {

// Adapts tp_new's (args tuple, kwargs dict) to the fast-call entry path; `self` is the type.
// Returns NULL with an exception set on failure; never throws.
PyObject* call_entry_tuple(const ParamTable& table, Body body, PyObject* self, PyObject* args, PyObject* kwargs);

}  // namespace quarnel::py
