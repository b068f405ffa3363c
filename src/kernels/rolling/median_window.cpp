#include "kernels/rolling/median_window.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

#include "kernels/common/total_order.hpp"
#include "kernels/rolling/trailing_windows.hpp"

namespace quarnel::rolling {

namespace {

// total_order_key is an involution on the bit pattern.
double key_value(std::int64_t key) { return std::bit_cast<double>(total_order_key(std::bit_cast<double>(key))); }

// Two heaps over the window's keys: `lo` a max-heap of the lower (w + 1) / 2 keys, `hi` a
// min-heap of the upper w / 2, every key of lo <= every key of hi. Each element lives in
// ring slot (index mod w) and knows its heap position, so the outgoing element is replaced
// in place by the incoming one: one sift, then at most one exchange of the two roots.
class DualHeap {
public:
    // Builds both heaps from the first window.
    explicit DualHeap(std::span<const double> first) : w_(first.size()), where_(w_) {
        std::vector<Node> nodes(w_);
        for (std::size_t s = 0; s < w_; ++s) nodes[s] = {total_order_key(first[s]), s};
        std::sort(nodes.begin(), nodes.end(), [](const Node& a, const Node& b) { return a.key < b.key; });
        const std::size_t nlo = (w_ + 1) / 2;
        // Descending keys form a max-heap, ascending keys a min-heap.
        lo_.assign(nodes.rend() - static_cast<std::ptrdiff_t>(nlo), nodes.rend());
        hi_.assign(nodes.begin() + static_cast<std::ptrdiff_t>(nlo), nodes.end());
        for (std::size_t p = 0; p < lo_.size(); ++p) where_[lo_[p].slot] = lo_ref(p);
        for (std::size_t p = 0; p < hi_.size(); ++p) where_[hi_[p].slot] = hi_ref(p);
    }

    // Puts `v` in place of the element held by `slot`.
    void replace(std::size_t slot, double v) {
        const std::int64_t key = total_order_key(v);
        const std::uint64_t at = where_[slot];
        if (at & kHiBit) {
            const std::size_t p = at & ~kHiBit;
            const std::int64_t old = hi_[p].key;
            hi_[p].key = key;
            if (key < old) sift_up<false>(hi_, p);
            else sift_down<false>(hi_, p);
            if (hi_[0].key < lo_[0].key) swap_roots(), sift_down<true>(lo_, 0);
        } else {
            const std::size_t p = at;
            const std::int64_t old = lo_[p].key;
            lo_[p].key = key;
            if (key > old) sift_up<true>(lo_, p);
            else sift_down<true>(lo_, p);
            if (!hi_.empty() && lo_[0].key > hi_[0].key) swap_roots(), sift_down<false>(hi_, 0);
        }
    }

    double median() const {
        const double lower = key_value(lo_[0].key);
        if (w_ % 2 == 1) return lower;
        const double upper = key_value(hi_[0].key);
        return (upper + lower) * 0.5;
    }

private:
    struct Node {
        std::int64_t key;
        std::uint64_t slot;
    };
    static constexpr std::uint64_t kHiBit = std::uint64_t{1} << 63;
    static std::uint64_t lo_ref(std::size_t p) { return static_cast<std::uint64_t>(p); }
    static std::uint64_t hi_ref(std::size_t p) { return static_cast<std::uint64_t>(p) | kHiBit; }

    // The larger root leaves lo for hi and the smaller one comes back: the key that came
    // down from hi is >= everything else in lo, so only the key sent up needs a sift,
    // which the caller does (or, symmetrically, the one sent down).
    void swap_roots() {
        std::swap(lo_[0], hi_[0]);
        where_[lo_[0].slot] = lo_ref(0);
        where_[hi_[0].slot] = hi_ref(0);
    }

    // kMax: max-heap (lo), else min-heap (hi).
    template <bool kMax>
    static bool above(std::int64_t a, std::int64_t b) { return kMax ? a > b : a < b; }

    template <bool kMax>
    void sift_up(std::vector<Node>& h, std::size_t p) {
        const Node node = h[p];
        while (p > 0) {
            const std::size_t parent = (p - 1) / 2;
            if (!above<kMax>(node.key, h[parent].key)) break;
            h[p] = h[parent];
            where_[h[p].slot] = ref<kMax>(p);
            p = parent;
        }
        h[p] = node;
        where_[node.slot] = ref<kMax>(p);
    }

    template <bool kMax>
    void sift_down(std::vector<Node>& h, std::size_t p) {
        const std::size_t size = h.size();
        const Node node = h[p];
        for (;;) {
            std::size_t child = 2 * p + 1;
            if (child >= size) break;
            if (child + 1 < size && above<kMax>(h[child + 1].key, h[child].key)) ++child;
            if (!above<kMax>(h[child].key, node.key)) break;
            h[p] = h[child];
            where_[h[p].slot] = ref<kMax>(p);
            p = child;
        }
        h[p] = node;
        where_[node.slot] = ref<kMax>(p);
    }

    template <bool kMax>
    static std::uint64_t ref(std::size_t p) { return kMax ? lo_ref(p) : hi_ref(p); }

    std::size_t w_;
    std::vector<std::uint64_t> where_;  // per ring slot: its position, kHiBit marking hi
    std::vector<Node> lo_, hi_;
};

// Windows of one to three values need no heaps: the middle key of three is
// max(min(a, b), min(max(a, b), c)), and the mean of two does not depend on their order.
double tiny_median(const double* win, std::size_t w) {
    if (w == 1) return win[0];
    if (w == 2) return (win[0] + win[1]) * 0.5;
    const std::int64_t a = total_order_key(win[0]), b = total_order_key(win[1]), c = total_order_key(win[2]);
    return key_value(std::max(std::min(a, b), std::min(std::max(a, b), c)));
}

}  // namespace

void rolling_median(std::span<const double> x, std::size_t w, std::span<double> out) {
    const std::size_t n = x.size();
    if (w == 0 || n < w) {
        std::fill(out.begin(), out.end(), kNaN);
        return;
    }
    std::fill(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(w - 1), kNaN);
    std::size_t nan_until = 0;  // windows ending before this index hold a NaN
    for (std::size_t k = 0; k + 1 < w; ++k)
        if (x[k] != x[k]) nan_until = k + w;
    if (w == 1) {
        for (std::size_t k = 0; k < n; ++k) out[k] = x[k] == x[k] ? x[k] : kNaN;
        return;
    }
    if (w <= 3) {
        for (std::size_t k = w - 1; k < n; ++k) {
            if (x[k] != x[k]) nan_until = k + w;
            out[k] = k < nan_until ? kNaN : tiny_median(x.data() + k + 1 - w, w);
        }
        return;
    }
    if (x[w - 1] != x[w - 1]) nan_until = 2 * w - 1;
    DualHeap heaps(x.first(w));
    out[w - 1] = w - 1 < nan_until ? kNaN : heaps.median();
    std::size_t slot = 0;
    for (std::size_t k = w; k < n; ++k) {
        const double v = x[k];
        if (v != v) nan_until = k + w;
        heaps.replace(slot, v);
        if (++slot == w) slot = 0;
        out[k] = k < nan_until ? kNaN : heaps.median();
    }
}

}  // namespace quarnel::rolling
