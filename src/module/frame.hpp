// The door to Python, as the family bindings see it: argument adapters (Args), result
// builders, and the error vocabulary. Bindings include this header and nothing else of
// the interpreter; kernels never include it.
//
// A body converts its arguments in parameter order (args.vec(0), args.f64(1), ...),
// runs its own checks, then takes slices (VecView::slice performs the contiguity check),
// calls kernels and builds its result. Anything that fails raises through PyError.
#pragma once

#include "module/numpy.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kernels/common/expected.hpp"

namespace quarnel::py {

// Thrown once a Python exception is set; the entry path then returns NULL.
struct PyError {};

[[noreturn]] void raise(PyObject* type, const std::string& message);
[[noreturn]] void raise_value_error(const std::string& message);
[[noreturn]] void raise_type_error(const std::string& message);
[[noreturn]] void raise_memory_error();
// Throws PyError if the interpreter has an exception pending (after a C-API call).
void check_error();

// Kernel result to value; a kernel error becomes ValueError with its message.
template <class T>
T unwrap(Expected<T>&& result) {
    if (!result.ok()) raise_value_error(result.error());
    return std::move(result.value());
}

// Owning reference to an interpreter object.
class Ref {
public:
    Ref() = default;
    explicit Ref(PyObject* owned) : p_(owned) {}
    static Ref borrow(PyObject* p) { Py_XINCREF(p); return Ref(p); }
    // Takes a new reference from a C-API call; throws PyError if it is NULL.
    static Ref checked(PyObject* owned) { if (!owned) throw PyError{}; return Ref(owned); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Ref& operator=(Ref&& o) noexcept { if (this != &o) { Py_XDECREF(p_); p_ = std::exchange(o.p_, nullptr); } return *this; }
    ~Ref() { Py_XDECREF(p_); }
    PyObject* get() const { return p_; }
    PyObject* release() { return std::exchange(p_, nullptr); }
    explicit operator bool() const { return p_ != nullptr; }

private:
    PyObject* p_ = nullptr;
};

// ---- array views (read-only; the argument keeps the array alive for the call) ----
//
// A view keeps only the array. Shape, strides and data are read when the body asks for
// them, so that a later argument's conversion (which may run Python code, e.g. __index__)
// cannot leave the body holding a stale pointer or length: take them after converting.

struct VecView {
    PyArrayObject* array = nullptr;
    std::size_t size() const { return static_cast<std::size_t>(PyArray_DIM(array, 0)); }
    // The data as a slice; TypeError "The given array is not contiguous" otherwise.
    std::span<const double> slice() const;
};

struct MatView {
    PyArrayObject* array = nullptr;
    std::size_t rows() const { return static_cast<std::size_t>(PyArray_DIM(array, 0)); }
    std::size_t cols() const { return static_cast<std::size_t>(PyArray_DIM(array, 1)); }
    const char* data() const { return static_cast<const char*>(PyArray_DATA(array)); }
    std::ptrdiff_t row_stride() const { return PyArray_STRIDE(array, 0); }  // bytes, may be negative
    std::ptrdiff_t col_stride() const { return PyArray_STRIDE(array, 1); }
    bool c_contiguous() const;
};

struct NdView {
    PyArrayObject* array = nullptr;
    std::vector<std::size_t> shape() const;
    std::vector<std::ptrdiff_t> strides() const;  // in bytes, may be negative
    const char* data() const { return static_cast<const char*>(PyArray_DATA(array)); }
};

// extract_mat_f64: an owned row-major copy of a 2-D float64 or float32 array.
struct Matrix {
    std::size_t rows = 0, cols = 0;
    std::unique_ptr<double[]> buffer;  // not zero-filled: every element is copied in
    std::span<double> data;            // rows * cols doubles, row-major
};
// Called by bodies (no "argument" prefix): TypeError
// "expected a 2D NumPy array of dtype float32 or float64" for anything else.
Matrix extract_mat_f64(PyObject* obj);

// ---- arguments of one call, matched to the parameter table ----

struct ParamTable;

class Args {
public:
    Args(const ParamTable& table, PyObject* const* slots, PyObject* self)
        : table_(table), slots_(slots), self_(self) {}

    PyObject* raw(std::size_t i) const { return slots_[i]; }
    bool is_none(std::size_t i) const { return slots_[i] == Py_None; }
    PyObject* self() const { return self_; }
    const char* name(std::size_t i) const;

    VecView vec(std::size_t i) const;
    MatView mat(std::size_t i) const;
    NdView nd(std::size_t i) const;
    std::vector<VecView> vec_seq(std::size_t i) const;
    // A non-str sequence of unsigned ints (items converted like u64).
    std::vector<std::uint64_t> u64_seq(std::size_t i) const;

    double f64(std::size_t i) const;
    std::uint64_t u64(std::size_t i) const;
    std::int64_t i64(std::size_t i) const;
    bool flag(std::size_t i) const;
    std::string_view str(std::size_t i) const;
    std::optional<std::vector<std::string>> str_list(std::size_t i) const;

    // None means absent.
    std::optional<double> opt_f64(std::size_t i) const { return is_none(i) ? std::nullopt : std::optional(f64(i)); }
    std::optional<std::uint64_t> opt_u64(std::size_t i) const { return is_none(i) ? std::nullopt : std::optional(u64(i)); }
    std::optional<std::int64_t> opt_i64(std::size_t i) const { return is_none(i) ? std::nullopt : std::optional(i64(i)); }
    std::optional<bool> opt_flag(std::size_t i) const { return is_none(i) ? std::nullopt : std::optional(flag(i)); }

private:
    [[noreturn]] void conversion_failed(std::size_t i) const;
    // Runs one conversion; a failure gets the parameter's name (conversion_failed).
    template <class F>
    auto converted(std::size_t i, F&& convert) const -> decltype(convert()) {
        try {
            return convert();
        } catch (const PyError&) {
            conversion_failed(i);
        }
    }
    const ParamTable& table_;
    PyObject* const* slots_;
    PyObject* self_;
    mutable std::vector<Ref> keep_alive_;  // objects made during conversion, held for the call
};

// ---- results ----

inline PyObject* to_float(double v) { PyObject* r = PyFloat_FromDouble(v); if (!r) throw PyError{}; return r; }
inline PyObject* to_count(std::uint64_t v) { PyObject* r = PyLong_FromUnsignedLongLong(v); if (!r) throw PyError{}; return r; }
inline PyObject* to_int(std::int64_t v) { PyObject* r = PyLong_FromLongLong(v); if (!r) throw PyError{}; return r; }
inline PyObject* to_bool(bool v) { return Py_NewRef(v ? Py_True : Py_False); }
inline PyObject* none() { return Py_NewRef(Py_None); }

// A new writeable C-contiguous array that NumPy allocates; the kernel fills `data`.
// Sizes that cannot be allocated raise MemoryError.
template <class T>
struct NewArray {
    Ref obj;
    std::span<T> data;
};
NewArray<double> new_f64(std::size_t n);
NewArray<double> new_f64_2d(std::size_t rows, std::size_t cols);
NewArray<std::int64_t> new_i64(std::size_t n);
NewArray<std::int8_t> new_i8(std::size_t n);
NewArray<bool> new_bool(std::size_t n);

// Hands a kernel's vector to a 1-D (or 2-D) float64 array without copying.
Ref array_from(std::vector<double>&& v);
Ref array_from(std::vector<double>&& v, std::size_t rows, std::size_t cols);
Ref array_copy(std::span<const double> v);

// One item of a result tuple. It owns its object from the moment the argument is built,
// so when building a later item fails (to_float throws), the earlier ones are released.
class TupleItem {
public:
    TupleItem(PyObject* owned) : ref_(owned) {}  // NOLINT: implicit on purpose
    TupleItem(Ref&& r) : ref_(std::move(r)) {}   // NOLINT
    PyObject* release() { return ref_.release(); }

private:
    Ref ref_;
};
PyObject* make_tuple(TupleItem a, TupleItem b);
PyObject* make_tuple(TupleItem a, TupleItem b, TupleItem c);

// Dict whose key order is part of the interface.
class Dict {
public:
    Dict();
    Dict& set(const char* key, PyObject* value_owned);  // consumes value
    Dict& set(const char* key, double v) { return set(key, to_float(v)); }
    PyObject* release() { return d_.release(); }

private:
    Ref d_;
};

}  // namespace quarnel::py
