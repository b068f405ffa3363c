#include "kernels/rolling/minmax_deque.hpp"

#include <algorithm>
#include <bit>
#include <memory>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "kernels/rolling/trailing_windows.hpp"

namespace quarnel::rolling {

namespace {

// Indices with their values, in increasing index order; for the minimum the values
// increase from front to back, for the maximum they decrease. At most w + 1 entries are
// live (a push comes before the expiry), held in a ring of a power of two > w slots.
template <bool kMin>
class MonotonicDeque {
public:
    explicit MonotonicDeque(std::size_t w) : mask_(std::bit_ceil(w + 1) - 1), ring_(new Entry[mask_ + 1]) {}

    // Entries equal to v are removed too, so the newest of equal values is kept.
    void push(double v, std::size_t k) {
        if (tail_ == head_ || removed_by(ring_[head_ & mask_].value, v)) {
            tail_ = head_;  // a new extreme empties the deque
        } else {
            // The front stays, so scans stop at it. Whether the back entry (the previous
            // push, kept in a register) goes is a coin toss on random data: decide it
            // without a branch, and branch only on the next entry, which is removed less
            // often. When the back stays, the test below repeats its test and fails.
            tail_ -= static_cast<std::size_t>(removed_by(last_, v));
            while (removed_by(ring_[(tail_ - 1) & mask_].value, v)) --tail_;
        }
        ring_[tail_ & mask_] = {v, k};
        ++tail_;
        last_ = v;
    }
    // After a push the deque is not empty; at most one index leaves per step.
    // A predicted branch, not a conditional add: the next step's reads of the front then
    // need not wait for this load. (The empty asm keeps the compiler from if-converting.)
    void expire(std::size_t start) {
        if (ring_[head_ & mask_].index < start) [[unlikely]] {
            ++head_;
            asm volatile("" : "+r"(head_));
        }
    }
    // Windows holding a NaN are reported by the caller; the values before it never
    // matter again.
    void clear() { head_ = tail_; }
    double front() const { return ring_[head_ & mask_].value; }

private:
    struct Entry {
        double value;
        std::size_t index;
    };
    static bool removed_by(double back, double v) { return kMin ? back >= v : v >= back; }

    std::size_t mask_;
    std::unique_ptr<Entry[]> ring_;
    std::size_t head_ = 0, tail_ = 0;  // unwrapped positions; size is tail - head
    double last_ = 0.0;                 // value of the back entry while the deque is not empty
};

// Feeds x through the deques and writes emit(deques...) for every full window, NaN for
// windows holding a NaN. Pushing before expiring keeps the deques non-empty when read;
// it leaves them as the expire-then-push order would.
template <class Emit, class... Deques>
void run(std::span<const double> x, std::size_t w, std::span<double> out, Emit emit, Deques&... dq) {
    const std::size_t n = x.size();
    if (out.empty()) return;
    std::size_t nan_until = 0;  // windows ending before this index hold a NaN
    for (std::size_t k = 0; k + 1 < w; ++k) {
        const double v = x[k];
        if (v != v) {
            nan_until = k + w;
            (dq.clear(), ...);
        } else {
            (dq.push(v, k), ...);
        }
    }
    for (std::size_t k = w - 1; k < n; ++k) {
        const double v = x[k];
        const std::size_t start = k + 1 - w;
        if (v != v) {
            nan_until = k + w;
            (dq.clear(), ...);
            out[start] = kNaN;
            continue;
        }
        (dq.push(v, k), ...);
        (dq.expire(start), ...);
        out[start] = k < nan_until ? kNaN : emit(dq...);
    }
}

// The newest value wins ties (the deque keeps the newest of equal values, which matters
// for -0.0 and 0.0): acc < v ? acc : v, which is exactly what the SSE2 min/max
// instructions compute lane by lane.
template <bool kMin>
double keep(double acc, double v) {
    if constexpr (kMin) return acc < v ? acc : v;
    else return acc > v ? acc : v;
}

#if defined(__SSE2__)
template <bool kMin>
__m128d keep(__m128d acc, __m128d v) {
    if constexpr (kMin) return _mm_min_pd(acc, v);
    else return _mm_max_pd(acc, v);
}
#endif

// Short windows: every window folded directly, eight windows at a time in registers.
// O(w) per element, which beats the deque's unpredictable branches while w is small.
template <bool kMin>
void fold_short(std::span<const double> x, std::size_t w, std::span<double> out) {
    const std::size_t m = out.size();
    const double* xs = x.data();
    std::size_t j = 0;
#if defined(__SSE2__)
    for (; j + 8 <= m; j += 8) {
        const double* p = xs + j;
        __m128d a0 = _mm_loadu_pd(p), a1 = _mm_loadu_pd(p + 2), a2 = _mm_loadu_pd(p + 4), a3 = _mm_loadu_pd(p + 6);
        for (std::size_t t = 1; t < w; ++t) {
            const double* q = p + t;
            a0 = keep<kMin>(a0, _mm_loadu_pd(q));
            a1 = keep<kMin>(a1, _mm_loadu_pd(q + 2));
            a2 = keep<kMin>(a2, _mm_loadu_pd(q + 4));
            a3 = keep<kMin>(a3, _mm_loadu_pd(q + 6));
        }
        double* o = out.data() + j;
        _mm_storeu_pd(o, a0);
        _mm_storeu_pd(o + 2, a1);
        _mm_storeu_pd(o + 4, a2);
        _mm_storeu_pd(o + 6, a3);
    }
#endif
    for (; j < m; ++j) {
        double acc = xs[j];
        for (std::size_t t = 1; t < w; ++t) acc = keep<kMin>(acc, xs[j + t]);
        out[j] = acc;
    }
    std::size_t nan_until = 0;  // windows ending before this index hold a NaN
    for (std::size_t k = 0; k < x.size(); ++k) {
        if (x[k] != x[k]) nan_until = k + w;
        if (k + 1 >= w && k < nan_until) out[k + 1 - w] = kNaN;
    }
}

constexpr std::size_t kShortWindow = 96;

}  // namespace

void rolling_min(std::span<const double> x, std::size_t w, std::span<double> out) {
    if (out.empty()) return;  // w may exceed n by any amount: allocate nothing then
    if (w <= kShortWindow) return fold_short<true>(x, w, out);
    MonotonicDeque<true> lo(w);
    run(x, w, out, [](const auto& d) { return d.front(); }, lo);
}

void rolling_max(std::span<const double> x, std::size_t w, std::span<double> out) {
    if (out.empty()) return;
    if (w <= kShortWindow) return fold_short<false>(x, w, out);
    MonotonicDeque<false> hi(w);
    run(x, w, out, [](const auto& d) { return d.front(); }, hi);
}

void rolling_range(std::span<const double> x, std::size_t w, std::span<double> out) {
    if (out.empty()) return;
    if (w <= kShortWindow) {
        std::vector<double> lo(out.size());
        fold_short<true>(x, w, lo);
        fold_short<false>(x, w, out);
        for (std::size_t j = 0; j < out.size(); ++j) out[j] -= lo[j];
        return;
    }
    MonotonicDeque<false> hi(w);
    MonotonicDeque<true> lo(w);
    run(x, w, out, [](const auto& h, const auto& l) { return h.front() - l.front(); }, hi, lo);
}

}  // namespace quarnel::rolling
