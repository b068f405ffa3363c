// Compensated (Kahan) accumulation: each step carries the rounding error of the previous
// one forward, so long running sums keep nearly full precision.
#pragma once

namespace quarnel::rolling {

// One compensated step adding y to the sum s with compensation c. The order of these four
// operations is the definition of the result; it must not be simplified (the compiler
// keeps it: no fast-math, no contraction). T is double, or a vector of doubles whose lanes
// are independent sums.
template <class T>
[[gnu::always_inline]] inline void kahan_add(T& s, T& c, T y) {
    const T t = y - c;
    const T u = s + t;
    c = (u - s) - t;
    s = u;
}

struct KahanSum {
    double s = 0.0;
    double c = 0.0;
    void add(double y) { kahan_add(s, c, y); }
};

}  // namespace quarnel::rolling
