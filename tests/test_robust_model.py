"""The robust location/scale model: RobustStats, robust_fit and robust_score."""
import inspect
import math

import numpy as np
import pytest
import scipy.stats

import quarnel_ext as q

nan, inf = math.nan, math.inf
MADC = 1.482602218505602
LOCATIONS = ["median", "trimmed_mean", "huber"]
SCALES = ["mad", "iqr", "qn"]
PARAMS = '(location="median", scale="mad", c=1.345, trim=0.1, max_iter=50, tol=1e-6, mad_consistent=True)'


def arr(*values):
    return np.array(values, dtype=float)


def same(a, b):
    return a == b or (math.isnan(a) and math.isnan(b))


def scale_oracle(x, scale, mad_consistent=True):
    if scale == "mad":
        return scipy.stats.median_abs_deviation(x, scale="normal" if mad_consistent else 1.0)
    if scale == "iqr":
        return scipy.stats.iqr(x)
    return q.qn_scale_np(x)  # checked against the direct definition in test_descriptive


def location_oracle(x, location, scale, c=1.345, trim=0.1, max_iter=50, tol=1e-6, mad_consistent=True):
    if location == "median":
        return np.median(x)
    if location == "trimmed_mean":
        return scipy.stats.trim_mean(x, trim)
    norms = pytest.importorskip("statsmodels.robust.norms")
    s = scale_oracle(x, scale, mad_consistent)
    return norms.estimate_location(x, s, norm=norms.HuberT(t=c), maxiter=max_iter, tol=tol)


# ---------------------------------------------------------------- the class itself


def test_class_identity_signature_and_docs():
    R = q.RobustStats
    assert q.__all__.index("RobustStats") == q.__all__.index("iqr_skipna_np") + 1
    assert R.__module__ == "quarnel" and R.__name__ == "RobustStats" and R.__qualname__ == "RobustStats"
    assert R.__text_signature__ == PARAMS
    assert str(inspect.signature(R)) == PARAMS.replace('"', "'").replace("1e-6", "1e-06")
    assert R.__doc__.startswith("Robust statistics estimator with configurable policies - OPTIMIZED\n")
    for name in ("location", "scale", "c", "trim", "max_iter", "tol", "mad_consistent"):
        assert f"\n{name} : " in R.__doc__
    assert R.fit.__doc__.startswith("Fit robust location and scale - OPTIMIZED\n")
    assert R.score.__doc__.startswith("Compute robust z-scores - OPTIMIZED\n")
    for m in (R.fit, R.score):
        assert m.__doc__.endswith("Zero string operations - uses pre-built enum config.")
        assert m.__text_signature__ == "($self, x)"
    assert str(inspect.signature(R().fit)) == "(x)"
    assert q.robust_fit.__text_signature__ == "(x, " + PARAMS[1:]
    assert q.robust_score.__text_signature__ == "(x, " + PARAMS[1:]
    assert q.robust_fit.__doc__ == "Compute robust location and scale - OPTIMIZED"
    assert q.robust_score.__doc__ == "Compute robust z-scores - OPTIMIZED"


def test_instances_are_immutable_and_attribute_free():
    r = q.RobustStats()
    with pytest.raises(AttributeError):
        r.location = "huber"
    assert not hasattr(r, "__dict__")
    with pytest.raises(TypeError):
        q.RobustStats.fit = None


@pytest.mark.parametrize(
    "kwargs, text",
    [
        ({}, "RobustStats(location='median', scale='mad', c=1.345, trim=0.100, mad_consistent=true)"),
        ({"c": 2, "trim": 0.25, "mad_consistent": False},
         "RobustStats(location='median', scale='mad', c=2.000, trim=0.250, mad_consistent=false)"),
        ({"location": "huber", "scale": "qn", "c": nan, "trim": -inf, "max_iter": 0, "tol": 5.0},
         "RobustStats(location='huber', scale='qn', c=NaN, trim=-inf, mad_consistent=true)"),
        ({"c": 0.0005, "trim": 1.2345, "location": "trimmed_mean", "scale": "iqr"},
         # correctly rounded from the exact doubles: 0.0005 lies slightly above the tie, 1.2345 below
         "RobustStats(location='trimmed_mean', scale='iqr', c=0.001, trim=1.234, mad_consistent=true)"),
        ({"c": -0.0, "trim": 1e20}, "RobustStats(location='median', scale='mad', c=-0.000, "
                                     "trim=100000000000000000000.000, mad_consistent=true)"),
        ({"c": inf}, "RobustStats(location='median', scale='mad', c=inf, trim=0.100, mad_consistent=true)"),
    ],
)
def test_repr(kwargs, text):
    assert repr(q.RobustStats(**kwargs)) == text


@pytest.mark.parametrize(
    "kwargs, message",
    [
        ({"location": "Median"}, "Invalid location: Median. Must be 'median', 'trimmed_mean', or 'huber'"),
        ({"location": ""}, "Invalid location: . Must be 'median', 'trimmed_mean', or 'huber'"),
        ({"location": "huber", "scale": "std"}, "Invalid scale: std. Must be 'mad', 'iqr', or 'qn'"),
        ({"location": "median", "scale": "std"}, "Invalid scale: std. Must be 'mad', 'iqr', or 'qn'"),
        ({"location": "bad", "scale": "std"}, "Invalid location: bad. Must be 'median', 'trimmed_mean', or 'huber'"),
        ({"scale": "MAD"}, "Invalid scale: MAD. Must be 'mad', 'iqr', or 'qn'"),
        # the name is quoted whole: an embedded NUL and non-ASCII text survive
        ({"location": "med\0ian"}, "Invalid location: med\0ian. Must be 'median', 'trimmed_mean', or 'huber'"),
        ({"scale": "m\u00e4d\0x"}, "Invalid scale: m\u00e4d\0x. Must be 'mad', 'iqr', or 'qn'"),
    ],
)
def test_invalid_names(kwargs, message):
    with pytest.raises(ValueError) as e:
        q.RobustStats(**kwargs)
    assert str(e.value) == message
    x = np.arange(5.0)
    for f in (q.robust_fit, q.robust_score):
        with pytest.raises(ValueError) as e:
            f(x, **kwargs)
        assert str(e.value) == message
        # Contiguity is checked before the names are parsed.
        with pytest.raises(TypeError, match="^The given array is not contiguous$"):
            f(np.arange(10.0)[::2], **kwargs)


def test_argument_matching_and_conversion():
    R = q.RobustStats
    with pytest.raises(TypeError, match=r"^RobustStats\(\) takes from 0 to 7 positional arguments but 8 were given$"):
        R("median", "mad", 1.0, 0.1, 5, 1e-6, True, 1)
    with pytest.raises(TypeError, match=r"^RobustStats\(\) got an unexpected keyword argument 'x'$"):
        R(x=1)
    with pytest.raises(TypeError, match=r"^RobustStats\(\) got multiple values for argument 'location'$"):
        R("median", location="huber")
    # Conversion comes before parsing: a bad scale type wins over a bad location name.
    with pytest.raises(TypeError, match=r"^argument 'scale': "):
        R(location="nope", scale=1)
    with pytest.raises(TypeError, match=r"^argument 'mad_consistent': "):
        R(mad_consistent=1)
    with pytest.raises(OverflowError):
        R(max_iter=-1)
    assert repr(R("huber", "iqr", 2, 0.2, 3, 0.1, np.False_)).endswith("mad_consistent=false)")
    r = R()
    with pytest.raises(TypeError, match=r"^fit\(\) missing 1 required positional argument: 'x'$"):
        r.fit()
    with pytest.raises(TypeError, match=r"^score\(\) takes 1 positional arguments but 2 were given$"):
        r.score(np.ones(3), 1)
    with pytest.raises(TypeError, match=r"^argument 'x': 'list' object cannot be converted to"):
        r.fit([1.0, 2.0])
    with pytest.raises(TypeError, match="^The given array is not contiguous$"):
        r.score(np.arange(10.0)[::2])
    assert r.fit(x=arr(1, 2, 3)) == r.fit(arr(1, 2, 3))
    with pytest.raises(TypeError, match=r"^robust_fit\(\) missing 1 required positional argument: 'x'$"):
        q.robust_fit()
    with pytest.raises(TypeError, match=r"^argument 'location': "):
        q.robust_fit(np.arange(10.0)[::2], location=None)


# ---------------------------------------------------------------- numbers


@pytest.mark.parametrize("location", LOCATIONS)
@pytest.mark.parametrize("scale", SCALES)
def test_fit_and_score_against_peers(rng, location, scale):
    for n in (3, 10, 257):
        x = np.concatenate([rng.normal(size=n), rng.normal(6, 1, size=n // 4)])
        kw = dict(location=location, scale=scale, c=1.5, trim=0.2, max_iter=100, tol=1e-8, mad_consistent=True)
        loc, sc = q.robust_fit(x, **kw)
        assert loc == pytest.approx(location_oracle(x, **kw), rel=1e-9, abs=1e-12)
        assert sc == pytest.approx(scale_oracle(x, scale), rel=1e-13)
        model = q.RobustStats(**kw)
        assert model.fit(x) == (loc, sc)
        z = q.robust_score(x, **kw)
        assert z.dtype == np.float64 and z.shape == x.shape and z.flags.c_contiguous and z.flags.writeable
        assert np.array_equal(z, (x - loc) / sc)
        assert np.array_equal(model.score(x), z)


def test_median_mad_shares_one_median(rng):
    x = rng.standard_t(2, size=1001)
    assert q.robust_fit(x) == (np.median(x), scipy.stats.median_abs_deviation(x) * MADC)
    assert q.robust_fit(x, mad_consistent=False)[1] == scipy.stats.median_abs_deviation(x)
    assert q.robust_fit(x)[1] == q.mad_std_np(x)


@pytest.mark.parametrize(
    "x, kwargs, expected",
    [
        ((1, 2, 3, 4, 100), {}, (3.0, MADC)),
        ((1, 2, 3, 4, 100), {"mad_consistent": False}, (3.0, 1.0)),
        ((), {}, (nan, nan)),
        ((), {"location": "huber", "scale": "qn"}, (nan, nan)),
        ((1, 2, 3), {"location": "huber"}, (2.0, MADC)),
        ((1, 2, 3, 4, 100), {"location": "huber", "max_iter": 0}, (3.0, MADC)),
        ((5, 5, 5, 9), {"location": "huber"}, (5.0, 0.0)),  # zero scale: the median
        ((1, 2, nan), {"location": "huber"}, (nan, nan)),
        ((1, 2, 3, 4, 100), {"location": "trimmed_mean", "trim": 0.2}, (3.0, MADC)),
        ((1, 2, 3, 4, 100), {"location": "trimmed_mean", "trim": 0.5}, (nan, MADC)),  # unusable trim
        ((1, 2, 3, 4, 100), {"location": "trimmed_mean", "trim": nan}, (nan, MADC)),
        ((7,), {"scale": "iqr"}, (7.0, nan)),
        ((7,), {"scale": "qn"}, (7.0, nan)),
        ((1, 2), {"scale": "qn"}, (1.5, 0.8224)),
        ((1, inf), {}, (inf, nan)),
    ],
)
def test_fit_edge_cases(x, kwargs, expected):
    got = q.robust_fit(arr(*x), **kwargs)
    assert isinstance(got, tuple) and all(same(g, e) for g, e in zip(got, expected))
    assert all(same(g, e) for g, e in zip(q.RobustStats(**kwargs).fit(arr(*x)), expected))


def test_huber_stops_on_zero_weight_and_uses_its_scale_policy():
    x = arr(1, 2, 3, 4, 10, 11)
    # c = 0 gives zero total weight at the first step: the median comes back unchanged.
    assert q.robust_fit(x, location="huber", c=0.0)[0] == np.median(x)
    # The Huber scale follows the scale argument.
    a = q.robust_fit(x, location="huber", scale="iqr", tol=1e-12, max_iter=500)[0]
    b = q.robust_fit(x, location="huber", scale="mad", tol=1e-12, max_iter=500)[0]
    assert a != b
    assert a == pytest.approx(location_oracle(x, "huber", "iqr", tol=1e-12, max_iter=500), rel=1e-12)


@pytest.mark.parametrize(
    "x, kwargs, expected",
    [
        ((), {}, [nan]),
        ((), {"location": "trimmed_mean", "scale": "iqr"}, [nan]),
        ((4, 4, 4), {}, [nan, nan, nan]),  # zero scale
        ((1, inf), {}, [nan, nan]),  # NaN scale
        ((1, 2, 3, 4, 100), {"mad_consistent": False}, [-2, -1, 0, 1, 97]),
    ],
)
def test_score_edge_cases(x, kwargs, expected):
    for z in (q.robust_score(arr(*x), **kwargs), q.RobustStats(**kwargs).score(arr(*x))):
        assert z.dtype == np.float64
        np.testing.assert_array_equal(z, np.array(expected, dtype=float))


def test_inputs_are_not_modified(rng):
    x = rng.normal(size=99)
    before = x.copy()
    for location in LOCATIONS:
        for scale in SCALES:
            q.robust_fit(x, location=location, scale=scale)
            q.RobustStats(location=location, scale=scale).score(x)
    assert np.array_equal(x, before)
