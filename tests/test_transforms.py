"""Transforms, outlier flags, the Gaussian KDE and axis means."""
import itertools
import math

import numpy as np
import pandas as pd
import pytest
import scipy.stats

import quarnel_ext as q

NAN = math.nan
I64_MAX = 2**63 - 1


def arr(*v):
    return np.array(v, dtype=float)


def in_order_sum(a, axis=-1):
    # numpy's cumsum adds strictly in index order, unlike its pairwise sum().
    return np.cumsum(a, axis=axis).take(-1, axis=axis)


def same_bits(x, y):
    x, y = np.asarray(x), np.asarray(y)
    return x.shape == y.shape and x.dtype == y.dtype and x.tobytes() == y.tobytes()


def assert_same(x, y):
    """Equal values with NaN in the same places and the same sign of every zero."""
    x, y = np.asarray(x), np.asarray(y)
    assert x.shape == y.shape and x.dtype == y.dtype
    np.testing.assert_array_equal(x, y)
    if x.dtype.kind == "f":
        numbers = ~np.isnan(x)
        assert np.array_equal(np.signbit(x[numbers]), np.signbit(y[numbers]))


# ---------------------------------------------------------------- oracles on random data


@pytest.fixture
def data(rng):
    return rng.normal(3.0, 2.0, 1001)


def test_zscore_matches_in_order_formula_and_scipy(data):
    n = data.size
    m = in_order_sum(data) / n
    s = math.sqrt(in_order_sum((data - m) ** 2) / (n - 1))
    z = q.zscore_np(data)
    assert same_bits(z, (data - m) / s)
    np.testing.assert_allclose(z, scipy.stats.zscore(data, ddof=1), rtol=1e-12, atol=1e-13)


def test_zscore_skipna_matches_scipy_omit(data):
    x = data.copy()
    x[::7] = NAN
    z = q.zscore_skipna_np(x)
    assert np.array_equal(np.isnan(z), np.isnan(x))
    np.testing.assert_allclose(z, scipy.stats.zscore(x, ddof=1, nan_policy="omit"), rtol=1e-12, atol=1e-13)
    kept = x[~np.isnan(x)]
    m = in_order_sum(kept) / kept.size
    s = math.sqrt(in_order_sum((kept - m) ** 2) / (kept.size - 1))
    assert same_bits(z, (x - m) / s)


@pytest.mark.parametrize("n", [1000, 1001])
def test_robust_scale_matches_median_and_mad(rng, n):
    x = rng.standard_t(3, n)
    out, med, mad = q.robust_scale_np(x, 1.4826)
    assert med == np.median(x)
    assert mad == scipy.stats.median_abs_deviation(x)
    assert same_bits(out, (x - med) / (1.4826 * mad))


def test_minmax_scale_matches_numpy(data):
    out, lo, hi = q.minmax_scale_np(data)
    assert (lo, hi) == (data.min(), data.max())
    assert same_bits(out, (data - lo) / (hi - lo))


def sequential_minmax(x):
    lo = hi = x[0]
    for v in x[1:]:
        lo = v if v < lo else lo
        hi = v if v > hi else hi
    return lo, hi


@pytest.mark.parametrize("n", range(1, 14))
def test_minmax_bounds_follow_the_sequential_rule(rng, n):
    # Zeros of both signs and NaNs, at every length around the lane width: the bounds are
    # the first element holding the extreme value, and a leading NaN wins.
    for _ in range(20):
        x = rng.choice(arr(0.0, -0.0, 1.0, -1.0, NAN, 0.0, -0.0), n)
        _, lo, hi = q.minmax_scale_np(x)
        assert same_bits(arr(lo, hi), arr(*sequential_minmax(x)))


@pytest.mark.parametrize("lq, uq", [(0.0, 1.0), (0.05, 0.95), (0.1, 0.3), (0.5, 0.5000001)])
def test_winsorize_matches_clip_of_percentiles(data, lq, uq):
    expect = np.clip(data, np.percentile(data, lq * 100), np.percentile(data, uq * 100))
    assert same_bits(q.winsorize_np(data, lq, uq), expect)


@pytest.mark.parametrize("lo, hi", [(1.0, 4.0), (4.0, 1.0), (-math.inf, 2.0), (3.0, 3.0)])
def test_winsorize_clip_matches_numpy(data, lo, hi):
    assert same_bits(q.winsorize_clip_np(data, lo, hi), np.clip(data, min(lo, hi), max(lo, hi)))


@pytest.mark.parametrize("p", [1, 2, 7, -1, -3, 1000, -1000])
def test_diff_and_pct_change_match_pandas(data, p):
    s = pd.Series(data)
    assert same_bits(q.diff_np(data, p), s.diff(p).to_numpy())
    np.testing.assert_allclose(q.pct_change_np(data, p), s.pct_change(periods=p, fill_method=None).to_numpy(),
                               rtol=1e-13, atol=1e-15)


def test_diff_default_period_is_one(data):
    assert same_bits(q.diff_np(data), q.diff_np(data, 1))
    assert same_bits(q.diff_np(a=data, periods=1), q.diff_np(data, 1))


def test_cumulative_sums_are_in_order(data):
    x = data.copy()
    x[500] = NAN
    assert same_bits(q.cumsum_np(x), np.cumsum(x))
    assert same_bits(q.cummean_np(x), np.cumsum(x) / np.arange(1, x.size + 1))
    assert np.isnan(q.cummean_np(x)[500:]).all()


@pytest.mark.parametrize("alpha", [0.01, 0.3, 1.0])
def test_ewma_matches_pandas(data, alpha):
    expect = pd.Series(data).ewm(alpha=alpha, adjust=False).mean().to_numpy()
    np.testing.assert_allclose(q.ewma_np(data, alpha), expect, rtol=1e-14)


@pytest.mark.parametrize("n", [5, 255, 256, 4000])  # both sides of the radix-sort threshold
def test_ecdf_matches_sort(rng, n):
    x = np.round(rng.normal(size=n), 1) + 0.0  # plenty of ties; no -0.0, which numpy ties with +0.0
    xs, p = q.ecdf_np(x)
    assert same_bits(xs, np.sort(x))
    assert same_bits(p, np.arange(1, n + 1) / n)


def test_ecdf_orders_by_total_order():
    neg_nan = -np.abs(np.float64(NAN))
    x = arr(NAN, 0.0, -0.0, math.inf, -math.inf, 1.0, neg_nan, -1.0)
    xs, _ = q.ecdf_np(x)
    expect = arr(neg_nan, -math.inf, -1.0, -0.0, 0.0, 1.0, math.inf, NAN)
    assert same_bits(np.signbit(xs), np.signbit(expect))
    assert_same(xs, expect)


def bins_by_ranges(x, k):
    """The bin rule written as ranges of sorted positions."""
    n = len(x)
    order = sorted(range(n), key=lambda j: x[j])  # stable
    out = [None] * n
    start = 0
    for b in range(k):
        end = n if b == k - 1 else n * (b + 1) // k
        for r in range(start, end):
            out[order[r]] = b
        start = end
    return np.array(out, dtype=np.int64)


@pytest.mark.parametrize("n, k", [(1, 1), (1, 5), (10, 3), (10, 10), (7, 20), (30, 4), (300, 7), (300, 1000)])
def test_quantile_bins_match_sorted_ranges(rng, n, k):
    x = rng.integers(0, 5, n).astype(float)  # ties: equal values keep index order
    assert same_bits(q.quantile_bins_np(x, k), bins_by_ranges(list(x), k))


@pytest.mark.parametrize("k", [1, 10, 999, 10**6, 2**40 + 3])
def test_quantile_bins_match_argsort_formula(rng, k):
    x = np.round(rng.normal(size=5000), 2) + 0.0
    r = np.empty(x.size, dtype=object)
    r[np.argsort(x, kind="stable")] = np.arange(x.size)
    expect = np.array([(k * (int(ri) + 1) - 1) // x.size for ri in r], dtype=np.int64)
    assert same_bits(q.quantile_bins_np(x, k), expect)


def test_quantile_bins_with_the_largest_bin_count():
    # k (r + 1) overflows 64 bits here; bins still follow the exact rule.
    x = arr(4, 3, 2, 1, 0)
    expect = np.array([(I64_MAX * (r + 1) - 1) // 5 for r in (4, 3, 2, 1, 0)], dtype=np.int64)
    assert same_bits(q.quantile_bins_np(x, I64_MAX), expect)
    assert q.quantile_bins_np(x, I64_MAX)[0] == I64_MAX - 1


def test_sign_mask_and_demean(data):
    x = np.concatenate([data, arr(0.0, -0.0, NAN, math.inf, -math.inf)])
    s = q.sign_mask_np(x)
    assert s.dtype == np.int8
    assert same_bits(s, np.where(x > 0, 1, np.where(x < 0, -1, 0)).astype(np.int8))
    d, ds = q.demean_with_signs_np(data)
    assert same_bits(d, data - in_order_sum(data) / data.size)
    assert same_bits(ds, q.sign_mask_np(d))


@pytest.mark.parametrize("k", [0.5, 1.5, 3.0])
def test_iqr_outliers_match_numpy(rng, k):
    x = rng.standard_t(2, 2001)
    q1, q3 = np.percentile(x, [25, 75])
    expect = (x > q3 + k * (q3 - q1)) | (x < q1 - k * (q3 - q1))
    out = q.iqr_outliers_np(x, k)
    assert out.dtype == np.bool_ and same_bits(out, expect)
    assert same_bits(q.iqr_outliers_np(x), q.iqr_outliers_np(x, 1.5))


@pytest.mark.parametrize("t", [1.0, 2.0, 3.0])
def test_zscore_outliers_match_scipy(rng, t):
    x = rng.standard_t(2, 2001)
    out = q.zscore_outliers_np(x, t)
    assert out.dtype == np.bool_
    assert same_bits(out, np.abs(q.zscore_np(x)) > t)
    assert same_bits(out, np.abs(scipy.stats.zscore(x, ddof=1)) > t)
    assert same_bits(q.zscore_outliers_np(x), q.zscore_outliers_np(x, 3.0))


@pytest.mark.parametrize("bw", [None, 0.3])
@pytest.mark.parametrize("points", [2, 200])
def test_kde_matches_scipy(rng, bw, points):
    x = rng.normal(size=500)
    grid, dens = q.kde_gaussian_np(x, points, bw)
    sd = np.std(x, ddof=1)
    h = bw if bw is not None else x.size ** -0.2 * sd
    np.testing.assert_allclose(grid, np.linspace(x.min() - 3 * h, x.max() + 3 * h, points), rtol=1e-14, atol=1e-14)
    kde = scipy.stats.gaussian_kde(x, bw_method=None if bw is None else bw / sd)
    np.testing.assert_allclose(dens, kde(grid), rtol=1e-12)


def test_kde_single_point_grid_is_the_centre(rng):
    x = rng.normal(size=50)
    grid, dens = q.kde_gaussian_np(x, points=1, bandwidth=0.5)
    assert grid[0] == ((x.min() - 1.5) + (x.max() + 1.5)) * 0.5
    u = (grid[0] - x) / 0.5
    np.testing.assert_allclose(dens[0], np.exp(-0.5 * u * u).sum() / (50 * 0.5 * math.sqrt(2 * math.pi)), rtol=1e-14)


def strided_layouts(m):
    yield "C", m
    yield "F", np.asfortranarray(m)
    yield "T", m.T.copy().T
    yield "reversed", m[::-1, ::-1]
    yield "rows reversed", m[::-1]
    yield "sliced", np.ascontiguousarray(np.repeat(np.repeat(m, 2, 0), 3, 1))[::2, ::3]


@pytest.mark.parametrize("shape", [(7, 5), (3, 300), (300, 6), (1, 9), (9, 1)])
def test_mean_axis_matches_in_order_means(rng, shape):
    base = rng.normal(size=shape)
    base[rng.random(shape) < 0.1] = NAN
    for layout, m in strided_layouts(base):
        for axis in (0, 1):
            plain = q.mean_axis_np(m, axis)
            assert same_bits(plain, in_order_sum(m, axis) / m.shape[axis]), layout
            kept = (~np.isnan(m)).sum(axis)
            with np.errstate(invalid="ignore"):
                expect = in_order_sum(np.where(np.isnan(m), 0.0, m), axis) / kept
            assert same_bits(q.mean_axis_np(m, axis, True), expect), layout
            assert same_bits(q.mean_axis_np(m, axis, skipna=False), plain)
            clean = np.nan_to_num(m)
            np.testing.assert_allclose(q.mean_axis_np(clean, axis), np.mean(clean, axis=axis), rtol=1e-12)


def test_mean_axis_skipna_all_nan_line_and_empty_lines():
    m = arr(NAN, 1.0, NAN, 3.0).reshape(2, 2)
    assert_same(q.mean_axis_np(m, 0, True), arr(NAN, 2.0))
    assert_same(q.mean_axis_np(np.empty((0, 3)), 0), arr(NAN, NAN, NAN))
    assert q.mean_axis_np(np.empty((0, 3)), 1).shape == (0,)


def test_mean_axis_one_dimensional():
    v = arr(1.0, NAN, 4.0)
    assert_same(q.mean_axis_np(v, 0), arr(NAN))
    assert_same(q.mean_axis_np(v, 0, True), arr(2.5))
    assert_same(q.mean_axis_np(np.empty(0), 0), arr(NAN))
    assert_same(q.mean_axis_np(np.arange(10.0)[::-3][:1], 0), arr(9.0))  # one element: any stride


@pytest.mark.parametrize("shape", [(5,), (2, 3, 4), (4, 1, 9), (3, 0), (0, 4), (2, 3, 2, 5)])
def test_mean_over_last_axis_any_layout(rng, shape):
    base = rng.normal(size=shape)
    with np.errstate(invalid="ignore"):
        expect = (in_order_sum(base) / shape[-1]).reshape(-1) if base.size else np.full(
            math.prod(shape[:-1]), NAN)
    views = [base, np.asfortranarray(base), base[(slice(None, None, -1),) * base.ndim]]
    if base.ndim >= 2:
        views.append(np.swapaxes(np.swapaxes(base, 0, -1).copy(), 0, -1))
    if base.ndim >= 3:  # every memory order of the axes, and a strided window
        for perm in itertools.permutations(range(base.ndim)):
            inverse = np.argsort(perm)
            views.append(np.transpose(np.transpose(base, perm).copy(), inverse))
        views.append(np.repeat(base, 2, axis=1)[:, ::2])
    for v in views:
        got = q.mean_over_last_axis_dyn_np(v)
        c = np.ascontiguousarray(v)
        with np.errstate(invalid="ignore"):
            want = (in_order_sum(c) / shape[-1]).reshape(-1) if c.size else expect
        assert_same(got, want)


@pytest.mark.parametrize("view", [
    lambda b: b.reshape(2, 1, 8, 5)[:, :, :4, :],  # strides (320, 320, 40, 8)
    lambda b: np.lib.stride_tricks.as_strided(b, (3, 1, 4, 2), (96, 96, 16, 8)),
    lambda b: np.lib.stride_tricks.as_strided(b, (3, 1, 4, 1), (96, 96, 16, 0)),
    lambda b: b.reshape(8, 10)[::2, None, ::3],  # a new axis of stride 0 between two others
])
def test_mean_over_last_axis_length_one_axes_with_any_stride(rng, view):
    # A leading axis of length 1 may carry any stride; it must not be taken for the
    # step between the lines of the axes around it.
    v = view(rng.normal(size=80))
    got = q.mean_over_last_axis_dyn_np(v)
    c = np.ascontiguousarray(v)
    assert_same(got, (in_order_sum(c) / c.shape[-1]).reshape(-1))


def test_mean_over_last_axis_zero_dim_and_signed_zero():
    assert_same(q.mean_over_last_axis_dyn_np(np.array(2.5)), arr(2.5))
    assert_same(q.mean_over_last_axis_dyn_np(np.full((2, 2), -0.0)), arr(-0.0, -0.0))
    assert_same(q.mean_axis_np(np.full((2, 2), -0.0), 1), arr(0.0, 0.0))  # sums start at +0.0


# ---------------------------------------------------------------- stated values and edge cases

@pytest.mark.parametrize("fn, args, expect", [
    (q.zscore_np, (arr(5, 5, 5),), arr(NAN, NAN, NAN)),
    (q.zscore_np, (arr(1),), arr(NAN)),
    (q.zscore_np, (arr(1, 2, math.inf),), arr(NAN, NAN, NAN)),
    (q.zscore_np, (arr(1, NAN, 3),), arr(NAN, NAN, NAN)),
    (q.zscore_skipna_np, (arr(1, NAN, 3),), arr(-1 / math.sqrt(2), NAN, 1 / math.sqrt(2))),
    (q.zscore_skipna_np, (arr(1, NAN, math.inf),), arr(NAN, NAN, NAN)),
    (q.zscore_skipna_np, (arr(NAN, 2),), arr(NAN, NAN)),
    (q.winsorize_np, (arr(1, NAN, 100), 0.1, 0.9), arr(1, NAN, 100)),
    (q.winsorize_np, (arr(1, 2, 3, 4, 5), 0.25, 0.75), arr(2, 2, 3, 4, 4)),
    (q.winsorize_clip_np, (arr(1, 5, 10), 8, 2), arr(2, 5, 8)),
    (q.winsorize_clip_np, (arr(1, NAN, 10), 2, 8), arr(2, NAN, 8)),
    (q.winsorize_clip_np, (arr(1, 5, 10), NAN, 4), arr(4, 5, 10)),  # lo = upper, hi = NaN
    (q.diff_np, (arr(1, 4, 9),), arr(NAN, 3, 5)),
    (q.diff_np, (arr(1, 4, 9), -1), arr(-3, -5, NAN)),
    (q.diff_np, (arr(1, NAN, math.inf), 0), arr(0, 0, 0)),
    (q.diff_np, (arr(1, 2), 5), arr(NAN, NAN)),
    (q.diff_np, (arr(1, 2), -2), arr(NAN, NAN)),
    (q.diff_np, (arr(1, 2), -2**63), arr(NAN, NAN)),
    (q.diff_np, (arr(1, 2), I64_MAX), arr(NAN, NAN)),
    (q.pct_change_np, (arr(0, 5, 10), 1), arr(NAN, NAN, 1.0)),
    (q.pct_change_np, (arr(4, 2, 1), -1), arr(1.0, 1.0, NAN)),
    (q.pct_change_np, (arr(NAN, 5, 10), 1), arr(NAN, NAN, 1.0)),
    (q.pct_change_np, (arr(1, 2, 3), 0), arr(NAN, NAN, NAN)),
    (q.pct_change_np, (arr(1, 2), -2**63), arr(NAN, NAN)),
    (q.cumsum_np, (arr(-0.0, -0.0),), arr(-0.0, -0.0)),
    (q.cummean_np, (arr(1, 2, 6),), arr(1, 1.5, 3)),
    (q.ewma_np, (arr(1, 3), 0.5), arr(1, 2)),
    (q.ewma_np, (arr(1, 3, 5), 1.0), arr(1, 3, 5)),
    (q.pad_nan_np, (3,), arr(NAN, NAN, NAN)),
])
def test_stated_values(fn, args, expect):
    assert_same(fn(*args), expect)


def test_robust_scale_cases():
    out, med, mad = q.robust_scale_np(arr(1, 1, 1, 5), 1.4826)
    assert_same(out, arr(0, 0, 0, 4e12))
    assert (med, mad) == (1.0, 0.0)
    out, med, mad = q.robust_scale_np(arr(1, 2, 3, 4, 100), 2.0)
    assert (med, mad) == (3.0, 1.0) and out[-1] == 48.5
    out, med, mad = q.robust_scale_np(arr(1, NAN, 3), 1.0)
    assert np.isnan(out).all() and out.shape == (3,) and math.isnan(med) and math.isnan(mad)
    # The middle pair overflows to an infinite median; the deviations, sorted, are
    # [inf, inf, inf, NaN], so the MAD is inf although one deviation is NaN.
    out, med, mad = q.robust_scale_np(arr(1e308, 2, math.inf, 1e308), 1.0)
    assert (med, mad) == (math.inf, math.inf) and np.isnan(out).all()
    out, med, mad = q.robust_scale_np(arr(1, math.inf, math.inf, 2), 1.0)  # two NaN deviations
    assert med == math.inf and math.isnan(mad)


def test_minmax_scale_cases():
    for x, expect, lo, hi in [
        (arr(2, NAN, 4), arr(0, NAN, 1), 2.0, 4.0),
        (arr(NAN, 1, 2), arr(NAN, NAN, NAN), NAN, NAN),
        (arr(3, 3), arr(0, 0), 3.0, 3.0),
        (arr(7), arr(0), 7.0, 7.0),
    ]:
        out, got_lo, got_hi = q.minmax_scale_np(x)
        assert_same(out, expect)
        assert_same(arr(got_lo, got_hi), arr(lo, hi))


def test_ecdf_and_bins_stated():
    xs, p = q.ecdf_np(arr(3, 1, 3))
    assert_same(xs, arr(1, 3, 3))
    assert_same(p, arr(1 / 3, 2 / 3, 1))
    bins = q.quantile_bins_np(arr(10, 20, 30, 40), 2)
    assert bins.dtype == np.int64 and bins.tolist() == [0, 0, 1, 1]
    assert sorted(set(q.quantile_bins_np(arr(3, 1, 2), 7).tolist())) == [2, 4, 6]
    # total order: -NaN first, +NaN last, -0.0 before +0.0
    neg_nan = -np.abs(np.float64(NAN))
    assert q.quantile_bins_np(arr(NAN, 1, neg_nan, 0.0, -0.0), 5).tolist() == [4, 3, 0, 2, 1]


def test_outlier_flags_stated():
    assert q.iqr_outliers_np(arr(1, 2, 3, 4, 100)).tolist() == [False] * 4 + [True]
    assert q.iqr_outliers_np(arr(1, NAN)).tolist() == [False, False]
    assert q.iqr_outliers_np(arr(1, 2, math.inf, math.inf)).tolist() == [False] * 4  # iqr inf - inf
    for x in (arr(1), arr(4, 4, 4), arr(1, NAN, 100)):
        assert not q.zscore_outliers_np(x, 0.0).any()
    assert q.zscore_outliers_np(arr(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 10)).tolist() == [False] * 11 + [True]


@pytest.mark.parametrize("fn, extra, kinds", [
    (q.zscore_np, (), ("f8",)),
    (q.zscore_skipna_np, (), ("f8",)),
    (q.robust_scale_np, (1.0,), ("f8", None, None)),
    (q.minmax_scale_np, (), ("f8", None, None)),
    (q.winsorize_np, (0.1, 0.9), ("f8",)),
    (q.winsorize_clip_np, (0.0, 1.0), ("f8",)),
    (q.diff_np, (0,), ("f8",)),
    (q.pct_change_np, (1,), ("f8",)),
    (q.cumsum_np, (), ("f8",)),
    (q.cummean_np, (), ("f8",)),
    (q.ewma_np, (0.5,), ("f8",)),
    (q.ecdf_np, (), ("f8", "f8")),
    (q.quantile_bins_np, (3,), ("i8",)),
    (q.sign_mask_np, (), ("i1",)),
    (q.demean_with_signs_np, (), ("f8", "i1")),
    (q.iqr_outliers_np, (), ("?",)),
    (q.zscore_outliers_np, (), ("?",)),
])
def test_empty_input_and_result_types(fn, extra, kinds):
    res = fn(np.empty(0), *extra)
    items = res if isinstance(res, tuple) else (res,)
    assert len(items) == len(kinds)
    for item, kind in zip(items, kinds):
        if kind is None:
            assert math.isnan(item)
        else:
            assert item.shape == (0,) and item.dtype == np.dtype(kind)
            assert item.flags.c_contiguous and item.flags.writeable and item.flags.owndata
    # and the same types on data
    res = fn(arr(3, 1, 2), *extra)
    for item, kind in zip(res if isinstance(res, tuple) else (res,), kinds):
        if kind is not None:
            assert item.shape == (3,) and item.dtype == np.dtype(kind) and item.flags.writeable


# ---------------------------------------------------------------- errors and their order

ONE_D = [
    (q.zscore_np, ()), (q.zscore_skipna_np, ()), (q.robust_scale_np, (1.0,)), (q.minmax_scale_np, ()),
    (q.winsorize_np, (0.1, 0.9)), (q.winsorize_clip_np, (0.0, 1.0)), (q.diff_np, ()), (q.pct_change_np, (1,)),
    (q.cumsum_np, ()), (q.cummean_np, ()), (q.ewma_np, (0.5,)), (q.ecdf_np, ()), (q.quantile_bins_np, (2,)),
    (q.sign_mask_np, ()), (q.demean_with_signs_np, ()), (q.iqr_outliers_np, ()), (q.zscore_outliers_np, ()),
    (q.kde_gaussian_np, (200, 1.0)),
]


@pytest.mark.parametrize("fn, extra", ONE_D)
def test_non_contiguous_and_wrong_types_refused(fn, extra):
    with pytest.raises(TypeError, match="^The given array is not contiguous$"):
        fn(np.arange(10.0)[::2], *extra)
    with pytest.raises(TypeError, match=r"^argument '(a|x)': 'list' object cannot be converted"):
        fn([1.0, 2.0], *extra)
    with pytest.raises(TypeError, match=r"^argument '(a|x)': 'ndarray' object cannot be converted"):
        fn(np.arange(3), *extra)
    res = fn(np.arange(10.0)[::-1][:1], *extra)  # length 1: contiguous whatever the stride
    assert res is not None


@pytest.mark.parametrize("call, message", [
    (lambda a: q.winsorize_np(a, 0.1, 0.1), "winsorize quantiles must satisfy 0 <= lower_q < upper_q <= 1"),
    (lambda a: q.winsorize_np(a, -0.1, 0.5), "winsorize quantiles must satisfy 0 <= lower_q < upper_q <= 1"),
    (lambda a: q.winsorize_np(a, 0.5, 1.5), "winsorize quantiles must satisfy 0 <= lower_q < upper_q <= 1"),
    (lambda a: q.winsorize_np(a, NAN, 0.5), "winsorize quantiles must satisfy 0 <= lower_q < upper_q <= 1"),
    (lambda a: q.winsorize_np(a, 0.1, NAN), "winsorize quantiles must satisfy 0 <= lower_q < upper_q <= 1"),
    (lambda a: q.ewma_np(a, 0.0), "alpha must satisfy 0 < alpha <= 1"),
    (lambda a: q.ewma_np(a, 1.5), "alpha must satisfy 0 < alpha <= 1"),
    (lambda a: q.ewma_np(a, NAN), "alpha must satisfy 0 < alpha <= 1"),
    (lambda a: q.ewma_np(a, math.inf), "alpha must satisfy 0 < alpha <= 1"),
    (lambda a: q.quantile_bins_np(a, 0), "n_bins must be >= 1"),
    (lambda a: q.quantile_bins_np(a, 2**63), "n_bins must be <= 9223372036854775807"),
    (lambda a: q.quantile_bins_np(a, 2**64 - 1), "n_bins must be <= 9223372036854775807"),
])
def test_value_checks_come_before_contiguity(call, message):
    for a in (arr(1, 2, 3), np.arange(10.0)[::2]):
        with pytest.raises(ValueError) as e:
            call(a)
        assert str(e.value) == message


@pytest.mark.parametrize("args, kwargs, message", [
    ((arr(1, 2),), {"points": 0}, "points must be >= 1"),
    ((np.empty(0),), {"points": 0}, "points must be >= 1"),
    ((np.empty(0),), {}, "x must have at least 1 element"),
    ((np.empty(0),), {"bandwidth": -1.0}, "x must have at least 1 element"),
    ((arr(1, NAN),), {"bandwidth": -1.0}, "x contains NaN or Inf"),
    ((arr(1, -math.inf),), {}, "x contains NaN or Inf"),
    ((arr(1, 2),), {"bandwidth": 0.0}, "bandwidth must be a positive finite number"),
    ((arr(1, 2),), {"bandwidth": -2.0}, "bandwidth must be a positive finite number"),
    ((arr(1, 2),), {"bandwidth": math.inf}, "bandwidth must be a positive finite number"),
    ((arr(1, 2),), {"bandwidth": NAN}, "bandwidth must be a positive finite number"),
    ((arr(1),), {}, "cannot infer a bandwidth from constant or singleton data; pass bandwidth explicitly"),
    ((arr(2, 2, 2),), {"bandwidth": None}, "cannot infer a bandwidth from constant or singleton data; pass bandwidth explicitly"),
    ((arr(-1e300, 1e300),), {}, "cannot infer a bandwidth from constant or singleton data; pass bandwidth explicitly"),
])
def test_kde_errors_in_order(args, kwargs, message):
    with pytest.raises(ValueError) as e:
        q.kde_gaussian_np(*args, **kwargs)
    assert str(e.value) == message


def test_kde_checks_contiguity_first_and_accepts_singletons_with_bandwidth():
    with pytest.raises(TypeError, match="^The given array is not contiguous$"):
        q.kde_gaussian_np(np.arange(10.0)[::2], points=0)
    grid, dens = q.kde_gaussian_np(arr(1.0), bandwidth=0.5)
    assert grid.shape == dens.shape == (200,) and grid[0] == -0.5 and grid[-1] == 2.5
    assert dens.max() == dens[np.argmin(np.abs(grid - 1.0))]


@pytest.mark.parametrize("x, axis, message", [
    (arr(1, 2), 1, "mean_axis_np: for 1D input, axis must be 0"),
    (arr(1, 2), -1, "mean_axis_np: for 1D input, axis must be 0"),
    (np.arange(10.0)[::2], 0, "mean_axis_np: 1D input must be contiguous"),
    (np.arange(10.0)[::-1], 0, "mean_axis_np: 1D input must be contiguous"),
    (np.ones((2, 2)), 2, "mean_axis_np: for 2D input, axis must be 0 or 1"),
    (np.ones((2, 2)), -1, "mean_axis_np: for 2D input, axis must be 0 or 1"),
    (np.ones((2, 2, 2)), 0, "mean_axis_np currently supports only 1D or 2D arrays"),
    (np.array(1.0), 0, "mean_axis_np currently supports only 1D or 2D arrays"),
])
def test_mean_axis_errors(x, axis, message):
    with pytest.raises(ValueError) as e:
        q.mean_axis_np(x, axis)
    assert str(e.value) == message


def test_argument_kinds():
    with pytest.raises(TypeError, match="^argument 'skipna': "):
        q.mean_axis_np(np.ones((2, 2)), 0, 1)
    assert same_bits(q.mean_axis_np(np.ones((2, 2)), 0, np.True_), arr(1, 1))
    with pytest.raises(OverflowError):
        q.quantile_bins_np(arr(1, 2), -1)
    with pytest.raises(OverflowError):
        q.diff_np(arr(1, 2), 2**63)
    with pytest.raises(TypeError, match="^argument 'periods': "):
        q.diff_np(arr(1, 2), 1.0)
    with pytest.raises(TypeError, match=r"^pct_change_np\(\) missing 1 required positional argument: 'periods'$"):
        q.pct_change_np(arr(1, 2))
    assert q.kde_gaussian_np.__text_signature__ == "(x, points=200, bandwidth=None)"
    assert q.kde_gaussian_np.__doc__
    assert q.zscore_np.__doc__ is None


@pytest.mark.parametrize("call", [
    lambda: q.pad_nan_np(2**63),
    lambda: q.pad_nan_np(2**64 - 1),
    lambda: q.pad_nan_np(2**62),
    lambda: q.kde_gaussian_np(arr(1, 2), points=2**62),
    lambda: q.kde_gaussian_np(arr(1, 2), points=2**64 - 1),
])
def test_unallocatable_sizes_raise_memory_error(call):
    with pytest.raises(MemoryError):
        call()


def test_inputs_are_left_untouched(rng):
    x = rng.normal(size=300)
    x.flags.writeable = False
    before = x.copy()
    for fn, extra in ONE_D:
        fn(x, *extra)
    assert same_bits(x, before)
