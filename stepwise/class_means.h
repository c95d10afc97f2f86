#ifndef KORVA_STEPWISE_CLASS_MEANS_H_
#define KORVA_STEPWISE_CLASS_MEANS_H_

// The mean row of each class of a training's rows, as GetFeaturesMean forms
// it from GetMatrixByLabel's rows: each class's rows summed in their order,
// element by element, each sum then divided by the count. Rows labelled
// neither +1 nor -1 belong to no class.

#include <newmat/newmat.h>

#include <vector>

#include "stepwise/cross_product.h"

namespace Korva {

struct ClassMeans {
  NEWMAT::RowVector positive;
  NEWMAT::RowVector negative;
};

// The first p columns' class means over `rows`.
ClassMeans MeansOf(const TrainingRows& rows, int p);

// For each block b of a partition (`block[r]` is row r's block, 0 ..
// blocks - 1, or -1 for a row in no block), the class means over every row
// of `rows` outside b, in their order: MeansOf each such subset, to the last
// bit, from one pass over the rows.
std::vector<ClassMeans> MeansLeavingOut(const TrainingRows& rows,
                                        int p,
                                        const int* block,
                                        int blocks);

}  // namespace Korva

#endif  // KORVA_STEPWISE_CLASS_MEANS_H_
