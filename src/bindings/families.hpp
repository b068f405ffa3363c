// The family tables the registry draws on; one binding file defines each.
#pragma once

#include "module/function.hpp"

namespace quarnel::bindings {

extern const py::FamilyTable kDescriptive;   // descriptive.cpp: moments, medians, MAD, IQR, percentile
extern const py::FamilyTable kRobust;        // robust.cpp: trimmed, winsorised, Qn, biweight, Huber
extern const py::FamilyTable kTransforms;    // transforms.cpp: transforms, outlier flags, KDE, axis means
extern const py::FamilyTable kRobustModel;   // robust_model.cpp: robust_fit, robust_score
extern const py::ClassDef kRobustStatsClass; // robust_model.cpp: the RobustStats class
extern const py::FamilyTable kMatrix;        // matrix.cpp: covariance, correlation, Gram, distances
extern const py::FamilyTable kRollingBasic;  // rolling_basic.cpp: running mean/std engine, _nan_np, axis 0
extern const py::FamilyTable kRollingMulti;  // rolling_multi.cpp: the fused multi-statistic engine
extern const py::FamilyTable kRollingPairs;  // rolling_pairs.cpp: rolling cov/corr/beta/linreg, autocorrelation
extern const py::FamilyTable kRollingOrder;  // rolling_order.cpp: min/max/range, cv, counts, median

}  // namespace quarnel::bindings
