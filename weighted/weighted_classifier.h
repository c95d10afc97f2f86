#ifndef KORVA_WEIGHTED_WEIGHTED_CLASSIFIER_H_
#define KORVA_WEIGHTED_WEIGHTED_CLASSIFIER_H_

#include <newmat/newmat.h>

#include <cstdint>
#include <sstream>

#include "korva/classifier_base.h"
#include "korva/export.h"

namespace Korva {

// How ComputeInverse inverts a matrix. A fixed 32-bit type, so that any
// stored value (one that selects no method, too) is a valid enumerator.
enum CovarianceInversionMode : std::int32_t {
  NormalMode = 0,          // the general inverse
  SVDMode = 1,             // Moore-Penrose pseudo-inverse from the SVD
  RegularInverseMode = 2,  // left pseudo-inverse (AᵀA)⁻¹Aᵀ
};

// A linear classifier: a weight per feature column and a bias. Scores are
// wᵀx + W0 (Scalar, higher is better) or sqrt(|x - w|² + W0) (distance, lower
// is better). Concrete classifiers set the weights when they train.
class KORVA_MODULE_API WeightedClassifier : public ClassifierBase {
 public:
  // name, description: passed unchanged to ClassifierBase.
  WeightedClassifier(const char* name, const char* description);
  ~WeightedClassifier() override;

  // Appends "Scalar " in the scalar form, after the host's text.
  void GetShortInfo(std::ostringstream& os) const override;
  // Writes every weight on its own line, then W0 with no line end. Reports
  // nothing and returns 0 even when the file cannot be written.
  int SaveToFile(const char* fileName) override;
  // True when Weights holds at least one element.
  bool CanClassify() const override;
  // Appends the inversion mode, W0 and every weight, after the host's text.
  void GetTrainingInfo(std::ostringstream& os) const override;
  // DoGetScore(x), or -1.0 when x's length differs from the weights'.
  double GetScore(const NEWMAT::RowVector& x) override;
  // Best first: descending scores (scalar form) or ascending distances.
  int SortScoresFirstBest(ScoreList& scores) override;

  // The weight vector itself, one entry per feature column.
  virtual const NEWMAT::ColumnVector& GetWeights() const;
  // The score of x, which must hold at least as many elements as Weights.
  virtual double DoGetScore(const NEWMAT::RowVector& x);
  // out = an inverse of `in` by InversionMode; returns out. NEWMAT's exception
  // passes on when `in` cannot be inverted, with out as it was. An unknown
  // mode leaves out as is.
  virtual NEWMAT::Matrix& ComputeInverse(const NEWMAT::Matrix& in,
                                         NEWMAT::Matrix& out);

 protected:
  CovarianceInversionMode InversionMode = NormalMode;
  bool Scalar = true;
  NEWMAT::ColumnVector Weights;
  double W0 = 0.0;
};

}  // namespace Korva

#endif  // KORVA_WEIGHTED_WEIGHTED_CLASSIFIER_H_
