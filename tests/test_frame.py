"""The module frame: registration, argument matching and argument conversion."""
import importlib
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import quarnel_ext as q

X = np.arange(5.0)

# The module's 207 names in order; __all__ is this order restricted to what is built.
FULL_ORDER = """mean_np mean_skipna_np mean_nan_np var_np var_skipna_np var_nan_np std_np std_skipna_np std_nan_np zscore_np
zscore_skipna_np skew_np kurtosis_np percentile_np iqr_np iqr_width_np mad_np trimmed_mean_np median_np
iqr_robust_np winsorized_mean_np trimmed_std_np mad_std_np biweight_midvariance_np qn_scale_np
huber_location_np median_skipna_np mad_skipna_np trimmed_mean_skipna_np iqr_skipna_np RobustStats robust_fit
robust_score rolling_median mean_axis_np mean_over_last_axis_dyn_np rolling_mean_np rolling_var_np
rolling_std_np rolling_mean_std_np rolling_zscore_np rolling_mean_std_axis0_np rolling_mean_axis0_np
rolling_std_axis0_np rolling_mean_nan_np rolling_std_nan_np rolling_zscore_nan_np ewma_np rolling_multi_np
rolling_multi_axis0_np iqr_outliers_np zscore_outliers_np minmax_scale_np robust_scale_np winsorize_np
winsorize_clip_np diff_np pct_change_np cumsum_np cummean_np ecdf_np quantile_bins_np sign_mask_np
demean_with_signs_np cov_np corr_np cov_matrix_np cov_matrix_bias_np cov_matrix_centered_np
cov_matrix_skipna_np xtx_matrix_np xxt_matrix_np pairwise_euclidean_cols_np pairwise_cosine_cols_np
corr_matrix_np corr_matrix_skipna_np corr_distance_np diag_np trace_np is_symmetric_np rolling_cov_np
rolling_corr_np welford_np cov_nan_np corr_nan_np rolling_cov_nan_np rolling_corr_nan_np cov_skipna
corr_skipna rolling_cov_skipna rolling_corr_skipna rolling_beta_skipna rolling_linreg_skipna kde_gaussian_np
t_test_1samp_np t_test_2samp_np chi2_gof_np chi2_independence_np mean_diff_ci_np cohens_d_2samp_np
hedges_g_2samp_np2 mann_whitney_u_np ks_1samp_np f_test_oneway_np levene_test_np jarque_bera_np
anderson_darling_np pearson_corr_test_np spearman_corr_test_np f_test_var_np bartlett_test_np t_test_paired_np
p_adjust_np proportion_ztest_np two_proportions_ztest_np corr_ci_np var_ci_np odds_ratio_np rank_biserial_np
cliffs_delta_np anova_effect_sizes_np normality_summary_np bootstrap_mean bootstrap_mean_ci bootstrap_ci
bootstrap_ci_with_draws bootstrap_corr jackknife_mean jackknife_mean_ci bootstrap_se bootstrap_var
bootstrap_t_ci_mean bootstrap_bca_ci bayesian_bootstrap_ci moving_block_bootstrap_mean_ci
circular_block_bootstrap_mean_ci stationary_bootstrap_mean_ci permutation_corr_test permutation_mean_diff_test
influence_mean delete_d_jackknife_mean jackknife_after_bootstrap_se_mean adf_test kpss_test pp_test
variance_ratio_test zivot_andrews_test trend_stationarity_test integration_order_test seasonal_diff_test
seasonal_unit_root_test ljung_box durbin_watson bg_test box_pierce runs_test acf_zero_crossing acf pacf
pacf_yw acovf acf_with_ci ccf pacf_innovations pacf_burg rolling_autocorr rolling_correlation
rolling_autocorr_multi rolling_min rolling_max rolling_range rolling_cv rolling_count_above rolling_pct_above
periodogram welch_psd cumulative_periodogram dominant_frequency spectral_entropy bartlett_psd spectral_peaks
spectral_flatness band_power spectral_centroid spectral_rolloff norm_pdf norm_logpdf norm_cdf norm_sf
norm_logsf norm_cumhazard norm_ppf exp_pdf exp_logpdf exp_cdf exp_sf exp_logsf exp_cumhazard exp_ppf unif_pdf
unif_logpdf unif_cdf unif_sf unif_logsf unif_cumhazard unif_ppf pad_nan_np""".split()


def test_all_follows_the_module_order():
    built = list(q.__all__)
    assert built == [n for n in FULL_ORDER if n in built]
    assert built[:30] == FULL_ORDER[:30] and built[30] == "RobustStats"
    for name in built:
        assert getattr(q, name) is not None


def test_module_and_function_objects():
    assert q.__doc__ == ""
    f = q.mean_np
    assert f.__name__ == "mean_np" and f.__module__ == "quarnel_ext" and f.__self__ is q
    assert f.__text_signature__ == "(a)" and f.__doc__ is None
    assert q.diff_np.__text_signature__ == "(a, periods=1)"
    assert q.huber_location_np.__text_signature__ == "(a, k=None, max_iter=None)"
    assert q.kde_gaussian_np.__doc__  # the one documented function of its family


def test_reinitialisation_returns_the_same_module():
    saved = sys.modules.pop("quarnel_ext")
    try:
        again = importlib.import_module("quarnel_ext")
        assert again is saved
    finally:
        sys.modules["quarnel_ext"] = saved


def test_second_interpreter_is_refused():
    pytest.importorskip("_xxsubinterpreters", reason="this interpreter has no sub-interpreter module")
    code = textwrap.dedent("""
        import quarnel_ext, _xxsubinterpreters as interp
        sub = interp.create()
        try:
            interp.run_string(sub, "import quarnel_ext")
        except Exception as e:
            print(type(e).__name__, e)
    """)
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout
    assert "ImportError" in out and "sub-interpreters" in out


@pytest.mark.parametrize("call, message", [
    (lambda: q.mean_np(), "mean_np() missing 1 required positional argument: 'a'"),
    (lambda: q.percentile_np(), "percentile_np() missing 2 required positional arguments: 'a' and 'q'"),
    (lambda: q.rolling_cov_np(), "rolling_cov_np() missing 3 required positional arguments: 'x', 'y', and 'window'"),
    (lambda: q.rolling_cov_np(X), "rolling_cov_np() missing 2 required positional arguments: 'y' and 'window'"),
    (lambda: q.mean_np(X, 1), "mean_np() takes 1 positional arguments but 2 were given"),
    (lambda: q.diff_np(X, 1, 2), "diff_np() takes from 1 to 2 positional arguments but 3 were given"),
    (lambda: q.pad_nan_np(1, 2, 3), "pad_nan_np() takes 1 positional arguments but 3 were given"),
    (lambda: q.mean_np(X, a=X), "mean_np() got multiple values for argument 'a'"),
    (lambda: q.mean_np(b=X), "mean_np() got an unexpected keyword argument 'b'"),
    (lambda: q.diff_np(X, periods=1, Periods=2), "diff_np() got an unexpected keyword argument 'Periods'"),
    (lambda: q.diff_np(periods=1, a=X, **{"periods2": 1}), "diff_np() got an unexpected keyword argument 'periods2'"),
    # too many positionals are reported before any keyword is looked at
    (lambda: q.mean_np(X, X, b=1), "mean_np() takes 1 positional arguments but 2 were given"),
])
def test_argument_matching_messages(call, message):
    with pytest.raises(TypeError) as e:
        call()
    assert type(e.value) is TypeError and str(e.value) == message


def test_keywords_and_defaults():
    x = np.array([1.0, 4.0, 9.0])
    assert np.array_equal(q.diff_np(periods=-1, a=x), q.diff_np(x, -1), equal_nan=True)
    assert np.array_equal(q.diff_np(x), q.diff_np(x, 1), equal_nan=True)
    # None for an optional parameter is the same as omitting it
    assert q.huber_location_np(x, k=None) == q.huber_location_np(x)
    assert q.huber_location_np(x, None, None) == q.huber_location_np(x)


ARR_LABEL = "float64 1-D array"


@pytest.mark.parametrize("call, exc, message", [
    (lambda: q.mean_np([1.0, 2.0]), TypeError, f"argument 'a': 'list' object cannot be converted to '{ARR_LABEL}'"),
    (lambda: q.mean_np(np.arange(3)), TypeError, f"argument 'a': 'ndarray' object cannot be converted to '{ARR_LABEL}'"),
    (lambda: q.mean_np(np.ones(3, np.float32)), TypeError, f"argument 'a': 'ndarray' object cannot be converted to '{ARR_LABEL}'"),
    (lambda: q.mean_np(np.ones((2, 2))), TypeError, f"argument 'a': 'ndarray' object cannot be converted to '{ARR_LABEL}'"),
    (lambda: q.mean_np(np.float64(1.0)), TypeError, f"argument 'a': 'float64' object cannot be converted to '{ARR_LABEL}'"),
    (lambda: q.mean_np(np.ones(3, ">f8")), TypeError, f"argument 'a': 'ndarray' object cannot be converted to '{ARR_LABEL}'"),
    (lambda: q.mean_np(None), TypeError, f"argument 'a': 'NoneType' object cannot be converted to '{ARR_LABEL}'"),
    (lambda: q.mean_np(np.arange(10.0)[::2]), TypeError, "The given array is not contiguous"),
    # unsigned: negative -> OverflowError without prefix; float -> TypeError with prefix
    (lambda: q.pad_nan_np(-1), OverflowError, "can't convert negative int to unsigned"),
    (lambda: q.pad_nan_np(2 ** 64), OverflowError, None),
    (lambda: q.pad_nan_np(2.0), TypeError, "argument 'n': 'float' object cannot be interpreted as an integer"),
    (lambda: q.pad_nan_np("3"), TypeError, "argument 'n': 'str' object cannot be interpreted as an integer"),
    # signed
    (lambda: q.diff_np(X, 2 ** 63), OverflowError, None),
    (lambda: q.diff_np(X, 1.0), TypeError, "argument 'periods': 'float' object cannot be interpreted as an integer"),
    # float: the interpreter's own message, prefixed
    (lambda: q.percentile_np(X, "50"), TypeError, "argument 'q': must be real number, not str"),
    (lambda: q.percentile_np(X, None), TypeError, "argument 'q': must be real number, not NoneType"),
    # bool: only True, False or a NumPy bool scalar
    (lambda: q.mean_axis_np(np.ones((2, 2)), 0, 1), TypeError, "argument 'skipna': 'int' object cannot be converted to 'bool'"),
    # str
    (lambda: q.robust_fit(X, location=3), TypeError, "argument 'location': 'int' object cannot be converted to 'str'"),
    # extract_mat_f64 is called by the body: no prefix
    (lambda: q.cov_matrix_np([[1.0, 2.0]]), TypeError, "expected a 2D NumPy array of dtype float32 or float64"),
    (lambda: q.cov_matrix_np(np.ones((2, 2), np.int64)), TypeError, "expected a 2D NumPy array of dtype float32 or float64"),
])
def test_conversion_errors(call, exc, message):
    with pytest.raises(exc) as e:
        call()
    assert type(e.value) is exc
    if message is not None:
        assert str(e.value) == message


def test_first_failing_conversion_wins():
    # 'a' is converted before 'q'
    with pytest.raises(TypeError, match="^argument 'a'"):
        q.percentile_np([1.0], "x")


def test_accepted_inputs():
    ro = np.arange(4.0)
    ro.flags.writeable = False
    assert q.mean_np(ro) == 1.5
    assert q.mean_np(np.arange(10.0)[::-1][:1]) == 9.0          # length 1: any stride is contiguous
    assert q.mean_np(np.asfortranarray(np.arange(3.0))) == 1.0
    assert q.mean_np(np.arange(3.0).view(np.ndarray)) == 1.0

    class Sub(np.ndarray):
        pass

    assert q.mean_np(np.arange(3.0).view(Sub)) == 1.0
    assert q.percentile_np(X, np.float32(50)) == 2.0             # objects with __float__
    assert q.percentile_np(X, 50) == 2.0                         # int to float
    assert len(q.pad_nan_np(np.int64(3))) == 3                    # objects with __index__
    assert len(q.pad_nan_np(True)) == 1                           # bool is an int
    assert np.array_equal(q.mean_axis_np(np.ones((2, 2)), 0, np.True_), [1.0, 1.0])


def test_memmap_is_accepted(tmp_path):
    m = np.memmap(tmp_path / "m.bin", dtype=np.float64, mode="w+", shape=(4,))
    m[:] = [1.0, 2.0, 3.0, 4.0]
    assert q.mean_np(m) == 2.5


def test_results_own_fresh_buffers():
    for out in (q.cumsum_np(np.array([], dtype=float)), q.pad_nan_np(3), q.diff_np(X)):
        assert out.dtype == np.float64 and out.flags.c_contiguous and out.flags.writeable
        assert out.flags.owndata or out.base is not None
    assert q.cumsum_np(np.array([], dtype=float)).shape == (0,)


def test_memory_exhaustion_is_memory_error():
    with pytest.raises(MemoryError):
        q.pad_nan_np(2 ** 63)
    with pytest.raises(MemoryError):
        q.pad_nan_np(2 ** 64 - 1)


class Shrinker:
    """An integer argument whose conversion resizes an array converted before it."""

    def __init__(self, arr, value):
        self.arr, self.value = arr, value

    def __index__(self):
        self.arr.resize(2, refcheck=False) if self.arr.ndim == 1 else self.arr.resize((2, 1), refcheck=False)
        return self.value


def test_a_later_conversion_cannot_leave_stale_array_data():
    # The body must see the array as it is after every argument has been converted.
    x = np.arange(100_000.0)
    assert np.array_equal(q.diff_np(x, Shrinker(x, 1)), [np.nan, 1.0], equal_nan=True)
    m = np.ones((50_000, 3))
    assert q.rolling_mean_axis0_np(m, Shrinker(m, 1)).shape == (2, 1)
    v = np.ones((40_000, 2))
    assert q.mean_axis_np(v, Shrinker(v, 0)).shape == (1,)
