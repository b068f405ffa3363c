"""Core descriptive statistics and robust estimators."""
import math

import numpy as np
import pytest
import scipy.stats

import quarnel_ext as q

nan, inf = math.nan, math.inf


def arr(*values):
    return np.array(values, dtype=float)


def same(a, b):
    """Equal as floats, NaN equal to NaN."""
    return a == b or (math.isnan(a) and math.isnan(b))


def seq_sum(a):
    # numpy's cumsum adds in index order, one accumulator: the reference for our sums.
    return np.cumsum(a)[-1] if len(a) else 0.0


# Every function of the family with the extra arguments a call needs.
CALLS = {
    "mean_np": (), "mean_skipna_np": (), "mean_nan_np": (), "var_np": (), "var_skipna_np": (),
    "var_nan_np": (), "std_np": (), "std_skipna_np": (), "std_nan_np": (), "skew_np": (),
    "kurtosis_np": (), "welford_np": (), "median_np": (), "median_skipna_np": (), "mad_np": (),
    "mad_skipna_np": (), "mad_std_np": (), "iqr_np": (), "iqr_skipna_np": (), "iqr_width_np": (),
    "percentile_np": (50.0,), "trimmed_mean_np": (0.1,), "trimmed_mean_skipna_np": (0.1,),
    "trimmed_std_np": (0.1,), "winsorized_mean_np": (10.0, 90.0), "iqr_robust_np": (),
    "qn_scale_np": (), "biweight_midvariance_np": (), "huber_location_np": (),
}

SIGNATURES = {
    "percentile_np": "(a, q)",
    "trimmed_mean_np": "(a, proportion_to_cut)",
    "trimmed_mean_skipna_np": "(a, proportion_to_cut)",
    "trimmed_std_np": "(a, proportion_to_cut)",
    "winsorized_mean_np": "(a, lower_percentile, upper_percentile)",
    "biweight_midvariance_np": "(a, c=None)",
    "huber_location_np": "(a, k=None, max_iter=None)",
}


@pytest.mark.parametrize("name", sorted(CALLS))
def test_signature_and_empty_doc(name):
    f = getattr(q, name)
    assert f.__text_signature__ == SIGNATURES.get(name, "(a)")
    assert f.__doc__ is None
    assert f.__module__ == "quarnel_ext"


@pytest.mark.parametrize("name", sorted(CALLS))
def test_rejects_non_contiguous_and_wrong_arrays(name):
    f, extra = getattr(q, name), CALLS[name]
    with pytest.raises(TypeError, match="^The given array is not contiguous$"):
        f(np.arange(10.0)[::2], *extra)
    with pytest.raises(TypeError, match=r"^argument 'a': 'list' object cannot be converted to"):
        f([1.0, 2.0], *extra)
    with pytest.raises(TypeError, match=r"^argument 'a': 'ndarray' object cannot be converted to"):
        f(np.arange(3), *extra)
    # A length-1 view with a negative stride is contiguous; a read-only array is fine.
    f(np.arange(10.0)[::-1][:1], *extra)
    ro = np.arange(5.0)
    ro.flags.writeable = False
    f(ro, *extra)


@pytest.mark.parametrize("name", sorted(CALLS))
def test_input_is_never_modified(name, rng):
    a = rng.normal(size=101)
    a[[3, 50]] = [inf, -inf]
    before = a.copy()
    getattr(q, name)(a, *CALLS[name])
    assert np.array_equal(a, before)


PROPAGATING = sorted(set(CALLS) - {
    "mean_skipna_np", "mean_nan_np", "var_skipna_np", "var_nan_np", "std_skipna_np", "std_nan_np",
    "welford_np", "median_skipna_np", "mad_skipna_np", "iqr_skipna_np", "trimmed_mean_skipna_np",
})


@pytest.mark.parametrize("n", [6, 65, 3000])
def test_a_nan_anywhere_propagates_and_skipping_twins_ignore_it(rng, n):
    a = rng.normal(size=n)
    a[rng.integers(n)] = nan
    for name in PROPAGATING:
        got = getattr(q, name)(a, *CALLS[name])
        assert all(math.isnan(v) for v in (got if isinstance(got, tuple) else (got,))), name
    kept = a[~np.isnan(a)]
    for name, twin in [("median_skipna_np", "median_np"), ("mad_skipna_np", "mad_np"),
                       ("iqr_skipna_np", "iqr_robust_np"), ("mean_skipna_np", "mean_np"),
                       ("trimmed_mean_skipna_np", "trimmed_mean_np")]:
        assert getattr(q, name)(a, *CALLS[name]) == getattr(q, twin)(kept, *CALLS[twin]), name


# ---------------------------------------------------------------- moments


@pytest.mark.parametrize("n", [1, 2, 7, 8, 9, 1000, 4097])
def test_moments_match_the_in_order_definition_bit_for_bit(rng, n):
    a = rng.normal(3.0, 2.0, size=n) * rng.choice([1.0, 1e6], size=n)
    m = seq_sum(a) / n
    assert q.mean_np(a) == m
    if n >= 2:
        var = seq_sum((a - m) * (a - m)) / (n - 1)
        assert q.var_np(a) == var
        assert q.std_np(a) == math.sqrt(var)
        assert q.var_np(a) == pytest.approx(np.var(a, ddof=1), rel=1e-12)
    if n >= 4:
        d = a - m
        v = seq_sum(d * d) / n
        assert q.skew_np(a) == (seq_sum(d * (d * d)) / n) / v ** 1.5
        assert q.kurtosis_np(a) == (seq_sum((d * d) * (d * d)) / n) / (v * v) - 3.0
        assert q.skew_np(a) == pytest.approx(scipy.stats.skew(a, bias=True), rel=1e-10)
        assert q.kurtosis_np(a) == pytest.approx(scipy.stats.kurtosis(a, fisher=True, bias=True), rel=1e-10)


def test_skipping_moments_against_numpy(rng):
    a = rng.normal(size=500)
    a[rng.random(500) < 0.2] = nan
    kept = a[~np.isnan(a)]
    for name in ("mean_skipna_np", "mean_nan_np"):
        assert getattr(q, name)(a) == seq_sum(kept) / len(kept)
    for name in ("var_skipna_np", "var_nan_np"):
        assert getattr(q, name)(a) == q.var_np(kept)
        assert getattr(q, name)(a) == pytest.approx(np.nanvar(a, ddof=1), rel=1e-12)
    for name in ("std_skipna_np", "std_nan_np"):
        assert getattr(q, name)(a) == q.std_np(kept)
    mean, var, count = q.welford_np(a)
    assert type(count) is int and count == len(kept)
    assert mean == pytest.approx(np.nanmean(a), rel=1e-13)
    assert var == pytest.approx(np.nanvar(a, ddof=1), rel=1e-12)


@pytest.mark.parametrize(
    "name, values, expected",
    [
        ("mean_np", (), nan),
        ("mean_np", (1.0, nan), nan),
        ("var_np", (5.0,), nan),
        ("std_np", (5.0,), nan),
        ("var_np", (1.0, 2.0, 3.0, 4.0), 1.6666666666666667),
        ("var_np", (1.0, inf), nan),
        ("skew_np", (1.0, 2.0), nan),
        ("skew_np", (5.0, 5.0, 5.0, 5.0), nan),
        ("skew_np", (1.0, 2.0, inf), nan),
        ("kurtosis_np", (1.0, 2.0, 3.0), nan),
        ("kurtosis_np", (5.0, 5.0, 5.0, 5.0), nan),
        ("kurtosis_np", (1.0, 2.0, 3.0, nan), nan),
        ("mean_skipna_np", (1.0, nan, 3.0), 2.0),
        ("mean_skipna_np", (nan, nan), nan),
        ("mean_skipna_np", (1.0, inf), inf),
        ("mean_nan_np", (), nan),
        ("var_skipna_np", (nan, 2.0), nan),
        ("var_skipna_np", (1.0, nan, 3.0), 2.0),
        ("var_skipna_np", (1.0, inf), nan),
        ("std_nan_np", (1.0, nan, 3.0), math.sqrt(2.0)),
    ],
)
def test_moment_edge_cases(name, values, expected):
    assert same(getattr(q, name)(arr(*values)), expected)


def test_skew_and_kurtosis_use_population_moments():
    a = arr(1, 2, 3, 10)
    assert q.skew_np(a) == pytest.approx(scipy.stats.skew(a, bias=True), rel=1e-14)
    assert q.kurtosis_np(a) == pytest.approx(scipy.stats.kurtosis(a, bias=True), rel=1e-14)
    assert q.kurtosis_np(arr(1, 2, 3, 4)) == pytest.approx(-1.36)


@pytest.mark.parametrize(
    "values, expected",
    [
        ((), (nan, nan, 0)),
        ((nan,), (nan, nan, 0)),
        ((nan, 2.0), (2.0, nan, 1)),
        ((-0.0,), (-0.0, nan, 1)),
        ((1.0, 2.0, 3.0, 4.0), (2.5, 1.6666666666666667, 4)),
        ((1.0, inf), (inf, nan, 2)),
    ],
)
def test_welford_edge_cases(values, expected):
    got = q.welford_np(arr(*values))
    assert all(same(g, e) for g, e in zip(got, expected)) and type(got[2]) is int
    assert math.copysign(1.0, got[0]) == math.copysign(1.0, expected[0])


# ---------------------------------------------------------------- order statistics


@pytest.mark.parametrize("n", [1, 2, 3, 8, 9, 64, 65, 1001, 20000])
def test_order_statistics_against_numpy_and_scipy(rng, n):
    a = rng.standard_t(3, size=n)
    if n > 8:
        a[: n // 3] = np.round(a[: n // 3])  # ties
        rng.shuffle(a)
    assert q.median_np(a) == np.median(a)
    assert q.mad_np(a) == scipy.stats.median_abs_deviation(a, scale=1.0)
    assert q.mad_std_np(a) == q.mad_np(a) * 1.482602218505602
    assert q.mad_std_np(a) == pytest.approx(scipy.stats.median_abs_deviation(a, scale="normal"), rel=1e-15)
    q1, q3 = np.percentile(a, [25, 75])
    got = q.iqr_np(a)
    np.testing.assert_allclose(got, (q1, q3, q3 - q1), rtol=1e-14, atol=1e-15)
    assert q.iqr_width_np(a) == got[2]
    if n >= 2:
        assert q.iqr_robust_np(a) == got[2]
        assert q.iqr_robust_np(a) == pytest.approx(scipy.stats.iqr(a), rel=1e-13, abs=1e-15)
    for p in (0.0, 0.1, 12.5, 50.0, 73.3, 99.9, 100.0):
        assert q.percentile_np(a, p) == pytest.approx(np.percentile(a, p), rel=1e-14, abs=1e-15)
    assert q.percentile_np(a, 0) == a.min() and q.percentile_np(a, 100) == a.max()
    # Selection must find exactly the values a full sort puts at the interpolation ranks.
    s = np.sort(a)
    for p in (0.1, 25.0, 50.0, 75.0, 99.9):
        assert q.percentile_np(a, p) == sorted_interpolation(s, p / 100.0)
    assert got[:2] == (sorted_interpolation(s, 0.25), sorted_interpolation(s, 0.75))


def sorted_interpolation(s, f):
    pos = (len(s) - 1) * f
    lo, hi = math.floor(pos), math.ceil(pos)
    frac = pos - lo
    return float(s[lo]) if lo == hi else frac * float(s[hi]) + (1.0 - frac) * float(s[lo])


@pytest.mark.parametrize("n", [10, 70, 301])
def test_skipping_order_statistics_drop_infinities(rng, n):
    a = rng.normal(size=n)
    a[rng.random(n) < 0.1] = nan
    a[rng.random(n) < 0.1] = inf
    a[rng.random(n) < 0.05] = -inf
    fin = a[np.isfinite(a)]
    assert q.median_skipna_np(a) == np.median(fin)
    assert q.mad_skipna_np(a) == scipy.stats.median_abs_deviation(fin, scale=1.0)
    assert q.iqr_skipna_np(a) == q.iqr_robust_np(fin)
    assert q.iqr_skipna_np(a) == pytest.approx(scipy.stats.iqr(fin), rel=1e-13)


@pytest.mark.parametrize(
    "name, values, expected",
    [
        ("median_np", (3, 1, 2, 4), 2.5),
        ("median_np", (1, nan, 2), nan),
        ("median_np", (), nan),
        ("median_np", (-inf, inf), nan),
        ("median_np", (1, inf, inf), inf),
        ("median_skipna_np", (1, nan, inf, 3), 2.0),
        ("median_skipna_np", (nan, inf, -inf), nan),
        ("mad_np", (1, 2, 3, 4, 100), 1.0),
        ("mad_np", (), nan),
        ("mad_np", (1, 2, nan), nan),
        ("mad_std_np", (1, 2, 3, 4, 100), 1.482602218505602),
        ("mad_std_np", (), nan),
        ("mad_skipna_np", (1, 2, 3, 4, 100, nan, inf), 1.0),
        ("mad_skipna_np", (nan,), nan),
        ("iqr_width_np", (1, nan), nan),
        ("iqr_width_np", (7,), 0.0),
        ("iqr_skipna_np", (7,), nan),
        ("iqr_skipna_np", (7, inf, nan), nan),
        ("iqr_skipna_np", (1, 2, 3, 4, inf), 1.5),
        ("iqr_robust_np", (7,), nan),
        ("iqr_robust_np", (1, 2, nan), nan),
        ("iqr_robust_np", (1, 2, 3, 4), 1.5),
    ],
)
def test_order_edge_cases(name, values, expected):
    assert same(getattr(q, name)(arr(*values)), expected)


@pytest.mark.parametrize(
    "values, expected",
    [((1, 2, 3, 4), (1.75, 3.25, 1.5)), ((7,), (7.0, 7.0, 0.0)), ((), (nan,) * 3), ((1, nan), (nan,) * 3)],
)
def test_iqr_np_triples(values, expected):
    assert all(same(g, e) for g, e in zip(q.iqr_np(arr(*values)), expected))


def test_median_orders_signed_zeros_and_infinities_totally():
    # -0.0 sorts before +0.0: the lower middle of (-0.0, +0.0) is -0.0, the upper +0.0.
    assert math.copysign(1, q.median_np(arr(0.0, -0.0, -0.0))) == -1
    assert q.median_np(arr(-inf, 1, 2, inf)) == 1.5
    assert q.percentile_np(arr(-inf, 0, 1, inf), 100) == inf


def test_percentile_range_check_comes_before_contiguity():
    a = np.arange(10.0)
    msg = r"^q must be in the range \[0, 100\] \(numpy.percentile semantics\)$"
    for bad in (101, -0.5, nan, inf):
        with pytest.raises(ValueError, match=msg):
            q.percentile_np(a[::2], bad)
    assert math.isnan(q.percentile_np(arr(), 50))
    assert math.isnan(q.percentile_np(arr(1, nan), 50))
    assert q.percentile_np(arr(4), 37) == 4.0
    assert q.percentile_np(a, True) == 0.09  # the float adapter takes a bool
    with pytest.raises(TypeError, match="^argument 'q': "):
        q.percentile_np(a, "50")


def test_matching_messages():
    with pytest.raises(TypeError, match=r"^percentile_np\(\) missing 2 required positional arguments: 'a' and 'q'$"):
        q.percentile_np()
    with pytest.raises(TypeError, match=r"^median_np\(\) takes 1 positional arguments but 2 were given$"):
        q.median_np(arr(1), 2)
    with pytest.raises(TypeError, match=r"^huber_location_np\(\) takes from 1 to 3 positional arguments but 4"):
        q.huber_location_np(arr(1), 1, 2, 3)


# ---------------------------------------------------------------- trimmed and winsorised


@pytest.mark.parametrize("p", [0.0, 0.05, 0.1, 0.25, 0.4999])
@pytest.mark.parametrize("n", [1, 2, 5, 10, 101, 1000, 5000])
def test_trimmed_statistics(rng, n, p):
    a = rng.standard_cauchy(size=n)
    s = np.sort(a)
    c = int(math.floor(p * n))
    kept = s[c: n - c]
    assert q.trimmed_mean_np(a, p) == seq_sum(kept) / len(kept)  # summed in ascending order
    assert q.trimmed_mean_np(a, p) == pytest.approx(scipy.stats.trim_mean(a, p), rel=1e-10, abs=1e-12)
    got = q.trimmed_std_np(a, p)
    if len(kept) < 2:
        assert math.isnan(got)
    else:
        m = seq_sum(kept) / len(kept)
        assert got == math.sqrt(seq_sum((kept - m) * (kept - m)) / (len(kept) - 1))
        assert got == pytest.approx(np.std(scipy.stats.trimboth(a, p), ddof=1), rel=1e-10)
    b = a.copy()
    b[rng.random(n) < 0.3] = nan
    b[rng.random(n) < 0.1] = inf
    fin = b[np.isfinite(b)]
    assert same(q.trimmed_mean_skipna_np(b, p), q.trimmed_mean_np(fin, p))


@pytest.mark.parametrize("name", ["trimmed_mean_np", "trimmed_mean_skipna_np"])
def test_trimmed_mean_proportion_errors_come_before_contiguity(name):
    f = getattr(q, name)
    for bad in (0.5, -0.1, nan, inf, -inf, 0.7):
        with pytest.raises(ValueError, match=r"^proportion_to_cut must be in the range \[0, 0.5\)$"):
            f(np.arange(10.0)[::2], bad)
    assert f(arr(1, 2, 3), -0.0) == 2.0


@pytest.mark.parametrize(
    "name, values, args, expected",
    [
        ("trimmed_mean_np", (1, 2, 3, 4, 100), (0.2,), 3.0),
        ("trimmed_mean_np", (), (0.1,), nan),
        ("trimmed_mean_np", (1, nan, 3), (0.0,), nan),
        ("trimmed_mean_np", (-inf, 1, 2, inf), (0.25,), 1.5),
        ("trimmed_mean_skipna_np", (1, nan, inf, 3), (0.0,), 2.0),
        ("trimmed_mean_skipna_np", (nan, inf), (0.0,), nan),
        ("trimmed_std_np", (1, 2, 3, 4, 100), (0.7,), nan),
        ("trimmed_std_np", (1, 2, 3, 4, 100), (nan,), nan),
        ("trimmed_std_np", (1, 2, 3, 4, 100), (-0.1,), nan),
        ("trimmed_std_np", (1, 2, 3), (0.4,), nan),
        ("trimmed_std_np", (1, 2, 3, 4, 100), (0.2,), 1.0),
        ("winsorized_mean_np", (1, 2, 3, 4, 100), (50, 50), nan),
        ("winsorized_mean_np", (1, 2, 3, 4, 100), (60, 40), nan),
        ("winsorized_mean_np", (1, 2, 3, 4, 100), (nan, 90), nan),
        ("winsorized_mean_np", (1, 2, 3, 4, 100), (0, nan), nan),
        ("winsorized_mean_np", (), (10, 90), nan),
        ("winsorized_mean_np", (1, nan, 3), (10, 90), nan),
        ("winsorized_mean_np", (5,), (10, 90), 5.0),
        ("winsorized_mean_np", (1, 2, 3, 4, 100), (0, 100), 22.0),
    ],
)
def test_trim_and_winsor_edge_cases(name, values, args, expected):
    assert same(getattr(q, name)(arr(*values), *args), expected)


@pytest.mark.parametrize("n", [7, 3000, 70000])
def test_sorted_sums_follow_the_total_order(rng, n):
    # Mixed signs, wide exponents, signed zeros and infinities of both signs.
    a = rng.normal(size=n) * 10.0 ** rng.integers(-300, 300, size=n)
    a[rng.random(n) < 0.1] = 0.0
    a[rng.random(n) < 0.1] = -0.0
    assert q.winsorized_mean_np(a, 0, 100) == seq_sum(np.sort(a)) / n
    assert q.trimmed_mean_np(a, 0.0) == seq_sum(np.sort(a)) / n
    if n % 10 == 0:
        # The infinities sort to the two ends: cutting 10% of n drops them and one value
        # fewer per end than 10% of n - 2 does, leaving the same kept values.
        a[:2] = [inf, -inf]
        assert q.trimmed_mean_np(a, 0.1) == q.trimmed_mean_np(a[2:], 0.1)


def test_winsorized_mean_against_clipped_mean(rng):
    a = rng.standard_cauchy(size=777)
    for lo, hi in [(0, 100), (10, 90), (2.5, 97.5), (0, 50), (33.3, 33.4)]:
        lim = np.percentile(a, [lo, hi])
        assert q.winsorized_mean_np(a, lo, hi) == pytest.approx(np.mean(np.clip(a, *lim)), rel=1e-12, abs=1e-12)
    a = arr(1, 2, 3, 4, 100)
    L, U = 1 + 0.4 * (2 - 1), 0.6 * 100 + 0.4 * 4
    assert q.winsorized_mean_np(a, 10, 90) == pytest.approx((L + 2 + 3 + 4 + U) / 5, rel=1e-15)


def test_winsorized_percentiles_outside_0_100_are_clamped(rng):
    a = rng.normal(size=50)
    assert q.winsorized_mean_np(a, 10, 150) == q.winsorized_mean_np(a, 10, 100)
    assert q.winsorized_mean_np(a, 10, inf) == q.winsorized_mean_np(a, 10, 100)
    assert q.winsorized_mean_np(a, -20, 90) == q.winsorized_mean_np(a, 0, 90)
    assert q.winsorized_mean_np(a, -inf, 90) == q.winsorized_mean_np(a, 0, 90)
    # Both bounds above 100 clip everything to the maximum.
    assert q.winsorized_mean_np(a, 150, 200) == seq_sum(np.full(50, a.max())) / 50


# ---------------------------------------------------------------- Qn


def qn_quadratic(x):
    """The direct definition: every pairwise |difference|, rank floor(m/4) (NaN sorts last)."""
    n = len(x)
    with np.errstate(invalid="ignore", over="ignore"):
        d = np.abs(x[:, None] - x[None, :])[np.triu_indices(n, 1)]
        if n == 2:
            return d[0] * 0.8224
        return np.sort(d)[len(d) // 4] * 2.2219


def qn_samples(rng, count, max_n):
    for t in range(count):
        n = int(rng.integers(3, max_n))
        kind = t % 5
        if kind == 0:
            x = rng.normal(size=n)
        elif kind == 1:
            x = rng.integers(-3, 4, size=n).astype(float)  # heavy ties
        elif kind == 2:
            x = rng.choice([-inf, inf, 0.0, -0.0, 1.0, 2.5, 1e308, -1e308], size=n)
        elif kind == 3:
            x = rng.normal(size=n)
            x[rng.random(n) < 0.3] = inf
            x[rng.random(n) < 0.2] = -inf
        else:
            x = np.round(rng.standard_cauchy(size=n), 1) * 10.0 ** rng.integers(-300, 300)
        yield x


def test_qn_equals_the_quadratic_definition(rng):
    for x in qn_samples(rng, 3000, 70):
        assert same(q.qn_scale_np(x), qn_quadratic(x)), x


@pytest.mark.parametrize("n", [500, 2500])
def test_qn_equals_the_quadratic_definition_on_larger_samples(rng, n):
    for x in (rng.normal(size=n), rng.integers(0, 40, size=n).astype(float), np.repeat(rng.normal(size=n // 7), 7)):
        assert q.qn_scale_np(x) == qn_quadratic(x)


@pytest.mark.parametrize(
    "values, expected",
    [
        ((), nan),
        ((1,), nan),
        ((1, 2), 0.8224),
        ((inf, inf), nan),
        ((1, inf), inf),
        ((1, 2, 4), 2.2219),
        ((1, 2, nan, 4), nan),
        ((5, 5, 5, 5), 0.0),
        ((inf, inf, inf, 1), inf),  # 3 NaN pairs sort above the 3 infinite ones; rank 1
        ((inf, inf, inf, inf, 1), inf),  # 4 infinite pairs below 6 NaN ones; rank 2
        ((-inf, -inf, -inf, -inf), nan),
    ],
)
def test_qn_edge_cases(values, expected):
    assert same(q.qn_scale_np(arr(*values)), expected)


# ---------------------------------------------------------------- biweight and Huber


def test_biweight_midvariance_against_astropy(rng):
    astropy_stats = pytest.importorskip("astropy.stats")
    for n in (2, 3, 10, 501):
        a = rng.standard_t(2, size=n)
        for c in (9.0, 6.0, 3.5):
            want = astropy_stats.biweight_midvariance(a, c=c, M=np.median(a), modify_sample_size=False)
            assert q.biweight_midvariance_np(a, c) == pytest.approx(want, rel=1e-12)
        assert q.biweight_midvariance_np(a) == q.biweight_midvariance_np(a, 9.0)
        assert q.biweight_midvariance_np(a, None) == q.biweight_midvariance_np(a, 9.0)


@pytest.mark.parametrize(
    "values, args, expected",
    [
        ((1, 1, 1, 2), (), nan),  # MAD = 0
        ((5,), (), nan),
        ((1, 2, nan), (), nan),
        ((1, 2, 3, 4), (0.0,), nan),  # no value inside the window: zero denominator
    ],
)
def test_biweight_edge_cases(values, args, expected):
    got = q.biweight_midvariance_np(arr(*values), *args)
    assert same(got, expected) or got == pytest.approx(expected, rel=1e-3)


def test_biweight_counts_infinities_in_n_but_not_in_the_sums():
    # Infinities sit outside the window (|u| >= 1) yet n is the full element count.
    a = arr(1, 2, 3, 4, 6, 9, 13)
    with_inf = np.concatenate([a, [inf, -inf]])
    med, mad = 4.0, 3.0  # of with_inf: sorted deviations 0 1 2 2 3 5 9 inf inf
    u = (a - med) / (9.0 * mad)
    w = 1 - u * u
    num, den = np.sum(w ** 4 * (a - med) ** 2), np.sum(w * (1 - 5 * u * u))
    assert q.biweight_midvariance_np(with_inf) == pytest.approx(9 * num / den ** 2, rel=1e-14)


def test_huber_location_against_statsmodels(rng):
    sm_norms = pytest.importorskip("statsmodels.robust.norms")
    for n in (5, 50, 1001):
        a = np.concatenate([rng.normal(size=n), rng.normal(8, 1, size=n // 5)])
        for k in (1.345, 0.8, 2.5):
            s = 1.4826 * scipy.stats.median_abs_deviation(a)
            want = sm_norms.estimate_location(a, s, norm=sm_norms.HuberT(t=k), maxiter=200, tol=1e-6)
            assert q.huber_location_np(a, k, 200) == pytest.approx(want, rel=1e-9, abs=1e-9)


@pytest.mark.parametrize(
    "values, kwargs, expected",
    [
        ((1, 2, 3, 4, 100), {"max_iter": 0}, 3.0),
        ((5, 5, 5), {}, 5.0),
        ((), {}, nan),
        ((1, nan, 3), {}, nan),
        ((1, 1, 1, 7), {}, 1.0),  # MAD = 0: the median
    ],
)
def test_huber_edge_cases(values, kwargs, expected):
    assert same(q.huber_location_np(arr(*values), **kwargs), expected)


def test_huber_defaults_and_iteration_limit(rng):
    a = np.concatenate([rng.normal(size=40), [30.0, 45.0]])
    assert q.huber_location_np(a, k=None) == q.huber_location_np(a) == q.huber_location_np(a, 1.345, 30)
    assert q.huber_location_np(a, max_iter=None) == q.huber_location_np(a)
    one = q.huber_location_np(a, max_iter=1)
    assert np.median(a) != one and abs(one - q.huber_location_np(a)) < abs(np.median(a) - q.huber_location_np(a))
    with pytest.raises(OverflowError):
        q.huber_location_np(a, max_iter=-1)
    with pytest.raises(TypeError, match="^argument 'max_iter': "):
        q.huber_location_np(a, max_iter=2.0)
    # k = 0 gives zero total weight and a NaN step; the iteration just runs out.
    assert math.isnan(q.huber_location_np(arr(1, 2, 4, 8), 0.0))
