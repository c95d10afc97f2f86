#ifndef KORVA_HOSTKIT_EXACT_WEIGHTS_H_
#define KORVA_HOSTKIT_EXACT_WEIGHTS_H_

// The weights a linear classifier scores with, in full precision, where its
// document keeps six significant digits: asked through its scores.

#include <vector>

#include "korva/classifier_base.h"

namespace Korva::HostKit {

// The classifier's score of a row of `features` zeros: its bias W0.
double ScoreOfZeros(ClassifierBase& classifier, int features);

// The selected features' weights as `classifier` scores with them, one
// score per selected feature; `saved` (the six-digit weights of its info
// section) for the others and wherever the scores are not those of a linear
// classifier.
std::vector<double> ExactWeights(ClassifierBase& classifier,
                                 const std::vector<bool>& selected,
                                 const std::vector<double>& saved);

}  // namespace Korva::HostKit

#endif  // KORVA_HOSTKIT_EXACT_WEIGHTS_H_
