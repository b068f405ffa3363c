// Compensated (Kahan) accumulation: each step carries the rounding error of the previous
// one forward, so long running sums keep nearly full precision.
#pragma once

namespace quarnel::rolling {

struct KahanSum {
    double s = 0.0;
    double c = 0.0;
    // The order of these four operations is the definition of the result; it must not be
    // simplified (the compiler keeps it: no fast-math, no contraction).
    void add(double y) {
        const double t = y - c;
        const double u = s + t;
        c = (u - s) - t;
        s = u;
    }
};

}  // namespace quarnel::rolling
