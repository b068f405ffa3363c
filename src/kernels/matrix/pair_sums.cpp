#include "kernels/matrix/pair_sums.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string_view>
#include <type_traits>
#include <vector>

#include "platform/pool.hpp"

namespace quarnel::matrix {

void mirror_upper(std::span<double> out, std::size_t p) {
    constexpr std::size_t kBlock = 32;  // square tiles keep both the rows read and the rows written in cache
    for (std::size_t ib = 0; ib < p; ib += kBlock) {
        for (std::size_t jb = ib; jb < p; jb += kBlock) {
            for (std::size_t i = ib; i < std::min(p, ib + kBlock); ++i) {
                for (std::size_t j = std::max(jb, i + 1); j < std::min(p, jb + kBlock); ++j) out[j * p + i] = out[i * p + j];
            }
        }
    }
}

namespace {

// ---------------------------------------------------------------- the sums

// K running sums per entry (the vector loops that feed them are in pair_sums_simd.inc);
// finish() turns the sums of entry (i, j), found at s[0], s[ld], s[2·ld] .., into its value.
struct DotOp {
    static constexpr int K = 1;
    double divisor;
    double finish(const double* s, std::size_t, std::size_t, std::size_t) const { return s[0] / divisor; }
};

struct EuclideanOp {
    static constexpr int K = 1;
    double finish(const double* s, std::size_t, std::size_t i, std::size_t j) const {
        return i == j ? 0.0 : std::sqrt(s[0]);
    }
};

// Sab, Sa, Sb and the count m over the rows where neither shifted value is NaN.
struct SkipnaCovOp {
    static constexpr int K = 4;
    double finish(const double* s, std::size_t ld, std::size_t, std::size_t) const {
        const double sab = s[0], sa = s[ld], sb = s[2 * ld], m = s[3 * ld];
        if (m < 2.0) return std::numeric_limits<double>::quiet_NaN();
        return (sab - (sb * sa) / m) / (m - 1.0);
    }
};

template <class Op>
struct Engine {
    Op op;
    const double* data;  // n x p row-major
    std::size_t n;       // rows summed over
    std::size_t p;       // columns; the result is p x p
    std::size_t sld;     // leading dimension of the partial-sum rows: p rounded up to 8
    double* out;
};

// Output rows per pool task unit. Task t takes row groups t and groups-1-t, so every task
// holds about the same share of the upper triangle.
constexpr std::size_t kGroupRows = 8;
// Input rows per block: one block of the data stays in the core's second-level cache while
// all output rows of a task read it.
constexpr std::size_t kBlockBytes = 384 * 1024;
// Partial sums of the output rows that share one pass over the input.
constexpr std::size_t kStateBytes = 256 * 1024;
// Entries x rows x sums below which a matrix is computed on the calling thread alone.
constexpr double kMinPoolWork = 1 << 18;

// The vector loops, once per instruction set; the vectors never cross a call boundary between
// code of different instruction sets, so the ABI notes about vector arguments do not apply.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
#pragma GCC push_options
#pragma GCC target("avx512f")
namespace isa_avx512 {
constexpr int W = 8;
#include "kernels/matrix/pair_sums_simd.inc"
}  // namespace isa_avx512
#pragma GCC pop_options
#pragma GCC push_options
#pragma GCC target("avx2")
namespace isa_avx2 {
constexpr int W = 4;
#include "kernels/matrix/pair_sums_simd.inc"
}  // namespace isa_avx2
#pragma GCC pop_options
namespace isa_sse2 {
constexpr int W = 2;
#include "kernels/matrix/pair_sums_simd.inc"
}  // namespace isa_sse2
#pragma GCC diagnostic pop

enum class Isa { sse2 = 0, avx2 = 1, avx512 = 2 };

// The widest vector unit of this machine, or a narrower one named by QUARNEL_SIMD
// ("avx512", "avx2" or "sse2"); results are the same for all of them.
Isa machine_isa() {
    __builtin_cpu_init();
    Isa isa = __builtin_cpu_supports("avx512f") ? Isa::avx512 : __builtin_cpu_supports("avx2") ? Isa::avx2 : Isa::sse2;
    if (const char* env = std::getenv("QUARNEL_SIMD")) {
        const std::string_view want(env);
        if (want == "sse2") isa = Isa::sse2;
        else if (want == "avx2" && isa > Isa::avx2) isa = Isa::avx2;
    }
    return isa;
}

template <class Op>
void run_engine(const Engine<Op>& e) {
    using Tasks = void (*)(const Engine<Op>&, std::size_t, std::size_t);
    static const Tasks tasks = [] {
        switch (machine_isa()) {
            case Isa::avx512: return &isa_avx512::run_tasks<Op>;
            case Isa::avx2: return &isa_avx2::run_tasks<Op>;
            default: return &isa_sse2::run_tasks<Op>;
        }
    }();
    const std::size_t tasks_total = ((e.p + kGroupRows - 1) / kGroupRows + 1) / 2;
    // Below some tens of microseconds of work, waking the workers costs more than it saves.
    const double work = static_cast<double>(e.n + 1) * static_cast<double>(e.p) * static_cast<double>(e.p) * Op::K;
    if (tasks_total == 0) return;
    if (work < kMinPoolWork) {
        tasks(e, 0, tasks_total);
        return;
    }
    pool::parallel_for(tasks_total, [&](std::size_t t0, std::size_t t1) { tasks(e, t0, t1); });
}

template <class Op>
Engine<Op> engine(Op op, Columns a, std::span<double> out) {
    expect_size(a.data, a.n, a.p);
    expect_size(out, a.p, a.p);
    Engine<Op> e{op, a.data.data(), a.n, a.p, (a.p + 7) / 8 * 8, out.data()};
    if (e.sld < a.p) throw std::bad_alloc();
    return e;
}

}  // namespace

void upper_dot(Columns a, double divisor, std::span<double> out) { run_engine(engine(DotOp{divisor}, a, out)); }

void upper_euclidean(Columns a, std::span<double> out) { run_engine(engine(EuclideanOp{}, a, out)); }

void upper_skipna_cov(Columns u, std::span<double> out) { run_engine(engine(SkipnaCovOp{}, u, out)); }

}  // namespace quarnel::matrix
