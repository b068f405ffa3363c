"""Covariance, correlation, Gram and distance matrices against NumPy (BLAS), pandas and SciPy."""
from __future__ import annotations

import numpy as np
import pandas as pd
from scipy.spatial.distance import pdist, squareform

import quarnel_ext as q

from .harness import Case

SECTION = "Matrix and pairwise statistics"


def cases(quick: bool):
    rng = np.random.default_rng(1)
    dense = [(100, 10), (2000, 40), (1000, 200)] if quick else [(100, 10), (10_000, 100), (1_000, 500)]
    for n, p in dense:
        x = rng.standard_normal((n, p))
        # Within 2x of BLAS on large inputs (which may fuse and reassociate; we may not),
        # ahead of NumPy's call overhead on small ones.
        target = 1.0 if n * p <= 1000 else 0.5
        shape = f"{n}x{p}"
        yield Case(f"cov_matrix_np {shape}", lambda x=x: q.cov_matrix_np(x),
                   "numpy.cov(rowvar=False)", lambda x=x: np.cov(x, rowvar=False), target=target)
        yield Case(f"corr_matrix_np {shape}", lambda x=x: q.corr_matrix_np(x),
                   "numpy.corrcoef(rowvar=False)", lambda x=x: np.corrcoef(x, rowvar=False), target=target)
        yield Case(f"xtx_matrix_np {shape}", lambda x=x: q.xtx_matrix_np(x),
                   "x.T @ x", lambda x=x: x.T @ x, target=target)

    holes = [(2000, 40), (500, 100)] if quick else [(10_000, 100), (1_000, 500)]
    for n, p in holes:
        x = rng.standard_normal((n, p))
        x[rng.random(x.shape) < 0.1] = np.nan
        df = pd.DataFrame(x)
        shape = f"{n}x{p} 10% NaN"
        yield Case(f"cov_matrix_skipna_np {shape}", lambda x=x: q.cov_matrix_skipna_np(x),
                   "DataFrame.cov()", lambda df=df: df.cov(), target=5.0)
        yield Case(f"corr_matrix_skipna_np {shape}", lambda x=x: q.corr_matrix_skipna_np(x),
                   "DataFrame.corr()", lambda df=df: df.corr(), target=5.0)

    for n, p in dense[1:]:
        x = rng.standard_normal((n, p))
        yield Case(f"pairwise_euclidean_cols_np {n}x{p}", lambda x=x: q.pairwise_euclidean_cols_np(x),
                   "squareform(pdist(x.T))", lambda x=x: squareform(pdist(x.T)), target=1.0)

    n = 100_000 if quick else 1_000_000
    x, y = rng.standard_normal(n), rng.standard_normal(n)
    yield Case(f"cov_np n={n:.0e}", lambda: q.cov_np(x, y), "numpy.cov(x, y)", lambda: np.cov(x, y))
    yield Case(f"corr_np n={n:.0e}", lambda: q.corr_np(x, y), "numpy.corrcoef(x, y)", lambda: np.corrcoef(x, y))
    xs, ys = x.copy(), y.copy()
    xs[::10] = np.nan
    sx, sy = pd.Series(xs), pd.Series(ys)
    yield Case(f"cov_skipna n={n:.0e} 10% NaN", lambda: q.cov_skipna(xs, ys), "Series.cov", lambda: sx.cov(sy))
    yield Case(f"corr_skipna n={n:.0e} 10% NaN", lambda: q.corr_skipna(xs, ys), "Series.corr", lambda: sx.corr(sy))
