"""A short tour of quarnel_ext on a realistic series.

A year of hourly readings: a daily cycle, a slow trend, noise, a few sensor glitches
(outliers) and a few missing values (NaN). Run: python examples/tour.py
"""
import numpy as np

import quarnel_ext as q

rng = np.random.default_rng(7)
n = 24 * 365
t = np.arange(n, dtype=float)
series = 20.0 + 0.0005 * t + 3.0 * np.sin(2 * np.pi * t / 24) + rng.normal(0.0, 0.8, n)
glitches = rng.choice(n, 12, replace=False)
series[glitches] += rng.choice([-25.0, 25.0], 12)
missing = rng.choice(n, 30, replace=False)
series[missing] = np.nan
clean = series[~np.isnan(series)]


def show(label, value):
    if isinstance(value, float):
        value = f"{value:.4f}"
    elif isinstance(value, tuple):
        value = "(" + ", ".join(f"{v:.4f}" if isinstance(v, float) else str(v) for v in value) + ")"
    print(f"  {label:50s} {value}")


print(f"Hourly series: {n} readings, {len(glitches)} glitches, {len(missing)} missing values\n")

print("Descriptive statistics")
show("mean_np (NaN propagates)", q.mean_np(series))
show("mean_skipna_np", q.mean_skipna_np(series))
show("std_skipna_np", q.std_skipna_np(series))
show("welford_np (mean, variance, count)", q.welford_np(series))
show("median_skipna_np", q.median_skipna_np(series))
show("mad_skipna_np (raw MAD)", q.mad_skipna_np(series))
show("iqr_np of the clean values (q1, q3, iqr)", q.iqr_np(clean))
show("percentile_np 99", q.percentile_np(clean, 99.0))
show("skew_np / kurtosis_np", (q.skew_np(clean), q.kurtosis_np(clean)))

print("\nRobust estimators (the glitches barely move them)")
show("trimmed_mean_np 10 %", q.trimmed_mean_np(clean, 0.1))
show("winsorized_mean_np 5..95", q.winsorized_mean_np(clean, 5.0, 95.0))
show("qn_scale_np", q.qn_scale_np(clean))
show("biweight_midvariance_np", q.biweight_midvariance_np(clean))
show("huber_location_np", q.huber_location_np(clean))
model = q.RobustStats(location="huber", scale="qn")
print(f"  {repr(model)}")
show("  .fit(clean)", model.fit(clean))
scores = model.score(clean)
show("  values scoring beyond 6", int(np.sum(np.abs(scores) > 6)))

print("\nTransforms and flags")
flags = q.iqr_outliers_np(clean, 3.0)
show("iqr_outliers_np k=3: flagged", int(flags.sum()))
show("zscore_outliers_np 4: flagged", int(q.zscore_outliers_np(clean, 4.0).sum()))
daily = q.diff_np(clean, 24)
show("diff_np over 24 h, mean change", q.mean_skipna_np(daily))
show("ewma_np alpha=0.05, last value", float(q.ewma_np(clean, 0.05)[-1]))
bins = q.quantile_bins_np(clean, 4)
show("quantile_bins_np 4: bin sizes", tuple(int(c) for c in np.bincount(bins)))
grid, density = q.kde_gaussian_np(clean, 64)
show("kde_gaussian_np: mode of the density", float(grid[np.argmax(density)]))

print("\nRolling windows")
day_means = q.rolling_mean_np(clean, 24)
show("rolling_mean_np 24 h: first, last", (float(day_means[0]), float(day_means[-1])))
med = q.rolling_median(series, 25)
show("rolling_median 25 h: windows, NaN windows", (len(med), int(np.isnan(med).sum())))
lo, hi = q.rolling_min(clean, 168), q.rolling_max(clean, 168)
show("weekly range (rolling_max - rolling_min), median", q.median_np(hi - lo))
mean24, std24, count24 = q.rolling_multi_np(series, 24, min_periods=12, nan_policy="ignore",
                                           stats=["mean", "std", "count"])
show("rolling_multi_np: windows, fewest values used", (len(mean24), float(np.min(count24))))

print("\nMatrix statistics")
days = clean[: 24 * 360].reshape(360, 24)
cov = q.cov_matrix_np(days)
corr = q.corr_matrix_np(days)
show("cov_matrix_np of hours-of-day: shape", cov.shape)
show("corr between 06:00 and 18:00", float(corr[6, 18]))
show("is_symmetric_np(corr, 1e-12)", q.is_symmetric_np(corr, 1e-12))
show("trace_np(cov) (total variance)", q.trace_np(cov))
