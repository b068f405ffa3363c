"""Rolling minimum/maximum/median against bottleneck; rolling cov/corr against pandas."""
from __future__ import annotations

import bottleneck as bn
import numpy as np
import pandas as pd

import quarnel_ext as q

from .harness import Case

SECTION = "rolling pairs and order statistics"


def cases(quick):
    n = 100_000 if quick else 1_000_000
    rng = np.random.default_rng(7)
    x = rng.standard_normal(n)
    y = 0.3 * x + rng.standard_normal(n)
    sx, sy = pd.Series(x), pd.Series(y)
    for w in (10, 1000):
        tag = f"n={n:.0e} w={w}"
        yield Case(f"rolling_min {tag}", lambda w=w: q.rolling_min(x, w),
                   "bottleneck.move_min", lambda w=w: bn.move_min(x, w), target=1.0)
        yield Case(f"rolling_max {tag}", lambda w=w: q.rolling_max(x, w),
                   "bottleneck.move_max", lambda w=w: bn.move_max(x, w), target=1.0)
    for w in (10, 1000, 1001):
        tag = f"n={n:.0e} w={w}"
        yield Case(f"rolling_median {tag}", lambda w=w: q.rolling_median(x, w),
                   "bottleneck.move_median", lambda w=w: bn.move_median(x, w),
                   target=1.0 if w == 1001 else None)
    for w in (10, 1000):
        tag = f"n={n:.0e} w={w}"
        yield Case(f"rolling_cov_np {tag}", lambda w=w: q.rolling_cov_np(x, y, w),
                   "pandas rolling.cov", lambda w=w: sx.rolling(w).cov(sy))
        yield Case(f"rolling_corr_np {tag}", lambda w=w: q.rolling_corr_np(x, y, w),
                   "pandas rolling.corr", lambda w=w: sx.rolling(w).corr(sy))
