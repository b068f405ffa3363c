// Column-pair sums: the engine under every covariance, Gram and column-distance matrix.
//
// For each pair of columns i <= j of a panel it forms one sum over the rows, accumulated
// from 0.0 in row order, and writes a function of it to out[i][j] (the upper triangle of a
// row-major cols x cols result); mirror_upper() then copies it to the lower triangle.
//
// The work is split by output row on the worker pool. Each sum stays one sequential
// accumulation: the vector units work across output columns j (one lane per entry), several
// output rows share each loaded input row, and long inputs are cut into row blocks whose
// partial sums are stored and reloaded unchanged. None of this reorders an addition, so the
// results are those of the plain loops, for any thread count and any vector width.
//
// The vector loops exist for AVX-512, AVX2 and SSE2; the widest the machine supports is picked
// at run time, and the environment variable QUARNEL_SIMD ("avx2" or "sse2") can narrow it.
// Matrices with little work are computed on the calling thread without waking the pool.
#pragma once

#include <cstddef>
#include <new>
#include <span>
#include <stdexcept>

namespace quarnel::matrix {

// a * b for sizes, std::bad_alloc when it does not fit.
inline std::size_t checked_mul(std::size_t a, std::size_t b) {
    std::size_t r;
    if (__builtin_mul_overflow(a, b, &r)) throw std::bad_alloc();
    return r;
}

// A buffer whose length disagrees with its shape is a broken invariant of the caller.
inline void expect_size(std::span<const double> buffer, std::size_t rows, std::size_t cols) {
    if (buffer.size() != checked_mul(rows, cols)) throw std::logic_error("buffer length does not match its shape");
}

// The column data a kernel reads: n rows of p values, row-major with no padding (the call's
// private copy of the input, or a buffer derived from it).
struct Columns {
    std::span<const double> data;
    std::size_t n, p;
};

// out[i][j] = (Σ_r a[r][i]·a[r][j]) / divisor for j >= i.
void upper_dot(Columns a, double divisor, std::span<double> out);

// out[i][j] = sqrt(Σ_r (a[r][i] − a[r][j])²) for j > i; out[i][i] = 0.
void upper_euclidean(Columns a, std::span<double> out);

// Pairwise-complete covariance. u holds the shifted values x − K_c where x is finite and NaN
// elsewhere. Over the rows where neither u[r][a] nor u[r][b] is NaN: Sab = Σ v·u, Sa = Σ u,
// Sb = Σ v, m = count; out[a][b] = NaN if m < 2, else (Sab − (Sb·Sa)/m) / (m − 1), for b >= a.
// (A finite x whose shifted value overflows is an infinity in u and is used.)
void upper_skipna_cov(Columns u, std::span<double> out);

// out[j][i] = out[i][j] for j > i (p x p row-major).
void mirror_upper(std::span<double> out, std::size_t p);

}  // namespace quarnel::matrix
