#include "kernels/rolling/pair_sums.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "kernels/common/total_order.hpp"

namespace quarnel::rolling {

Expected<std::size_t> pair_window_count(std::size_t nx, std::size_t ny, std::size_t w,
                                        std::string_view mismatch) {
    if (nx != ny) return kernel_error(std::string(mismatch));
    return checked_windows(nx, w);
}

namespace {

bool finite(double v) { return is_finite_bits(v); }

double clamp_unit(double r) { return r > 1.0 ? 1.0 : (r < -1.0 ? -1.0 : r); }

// One running sum per statistic's needs. `finite_terms` tests every term the type adds,
// so a window whose terms all pass keeps finite sums. `step` is the differenced update of
// the propagating functions; `add`/`sub` serve the pair-skipping ones.
struct CovSums {
    double sx = 0, sy = 0, sxy = 0;
    // A finite product implies finite factors.
    static bool finite_terms(double dx, double dy) { return finite(dx * dy); }
    void add(double dx, double dy) { sx += dx; sy += dy; sxy += dx * dy; }
    void sub(double dx, double dy) { sx -= dx; sy -= dy; sxy -= dx * dy; }
    void step(double dxi, double dyi, double dxo, double dyo) {
        sx += (dxi - dxo);
        sy += (dyi - dyo);
        sxy += (dxi * dyi - dxo * dyo);
    }
};

struct CorrSums {
    double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
    // |dx dy| <= max(dx^2, dy^2), so the cross term is finite as well.
    static bool finite_terms(double dx, double dy) { return finite(dx * dx) & finite(dy * dy); }
    void add(double dx, double dy) { sx += dx; sy += dy; sxx += dx * dx; syy += dy * dy; sxy += dx * dy; }
    void sub(double dx, double dy) { sx -= dx; sy -= dy; sxx -= dx * dx; syy -= dy * dy; sxy -= dx * dy; }
    void step(double dxi, double dyi, double dxo, double dyo) {
        sx += (dxi - dxo);
        sy += (dyi - dyo);
        sxx += (dxi * dxi - dxo * dxo);
        syy += (dyi * dyi - dyo * dyo);
        sxy += (dxi * dyi - dxo * dyo);
    }
};

struct SlopeSums {
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    static bool finite_terms(double dx, double dy) { return finite(dx * dx) & finite(dx * dy); }
    void add(double dx, double dy) { sx += dx; sy += dy; sxx += dx * dx; sxy += dx * dy; }
    void sub(double dx, double dy) { sx -= dx; sy -= dy; sxx -= dx * dx; sxy -= dx * dy; }
};

struct Shifted {
    std::span<const double> x, y;
    double kx, ky;
    Shifted(std::span<const double> xs, std::span<const double> ys)
        : x(xs), y(ys), kx(first_finite(xs)), ky(first_finite(ys)) {}
    double dx(std::size_t i) const { return x[i] - kx; }
    double dy(std::size_t i) const { return y[i] - ky; }
};

// Propagating scheme: every pair enters the sums. Windows holding a pair with non-finite
// terms give NaN; the first window after the last such pair sums its elements afresh in
// index order (exactly as the first window), later ones update by differences.
// `emit(j, sums)` writes output j, `emit.nan(j)` marks it undefined.
template <class Sums, class Emit>
void run_propagating(const Shifted& d, std::size_t w, std::size_t windows, Emit emit) {
    if (windows == 0) return;
    // Windows starting before `clean_from` hold a pair with non-finite terms.
    std::size_t clean_from = 0;
    for (std::size_t i = 0; i + 1 < w; ++i)
        if (!Sums::finite_terms(d.dx(i), d.dy(i))) clean_from = i + 1;
    Sums s;
    bool live = false;
    for (std::size_t j = 0; j < windows; ++j) {
        const std::size_t in = j + w - 1;
        const double dxi = d.dx(in), dyi = d.dy(in);
        if (!Sums::finite_terms(dxi, dyi)) clean_from = in + 1;
        if (j < clean_from) {
            live = false;
            emit.nan(j);
            continue;
        }
        if (live) {
            s.step(dxi, dyi, d.dx(j - 1), d.dy(j - 1));
        } else {
            s = Sums{};
            for (std::size_t i = j; i <= in; ++i) s.add(d.dx(i), d.dy(i));
            live = true;
        }
        emit(j, s);
    }
}

// Pair-skipping scheme: pairs with a NaN deviation are left out of the sums and of the
// count c. A valid pair with non-finite terms (an infinity) makes the windows holding it
// NaN and is handled like a non-finite pair of the propagating scheme.
template <class Sums, class Emit>
void run_skipping(const Shifted& d, std::size_t w, std::size_t windows, Emit emit) {
    if (windows == 0) return;
    auto valid = [&](std::size_t i) { return !(d.dx(i) != d.dx(i)) && !(d.dy(i) != d.dy(i)); };
    auto poisoned = [&](std::size_t i) { return valid(i) && !Sums::finite_terms(d.dx(i), d.dy(i)); };
    std::size_t clean_from = 0;
    for (std::size_t i = 0; i + 1 < w; ++i)
        if (poisoned(i)) clean_from = i + 1;
    Sums s;
    std::size_t c = 0;
    bool live = false;
    for (std::size_t j = 0; j < windows; ++j) {
        const std::size_t in = j + w - 1;
        if (poisoned(in)) clean_from = in + 1;
        if (j < clean_from) {
            live = false;
            emit.nan(j);
            continue;
        }
        if (live) {
            const std::size_t out = j - 1;
            if (valid(out)) {
                --c;
                s.sub(d.dx(out), d.dy(out));
            }
            if (valid(in)) {
                ++c;
                s.add(d.dx(in), d.dy(in));
            }
        } else {
            s = Sums{};
            c = 0;
            for (std::size_t i = j; i <= in; ++i)
                if (valid(i)) {
                    ++c;
                    s.add(d.dx(i), d.dy(i));
                }
            live = true;
        }
        emit(j, s, c);
    }
}

// Writes one output array; NaN for windows the scheme leaves undefined.
template <class F>
struct Emit1 {
    std::span<double> out;
    F f;
    void nan(std::size_t j) { out[j] = kNaN; }
    template <class... A>
    void operator()(std::size_t j, const A&... a) { out[j] = f(a...); }
};
template <class F>
Emit1(std::span<double>, F) -> Emit1<F>;

bool positive_finite(double v) { return v > 0.0 && finite(v); }

}  // namespace

void rolling_cov(std::span<const double> x, std::span<const double> y, std::size_t w,
                 std::span<double> out) {
    if (w < 2) { std::fill(out.begin(), out.end(), kNaN); return; }
    const double wd = static_cast<double>(w);
    run_propagating<CovSums>(Shifted(x, y), w, out.size(), Emit1{out, [wd](const CovSums& s) {
        return (s.sxy - ((s.sx / wd) * wd) * (s.sy / wd)) / (wd - 1.0);
    }});
}

void rolling_corr(std::span<const double> x, std::span<const double> y, std::size_t w,
                  std::span<double> out) {
    if (w < 2) { std::fill(out.begin(), out.end(), kNaN); return; }
    const double wd = static_cast<double>(w);
    run_propagating<CorrSums>(Shifted(x, y), w, out.size(), Emit1{out, [wd](const CorrSums& s) {
        const double mx = s.sx / wd, my = s.sy / wd;
        double varx = (s.sxx - mx * (mx * wd)) / (wd - 1.0);
        double vary = (s.syy - my * (my * wd)) / (wd - 1.0);
        if (!(varx >= 0.0)) varx = 0.0;  // negative residue or NaN
        if (!(vary >= 0.0)) vary = 0.0;
        const double d = std::sqrt(vary) * std::sqrt(varx);
        if (d == 0.0 || d != d) return kNaN;
        return clamp_unit(((s.sxy - (mx * wd) * my) / (wd - 1.0)) / d);
    }});
}

void rolling_cov_valid(std::span<const double> x, std::span<const double> y, std::size_t w,
                       std::span<double> out) {
    if (w < 2) { std::fill(out.begin(), out.end(), kNaN); return; }
    const double wd = static_cast<double>(w);
    run_skipping<CovSums>(Shifted(x, y), w, out.size(), Emit1{out, [w, wd](const CovSums& s, std::size_t c) {
        return c == w ? (s.sxy - (s.sy * s.sx) / wd) / (wd - 1.0) : kNaN;
    }});
}

void rolling_corr_valid(std::span<const double> x, std::span<const double> y, std::size_t w,
                        std::span<double> out) {
    if (w < 2) { std::fill(out.begin(), out.end(), kNaN); return; }
    run_skipping<CorrSums>(Shifted(x, y), w, out.size(), Emit1{out, [w](const CorrSums& s, std::size_t c) {
        if (c != w) return kNaN;
        const double cd = static_cast<double>(c);
        const double varx = (s.sxx - s.sx * s.sx / cd) / (cd - 1.0);
        const double vary = (s.syy - s.sy * s.sy / cd) / (cd - 1.0);
        if (!positive_finite(varx) || !positive_finite(vary)) return kNaN;
        const double cov = (s.sxy - s.sx * s.sy / cd) / (cd - 1.0);
        return clamp_unit(cov / std::sqrt(varx * vary));
    }});
}

namespace {

// Slope over the valid pairs, NaN unless c >= 2 and var(x) is positive and finite.
double valid_slope(const SlopeSums& s, std::size_t c, bool y_first) {
    if (c < 2) return kNaN;
    const double cd = static_cast<double>(c);
    const double varx = (s.sxx - s.sx * s.sx / cd) / (cd - 1.0);
    if (!positive_finite(varx)) return kNaN;
    // Products commute bit for bit; the flag only mirrors how each formula is written.
    const double cross = y_first ? s.sy * s.sx : s.sx * s.sy;
    return ((s.sxy - cross / cd) / (cd - 1.0)) / varx;
}

}  // namespace

void rolling_beta_valid(std::span<const double> x, std::span<const double> y, std::size_t w,
                        std::span<double> out) {
    run_skipping<SlopeSums>(Shifted(x, y), w, out.size(), Emit1{out, [](const SlopeSums& s, std::size_t c) {
        return valid_slope(s, c, true);
    }});
}

void rolling_linreg_valid(std::span<const double> x, std::span<const double> y, std::size_t w,
                          std::span<double> slopes, std::span<double> intercepts) {
    const Shifted d(x, y);
    struct Emit2 {
        std::span<double> slopes, intercepts;
        double kx, ky;
        void nan(std::size_t j) { slopes[j] = intercepts[j] = kNaN; }
        void operator()(std::size_t j, const SlopeSums& s, std::size_t c) {
            const double slope = valid_slope(s, c, false);
            slopes[j] = slope;
            if (slope != slope) { intercepts[j] = kNaN; return; }
            const double cd = static_cast<double>(c);
            intercepts[j] = ((s.sy / cd - (s.sx / cd) * slope) + ky) - slope * kx;
        }
    };
    run_skipping<SlopeSums>(d, w, slopes.size(), Emit2{slopes, intercepts, d.kx, d.ky});
}

}  // namespace quarnel::rolling
