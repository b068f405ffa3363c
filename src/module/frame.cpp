// Argument adapters, result builders and the error vocabulary.
#include "module/frame.hpp"

#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

#include "module/errors.hpp"
#include "module/function.hpp"

namespace quarnel::py {

// ---------------------------------------------------------------- errors

void raise(PyObject* type, const std::string& message) {
    // Sized, so a message that quotes a caller's string keeps an embedded NUL and all after it.
    Ref text(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (text) PyErr_SetObject(type, text.get());
    throw PyError{};
}
void raise_value_error(const std::string& message) { raise(PyExc_ValueError, message); }
void raise_type_error(const std::string& message) { raise(PyExc_TypeError, message); }
void raise_memory_error() {
    PyErr_NoMemory();
    throw PyError{};
}
void check_error() {
    if (PyErr_Occurred()) throw PyError{};
}

void raise_internal_failure(const char* what) {
    static PyObject* type = nullptr;
    if (!type) {
        type = PyErr_NewException("quarnel_ext.InternalFailure", PyExc_BaseException, nullptr);
        if (!type) return;
    }
    PyErr_SetString(type, what);
}

namespace {

const char* type_qualname_utf8(PyObject* obj, Ref& holder) {
    holder = Ref(PyType_GetQualName(Py_TYPE(obj)));
    if (!holder) { PyErr_Clear(); return Py_TYPE(obj)->tp_name; }
    const char* s = PyUnicode_AsUTF8(holder.get());
    if (!s) { PyErr_Clear(); return Py_TYPE(obj)->tp_name; }
    return s;
}

[[noreturn]] void cannot_convert(PyObject* obj, const char* label) {
    Ref holder;
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to '%s'", type_qualname_utf8(obj, holder), label);
    throw PyError{};
}

constexpr const char* kVecLabel = "float64 1-D array";
constexpr const char* kMatLabel = "float64 2-D array";
constexpr const char* kNdLabel = "float64 array";
constexpr const char* kStrRefused = "a str cannot be taken as a list";

bool is_f64(PyArrayObject* a) {
    PyArray_Descr* d = PyArray_DESCR(a);
    if (d->type_num == NPY_DOUBLE && PyArray_ISNBO(d->byteorder)) return true;
    PyArray_Descr* f64 = PyArray_DescrFromType(NPY_DOUBLE);
    const bool eq = PyArray_EquivTypes(d, f64);
    Py_DECREF(f64);
    return eq;
}

PyArrayObject* as_f64_array(PyObject* obj, int ndim, const char* label) {
    if (!PyArray_Check(obj)) cannot_convert(obj, label);
    auto* a = reinterpret_cast<PyArrayObject*>(obj);
    if ((ndim >= 0 && PyArray_NDIM(a) != ndim) || !is_f64(a)) cannot_convert(obj, label);
    return a;
}

VecView to_vec(PyObject* obj) {
    PyArrayObject* a = as_f64_array(obj, 1, kVecLabel);
    return VecView{a};
}

bool is_numpy_bool_scalar(PyObject* obj) {
    PyTypeObject* t = Py_TYPE(obj);
    const char* dot = std::strrchr(t->tp_name, '.');
    const char* short_name = dot ? dot + 1 : t->tp_name;
    if (std::strcmp(short_name, "bool_") != 0 && std::strcmp(short_name, "bool") != 0) return false;
    Ref module(PyObject_GetAttrString(reinterpret_cast<PyObject*>(t), "__module__"));
    if (!module) { PyErr_Clear(); return false; }
    return PyUnicode_Check(module.get()) && PyUnicode_CompareWithASCIIString(module.get(), "numpy") == 0;
}

}  // namespace

// ---------------------------------------------------------------- views

std::span<const double> VecView::slice() const {
    if (!(PyArray_FLAGS(array) & (NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_F_CONTIGUOUS)))
        raise_type_error("The given array is not contiguous");
    return {static_cast<const double*>(PyArray_DATA(array)), size()};
}

std::vector<std::size_t> NdView::shape() const {
    std::vector<std::size_t> out;
    for (int d = 0; d < PyArray_NDIM(array); ++d) out.push_back(static_cast<std::size_t>(PyArray_DIM(array, d)));
    return out;
}

std::vector<std::ptrdiff_t> NdView::strides() const {
    std::vector<std::ptrdiff_t> out;
    for (int d = 0; d < PyArray_NDIM(array); ++d) out.push_back(PyArray_STRIDE(array, d));
    return out;
}

bool MatView::c_contiguous() const { return (PyArray_FLAGS(array) & NPY_ARRAY_C_CONTIGUOUS) != 0; }

Matrix extract_mat_f64(PyObject* obj) {
    constexpr const char* kMsg = "expected a 2D NumPy array of dtype float32 or float64";
    if (!PyArray_Check(obj)) raise_type_error(kMsg);
    auto* a = reinterpret_cast<PyArrayObject*>(obj);
    if (PyArray_NDIM(a) != 2) raise_type_error(kMsg);
    PyArray_Descr* d = PyArray_DESCR(a);
    PyArray_Descr* want = PyArray_DescrFromType(NPY_DOUBLE);
    const bool f64 = PyArray_EquivTypes(d, want);
    Py_DECREF(want);
    bool f32 = false;
    if (!f64) {
        want = PyArray_DescrFromType(NPY_FLOAT);
        f32 = PyArray_EquivTypes(d, want);
        Py_DECREF(want);
    }
    if (!f64 && !f32) raise_type_error(kMsg);
    Matrix m;
    m.rows = static_cast<std::size_t>(PyArray_DIM(a, 0));
    m.cols = static_cast<std::size_t>(PyArray_DIM(a, 1));
    const std::size_t count = m.rows * m.cols;  // the array exists, so the product fits
    m.buffer.reset(new double[count]);
    m.data = std::span<double>(m.buffer.get(), count);
    // Nothing to copy; a zero-size array may still have 2**59 rows to walk.
    if (count == 0) return m;
    const char* base = static_cast<const char*>(PyArray_DATA(a));
    const npy_intp rs = PyArray_STRIDE(a, 0), cs = PyArray_STRIDE(a, 1);
    if (f64 && PyArray_IS_C_CONTIGUOUS(a)) {
        std::memcpy(m.data.data(), base, count * sizeof(double));
        return m;
    }
    double* out = m.data.data();
    for (std::size_t i = 0; i < m.rows; ++i) {
        const char* row = base + static_cast<npy_intp>(i) * rs;
        for (std::size_t j = 0; j < m.cols; ++j) {
            const char* p = row + static_cast<npy_intp>(j) * cs;
            if (f64) {
                double v;
                std::memcpy(&v, p, sizeof v);
                *out++ = v;
            } else {
                float v;
                std::memcpy(&v, p, sizeof v);
                *out++ = static_cast<double>(v);
            }
        }
    }
    return m;
}

// ---------------------------------------------------------------- arguments

const char* Args::name(std::size_t i) const { return table_.names[i].c_str(); }

// TypeError exactly (not a subclass) gets the "argument '{}': " prefix, keeping its cause.
void Args::conversion_failed(std::size_t i) const {
    if (PyErr_Occurred() && PyErr_GivenExceptionMatches(PyErr_Occurred(), PyExc_TypeError)) {
        PyObject *type, *value, *tb;
        PyErr_Fetch(&type, &value, &tb);
        if (type == PyExc_TypeError) {
            PyErr_NormalizeException(&type, &value, &tb);
            Ref cause(value ? PyException_GetCause(value) : nullptr);
            Ref text(value ? PyObject_Str(value) : PyUnicode_FromString(""));
            Py_XDECREF(type);
            Py_XDECREF(value);
            Py_XDECREF(tb);
            if (!text) throw PyError{};
            Ref msg(PyUnicode_FromFormat("argument '%s': %U", name(i), text.get()));
            if (!msg) throw PyError{};
            Ref exc(PyObject_CallOneArg(PyExc_TypeError, msg.get()));
            if (!exc) throw PyError{};
            if (cause) PyException_SetCause(exc.get(), cause.release());
            PyErr_SetObject(PyExc_TypeError, exc.get());
        } else {
            PyErr_Restore(type, value, tb);
        }
    }
    throw PyError{};
}

namespace {

// Scalar conversions; each throws PyError with the interpreter's own message.
double as_f64(PyObject* obj) {
    if (PyFloat_CheckExact(obj)) return PyFloat_AS_DOUBLE(obj);
    const double v = PyFloat_AsDouble(obj);
    if (v == -1.0 && PyErr_Occurred()) throw PyError{};
    return v;
}

// TypeError for a non-integer, OverflowError when negative or too large.
std::uint64_t as_u64(PyObject* obj) {
    Ref idx(PyLong_CheckExact(obj) ? Py_NewRef(obj) : PyNumber_Index(obj));
    if (!idx) throw PyError{};
    const unsigned long long v = PyLong_AsUnsignedLongLong(idx.get());
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw PyError{};
    return v;
}

std::int64_t as_i64(PyObject* obj) {
    Ref idx(PyLong_CheckExact(obj) ? Py_NewRef(obj) : PyNumber_Index(obj));
    if (!idx) throw PyError{};
    const long long v = PyLong_AsLongLong(idx.get());
    if (v == -1 && PyErr_Occurred()) throw PyError{};
    return v;
}

bool as_flag(PyObject* obj) {
    if (obj == Py_True) return true;
    if (obj == Py_False) return false;
    if (!is_numpy_bool_scalar(obj)) cannot_convert(obj, "bool");
    const int t = PyObject_IsTrue(obj);
    if (t < 0) {
        PyErr_Clear();
        Ref holder;
        PyErr_Format(PyExc_TypeError, "object of type '%s' does not define a '__bool__' conversion",
                     type_qualname_utf8(obj, holder));
        throw PyError{};
    }
    return t != 0;
}

// UTF-8 text of a str; valid while the object lives (the interpreter caches it).
std::string_view as_str(PyObject* obj) {
    if (!PyUnicode_Check(obj)) cannot_convert(obj, "str");
    Py_ssize_t len = 0;
    const char* s = PyUnicode_AsUTF8AndSize(obj, &len);
    if (!s) throw PyError{};
    return {s, static_cast<std::size_t>(len)};
}

// The walk shared by the sequence adapters: a str and a non-sequence are refused, then
// each item is handed to `take` (as an owned reference) in iteration order.
template <class Take>
void for_each_item(PyObject* obj, Take&& take) {
    if (PyUnicode_Check(obj)) raise_type_error(kStrRefused);
    if (!PySequence_Check(obj)) cannot_convert(obj, "Sequence");
    Ref it(PyObject_GetIter(obj));
    if (!it) throw PyError{};
    while (PyObject* item = PyIter_Next(it.get())) take(Ref(item));
    check_error();
}

}  // namespace

VecView Args::vec(std::size_t i) const {
    return converted(i, [&] { return to_vec(slots_[i]); });
}

MatView Args::mat(std::size_t i) const {
    return converted(i, [&] { return MatView{as_f64_array(slots_[i], 2, kMatLabel)}; });
}

NdView Args::nd(std::size_t i) const {
    return converted(i, [&] { return NdView{as_f64_array(slots_[i], -1, kNdLabel)}; });
}

std::vector<VecView> Args::vec_seq(std::size_t i) const {
    return converted(i, [&] {
        std::vector<VecView> out;
        if (!PyUnicode_Check(slots_[i]) && PySequence_Check(slots_[i])) {
            const Py_ssize_t len = PySequence_Size(slots_[i]);
            if (len < 0) PyErr_Clear();
            else out.reserve(static_cast<std::size_t>(len));
        }
        for_each_item(slots_[i], [&](Ref item) {
            out.push_back(to_vec(item.get()));
            // Items may be made by the iteration (rows of a 2-D array): keep them for the call.
            keep_alive_.push_back(std::move(item));
        });
        return out;
    });
}

double Args::f64(std::size_t i) const {
    if (PyFloat_CheckExact(slots_[i])) return PyFloat_AS_DOUBLE(slots_[i]);  // the common case, no try
    return converted(i, [&] { return as_f64(slots_[i]); });
}

std::uint64_t Args::u64(std::size_t i) const {
    return converted(i, [&] { return as_u64(slots_[i]); });
}

std::vector<std::uint64_t> Args::u64_seq(std::size_t i) const {
    return converted(i, [&] {
        std::vector<std::uint64_t> out;
        for_each_item(slots_[i], [&](Ref item) { out.push_back(as_u64(item.get())); });
        return out;
    });
}

std::int64_t Args::i64(std::size_t i) const {
    return converted(i, [&] { return as_i64(slots_[i]); });
}

bool Args::flag(std::size_t i) const {
    return converted(i, [&] { return as_flag(slots_[i]); });
}

std::string_view Args::str(std::size_t i) const {
    return converted(i, [&] { return as_str(slots_[i]); });
}

std::optional<std::vector<std::string>> Args::str_list(std::size_t i) const {
    if (slots_[i] == Py_None) return std::nullopt;
    return converted(i, [&] {
        std::vector<std::string> out;
        for_each_item(slots_[i], [&](Ref item) { out.emplace_back(as_str(item.get())); });
        return std::optional(std::move(out));
    });
}

// ---------------------------------------------------------------- results

namespace {

template <class T>
NewArray<T> new_array(int type_num, int nd, npy_intp* dims, std::size_t count) {
    if (count > static_cast<std::size_t>(std::numeric_limits<npy_intp>::max()) / sizeof(T)) raise_memory_error();
    PyObject* obj = PyArray_SimpleNew(nd, dims, type_num);
    if (!obj) throw PyError{};
    return NewArray<T>{Ref(obj), std::span<T>(static_cast<T*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(obj))), count)};
}

npy_intp dim_of(std::size_t n) {
    if (n > static_cast<std::size_t>(std::numeric_limits<npy_intp>::max())) raise_memory_error();
    return static_cast<npy_intp>(n);
}

void free_vector_capsule(PyObject* capsule) {
    delete static_cast<std::vector<double>*>(PyCapsule_GetPointer(capsule, "quarnel.buffer"));
}

}  // namespace

NewArray<double> new_f64(std::size_t n) {
    npy_intp d[1] = {dim_of(n)};
    return new_array<double>(NPY_DOUBLE, 1, d, n);
}

NewArray<double> new_f64_2d(std::size_t rows, std::size_t cols) {
    npy_intp d[2] = {dim_of(rows), dim_of(cols)};
    if (cols != 0 && rows > std::numeric_limits<std::size_t>::max() / cols) raise_memory_error();
    return new_array<double>(NPY_DOUBLE, 2, d, rows * cols);
}

NewArray<std::int64_t> new_i64(std::size_t n) {
    npy_intp d[1] = {dim_of(n)};
    return new_array<std::int64_t>(NPY_INT64, 1, d, n);
}

NewArray<std::int8_t> new_i8(std::size_t n) {
    npy_intp d[1] = {dim_of(n)};
    return new_array<std::int8_t>(NPY_INT8, 1, d, n);
}

NewArray<bool> new_bool(std::size_t n) {
    static_assert(sizeof(bool) == 1);
    npy_intp d[1] = {dim_of(n)};
    return new_array<bool>(NPY_BOOL, 1, d, n);
}

Ref array_from(std::vector<double>&& v, std::size_t rows, std::size_t cols) {
    if (rows * cols != v.size()) throw std::logic_error("result shape does not match its buffer");
    auto* owned = new std::vector<double>(std::move(v));
    Ref capsule(PyCapsule_New(owned, "quarnel.buffer", free_vector_capsule));
    if (!capsule) { delete owned; throw PyError{}; }
    npy_intp dims[2] = {dim_of(rows), dim_of(cols)};
    PyObject* arr = PyArray_SimpleNewFromData(2, dims, NPY_DOUBLE, owned->data());
    if (!arr) throw PyError{};
    if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(arr), capsule.release()) < 0) {
        Py_DECREF(arr);
        throw PyError{};
    }
    return Ref(arr);
}

Ref array_from(std::vector<double>&& v) {
    auto* owned = new std::vector<double>(std::move(v));
    Ref capsule(PyCapsule_New(owned, "quarnel.buffer", free_vector_capsule));
    if (!capsule) { delete owned; throw PyError{}; }
    npy_intp dims[1] = {dim_of(owned->size())};
    PyObject* arr = PyArray_SimpleNewFromData(1, dims, NPY_DOUBLE, owned->data());
    if (!arr) throw PyError{};
    if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(arr), capsule.release()) < 0) {
        Py_DECREF(arr);
        throw PyError{};
    }
    return Ref(arr);
}

Ref array_copy(std::span<const double> v) {
    NewArray<double> out = new_f64(v.size());
    if (!v.empty()) std::memcpy(out.data.data(), v.data(), v.size() * sizeof(double));
    return std::move(out.obj);
}

namespace {
PyObject* tuple_of(std::initializer_list<TupleItem*> items) {
    Ref t = Ref::checked(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
    Py_ssize_t k = 0;
    for (TupleItem* item : items) PyTuple_SET_ITEM(t.get(), k++, item->release());
    return t.release();
}
}  // namespace

PyObject* make_tuple(TupleItem a, TupleItem b) { return tuple_of({&a, &b}); }
PyObject* make_tuple(TupleItem a, TupleItem b, TupleItem c) { return tuple_of({&a, &b, &c}); }

Dict::Dict() : d_(Ref::checked(PyDict_New())) {}

Dict& Dict::set(const char* key, PyObject* value_owned) {
    Ref v(value_owned);
    if (!v || PyDict_SetItemString(d_.get(), key, v.get()) < 0) throw PyError{};
    return *this;
}

}  // namespace quarnel::py
