#include "kernels/rolling/minmax_deque.hpp"

#include <bit>
#include <memory>

#include "kernels/rolling/trailing_windows.hpp"

namespace quarnel::rolling {

namespace {

// Indices with their values, in increasing index order; for the minimum the values
// increase from front to back, for the maximum they decrease. A ring of the next power
// of two >= w slots holds it, since at most w indices are live. NaN never enters: the
// caller reports the windows that hold one.
template <bool kMin>
class MonotonicDeque {
public:
    explicit MonotonicDeque(std::size_t w)
        : mask_(std::bit_ceil(w) - 1), val_(new double[mask_ + 1]), idx_(new std::size_t[mask_ + 1]) {}

    // Drops the front index once it has left the window that starts at `start`.
    void expire(std::size_t start) {
        if (head_ != tail_ && idx_[head_ & mask_] < start) ++head_;
    }
    void push(double v, std::size_t k) {
        // An equal value is removed too, so the newest of equal values is kept.
        while (head_ != tail_ && removed_by(val_[(tail_ - 1) & mask_], v)) --tail_;
        val_[tail_ & mask_] = v;
        idx_[tail_ & mask_] = k;
        ++tail_;
    }
    double front() const { return val_[head_ & mask_]; }

private:
    static bool removed_by(double back, double v) { return kMin ? back >= v : v >= back; }

    std::size_t mask_;
    std::unique_ptr<double[]> val_;
    std::unique_ptr<std::size_t[]> idx_;
    std::size_t head_ = 0, tail_ = 0;  // unwrapped positions; size is tail - head
};

// Feeds x through the deques and writes emit(deques...) for every full window, NaN for
// windows holding a NaN.
template <class Emit, class... Deques>
void run(std::span<const double> x, std::size_t w, std::span<double> out, Emit emit, Deques&... dq) {
    const std::size_t n = x.size();
    if (out.empty()) return;
    std::size_t nan_until = 0;  // windows ending before this index hold a NaN
    for (std::size_t k = 0; k + 1 < w; ++k) {
        const double v = x[k];
        if (v != v) nan_until = k + w;
        else (dq.push(v, k), ...);
    }
    for (std::size_t k = w - 1; k < n; ++k) {
        const double v = x[k];
        const std::size_t start = k + 1 - w;
        (dq.expire(start), ...);
        if (v != v) nan_until = k + w;
        else (dq.push(v, k), ...);
        out[start] = k < nan_until ? kNaN : emit(dq...);
    }
}

}  // namespace

void rolling_min(std::span<const double> x, std::size_t w, std::span<double> out) {
    MonotonicDeque<true> lo(w);
    run(x, w, out, [](const auto& d) { return d.front(); }, lo);
}

void rolling_max(std::span<const double> x, std::size_t w, std::span<double> out) {
    MonotonicDeque<false> hi(w);
    run(x, w, out, [](const auto& d) { return d.front(); }, hi);
}

void rolling_range(std::span<const double> x, std::size_t w, std::span<double> out) {
    MonotonicDeque<false> hi(w);
    MonotonicDeque<true> lo(w);
    run(x, w, out, [](const auto& h, const auto& l) { return h.front() - l.front(); }, hi, lo);
}

}  // namespace quarnel::rolling
