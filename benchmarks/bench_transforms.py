"""Transforms, outlier flags, KDE and axis means against their peers."""
import numpy as np
import pandas as pd
import scipy.stats

import quarnel_ext as q

from .harness import Case

SECTION = "transforms, outlier flags, density, axis means"


def _bins_by_argsort(a, k):
    r = np.empty(a.size, dtype=np.int64)
    r[np.argsort(a, kind="stable")] = np.arange(a.size)
    return (k * (r + 1) - 1) // a.size


def _iqr_flags(a, k):
    q1, q3 = np.percentile(a, [25, 75])
    return np.logical_or(a > q3 + k * (q3 - q1), a < q1 - k * (q3 - q1))


def _robust_scale(a, f):
    med = np.median(a)
    mad = scipy.stats.median_abs_deviation(a)
    return (a - med) / (f * mad), med, mad


def _minmax(a):
    lo, hi = a.min(), a.max()
    return (a - lo) / (hi - lo), lo, hi


def cases(quick):
    n = 100_000 if quick else 1_000_000
    rng = np.random.default_rng(7)
    a = rng.normal(size=n)
    s = pd.Series(a)
    a_nan = a.copy()
    a_nan[::10] = np.nan
    tag = f"n={n:.0e}"

    yield Case(f"zscore_np {tag}", lambda: q.zscore_np(a), "scipy.stats.zscore(ddof=1)",
               lambda: scipy.stats.zscore(a, ddof=1))
    yield Case(f"zscore_skipna_np {tag}", lambda: q.zscore_skipna_np(a_nan), "scipy zscore nan_policy=omit",
               lambda: scipy.stats.zscore(a_nan, ddof=1, nan_policy="omit"))
    yield Case(f"robust_scale_np {tag}", lambda: q.robust_scale_np(a, 1.4826), "numpy.median + scipy MAD",
               lambda: _robust_scale(a, 1.4826))
    yield Case(f"minmax_scale_np {tag}", lambda: q.minmax_scale_np(a), "numpy min/max", lambda: _minmax(a))
    yield Case(f"winsorize_np {tag}", lambda: q.winsorize_np(a, 0.05, 0.95), "numpy.clip(percentile)",
               lambda: np.clip(a, np.percentile(a, 5), np.percentile(a, 95)))
    yield Case(f"winsorize_clip_np {tag}", lambda: q.winsorize_clip_np(a, -1.0, 1.0), "numpy.clip",
               lambda: np.clip(a, -1.0, 1.0))
    yield Case(f"diff_np {tag}", lambda: q.diff_np(a, 3), "pandas diff", lambda: s.diff(3).to_numpy())
    yield Case(f"pct_change_np {tag}", lambda: q.pct_change_np(a, 3), "pandas pct_change",
               lambda: s.pct_change(periods=3, fill_method=None).to_numpy())
    yield Case(f"cumsum_np {tag}", lambda: q.cumsum_np(a), "numpy.cumsum", lambda: np.cumsum(a))
    yield Case(f"cummean_np {tag}", lambda: q.cummean_np(a), "numpy cumsum / arange",
               lambda: np.cumsum(a) / np.arange(1, n + 1))
    yield Case(f"ewma_np {tag}", lambda: q.ewma_np(a, 0.1), "pandas ewm(adjust=False)",
               lambda: s.ewm(alpha=0.1, adjust=False).mean().to_numpy())
    yield Case(f"ecdf_np {tag}", lambda: q.ecdf_np(a), "numpy.sort + arange",
               lambda: (np.sort(a), np.arange(1, n + 1) / n))
    yield Case(f"quantile_bins_np k=10 {tag}", lambda: q.quantile_bins_np(a, 10), "numpy argsort composition",
               lambda: _bins_by_argsort(a, 10))
    yield Case(f"sign_mask_np {tag}", lambda: q.sign_mask_np(a), "numpy.sign.astype(int8)",
               lambda: np.sign(a).astype(np.int8))
    yield Case(f"demean_with_signs_np {tag}", lambda: q.demean_with_signs_np(a), "numpy mean, sign",
               lambda: (lambda d: (d, np.sign(d).astype(np.int8)))(a - a.mean()))
    yield Case(f"pad_nan_np {tag}", lambda: q.pad_nan_np(n), "numpy.full(nan)", lambda: np.full(n, np.nan))
    yield Case(f"iqr_outliers_np {tag}", lambda: q.iqr_outliers_np(a), "numpy percentile fences",
               lambda: _iqr_flags(a, 1.5))
    yield Case(f"zscore_outliers_np {tag}", lambda: q.zscore_outliers_np(a), "abs(scipy zscore) > t",
               lambda: np.abs(scipy.stats.zscore(a, ddof=1)) > 3.0)

    x = rng.normal(size=1000)
    grid = np.linspace(x.min() - 3 * 1000 ** -0.2 * x.std(ddof=1), x.max() + 3 * 1000 ** -0.2 * x.std(ddof=1), 200)
    yield Case("kde_gaussian_np n=1000 points=200", lambda: q.kde_gaussian_np(x), "scipy gaussian_kde",
               lambda: scipy.stats.gaussian_kde(x)(grid))

    side = 300 if quick else 1000
    m = rng.normal(size=(side, side))
    mf = np.asfortranarray(m)
    m_nan = m.copy()
    m_nan[rng.random(m.shape) < 0.05] = np.nan
    for axis in (0, 1):
        yield Case(f"mean_axis_np {side}x{side} axis={axis}", lambda axis=axis: q.mean_axis_np(m, axis),
                   "numpy.mean", lambda axis=axis: np.mean(m, axis=axis))
        yield Case(f"mean_axis_np F-order axis={axis}", lambda axis=axis: q.mean_axis_np(mf, axis),
                   "numpy.mean", lambda axis=axis: np.mean(mf, axis=axis))
        yield Case(f"mean_axis_np skipna axis={axis}", lambda axis=axis: q.mean_axis_np(m_nan, axis, True),
                   "numpy.nanmean", lambda axis=axis: np.nanmean(m_nan, axis=axis))
    cube = rng.normal(size=(side // 10, 10, side))
    yield Case(f"mean_over_last_axis_dyn_np {cube.shape}", lambda: q.mean_over_last_axis_dyn_np(cube),
               "numpy.mean(axis=-1)", lambda: np.mean(cube, axis=-1).reshape(-1))
    cube_f = np.asfortranarray(cube)
    yield Case("mean_over_last_axis_dyn_np F-order", lambda: q.mean_over_last_axis_dyn_np(cube_f),
               "numpy.mean(axis=-1)", lambda: np.mean(cube_f, axis=-1).reshape(-1))
