import math

import bottleneck as bn
import numpy as np
import pandas as pd
import pytest

import quarnel_ext as q

nan, inf = np.nan, np.inf

ENGINE_1D = ["rolling_mean_np", "rolling_var_np", "rolling_std_np", "rolling_mean_std_np", "rolling_zscore_np"]
TRAILING_NAN = ["rolling_mean_nan_np", "rolling_std_nan_np", "rolling_zscore_nan_np"]
AXIS0 = ["rolling_mean_axis0_np", "rolling_std_axis0_np", "rolling_mean_std_axis0_np"]


def assert_bits(actual, expected):
    actual, expected = np.asarray(actual, dtype=float), np.asarray(expected, dtype=float)
    assert actual.shape == expected.shape
    assert np.array_equal(np.isnan(actual), np.isnan(expected)), (actual, expected)
    ok = ~np.isnan(expected)
    assert np.array_equal(actual[ok], expected[ok]), (actual, expected)


# ---------------------------------------------------------------- pure-Python references

def kahan(acc, y):
    s, c = acc
    t = y - c
    u = s + t
    return (u, (u - s) - t)


def finite(v):
    return math.isfinite(v)


def std_from(s1, s2, w):
    if w == 1:
        return nan
    var = (s2 - s1 * s1 / w) / (w - 1)
    return nan if math.isnan(var) else math.sqrt(max(var, 0.0))


def ref_engine(x, w):
    """Compensated running recurrence; a window following one that held a non-finite value,
    and holding none itself, is summed afresh with a new shift."""
    x = [float(v) for v in x]
    n = len(x)
    dirty = [any(not finite(v) for v in x[j:j + w]) for j in range(max(n - w + 1, 0))]
    means, stds = [], []
    for j in range(max(n - w + 1, 0)):
        if j == 0 or (dirty[j - 1] and not dirty[j]):
            k = x[j] if finite(x[j]) else 0.0
            S = S1 = S2 = (0.0, 0.0)
            for v in x[j:j + w]:
                S = kahan(S, v)
                S1 = kahan(S1, v - k)
                S2 = kahan(S2, (v - k) * (v - k))
        else:
            a, b = x[j + w - 1], x[j - 1]
            S = kahan(kahan(S, a), -b)
            S1 = kahan(kahan(S1, a - k), -(b - k))
            S2 = kahan(kahan(S2, (a - k) * (a - k)), -((b - k) * (b - k)))
        means.append(S[0] / w)
        stds.append(std_from(S1[0], S2[0], w))
    return np.array(means), np.array(stds)


def ref_trailing_nan(x, w, stat):
    """Plain running sums over non-NaN values, incoming first; rebuilt from zero once the
    last infinity has left; a window holding infinities is decided by their signs."""
    x = [float(v) for v in x]
    fin = [v for v in x if finite(v)]
    k = fin[0] if fin else 0.0
    lo = lambda j: max(0, j - w + 1)
    has_inf = [any(math.isinf(v) for v in x[lo(j):j + 1]) for j in range(len(x))]
    s = s1 = s2 = 0.0
    c = 0
    out = []
    for j, v in enumerate(x):
        if j > 0 and has_inf[j - 1] and not has_inf[j]:
            s = s1 = s2 = 0.0
            c = 0
            for u in x[lo(j):j + 1]:
                if u == u:
                    s, s1, s2, c = s + u, s1 + (u - k), s2 + (u - k) * (u - k), c + 1
        else:
            if v == v:
                s, s1, s2, c = s + v, s1 + (v - k), s2 + (v - k) * (v - k), c + 1
            if j >= w and x[j - w] == x[j - w]:
                o = x[j - w]
                s, s1, s2, c = s - o, s1 - (o - k), s2 - (o - k) * (o - k), c - 1
        if has_inf[j]:
            win = x[lo(j):j + 1]
            pos, neg = inf in win, -inf in win
            out.append((nan if pos and neg else inf if pos else -inf) if stat == "mean" else nan)
            continue
        if stat == "mean":
            out.append(s / c if c >= 1 else nan)
        elif stat == "std":
            out.append(nan if c < 2 else std_from(s1, s2, c))
        else:
            if v != v or c < 2:
                out.append(nan)
                continue
            var = (s2 - s1 * s1 / c) / (c - 1)
            var = var if math.isnan(var) else max(var, 0.0)
            sd = math.sqrt(var)
            out.append(nan if sd == inf else ((v - k) - s1 / c) / sd if var > 0 else nan)
    return np.array(out)


def ref_axis0_column(col, w):
    """(raw mean, shifted mean, std) of one column by the difference-update recurrence."""
    col = [float(v) for v in col]
    L = max(len(col) - w + 1, 0)
    dirty = [any(not finite(v) for v in col[r:r + w]) for r in range(L)]
    m_raw, m_shift, sd = [], [], []
    for r in range(L):
        if r == 0 or (dirty[r - 1] and not dirty[r]):
            k = col[r] if finite(col[r]) else 0.0
            S = S1 = S2 = 0.0
            for v in col[r:r + w]:
                S, S1, S2 = S + v, S1 + (v - k), S2 + (v - k) * (v - k)
        else:
            a, b = col[r + w - 1], col[r - 1]
            S = S + (a - b)
            S1 = S1 + ((a - k) - (b - k))
            S2 = S2 + ((a - k) * (a - k) - (b - k) * (b - k))
        if dirty[r]:
            win = col[r:r + w]
            bad = any(v != v for v in win) or (inf in win and -inf in win)
            m = nan if bad else inf if inf in win else -inf
            m_raw.append(m), m_shift.append(m), sd.append(nan)
        else:
            m_raw.append(S / w), m_shift.append(k + S1 / w), sd.append(std_from(S1, S2, w))
    return np.array(m_raw), np.array(m_shift), np.array(sd)


def direct_windows(x, w):
    """Direct per-window mean and sample std of every full window (NaN where not finite)."""
    v = np.lib.stride_tricks.sliding_window_view(np.asarray(x, float), w)
    with np.errstate(all="ignore"):
        return v.mean(axis=1), (v.std(axis=1, ddof=1) if w > 1 else np.full(len(v), nan))


# ---------------------------------------------------------------- errors and shapes

@pytest.mark.parametrize("name", ENGINE_1D + TRAILING_NAN + AXIS0)
def test_window_zero_is_refused_before_the_data_is_read(name):
    data = np.empty((0, 3)) if name in AXIS0 else np.empty(0)
    with pytest.raises(ValueError, match=r"^window must be >= 1$"):
        getattr(q, name)(data, 0)
    strided = np.arange(20.0).reshape(5, 4)[:, ::2] if name in AXIS0 else np.arange(10.0)[::2]
    with pytest.raises(ValueError, match=r"^window must be >= 1$"):
        getattr(q, name)(strided, 0)


@pytest.mark.parametrize("name", ENGINE_1D + TRAILING_NAN)
def test_series_argument_errors(name):
    f = getattr(q, name)
    with pytest.raises(TypeError, match=r"^The given array is not contiguous$"):
        f(np.arange(10.0)[::2], 2)
    with pytest.raises(TypeError, match=r"^argument 'a': "):
        f([1.0, 2.0], 1)
    with pytest.raises(OverflowError):
        f(np.arange(3.0), -1)
    with pytest.raises(TypeError, match=rf"^{name}\(\) missing 1 required positional argument: 'window'$"):
        f(np.arange(3.0))


@pytest.mark.parametrize("name", AXIS0)
def test_axis0_layout_rules(name):
    f = getattr(q, name)
    m = np.arange(24.0).reshape(6, 4)
    with pytest.raises(ValueError, match=r"^array must be contiguous$"):
        f(np.asfortranarray(m), 2)
    with pytest.raises(ValueError, match=r"^array must be contiguous$"):
        f(m[:, ::2], 2)
    # Nothing to compute: returned before the layout is looked at.
    outs = [f(np.asfortranarray(m), 7), f(np.empty((5, 0)), 2)]
    shapes = [(0, 4), (4, 0)]
    for out, shape in zip(outs, shapes):
        for arr in (out if isinstance(out, tuple) else (out,)):
            assert arr.shape == shape and arr.dtype == np.float64
    # A column vector in Fortran order is also C-contiguous.
    assert f(np.asfortranarray(m[:, :1]), 2) is not None


@pytest.mark.parametrize("n, w", [(0, 1), (3, 5), (4, 4)])
def test_output_lengths(n, w):
    x = np.arange(float(n))
    L = max(n - w + 1, 0)
    for name in ENGINE_1D:
        out = getattr(q, name)(x, w)
        for arr in out if isinstance(out, tuple) else (out,):
            assert arr.shape == (L,) and arr.dtype == np.float64 and arr.flags.c_contiguous and arr.flags.writeable
    for name in TRAILING_NAN:
        assert getattr(q, name)(x, w).shape == (n,)


def test_huge_window():
    x = np.array([1.0, inf, 2.0, nan, 3.0])
    big = 2**64 - 1
    for name in ENGINE_1D:
        out = getattr(q, name)(x, big)
        assert all(a.shape == (0,) for a in (out if isinstance(out, tuple) else (out,)))
    assert_bits(q.rolling_mean_nan_np(x, big), [1.0, inf, inf, inf, inf])  # the infinity never leaves
    assert np.isnan(q.rolling_std_nan_np(x, big)).all()
    assert q.rolling_mean_std_axis0_np(np.ones((3, 2)), big)[1].shape == (0, 2)


def test_documented_examples():
    assert_bits(q.rolling_mean_nan_np(np.array([1.0, 2.0, 3.0]), 5), [1.0, 1.5, 2.0])
    assert q.rolling_zscore_np(np.array([1.0, 2.0, 3.0, 10.0]), 3)[0] == -1.0  # scores the oldest element
    x = np.array([3.0, -1.0, 2.5, 7.0])
    assert_bits(q.rolling_mean_np(x, 1), x)
    for name in ["rolling_std_np", "rolling_var_np", "rolling_zscore_np"]:
        assert np.isnan(getattr(q, name)(x, 1)).all()
    assert np.isnan(q.rolling_std_axis0_np(np.ones((4, 3)), 1)).all()
    assert np.isnan(q.rolling_mean_std_axis0_np(np.ones((4, 3)), 1)[1]).all()


def test_constant_series():
    c = np.full(12, 0.1)
    assert (q.rolling_std_np(c, 4) == 0).all() and (q.rolling_var_np(c, 4) == 0).all()
    z = q.rolling_zscore_np(c, 4)
    assert (z == 0.0).all()
    assert np.isnan(q.rolling_zscore_nan_np(c, 4)).all()
    assert (q.rolling_std_axis0_np(np.full((6, 3), 2.5), 3) == 0).all()


def test_nan_trailing_counts():
    x = np.array([nan, nan, 1.0, nan, 4.0, nan, nan, nan])
    assert_bits(q.rolling_mean_nan_np(x, 2), [nan, nan, 1.0, 1.0, 4.0, 4.0, nan, nan])
    assert_bits(q.rolling_std_nan_np(x, 3), [nan, nan, nan, nan, math.sqrt(4.5), nan, nan, nan])


# ---------------------------------------------------------------- exact recurrences on finite data

@pytest.mark.parametrize("w", [1, 2, 7, 50, 200])
def test_engine_is_the_compensated_recurrence(rng, w):
    x = rng.normal(3.0, 2.0, 200) * 10.0 ** rng.integers(-3, 4, 200)
    means, stds = ref_engine(x, w)
    assert_bits(q.rolling_mean_np(x, w), means)
    assert_bits(q.rolling_std_np(x, w), stds)
    assert_bits(q.rolling_var_np(x, w), stds * stds)
    m, s = q.rolling_mean_std_np(x, w)
    assert_bits(m, means)
    assert_bits(s, stds)
    with np.errstate(all="ignore"):
        z = np.where(np.isfinite(stds), np.where(stds > 0, (x[:len(stds)] - means) / stds, 0.0), nan)
    assert_bits(q.rolling_zscore_np(x, w), z)


@pytest.mark.parametrize("w", [1, 3, 25, 300])
def test_trailing_nan_is_the_plain_recurrence(rng, w):
    x = rng.normal(-5.0, 3.0, 250)
    x[rng.random(250) < 0.2] = nan
    for stat, name in zip(["mean", "std", "z"], TRAILING_NAN):
        assert_bits(getattr(q, name)(x, w), ref_trailing_nan(x, w, stat))


@pytest.mark.parametrize("w", [1, 4, 40])
def test_axis0_is_the_difference_recurrence_per_column(rng, w):
    m = rng.normal(1.0, 4.0, (60, 130))  # more columns than one block
    mean = q.rolling_mean_axis0_np(m, w)
    std = q.rolling_std_axis0_np(m, w)
    m2, s2 = q.rolling_mean_std_axis0_np(m, w)
    for c in [0, 1, 63, 64, 100, 129]:
        raw, shifted, sd = ref_axis0_column(m[:, c], w)
        assert_bits(mean[:, c], raw)
        assert_bits(std[:, c], sd)
        assert_bits(s2[:, c], sd)
        assert_bits(m2[:, c], shifted)


# ---------------------------------------------------------------- peers on random data

@pytest.mark.parametrize("w", [2, 10, 100])
def test_engine_against_peers(rng, w):
    x = rng.normal(50.0, 5.0, 3000)
    s = pd.Series(x).rolling(w)
    np.testing.assert_allclose(q.rolling_mean_np(x, w), bn.move_mean(x, w)[w - 1:], rtol=1e-12)
    # Shifted running sums know the variance to ~eps * (x - K)^2 in absolute terms, so a
    # tiny std of a near-constant pair is only good to an absolute bound.
    np.testing.assert_allclose(q.rolling_std_np(x, w), bn.move_std(x, w, ddof=1)[w - 1:], rtol=1e-9, atol=1e-8)
    np.testing.assert_allclose(q.rolling_std_np(x, w), s.std().to_numpy()[w - 1:], rtol=1e-9, atol=1e-8)
    np.testing.assert_allclose(q.rolling_var_np(x, w), s.var().to_numpy()[w - 1:], rtol=1e-9, atol=1e-11)
    v = np.lib.stride_tricks.sliding_window_view(x, w)
    sd = v.std(1, ddof=1)
    z = (x[:len(v)] - v.mean(1)) / sd
    wide = sd > 0.05  # the score inherits the std's absolute error: skip near-constant windows
    np.testing.assert_allclose(q.rolling_zscore_np(x, w)[wide], z[wide], rtol=1e-8, atol=1e-10)


@pytest.mark.parametrize("w", [1, 5, 60])
def test_trailing_nan_against_pandas(rng, w):
    x = rng.normal(0.0, 1.0, 2000) + 20.0
    x[rng.random(2000) < 0.15] = nan
    s = pd.Series(x)
    r = s.rolling(w, min_periods=1)
    np.testing.assert_allclose(q.rolling_mean_nan_np(x, w), r.mean().to_numpy(), rtol=1e-12)
    np.testing.assert_allclose(q.rolling_std_nan_np(x, w), r.std().to_numpy(), rtol=1e-9, atol=1e-10)
    expected = ((s - r.mean()) / r.std()).to_numpy().copy()
    expected[~np.isfinite(expected)] = nan  # a zero spread scores NaN here
    np.testing.assert_allclose(q.rolling_zscore_nan_np(x, w), expected, rtol=1e-8, atol=1e-10)


@pytest.mark.parametrize("w", [1, 3, 30])
def test_axis0_against_peers(rng, w):
    m = rng.normal(10.0, 2.0, (500, 70))
    np.testing.assert_allclose(q.rolling_mean_axis0_np(m, w), bn.move_mean(m, w, axis=0)[w - 1:], rtol=1e-12)
    r = pd.DataFrame(m).rolling(w)
    np.testing.assert_allclose(q.rolling_std_axis0_np(m, w), r.std().to_numpy()[w - 1:], rtol=1e-9, atol=1e-9)
    mean, std = q.rolling_mean_std_axis0_np(m, w)
    np.testing.assert_allclose(mean, r.mean().to_numpy()[w - 1:], rtol=1e-12)
    np.testing.assert_allclose(std, r.std().to_numpy()[w - 1:], rtol=1e-9, atol=1e-9)


# ---------------------------------------------------------------- non-finite values leave no trace

NONFINITE_CASES = [
    pytest.param({0: nan}, id="nan-first"),
    pytest.param({0: inf}, id="inf-first"),
    pytest.param({3: inf}, id="inf-closes-first-window"),
    pytest.param({17: nan}, id="nan-middle"),
    pytest.param({17: -inf, 19: inf}, id="both-infinities"),
    pytest.param({17: inf, 21: inf}, id="two-infinities-overlapping"),
    pytest.param({10: nan, 25: inf}, id="nan-then-inf"),
    pytest.param({39: nan}, id="nan-last"),
    pytest.param({38: -inf}, id="inf-near-end"),
    pytest.param({i: inf for i in range(12, 30, 3)}, id="inf-every-third"),
]


def with_values(rng, n, where):
    x = rng.normal(100.0, 3.0, n)
    for i, v in where.items():
        x[i] = v
    return x


@pytest.mark.parametrize("where", NONFINITE_CASES)
@pytest.mark.parametrize("w", [1, 4, 9])
def test_engine_recovers_after_nonfinite_values(rng, where, w):
    x = with_values(rng, 40, where)
    means, stds = q.rolling_mean_std_np(x, w)
    ref_m, ref_s = ref_engine(x, w)
    assert_bits(means, ref_m)
    assert_bits(stds, ref_s)
    assert_bits(q.rolling_mean_np(x, w), ref_m)
    assert_bits(q.rolling_std_np(x, w), ref_s)
    # Against the windows themselves: clean windows are exact up to rounding, windows
    # holding a non-finite value are NaN (only an infinity closing the first window shows).
    dm, ds = direct_windows(x, w)
    clean = np.isfinite(np.lib.stride_tricks.sliding_window_view(x, w)).all(axis=1)
    np.testing.assert_allclose(means[clean], dm[clean], rtol=1e-12)
    if w > 1:
        np.testing.assert_allclose(stds[clean], ds[clean], rtol=1e-9, atol=1e-12)
    assert np.isnan(stds[~clean]).all()
    first_inf_closing = not clean[0] and np.isinf(x[w - 1]) and np.isfinite(x[:w - 1]).all()
    assert np.isnan(means[~clean][1 if first_inf_closing else 0:]).all()
    if first_inf_closing:
        assert means[0] == x[w - 1]
    # After the last non-finite value the results are those of the clean suffix.
    last = max(where)
    if last + w < len(x):
        tail_m, tail_s = q.rolling_mean_std_np(x[last + 1:], w)
        assert_bits(means[last + 1:], tail_m)
        assert_bits(stds[last + 1:], tail_s)


@pytest.mark.parametrize("where", NONFINITE_CASES)
@pytest.mark.parametrize("w", [1, 4, 9])
def test_trailing_nan_recovers_after_infinities(rng, where, w):
    x = with_values(rng, 40, where)
    for stat, name in zip(["mean", "std", "z"], TRAILING_NAN):
        assert_bits(getattr(q, name)(x, w), ref_trailing_nan(x, w, stat))
    # Directly: NaN skipped, infinities decide the mean of the windows holding them.
    out_m, out_s = q.rolling_mean_nan_np(x, w), q.rolling_std_nan_np(x, w)
    for j in range(len(x)):
        win = x[max(0, j - w + 1):j + 1]
        win = win[~np.isnan(win)]
        if np.isinf(win).any():
            expected = win.sum() if not (inf in win and -inf in win) else nan
            assert_bits([out_m[j]], [expected])
            assert np.isnan(out_s[j])
        elif len(win):
            assert out_m[j] == pytest.approx(win.mean(), rel=1e-12)
            if len(win) > 1:
                assert out_s[j] == pytest.approx(win.std(ddof=1), rel=1e-9, abs=1e-12)


@pytest.mark.parametrize("where", NONFINITE_CASES)
@pytest.mark.parametrize("w", [1, 4, 9])
def test_axis0_recovers_after_nonfinite_values(rng, where, w):
    m = rng.normal(5.0, 1.0, (40, 70))
    col = with_values(rng, 40, where)
    m[:, 3] = col
    m[:, 66] = col[::-1]
    mean, std = q.rolling_mean_axis0_np(m, w), q.rolling_std_axis0_np(m, w)
    m2, s2 = q.rolling_mean_std_axis0_np(m, w)
    for c in [2, 3, 66]:
        raw, shifted, sd = ref_axis0_column(m[:, c], w)
        assert_bits(mean[:, c], raw)
        assert_bits(m2[:, c], shifted)
        assert_bits(std[:, c], sd)
        assert_bits(s2[:, c], sd)
    # A column is computed as if alone.
    assert_bits(q.rolling_mean_axis0_np(np.ascontiguousarray(m[:, 3:4]), w)[:, 0], mean[:, 3])
    dm, ds = direct_windows(m[:, 3], w)
    clean = np.isfinite(np.lib.stride_tricks.sliding_window_view(m[:, 3], w)).all(axis=1)
    np.testing.assert_allclose(mean[clean, 3], dm[clean], rtol=1e-12)
    with np.errstate(invalid="ignore"):
        assert_bits(mean[~clean, 3], dm[~clean])  # NaN, or the window's one-signed infinity


def test_dense_nonfinite_data(rng):
    x = rng.normal(size=20000)
    x[::2] = nan
    assert np.isnan(q.rolling_mean_np(x, 1000)).all()
    assert np.isnan(q.rolling_mean_axis0_np(x.reshape(-1, 5).copy(), 500)).all()
    y = rng.normal(size=20000)
    y[::3] = inf
    assert (q.rolling_mean_nan_np(y, 1000)[1:] == inf).all()
