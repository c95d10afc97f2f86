#ifndef KORVA_TESTING_DOZOD_PROBE_H_
#define KORVA_TESTING_DOZOD_PROBE_H_

// For tests that link the module's static library (dozod_static).

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "plugin/dozod.h"

namespace Korva::Testing {

// A DOZOD whose protected state tests can set and read.
class DozodProbe : public DOZOD {
 public:
  double Bias() const { return W0; }
  void SetBias(double w0) { W0 = w0; }
  void SetScalar(bool scalar) { Scalar = scalar; }
  void SetInversionMode(int mode) {
    InversionMode = static_cast<Korva::CovarianceInversionMode>(mode);
  }
  // A training result: one flag and one weight per feature (the two lists
  // may differ in length), and the bias.
  void SetResult(const std::vector<bool>& flags,
                 const std::vector<double>& weights,
                 double w0 = 0.0) {
    SelectedFeatures.Reset(flags.size());
    for (std::size_t i = 0; i < flags.size(); ++i)
      SelectedFeatures[i] = flags[i];
    Weights.ReSize(static_cast<int>(weights.size()));
    for (std::size_t j = 0; j < weights.size(); ++j)
      Weights.element(static_cast<int>(j)) = weights[j];
    W0 = w0;
  }
  std::vector<bool> Flags() const {
    return std::vector<bool>(
        SelectedFeatures.Data(),
        SelectedFeatures.Data() + SelectedFeatures.Count());
  }
  std::vector<double> WeightList() const {
    return std::vector<double>(Weights.Store(),
                               Weights.Store() + Weights.Nrows());
  }
  // The indices of the selected features.
  std::vector<int> Selection() const {
    std::vector<int> selected;
    for (std::uint64_t i = 0; i < SelectedFeatures.Count(); ++i)
      if (SelectedFeatures[i]) selected.push_back(static_cast<int>(i));
    return selected;
  }
};

// p flags with the features in `model` set (flags cannot be copied).
inline std::unique_ptr<FeatureFlags> Flags(int p,
                                           const std::vector<int>& model) {
  auto in = std::make_unique<FeatureFlags>();
  in->Reset(p);
  for (int i : model) (*in)[i] = true;
  return in;
}

}  // namespace Korva::Testing

#endif  // KORVA_TESTING_DOZOD_PROBE_H_
