// The module's one ordered list of public names (also the order of __all__), and the
// family tables that supply them. A name whose family has not declared it yet is skipped,
// so __all__ is always this order restricted to what exists.
#include "module/registry.hpp"

#include <array>
#include <string_view>

#include "bindings/families.hpp"

namespace quarnel::py {

namespace {

constexpr std::array<std::string_view, 207> kModuleOrder = {
    "mean_np", "mean_skipna_np", "mean_nan_np", "var_np", "var_skipna_np", "var_nan_np", "std_np",
    "std_skipna_np", "std_nan_np", "zscore_np", "zscore_skipna_np", "skew_np", "kurtosis_np",
    "percentile_np", "iqr_np", "iqr_width_np", "mad_np", "trimmed_mean_np", "median_np", "iqr_robust_np",
    "winsorized_mean_np", "trimmed_std_np", "mad_std_np", "biweight_midvariance_np", "qn_scale_np",
    "huber_location_np", "median_skipna_np", "mad_skipna_np", "trimmed_mean_skipna_np", "iqr_skipna_np",
    "RobustStats", "robust_fit", "robust_score", "rolling_median", "mean_axis_np",
    "mean_over_last_axis_dyn_np", "rolling_mean_np", "rolling_var_np", "rolling_std_np",
    "rolling_mean_std_np", "rolling_zscore_np", "rolling_mean_std_axis0_np", "rolling_mean_axis0_np",
    "rolling_std_axis0_np", "rolling_mean_nan_np", "rolling_std_nan_np", "rolling_zscore_nan_np", "ewma_np",
    "rolling_multi_np", "rolling_multi_axis0_np", "iqr_outliers_np", "zscore_outliers_np", "minmax_scale_np",
    "robust_scale_np", "winsorize_np", "winsorize_clip_np", "diff_np", "pct_change_np", "cumsum_np",
    "cummean_np", "ecdf_np", "quantile_bins_np", "sign_mask_np", "demean_with_signs_np", "cov_np", "corr_np",
    "cov_matrix_np", "cov_matrix_bias_np", "cov_matrix_centered_np", "cov_matrix_skipna_np", "xtx_matrix_np",
    "xxt_matrix_np", "pairwise_euclidean_cols_np", "pairwise_cosine_cols_np", "corr_matrix_np",
    "corr_matrix_skipna_np", "corr_distance_np", "diag_np", "trace_np", "is_symmetric_np", "rolling_cov_np",
    "rolling_corr_np", "welford_np", "cov_nan_np", "corr_nan_np", "rolling_cov_nan_np", "rolling_corr_nan_np",
    "cov_skipna", "corr_skipna", "rolling_cov_skipna", "rolling_corr_skipna", "rolling_beta_skipna",
    "rolling_linreg_skipna", "kde_gaussian_np", "t_test_1samp_np", "t_test_2samp_np", "chi2_gof_np",
    "chi2_independence_np", "mean_diff_ci_np", "cohens_d_2samp_np", "hedges_g_2samp_np2", "mann_whitney_u_np",
    "ks_1samp_np", "f_test_oneway_np", "levene_test_np", "jarque_bera_np", "anderson_darling_np",
    "pearson_corr_test_np", "spearman_corr_test_np", "f_test_var_np", "bartlett_test_np", "t_test_paired_np",
    "p_adjust_np", "proportion_ztest_np", "two_proportions_ztest_np", "corr_ci_np", "var_ci_np",
    "odds_ratio_np", "rank_biserial_np", "cliffs_delta_np", "anova_effect_sizes_np", "normality_summary_np",
    "bootstrap_mean", "bootstrap_mean_ci", "bootstrap_ci", "bootstrap_ci_with_draws", "bootstrap_corr",
    "jackknife_mean", "jackknife_mean_ci", "bootstrap_se", "bootstrap_var", "bootstrap_t_ci_mean",
    "bootstrap_bca_ci", "bayesian_bootstrap_ci", "moving_block_bootstrap_mean_ci",
    "circular_block_bootstrap_mean_ci", "stationary_bootstrap_mean_ci", "permutation_corr_test",
    "permutation_mean_diff_test", "influence_mean", "delete_d_jackknife_mean",
    "jackknife_after_bootstrap_se_mean", "adf_test", "kpss_test", "pp_test", "variance_ratio_test",
    "zivot_andrews_test", "trend_stationarity_test", "integration_order_test", "seasonal_diff_test",
    "seasonal_unit_root_test", "ljung_box", "durbin_watson", "bg_test", "box_pierce", "runs_test",
    "acf_zero_crossing", "acf", "pacf", "pacf_yw", "acovf", "acf_with_ci", "ccf", "pacf_innovations",
    "pacf_burg", "rolling_autocorr", "rolling_correlation", "rolling_autocorr_multi", "rolling_min",
    "rolling_max", "rolling_range", "rolling_cv", "rolling_count_above", "rolling_pct_above", "periodogram",
    "welch_psd", "cumulative_periodogram", "dominant_frequency", "spectral_entropy", "bartlett_psd",
    "spectral_peaks", "spectral_flatness", "band_power", "spectral_centroid", "spectral_rolloff", "norm_pdf",
    "norm_logpdf", "norm_cdf", "norm_sf", "norm_logsf", "norm_cumhazard", "norm_ppf", "exp_pdf", "exp_logpdf",
    "exp_cdf", "exp_sf", "exp_logsf", "exp_cumhazard", "exp_ppf", "unif_pdf", "unif_logpdf", "unif_cdf",
    "unif_sf", "unif_logsf", "unif_cumhazard", "unif_ppf", "pad_nan_np",
};

const FamilyTable kFamilies[] = {
    bindings::kDescriptive, bindings::kRobust,        bindings::kTransforms,    bindings::kRobustModel,
    bindings::kMatrix,      bindings::kRollingBasic,  bindings::kRollingMulti,  bindings::kRollingPairs,
    bindings::kRollingOrder,
};

const ClassDef* const kClasses[] = {&bindings::kRobustStatsClass};

std::string_view name_of(const FunctionDef& f) {
    std::string_view sig(f.signature);
    return sig.substr(0, sig.find('('));
}

}  // namespace

std::vector<Registered> registration_order() {
    std::vector<Registered> out;
    for (std::string_view name : kModuleOrder) {
        const FunctionDef* found = nullptr;
        for (const FamilyTable& family : kFamilies)
            for (const FunctionDef& f : family)
                if (name_of(f) == name) found = &f;
        if (found) { out.push_back({found, nullptr}); continue; }
        for (const ClassDef* c : kClasses)
            if (c->make_type && name == c->name) out.push_back({nullptr, c});
    }
    return out;
}

}  // namespace quarnel::py
