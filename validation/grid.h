#ifndef KORVA_VALIDATION_GRID_H_
#define KORVA_VALIDATION_GRID_H_

// The settings a tuning chooses among: every p-enter with every p-remove and
// max-iter, without the pairs the module would refuse.

#include <string>
#include <vector>

#include "korva/hostkit/settings.h"
#include "validation/error.h"

namespace Korva::Validation {

// The lists of a grid and its settings, in the order max-iter, p-enter,
// p-remove (the last changing fastest), without the pairs whose p-enter is
// not below their p-remove.
struct Grid {
  std::vector<double> pEnter, pRemove;
  std::vector<int> maxIter;
  std::vector<HostKit::SettingsChange> settings;
  int skipped = 0;  // pairs of p-enter and p-remove left out
};

// The grid of the lists given. Error(kScheme), naming the list by `names`,
// for an empty list, a p-value not above 0 or above 1, a negative max-iter,
// a value given twice, or lists that leave no pair.
Grid MakeGrid(std::vector<double> pEnter,
              std::vector<double> pRemove,
              std::vector<int> maxIter,
              const InputNames& names = {});

// "p-enter 0.05, p-remove 0.1, max-iter 300"; the module's defaults for
// what the setting leaves unset.
std::string SettingText(const HostKit::SettingsChange& setting);

// "0.01, 0.05, 0.1": values as messages list them (six significant digits).
std::string ListText(const std::vector<double>& values);
std::string ListText(const std::vector<int>& values);

}  // namespace Korva::Validation

#endif  // KORVA_VALIDATION_GRID_H_
