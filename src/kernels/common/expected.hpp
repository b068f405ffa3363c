// A kernel's answer: a value, or the message of a caller's mistake.
// Kernels never throw for bad input; the binding raises the message as ValueError.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace quarnel {

struct KernelError {
    std::string message;
};

template <class T>
class Expected {
public:
    Expected(T value) : v_(std::move(value)) {}                 // NOLINT: implicit on purpose
    Expected(KernelError err) : v_(std::move(err)) {}           // NOLINT
    bool ok() const { return v_.index() == 0; }
    T& value() { return std::get<0>(v_); }
    const T& value() const { return std::get<0>(v_); }
    const std::string& error() const { return std::get<1>(v_).message; }

private:
    std::variant<T, KernelError> v_;
};

inline KernelError kernel_error(std::string message) { return KernelError{std::move(message)}; }

}  // namespace quarnel
