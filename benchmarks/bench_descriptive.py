"""Descriptive and robust statistics against NumPy, SciPy and bottleneck."""
from __future__ import annotations

import numpy as np

from .harness import Case

SECTION = "descriptive statistics"


def cases(quick):
    import bottleneck as bn
    import scipy.stats

    import quarnel_ext as q

    rng = np.random.default_rng(0)
    tiny = rng.normal(size=8)
    for ours, peer_label, peer in [
        (q.mean_np, "numpy.mean", np.mean),
        (q.mean_np, "bottleneck.nanmean", bn.nanmean),
        (q.median_np, "numpy.median", np.median),
        (q.median_np, "bottleneck.median", bn.median),
    ]:
        yield Case(f"{ours.__name__} n=8", lambda f=ours: f(tiny), peer_label, lambda g=peer: g(tiny),
                   target=10.0 if peer_label.startswith("numpy") else 1.0)
    yield Case("percentile_np n=8", lambda: q.percentile_np(tiny, 30.0), "numpy.percentile",
               lambda: np.percentile(tiny, 30.0), target=10.0)

    n = 100_000 if quick else 1_000_000
    big = rng.normal(size=n)
    holey = big.copy()
    holey[rng.random(n) < 0.05] = np.nan
    yield Case(f"median_np n={n:.0e}", lambda: q.median_np(big), "numpy.median", lambda: np.median(big), target=1.0)
    yield Case(f"percentile_np n={n:.0e}", lambda: q.percentile_np(big, 90.0), "numpy.percentile",
               lambda: np.percentile(big, 90.0), target=1.0)
    yield Case(f"mad_np n={n:.0e}", lambda: q.mad_np(big), "scipy.median_abs_deviation",
               lambda: scipy.stats.median_abs_deviation(big), target=1.0)
    yield Case(f"median_skipna_np n={n:.0e} (5% NaN)", lambda: q.median_skipna_np(holey), "bottleneck.nanmedian",
               lambda: bn.nanmedian(holey), target=1.0)
    yield Case(f"iqr_np n={n:.0e}", lambda: q.iqr_np(big), "numpy.percentile[25,75]",
               lambda: np.percentile(big, [25, 75]))
    cycles = "in-order sum: one add per add latency"
    yield Case(f"mean_np n={n:.0e}", lambda: q.mean_np(big), "numpy.mean", lambda: np.mean(big), note=cycles)
    yield Case(f"var_np n={n:.0e}", lambda: q.var_np(big), "numpy.var(ddof=1)", lambda: np.var(big, ddof=1),
               note=cycles)
    yield Case(f"mean_skipna_np n={n:.0e} (5% NaN)", lambda: q.mean_skipna_np(holey), "bottleneck.nanmean",
               lambda: bn.nanmean(holey), note=cycles)
    yield Case(f"var_skipna_np n={n:.0e} (5% NaN)", lambda: q.var_skipna_np(holey), "bottleneck.nanvar(ddof=1)",
               lambda: bn.nanvar(holey, ddof=1), note=cycles)
    yield Case(f"trimmed_mean_np n={n:.0e}", lambda: q.trimmed_mean_np(big, 0.1), "scipy.trim_mean",
               lambda: scipy.stats.trim_mean(big, 0.1),
               note="sums the kept values in ascending order, so it sorts; the peer partitions")

    nq = 20_000 if quick else 100_000
    small = big[:nq].copy()

    def qn_direct_sample():
        # The quadratic definition on a 2,000-value sample; scaled up it would need n^2/2 doubles.
        x = small[:2000]
        d = np.abs(x[:, None] - x[None, :])[np.triu_indices(len(x), 1)]
        return np.partition(d, len(d) // 4)[len(d) // 4]

    yield Case(f"qn_scale_np n={nq:.0e}", lambda: q.qn_scale_np(small), "direct Qn, n=2e3 only", qn_direct_sample,
               note="peer is 50x smaller: a lower bound of the gap")

    # The robust model: one shared median for (median, MAD); Huber from the median.
    def median_and_mad():
        return np.median(big), scipy.stats.median_abs_deviation(big, scale="normal")

    yield Case(f"robust_fit median/mad n={n:.0e}", lambda: q.robust_fit(big), "numpy.median + scipy MAD",
               median_and_mad, target=1.0)
    model = q.RobustStats(location="huber")
    try:
        from statsmodels.robust import norms
    except ImportError:
        return
    mid = big[: n // 10].copy()
    s = 1.482602218505602 * scipy.stats.median_abs_deviation(mid)
    yield Case(f"RobustStats(huber).fit n={n // 10:.0e}", lambda: model.fit(mid), "statsmodels Huber + MAD",
               lambda: (norms.estimate_location(mid, s, norm=norms.HuberT(t=1.345), maxiter=50),
                        scipy.stats.median_abs_deviation(mid, scale="normal")))
