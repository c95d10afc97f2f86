#include "validation/grid.h"

#include <algorithm>
#include <cstdio>

#include "korva/stepwise_settings.h"

namespace Korva::Validation {
namespace {

// Six significant digits, as the classifier writes numbers.
std::string General(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), "%g", value);
  return buffer;
}

template <typename T>
std::string Join(const std::vector<T>& values) {
  std::string text;
  for (T value : values)
    text += (text.empty() ? "" : ", ") + General(static_cast<double>(value));
  return text;
}

template <typename T>
void RefuseEmpty(const std::string& name, const std::vector<T>& values) {
  if (values.empty()) throw Error(ErrorKind::kScheme, name + " lists no value");
}

template <typename T>
void RefuseRepeated(const std::string& name, const std::vector<T>& values) {
  for (size_t i = 0; i < values.size(); ++i)
    if (std::find(values.begin() + i + 1, values.end(), values[i]) !=
        values.end())
      throw Error(ErrorKind::kScheme,
                  name + " lists " + General(static_cast<double>(values[i])) +
                      " twice");
}

void RefuseOutOfRange(const std::string& name,
                      const std::vector<double>& values) {
  for (double p : values)
    if (!(p > 0.0 && p <= 1.0))
      throw Error(ErrorKind::kScheme,
                  name + " " + General(p) +
                      " is refused: a p-value of the grid must be above 0 "
                      "and at most 1" +
                      (p > 1.0 && p <= 100.0
                           ? " (p-values are fractions here; the dialog "
                             "shows them in percent)"
                           : ""));
}

void RefuseNegative(const std::string& name, const std::vector<int>& values) {
  for (int n : values)
    if (n < 0)
      throw Error(ErrorKind::kScheme,
                  name + " " + std::to_string(n) +
                      " is refused: max-iter is 0 or more");
}

}  // namespace

std::string ListText(const std::vector<double>& values) { return Join(values); }

std::string ListText(const std::vector<int>& values) { return Join(values); }

Grid MakeGrid(std::vector<double> pEnter,
              std::vector<double> pRemove,
              std::vector<int> maxIter,
              const InputNames& names) {
  Grid grid{std::move(pEnter), std::move(pRemove), std::move(maxIter), {}, 0};
  RefuseEmpty(names.pEnter, grid.pEnter);
  RefuseEmpty(names.pRemove, grid.pRemove);
  RefuseEmpty(names.maxIter, grid.maxIter);
  RefuseOutOfRange(names.pEnter, grid.pEnter);
  RefuseOutOfRange(names.pRemove, grid.pRemove);
  RefuseNegative(names.maxIter, grid.maxIter);
  RefuseRepeated(names.pEnter, grid.pEnter);
  RefuseRepeated(names.pRemove, grid.pRemove);
  RefuseRepeated(names.maxIter, grid.maxIter);
  for (int maxIter : grid.maxIter)
    for (double pEnter : grid.pEnter)
      for (double pRemove : grid.pRemove) {
        if (!IsValidPRange(pEnter, pRemove)) {
          ++grid.skipped;
          continue;
        }
        HostKit::SettingsChange setting;
        setting.pEnter = pEnter;
        setting.pRemove = pRemove;
        setting.maxIter = maxIter;
        grid.settings.push_back(setting);
      }
  grid.skipped /= static_cast<int>(grid.maxIter.size());
  if (grid.settings.empty())
    throw Error(ErrorKind::kScheme,
                "the grid holds no setting: in every pair of " + names.pEnter +
                    " " + Join(grid.pEnter) + " and " + names.pRemove + " " +
                    Join(grid.pRemove) + " p-enter is not below p-remove");
  return grid;
}

std::string SettingText(const HostKit::SettingsChange& setting) {
  return "p-enter " + General(setting.pEnter.value_or(kDefaultPEnter)) +
         ", p-remove " + General(setting.pRemove.value_or(kDefaultPRemove)) +
         ", max-iter " +
         std::to_string(setting.maxIter.value_or(kDefaultMaxIter));
}

}  // namespace Korva::Validation
