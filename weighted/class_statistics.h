#ifndef KORVA_WEIGHTED_CLASS_STATISTICS_H_
#define KORVA_WEIGHTED_CLASS_STATISTICS_H_

#include <newmat/newmat.h>

#include "korva/export.h"

// Per-class statistics of a training set held as one row per example and one
// column per feature. Exported under their own names for hosts and other
// modules; nothing here keeps state or writes anything but its output.

// out = the rows i of data whose labels[i] equals label exactly, in row order
// (k rows by data's columns). Scans min(labels rows, data rows) entries, so a
// label column longer than the data never reads past it. Returns k.
KORVA_MODULE_API int GetMatrixByLabel(NEWMAT::Matrix& out,
                                      const NEWMAT::Matrix& data,
                                      const NEWMAT::ColumnVector& labels,
                                      double label);

// mean = the column means of data (1 by data's columns; all zeros when data
// has no rows). Returns the number of rows of data.
KORVA_MODULE_API int GetFeaturesMean(NEWMAT::RowVector& mean,
                                     const NEWMAT::Matrix& data);

// cov = the sample covariance of data's columns (m by m, divided by n - 1; a
// single row gives NaN everywhere). Returns m.
KORVA_MODULE_API int GetCovariance(NEWMAT::Matrix& cov,
                                   const NEWMAT::Matrix& data);

// The sample variance of v's elements (divided by n - 1), or -1.0 when v has
// fewer than two elements.
KORVA_MODULE_API double GetVariance(const NEWMAT::RowVector& v);
KORVA_MODULE_API double GetVariance(const NEWMAT::ColumnVector& v);

#endif  // KORVA_WEIGHTED_CLASS_STATISTICS_H_
