"""Covariance, correlation, Gram and distance matrices, and the pair statistics.

Two kinds of checks: exact references that follow the defined loops (every entry one
sequential sum in row order; NumPy's element-wise operations across entries keep each
entry's order, so the references match bit for bit), and peers (NumPy, SciPy, pandas,
statsmodels) on random data within rounding.
"""
import math
import subprocess
import sys
import textwrap

import numpy as np
import pandas as pd
import pytest
from scipy.spatial.distance import pdist, squareform
from statsmodels.stats.moment_helpers import cov2corr

import quarnel_ext as q

NAN = float("nan")
INF = float("inf")

MATRIX_FUNCS = [
    "cov_matrix_np", "cov_matrix_bias_np", "cov_matrix_centered_np", "cov_matrix_skipna_np",
    "corr_matrix_np", "corr_matrix_skipna_np", "corr_distance_np", "xtx_matrix_np", "xxt_matrix_np",
    "pairwise_cosine_cols_np", "pairwise_euclidean_cols_np",
]
PAIR_FUNCS = ["cov_np", "corr_np", "cov_skipna", "corr_skipna", "cov_nan_np", "corr_nan_np"]


# ---------------------------------------------------------------- exact references

def seq_sum(v):
    """One accumulator from 0.0 in index order."""
    return np.cumsum(np.concatenate([[0.0], np.asarray(v, dtype=float)]))[-1]


def first_finite(v):
    f = v[np.isfinite(v)]
    return f[0] if f.size else 0.0


def ref_pair(x, y, skip, corr, clamp=True):
    x = np.asarray(x, float)
    y = np.asarray(y, float)
    kx, ky = first_finite(x), first_finite(y)
    nan = np.isnan(x) | np.isnan(y)
    if nan.any() and not skip:
        return NAN
    u, v = (x - kx)[~nan], (y - ky)[~nan]
    m = u.size
    if m < 2:
        return NAN
    sx, sy, sxy = seq_sum(u), seq_sum(v), seq_sum(v * u)
    with np.errstate(all="ignore"):
        cov = (sxy - (sx * sy) / m) / (m - 1)
        if not corr:
            return cov
        vx = (seq_sum(u * u) - (sx * sx) / m) / (m - 1)
        vy = (seq_sum(v * v) - (sy * sy) / m) / (m - 1)
        ok = lambda w: 0 < w < INF
        if not (ok(vx) and ok(vy) and math.isfinite(cov)):
            return NAN
        r = cov / np.sqrt(vx * vy)
    return min(1.0, max(-1.0, r)) if clamp else r


def ref_gram(a, term=lambda ci, cj: ci * cj):
    """G[i][j] = Σ_r term(a[r][i], a[r][j]), from 0.0 in row order."""
    p = a.shape[1]
    g = np.zeros((p, p))
    for row in a:
        g = g + term(row[:, None], row[None, :])
    return g


def ref_mean(x):
    s = np.zeros(x.shape[1])
    for row in x:
        s = s + row
    return s * (1.0 / x.shape[0])


def ref_cov(x, bias=False):
    n, p = x.shape
    if n < (1 if bias else 2):
        return np.full((p, p), NAN) if not bias else np.zeros((p, p))
    return ref_gram(x - ref_mean(x)) / (n if bias else n - 1)


def ref_cov_skipna(x):
    n, p = x.shape
    if n < 2:
        return np.zeros((p, p))
    fin = np.isfinite(x)
    k = np.array([first_finite(x[:, c]) for c in range(p)])
    sab = np.zeros((p, p)); sa = np.zeros((p, p)); sb = np.zeros((p, p)); m = np.zeros((p, p))
    with np.errstate(invalid="ignore", over="ignore"):
        u = x - k
        for r in range(n):
            use = fin[r][:, None] & fin[r][None, :]
            ua, ub = u[r][:, None] * np.ones((1, p)), np.ones((p, 1)) * u[r][None, :]
            sab = np.where(use, sab + ub * ua, sab)
            sb = np.where(use, sb + ub, sb)
            sa = np.where(use, sa + ua, sa)
            m = np.where(use, m + 1, m)
        with np.errstate(divide="ignore"):
            out = np.where(m < 2, NAN, (sab - (sb * sa) / m) / (m - 1))
    return out


def ref_corr_from_cov(c):
    d = np.diag(c)
    with np.errstate(all="ignore"):
        sd = np.where((d > 0) & (d < INF), np.sqrt(d), NAN)
        qq = sd[None, :] * sd[:, None]
        out = np.where((qq != 0) & ~np.isnan(qq), np.clip(c / qq, -1.0, 1.0), NAN)
    np.fill_diagonal(out, np.where(np.isnan(sd), NAN, 1.0))
    iu = np.triu(np.ones_like(out, dtype=bool))
    return np.where(iu, out, out.T)


def ref_cosine(x):
    g = ref_gram(x)
    norm = np.sqrt(np.diag(g))
    with np.errstate(all="ignore"):
        qq = norm[None, :] * norm[:, None]
        out = np.where((qq != 0) & ~np.isnan(qq), 1.0 - g / qq, NAN)
    np.fill_diagonal(out, np.where(norm == 0, NAN, 0.0))
    return out


def ref_euclidean(x):
    if x.shape[0] == 0:
        return np.zeros((x.shape[1],) * 2)
    with np.errstate(invalid="ignore"):
        out = np.sqrt(ref_gram(x, lambda ci, cj: (ci - cj) * (ci - cj)))
    np.fill_diagonal(out, 0.0)
    return out


def reference(name, x):
    n, p = x.shape
    if name == "cov_matrix_np":
        return ref_cov(x)
    if name == "cov_matrix_bias_np":
        return ref_cov(x, bias=True)
    if name == "cov_matrix_centered_np":
        return ref_gram(x) / (n - 1) if n >= 2 else np.zeros((p, p))
    if name == "cov_matrix_skipna_np":
        return ref_cov_skipna(x)
    if name == "corr_matrix_np":
        return ref_corr_from_cov(ref_cov(x)) if n >= 2 else np.zeros((p, p))
    if name == "corr_matrix_skipna_np":
        return ref_corr_from_cov(ref_cov_skipna(x)) if n >= 2 else np.zeros((p, p))
    if name == "corr_distance_np":
        return 1.0 - ref_corr_from_cov(ref_cov(x)) if n >= 2 else np.zeros((p, p))
    if name == "xtx_matrix_np":
        return ref_gram(x)
    if name == "xxt_matrix_np":
        return ref_gram(x.T)
    if name == "pairwise_cosine_cols_np":
        return ref_cosine(x)
    if name == "pairwise_euclidean_cols_np":
        return ref_euclidean(x)
    raise KeyError(name)


def assert_same(got, want):
    """Bit-for-bit equal, NaN matching NaN."""
    got, want = np.asarray(got), np.asarray(want)
    assert got.shape == want.shape
    same = (got == want) | (np.isnan(got) & np.isnan(want))
    assert same.all(), f"{(~same).sum()} entries differ, first at {np.argwhere(~same)[0]}"


# ---------------------------------------------------------------- pair statistics

@pytest.mark.parametrize("func", PAIR_FUNCS)
def test_pair_functions_follow_the_shifted_sums(func, rng):
    skip = "skipna" in func or "nan_np" in func
    corr = func.startswith("corr")
    x = rng.normal(1e3, 2.0, 500)
    y = 0.5 * x + rng.normal(-7.0, 1.0, 500)
    if skip:
        x[rng.random(500) < 0.1] = NAN
        y[rng.random(500) < 0.1] = NAN
    got = getattr(q, func)(x, y)
    assert got == ref_pair(x, y, skip, corr)


def test_pair_functions_against_peers(rng):
    x = rng.standard_normal(300)
    y = 0.3 * x + rng.standard_normal(300)
    assert q.cov_np(x, y) == pytest.approx(np.cov(x, y)[0, 1], rel=1e-12)
    assert q.corr_np(x, y) == pytest.approx(np.corrcoef(x, y)[0, 1], rel=1e-12)
    x[::7] = NAN
    y[::11] = NAN
    sx, sy = pd.Series(x), pd.Series(y)
    for f in (q.cov_skipna, q.cov_nan_np):
        assert f(x, y) == pytest.approx(sx.cov(sy), rel=1e-12)
    for f in (q.corr_skipna, q.corr_nan_np):
        assert f(x, y) == pytest.approx(sx.corr(sy), rel=1e-12)


@pytest.mark.parametrize("func, x, y, want", [
    ("cov_np", [1, 2, 3], [1, 2, 3.5], 1.25),
    ("cov_np", [1], [2], NAN),
    ("cov_np", [], [], NAN),
    ("cov_np", [1, NAN, 3], [1, 2, 3], NAN),
    ("corr_np", [1, 2, NAN], [1, 2, 3], NAN),
    ("corr_np", [2, 2, 2], [1, 2, 3], NAN),            # zero variance
    ("corr_np", [1, 2, INF], [1, 2, 3], NAN),          # infinite variance
    ("cov_skipna", [1, NAN, 3, 4], [2, 5, NAN, 8], 9.0),  # pairs (1, 2) and (4, 8)
    ("cov_skipna", [1, NAN, 3], [NAN, 2, 3], NAN),     # one pair left
    ("cov_skipna", [1, 2, INF], [1, 2, 3], NAN),       # the infinity is kept: inf - inf
    ("corr_skipna", [1, 2, 3, NAN], [2, 4, 6, 1], 1.0),
    ("corr_skipna", [1, 2, INF], [1, 2, 3], NAN),
])
def test_pair_degenerate_cases(func, x, y, want):
    got = getattr(q, func)(np.array(x, float), np.array(y, float))
    assert got == want or (math.isnan(got) and math.isnan(want))


def test_corr_is_clamped_to_unit_interval():
    # Exactly linear data whose rounding lands just outside [-1, 1] before the clamp.
    outside = 0
    for seed in range(300):
        x = np.random.default_rng(seed).standard_normal(7) * 1e3 + 0.1
        for y in (3.0 * x + 1.0, -3.0 * x + 1.0):
            raw = ref_pair(x, y, False, True, clamp=False)
            got = q.corr_np(x, y)
            if abs(raw) > 1.0:
                outside += 1
                assert got == math.copysign(1.0, raw)
            else:
                assert got == raw
    assert outside > 0


@pytest.mark.parametrize("func, message", [
    ("cov_np", "x and y must have the same length"),
    ("corr_np", "x and y must have the same length"),
    ("cov_skipna", "length mismatch"), ("corr_skipna", "length mismatch"),
    ("cov_nan_np", "length mismatch"), ("corr_nan_np", "length mismatch"),
])
def test_pair_length_and_contiguity_errors(func, message):
    f = getattr(q, func)
    with pytest.raises(ValueError) as e:
        f(np.ones(2), np.ones(3))
    assert str(e.value) == message
    strided = np.arange(10.0)[::2]
    # Contiguity is checked for x, then y, and both before the lengths.
    for args in [(strided, np.ones(3)), (np.ones(3), strided), (strided, strided)]:
        with pytest.raises(TypeError, match="^The given array is not contiguous$"):
            f(*args)
    with pytest.raises(TypeError, match="^argument 'y': "):
        f(np.ones(3), [1.0, 2.0, 3.0])


def test_nan_twins_are_the_skipna_functions(rng):
    x = rng.standard_normal(50)
    y = rng.standard_normal(50)
    x[3] = y[8] = NAN
    assert q.cov_nan_np(x, y) == q.cov_skipna(x, y)
    assert q.corr_nan_np(x, y) == q.corr_skipna(x, y)
    y[9] = INF
    assert_same(q.cov_nan_np(x, y), q.cov_skipna(x, y))


# ---------------------------------------------------------------- matrices: exact references

SHAPES = [(1, 3), (2, 1), (3, 8), (5, 9), (40, 23), (9, 37), (700, 100), (60, 200)]


@pytest.fixture(scope="module")
def matrices():
    r = np.random.default_rng(7)
    out = {}
    for n, p in SHAPES:
        out[(n, p)] = r.normal(5.0, 3.0, (n, p))
    return out


@pytest.mark.parametrize("shape", SHAPES, ids=lambda s: f"{s[0]}x{s[1]}")
@pytest.mark.parametrize("name", MATRIX_FUNCS)
def test_matrix_functions_match_the_defined_sums(name, shape, matrices):
    # The larger shapes go through several row blocks and partial-sum chunks.
    x = matrices[shape]
    if name.startswith("xxt") and shape[0] > 100:
        x = x[:150, :40]
    got = getattr(q, name)(x)
    assert_same(got, reference(name, x))
    assert got.dtype == np.float64 and got.flags.c_contiguous and got.flags.writeable
    iu = np.triu_indices(got.shape[0], 1)
    assert_same(got[iu], got.T[iu])


@pytest.mark.parametrize("name", ["cov_matrix_skipna_np", "corr_matrix_skipna_np"])
def test_skipping_matrices_with_missing_values_match_the_defined_sums(name, rng):
    x = rng.normal(100.0, 1.0, (80, 19))
    x[rng.random(x.shape) < 0.15] = NAN
    x[rng.random(x.shape) < 0.03] = INF
    x[rng.random(x.shape) < 0.03] = -INF
    x[:, 4] = NAN                   # no finite value: shift 0, all pairs NaN
    x[:70, 7] = NAN                 # the first finite value is far down
    x[::2, 11] = NAN                # complementary to column 12: no common rows
    x[1::2, 12] = NAN
    x[:, 15] = np.where(np.arange(80) % 3, -1e308, 1e308)   # shifted values overflow: kept as infinities
    x[40, 16] = 1e-320                                       # subnormals are ordinary values
    assert_same(getattr(q, name)(x), reference(name, x))


# ---------------------------------------------------------------- matrices: peers

def test_matrices_against_peers(rng):
    x = rng.standard_normal((300, 12)) * rng.uniform(0.5, 4.0, 12) + rng.uniform(-3, 3, 12)
    n = x.shape[0]
    tol = dict(rtol=1e-12, atol=1e-13)
    np.testing.assert_allclose(q.cov_matrix_np(x), np.cov(x, rowvar=False), **tol)
    np.testing.assert_allclose(q.cov_matrix_bias_np(x), np.cov(x, rowvar=False, bias=True), **tol)
    xc = x - x.mean(axis=0)
    np.testing.assert_allclose(q.cov_matrix_centered_np(xc), xc.T @ xc / (n - 1), **tol)
    np.testing.assert_allclose(q.corr_matrix_np(x), np.corrcoef(x, rowvar=False), **tol)
    np.testing.assert_allclose(q.corr_distance_np(x), 1 - np.corrcoef(x, rowvar=False), **tol)
    np.testing.assert_allclose(q.xtx_matrix_np(x), x.T @ x, rtol=1e-12, atol=1e-10)
    np.testing.assert_allclose(q.xxt_matrix_np(x[:40]), x[:40] @ x[:40].T, rtol=1e-12, atol=1e-10)
    np.testing.assert_allclose(q.pairwise_cosine_cols_np(x), squareform(pdist(x.T, "cosine")), rtol=1e-12, atol=1e-14)
    np.testing.assert_allclose(q.pairwise_euclidean_cols_np(x), squareform(pdist(x.T)), **tol)

    x[rng.random(x.shape) < 0.1] = NAN
    x[5, 3] = INF
    peer = pd.DataFrame(np.where(np.isfinite(x), x, NAN)).cov().to_numpy()
    np.testing.assert_allclose(q.cov_matrix_skipna_np(x), peer, **tol)
    np.testing.assert_allclose(q.corr_matrix_skipna_np(x), np.clip(cov2corr(peer), -1, 1), **tol)


# ---------------------------------------------------------------- degenerate shapes and values

@pytest.mark.parametrize("name, fill", [
    ("cov_matrix_np", NAN), ("cov_matrix_bias_np", 0.0), ("cov_matrix_centered_np", 0.0),
    ("cov_matrix_skipna_np", 0.0), ("corr_matrix_np", 0.0), ("corr_matrix_skipna_np", 0.0),
    ("corr_distance_np", 0.0),
])
def test_single_row(name, fill):
    got = getattr(q, name)(np.array([[1.0, 2.0, 4.0]]))
    assert_same(got, np.full((3, 3), fill))


@pytest.mark.parametrize("name", MATRIX_FUNCS)
def test_empty_shapes(name):
    assert getattr(q, name)(np.zeros((5, 0))).shape == ((5, 5) if name.startswith("xxt") else (0, 0))
    got = getattr(q, name)(np.zeros((0, 3)))
    if name.startswith("xxt"):
        assert got.shape == (0, 0)
    elif name == "cov_matrix_np":
        assert_same(got, np.full((3, 3), NAN))
    elif name == "pairwise_cosine_cols_np":
        assert_same(got, np.full((3, 3), NAN))      # every norm is 0
    else:
        assert_same(got, np.zeros((3, 3)))
    assert_same(q.xxt_matrix_np(np.zeros((4, 0))), np.zeros((4, 4)))


def test_nan_in_a_column_spreads_to_its_row_and_column(rng):
    x = rng.standard_normal((20, 4))
    x[6, 2] = NAN
    c = q.cov_matrix_np(x)
    assert np.isnan(c[2]).all() and np.isnan(c[:, 2]).all()
    assert not np.isnan(np.delete(np.delete(c, 2, 0), 2, 1)).any()


def test_constant_column_in_correlation(rng):
    x = rng.standard_normal((30, 4))
    x[:, 1] = 3.25
    for f in (q.corr_matrix_np, q.corr_matrix_skipna_np):
        c = f(x)
        assert np.isnan(c[1]).all() and np.isnan(c[:, 1]).all()
        assert (np.diag(c)[[0, 2, 3]] == 1.0).all()
        assert np.isnan(q.corr_distance_np(x)[1]).all()


def test_skipna_drops_infinities_and_pairs_rows(rng):
    x = rng.standard_normal((12, 3))
    x[2, 0] = INF
    x[5, 1] = NAN
    c = q.cov_matrix_skipna_np(x)
    keep01 = [r for r in range(12) if r not in (2, 5)]
    assert c[0, 1] == pytest.approx(np.cov(x[keep01, 0], x[keep01, 1])[0, 1], rel=1e-13)
    assert c[0, 2] == pytest.approx(np.cov(np.delete(x[:, 0], 2), np.delete(x[:, 2], 2))[0, 1], rel=1e-13)
    assert c[2, 2] == pytest.approx(np.var(x[:, 2], ddof=1), rel=1e-13)


def test_cosine_zero_column_and_equal_columns(rng):
    x = rng.standard_normal((10, 3))
    x[:, 1] = 0.0
    x[:, 2] = x[:, 0]
    d = q.pairwise_cosine_cols_np(x)
    assert np.isnan(d[1]).all() and np.isnan(d[:, 1]).all()
    assert d[0, 0] == d[2, 2] == 0.0
    assert abs(d[0, 2]) < 1e-15
    x[4, 0] = NAN                     # a NaN norm: 0.0 on the diagonal, NaN off it
    d = q.pairwise_cosine_cols_np(x)
    assert d[0, 0] == 0.0 and np.isnan(d[0, 2])


def test_euclidean_diagonal_is_zero_even_for_non_finite_columns():
    x = np.array([[INF, 1.0], [NAN, 2.0]])
    d = q.pairwise_euclidean_cols_np(x)
    assert d[0, 0] == d[1, 1] == 0.0 and np.isnan(d[0, 1])


# ---------------------------------------------------------------- input layouts

@pytest.mark.parametrize("name", MATRIX_FUNCS)
def test_layouts_and_float32(name, rng):
    base = rng.standard_normal((13, 9))
    f = getattr(q, name)
    want = f(base)
    for view in (np.asfortranarray(base), base[::-1][::-1], np.ascontiguousarray(base.T).T):
        assert_same(f(view), want)
    # A transposed view is the transposed matrix, not the same data re-read.
    assert_same(f(base.T), f(np.ascontiguousarray(base.T)))
    assert_same(f(base[::-2, ::3]), f(np.ascontiguousarray(base[::-2, ::3])))
    x32 = base.astype(np.float32)
    assert_same(f(x32), f(x32.astype(np.float64)))
    ro = base.copy()
    ro.flags.writeable = False
    assert_same(f(ro), want)
    assert (ro == base).all()


@pytest.mark.parametrize("name", MATRIX_FUNCS + ["diag_np", "trace_np"])
@pytest.mark.parametrize("bad", [[[1.0, 2.0]], np.ones(3), np.ones((2, 2, 2)), np.ones((2, 2), dtype=np.int64),
                                 np.ones((2, 2), dtype=np.float16), np.ones((2, 2), dtype=">f8"), None])
def test_refused_matrices(name, bad):
    with pytest.raises(TypeError) as e:
        getattr(q, name)(bad)
    assert str(e.value) == "expected a 2D NumPy array of dtype float32 or float64"


def test_inputs_are_left_untouched(rng):
    x = rng.standard_normal((30, 6))
    x[3, 2] = NAN
    keep = x.copy()
    for name in MATRIX_FUNCS:
        getattr(q, name)(x)
    assert_same(x, keep)


def test_zero_size_inputs_of_huge_shape_finish_at_once():
    # 2**59 rows of no columns hold no data; a walk over the rows would never end, so the
    # calls run in a child interpreter under a time limit.
    code = textwrap.dedent("""
        import numpy as np
        import quarnel_ext as q
        names = %r
        for dtype in (np.float64, np.float32):
            tall = np.empty((2**59, 0), dtype=dtype)
            for x in (tall, np.lib.stride_tricks.as_strided(tall, tall.shape, (8, 16))):
                for name in names:
                    got = getattr(q, name)(x)
                    assert got.shape == (0, 0), name
                    try:
                        getattr(q, name)(x.T)
                    except MemoryError:
                        pass
                    else:
                        raise AssertionError(name)
                assert q.is_symmetric_np(x, 0.0) is False
        print("ok")
    """ % [n for n in MATRIX_FUNCS if not n.startswith("xxt")])
    proc = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert proc.stdout.strip() == "ok", proc.stderr


def test_xxt_sizes_that_cannot_be_allocated():
    for rows in (2**32, 2**31, 2**40):
        with pytest.raises(MemoryError):
            q.xxt_matrix_np(np.empty((rows, 0)))


# ---------------------------------------------------------------- diagonal, trace, symmetry

def test_diag_and_trace(rng):
    a = rng.standard_normal((6, 6))
    d = q.diag_np(a)
    assert_same(d, np.diag(a))
    assert d.flags.owndata or d.base is not a
    assert q.trace_np(a) == seq_sum(np.diag(a))
    assert q.trace_np(a) == pytest.approx(np.trace(a), rel=1e-14)
    assert q.trace_np(np.zeros((0, 0))) == 0.0
    assert q.diag_np(np.zeros((0, 0))).shape == (0,)
    assert_same(q.diag_np(a.T.astype(np.float32)), np.diag(a.T.astype(np.float32)).astype(float))
    for f, name in ((q.diag_np, "diag_np"), (q.trace_np, "trace_np")):
        with pytest.raises(ValueError) as e:
            f(np.ones((3, 2)))
        assert str(e.value) == f"{name} expects a square 2D array"


SYM = np.array([[1.0, 2.0, 3.0], [2.0, 5.0, 6.0], [3.0, 6.0, 9.0]])


def with_pair(upper, lower):
    a = SYM.copy()
    a[0, 2], a[2, 0] = upper, lower
    return a


@pytest.mark.parametrize("a, tol, want", [
    (SYM, 0.0, True),
    (np.ones((2, 3)), 1e9, False),
    (np.zeros((0, 0)), 0.0, True),
    (with_pair(1e-300, 2e-300), 0.0, False),
    (with_pair(0.0, 1e-300), 0.0, False),
    (with_pair(3.0, 3.5), 0.5, True),              # a difference equal to tol passes
    (with_pair(3.0, 3.5), 0.4999, False),
    (with_pair(3.0, 4.0), NAN, True),              # a NaN tol never fails a numeric pair
    (with_pair(NAN, NAN), 0.0, True),              # two NaN count as equal
    (with_pair(NAN, 5.0), 0.0, False),             # a NaN against a number does not
    (with_pair(5.0, NAN), 1e300, False),
    (with_pair(NAN, 5.0), NAN, False),
    (with_pair(INF, INF), 0.0, True),
    (with_pair(INF, -INF), 1e300, False),
])
def test_is_symmetric(a, tol, want):
    assert q.is_symmetric_np(a, tol) is want


def test_is_symmetric_against_peer_and_argument_order(rng):
    for _ in range(20):
        a = rng.standard_normal((5, 5))
        a = a + a.T
        a[1, 3] += rng.choice([0.0, 1e-9, 1e-3])
        tol = rng.choice([0.0, 1e-6])
        assert q.is_symmetric_np(a, tol) is bool(np.allclose(a, a.T, rtol=0, atol=tol))
    assert q.is_symmetric_np(SYM.astype(np.float32), 0) is True
    # tol is converted before the matrix is examined.
    with pytest.raises(TypeError, match="^argument 'tol': "):
        q.is_symmetric_np([[1.0]], "x")
    with pytest.raises(TypeError, match="^expected a 2D NumPy array"):
        q.is_symmetric_np([[1.0]], 0.0)


def test_cov_matrix_nan_results_stay_symmetric():
    c = q.cov_matrix_np(np.ones((1, 4)))
    assert q.is_symmetric_np(c, 0.0) is True
