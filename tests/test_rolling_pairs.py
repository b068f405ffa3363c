import math

import numpy as np
import pandas as pd
import pytest
import scipy.stats
from statsmodels.tsa.stattools import acf

import quarnel_ext as q

nan, inf = math.nan, math.inf

PAIR_NP = [q.rolling_cov_np, q.rolling_corr_np]
PAIR_SKIP = [q.rolling_cov_nan_np, q.rolling_corr_nan_np, q.rolling_cov_skipna, q.rolling_corr_skipna,
             q.rolling_beta_skipna, q.rolling_linreg_skipna]
PAIRS = PAIR_NP + PAIR_SKIP


def first(result):
    """The slopes of rolling_linreg_skipna, the array of every other pair function."""
    return result[0] if isinstance(result, tuple) else result


def same(a, b):
    """Bit-identical, NaN matching NaN."""
    a, b = np.asarray(a, dtype=float), np.asarray(b, dtype=float)
    return a.shape == b.shape and bool(np.all((a.view(np.int64) == b.view(np.int64)) | (np.isnan(a) & np.isnan(b))))


# ---- pure-Python statements of the running-sum schemes, for bit-for-bit checks ----

def shift(a):
    return next((float(v) for v in a if math.isfinite(v)), 0.0)


def deviations(x, y, kx, ky):
    """Shifted series; the shifts default to each series' first finite value."""
    kx = shift(x) if kx is None else kx
    ky = shift(y) if ky is None else ky
    return [float(v) - kx for v in x], [float(v) - ky for v in y], kx, ky


def ref_cov_np(x, y, w, kx=None, ky=None):
    if w < 2:
        return [nan] * (len(x) - w + 1)
    dx, dy, _, _ = deviations(x, y, kx, ky)
    out = []
    sx = sy = sxy = 0.0
    for i in range(w):
        sx += dx[i]; sy += dy[i]; sxy += dx[i] * dy[i]
    for j in range(len(x) - w + 1):
        if j:
            i, o = j + w - 1, j - 1
            sx += (dx[i] - dx[o]); sy += (dy[i] - dy[o]); sxy += (dx[i] * dy[i] - dx[o] * dy[o])
        out.append((sxy - ((sx / w) * w) * (sy / w)) / (w - 1))
    return out


def ref_corr_np(x, y, w, kx=None, ky=None):
    if w < 2:
        return [nan] * (len(x) - w + 1)
    dx, dy, _, _ = deviations(x, y, kx, ky)
    out = []
    s = [0.0] * 5
    for i in range(w):
        s = [s[0] + dx[i], s[1] + dy[i], s[2] + dx[i] * dx[i], s[3] + dy[i] * dy[i], s[4] + dx[i] * dy[i]]
    for j in range(len(x) - w + 1):
        if j:
            i, o = j + w - 1, j - 1
            s = [s[0] + (dx[i] - dx[o]), s[1] + (dy[i] - dy[o]), s[2] + (dx[i] * dx[i] - dx[o] * dx[o]),
                 s[3] + (dy[i] * dy[i] - dy[o] * dy[o]), s[4] + (dx[i] * dy[i] - dx[o] * dy[o])]
        sx, sy, sxx, syy, sxy = s
        mx, my = sx / w, sy / w
        varx = (sxx - mx * (mx * w)) / (w - 1)
        vary = (syy - my * (my * w)) / (w - 1)
        varx = 0.0 if not varx >= 0 else varx
        vary = 0.0 if not vary >= 0 else vary
        d = math.sqrt(vary) * math.sqrt(varx)
        if d == 0 or d != d:
            out.append(nan)
        else:
            out.append(min(1.0, max(-1.0, ((sxy - (mx * w) * my) / (w - 1)) / d)))
    return out


def ref_skipping(kind, x, y, w, kx=None, ky=None):
    """cov/corr (all pairs valid), beta, linreg over valid pairs: remove, then add."""
    dx, dy, kx, ky = deviations(x, y, kx, ky)
    valid = [not (a != a or b != b) for a, b in zip(dx, dy)]
    sx = sy = sxx = syy = sxy = 0.0
    c = 0

    def put(i, sign):
        nonlocal sx, sy, sxx, syy, sxy, c
        if sign > 0:
            c += 1; sx += dx[i]; sy += dy[i]; sxx += dx[i] * dx[i]; syy += dy[i] * dy[i]; sxy += dx[i] * dy[i]
        else:
            c -= 1; sx -= dx[i]; sy -= dy[i]; sxx -= dx[i] * dx[i]; syy -= dy[i] * dy[i]; sxy -= dx[i] * dy[i]

    out, icpt = [], []
    for i in range(w):
        if valid[i]:
            put(i, +1)
    for j in range(len(x) - w + 1):
        if j:
            if valid[j - 1]:
                put(j - 1, -1)
            if valid[j + w - 1]:
                put(j + w - 1, +1)
        r = b = nan
        if kind == "cov" and c == w and w >= 2:
            r = (sxy - (sy * sx) / w) / (w - 1)
        elif kind == "corr" and c == w and c >= 2:
            varx = (sxx - sx * sx / c) / (c - 1)
            vary = (syy - sy * sy / c) / (c - 1)
            if 0 < varx < inf and 0 < vary < inf:
                r = min(1.0, max(-1.0, ((sxy - sx * sy / c) / (c - 1)) / math.sqrt(varx * vary)))
        elif kind in ("beta", "linreg") and c >= 2:
            varx = (sxx - sx * sx / c) / (c - 1)
            if 0 < varx < inf:
                r = ((sxy - sy * sx / c) / (c - 1)) / varx
                b = ((sy / c - (sx / c) * r) + ky) - r * kx
        out.append(r)
        icpt.append(b)
    return (out, icpt) if kind == "linreg" else out


REFS = {
    q.rolling_cov_np: ref_cov_np,
    q.rolling_corr_np: ref_corr_np,
    q.rolling_cov_nan_np: lambda *a, **k: ref_skipping("cov", *a, **k),
    q.rolling_corr_nan_np: lambda *a, **k: ref_skipping("corr", *a, **k),
    q.rolling_cov_skipna: lambda *a, **k: ref_skipping("cov", *a, **k),
    q.rolling_corr_skipna: lambda *a, **k: ref_skipping("corr", *a, **k),
    q.rolling_beta_skipna: lambda *a, **k: ref_skipping("beta", *a, **k),
    q.rolling_linreg_skipna: lambda *a, **k: ref_skipping("linreg", *a, **k),
}


def series(rng, n, offset=100.0):
    x = offset + rng.standard_normal(n)
    y = 0.5 * x + rng.standard_normal(n) - offset / 3
    return x, y


# ---------------------------------------------------------------- errors and shapes

@pytest.mark.parametrize("f, message", [(f, "x and y must have the same length") for f in PAIR_NP]
                         + [(f, "length mismatch") for f in PAIR_SKIP]
                         + [(q.rolling_correlation, "x and y must have same length")])
def test_pair_checks_in_order(f, message):
    five, six = np.ones(5), np.ones(6)
    with pytest.raises(ValueError) as e:
        f(five, six, 0)  # the length check comes before the window check
    assert str(e.value) == message
    with pytest.raises(ValueError, match="^window must be >= 1$"):
        f(six, six, 0)
    with pytest.raises(TypeError, match="^The given array is not contiguous$"):
        f(five, np.ones(12)[::2], 2)  # contiguity before the lengths
    with pytest.raises(TypeError, match="^argument 'window': "):
        f(six, six, 2.0)
    with pytest.raises(OverflowError):
        f(six, six, -1)


def test_missing_arguments_message():
    with pytest.raises(TypeError) as e:
        q.rolling_cov_np()
    assert str(e.value) == "rolling_cov_np() missing 3 required positional arguments: 'x', 'y', and 'window'"


def test_autocorr_checks_in_order():
    x = np.arange(10.0)
    with pytest.raises(ValueError, match="^window must be >= 1$"):
        q.rolling_autocorr(x, 3, 0)  # the window check comes before the lag check
    with pytest.raises(ValueError, match="^lag must be smaller than window$"):
        q.rolling_autocorr(x, lag=5, window=5)
    with pytest.raises(ValueError, match="^window must be >= 1$"):
        q.rolling_autocorr_multi(x, [7], 0)
    with pytest.raises(ValueError) as e:
        q.rolling_autocorr_multi(x, [1, 7, 5, 9], window=5)  # the first offending lag, in given order
    assert str(e.value) == "all lags must be smaller than window, got lag=7"
    with pytest.raises(TypeError, match="^argument 'lags': "):
        q.rolling_autocorr_multi(x, "12", 5)
    with pytest.raises(TypeError, match="^argument 'lags': "):
        q.rolling_autocorr_multi(x, [1, 2.0], 5)
    with pytest.raises(TypeError, match="^argument 'lags': "):
        q.rolling_autocorr_multi(x, 3, 5)
    with pytest.raises(OverflowError):
        q.rolling_autocorr_multi(x, [1, -1], 5)
    with pytest.raises(TypeError, match="^The given array is not contiguous$"):
        q.rolling_autocorr(np.arange(20.0)[::2], 1, 5)
    # The lag check applies even when no window fits.
    with pytest.raises(ValueError, match="^lag must be smaller than window$"):
        q.rolling_autocorr(np.arange(2.0), 9, 5)


def test_defaults_and_signatures():
    x = np.sin(np.arange(120.0))
    assert same(q.rolling_autocorr(x), q.rolling_autocorr(x, 1, 50))
    assert same(q.rolling_correlation(x, x[::-1].copy()), q.rolling_correlation(x, x[::-1].copy(), 50))
    assert same(q.rolling_autocorr_multi(x, [2]), q.rolling_autocorr_multi(x, [2], 50))
    assert q.rolling_autocorr.__text_signature__ == "(x, lag=1, window=50)"
    assert q.rolling_cov_skipna.__text_signature__ == "(x, y, window)"
    assert q.rolling_cov_np.__doc__ is None


@pytest.mark.parametrize("f", PAIRS + [q.rolling_correlation])
@pytest.mark.parametrize("n", [0, 3])
def test_short_series_give_empty(f, n):
    r = f(np.ones(n), np.ones(n), 4)
    for part in (r if isinstance(r, tuple) else (r,)):
        assert part.dtype == np.float64 and part.shape == (0,)
    assert isinstance(r, tuple) == (f is q.rolling_linreg_skipna)


@pytest.mark.parametrize("w", [10**12, 2**64 - 1])
def test_huge_windows_allocate_nothing(w):
    x = np.ones(5)
    for f in PAIRS + [q.rolling_correlation]:
        assert first(f(x, x, w)).shape == (0,)
    assert q.rolling_autocorr(x, 3, w).shape == (0,)
    assert q.rolling_autocorr_multi(x, [3, 1], w).shape == (0, 2)


def test_short_series_autocorr_shapes():
    assert q.rolling_autocorr(np.ones(3), 1, 4).shape == (0,)
    assert q.rolling_autocorr_multi(np.ones(3), [1, 2, 1], 4).shape == (0, 3)
    assert q.rolling_autocorr_multi(np.ones(9), [], 4).shape == (6, 0)


@pytest.mark.parametrize("f", PAIRS)
def test_window_one_is_nan(f, rng):
    x, y = series(rng, 7)
    for part in (f(x, y, 1) if f is q.rolling_linreg_skipna else (f(x, y, 1),)):
        assert part.shape == (7,) and np.isnan(part).all()


# ---------------------------------------------------------------- running-sum family

@pytest.mark.parametrize("f", PAIRS)
@pytest.mark.parametrize("w", [2, 3, 17])
def test_update_scheme_is_bit_exact(f, w, rng):
    x, y = series(rng, 300)
    if f in PAIR_SKIP:  # NaN pairs are skipped by the scheme itself
        x[rng.choice(300, 12)] = nan
        y[rng.choice(300, 12)] = nan
    got, want = f(x, y, w), REFS[f](list(x), list(y), w)
    if f is q.rolling_linreg_skipna:
        assert same(got[0], want[0]) and same(got[1], want[1])
    else:
        assert same(got, want)


@pytest.mark.parametrize("w", [3, 5, 30])
def test_cov_corr_against_pandas(w, rng):
    x, y = series(rng, 2000)
    px, py = pd.Series(x), pd.Series(y)
    np.testing.assert_allclose(q.rolling_cov_np(x, y, w), px.rolling(w).cov(py).to_numpy()[w - 1:], rtol=1e-9)
    np.testing.assert_allclose(q.rolling_corr_np(x, y, w), px.rolling(w).corr(py).to_numpy()[w - 1:], rtol=1e-9)
    # pandas' default min_periods=w makes every window with a NaN pair NaN, as here.
    x[rng.choice(2000, 40)] = nan
    y[rng.choice(2000, 40)] = nan
    px, py = pd.Series(x), pd.Series(y)
    np.testing.assert_allclose(q.rolling_cov_nan_np(x, y, w), px.rolling(w).cov(py).to_numpy()[w - 1:],
                               rtol=1e-9, atol=1e-12)
    np.testing.assert_allclose(q.rolling_corr_nan_np(x, y, w), px.rolling(w).corr(py).to_numpy()[w - 1:],
                               rtol=1e-9, atol=1e-12)


@pytest.mark.parametrize("w", [2, 4, 25])
def test_beta_linreg_against_per_window_fit(w, rng):
    x, y = series(rng, 400)
    x[rng.choice(400, 30)] = nan
    y[rng.choice(400, 30)] = nan
    beta = q.rolling_beta_skipna(x, y, w)
    slope, icpt = q.rolling_linreg_skipna(x, y, w)
    for j in range(len(beta)):
        xs, ys = x[j:j + w], y[j:j + w]
        ok = ~(np.isnan(xs) | np.isnan(ys))
        xv, yv = xs[ok], ys[ok]
        if len(xv) < 2:
            assert np.isnan(beta[j]) and np.isnan(slope[j]) and np.isnan(icpt[j])
            continue
        b = np.cov(xv, yv)[0, 1] / np.var(xv, ddof=1)
        fit = scipy.stats.linregress(xv, yv)
        assert beta[j] == pytest.approx(b, rel=1e-8, abs=1e-10)
        assert slope[j] == pytest.approx(fit.slope, rel=1e-8, abs=1e-10)
        assert icpt[j] == pytest.approx(fit.intercept, rel=1e-8, abs=1e-8)


def test_small_examples():
    x = np.array([1, 2, nan, 4, 5, 6.0])
    assert same(q.rolling_cov_nan_np(x, 2 * x, 2), [1, nan, nan, 1, 1])
    assert same(q.rolling_beta_skipna(x, 2 * x, 2), [2, nan, nan, 2, 2])
    # Windows after the NaN recover in the propagating functions as well.
    assert same(q.rolling_cov_np(x, 2 * x, 2), [1, nan, nan, 1, 1])
    np.testing.assert_allclose(q.rolling_corr_np(x, 2 * x, 2), [1, nan, nan, 1, 1], rtol=1e-15)
    # Finite values whose products overflow spoil only their windows as well.
    big = np.array([0.0, 1e200, 0.0, 1.0, 2.0, 3.0])
    for f in PAIRS:
        r = first(f(big, big, 2))
        assert np.isnan(r[:2]).all() and np.isfinite(r[2:]).all()
    c = np.full(8, 3.0)
    y = np.arange(8.0)
    for f in (q.rolling_corr_np, q.rolling_corr_nan_np, q.rolling_beta_skipna, q.rolling_correlation):
        assert np.isnan(f(c, y, 4)).all()
    s, b = q.rolling_linreg_skipna(np.arange(10.0), 3 * np.arange(10.0) + 1, 4)
    np.testing.assert_allclose(s, 3, rtol=1e-12)
    np.testing.assert_allclose(b, 1, rtol=1e-12)


def test_correlations_are_clamped(rng):
    # Perfectly correlated data: rounding must never push |r| above 1.
    x = 1e3 + rng.standard_normal(500) * 1e-3
    for f in (q.rolling_corr_np, q.rolling_corr_nan_np):
        r = f(x, 3 * x, 7)
        assert np.all(np.abs(r) <= 1) and np.allclose(r, 1)
        assert np.allclose(f(x, -x, 7), -1)


def bad_windows(bad, w):
    """Boolean per window: does it hold a position flagged in `bad`?"""
    return np.convolve(bad.astype(int), np.ones(w, int), mode="valid") > 0


def clean_runs(flags):
    """(start, stop) of the maximal runs of False in flags."""
    runs, start = [], None
    for j, f in enumerate(list(flags) + [True]):
        if not f and start is None:
            start = j
        elif f and start is not None:
            runs.append((start, j))
            start = None
    return runs


NONFINITE_CASES = {
    "nan-start": [(0, "x", nan)],
    "inf-start": [(1, "y", inf)],
    "nan-middle": [(20, "x", nan), (23, "y", nan)],
    "inf-middle": [(20, "x", -inf), (21, "x", inf)],
    "mixed": [(5, "y", inf), (18, "x", nan), (30, "y", -inf), (31, "x", inf)],
    "end": [(38, "x", inf)],
    "last": [(39, "y", nan)],
    "overlapping": [(10, "x", inf), (13, "y", inf), (16, "x", nan)],
}


@pytest.mark.parametrize("case", NONFINITE_CASES.values(), ids=NONFINITE_CASES.keys())
@pytest.mark.parametrize("w", [1, 2, 3, 6])
@pytest.mark.parametrize("f", PAIRS)
def test_nonfinite_values_spoil_only_their_windows(f, w, case, rng):
    n = 40
    x, y = series(rng, n)
    for pos, which, v in case:
        (x if which == "x" else y)[pos] = v
    kx, ky = shift(x), shift(y)
    if f in PAIR_NP:
        poison = ~(np.isfinite(x) & np.isfinite(y))
        undefined = bad_windows(poison, w)
    else:  # NaN pairs are skipped; an infinite valid pair poisons its windows
        valid = ~(np.isnan(x) | np.isnan(y))
        poison = valid & ~(np.isfinite(x) & np.isfinite(y))
        undefined = bad_windows(poison, w)
    got = f(x, y, w)
    parts = got if isinstance(got, tuple) else (got,)
    for part in parts:
        assert np.isnan(part[undefined]).all()
    # Each run of clean windows is the scheme started afresh at the run's first window.
    for start, stop in clean_runs(undefined):
        want = REFS[f](list(x[start:stop + w - 1]), list(y[start:stop + w - 1]), w, kx=kx, ky=ky)
        wants = want if isinstance(want, tuple) else (want,)
        for part, wp in zip(parts, wants):
            assert same(part[start:stop], wp)
    # And agrees with a direct per-window computation.
    for j in np.flatnonzero(~undefined):
        xs, ys = x[j:j + w], y[j:j + w]
        ok = ~(np.isnan(xs) | np.isnan(ys))
        full = ok.all()
        if w < 2:
            direct = nan
        elif f is q.rolling_cov_np or (f in (q.rolling_cov_nan_np, q.rolling_cov_skipna) and full):
            direct = np.cov(xs, ys)[0, 1]
        elif f is q.rolling_corr_np or (f in (q.rolling_corr_nan_np, q.rolling_corr_skipna) and full):
            direct = np.corrcoef(xs, ys)[0, 1]
        elif f in (q.rolling_beta_skipna, q.rolling_linreg_skipna) and ok.sum() >= 2:
            direct = np.cov(xs[ok], ys[ok])[0, 1] / np.var(xs[ok], ddof=1)
        else:
            direct = nan
        assert parts[0][j] == pytest.approx(direct, rel=1e-9, abs=1e-12, nan_ok=True)


# ---------------------------------------------------------------- recomputing family

@pytest.mark.parametrize("w, lag", [(2, 1), (5, 0), (10, 3), (50, 1), (50, 49)])
def test_autocorr_against_statsmodels(w, lag, rng):
    x = np.cumsum(rng.standard_normal(300))
    got = q.rolling_autocorr(x, lag=lag, window=w)
    want = [acf(x[j:j + w], nlags=lag, fft=False)[lag] for j in range(len(x) - w + 1)]
    np.testing.assert_allclose(got, want, rtol=1e-9, atol=1e-12)


def test_recomputed_windows_are_bit_exact(rng):
    # Each window on its own: sums in index order, whatever the batching of windows.
    x, y = series(rng, 41)
    x, y = list(x), list(y)
    w, lag = 7, 2
    ac, cr = [], []
    for j in range(len(x) - w + 1):
        xs, ys = x[j:j + w], y[j:j + w]
        mx, my = sum(xs) / w, sum(ys) / w  # sum() adds left to right from 0
        ss = sum((v - mx) * (v - mx) for v in xs)
        num = sum((xs[k] - mx) * (xs[k + lag] - mx) for k in range(w - lag))
        ac.append(num / ss if ss > 0 else nan)
        sxx = sum((v - mx) * (v - mx) for v in xs)
        syy = sum((v - my) * (v - my) for v in ys)
        sxy = sum((a - mx) * (b - my) for a, b in zip(xs, ys))
        p = syy * sxx
        cr.append(sxy / math.sqrt(p) if p != 0 else nan)
    assert same(q.rolling_autocorr(np.array(x), lag, w), ac)
    assert same(q.rolling_correlation(np.array(x), np.array(y), w), cr)


def test_autocorr_multi_columns_are_autocorr(rng):
    x = rng.standard_normal(200)
    x[77] = nan
    lags = [3, 0, 3, 9, 1]
    got = q.rolling_autocorr_multi(x, np.array(lags), 10)
    assert got.shape == (191, 5) and got.flags.c_contiguous
    for k, lag in enumerate(lags):
        assert same(got[:, k], q.rolling_autocorr(x, lag, 10))


def test_autocorr_windows(rng):
    x = rng.standard_normal(60)
    assert same(q.rolling_autocorr(x, 0, 8), np.ones(53))
    c = np.r_[np.full(10, 2.0), x]
    assert np.isnan(q.rolling_autocorr(c, 1, 8)[:3]).all()
    assert np.isnan(q.rolling_autocorr_multi(c, [0, 2], 8)[:3]).all()
    # A NaN affects only the windows that hold it.
    y = x.copy()
    y[30] = nan
    r, r0 = q.rolling_autocorr(y, 2, 8), q.rolling_autocorr(x, 2, 8)
    held = np.zeros(53, bool)
    held[23:31] = True
    assert np.isnan(r[held]).all() and same(r[~held], r0[~held])


@pytest.mark.parametrize("w", [2, 7, 50])
def test_correlation_against_corrcoef(w, rng):
    x, y = series(rng, 300)
    x[100] = nan
    y[200] = inf
    got = q.rolling_correlation(x, y, w)
    for j in range(len(got)):
        with np.errstate(invalid="ignore"):
            want = np.corrcoef(x[j:j + w], y[j:j + w])[0, 1]
        assert got[j] == pytest.approx(want, rel=1e-9, abs=1e-12, nan_ok=True)
    held = bad_windows(~np.isfinite(x) | ~np.isfinite(y), w)
    assert np.isnan(got[held]).all() and not np.isnan(got[~held]).any()
