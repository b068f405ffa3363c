"""Rolling mean/std engines and the fused multi-statistic engine against bottleneck and pandas."""
from __future__ import annotations

import bottleneck as bn
import numpy as np
import pandas as pd

import quarnel_ext as q

from .harness import Case

SECTION = "rolling: running mean/std, NaN-skipping, axis 0, fused multi-statistic"

MULTI_STATS = ("mean", "std", "min", "max")


def cases(quick):
    rng = np.random.default_rng(7)
    n = 100_000 if quick else 1_000_000
    x = rng.normal(10.0, 2.0, n)
    xn = x.copy()
    xn[rng.random(n) < 0.05] = np.nan
    m = rng.normal(size=(1_000 if quick else 10_000, 100))
    s = pd.Series(x)
    for w in (10, 1000):
        yield Case(f"rolling_mean_np n={n:.0e} w={w}", lambda: q.rolling_mean_np(x, w),
                   "bottleneck.move_mean", lambda: bn.move_mean(x, w), note="compensated sums", target=1.0)
        yield Case(f"rolling_std_np n={n:.0e} w={w}", lambda: q.rolling_std_np(x, w),
                   "bottleneck.move_std", lambda: bn.move_std(x, w, ddof=1), note="compensated sums", target=1.0)
        yield Case(f"rolling_mean_std_np n={n:.0e} w={w}", lambda: q.rolling_mean_std_np(x, w),
                   "pandas mean()+std()", lambda: (s.rolling(w).mean(), s.rolling(w).std()))
        yield Case(f"rolling_mean_nan_np n={n:.0e} w={w} 5% NaN", lambda: q.rolling_mean_nan_np(xn, w),
                   "bottleneck.move_mean min_count=1", lambda: bn.move_mean(xn, w, min_count=1), target=1.0)
        yield Case(f"rolling_std_nan_np n={n:.0e} w={w} 5% NaN", lambda: q.rolling_std_nan_np(xn, w),
                   "bottleneck.move_std min_count=1", lambda: bn.move_std(xn, w, min_count=1, ddof=1), target=1.0)
        yield Case(f"rolling_mean_axis0_np {m.shape[0]}x100 w={w}", lambda: q.rolling_mean_axis0_np(m, w),
                   "bottleneck.move_mean axis=0", lambda: bn.move_mean(m, w, axis=0), target=1.0)
        yield Case(f"rolling_std_axis0_np {m.shape[0]}x100 w={w}", lambda: q.rolling_std_axis0_np(m, w),
                   "bottleneck.move_std axis=0", lambda: bn.move_std(m, w, axis=0, ddof=1), target=1.0)
    # The fused engine evaluates every window from its own elements: O(n * w) by design.
    for w in (10, 1000):
        yield Case(f"rolling_multi_np {'/'.join(MULTI_STATS)} n={n:.0e} w={w}",
                   lambda: q.rolling_multi_np(x, w, stats=MULTI_STATS),
                   "pandas rolling x4", lambda: [getattr(s.rolling(w), f)() for f in MULTI_STATS],
                   note="per-window rescan")
