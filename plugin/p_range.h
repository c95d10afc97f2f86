#ifndef KORVA_PLUGIN_P_RANGE_H_
#define KORVA_PLUGIN_P_RANGE_H_

// The p-value thresholds that stepwise selection accepts: a feature enters
// below pEnter and leaves above pRemove, so 0 < pEnter < pRemove <= 1. Written
// as positive tests so that a NaN, which fails every comparison, is refused.
// Hosts use it to check user input before they configure a classifier.
inline bool IsValidPRange(double pEnter, double pRemove) {
  return pRemove > pEnter && pRemove > 0.0 && pEnter > 0.0 && pEnter <= 1.0 &&
         pRemove <= 1.0;
}

#endif  // KORVA_PLUGIN_P_RANGE_H_
