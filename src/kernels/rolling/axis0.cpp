#include "kernels/rolling/axis0.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "kernels/common/total_order.hpp"

namespace quarnel::rolling {
namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
// Columns per block: the block's sums stay in L1 while the rows stream past.
constexpr std::size_t kBlock = 64;

enum class Mode { RawMean, Shifted };

// Bits that are non-zero iff v is not finite: v - v is +0.0 for every finite v and NaN
// otherwise. OR-ed over a row, this vectorises on baseline SSE2 (no 64-bit compares).
inline std::uint64_t nonfinite_bits(double v) { return std::bit_cast<std::uint64_t>(v - v); }

// Sample standard deviation from the shifted sums of w values (w >= 2); negative rounding
// residues clamp to 0. Branch-free so that a row of columns converts in one vector loop.
inline double std_of(double s1, double s2, double wd, double wm1) {
    const double var = (s2 - s1 * s1 / wd) / wm1;
    return var == var ? std::sqrt(var < 0.0 ? 0.0 : var) : kNan;
}

// One block of up to kBlock columns, walked row by row. The fast loop updates every column
// unconditionally (vectorised across columns); columns whose window holds non-finite values
// are then fixed up, and rebuilt once clean, in a rare slow pass.
template <Mode kMode>
class Block {
public:
    Block(const double* x, std::size_t cols, std::size_t w, std::size_t c0, std::size_t nb, double* means,
          double* stds)
        : x_(x), cols_(cols), w_(w), c0_(c0), nb_(nb), means_(means), stds_(stds),
          wd_(static_cast<double>(w)), wm1_(static_cast<double>(w - 1)) {}

    void run(std::size_t out_rows) {
        start_block();
        // Locals, not members: the compiler must see that the row loop touches no state
        // besides the sums to vectorise it across columns.
        const std::size_t nb = nb_;
        double* s = s_.data();
        double* s1 = s1_.data();
        double* s2 = s2_.data();
        const double* k = k_.data();
        for (std::size_t r = 1; r < out_rows; ++r) {
            const double* in = row(r + w_ - 1);
            const double* out = row(r - 1);
            std::uint64_t bad = 0;
            for (std::size_t c = 0; c < nb; ++c) {
                const double a = in[c], b = out[c];
                bad |= nonfinite_bits(a);
                if constexpr (kMode == Mode::RawMean) {
                    s[c] = s[c] + (a - b);
                } else {
                    const double da = a - k[c], db = b - k[c];
                    s1[c] = s1[c] + (da - db);
                    s2[c] = s2[c] + (da * da - db * db);
                }
            }
            emit_row(r);
            if (bad || r <= dirty_until_) slow_row(r, in, out);
        }
    }

private:
    const double* row(std::size_t r) const { return x_ + r * cols_ + c0_; }
    double at(std::size_t r, std::size_t c) const { return x_[r * cols_ + c0_ + c]; }

    // The first window of every column, row by row so that each input row is read once.
    void start_block() {
        const double* first = row(0);
        for (std::size_t c = 0; c < nb_; ++c) k_[c] = is_finite_bits(first[c]) ? first[c] : 0.0;
        const std::size_t nb = nb_;
        double* s = s_.data();
        double* s1 = s1_.data();
        double* s2 = s2_.data();
        const double* k = k_.data();
        for (std::size_t i = 0; i < w_; ++i) {
            const double* in = row(i);
            std::uint64_t bad = 0;
            for (std::size_t c = 0; c < nb; ++c) {
                const double v = in[c];
                bad |= nonfinite_bits(v);
                if constexpr (kMode == Mode::RawMean) {
                    s[c] += v;
                } else {
                    const double d = v - k[c];
                    s1[c] += d;
                    s2[c] += d * d;
                }
            }
            if (bad) note_incoming(in, i + 1);
        }
        emit_row(0);
        for (std::size_t c = 0; c < nb_; ++c)
            if (nan_[c] || pos_[c] || neg_[c]) emit_dirty(0, c);
    }

    // Counts the non-finite values of an incoming row; the column is clean again from
    // window `clean_from` on.
    void note_incoming(const double* in, std::size_t clean_from) {
        for (std::size_t c = 0; c < nb_; ++c) {
            if (is_finite_bits(in[c])) continue;
            count(c, in[c], 1);
            clean_from_[c] = clean_from;
            dirty_until_ = std::max(dirty_until_, clean_from);
        }
    }

    // Sums column c over rows r .. r + w - 1 from scratch, as for a first window; the
    // caller guarantees these rows are finite.
    void start_column(std::size_t c, std::size_t r) {
        const double first = at(r, c);
        k_[c] = is_finite_bits(first) ? first : 0.0;
        double s = 0.0, s1 = 0.0, s2 = 0.0;
        for (std::size_t i = r; i < r + w_; ++i) {
            const double v = at(i, c);
            if constexpr (kMode == Mode::RawMean) {
                s += v;
            } else {
                const double d = v - k_[c];
                s1 += d;
                s2 += d * d;
            }
        }
        s_[c] = s;
        s1_[c] = s1;
        s2_[c] = s2;
        emit(r, c);
    }

    void count(std::size_t c, double v, std::size_t step) {
        if (v != v) nan_[c] += step;
        else if (v > 0.0) pos_[c] += step;
        else neg_[c] += step;
    }

    void slow_row(std::size_t r, const double* in, const double* out) {
        note_incoming(in, r + w_);
        for (std::size_t c = 0; c < nb_; ++c) {
            if (!is_finite_bits(out[c])) count(c, out[c], static_cast<std::size_t>(-1));
            if (nan_[c] || pos_[c] || neg_[c]) emit_dirty(r, c);
            else if (r == clean_from_[c]) start_column(c, r);
        }
    }

    void emit(std::size_t r, std::size_t c) {
        double* m = means_ ? means_ + r * cols_ + c0_ : nullptr;
        double* s = stds_ ? stds_ + r * cols_ + c0_ : nullptr;
        if constexpr (kMode == Mode::RawMean) {
            m[c] = s_[c] / wd_;
        } else {
            if (m) m[c] = k_[c] + s1_[c] / wd_;
            if (s) s[c] = w_ == 1 ? kNan : std_of(s1_[c], s2_[c], wd_, wm1_);
        }
    }

    void emit_row(std::size_t r) {
        const std::size_t nb = nb_;
        double* m = means_ ? means_ + r * cols_ + c0_ : nullptr;
        double* sd = stds_ ? stds_ + r * cols_ + c0_ : nullptr;
        const double* s = s_.data();
        const double* s1 = s1_.data();
        const double* s2 = s2_.data();
        const double* k = k_.data();
        const double wd = wd_;
        if constexpr (kMode == Mode::RawMean) {
            for (std::size_t c = 0; c < nb; ++c) m[c] = s[c] / wd;
        } else {
            if (m)
                for (std::size_t c = 0; c < nb; ++c) m[c] = k[c] + s1[c] / wd;
            if (sd) {
                if (w_ == 1) {
                    for (std::size_t c = 0; c < nb; ++c) sd[c] = kNan;
                } else {
                    const double wm1 = wm1_;
                    for (std::size_t c = 0; c < nb; ++c) sd[c] = std_of(s1[c], s2[c], wd, wm1);
                }
            }
        }
    }

    void emit_dirty(std::size_t r, std::size_t c) {
        if (means_) {
            const bool nan = nan_[c] || (pos_[c] && neg_[c]);
            means_[r * cols_ + c0_ + c] = nan ? kNan : pos_[c] ? kInf : -kInf;
        }
        if (stds_) stds_[r * cols_ + c0_ + c] = kNan;
    }

    const double* x_;
    std::size_t cols_, w_, c0_, nb_;
    double* means_;
    double* stds_;
    double wd_, wm1_;
    std::array<double, kBlock> s_{}, s1_{}, s2_{}, k_{};
    std::array<std::size_t, kBlock> clean_from_{};
    std::array<std::size_t, kBlock> nan_{}, pos_{}, neg_{};
    std::size_t dirty_until_ = 0;  // the block needs the slow pass up to this output row
};

template <Mode kMode>
void run_blocks(const double* x, std::size_t rows, std::size_t cols, std::size_t w, double* means, double* stds) {
    if (rows < w || cols == 0) return;
    const std::size_t out_rows = rows - w + 1;
    for (std::size_t c0 = 0; c0 < cols; c0 += kBlock) {
        Block<kMode>(x, cols, w, c0, std::min(kBlock, cols - c0), means, stds).run(out_rows);
    }
}

}  // namespace

void rolling_mean_axis0(const double* x, std::size_t rows, std::size_t cols, std::size_t w, double* means) {
    run_blocks<Mode::RawMean>(x, rows, cols, w, means, nullptr);
}

void rolling_mean_std_axis0(const double* x, std::size_t rows, std::size_t cols, std::size_t w, double* means,
                            double* stds) {
    run_blocks<Mode::Shifted>(x, rows, cols, w, means, stds);
}

}  // namespace quarnel::rolling
