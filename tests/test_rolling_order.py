import math

import bottleneck as bn
import numpy as np
import pandas as pd
import pytest
from numpy.lib.stride_tricks import sliding_window_view

import quarnel_ext as q

nan, inf = math.nan, math.inf

WINDOWED = [q.rolling_min, q.rolling_max, q.rolling_range, q.rolling_cv, q.rolling_count_above,
            q.rolling_pct_above]


def same(a, b):
    """Bit-identical, NaN matching NaN."""
    a, b = np.asarray(a, dtype=float), np.asarray(b, dtype=float)
    return a.shape == b.shape and bool(np.all((a.view(np.int64) == b.view(np.int64)) | (np.isnan(a) & np.isnan(b))))


def windows_holding(mask, w):
    return np.convolve(mask.astype(int), np.ones(w, int), mode="valid") > 0


# ---------------------------------------------------------------- interface

def test_docstrings_and_defaults():
    docs = {
        q.rolling_min: "Rolling minimum using monotonic deque (O(1) amortized)",
        q.rolling_max: "Rolling maximum using monotonic deque (O(1) amortized)",
        q.rolling_range: "Rolling range (max - min) using two monotonic deques",
        q.rolling_cv: "Rolling coefficient of variation (std / mean) using Welford",
        q.rolling_count_above: "Rolling count of values above threshold (O(1) updates)",
        q.rolling_pct_above: "Rolling percent above threshold (O(1) updates)",
        q.rolling_median: "Rolling median with adaptive algorithm - OPTIMIZED",
    }
    for f, doc in docs.items():
        assert f.__doc__ == doc
    assert q.rolling_count_above.__text_signature__ == "(x, threshold=0.0, window=20)"
    assert q.rolling_median.__text_signature__ == "(x, window)"
    x = np.sin(np.arange(50.0))
    assert same(q.rolling_max(x), q.rolling_max(x, 20))
    assert same(q.rolling_pct_above(x), q.rolling_pct_above(x, 0.0, 20))


@pytest.mark.parametrize("f", WINDOWED)
def test_window_checks(f):
    with pytest.raises(ValueError, match="^window must be >= 1$"):
        f(np.array([]), window=0)
    with pytest.raises(TypeError, match="^The given array is not contiguous$"):
        f(np.arange(10.0)[::2], window=0)  # contiguity comes first
    with pytest.raises(OverflowError):
        f(np.ones(3), window=-1)
    r = f(np.ones(3), window=4)
    assert r.shape == (0,) and r.dtype == np.float64


@pytest.mark.parametrize("w", [10**12, 2**64 - 1])
def test_huge_windows_allocate_nothing(w):
    for f in WINDOWED:
        assert f(np.ones(5), window=w).shape == (0,)
    assert np.isnan(q.rolling_median(np.ones(5), w)).all()


def test_median_window_zero_and_short():
    assert np.isnan(q.rolling_median(np.arange(5.0), 0)).all() and q.rolling_median(np.arange(5.0), 0).shape == (5,)
    assert np.isnan(q.rolling_median(np.arange(3.0), 4)).all() and q.rolling_median(np.arange(3.0), 4).shape == (3,)
    assert q.rolling_median(np.array([]), 0).shape == (0,)
    with pytest.raises(TypeError, match="^The given array is not contiguous$"):
        q.rolling_median(np.arange(10.0)[::2], 0)


def test_small_examples():
    x = np.array([3, 1, 2, 5, 4.0])
    assert same(q.rolling_min(x, window=2), [1, 1, 2, 4])
    assert same(q.rolling_max(x, window=2), [3, 2, 5, 5])
    assert same(q.rolling_range(x, window=2), [2, 1, 3, 1])
    c = np.array([0, 1, 0, 2.0])
    assert same(q.rolling_count_above(c, threshold=0.0, window=2), [1, 1, 1])
    assert same(q.rolling_pct_above(c, threshold=0.0, window=2), [0.5, 0.5, 0.5])
    assert same(q.rolling_median(np.array([5, 1, 3, 2.0]), window=3), [nan, nan, 3, 2])
    assert same(q.rolling_cv(np.array([2, 2, 2, -1, 1.0]), window=2), [0, 0, math.sqrt(4.5) / 0.5, nan])
    assert same(q.rolling_cv(np.arange(1, 6.0), window=1), [nan] * 5)


# ---------------------------------------------------------------- minimum, maximum, range

@pytest.mark.parametrize("w", [1, 2, 3, 10, 64, 333])
def test_minmax_against_bottleneck(w, rng):
    x = np.round(rng.standard_normal(3000), 1)  # many ties
    assert same(q.rolling_min(x, w), bn.move_min(x, w)[w - 1:])
    assert same(q.rolling_max(x, w), bn.move_max(x, w)[w - 1:])
    assert same(q.rolling_range(x, w), bn.move_max(x, w)[w - 1:] - bn.move_min(x, w)[w - 1:])


# Short windows are folded directly, longer ones go through the deques: cover both.
@pytest.mark.parametrize("w", [1, 2, 3, 7, 40, 96, 97, 130])
def test_minmax_windows_with_nan(w, rng):
    x = rng.choice([-inf, -2.0, -1.0, 0.5, 1.0, 3.0, inf, nan], size=1200, p=[.05, .2, .2, .2, .1, .1, .05, .1])
    x[:60] = rng.standard_normal(60)
    x[500:900] = rng.standard_normal(400)  # long NaN-free stretches for long windows
    x[150:150 + 3 * w] = np.nan
    x[-1] = nan
    view = sliding_window_view(x, w)
    held = np.isnan(view).any(axis=1)
    with np.errstate(invalid="ignore"):
        lo, hi = view.min(axis=1), view.max(axis=1)
    lo[held] = hi[held] = nan
    with np.errstate(invalid="ignore"):
        span = np.where(held, nan, hi - lo)
    assert same(q.rolling_min(x, w), lo)
    assert same(q.rolling_max(x, w), hi)
    assert same(q.rolling_range(x, w), span)
    # Left undecided by the update rules alone: a NaN amid smaller or larger values.
    assert same(q.rolling_min(np.array([3, nan, 1, 2, 4.0]), 3), [nan, nan, 1])


@pytest.mark.parametrize("pad", [0, 200])
def test_minmax_keep_the_newest_of_equal_values(pad):
    # Ones before the zeros make windows long enough for the deques.
    z = np.r_[np.ones(pad), -0.0, 0.0, -0.0]
    lo, hi = q.rolling_min(z, 2 + pad), q.rolling_max(-z, 2 + pad)
    assert same(lo, [0.0, -0.0]) and same(hi, [-0.0, 0.0])
    assert same(q.rolling_min(z, 3 + pad), [-0.0]) and same(q.rolling_max(-z, 3 + pad), [0.0])


# ---------------------------------------------------------------- coefficient of variation

def ref_cv(x, w):
    """The sliding Welford recurrence started at x[0], M2 clamped only in the output."""
    mean = m2 = 0.0
    out = []
    for j in range(len(x) - w + 1):
        if j == 0:
            for k in range(w):
                v = x[k]
                mean_new = (v - mean) / (k + 1) + mean
                m2 = (v - mean_new) * (v - mean) + m2
                mean = mean_new
        else:
            a, b = x[j + w - 1], x[j - 1]
            mean_new = (a - b) / w + mean
            m2 = m2 + (((a - mean_new) + b) - mean) * (a - b)
            mean = mean_new
        ok = w > 1 and abs(mean) > 1e-10
        out.append(math.sqrt(max(m2, 0.0) / (w - 1)) / abs(mean) if ok else nan)
    return out


@pytest.mark.parametrize("w", [1, 2, 5, 20])
def test_cv_recurrence_is_bit_exact(w, rng):
    x = list(rng.uniform(-1, 4, 500))
    assert same(q.rolling_cv(np.array(x), w), ref_cv(x, w))


def test_cv_constant_window_after_varied_data_is_zero():
    rng = np.random.default_rng(1)
    x = list(rng.uniform(0, 10, 8)) + [3.3] * 8
    got = q.rolling_cv(np.array(x), 4)
    # The unclamped recurrence leaves a negative M2 here, which would be NaN.
    assert (got[-5:] == 0.0).all()
    assert same(got, ref_cv(x, 4))


@pytest.mark.parametrize("w", [3, 10, 50])
def test_cv_against_numpy(w, rng):
    x = 5 + rng.standard_normal(2000)
    x[rng.choice(2000, 20)] = 0.0
    view = sliding_window_view(x, w)
    want = view.std(axis=1, ddof=1) / np.abs(view.mean(axis=1))
    np.testing.assert_allclose(q.rolling_cv(x, w), want, rtol=1e-9)


CV_CASES = {
    "nan-start": {0: nan},
    "inf-start": {2: inf},
    "middle": {20: nan, 22: -inf},
    "end": {38: inf},
    "last": {39: nan},
    "spread": {3: inf, 15: nan, 30: -inf},
}


@pytest.mark.parametrize("case", CV_CASES.values(), ids=CV_CASES.keys())
@pytest.mark.parametrize("w", [1, 2, 4, 9])
def test_cv_nonfinite_values_spoil_only_their_windows(case, w, rng):
    x = 2 + rng.standard_normal(40)
    for pos, v in case.items():
        x[pos] = v
    got = q.rolling_cv(x, w)
    held = windows_holding(~np.isfinite(x), w)
    assert np.isnan(got[held]).all()
    view = sliding_window_view(x, w)
    for j in np.flatnonzero(~held):
        win = view[j]
        want = np.std(win, ddof=1) / abs(np.mean(win)) if w > 1 else nan
        assert got[j] == pytest.approx(want, rel=1e-9, nan_ok=True)
    # Each run of clean windows restarts the recurrence at its first window.
    start = None
    for j, h in enumerate(list(held) + [True]):
        if not h and start is None:
            start = j
        elif h and start is not None:
            assert same(got[start:j], ref_cv(list(x[start:j + w - 1]), w))
            start = None


# ---------------------------------------------------------------- threshold counts

@pytest.mark.parametrize("w", [1, 3, 4, 5, 100])
@pytest.mark.parametrize("t", [0.0, 0.5, -inf])
def test_counts_against_bottleneck(w, t, rng):
    x = np.round(rng.standard_normal(1000), 1)
    x[rng.choice(1000, 50)] = nan
    x[rng.choice(1000, 5)] = inf
    with np.errstate(invalid="ignore"):
        want = bn.move_sum((x > t).astype(float), w)[w - 1:]
    assert same(q.rolling_count_above(x, t, w), want)
    assert same(q.rolling_pct_above(x, t, w), want / w)


def test_counts_edge_values():
    x = np.array([1.0, 1.0, nan, 2.0, inf])
    assert same(q.rolling_count_above(x, 1.0, 2), [0, 0, 1, 2])  # equal values do not count
    assert same(q.rolling_count_above(x, nan, 2), [0, 0, 0, 0])
    assert same(q.rolling_pct_above(x, -inf, 4), [0.75, 0.75])


# ---------------------------------------------------------------- median

def total_key(a):
    b = np.asarray(a, dtype=np.float64).view(np.int64)
    return b ^ ((b >> 63) & np.int64(0x7FFFFFFFFFFFFFFF))


def key_value(k):
    return total_key(k.view(np.float64)).view(np.float64)


def direct_median(x, w):
    """Per window: NaN if it holds a NaN; else the middle value(s) in total order."""
    out = np.full(len(x), nan)
    if w == 0 or len(x) < w:
        return out
    keys = np.sort(sliding_window_view(total_key(x), w), axis=1)
    upper = key_value(keys[:, w // 2].copy())
    if w % 2:
        med = upper
    else:
        lower = key_value(keys[:, w // 2 - 1].copy())
        with np.errstate(invalid="ignore"):
            med = (upper + lower) * 0.5
    med[np.isnan(sliding_window_view(x, w)).any(axis=1)] = nan
    out[w - 1:] = med
    return out


@pytest.mark.parametrize("w", [1, 2, 3, 4, 5, 8, 16, 31, 64, 65, 100, 257])
def test_median_against_direct_definition(w, rng):
    pool = np.array([-inf, -2.5, -1.0, -0.0, 0.0, 0.0, 1.0, 1.0, 2.5, 7.0, inf])
    x = np.where(rng.random(1500) < 0.5, rng.choice(pool, 1500), np.round(rng.standard_normal(1500), 2))
    nan_rate = 2.0 / (w * 10)
    x[rng.random(1500) < nan_rate] = nan
    x[700:700 + w] = np.where(rng.random(w) < 0.5, -0.0, 0.0)  # signed zeros in the middle ranks
    x[900] = -nan if w % 2 else nan  # either NaN sign counts
    assert same(q.rolling_median(x, w), direct_median(x, w))


@pytest.mark.parametrize("w", [1, 2, 5, 10, 101, 1000])
def test_median_against_bottleneck_and_pandas(w, rng):
    x = np.round(rng.standard_normal(5000), 2)
    x[x == 0] = 0.0  # peers order -0.0 and 0.0 as equal
    x[rng.choice(5000, 3)] = nan
    got = q.rolling_median(x, w)
    assert same(got, bn.move_median(x, w))
    assert same(got, pd.Series(x).rolling(w).median().to_numpy())


def test_median_of_short_and_constant_series():
    assert same(q.rolling_median(np.array([4.0]), 1), [4.0])
    assert same(q.rolling_median(np.full(6, -0.0), 4), [nan, nan, nan, -0.0, -0.0, -0.0])
    # Infinities are ordinary values; the mean of -inf and inf is NaN.
    assert same(q.rolling_median(np.array([inf, -inf, 1.0, inf]), 2), [nan, nan, -inf, inf])
