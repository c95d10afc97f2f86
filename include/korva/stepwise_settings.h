#ifndef KORVA_STEPWISE_SETTINGS_H_
#define KORVA_STEPWISE_SETTINGS_H_

// The stepwise classifier's settings as its configuration section carries
// them, and the rule its p-values obey. The module writes and reads these
// attributes; hosts change the settings through them.

namespace Korva {

// The settings of a new classifier.
constexpr double kDefaultPEnter = 0.05;
constexpr double kDefaultPRemove = 0.1;
constexpr int kDefaultMaxIter = 300;

// The settings customary for P300 data (korva demo trains with them).
constexpr double kCustomaryPEnter = 0.10;
constexpr double kCustomaryPRemove = 0.15;

// The grid that korva tune and the Python package's StepwiseLDACV search
// unless told otherwise; the pairs with p-enter >= p-remove are left out.
inline constexpr double kTuningPEnter[] = {0.01, 0.05, 0.1};
inline constexpr double kTuningPRemove[] = {0.05, 0.1, 0.15, 0.2};
inline constexpr int kTuningMaxIter[] = {kDefaultMaxIter};

constexpr const char* kPEnterAttribute = "p_Enter";
constexpr const char* kPRemoveAttribute = "p_Remove";
constexpr const char* kMaxIterAttribute = "MaxIter";

// The classifier section's version of the module's document layout.
constexpr const char* kVersionMajAttribute = "VersionMaj";
constexpr const char* kVersionMinAttribute = "VersionMin";

// A feature enters below pEnter and leaves above pRemove, so
// 0 < pEnter < pRemove <= 1. Written as positive tests so that a NaN, which
// fails every comparison, is refused.
inline bool IsValidPRange(double pEnter, double pRemove) {
  return pRemove > pEnter && pRemove > 0.0 && pEnter > 0.0 && pEnter <= 1.0 &&
         pRemove <= 1.0;
}

// The rule above in words, for messages.
constexpr const char* kPRangeRule =
    "p-enter must be above 0 and below p-remove, p-remove at most 1";

}  // namespace Korva

#endif  // KORVA_STEPWISE_SETTINGS_H_
