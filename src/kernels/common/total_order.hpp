// The IEEE 754 total order used by every sort and selection:
// -NaN < -inf < negative finite < -0.0 < +0.0 < positive finite < +inf < +NaN.
#pragma once

#include <bit>
#include <cstdint>
#include <span>

namespace quarnel {

// Maps a double's bit pattern to a signed integer whose order is the total order.
inline std::int64_t total_order_key(double x) {
    const auto b = std::bit_cast<std::int64_t>(x);
    return b ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(b >> 63) >> 1);
}

// Finite-only skipping rule: magnitude bits below those of +inf.
inline bool is_finite_bits(double x) {
    return (std::bit_cast<std::uint64_t>(x) & 0x7fffffffffffffffULL) < 0x7ff0000000000000ULL;
}

// The shift rule of shifted sums: the first finite element, or 0.0 when there is none.
// Subtracting it keeps the shifted sums small, which is what their accuracy rests on.
inline double first_finite(std::span<const double> a) {
    for (double v : a)
        if (is_finite_bits(v)) return v;
    return 0.0;
}

}  // namespace quarnel
