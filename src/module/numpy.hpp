// Every translation unit that touches arrays includes this one header, so the NumPy
// C interface table is shared (PY_ARRAY_UNIQUE_SYMBOL) and imported once, by init.cpp.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#ifndef NPY_NO_DEPRECATED_API
#define NPY_NO_DEPRECATED_API NPY_1_23_API_VERSION
#endif
#ifndef NPY_TARGET_VERSION
#define NPY_TARGET_VERSION NPY_1_23_API_VERSION
#endif
#ifndef PY_ARRAY_UNIQUE_SYMBOL
#define PY_ARRAY_UNIQUE_SYMBOL quarnel_ARRAY_API
#endif
#ifndef QUARNEL_IMPORTS_NUMPY
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>
