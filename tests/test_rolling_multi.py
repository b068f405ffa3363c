import math

import numpy as np
import pandas as pd
import pytest

import quarnel_ext as q
from test_rolling_basic import assert_bits, kahan

nan, inf = np.nan, np.inf
STATS = ("mean", "std", "var", "count", "min", "max")


def multi(x, window, **kw):
    return dict(zip(STATS, q.rolling_multi_np(x, window, stats=STATS, **kw)))


# ---------------------------------------------------------------- pure-Python reference

def ref_window(vals, propagate_void):
    """Statistics of one window's used values: compensated sums from zero over the finite
    ones, shifted by the first finite one; exact extremes; infinities decide the mean."""
    if propagate_void:
        return dict.fromkeys(STATS, nan)
    used = [v for v in vals if v == v]
    fin = [v for v in used if math.isfinite(v)]
    k = fin[0] if fin else 0.0
    S = S1 = S2 = (0.0, 0.0)
    for v in fin:
        S, S1, S2 = kahan(S, v), kahan(S1, v - k), kahan(S2, (v - k) * (v - k))
    c = float(len(used))
    pos, neg = inf in used, -inf in used
    if pos or neg:
        mean, var = (nan if pos and neg else inf if pos else -inf), nan
    else:
        mean = S[0] / c if c else nan
        m1 = S1[0] / c if c else nan
        qv = (S2[0] - m1 * c * m1) / (c - 1) if c > 1 else nan
        var = nan if math.isnan(qv) else max(qv, 0.0)
    return {"mean": mean, "var": var, "std": math.sqrt(var) if var == var else nan, "count": c,
            "min": min(used) if used else nan, "max": max(used) if used else nan}


def ref_multi(x, w, min_periods=None, alignment="trailing", nan_policy="propagate"):
    x = [float(v) for v in x]
    n = len(x)
    propagate = nan_policy == "propagate"
    out = {s: [] for s in STATS}
    if alignment == "trailing":
        windows = [(j, w) for j in range(n - w + 1)] if n >= w else []
    else:
        h = w // 2
        windows = [(max(0, i - h), min(n - 1, i + h) - max(0, i - h) + 1) for i in range(n)]
    for lo, length in windows:
        vals = x[lo:lo + length]
        has_nan = any(v != v for v in vals)
        st = ref_window(vals, propagate and alignment == "trailing" and has_nan)
        c = st["count"]
        if alignment == "centered":
            r = min_periods or length
            value_ok = c >= r and not (has_nan and propagate)
            spread_ok = value_ok and c >= 2
        elif propagate:
            value_ok = spread_ok = True
        else:
            m = min_periods or w
            value_ok, spread_ok = c >= m, c >= max(m, 2)
        for s in STATS:
            ok = True if s == "count" else spread_ok if s in ("std", "var") else value_ok
            out[s].append(st[s] if ok else nan)
    return {s: np.array(v, dtype=float) for s, v in out.items()}


CONFIGS = [
    dict(),
    dict(nan_policy="ignore"),
    dict(nan_policy="require_min_periods", min_periods=2),
    dict(nan_policy="Ignore", min_periods=1),
    dict(alignment="centered"),
    dict(alignment="centered", min_periods=2),
    dict(alignment="centered", nan_policy="ignore"),
    dict(alignment="centered", nan_policy="ignore", min_periods=1),
]


@pytest.mark.parametrize("cfg", CONFIGS)
@pytest.mark.parametrize("w", [1, 2, 5, 8])
def test_against_reference_with_nan_and_infinities(rng, cfg, w):
    x = rng.normal(30.0, 10.0, 60)
    x[rng.random(60) < 0.15] = nan
    x[[7, 31]] = inf
    x[33] = -inf
    if "min_periods" in cfg:
        cfg = dict(cfg, min_periods=min(cfg["min_periods"], w))
    got = multi(x, w, **cfg)
    cfg = {k: v.lower() if isinstance(v, str) else v for k, v in cfg.items()}
    want = ref_multi(x, w, **cfg)
    for s in STATS:
        assert_bits(got[s], want[s])


@pytest.mark.parametrize("w", [3, 4, 9])
def test_against_reference_on_finite_data(rng, w):
    x = rng.normal(0.0, 1.0, 200) * 10.0 ** rng.integers(-4, 5, 200)
    for cfg in CONFIGS:
        got = multi(x, w, **cfg)
        want = ref_multi(x, w, **{k: v.lower() if isinstance(v, str) else v for k, v in cfg.items()})
        for s in STATS:
            assert_bits(got[s], want[s])


@pytest.mark.parametrize("stats", [("mean",), ("min", "max"), ("std", "count"), ("var", "mean", "max")])
@pytest.mark.parametrize("cfg", [dict(), dict(nan_policy="ignore", min_periods=3), dict(alignment="centered")])
def test_subsets_on_long_series_with_sparse_gaps(rng, stats, cfg):
    # Long clean stretches between isolated NaN and infinities, whatever statistics are asked.
    x = rng.normal(7.0, 3.0, 500)
    x[[40, 41, 230]] = nan
    x[[120, 380]] = [inf, -inf]
    got = q.rolling_multi_np(x, 7, stats=stats, **cfg)
    want = ref_multi(x, 7, **cfg)
    for name, arr in zip(stats, got):
        assert_bits(arr, want[name])


# ---------------------------------------------------------------- pandas on random data

def pandas_stats(r):
    return {"mean": r.mean(), "std": r.std(), "var": r.var(), "count": r.count(), "min": r.min(), "max": r.max()}


def check_close(got, want, skip=()):
    for s in STATS:
        if s in skip:
            continue
        w = np.asarray(want[s], dtype=float)
        if s in ("min", "max", "count"):
            assert_bits(got[s], w)
        else:
            np.testing.assert_allclose(got[s], w, rtol=1e-10, atol=1e-10)


@pytest.mark.parametrize("w", [1, 4, 25])
def test_trailing_against_pandas(rng, w):
    x = rng.normal(5.0, 2.0, 1500)
    got = multi(x, w)
    want = {s: v.to_numpy()[w - 1:] for s, v in pandas_stats(pd.Series(x).rolling(w)).items()}
    check_close(got, want)
    x[rng.random(1500) < 0.1] = nan
    for m in [None, 1, w]:
        got = multi(x, w, min_periods=m, nan_policy="ignore")
        r = pd.Series(x).rolling(w, min_periods=m or w)
        want = {s: v.to_numpy()[w - 1:] for s, v in pandas_stats(r).items()}
        check_close(got, want)
    # Propagate voids a window with NaN entirely, count included.
    got = multi(x, w)
    void = np.isnan(np.lib.stride_tricks.sliding_window_view(x, w)).any(axis=1)
    assert np.isnan(got["count"][void]).all() and (got["count"][~void] == w).all()


@pytest.mark.parametrize("w", [1, 3, 4, 11, 12])
def test_centered_against_pandas(rng, w):
    x = rng.normal(-3.0, 1.0, 800)
    pw = w if w % 2 else w + 1  # an even window covers w + 1 positions
    for m in [None, 1, min(2, w)]:
        got = multi(x, w, min_periods=m, alignment="centered")
        r = pd.Series(x).rolling(pw, center=True, min_periods=m or 1)
        check_close(got, {s: v.to_numpy() for s, v in pandas_stats(r).items()}, skip=("std", "var") if w == 1 else ())


def test_axis0_against_pandas_and_columns(rng):
    m = rng.normal(2.0, 1.0, (300, 7))
    m[rng.random((300, 7)) < 0.05] = nan
    for kw in [dict(), dict(nan_policy="ignore", min_periods=3), dict(alignment="centered", nan_policy="ignore")]:
        got = q.rolling_multi_axis0_np(m, 6, stats=STATS, **kw)
        for c in range(7):
            one = q.rolling_multi_np(np.ascontiguousarray(m[:, c]), 6, stats=STATS, **kw)
            for g, o in zip(got, one):
                assert_bits(g[:, c], o)
    got = dict(zip(STATS, q.rolling_multi_axis0_np(m, 6, min_periods=3, nan_policy="ignore", stats=STATS)))
    r = pd.DataFrame(m).rolling(6, min_periods=3)
    check_close(got, {s: v.to_numpy()[5:] for s, v in pandas_stats(r).items()})


# ---------------------------------------------------------------- documented behaviour

def test_examples():
    x = np.array([1.0, nan, 3.0, 4.0, 5.0])
    p = multi(x, 3)
    for s in STATS:
        assert np.isnan(p[s][:2]).all()
    assert (p["mean"][2], p["count"][2], p["min"][2], p["max"][2]) == (4.0, 3.0, 3.0, 5.0)
    g = multi(x, 3, nan_policy="ignore", min_periods=2)
    assert (g["mean"][0], g["count"][0], g["min"][0], g["max"][0]) == (2.0, 2.0, 1.0, 3.0)
    assert g["std"][0] == math.sqrt(2.0)
    c = multi(np.arange(5.0), 3, alignment="centered")
    assert_bits(c["count"], [2, 3, 3, 3, 2])
    assert_bits(c["mean"], [0.5, 1, 2, 3, 3.5])
    c4 = multi(np.arange(7.0), 4, alignment="centered")
    assert c4["count"][3] == 5 and c4["mean"][3] == 3.0 and c4["min"][3] == 1.0


def test_window_one():
    x = np.array([2.0, nan, -1.0])
    for cfg, count in [(dict(), [1, nan, 1]), (dict(nan_policy="ignore"), [1, 0, 1]),
                       (dict(alignment="centered"), [1, 0, 1])]:
        r = multi(x, 1, **cfg)
        assert np.isnan(r["std"]).all() and np.isnan(r["var"]).all()
        assert_bits(r["count"], count)
        for s in ("mean", "min", "max"):
            assert_bits(r[s], x)


def test_stats_selection_and_order():
    x = np.arange(6.0)
    (mean,) = q.rolling_multi_np(x, 2)
    assert_bits(mean, [0.5, 1.5, 2.5, 3.5, 4.5])
    a, b, c = q.rolling_multi_np(x, 2, stats=("MAX", "mean", "max"))
    assert_bits(a, [1, 2, 3, 4, 5])
    assert_bits(b, mean)
    assert_bits(c, a)
    a[0] = 99.0
    assert c[0] == 1.0  # independent arrays
    assert all(arr.flags.c_contiguous and arr.flags.writeable for arr in (a, b, c))
    x2 = np.arange(12.0).reshape(6, 2)
    a2, c2 = q.rolling_multi_axis0_np(x2, 2, stats=["count", "Count"])
    a2[0, 0] = -1
    assert c2[0, 0] == 2.0 and c2.shape == (5, 2)


@pytest.mark.parametrize("kwargs, message", [
    (dict(stats=()), "No valid statistics specified"),
    (dict(stats=(" , ",)), "No valid statistics specified"),
    (dict(stats=("median",)), "Unknown stat: median"),
    (dict(stats=("mean", "MEDIAN ")), "Unknown stat: median"),
    (dict(stats=(" Mean ",)), "Unknown stat:  Mean "),
    (dict(stats=("mean,std",)), "Unknown stat: mean,std"),
    (dict(stats=("\u3000STD\u2003", "mean")), "Unknown stat: \u3000STD\u2003"),
    (dict(stats=("mean", "")), "Unknown stat: "),
    (dict(stats=("ÉCART",)), "Unknown stat: écart"),
    (dict(alignment=" trailing"), "Invalid alignment: ' trailing'. Must be 'trailing' or 'centered'"),
    (dict(alignment="CENTRED"), "Invalid alignment: 'CENTRED'. Must be 'trailing' or 'centered'"),
    (dict(nan_policy="skip"), "Invalid nan_policy: 'skip'. Must be 'propagate', 'ignore', or 'require_min_periods'"),
    (dict(window=0), "window must be >= 1"),
    (dict(min_periods=0), "min_periods must be >= 1 (or None)"),
    (dict(window=2, min_periods=3), "min_periods (3) cannot exceed window (2)"),
    # Checked in order: alignment, policy, config, statistics.
    (dict(alignment="x", nan_policy="y", window=0, stats=()), "Invalid alignment: 'x'. Must be 'trailing' or 'centered'"),
    (dict(nan_policy="y", window=0, stats=()), "Invalid nan_policy: 'y'. Must be 'propagate', 'ignore', or 'require_min_periods'"),
    (dict(window=0, min_periods=0, stats=()), "window must be >= 1"),
    (dict(min_periods=9, stats=()), "min_periods (9) cannot exceed window (3)"),
])
@pytest.mark.parametrize("axis0", [False, True])
def test_value_errors(kwargs, message, axis0):
    kwargs = dict(kwargs)
    window = kwargs.pop("window", 3)
    f, x = (q.rolling_multi_axis0_np, np.ones((5, 2))) if axis0 else (q.rolling_multi_np, np.ones(5))
    with pytest.raises(ValueError) as e:
        f(x, window, **kwargs)
    assert str(e.value) == message


def test_accepted_spellings():
    x = np.arange(5.0)
    assert_bits(q.rolling_multi_np(x, 3, alignment="Centered", nan_policy="IGNORE")[0], [0.5, 1, 2, 3, 3.5])
    assert_bits(q.rolling_multi_np(x, 3, stats=[" Mean", "mean"][1:])[0], [1, 2, 3])
    assert_bits(q.rolling_multi_np(x, 3, None, "trailing", "require_min_periods", ["mean"])[0], [1, 2, 3])


def test_conversion_and_layout_errors():
    x = np.arange(10.0)
    with pytest.raises(TypeError, match=r"^argument 'stats': "):
        q.rolling_multi_np(x, 2, stats="mean")
    with pytest.raises(TypeError, match=r"^argument 'stats': "):
        q.rolling_multi_np(x, 2, stats=["mean", 1])
    with pytest.raises(TypeError, match=r"^argument 'alignment': "):
        q.rolling_multi_np(x, 2, alignment=None)
    with pytest.raises(OverflowError):
        q.rolling_multi_np(x, 2, min_periods=-1)
    # Contiguity comes before every option check.
    with pytest.raises(TypeError, match=r"^The given array is not contiguous$"):
        q.rolling_multi_np(x[::2], 0, alignment="bad")
    m = np.arange(12.0).reshape(4, 3)
    with pytest.raises(ValueError, match=r"^Array must be contiguous$"):
        q.rolling_multi_axis0_np(np.asfortranarray(m), 0, alignment="bad")
    with pytest.raises(TypeError, match=r"^argument 'x': "):
        q.rolling_multi_axis0_np(x, 2)
    # Nothing to read: no layout requirement.
    assert q.rolling_multi_axis0_np(np.asfortranarray(np.ones((0, 3))), 2)[0].shape == (0, 0)


def test_output_shapes():
    assert q.rolling_multi_np(np.arange(3.0), 5)[0].shape == (0,)
    assert q.rolling_multi_np(np.empty(0), 1, alignment="centered")[0].shape == (0,)
    assert q.rolling_multi_axis0_np(np.ones((3, 4)), 5)[0].shape == (0, 0)
    assert q.rolling_multi_axis0_np(np.ones((0, 4)), 1, alignment="centered")[0].shape == (0, 0)
    assert q.rolling_multi_axis0_np(np.ones((4, 4)), 2, alignment="centered")[0].shape == (4, 4)
    # Zero columns: one row per output position, no columns.
    for kw, rows in [(dict(), 3), (dict(alignment="centered"), 4)]:
        out = q.rolling_multi_axis0_np(np.ones((4, 0)), 2, stats=STATS, **kw)
        assert [a.shape for a in out] == [(rows, 0)] * 6


# ---------------------------------------------------------------- mended faults

def test_min_and_max_are_window_elements(rng):
    assert_bits(q.rolling_multi_np(np.array([100.0, 0.1]), 2, stats=("min", "max")), [[0.1], [100.0]])
    x = rng.normal(1e6, 1.0, 400) * rng.choice([1e-9, 1.0, 1e9], 400)
    lo, hi = q.rolling_multi_np(x, 7, stats=("min", "max"))
    v = np.lib.stride_tricks.sliding_window_view(x, 7)
    assert_bits(lo, v.min(1))
    assert_bits(hi, v.max(1))


def test_huge_window():
    x = np.array([1.0, 4.0, 2.0, nan, 3.0])
    big = 2**64 - 1
    assert q.rolling_multi_np(x, big)[0].shape == (0,)
    count, mean = q.rolling_multi_np(x, big, min_periods=2, alignment="centered", nan_policy="ignore",
                                     stats=("count", "mean"))
    assert_bits(count, [4.0] * 5)
    assert_bits(mean, [2.5] * 5)


def test_windows_with_infinities():
    x = np.array([inf, 1.0, 2.0, 3.0, -inf, 5.0, inf, 7.0, 8.0])
    r = multi(x, 2)
    assert_bits(r["mean"], [inf, 1.5, 2.5, -inf, -inf, inf, inf, 7.5])
    assert_bits(r["std"], [nan, math.sqrt(0.5), math.sqrt(0.5), nan, nan, nan, nan, math.sqrt(0.5)])
    assert_bits(r["min"], [1, 1, 2, -inf, -inf, 5, 7, 7])
    assert_bits(r["max"], [inf, 2, 3, 3, 5, inf, inf, 8])
    assert_bits(r["count"], [2] * 8)
    both = multi(np.array([-inf, 1.0, inf]), 3)
    assert np.isnan(both["mean"][0]) and np.isnan(both["var"][0])
    assert (both["min"][0], both["max"][0]) == (-inf, inf)
    only = multi(np.array([inf, nan, inf]), 3, nan_policy="ignore", min_periods=1)
    assert (only["mean"][0], only["count"][0], only["min"][0]) == (inf, 2.0, inf)
    # Windows without infinities are untouched by neighbours that hold one.
    y = np.array([1.0, 2.0, 4.0, inf, 8.0, 16.0, 32.0])
    assert_bits(multi(y, 3)["mean"][[0, 4]], [7.0 / 3.0, 56.0 / 3.0])


@pytest.mark.parametrize("w", [5, 6, 9, 40])
def test_centered_window_longer_than_series(rng, w):
    x = rng.normal(size=5)
    got = multi(x, w, alignment="centered")
    h = w // 2
    for i in range(5):
        win = x[max(0, i - h):i + h + 1]
        assert got["count"][i] == len(win)
        assert got["mean"][i] == pytest.approx(win.mean(), rel=1e-14)
        assert got["std"][i] == pytest.approx(win.std(ddof=1), rel=1e-12)
        assert (got["min"][i], got["max"][i]) == (win.min(), win.max())
    assert_bits(q.rolling_multi_axis0_np(x[:, None].copy(), w, alignment="centered")[0][:, 0], got["mean"])
