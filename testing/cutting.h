#ifndef KORVA_TESTING_CUTTING_H_
#define KORVA_TESTING_CUTTING_H_

// A row of the tables that cut recordings with chosen windows, baselines,
// references, bands and rejection limits (the offline and the online cut).

#include <optional>

#include "epoching/recipe.h"

namespace Korva::Testing {

struct Cutting {
  const char* name;
  double start, end;
  int bins;
  std::optional<Epoching::Interval> baseline;
  Epoching::Reference reference;
  std::optional<Epoching::Band> band;
  std::optional<double> reject;
};

// `r` with the cutting's window, bins, baseline, reference, band and limit.
inline void ApplyCutting(const Cutting& c, Epoching::Recipe& r) {
  r.windowStartMs = c.start;
  r.windowEndMs = c.end;
  r.bins = c.bins;
  r.baseline = c.baseline;
  r.reference = c.reference;
  r.band = c.band;
  r.rejectMicrovolts = c.reject;
}

}  // namespace Korva::Testing

#endif  // KORVA_TESTING_CUTTING_H_
