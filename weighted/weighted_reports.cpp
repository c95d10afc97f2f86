#include <fstream>
#include <ostream>

#include "weighted/weighted_classifier.h"

// Reports write onto the host's stream in whatever format state it has; a
// line end is std::endl (newline, then flush).

namespace Korva {

void WeightedClassifier::GetShortInfo(std::ostringstream& os) const {
  ClassifierBase::GetShortInfo(os);
  if (Scalar) os << "Scalar ";
}

void WeightedClassifier::GetTrainingInfo(std::ostringstream& os) const {
  ClassifierBase::GetTrainingInfo(os);
  os << "Covariance Matrix Inversion Mode: ";
  switch (InversionMode) {
    case NormalMode:
      os << "Normal Mode" << std::endl;
      break;
    case SVDMode:
      os << "SVD Mode" << std::endl;
      break;
    case RegularInverseMode:
      os << "Regular Inverse Mode" << std::endl;
      break;
  }
  os << "W0: " << W0 << std::endl;
  os << "Weights:";
  for (int i = 0; i < Weights.Nrows(); ++i)
    os << "\t   " << Weights.element(i) << std::endl;
  os << std::endl;
}

int WeightedClassifier::SaveToFile(const char* fileName) {
  if (fileName == nullptr) return 0;
  std::ofstream file(fileName);
  if (!file) return 0;
  for (int i = 0; i < Weights.Nrows(); ++i)
    file << Weights.element(i) << std::endl;
  file << W0;
  return 0;
}

}  // namespace Korva
