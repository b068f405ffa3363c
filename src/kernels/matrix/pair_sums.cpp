#include "kernels/matrix/pair_sums.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "platform/pool.hpp"

// The vector helpers below are always inlined into functions compiled for one instruction
// set each, so no vector ever crosses a call boundary: the ABI notes do not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

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

// ---------------------------------------------------------------- vectors

template <int W>
struct Vec;
template <>
struct Vec<8> {
    typedef double d __attribute__((vector_size(64)));
    typedef std::int64_t i __attribute__((vector_size(64)));
    [[gnu::always_inline]] static d splat(double s) { return d{s, s, s, s, s, s, s, s}; }
    // A broadcast straight from memory: left to itself the compiler fuses neighbouring
    // broadcasts into one load plus shuffles, which compete with the arithmetic.
    [[gnu::always_inline]] static d splat_from(const double* p) {
        d r;
        asm("vbroadcastsd %1, %0" : "=v"(r) : "m"(*p));
        return r;
    }
};
template <>
struct Vec<4> {
    typedef double d __attribute__((vector_size(32)));
    typedef std::int64_t i __attribute__((vector_size(32)));
    [[gnu::always_inline]] static d splat(double s) { return d{s, s, s, s}; }
    [[gnu::always_inline]] static d splat_from(const double* p) {
        d r;
        asm("vbroadcastsd %1, %0" : "=v"(r) : "m"(*p));
        return r;
    }
};
template <>
struct Vec<2> {
    typedef double d __attribute__((vector_size(16)));
    typedef std::int64_t i __attribute__((vector_size(16)));
    [[gnu::always_inline]] static d splat(double s) { return d{s, s}; }
    [[gnu::always_inline]] static d splat_from(const double* p) { return splat(*p); }
};

template <class V>
[[gnu::always_inline]] inline V load(const double* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <class V>
[[gnu::always_inline]] inline void store(double* p, const V& v) {
    std::memcpy(p, &v, sizeof v);
}
// Keeps x where the mask bits are set and gives +0.0 elsewhere (no arithmetic on x).
template <class V, class I>
[[gnu::always_inline]] inline V select(const V& x, const I& mask) {
    return (V)((I)x & mask);
}

// ---------------------------------------------------------------- the sums

// K running sums per entry, fed from NA panels. update() adds row r's terms for one entry,
// with b = the values of column i (broadcast) and v = those of columns j .. j+W-1.
struct DotOp {
    static constexpr int K = 1, NA = 1;
    double divisor;
    template <int W, class V = typename Vec<W>::d>
    [[gnu::always_inline]] static void update(V* acc, const V* b, const V* v) {
        acc[0] = acc[0] + b[0] * v[0];
    }
    double finish(const double* s, std::size_t, std::size_t, std::size_t) const { return s[0] / divisor; }
};

struct EuclideanOp {
    static constexpr int K = 1, NA = 1;
    template <int W, class V = typename Vec<W>::d>
    [[gnu::always_inline]] static void update(V* acc, const V* b, const V* v) {
        const V d = b[0] - v[0];
        acc[0] = acc[0] + d * d;
    }
    double finish(const double* s, std::size_t, std::size_t i, std::size_t j) const {
        return i == j ? 0.0 : std::sqrt(s[0]);
    }
};

// Panels: 0 = shifted values (0 where not finite), 1 = validity bits. Sums: Sab, Sa, Sb, m.
// A row that is not valid in both columns adds +0.0 to each sum, which leaves every sum
// unchanged: a sum that starts at +0.0 can never become -0.0.
struct SkipnaCovOp {
    static constexpr int K = 4, NA = 2;
    template <int W, class V = typename Vec<W>::d>
    [[gnu::always_inline]] static void update(V* acc, const V* b, const V* v) {
        using I = typename Vec<W>::i;
        const I both = (I)b[1] & (I)v[1];
        const V one = Vec<W>::splat(1.0);
        acc[0] = acc[0] + select(v[0] * b[0], both);
        acc[1] = acc[1] + select(b[0], both);
        acc[2] = acc[2] + select(v[0], both);
        acc[3] = acc[3] + select(one, both);
    }
    double finish(const double* s, std::size_t ld, std::size_t, std::size_t) const {
        const double sab = s[0], sa = s[ld], sb = s[2 * ld], m = s[3 * ld];
        if (m < 2.0) return std::numeric_limits<double>::quiet_NaN();
        return (sab - (sb * sa) / m) / (m - 1.0);
    }
};

template <class Op>
struct Engine {
    Op op;
    const double* data[Op::NA];  // n x p row-major each
    std::size_t n;               // rows summed over
    std::size_t p;               // columns; the result is p x p
    std::size_t sld;             // leading dimension of the partial-sum rows: p rounded up to 8
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

// Adds one input row to RI x NV vector entries: `at[a]` points at the row's W·NV values of
// columns j.., `row[a]` at the row itself (for the broadcasts of columns ci[ii]).
template <class Op, int W, int RI, int NV, class V = typename Vec<W>::d>
[[gnu::always_inline]] inline void add_row(V (&acc)[RI][NV][Op::K], const double* const (&at)[Op::NA],
                                           const double* const (&row)[Op::NA], const std::size_t (&ci)[RI]) {
    constexpr int NA = Op::NA;
    V col[NV][NA];
#pragma GCC unroll 16
    for (int v = 0; v < NV; ++v)
#pragma GCC unroll 16
        for (int a = 0; a < NA; ++a) col[v][a] = load<V>(at[a] + v * W);
#pragma GCC unroll 16
    for (int ii = 0; ii < RI; ++ii) {
        V b[NA];
#pragma GCC unroll 16
        for (int a = 0; a < NA; ++a) b[a] = Vec<W>::splat_from(row[a] + ci[ii]);
#pragma GCC unroll 16
        for (int v = 0; v < NV; ++v) Op::template update<W>(acc[ii][v], b, col[v]);
    }
}

// RI output rows from i0 x NV vectors of W output columns from j, over input rows r0 .. r1-1.
// Lanes at columns >= p only collect values that are never written out. When the last vector
// runs past p (kTail), it reads into the next row, except on the last row of the data, which
// goes through a zero-padded copy so that nothing past the buffer is touched.
template <class Op, int W, int RI, int NV, bool kTail>
[[gnu::always_inline]] inline void tile(const Engine<Op>& e, std::size_t r0, std::size_t r1, std::size_t i0,
                                        std::size_t j, double* state, std::size_t state_row) {
    using V = typename Vec<W>::d;
    constexpr int K = Op::K, NA = Op::NA;
    std::size_t ci[RI];  // rows of the block past p repeat column p-1 (their sums are dropped)
    for (int ii = 0; ii < RI; ++ii) ci[ii] = std::min(i0 + ii, e.p - 1);
    V acc[RI][NV][K];
#pragma GCC unroll 16
    for (int ii = 0; ii < RI; ++ii)
#pragma GCC unroll 16
        for (int v = 0; v < NV; ++v)
#pragma GCC unroll 16
            for (int k = 0; k < K; ++k) acc[ii][v][k] = load<V>(state + ii * state_row + k * e.sld + j + v * W);
    const std::size_t r_direct = kTail ? std::min(r1, e.n - 1) : r1;
    for (std::size_t r = r0; r < r_direct; ++r) {
        const double* row[NA];
        const double* at[NA];
#pragma GCC unroll 16
        for (int a = 0; a < NA; ++a) {
            row[a] = e.data[a] + r * e.p;
            at[a] = row[a] + j;
        }
        add_row<Op, W, RI, NV>(acc, at, row, ci);
    }
    if (kTail && r_direct < r1) {
        static_assert(!kTail || NV == 1);
        double last[NA][W] = {};
        const double* row[NA];
        const double* at[NA];
        for (int a = 0; a < NA; ++a) {
            row[a] = e.data[a] + r_direct * e.p;
            std::memcpy(last[a], row[a] + j, (e.p - j) * sizeof(double));
            at[a] = last[a];
        }
        add_row<Op, W, RI, NV>(acc, at, row, ci);
    }
#pragma GCC unroll 16
    for (int ii = 0; ii < RI; ++ii)
#pragma GCC unroll 16
        for (int v = 0; v < NV; ++v)
#pragma GCC unroll 16
            for (int k = 0; k < K; ++k) store(state + ii * state_row + k * e.sld + j + v * W, acc[ii][v][k]);
}

// The output rows of pool tasks t0 .. t1-1, their entries j >= i. Task t owns row groups t and
// groups-1-t; the rows of both ranges share each pass over the input, as many as the partial
// sums allow.
template <class Op, int W, int RI, int RJ>
[[gnu::always_inline]] inline void run_tasks(const Engine<Op>& e, std::size_t t0, std::size_t t1) {
    const std::size_t groups = (e.p + kGroupRows - 1) / kGroupRows;
    const std::size_t hi0 = std::max(groups - t1, t1), hi1 = groups - t0;
    std::vector<std::size_t> blocks;  // first rows of the RI-row blocks, in order
    for (std::size_t i0 = t0 * kGroupRows; i0 < std::min(e.p, t1 * kGroupRows); i0 += RI) blocks.push_back(i0);
    for (std::size_t i0 = hi0 * kGroupRows; i0 < std::min(e.p, hi1 * kGroupRows); i0 += RI) blocks.push_back(i0);
    if (blocks.empty()) return;

    const std::size_t state_row = Op::K * e.sld;
    const std::size_t chunk = std::max<std::size_t>(1, kStateBytes / (RI * state_row * sizeof(double)));
    const std::size_t block_rows = std::max<std::size_t>(16, kBlockBytes / (Op::NA * e.p * sizeof(double)));
    std::vector<double> state;
    for (std::size_t c0 = 0; c0 < blocks.size(); c0 += chunk) {
        const std::size_t c1 = std::min(blocks.size(), c0 + chunk);
        state.assign((c1 - c0) * RI * state_row, 0.0);
        for (std::size_t r0 = 0; r0 < e.n; r0 += block_rows) {
            const std::size_t r1 = std::min(e.n, r0 + block_rows);
            for (std::size_t c = c0; c < c1; ++c) {
                const std::size_t i0 = blocks[c];
                double* st = state.data() + (c - c0) * RI * state_row;
                std::size_t j = i0 / W * W;
                for (; j + RJ * W <= e.p; j += RJ * W) tile<Op, W, RI, RJ, false>(e, r0, r1, i0, j, st, state_row);
                for (; j + W <= e.p; j += W) tile<Op, W, RI, 1, false>(e, r0, r1, i0, j, st, state_row);
                if (j < e.p) tile<Op, W, RI, 1, true>(e, r0, r1, i0, j, st, state_row);
            }
        }
        for (std::size_t c = c0; c < c1; ++c) {
            for (std::size_t i = blocks[c]; i < std::min(e.p, blocks[c] + RI); ++i) {
                const double* st = state.data() + ((c - c0) * RI + (i - blocks[c])) * state_row;
                double* o = e.out + i * e.p;
                for (std::size_t j = i; j < e.p; ++j) o[j] = e.op.finish(st + j, e.sld, i, j);
            }
        }
    }
}

// Register tiles per instruction set: accumulators + loaded columns + broadcasts fit the
// vector register file (32 for AVX-512, 16 below).
template <class Op, int W>
struct Shape {
    static constexpr int RI = 4, RJ = W == 8 ? 3 : 2;
};
template <int W>
struct Shape<SkipnaCovOp, W> {
    static constexpr int RI = 2, RJ = W == 8 ? 2 : 1;
};

template <class Op>
__attribute__((target("avx512f"))) void tasks_avx512(const Engine<Op>& e, std::size_t t0, std::size_t t1) {
    run_tasks<Op, 8, Shape<Op, 8>::RI, Shape<Op, 8>::RJ>(e, t0, t1);
}
template <class Op>
__attribute__((target("avx2"))) void tasks_avx2(const Engine<Op>& e, std::size_t t0, std::size_t t1) {
    run_tasks<Op, 4, Shape<Op, 4>::RI, Shape<Op, 4>::RJ>(e, t0, t1);
}
template <class Op>
void tasks_sse2(const Engine<Op>& e, std::size_t t0, std::size_t t1) {
    run_tasks<Op, 2, Shape<Op, 2>::RI, Shape<Op, 2>::RJ>(e, t0, t1);
}

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
            case Isa::avx512: return &tasks_avx512<Op>;
            case Isa::avx2: return &tasks_avx2<Op>;
            default: return &tasks_sse2<Op>;
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
Engine<Op> engine(Op op, std::initializer_list<std::span<const double>> data, std::size_t n, std::size_t p,
                  std::span<double> out) {
    expect_size(out, p, p);
    Engine<Op> e{op, {}, n, p, (p + 7) / 8 * 8, out.data()};
    if (e.sld < p) throw std::bad_alloc();
    int a = 0;
    for (auto d : data) {
        expect_size(d, n, p);
        e.data[a++] = d.data();
    }
    return e;
}

}  // namespace

void upper_dot(Columns a, double divisor, std::span<double> out) {
    run_engine(engine(DotOp{divisor}, {a.data}, a.n, a.p, out));
}

void upper_euclidean(Columns a, std::span<double> out) {
    run_engine(engine(EuclideanOp{}, {a.data}, a.n, a.p, out));
}

void upper_skipna_cov(Columns u, std::span<const double> valid, std::span<double> out) {
    run_engine(engine(SkipnaCovOp{}, {u.data, valid}, u.n, u.p, out));
}

}  // namespace quarnel::matrix
